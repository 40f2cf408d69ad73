// The controller's listener over loopback TCP with the real event loop:
// one peer at a time, bad input closes only that peer, a vanished or
// deaf peer is cut off, and a disconnect from inside a message is safe.
#include "framework/dpc.h"
#include "net/strm.h"

#include "tests/frozen_clock.h"

#include "served.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <string>

using namespace nettest;

// A layer above that takes none of a read: it is read out, not offered
// again on every pass.
TEST(StrmReads, WhatNoLayerAboveTakesIsReadOutNotOfferedForEver)
{
    Fd peer;
    ProtocolsList stack;
    StrmProtocol* strm = strm_on_pair(stack, peer);
    ASSERT_TRUE(write_all(peer, Bytes{1, 2, 3}));
    EXPECT_TRUE(run_until([&] { return strm->bytes_in() == 3; }, 1000));
}

TEST(ControlService, OnePeerAtATimeTheNextWaitsUntilTheFirstLeaves)
{
    Served s;
    s.rec.echo = true;

    // Frames split octet by octet, one octet per pass of the loop.
    Fd a = connect_local(s.port);
    Bytes slow = stream_of({text("a1"), text("a2")});
    size_t next = 0;
    ASSERT_TRUE(run_until([&] {
        if (next < slow.size())
            write_all(a, Bytes{slow[next++]});
        return s.rec.messages.size() == 2;
    }));
    EXPECT_EQ(s.rec.messages, (std::vector<Bytes>{text("a1"), text("a2")}));
    EXPECT_EQ(read_n(a, slow.size()), slow);

    // The second controller's connect completes in the backlog, but nobody
    // reads what it sends while the first is served.
    Fd b = connect_local(s.port);
    ASSERT_TRUE(b);
    ASSERT_TRUE(write_all(b, frame(text("b1"))));
    EXPECT_FALSE(run_until([&] { return s.rec.messages.size() > 2; }, 150));
    EXPECT_EQ(s.rec.connects, 1);

    sockaddr_in own{};
    socklen_t len = sizeof(own);
    ::getsockname(a.lowlevel_fd(), reinterpret_cast<sockaddr*>(&own), &len);
    const std::string first = "ctrl [127.0.0.1:" + std::to_string(ntohs(own.sin_port)) + "]: ";
    a.close();
    ASSERT_TRUE(run_until([&] { return s.rec.messages.size() == 3; }));
    EXPECT_EQ(s.rec.messages[2], text("b1"));
    EXPECT_EQ(s.rec.connects, 2);
    EXPECT_EQ(s.rec.disconnects, 1);
    EXPECT_EQ(read_n(b, 6), frame(text("b1")));

    // The line names the peer that left.
    EXPECT_EQ(s.err.count(first + "link lost: STRM: connection closed by peer\n"), 1u) << s.err.text();

    // An abortive close shows as a read error.
    linger lg{1, 0};
    ::setsockopt(b.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    b.close();
    ASSERT_TRUE(run_until([&] { return s.rec.disconnects == 2; }));
    EXPECT_EQ(s.err.count("]: link lost: STRM: read failed: "), 1u) << s.err.text();

    // One that resets before an answer leaves: the write fails first.
    Fd c = connect_local(s.port);
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 3; }));
    ::setsockopt(c.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    c.close();
    for (int i = 0; i < 500 && Control::tcp_state(s.service.lowlevel_fd()) == TCP_ESTABLISHED; ++i)
        ::usleep(1000);
    Packet p = packet(Bytes{1});
    s.service.Send(p);
    ASSERT_TRUE(run_until([&] { return s.rec.disconnects == 3; }));
    EXPECT_EQ(s.err.count("]: link lost: STRM: write failed: "), 1u) << s.err.text();
    EXPECT_EQ(s.service.Unwritten(), 1u); // for the owner to tell
    std::ostringstream header;
    s.service.PutHeader(header);
    EXPECT_EQ(header.str(), "ctrl [not connected]: ");
}

TEST(ControlService, ThousandsOfFramesInOneWriteAndDisconnectInsideAMessage)
{
    Served s;
    Fd c = connect_local(s.port);
    std::vector<Bytes> payloads;
    for (unsigned i = 0; i < 3000; ++i)
        payloads.push_back(Bytes{(unsigned char)(i >> 8), (unsigned char)i});
    // The peer asks to be dropped mid-read; what follows is not delivered.
    payloads.push_back(text("bye"));
    payloads.insert(payloads.end(), 10, text("late"));
    ASSERT_TRUE(write_all(c, stream_of(payloads)));
    ASSERT_TRUE(run_until([&] { return s.rec.disconnects == 1; }));
    payloads.resize(3001);
    EXPECT_EQ(s.rec.messages, payloads);
    EXPECT_FALSE(s.service.IsConnected());
    EXPECT_TRUE(sees_eof(c));

    // No peer: sending and disconnecting are quiet no-ops.
    Packet p = packet(Bytes{1, 2});
    s.service.Send(p);
    s.service.Disconnect();
    EXPECT_EQ(s.rec.disconnects, 1);

    // And the next peer is served after the deferred clean-up.
    Fd d = connect_local(s.port);
    write_all(d, frame(text("next")));
    ASSERT_TRUE(run_until([&] { return s.rec.messages.size() == 3002; }));
    EXPECT_EQ(s.rec.connects, 2);
}

TEST(ControlService, VanishedPeerIsCutByTheConnectionCheckEverySecond)
{
    Served s;
    Fd c = connect_local(s.port);
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 1; }));
    int fd = s.service.lowlevel_fd();
    int keepalive = 0, nodelay = 0;
    socklen_t len = sizeof(int);
    ::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &keepalive, &len);
    ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len);
    EXPECT_TRUE(keepalive && nodelay);

    // On a clock the test moves, the check its only timer: a quiet peer
    // passes it; once our side leaves the established state with nothing
    // to read, the next check, a second after the last, cuts it off.
    test::FrozenClock clock;
    ASSERT_EQ(multiplexer.timer_count(), 1u);
    const int first = multiplexer.next_timer_wait();
    EXPECT_LE(first, 1000);
    clock.at(first);
    ::shutdown(fd, SHUT_WR);
    clock.at(first + 999);
    EXPECT_TRUE(s.service.IsConnected());
    clock.at(first + 1000);
    EXPECT_EQ(s.rec.disconnects, 1);
    EXPECT_EQ(s.err.count("connection check failed"), 1u) << s.err.text();
}

TEST(ControlService, PeerThatNeverReadsIsCutOffWhenTheQueueIsFullAfterTheSocketTookItsShare)
{
    enum { size = 60000, framed = size + 4 }; // too big to gather: one packet per send
    // Small socket buffers, so most of what is sent waits in the layer.
    Served s;
    Fd deaf = connect_local(s.port, 4096);
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 1; }));
    int small = 4096;
    ::setsockopt(s.service.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
    unsigned long long accepted = 0;
    for (; s.service.IsConnected() && accepted < 100ull * framed; accepted += framed) {
        Packet p;
        s.service.prepare_head(p);
        std::memset(p.put(size), 0x33, size);
        s.service.Send(p);
    }
    EXPECT_EQ(s.rec.disconnects, 1);
    EXPECT_EQ(s.err.count("]: link lost: STRM: send queue full, the peer does not read"), 1u) << s.err.text();
    // The socket was offered everything first and the peer still gets what
    // it took; the layer dropped the rest, a full queue of packets and no more.
    const size_t got = read_n(deaf, accepted).size();
    unsigned long long dropped = accepted - framed - got;
    EXPECT_LE(dropped, StrmProtocol::queue_size * framed);
    EXPECT_GT(dropped, (StrmProtocol::queue_size - 1) * framed);
    // Each message the peer did not get whole is counted, the one that
    // found no room too.
    EXPECT_EQ(s.service.Unwritten(), accepted / framed - got / framed);
}

// A peer that ended its stream and reads late: its answers wait for room,
// the loop idles meanwhile instead of reading the end of the stream on
// every pass, and once the peer has read them all the link ends.
TEST(ControlService, HalfClosedPeerThatReadsLateGetsEveryAnswerWhileTheLoopIdles)
{
    Served s;
    s.rec.echo = true;
    Fd late = connect_local(s.port, 4096);
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 1; }));
    int small = 4096;
    ::setsockopt(s.service.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
    std::vector<Bytes> sent;
    for (unsigned i = 0; i < 8; ++i)
        sent.push_back(pattern(6000, i));
    const Bytes stream = stream_of(sent);
    ASSERT_TRUE(write_all(late, stream));
    ::shutdown(late.lowlevel_fd(), SHUT_WR);
    ASSERT_TRUE(run_until([&] { return s.rec.messages.size() == sent.size(); }));

    struct Passes {
        void go() { ++n; }
        unsigned n = 0;
        Dpc dpc;
    } passes;
    passes.dpc.Bind(&passes, &Passes::go);
    passes.dpc.Activate();
    run_for(50);
    passes.dpc.Deactivate();
    EXPECT_TRUE(s.service.IsConnected());
    EXPECT_LE(passes.n, 2 * 100u); // two sweeps a pass, a pass or so a tick

    Bytes got;
    ASSERT_TRUE(run_until([&] {
        char buf[8192];
        ssize_t n;
        while ((n = ::recv(late.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT)) > 0)
            got.insert(got.end(), buf, buf + n);
        return n == 0;
    }));
    EXPECT_EQ(got, stream);
    EXPECT_EQ(s.rec.disconnects, 1);
    EXPECT_EQ(s.err.count("link lost: STRM: connection closed by peer"), 1u) << s.err.text();
}

TEST(ControlService, ListenFailsOnABusyPortAndCloseDropsThePeer)
{
    unsigned short port = 0;
    Fd taken = listen_local(&port);
    Recorder rec;
    Control::Service busy(rec);
    {
        Capture err(std::cerr);
        EXPECT_FALSE(busy.Listen(port, htonl(INADDR_LOOPBACK)));
        EXPECT_EQ(err.count("ctrl [not connected]: cannot listen on port"), 1u) << err.text();
    }
    EXPECT_FALSE(busy.IsListening());

    Served s;
    Fd c = connect_local(s.port);
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 1; }));
    // What was sent before still leaves, ahead of the end.
    Packet last = packet(text("last"));
    s.service.Send(last);
    s.service.Close();
    EXPECT_EQ(s.out.count("]: disconnected: listener closed\n"), 1u) << s.out.text() << s.err.text();
    EXPECT_EQ(read_n(c, 8), frame(text("last")));
    EXPECT_TRUE(sees_eof(c));
    EXPECT_FALSE(connect_local(s.port));
}

TEST(ControlService, OutOfDescriptorsPausesTheListenerInsteadOfSpinning)
{
    Served s;
    // Every kind of object the loop makes below is made once beforehand:
    // the sanitizers' first look at a new kind needs descriptors of its own.
    {
        Fd w = connect_local(s.port);
        ASSERT_TRUE(run_until([&] { return s.rec.connects == 1; }));
        w.close();
        ASSERT_TRUE(run_until([&] { return s.rec.disconnects == 1; }));
        Fd fill = connect_local(s.port);
    }
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 2; }));
    s.service.Disconnect();
    run_for(5);

    Capture err(std::cerr);
    Fd c = connect_local(s.port);
    ASSERT_TRUE(c);

    // Lower the descriptor limit to what is open now: accept must fail.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    int lowest = ::dup(0);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(lowest);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    run_for(200);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);

    // One line, not one per pass, and no peer yet.
    EXPECT_EQ(err.count("accept failed"), 1u) << err.text();
    EXPECT_EQ(s.rec.connects, 2);
    // After the pause the waiting peer is taken.
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 3; }));
}
