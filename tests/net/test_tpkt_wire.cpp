// The controller link's TPKT frames against tshark: what our layers write
// must be what tshark dissects, what tshark accepts must come through our
// receive path whole, and what tshark rejects must close our link.
#include "net/tpkt.h"

#include "served.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nettest;

namespace {

// One TCP connection written as a classic pcap file (Ethernet, IPv4, TCP
// without options, both ends on 127.0.0.1), to be read back by tshark.
enum : unsigned char { syn = 0x02, psh = 0x08, ack = 0x10 };

void put16(Bytes& b, unsigned v)
{
    b.push_back((unsigned char)(v >> 8));
    b.push_back((unsigned char)v);
}

void put32(Bytes& b, uint32_t v)
{
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

// The file's own fields are little-endian, which its magic announces.
void put32le(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back((unsigned char)(v >> (8 * i)));
}

uint32_t sum(Bytes const& b, size_t from, size_t to, uint32_t acc = 0)
{
    for (size_t i = from; i < to; i += 2)
        acc += (unsigned(b[i]) << 8) | (i + 1 < to ? b[i + 1] : 0);
    return acc;
}

unsigned fold(uint32_t acc)
{
    while (acc >> 16)
        acc = (acc & 0xFFFF) + (acc >> 16);
    return ~acc & 0xFFFF;
}

// The stream cut at the given offsets (ascending), and wherever a piece
// would be longer than mss.
std::vector<Bytes> cut(Bytes const& stream, std::vector<size_t> const& at, size_t mss)
{
    std::vector<Bytes> out;
    size_t from = 0;
    auto next = at.begin();
    while (from < stream.size()) {
        while (next != at.end() && *next <= from)
            ++next;
        size_t to = std::min(stream.size(), from + mss);
        if (next != at.end() && *next < to)
            to = *next;
        out.emplace_back(stream.begin() + from, stream.begin() + to);
        from = to;
    }
    return out;
}

class PcapTcp
{
public:
    // The most one IPv4 packet carries over TCP.
    enum { max_segment = 65535 - 20 - 20 };

    // Starts with the handshake, so the segments count from a known start.
    PcapTcp(unsigned short client_port, unsigned short server_port)
        : mPort{client_port, server_port}, mSeq{1000, 5000}
    {
        // Magic, version 2.4, zone, accuracy, snap length, Ethernet.
        for (uint32_t v : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 262144u, 1u})
            put32le(mFile, v);
        packet(false, syn, {});
        ++mSeq[0];
        packet(true, syn | ack, {});
        ++mSeq[1];
        packet(false, ack, {});
    }

    // One segment of data; each side's sequence numbers follow its last.
    void segment(bool from_server, Bytes const& data)
    {
        // More than one IPv4 packet holds goes as several.
        size_t at = 0;
        do {
            size_t n = std::min<size_t>(max_segment, data.size() - at);
            packet(from_server, psh | ack, Bytes(data.begin() + at, data.begin() + at + n));
            mSeq[from_server ? 1 : 0] += uint32_t(n);
            at += n;
        } while (at < data.size());
    }

    void segments(bool from_server, std::vector<Bytes> const& data)
    {
        for (Bytes const& d : data)
            segment(from_server, d);
    }

    bool save(std::string const& path) const
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<char const*>(mFile.data()), std::streamsize(mFile.size()));
        return bool(out.flush());
    }

private:
    void packet(bool from_server, unsigned char flags, Bytes const& data)
    {
        int me = from_server ? 1 : 0;
        Bytes p = {2, 0, 0, 0, 0, (unsigned char)(2 - me), 2, 0, 0, 0, 0, (unsigned char)(1 + me), 8, 0};
        size_t ip = p.size();
        put16(p, 0x4500);
        put16(p, unsigned(20 + 20 + data.size()));
        put16(p, mCount & 0xFFFF);
        put16(p, 0x4000);  // don't fragment
        put16(p, 0x4006);  // TTL 64, TCP
        put16(p, 0);
        put32(p, 0x7F000001);
        put32(p, 0x7F000001);
        uint32_t ipsum = fold(sum(p, ip, ip + 20));
        p[ip + 10] = (unsigned char)(ipsum >> 8);
        p[ip + 11] = (unsigned char)ipsum;

        size_t tcp = p.size();
        put16(p, mPort[me]);
        put16(p, mPort[1 - me]);
        put32(p, mSeq[me]);
        put32(p, flags & ack ? mSeq[1 - me] : 0);
        put16(p, (5u << 12) | flags);
        put16(p, 0xFFFF);
        put32(p, 0);  // checksum, urgent pointer
        p.insert(p.end(), data.begin(), data.end());
        // Pseudo header: both addresses, protocol, TCP length.
        uint32_t acc = 2 * (0x7F00 + 0x0001) + 6 + unsigned(p.size() - tcp);
        uint32_t tcpsum = fold(sum(p, tcp, p.size(), acc));
        p[tcp + 16] = (unsigned char)(tcpsum >> 8);
        p[tcp + 17] = (unsigned char)tcpsum;

        put32le(mFile, 1000000000u + mCount);
        put32le(mFile, 0);
        put32le(mFile, uint32_t(p.size()));
        put32le(mFile, uint32_t(p.size()));
        mFile.insert(mFile.end(), p.begin(), p.end());
        ++mCount;
    }

    unsigned short mPort[2];  // client, server
    uint32_t mSeq[2];         // the next sequence number of each side
    uint32_t mCount = 0;
    Bytes mFile;
};

// tshark hands TCP port 102 to its full RFC 1006 dissector. Naming another
// port with "-d tcp.port==N,tpkt" picks the heuristic one instead, which
// cannot gather a header split over segments, so the captures use 102.
enum { tpkt_port = 102 };
char const tshark[] = "/usr/bin/tshark";

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

// tshark with a private home in a temporary directory, so it reads and
// writes no configuration of the machine's; `timeout` bounds a hung run.
bool dissect(PcapTcp const& capture, TpktView* view, std::string* why)
{
    char dir[] = "/tmp/tpkt-wire-XXXXXX";
    if (!::mkdtemp(dir)) {
        *why = "no temporary directory";
        return false;
    }
    std::string d = dir, path = d + "/wire.pcap";
    // COTP off: the payload shows as plain data, and a malformed mark can
    // only come from TPKT or below.
    std::string cmd = "env -i HOME=" + d + " XDG_CONFIG_HOME=" + d + "/config TMPDIR=" + d
        + " PATH=/usr/bin:/bin LC_ALL=C timeout -s KILL 120 " + tshark + " -r " + path
        + " -n --disable-protocol cotp -o tcp.desegment_tcp_streams:TRUE -o tpkt.desegment:TRUE"
          " -o tcp.check_checksum:TRUE -o ip.check_checksum:TRUE -T fields -E separator=/t"
          " -e tpkt.version -e tpkt.length -e data.data -e tpkt.continuation_data -e _ws.malformed"
          " -e tcp.checksum.status -e ip.checksum.status </dev/null 2>" + d + "/err.txt";
    std::string out;
    int status = -1;
    if (capture.save(path)) {
        if (FILE* f = ::popen(cmd.c_str(), "r")) {
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
                out.append(buf, n);
            status = ::pclose(f);
        }
    }
    std::ifstream err(d + "/err.txt");
    *why = "tshark failed: " + std::string(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    std::error_code ec;
    std::filesystem::remove_all(d, ec);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;

    *view = TpktView();
    for (std::string const& line : split(out, '\n')) {
        if (line.empty())
            continue;
        std::vector<std::string> f = split(line, '\t');
        f.resize(7);
        ++view->packets;
        for (int k = 0; k < 3; ++k)
            for (std::string const& v : f[k].empty() ? std::vector<std::string>() : split(f[k], ',')) {
                if (k == 0)
                    view->versions.push_back(unsigned(std::stoul(v)));
                else if (k == 1)
                    view->lengths.push_back(unsigned(std::stoul(v)));
                else
                    for (size_t i = 0; i + 1 < v.size(); i += 2)
                        view->payloads.push_back((unsigned char)std::stoul(v.substr(i, 2), nullptr, 16));
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
::testing::AssertionResult sees_frames(PcapTcp const& capture,
                                       std::vector<Bytes> const& payloads)
{
    TpktView v;
    std::string why;
    if (!dissect(capture, &v, &why))
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
    if (::access(tshark, X_OK) != 0)
        GTEST_SKIP() << "tshark is not installed";
    Served s;
    // Small socket buffers on both ends: most of what is sent waits in the
    // layer's queue, small frames gathered, and leaves on POLLOUT.
    Fd c = connect_local(s.port, 4096);
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
    EXPECT_EQ(s.err.count("]: TPKT: payload of 65532 octets does not fit a frame"), 1u)
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
        EXPECT_TRUE(sees_frames(cap, sent)) << "segments as read";
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
        EXPECT_TRUE(sees_frames(cap, sent)) << "headers split";
    }
}

TEST(TpktWire, FramesTsharkAcceptsArriveWholeThroughOurReceivePath)
{
    if (::access(tshark, X_OK) != 0)
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
    Fd c = connect_local(s.port);
    ASSERT_TRUE(c);
    PcapTcp cap(local_port(c), tpkt_port);
    cap.segments(false, segments);
    ASSERT_TRUE(sees_frames(cap, payloads));

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

TEST(TpktWire, EachBadHeaderClosesOnlyThatPeerAsTsharkRejectsIt)
{
    bool check = ::access(tshark, X_OK) == 0;
    struct Case
    {
        Bytes header;
        char const* reason;
        bool tshark; // tshark judges the header as we do
    } cases[] = {
        {{4, 0, 0, 3}, "bad frame version 4", true},
        {{3, 0, 0, 3}, "bad frame length 3", true},
        {{3, 0, 0, 0}, "bad frame length 0", true},
        {text("GET / HTTP/1.0\r\n\r\n"), "bad frame version 71", false},
    };
    Served s;
    int n = 0;
    for (Case const& k : cases) {
        ++n;
        s.err.take();
        // A good frame, the bad header, a good frame: one segment.
        Bytes wire = frame(Bytes{0x11});
        wire.insert(wire.end(), k.header.begin(), k.header.end());
        Bytes after = frame(Bytes{0x22});
        wire.insert(wire.end(), after.begin(), after.end());

        Fd c = connect_local(s.port);
        ASSERT_TRUE(c);
        if (check && k.tshark) {
            PcapTcp cap(local_port(c), tpkt_port);
            cap.segment(false, wire);
            TpktView v;
            std::string why;
            ASSERT_TRUE(dissect(cap, &v, &why)) << why;
            ASSERT_FALSE(v.lengths.empty()) << k.reason;
            EXPECT_EQ(v.lengths[0], 5u) << k.reason;
            EXPECT_GT(v.continuation + v.malformed, 0u) << k.reason << ": tshark saw " << summary(v);
        }
        size_t before = s.rec.messages.size();
        ASSERT_TRUE(write_all(c, wire));
        ASSERT_TRUE(run_until([&] { return s.rec.disconnects == n; })) << k.reason;
        EXPECT_TRUE(sees_eof(c)) << k.reason;
        ASSERT_EQ(s.rec.messages.size(), before + 1) << k.reason;
        EXPECT_EQ(s.rec.messages.back(), Bytes{0x11}) << k.reason;
        EXPECT_EQ(s.err.count("link lost"), 1u) << s.err.text();
        EXPECT_EQ(s.err.count(k.reason), 1u) << s.err.text();
    }
    // The listener goes on with the next peer.
    Fd good = connect_local(s.port);
    ASSERT_TRUE(write_all(good, frame(Bytes{0x33})));
    ASSERT_TRUE(run_until([&] { return s.rec.messages.back() == Bytes{0x33}; }));
    EXPECT_TRUE(s.service.IsConnected());
}
