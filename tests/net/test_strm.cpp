// The stream-socket layer under TPKT over a loopback TCP connection, run by
// the real event loop.
#include "net/strm.h"
#include "net/tpkt.h"

#include "net_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>

using namespace nettest;

namespace {

// Between the socket and TPKT: records the size of every read and lets the
// test act after each one.
class Spy : public Protocol
{
public:
    Spy() : mName("spy") {}
    Protocol_name const& name() const override { return mName; }
    void local_activate() override { on_activate(); }
    void local_deactivate() override
    {
        on_deactivate(Protocol_status(new Protocol_status_success(this, "off")));
    }
    void message(Packet& p) override { transmit(p); }
    void receive(Packet& p) override
    {
        reads.push_back(p.length());
        on_message(p);
        if (after_read)
            after_read();
    }
    std::vector<unsigned> reads;
    std::function<void()> after_read;

private:
    Protocol_name_str mName;
};

class Link : public ProtocolsFamily
{
public:
    explicit Link(Fd const& sock) : mName("link")
    {
        strm = new StrmProtocol(sock);
        spy = new Spy;
        tpkt = new Tpkt_protocol;
        add_protocol_tail(strm);
        add_protocol_tail(spy);
        add_protocol_tail(tpkt);
    }
    Protocol_name const& name() const override { return mName; }
    void on_activated(Protocol*) override { up = true; }
    void on_deactivated(Protocol*, Protocol_status s) override
    {
        up = false;
        std::ostringstream os;
        os << (s->is_error() ? "error " : "success ") << s;
        downs.push_back(os.str());
    }
    void on_message(Packet& p) override { frames.push_back(bytes(p)); }

    StrmProtocol* strm;
    Spy* spy;
    Tpkt_protocol* tpkt;
    bool up = false;
    std::vector<Bytes> frames;
    std::vector<std::string> downs;

private:
    Protocol_name_str mName;
};

} // namespace

TEST(StreamLink, FramesSplitOctetByOctetArriveWholeInOrder)
{
    Fd client, server;
    tcp_pair(client, server);
    Link link(server);
    server.close();
    link.activate();
    ASSERT_TRUE(link.up);

    std::vector<Bytes> sent;
    Bytes stream;
    for (unsigned i = 0; i < 4; ++i) {
        sent.push_back(pattern(i * 3 + 1, i));
        Bytes f = frame(sent.back());
        stream.insert(stream.end(), f.begin(), f.end());
    }
    // The next octet leaves only after the layer has read the previous
    // one, so every read holds exactly one octet.
    size_t next = 0;
    auto send_next = [&] {
        if (next < stream.size())
            write_all(client, Bytes{stream[next++]});
    };
    link.spy->after_read = send_next;
    send_next();
    ASSERT_TRUE(run_until([&] { return link.frames.size() == sent.size(); }));
    EXPECT_EQ(link.frames, sent);
    EXPECT_EQ(link.spy->reads, std::vector<unsigned>(stream.size(), 1u));

    EXPECT_TRUE(link.downs.empty());
    EXPECT_EQ(link.strm->bytes_in(), stream.size());
}

TEST(StreamLink, WritesQueueBehindASlowReaderAndLeaveInOrder)
{
    Fd client, server;
    tcp_pair(client, server);
    int small = 16384;
    ::setsockopt(server.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
    ::setsockopt(client.lowlevel_fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    Link link(server);
    server.close();
    link.activate();

    Bytes expected;
    for (unsigned i = 0; i < 6; ++i) {
        Bytes pl = pattern(50000, i);
        Packet p;
        link.prepare_head(p);
        for (unsigned char c : pl)
            p.put8(c);
        link.message(p);
        Bytes f = frame(pl);
        expected.insert(expected.end(), f.begin(), f.end());
    }
    // Small frames gather into the last waiting packet.
    for (unsigned i = 0; i < 100; ++i) {
        Packet p = packet(Bytes{(unsigned char)i});
        link.message(p);
        Bytes f = frame(Bytes{(unsigned char)i});
        expected.insert(expected.end(), f.begin(), f.end());
    }
    EXPECT_GT(link.strm->queued(), 0u);
    EXPECT_LE(link.strm->queued(), 7u);
    EXPECT_TRUE(link.up);

    // The reader drains from the loop; the layer writes on POLLOUT.
    Bytes got;
    client.NonBlock();
    ASSERT_TRUE(run_until([&] {
        unsigned char buf[8192];
        ssize_t n;
        while ((n = ::recv(client.lowlevel_fd(), buf, sizeof(buf), 0)) > 0)
            got.insert(got.end(), buf, buf + n);
        return got.size() >= expected.size();
    }));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(link.strm->queued(), 0u);
    EXPECT_EQ(link.strm->bytes_out(), expected.size());
}

TEST(StreamLink, PeerCloseAndLocalCloseReportTheirWay)
{
    {
        Fd client, server;
        tcp_pair(client, server);
        Link link(server);
    server.close();
        link.activate();
        write_all(client, Bytes{3, 0, 0, 9, 1});
        client.close();
        ASSERT_TRUE(run_until([&] { return !link.up; }));
        EXPECT_TRUE(link.frames.empty());
        EXPECT_EQ(link.downs, std::vector<std::string>{"error STRM: connection closed by peer"});
    }
    {
        Fd client, server;
        tcp_pair(client, server);
        // An abortive close shows as a read error.
        linger lg{1, 0};
        ::setsockopt(client.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
        Link link(server);
    server.close();
        link.activate();
        client.close();
        ASSERT_TRUE(run_until([&] { return !link.up; }));
        ASSERT_EQ(link.downs.size(), 1u);
        EXPECT_EQ(link.downs[0].rfind("error STRM: read failed: ", 0), 0u) << link.downs[0];
    }
    {
        Fd client, server;
        tcp_pair(client, server);
        Link link(server);
    server.close();
        link.activate();
        // Deactivating the family goes down from TPKT to the socket.
        link.deactivate();
        EXPECT_EQ(link.downs, std::vector<std::string>{"success STRM: closed"});
        EXPECT_TRUE(sees_eof(client));
    }
}
