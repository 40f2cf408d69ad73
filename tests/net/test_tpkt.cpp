// TPKT framing with packets alone: what goes on the wire, how any slicing
// of the stream is put back together, and which headers end the link.
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
    void list_on_message(Packet& p) override
    {
        frames.push_back(bytes(p));
        if (stop_after && frames.size() == stop_after)
            tpkt->deactivate();
    }
    void list_transmit(Packet& p) override { wire.push_back(bytes(p)); }
    void list_on_status(Protocol*, Protocol_status s) override
    {
        std::ostringstream os;
        os << s;
        statuses.push_back(os.str());
    }
    void feed(Bytes const& b)
    {
        Packet p = packet(b);
        tpkt->receive(p);
    }

    Tpkt_protocol* tpkt;
    size_t stop_after = 0;
    std::vector<Bytes> frames, wire;
    std::vector<std::string> downs, statuses;
};

} // namespace

TEST(TpktSend, HeaderCountsItselfAndMissingRoomIsMadeUp)
{
    Rig r;
    Packet p;
    r.tpkt->prepare_head(p);
    p.put8(0xAA);
    p.put8(0xBB);
    r.tpkt->message(p);
    // No head room: the payload is copied behind a fresh header, the
    // caller's copy untouched.
    Packet bare = packet(pattern(300, 1));
    Packet kept = bare;
    r.tpkt->message(bare);
    Packet empty;
    r.tpkt->message(empty);
    Packet big = packet(pattern(Tpkt_protocol::max_payload, 2), 4);
    r.tpkt->message(big);
    ASSERT_EQ(r.wire.size(), 4u);
    EXPECT_EQ(r.wire[0], (Bytes{3, 0, 0, 6, 0xAA, 0xBB}));
    EXPECT_EQ(r.wire[1], frame(pattern(300, 1)));
    EXPECT_EQ(bytes(kept), pattern(300, 1));
    EXPECT_EQ(r.wire[2], (Bytes{3, 0, 0, 4}));
    EXPECT_EQ(r.wire[3], frame(pattern(Tpkt_protocol::max_payload, 2)));

    // One octet more cannot be framed: refused with a report, nothing sent.
    Packet over = packet(pattern(Tpkt_protocol::max_payload + 1, 3), 4);
    r.tpkt->message(over);
    EXPECT_EQ(r.wire.size(), 4u);
    EXPECT_EQ(r.statuses, std::vector<std::string>{"TPKT: payload of 65532 octets does not fit a frame"});
    EXPECT_TRUE(r.downs.empty());
}

TEST(TpktReceive, FramesComeWholeAndInOrderHoweverTheStreamIsCut)
{
    std::vector<Bytes> sent;
    Bytes stream;
    for (unsigned size : {1, 0, 17, 2, 300, 5}) {
        sent.push_back(pattern(size, unsigned(sent.size())));
        Bytes f = frame(sent.back());
        stream.insert(stream.end(), f.begin(), f.end());
    }
    // One octet per read.
    Rig one;
    for (unsigned char c : stream)
        one.feed(Bytes{c});
    EXPECT_EQ(one.frames, sent);
    // Cut in two at every position (0: all in one read).
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        Rig r;
        r.feed(Bytes(stream.begin(), stream.begin() + cut));
        r.feed(Bytes(stream.begin() + cut, stream.end()));
        ASSERT_EQ(r.frames, sent) << "cut at " << cut;
        ASSERT_TRUE(r.downs.empty());
    }
}

TEST(TpktReceive, BadHeaderOrStopInsideDeliveryEndsTheReadAndForgetsTheRest)
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

    // The owner stopping inside a delivery drops the rest of that read.
    Rig s;
    s.stop_after = 2;
    Bytes five;
    for (unsigned char i = 0; i < 5; ++i) {
        Bytes f = frame(Bytes{i});
        five.insert(five.end(), f.begin(), f.end());
    }
    s.feed(five);
    EXPECT_EQ(s.frames.size(), 2u);
    EXPECT_EQ(s.downs, std::vector<std::string>{"success: TPKT: deactivated"});

    // A partial frame is forgotten on deactivation.
    Rig q;
    q.feed(Bytes{3, 0, 0, 9, 1, 2});
    q.tpkt->deactivate();
    q.tpkt->activate();
    q.feed(frame(Bytes{7}));
    EXPECT_EQ(q.frames, std::vector<Bytes>{Bytes{7}});
}
