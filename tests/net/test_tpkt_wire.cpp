// The controller link's TPKT frames against tshark: what our layers write
// must be what tshark dissects, what tshark accepts must come through our
// receive path whole, and what tshark rejects must close our link.
#include "net/control.h"
#include "net/tpkt.h"

#include "net_util.h"
#include "pcap_tcp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nettest;

namespace {

// tshark hands TCP port 102 to its full RFC 1006 dissector. Naming another
// port with "-d tcp.port==N,tpkt" picks the heuristic one instead, which
// cannot gather a header split over segments, so the captures use 102.
enum { tpkt_port = 102 };
// Bounds one tshark run; a hung child fails the test instead of hanging it.
enum { tshark_limit_s = 120 };

std::string find_program(char const* name)
{
    char const* env = std::getenv("PATH");
    std::string dirs = std::string(env ? env : "") + ":/usr/bin:/usr/sbin";
    size_t from = 0;
    while (from <= dirs.size()) {
        size_t to = dirs.find(':', from);
        if (to == std::string::npos)
            to = dirs.size();
        std::string path = dirs.substr(from, to - from) + "/" + name;
        if (to > from && ::access(path.c_str(), X_OK) == 0)
            return path;
        from = to + 1;
    }
    return std::string();
}

std::string slurp(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// tshark as a child with a private home in a temporary directory, so it
// reads and writes no configuration of the machine's.
class Tshark
{
public:
    Tshark() : mProgram(find_program("tshark"))
    {
        char dir[] = "/tmp/tpkt-wire-XXXXXX";
        if (::mkdtemp(dir))
            mDir = dir;
    }
    ~Tshark()
    {
        std::error_code ec;
        if (!mDir.empty())
            std::filesystem::remove_all(mDir, ec);
    }

    bool installed() const { return !mProgram.empty(); }
    std::string const& dir() const { return mDir; }

    // What tshark printed, or false with the reason.
    bool run(std::vector<std::string> const& args, std::string* out, std::string* why)
    {
        if (mDir.empty()) {
            *why = "no temporary directory";
            return false;
        }
        std::string out_path = mDir + "/out.txt", err_path = mDir + "/err.txt";
        std::vector<std::string> env = {"HOME=" + mDir, "XDG_CONFIG_HOME=" + mDir + "/config",
                                        "TMPDIR=" + mDir, "PATH=/usr/bin:/bin", "LC_ALL=C"};
        std::vector<char*> argv, envp;
        argv.push_back(const_cast<char*>(mProgram.c_str()));
        for (std::string const& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (std::string const& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        int rc = ::posix_spawn(&pid, mProgram.c_str(), &fa, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) {
            *why = "cannot start tshark: " + std::string(std::strerror(rc));
            return false;
        }

        auto start = std::chrono::steady_clock::now();
        int status = 0;
        for (;;) {
            pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid)
                break;
            if (r < 0 && errno != EINTR) {
                *why = "lost the tshark child: " + std::string(std::strerror(errno));
                return false;
            }
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(tshark_limit_s)) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                *why = "tshark did not finish in time";
                return false;
            }
            ::usleep(10000);
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            *why = "tshark failed: " + slurp(err_path);
            return false;
        }
        *out = slurp(out_path);
        return true;
    }

private:
    std::string mProgram;
    std::string mDir;
};

// What tshark makes of one capture, all packets together.
struct TpktView
{
    std::vector<unsigned> versions, lengths;
    Bytes payloads;             // the frames' payloads end to end
    unsigned continuation = 0;  // data where a header should have been
    unsigned malformed = 0;
    unsigned bad_checksums = 0; // of our own capture writer
    unsigned packets = 0;
};

std::vector<std::string> split(std::string const& s, char sep)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
        size_t to = s.find(sep, from);
        out.push_back(s.substr(from, to == std::string::npos ? std::string::npos : to - from));
        if (to == std::string::npos)
            return out;
        from = to + 1;
    }
}

std::vector<std::string> values(std::string const& field)
{
    return field.empty() ? std::vector<std::string>() : split(field, ',');
}

Bytes unhex(std::string const& s)
{
    Bytes b;
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        b.push_back((unsigned char)std::stoul(s.substr(i, 2), nullptr, 16));
    return b;
}

bool dissect(Tshark& ts, PcapTcp const& capture, TpktView* view, std::string* why)
{
    std::string path = ts.dir() + "/wire.pcap";
    if (!capture.save(path)) {
        *why = "cannot write " + path;
        return false;
    }
    std::string out;
    // COTP off: the payload shows as plain data, and a malformed mark can
    // only come from TPKT or below.
    if (!ts.run({"-r", path, "-n", "--disable-protocol", "cotp",
                 "-o", "tcp.desegment_tcp_streams:TRUE", "-o", "tpkt.desegment:TRUE",
                 "-o", "tcp.check_checksum:TRUE", "-o", "ip.check_checksum:TRUE",
                 "-T", "fields", "-E", "separator=/t",
                 "-e", "tpkt.version", "-e", "tpkt.length", "-e", "data.data",
                 "-e", "tpkt.continuation_data", "-e", "_ws.malformed",
                 "-e", "tcp.checksum.status", "-e", "ip.checksum.status"},
                &out, why))
        return false;
    *view = TpktView();
    for (std::string const& line : split(out, '\n')) {
        if (line.empty())
            continue;
        std::vector<std::string> f = split(line, '\t');
        f.resize(7);
        ++view->packets;
        for (std::string const& v : values(f[0]))
            view->versions.push_back(unsigned(std::stoul(v)));
        for (std::string const& v : values(f[1]))
            view->lengths.push_back(unsigned(std::stoul(v)));
        for (std::string const& v : values(f[2])) {
            Bytes b = unhex(v);
            view->payloads.insert(view->payloads.end(), b.begin(), b.end());
        }
        view->continuation += !f[3].empty();
        view->malformed += !f[4].empty();
        view->bad_checksums += f[5] != "1" || f[6] != "1";
    }
    return true;
}

std::string summary(TpktView const& v)
{
    std::ostringstream os;
    os << v.packets << " packets, lengths";
    for (unsigned l : v.lengths)
        os << ' ' << l;
    os << ", versions";
    for (unsigned x : v.versions)
        os << ' ' << x;
    os << ", " << v.payloads.size() << " payload octets, " << v.continuation << " continuation, "
       << v.malformed << " malformed, " << v.bad_checksums << " bad checksums";
    return os.str();
}

// tshark saw exactly these frames, whole, and nothing else.
::testing::AssertionResult sees_frames(Tshark& ts, PcapTcp const& capture,
                                       std::vector<Bytes> const& payloads)
{
    TpktView v;
    std::string why;
    if (!dissect(ts, capture, &v, &why))
        return ::testing::AssertionFailure() << why;
    std::vector<unsigned> lengths;
    Bytes all;
    for (Bytes const& p : payloads) {
        lengths.push_back(unsigned(p.size() + Tpkt_protocol::header_size));
        all.insert(all.end(), p.begin(), p.end());
    }
    if (v.lengths != lengths || v.versions != std::vector<unsigned>(lengths.size(), 3u)
        || v.payloads != all || v.continuation || v.malformed || v.bad_checksums)
        return ::testing::AssertionFailure() << "tshark saw " << summary(v);
    return ::testing::AssertionSuccess();
}

// Offsets where each frame of the stream starts.
std::vector<size_t> frame_starts(std::vector<Bytes> const& payloads)
{
    std::vector<size_t> at;
    size_t off = 0;
    for (Bytes const& p : payloads) {
        at.push_back(off);
        off += p.size() + Tpkt_protocol::header_size;
    }
    return at;
}

Bytes stream_of(std::vector<Bytes> const& payloads)
{
    Bytes s;
    for (Bytes const& p : payloads) {
        Bytes f = frame(p);
        s.insert(s.end(), f.begin(), f.end());
    }
    return s;
}

unsigned short local_port(Fd const& fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof(sa);
    ::getsockname(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

class Recorder : public Control::Notify
{
public:
    void OnConnect(Control::Service&) override { ++connects; }
    void OnDisconnect(Control::Service&) override { ++disconnects; }
    void OnMessage(Control::Service&, Packet& p) override { messages.push_back(bytes(p)); }

    int connects = 0;
    int disconnects = 0;
    std::vector<Bytes> messages;
};

// The daemon's side of the link on a free loopback port, its log kept.
struct Served
{
    Served() : out(std::cout), err(std::cerr), service(rec)
    {
        EXPECT_TRUE(service.Listen(0, htonl(INADDR_LOOPBACK)));
    }
    Capture out, err;
    Recorder rec;
    Control::Service service;
};

// The sizes both directions carry: empty up to the largest a frame holds,
// then a burst of small frames meant to travel together.
std::vector<Bytes> test_payloads()
{
    std::vector<Bytes> p;
    unsigned sizes[] = {0, 1, 64, 1400, 8000, Tpkt_protocol::max_payload, 2, 3, 5, 7, 0, 11};
    for (unsigned i = 0; i < sizeof(sizes) / sizeof(sizes[0]); ++i)
        p.push_back(pattern(sizes[i], i * 7 + 1));
    return p;
}
enum { burst_from = 6 };

} // namespace

TEST(TpktWire, FramesWeSendAreTheFramesTsharkSees)
{
    Tshark ts;
    if (!ts.installed())
        GTEST_SKIP() << "tshark is not installed";
    Served s;
    // Small socket buffers on both ends: most of what is sent waits in the
    // layer's queue, small frames gathered, and leaves on POLLOUT.
    Fd c = connect_local(s.service.port(), 4096);
    ASSERT_TRUE(c);
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 1; }));
    int small = 4096;
    ::setsockopt(s.service.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));

    std::vector<Bytes> sent = test_payloads();
    for (size_t i = 0; i < sent.size(); ++i) {
        Packet p;
        // Every other payload comes without head room and is copied.
        if (i % 2 == 0)
            s.service.prepare_head(p);
        else
            p.reserve_head(0);
        if (!sent[i].empty())
            std::memcpy(p.put(unsigned(sent[i].size())), sent[i].data(), sent[i].size());
        s.service.Send(p);
    }
    // A frame too long for the header is refused, not sent cut short, and
    // the refusal is logged rather than lost.
    Packet over;
    s.service.prepare_head(over);
    std::memset(over.put(Tpkt_protocol::max_payload + 1), 0x5A, Tpkt_protocol::max_payload + 1);
    s.service.Send(over);
    EXPECT_EQ(s.err.lines_with("]: TPKT: payload of 65532 octets does not fit a frame"), 1u)
        << s.err.text();

    // What left the socket, read by read.
    Bytes wire;
    std::vector<size_t> read_ends;
    size_t total = stream_of(sent).size();
    c.NonBlock();
    ASSERT_TRUE(run_until([&] {
        std::vector<unsigned char> buf(65536);
        ssize_t n;
        while ((n = ::recv(c.lowlevel_fd(), buf.data(), buf.size(), 0)) > 0) {
            wire.insert(wire.end(), buf.begin(), buf.begin() + n);
            read_ends.push_back(wire.size());
        }
        return wire.size() >= total;
    }));
    run_for(20);
    unsigned char extra;
    EXPECT_EQ(::recv(c.lowlevel_fd(), &extra, 1, 0), -1) << "more left the socket than was sent";
    ASSERT_EQ(wire.size(), total);
    EXPECT_EQ(s.rec.disconnects, 0);

    // As the socket gave it.
    {
        PcapTcp cap(local_port(c), tpkt_port);
        cap.segments(true, cut(wire, read_ends, PcapTcp::max_segment));
        EXPECT_TRUE(sees_frames(ts, cap, sent)) << "segments as read";
    }
    // Ethernet-sized segments with every header split, some one octet into
    // it and some three; the burst goes whole in one segment.
    {
        std::vector<size_t> cuts;
        std::vector<size_t> starts = frame_starts(sent);
        for (size_t i = 0; i < burst_from; ++i) {
            cuts.push_back(starts[i]);
            cuts.push_back(starts[i] + (i % 2 ? 3 : 1));
        }
        cuts.push_back(starts[burst_from]);
        PcapTcp cap(local_port(c), tpkt_port);
        cap.segments(true, cut(wire, cuts, 1460));
        EXPECT_TRUE(sees_frames(ts, cap, sent)) << "headers split";
    }
}

TEST(TpktWire, FramesTsharkAcceptsArriveWholeThroughOurReceivePath)
{
    Tshark ts;
    if (!ts.installed())
        GTEST_SKIP() << "tshark is not installed";
    std::vector<Bytes> payloads = test_payloads();
    Bytes wire = stream_of(payloads);

    // Headers split two octets in, payloads cut in the middle, the burst
    // in one segment; the same segments go to tshark and to our socket.
    std::vector<size_t> cuts;
    std::vector<size_t> starts = frame_starts(payloads);
    for (size_t i = 0; i < burst_from; ++i) {
        cuts.push_back(starts[i]);
        cuts.push_back(starts[i] + 2);
        cuts.push_back(starts[i] + 4 + payloads[i].size() / 2);
    }
    cuts.push_back(starts[burst_from]);
    std::vector<Bytes> segments = cut(wire, cuts, 1460);
    ASSERT_EQ(segments.back(), Bytes(wire.begin() + starts[burst_from], wire.end()));

    Served s;
    Fd c = connect_local(s.service.port());
    ASSERT_TRUE(c);
    PcapTcp cap(local_port(c), tpkt_port);
    cap.segments(false, segments);
    ASSERT_TRUE(sees_frames(ts, cap, payloads));

    // One segment per pass of the loop, so reads end about where they do.
    size_t next = 0;
    ASSERT_TRUE(run_until([&] {
        if (next < segments.size() && !write_all(c, segments[next++]))
            return true;
        return next == segments.size();
    }));
    ASSERT_EQ(next, segments.size()) << "the daemon stopped reading";
    run_until([&] { return s.rec.messages.size() >= payloads.size(); });
    run_for(20);
    ASSERT_EQ(s.rec.messages.size(), payloads.size());
    for (size_t i = 0; i < payloads.size(); ++i)
        EXPECT_TRUE(s.rec.messages[i] == payloads[i])
            << "frame " << i << " of " << payloads[i].size() << " octets came as "
            << s.rec.messages[i].size() << " octets";
    EXPECT_EQ(s.rec.disconnects, 0);
    EXPECT_TRUE(s.service.IsConnected());
}

TEST(TpktWire, HeadersTsharkRejectsCloseOurLink)
{
    Tshark ts;
    if (!ts.installed())
        GTEST_SKIP() << "tshark is not installed";
    struct Case
    {
        Bytes header;
        char const* reason;
    } cases[] = {
        {{4, 0, 0, 3}, "bad frame version 4"},
        {{3, 0, 0, 3}, "bad frame length 3"},
        {{3, 0, 0, 0}, "bad frame length 0"},
    };
    Served s;
    int n = 0;
    for (Case const& k : cases) {
        ++n;
        // A good frame, the bad header, a good frame: one segment.
        Bytes wire = frame(Bytes{0x11});
        wire.insert(wire.end(), k.header.begin(), k.header.end());
        Bytes after = frame(Bytes{0x22});
        wire.insert(wire.end(), after.begin(), after.end());

        Fd c = connect_local(s.service.port());
        ASSERT_TRUE(c);
        PcapTcp cap(local_port(c), tpkt_port);
        cap.segment(false, wire);
        TpktView v;
        std::string why;
        ASSERT_TRUE(dissect(ts, cap, &v, &why)) << why;
        ASSERT_FALSE(v.lengths.empty()) << k.reason;
        EXPECT_EQ(v.lengths[0], 5u) << k.reason;
        EXPECT_GT(v.continuation + v.malformed, 0u) << k.reason << ": tshark saw " << summary(v);

        size_t before = s.rec.messages.size();
        ASSERT_TRUE(write_all(c, wire));
        ASSERT_TRUE(run_until([&] { return s.rec.disconnects == n; })) << k.reason;
        EXPECT_TRUE(sees_eof(c)) << k.reason;
        ASSERT_EQ(s.rec.messages.size(), before + 1) << k.reason;
        EXPECT_EQ(s.rec.messages.back(), Bytes{0x11}) << k.reason;
        EXPECT_EQ(s.err.lines_with(k.reason), 1u) << s.err.text();
    }
}
