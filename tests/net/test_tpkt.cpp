// TPKT framing with packets alone: how any slicing of the stream is put
// back together, and what ends a read.
#include "net/tpkt.h"

#include "net_util.h"

#include <gtest/gtest.h>

using namespace nettest;

namespace {

// TPKT alone in a list whose owner records both exits.
class Rig : public ProtocolsList
{
public:
    Rig()
    {
        tpkt = new Tpkt_protocol;
        add_protocol_tail(tpkt);
        tpkt->activate();
    }
    void on_deactivated(Protocol*, Protocol_status s) override
    {
        std::ostringstream os;
        os << (s->is_error() ? "error: " : "success: ") << s;
        downs.push_back(os.str());
    }
    void list_on_message(Packet& p) override { frames.push_back(bytes(p)); }
    void feed(Bytes const& b)
    {
        Packet p = packet(b);
        tpkt->receive(p);
    }

    Tpkt_protocol* tpkt;
    std::vector<Bytes> frames;
    std::vector<std::string> downs;
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
        ASSERT_TRUE(r.downs.empty());
    }
}

TEST(TpktReceive, BadHeaderEndsTheReadAndForgetsTheRest)
{
    // A header broken across reads is judged once complete; nothing more
    // is taken until activated again, and then nothing is left over.
    Rig r;
    r.feed(frame(Bytes{1}));
    r.feed(Bytes{3, 0});
    EXPECT_TRUE(r.downs.empty());
    r.feed(Bytes{0, 2, 3, 0, 0, 5, 2});
    EXPECT_EQ(r.downs, std::vector<std::string>{"error: TPKT: bad frame length 2"});
    r.feed(frame(Bytes{3}));
    r.tpkt->activate();
    r.feed(frame(Bytes{4}));
    EXPECT_EQ(r.frames, (std::vector<Bytes>{Bytes{1}, Bytes{4}}));
}
