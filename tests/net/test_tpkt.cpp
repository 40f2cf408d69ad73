// TPKT framing with packets alone: what goes on the wire, how any slicing
// of the stream is put back together, and which headers end the link.
#include "net/tpkt.h"

#include "net_util.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

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
    void on_activated(Protocol*) override { ++activated; }
    void on_deactivated(Protocol*, Protocol_status s) override
    {
        std::ostringstream os;
        os << s;
        downs.push_back(std::string(s->is_error() ? "error: " : "success: ") + os.str());
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
    int activated = 0;
    size_t stop_after = 0;
    std::vector<Bytes> frames, wire;
    std::vector<std::string> downs, statuses;
};

} // namespace

TEST(TpktSend, HeaderCountsItselfAndMissingRoomIsMadeUp)
{
    Rig r;
    EXPECT_EQ(r.activated, 1);

    Packet p;
    r.tpkt->prepare_head(p);
    EXPECT_EQ(p._headroom(), 4u);
    p.put8(0xAA);
    p.put8(0xBB);
    r.tpkt->message(p);
    ASSERT_EQ(r.wire.size(), 1u);
    EXPECT_EQ(r.wire[0], (Bytes{3, 0, 0, 6, 0xAA, 0xBB}));

    // No head room at all: the payload is copied behind a fresh header.
    Packet bare = packet(pattern(300, 1));
    Packet kept = bare;
    r.tpkt->message(bare);
    ASSERT_EQ(r.wire.size(), 2u);
    EXPECT_EQ(r.wire[1], frame(pattern(300, 1)));
    EXPECT_EQ(bytes(kept), pattern(300, 1));

    // Empty payload and the largest one.
    Packet empty;
    r.tpkt->message(empty);
    ASSERT_EQ(r.wire.size(), 3u);
    EXPECT_EQ(r.wire[2], (Bytes{3, 0, 0, 4}));

    Packet big = packet(pattern(Tpkt_protocol::max_payload, 2), 4);
    r.tpkt->message(big);
    ASSERT_EQ(r.wire.size(), 4u);
    EXPECT_EQ(r.wire[3].size(), 65535u);
    EXPECT_EQ(r.wire[3][2], 0xFF);
    EXPECT_EQ(r.wire[3][3], 0xFF);

    // One octet more cannot be framed: refused with a report, nothing sent.
    Packet over = packet(pattern(Tpkt_protocol::max_payload + 1, 3), 4);
    r.tpkt->message(over);
    EXPECT_EQ(r.wire.size(), 4u);
    ASSERT_EQ(r.statuses.size(), 1u);
    EXPECT_EQ(r.statuses[0], "TPKT: payload of 65532 octets does not fit a frame");
    EXPECT_TRUE(r.downs.empty());
    EXPECT_EQ(r.tpkt->frames_out(), 4u);
}

TEST(TpktReceive, FramesComeWholeAndInOrderHoweverTheStreamIsCut)
{
    Bytes stream;
    std::vector<Bytes> sent;
    unsigned sizes[] = {1, 0, 17, 2, 300, 5};
    for (unsigned i = 0; i < sizeof(sizes) / sizeof(sizes[0]); ++i) {
        sent.push_back(pattern(sizes[i], i));
        Bytes f = frame(sent.back());
        stream.insert(stream.end(), f.begin(), f.end());
    }

    // Everything in one read.
    {
        Rig r;
        r.feed(stream);
        EXPECT_EQ(r.frames, sent);
        EXPECT_TRUE(r.downs.empty());
    }
    // One octet per read.
    {
        Rig r;
        for (unsigned char c : stream)
            r.feed(Bytes{c});
        EXPECT_EQ(r.frames, sent);
    }
    // Cut in two at every position.
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        Rig r;
        r.feed(Bytes(stream.begin(), stream.begin() + cut));
        r.feed(Bytes(stream.begin() + cut, stream.end()));
        ASSERT_EQ(r.frames, sent) << "cut at " << cut;
    }
}

TEST(TpktReceive, BrokenHeadersTakeTheLinkDownWithTheirReason)
{
    struct Case
    {
        Bytes wire;
        char const* reason;
    } cases[] = {
        {{3, 0, 0, 0}, "error: TPKT: bad frame length 0"},
        {{3, 0, 0, 3}, "error: TPKT: bad frame length 3"},
        {{2, 0, 0, 8, 1, 2, 3, 4}, "error: TPKT: bad frame version 2"},
        {{'G', 'E', 'T', ' ', '/'}, "error: TPKT: bad frame version 71"},
    };
    for (Case const& c : cases) {
        Rig r;
        // A good frame first: it still arrives.
        Bytes s = frame(Bytes{1});
        s.insert(s.end(), c.wire.begin(), c.wire.end());
        s.insert(s.end(), {3, 0, 0, 5, 2});
        r.feed(s);
        EXPECT_EQ(r.frames, std::vector<Bytes>{Bytes{1}}) << c.reason;
        ASSERT_EQ(r.downs, std::vector<std::string>{c.reason});
        // Down means down: nothing more is taken.
        r.feed(frame(Bytes{3}));
        EXPECT_EQ(r.frames.size(), 1u);
        // Until it is activated again, with nothing left over.
        r.tpkt->activate();
        r.feed(frame(Bytes{4}));
        EXPECT_EQ(r.frames.back(), Bytes{4});
    }

    // A header broken across reads is judged once complete.
    Rig r;
    r.feed(Bytes{3, 0});
    EXPECT_TRUE(r.downs.empty());
    r.feed(Bytes{0});
    r.feed(Bytes{2});
    EXPECT_EQ(r.downs, std::vector<std::string>{"error: TPKT: bad frame length 2"});
}

TEST(TpktReceive, OwnerStoppingInsideDeliveryStopsTheRestOfTheRead)
{
    Rig r;
    r.stop_after = 2;
    Bytes s;
    for (unsigned i = 0; i < 5; ++i) {
        Bytes f = frame(Bytes{(unsigned char)i});
        s.insert(s.end(), f.begin(), f.end());
    }
    r.feed(s);
    EXPECT_EQ(r.frames.size(), 2u);
    ASSERT_EQ(r.downs.size(), 1u);
    EXPECT_EQ(r.downs[0], "success: TPKT: deactivated");

    // A partial frame is forgotten on deactivation.
    Rig q;
    q.feed(Bytes{3, 0, 0, 9, 1, 2});
    q.tpkt->deactivate();
    q.tpkt->activate();
    q.feed(frame(Bytes{7}));
    EXPECT_EQ(q.frames, std::vector<Bytes>{Bytes{7}});
}
