// TPKT frames: put back together however the stream is cut, and against
// tshark: what our layers write must be what tshark dissects, what tshark
// accepts must come through our receive path whole, and what tshark
// rejects must close our link.
#include "net/tpkt.h"

#include "served.h"
#include "tpkt_rig.h"
#include "tests/net/tshark.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

using namespace nettest;

namespace {

// The stream cut at the given offsets (ascending), and wherever a segment
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

// The most one IPv4 packet carries over TCP.
enum { max_segment = 65535 - 20 - 20 };

// One direction of a TCP connection on 127.0.0.1, a segment an entry.
struct Flow
{
    unsigned short from, to;
    std::vector<Bytes> segments;
};

// tshark hands TCP port 102 to its full RFC 1006 dissector. Naming another
// port with "-d tcp.port==N,tpkt" picks the heuristic one instead, which
// cannot gather a header split over segments, so the captures use 102.
enum { tpkt_port = 102 };
char const tshark[] = "/usr/bin/tshark";

// What tshark makes of one capture, all packets together.
struct TpktView
{
    std::vector<unsigned> lengths;
    Bytes payloads;            // the frames' payloads end to end
    unsigned continuation = 0; // data where a header should have been, or another version
    unsigned malformed = 0;
};

// The flow as text2pcap's hex dump, made a capture with IPv4 and TCP
// headers and read back by tshark.
bool dissect(Flow const& flow, TpktView* view, std::string* why)
{
    // COTP off: the payload shows as plain data, and a malformed mark can
    // only come from TPKT or below.
    test::Dissection d = test::Dissect(
        test::OffsetDump(flow.segments),
        "-4 127.0.0.1,127.0.0.1 -T " + std::to_string(flow.from) + "," + std::to_string(flow.to),
        "--disable-protocol cotp -o tcp.desegment_tcp_streams:TRUE -o tpkt.desegment:TRUE -T fields"
        " -E separator=/t -e tpkt.length -e data.data -e tpkt.continuation_data -e _ws.malformed");
    *why = d.why;
    if (!d.ok)
        return false;

    *view = TpktView();
    for (std::string const& line : d.lines) {
        if (line.empty())
            continue;
        std::vector<std::string> f = test::Split(line, '\t');
        f.resize(4);
        for (int k = 0; k < 2; ++k)
            for (std::string const& v : f[k].empty() ? std::vector<std::string>() : test::Split(f[k], ',')) {
                if (k == 0)
                    view->lengths.push_back(unsigned(std::stoul(v)));
                else
                    for (size_t i = 0; i + 1 < v.size(); i += 2)
                        view->payloads.push_back((unsigned char)std::stoul(v.substr(i, 2), nullptr, 16));
            }
        view->continuation += !f[2].empty();
        view->malformed += !f[3].empty();
    }
    return true;
}

std::string summary(TpktView const& v)
{
    std::ostringstream os;
    for (unsigned l : v.lengths)
        os << l << ' ';
    os << "long frames, " << v.payloads.size() << " payload octets, " << v.continuation << " continuation, "
       << v.malformed << " malformed";
    return os.str();
}

// tshark saw exactly these frames, whole, and nothing else.
::testing::AssertionResult sees_frames(Flow const& capture,
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
    if (v.lengths != lengths || v.payloads != all || v.continuation || v.malformed)
        return ::testing::AssertionFailure() << "tshark saw " << summary(v);
    return ::testing::AssertionSuccess();
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
    // A burst longer than one pass takes, all in one segment.
    for (unsigned i = 0; i < 100; ++i)
        p.push_back(pattern(i % 7, i));
    return p;
}
enum { burst_from = 6 };

} // namespace

TEST(TpktReceive, FramesComeWholeAndInOrderHoweverTheStreamIsCut)
{
    std::vector<Bytes> sent;
    for (unsigned size : {1, 0, 17, 2, 300, 5})
        sent.push_back(pattern(size, unsigned(sent.size())));
    Bytes stream = stream_of(sent);
    // Cut in two at every position (0: all in one read).
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        TpktRig r;
        r.feed(Bytes(stream.begin(), stream.begin() + cut));
        r.feed(Bytes(stream.begin() + cut, stream.end()));
        ASSERT_EQ(r.frames, sent) << "cut at " << cut;
        ASSERT_FALSE(r.down);
    }
}

TEST(TpktWire, FramesWeSendAreTheFramesTsharkSees)
{
    Served s;
    // Small socket buffers on both ends: most of what is sent waits in the
    // layer's queue, small frames gathered, and leaves on POLLOUT.
    Fd c = connect_local(s.port, 4096);
    ASSERT_TRUE(c);
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 1; }));
    int small = 4096;
    ::setsockopt(s.service.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));

    std::vector<Bytes> sent = test_payloads();
    sent.push_back(pattern(60000, 99)); // last, and more than the sockets hold
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
    ASSERT_TRUE(wire == stream_of(sent)) << wire.size() << " octets of " << total;
    EXPECT_EQ(s.rec.disconnects, 0);

    // As the socket gave it.
    if (::access(tshark, X_OK) != 0)
        GTEST_SKIP() << "tshark is not installed";
    Flow cap{tpkt_port, local_port(c), cut(wire, read_ends, max_segment)};
    EXPECT_TRUE(sees_frames(cap, sent));
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
    size_t start = 0;
    for (size_t i = 0; i < burst_from; start += payloads[i++].size() + Tpkt_protocol::header_size) {
        cuts.push_back(start);
        cuts.push_back(start + 2);
        cuts.push_back(start + 4 + payloads[i].size() / 2);
    }
    cuts.push_back(start);
    std::vector<Bytes> segments = cut(wire, cuts, 1460);
    ASSERT_EQ(segments.back(), Bytes(wire.begin() + start, wire.end()));

    Served s;
    Fd c = connect_local(s.port);
    ASSERT_TRUE(c);
    Flow cap{local_port(c), tpkt_port, segments};
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
            Flow cap{local_port(c), tpkt_port, {wire}};
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
}
