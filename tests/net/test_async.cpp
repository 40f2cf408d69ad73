// Asynchronous connect and copy over loopback with the real event loop:
// their statuses, when they report, and handlers that delete their object.
#include "net/async.h"

#include "net_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using namespace nettest;

namespace {

std::string local_address(unsigned short port) { return "127.0.0.1:" + std::to_string(port); }

struct ConnectUser
{
    void OnConnect(ASync::Connect::Status::Type s, Fd fd)
    {
        statuses.push_back(s);
        sock = std::move(fd);
        if (delete_self)
            connect.reset();
    }
    std::unique_ptr<ASync::Connect> connect{new ASync::Connect};
    std::vector<int> statuses;
    Fd sock;
    bool delete_self = false;

    // Starts; nothing is reported from inside Start.
    void start(std::string const& address, unsigned timeout = 2000)
    {
        connect->Bind(&ConnectUser::OnConnect, this);
        size_t reported = statuses.size();
        ASSERT_TRUE(connect->Start(address, timeout));
        EXPECT_EQ(statuses.size(), reported) << address;
    }
};

} // namespace

TEST(AsyncConnect, ConnectsRefusesNeverReportsInsideStartAndMayBeDeletedByItsHandler)
{
    unsigned short port = 0;
    Fd listener = listen_local(&port);
    {
        ConnectUser u;
        u.start(local_address(port));
        EXPECT_FALSE(u.connect->Start(local_address(port), 100)) << "second start while running";
        ASSERT_TRUE(run_until([&] { return !u.statuses.empty(); }));
        EXPECT_EQ(u.statuses, std::vector<int>{3});
        EXPECT_TRUE(u.sock);
        Fd peer(::accept(listener.lowlevel_fd(), nullptr, nullptr));
        ASSERT_TRUE(peer);
        ASSERT_TRUE(write_all(u.sock, Bytes{7}));
        EXPECT_EQ(read_n(peer, 1), Bytes{7});
    }

    // A bound socket that does not listen refuses; the handler deletes the
    // connect from inside, and nothing of it runs later.
    unsigned short closed = 0;
    {
        Fd l = listen_local(&closed);
    }
    {
        ConnectUser u;
        u.delete_self = true;
        u.start(local_address(closed));
        ASSERT_TRUE(run_until([&] { return !u.statuses.empty(); }));
        EXPECT_EQ(u.statuses, std::vector<int>{2});
        EXPECT_FALSE(u.sock);
        EXPECT_FALSE(u.connect);
        run_for(20);
        EXPECT_EQ(u.statuses.size(), 1u);
    }

    // Texts that are no address fail from the loop's next pass; a port
    // beyond 16 bits is refused, not wrapped onto the listening one.
    std::vector<std::string> bads = {"nonsense", "127.0.0.1:0", "300.1.2.3:80", "127.0.0.1:",
                                     local_address(port) + "x", "127.0.0.1:" + std::to_string(port + 65536)};
    for (std::string const& bad : bads) {
        ConnectUser u;
        u.delete_self = bad[0] == 'n';
        u.start(bad);
        ASSERT_TRUE(run_until([&] { return !u.statuses.empty(); })) << bad;
        EXPECT_EQ(u.statuses, std::vector<int>{2}) << bad;
        if (u.delete_self)
            continue;
        // Reusable once it has reported.
        u.start(local_address(port));
        ASSERT_TRUE(run_until([&] { return u.statuses.size() == 2; }));
        EXPECT_EQ(u.statuses[1], 3);
        Fd(::accept(listener.lowlevel_fd(), nullptr, nullptr));
    }
}

TEST(AsyncConnect, TimesOutOnAFullBacklog)
{
    // With the accept queue full, further SYNs are dropped: the connect
    // hangs until its time-out.
    unsigned short port = 0;
    Fd listener = listen_local(&port, 0);
    std::vector<Fd> fillers;
    for (int i = 0; i < 2; ++i) {
        ConnectUser u;
        u.start(local_address(port), 200);
        run_until([&] { return !u.statuses.empty(); }, 300);
        if (u.sock)
            fillers.push_back(u.sock);
    }
    ASSERT_FALSE(fillers.empty());

    ConnectUser u;
    u.start(local_address(port), 60);
    ASSERT_TRUE(run_until([&] { return !u.statuses.empty(); }));
    EXPECT_EQ(u.statuses, std::vector<int>{2});
    EXPECT_FALSE(u.sock);
}

namespace {

struct CopyUser
{
    CopyUser() { copy->Bind(&CopyUser::OnCopy, this); }
    void OnCopy(ASync::Copy::Status::Type s)
    {
        statuses.push_back(s);
        if (delete_self)
            copy.reset();
    }
    std::unique_ptr<ASync::Copy> copy{new ASync::Copy};
    std::vector<int> statuses;
    bool delete_self = false;
};

// A file holding the bytes, opened for reading.
Fd file_with(Bytes const& b)
{
    char name[] = "/tmp/net-copy-XXXXXX";
    int fd = ::mkstemp(name);
    ::unlink(name);
    Fd f(fd);
    size_t off = 0;
    while (off < b.size())
        off += ::write(fd, b.data() + off, b.size() - off);
    ::lseek(fd, 0, SEEK_SET);
    return f;
}

// Both ends of a local stream socket pair.
void unix_pair(Fd& a, Fd& b, int type = SOCK_STREAM)
{
    int sp[2];
    ASSERT_EQ(::socketpair(AF_UNIX, type, 0, sp), 0);
    a = Fd(sp[0]);
    b = Fd(sp[1]);
}

} // namespace

TEST(AsyncCopy, CopiesEverythingThroughABlockedDestinationThenFlushes)
{
    // Into a pipe, as into a device: no socket. Waiting for the flush or,
    // as the recorder copies, not.
    Bytes data = pattern(300000);
    for (short flush : {short(POLLWRNORM), short(0)}) {
        SCOPED_TRACE(flush);
        int pipe[2];
        ASSERT_EQ(::pipe2(pipe, O_CLOEXEC | O_NONBLOCK), 0);
        Fd reader(pipe[0]), writer(pipe[1]);

        CopyUser u;
        u.copy->set_bufsize(1000);
        u.copy->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, flush));
        ASSERT_TRUE(u.copy->Start(file_with(data), writer));
        EXPECT_FALSE(u.copy->Start(file_with(data), writer));
        writer.close();

        Bytes got;
        bool blocked = false;
        ASSERT_TRUE(run_until([&] {
            blocked = blocked || (u.copy->status() == ASync::Copy::Status::writing);
            unsigned char buf[65536];
            ssize_t n;
            while ((n = ::read(reader.lowlevel_fd(), buf, sizeof(buf))) > 0)
                got.insert(got.end(), buf, buf + n);
            return !u.statuses.empty() && n == 0;
        }));
        EXPECT_TRUE(blocked) << "the destination never filled";
        EXPECT_EQ(u.statuses, std::vector<int>{5});
        EXPECT_EQ(got, data);
        EXPECT_EQ(u.copy->copied(), data.size());
        // Reaching end of stream above shows the copy closed its duplicate of
        // the destination.
    }
}

// A device that takes a write only in part: a pipe of one page under the
// file player's 8 KB buffer takes at most half of each. The copy goes on
// from the first octet not taken, so what arrives is the file, in order.
TEST(AsyncCopy, AWriteTakenInPartGoesOnFromWhereItStopped)
{
    Bytes data = pattern(100003);
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC | O_NONBLOCK), 0);
    Fd reader(pipe[0]), writer(pipe[1]);
    ASSERT_GE(::fcntl(writer.lowlevel_fd(), F_SETPIPE_SZ, 4096), 0);
    ASSERT_LT(::fcntl(writer.lowlevel_fd(), F_GETPIPE_SZ), 8192);

    CopyUser u;
    u.copy->set_bufsize(8192);
    ASSERT_TRUE(u.copy->Start(file_with(data), writer));
    writer.close();
    Bytes got;
    ASSERT_TRUE(run_until([&] {
        // Odd amounts, so the device has odd room for each write.
        unsigned char buf[1500];
        ssize_t n = ::read(reader.lowlevel_fd(), buf, 700 + got.size() % 777);
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
        return !u.statuses.empty() && n == 0;
    }));
    EXPECT_EQ(u.statuses, std::vector<int>{5});
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
    EXPECT_EQ(u.copy->copied(), data.size());
}

TEST(AsyncCopy, DestinationClosingEndsWithErrorAndHandlerMayDelete)
{
    for (bool delete_self : {false, true}) {
        Fd feed, source;
        unix_pair(feed, source);
        // More than the copy can push before the closed peer shows.
        Bytes chunk = pattern(65536);
        feed.NonBlock();
        ::send(feed.lowlevel_fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL);

        Fd far, dest;
        tcp_pair(far, dest);
        far.close();

        CopyUser u;
        u.delete_self = delete_self;
        ASSERT_TRUE(u.copy->Start(source, dest));
        source.close();
        dest.close();
        ASSERT_TRUE(run_until([&] { return !u.statuses.empty(); }));
        EXPECT_EQ(u.statuses, std::vector<int>{4});
        EXPECT_EQ(!u.copy, delete_self);
        // The copy let go of the source too: the feeder's peer is gone.
        char c = 1;
        EXPECT_LT(::send(feed.lowlevel_fd(), &c, 1, MSG_NOSIGNAL), 0);
        run_for(10);
        EXPECT_EQ(u.statuses.size(), 1u);
    }
}

TEST(AsyncCopy, DefaultsAndBadDescriptors)
{
    // Unset, the buffer is 1024 octets: each chunk one write, one record on a
    // packet socket; the end of the source completes done, from the loop.
    {
        Fd reader, writer;
        unix_pair(reader, writer, SOCK_SEQPACKET);
        CopyUser u;
        u.delete_self = true;
        ASSERT_TRUE(u.copy->Start(file_with(pattern(2500)), writer));
        writer.close();
        ASSERT_TRUE(run_until([&] { return !u.statuses.empty(); }));
        EXPECT_EQ(u.statuses, std::vector<int>{5});
        std::vector<ssize_t> records;
        char buf[4096];
        for (ssize_t n; (n = ::recv(reader.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT)) > 0;)
            records.push_back(n);
        EXPECT_EQ(records, (std::vector<ssize_t>{1024, 1024, 452}));
    }
    // A descriptor that is not open fails on the next pass, not inside Start;
    // so does a source that cannot be read (a folder).
    Fd reader, writer;
    unix_pair(reader, writer);
    for (bool folder : {false, true}) {
        CopyUser u;
        ASSERT_TRUE(folder ? u.copy->Start(Fd(::open("/", O_RDONLY | O_DIRECTORY)), writer)
                           : u.copy->Start(file_with(Bytes{1}), Fd()));
        EXPECT_TRUE(u.statuses.empty());
        ASSERT_TRUE(run_until([&] { return !u.statuses.empty(); }));
        EXPECT_EQ(u.statuses, std::vector<int>{4});
    }
}

TEST(AsyncDiscard, ObjectsDroppedWhileRunningCloseTheirDescriptorsAndNeverReport)
{
    // A recording replaces a running copy by a new one: the old one's far
    // end must see the connection close, and its handler must stay quiet.
    Fd feed, source;
    unix_pair(feed, source);
    Fd reader, writer;
    tcp_pair(reader, writer);
    {
        CopyUser u;
        ASSERT_TRUE(u.copy->Start(source, writer));
        source.close();
        writer.close();
        ASSERT_TRUE(write_all(feed, Bytes{1, 2, 3}));
        ASSERT_TRUE(run_until([&] { return u.copy->copied() == 3; }));
        EXPECT_EQ(read_n(reader, 3), (Bytes{1, 2, 3}));
        u.copy.reset();
        EXPECT_TRUE(sees_eof(reader));
        char c = 1;
        EXPECT_LT(::send(feed.lowlevel_fd(), &c, 1, MSG_NOSIGNAL), 0);
        run_for(10);
        EXPECT_TRUE(u.statuses.empty());
    }
    // A connect whose failure is still waiting for the loop, dropped first.
    {
        ConnectUser u;
        u.start("nonsense");
        u.connect.reset();
        run_for(10);
        EXPECT_TRUE(u.statuses.empty());
    }
}
