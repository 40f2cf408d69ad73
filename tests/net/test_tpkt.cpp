// TPKT framing with packets alone: how any slicing of the stream is put
// back together.
#include "net/tpkt.h"

#include "net_util.h"

#include <gtest/gtest.h>

using namespace nettest;

namespace {

// TPKT alone in a list whose owner records what comes up.
class Rig : public ProtocolsList
{
public:
    Rig()
    {
        tpkt = new Tpkt_protocol;
        add_protocol_tail(tpkt);
        tpkt->activate();
    }
    void on_deactivated(Protocol*, Protocol_status) override { down = true; }
    void list_on_message(Packet& p) override { frames.push_back(bytes(p)); }
    void feed(Bytes const& b)
    {
        Packet p = packet(b);
        tpkt->receive(p);
    }

    Tpkt_protocol* tpkt;
    std::vector<Bytes> frames;
    bool down = false;
};

} // namespace

TEST(TpktReceive, FramesComeWholeAndInOrderHoweverTheStreamIsCut)
{
    std::vector<Bytes> sent;
    for (unsigned size : {1, 0, 17, 2, 300, 5})
        sent.push_back(pattern(size, unsigned(sent.size())));
    Bytes stream = stream_of(sent);
    // Cut in two at every position (0: all in one read).
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        Rig r;
        r.feed(Bytes(stream.begin(), stream.begin() + cut));
        r.feed(Bytes(stream.begin() + cut, stream.end()));
        ASSERT_EQ(r.frames, sent) << "cut at " << cut;
        ASSERT_FALSE(r.down);
    }
}
