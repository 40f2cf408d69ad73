// The ends of what the link layers take: TPKT versions and lengths, the
// socket a service reports and the one it cannot make, the octets a stream
// layer counts, the highest port, and a copy that cannot start.
#include "net/async.h"
#include "net/strm.h"
#include "net/tpkt.h"

#include "served.h"
#include "tpkt_rig.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace nettest;

namespace {

std::string text_of(Protocol_status const& s)
{
    std::ostringstream os;
    os << s;
    return os.str();
}

} // namespace

// Version 3 only; a length counts the four header octets, so 4 is an empty
// frame and 65535 the largest.
TEST(TpktLimits, VersionThreeOnlyAndLengthsFromFourTo65535)
{
    for (unsigned char version : {2, 4}) {
        TpktRig r;
        r.feed(Bytes{version, 0, 0, 5, 0x11});
        EXPECT_TRUE(r.frames.empty());
        EXPECT_EQ(text_of(r.status), "TPKT: bad frame version " + std::to_string(version));
    }
    TpktRig r;
    Bytes largest = pattern(65531, 3);
    Bytes framed = frame(largest);
    ASSERT_EQ(Bytes(framed.begin(), framed.begin() + 4), (Bytes{3, 0, 0xFF, 0xFF}));
    r.feed(Bytes{3, 0, 0, 4, 3, 0});
    r.feed(Bytes(framed.begin() + 2, framed.end()));
    r.feed(Bytes{3, 0, 0, 5, 0x22});
    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_TRUE(r.frames[0].empty());
    EXPECT_TRUE(r.frames[1] == largest) << r.frames[1].size();
    EXPECT_EQ(r.frames[2], Bytes{0x22});
    EXPECT_FALSE(r.down);
    EXPECT_EQ(r.tpkt->frames_in(), 3u);
}

// The peer's socket while one is served, -1 before and after; the stream
// layer counts the octets that really left and came.
TEST(ControlLimits, SocketOfThePeerAndOctetsCounted)
{
    Served s;
    EXPECT_EQ(s.service.lowlevel_fd(), -1);
    Fd c = connect_local(s.port);
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 1; }));
    EXPECT_GE(s.service.lowlevel_fd(), 0);
    c.close();
    ASSERT_TRUE(run_until([&] { return s.rec.disconnects == 1; }));
    EXPECT_EQ(s.service.lowlevel_fd(), -1);

    Fd peer;
    ProtocolsList stack;
    StrmProtocol* strm = strm_on_pair(stack, peer);
    EXPECT_EQ(strm->bytes_out(), 0u);
    Packet p = packet(Bytes{1, 2, 3, 4, 5});
    strm->message(p);
    ASSERT_TRUE(run_until([&] { return strm->bytes_out() == 5; }));
    EXPECT_EQ(read_n(peer, 5), (Bytes{1, 2, 3, 4, 5}));
    ASSERT_TRUE(write_all(peer, Bytes{9, 8}));
    EXPECT_TRUE(run_until([&] { return strm->bytes_in() == 2; }));
    EXPECT_EQ(strm->bytes_out(), 5u);
}

// A copy without a source fails from the loop, as one without a
// destination does; one waiting for its flush cannot be started again.
TEST(CopyLimits, NoSourceFailsOnTheNextPass)
{
    struct User
    {
        void OnCopy(ASync::Copy::Status::Type s) { statuses.push_back(s); }
        std::vector<int> statuses;
    } u;
    ASync::Copy copy;
    copy.Bind(&User::OnCopy, &u);
    Fd reader, writer;
    tcp_pair(reader, writer);
    ASSERT_TRUE(copy.Start(Fd(), writer));
    EXPECT_TRUE(u.statuses.empty());
    ASSERT_TRUE(run_until([&] { return !u.statuses.empty(); }, 1000));
    EXPECT_EQ(u.statuses, std::vector<int>{4});

    // Still running while it waits for the flush: a second start is refused.
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    Fd source(pipe[0]);
    ASSERT_EQ(::write(pipe[1], "x", 1), 1);
    ::close(pipe[1]);
    copy.set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, POLLPRI));
    ASSERT_TRUE(copy.Start(source, writer));
    ASSERT_TRUE(run_until([&] { return copy.status() == ASync::Copy::Status::flushing; }, 1000));
    EXPECT_FALSE(copy.Start(source, writer));
    EXPECT_EQ(copy.status(), ASync::Copy::Status::flushing);
    EXPECT_EQ(read_n(reader, 1), Bytes{'x'});
    EXPECT_EQ(u.statuses.size(), 1u);
}

// Listening needs a socket: without a descriptor to make one, Listen says
// so and nothing listens.
TEST(ControlLimits, ListenWithoutADescriptorFails)
{
    Recorder rec;
    Control::Service service(rec);
    Capture err(std::cerr);
    // A refusal first, while descriptors are free: the sanitizers' first
    // look at the log line's types needs some of its own.
    unsigned short port = 0;
    Fd taken = listen_local(&port);
    EXPECT_FALSE(service.Listen(port, htonl(INADDR_LOOPBACK)));
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(lowest);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    bool listening = service.Listen(0, htonl(INADDR_LOOPBACK));
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_FALSE(listening);
    EXPECT_FALSE(service.IsListening());
    EXPECT_EQ(err.count("ctrl [not connected]: cannot make the listening socket: "), 1u) << err.text();
}

// One octet and the close, both waiting when the loop looks: the peer has
// closed, not gone missing.
TEST(ControlLimits, OneOctetThenCloseReadsAsClosedByPeer)
{
    Served s;
    Fd c = connect_local(s.port);
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 1; }));
    ASSERT_TRUE(write_all(c, Bytes{3}));
    c.close();
    ASSERT_TRUE(run_until([&] { return s.rec.disconnects == 1; }));
    EXPECT_EQ(s.err.count("]: link lost: STRM: connection closed by peer\n"), 1u) << s.err.text();
}

// Ports run to 65535: the highest is connected to, not refused.
TEST(ConnectLimits, TheHighestPortIsAPort)
{
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int on = 1;
    ::setsockopt(listener.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(65535);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0
        || ::listen(listener.lowlevel_fd(), 1) != 0)
        GTEST_SKIP() << "port 65535 is taken";
    struct User
    {
        void OnConnect(ASync::Connect::Status::Type s, Fd) { statuses.push_back(s); }
        std::vector<int> statuses;
    } u;
    ASync::Connect connect;
    connect.Bind(&User::OnConnect, &u);
    ASSERT_TRUE(connect.Start("127.0.0.1:65535", 2000));
    ASSERT_TRUE(run_until([&] { return !u.statuses.empty(); }));
    EXPECT_EQ(u.statuses, std::vector<int>{3});
    // The same port 2^32 higher is refused, not wrapped back onto it.
    ASSERT_TRUE(connect.Start("127.0.0.1:" + std::to_string(65535 + 4294967296ull), 2000));
    ASSERT_TRUE(run_until([&] { return u.statuses.size() == 2; }));
    EXPECT_EQ(u.statuses[1], 2);
}
