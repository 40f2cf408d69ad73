// Writes of the stream-socket layer over loopback TCP: frames sent in one
// pass leave whole and in order, and a deaf peer is cut off at the bound.
#include "net/strm.h"
#include "net/tpkt.h"

#include "net_util.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cstring>
#include <sstream>

using namespace nettest;

namespace {

// The stream layer, with TPKT on top when asked, over one socket.
class Stack : public ProtocolsList
{
public:
    Stack(Fd const& sock, bool framed)
    {
        strm = new StrmProtocol(sock);
        add_protocol_tail(strm);
        if (framed)
            add_protocol_tail(new Tpkt_protocol);
        top_protocol()->activate();
    }
    void on_deactivated(Protocol*, Protocol_status s) override
    {
        std::ostringstream os;
        os << s;
        downs.push_back(os.str());
    }

    StrmProtocol* strm;
    std::vector<std::string> downs;
};

// Both ends of a loopback connection with small socket buffers, so most of
// what is sent waits in the layer.
void small_pair(Fd& ours, Fd& peer)
{
    unsigned short port = 0;
    Fd l = listen_local(&port);
    peer = connect_local(port, 4096);
    ours = Fd(::accept(l.lowlevel_fd(), nullptr, nullptr));
    int small = 4096;
    ::setsockopt(ours.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
}

TEST(StrmWrites, ThousandFramesSentInOnePassArriveWholeAndInOrder)
{
    Fd ours, peer;
    small_pair(ours, peer);
    Stack stack(ours, true);
    std::vector<Bytes> sent;
    for (unsigned i = 0; i < 1000; ++i) {
        sent.push_back(pattern(1 + i * 7 % 1400, i));
        Packet p;
        stack.top_protocol()->prepare_head(p);
        std::memcpy(p.put(unsigned(sent.back().size())), sent.back().data(), sent.back().size());
        stack.top_protocol()->message(p);
    }
    Bytes const want = stream_of(sent);
    Bytes got;
    peer.NonBlock();
    ASSERT_TRUE(run_until([&] {
        std::vector<unsigned char> buf(65536);
        ssize_t n;
        while ((n = ::recv(peer.lowlevel_fd(), buf.data(), buf.size(), 0)) > 0)
            got.insert(got.end(), buf.begin(), buf.begin() + n);
        return got.size() >= want.size();
    }));
    EXPECT_TRUE(got == want) << got.size() << " octets of " << want.size();
    EXPECT_TRUE(stack.downs.empty());
    EXPECT_EQ(stack.strm->queued(), 0u);
}

TEST(StrmWrites, DeafPeerIsCutOffWhenTheQueueIsFullAfterTheSocketTookItsShare)
{
    enum { size = 60000 }; // too big to gather: one packet per send
    Fd ours, peer;
    small_pair(ours, peer);
    Stack stack(ours, false);
    unsigned long long accepted = 0;
    unsigned waiting = 0;
    while (stack.downs.empty() && accepted < 100ull * size) {
        waiting = stack.strm->queued();
        Packet p;
        p.reserve_head(0);
        std::memset(p.put(size), 0x33, size);
        stack.strm->message(p);
        if (stack.downs.empty())
            accepted += size;
    }
    ASSERT_EQ(stack.downs, std::vector<std::string>{"STRM: send queue full, the peer does not read"});
    EXPECT_EQ(waiting, unsigned(StrmProtocol::queue_size));
    // The socket was offered everything first; the layer held the rest, a
    // full queue of packets and no more.
    unsigned long long const out = stack.strm->bytes_out();
    EXPECT_GT(out, 0u);
    EXPECT_LE(accepted - out, unsigned(StrmProtocol::queue_size) * size);
    EXPECT_GT(accepted - out, (unsigned(StrmProtocol::queue_size) - 1) * size);
}

} // namespace
