// Writes of the stream-socket layer over loopback TCP: a deaf peer is cut
// off at the bound.
#include "net/strm.h"

#include "net_util.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cstring>
#include <sstream>

using namespace nettest;

namespace {

// The stream layer over one socket, its deactivations recorded.
class Stack : public ProtocolsList
{
public:
    explicit Stack(Fd const& sock)
    {
        strm = new StrmProtocol(sock);
        add_protocol_tail(strm);
        strm->activate();
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

TEST(StrmWrites, DeafPeerIsCutOffWhenTheQueueIsFullAfterTheSocketTookItsShare)
{
    enum { size = 60000 }; // too big to gather: one packet per send
    // Small socket buffers, so most of what is sent waits in the layer.
    unsigned short port = 0;
    Fd l = listen_local(&port);
    Fd peer = connect_local(port, 4096);
    Fd ours(::accept(l.lowlevel_fd(), nullptr, nullptr));
    int small = 4096;
    ::setsockopt(ours.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
    Stack stack(ours);
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
