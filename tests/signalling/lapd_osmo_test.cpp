// Interworking with an independent Q.921 implementation: libosmocore's
// LAPD core as the network side, on the same hand-driven clock, over a wire
// that can lose frames both ways.
//
// libosmocore rejects every second out-of-sequence I frame, not once per
// exception, and answers no enquiry while it waits for the rejected frame.
#include "lapd_rig.h"
#include "samples/lapd/osmo_peer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

using namespace lapdtest;
using namespace ISDN;

namespace {

// Whether the wire loses a frame, given its direction.
typedef std::function<bool(bool from_user, Bytes const& frame)> Loss;

Bytes message(unsigned i, bool from_user)
{
    return {0x08, 0x01, uint8_t(from_user ? i & 0x7F : i | 0x80), 0x7B, uint8_t(i >> 7)};
}

class LapdOsmo : public Clocked
{
protected:
    void SetUp() override
    {
        Clocked::SetUp();
        osmopeer::clock_start();
    }
    void TearDown() override
    {
        rig.reset();
        peer.reset();
        Clocked::TearDown();
    }
    // The wire: a frame sent in one 10 ms step arrives in the next.
    void tick(unsigned ms)
    {
        for (unsigned i = 0; i < ms; i += 10) {
            osmopeer::clock_advance(10);
            advance(10);
            step();
        }
    }
    // Delivers what both sides have sent; true when something moved.
    bool step()
    {
        std::vector<Bytes> up, down;
        up.swap(rig->channel.sent);
        down.swap(peer->sent);
        for (Bytes const& f : up)
            if (!lose || !lose(true, f)) {
                EXPECT_TRUE(peer->receive(f.data(), f.size())) << hex(f);
            }
        for (Bytes const& f : down) {
            Packet p = packet(f);
            if (!lose || !lose(false, f))
                rig->link->receive(p);
        }
        frames += unsigned(up.size() + down.size());
        return !up.empty() || !down.empty();
    }
    void pump()
    {
        while (step()) {
        }
    }
    void establish()
    {
        rig.reset(new Rig);
        peer.reset(new osmopeer::Peer(LAPD_MODE_NETWORK, "network"));
        rig->link->activate();
        pump();
        ASSERT_EQ(rig->link->get_state(), multiple_frame_established);
        EXPECT_EQ(rig->reports(), std::vector<std::string>{"up"});
        EXPECT_EQ(peer->events, std::vector<std::string>{"est.ind"});
    }
    // n messages each way, offered while few wait; each must arrive once
    // and in order. Returns the frames both sides sent.
    unsigned exchange(unsigned n, Loss loss)
    {
        rig->messages.clear();
        peer->messages.clear();
        frames = 0;
        lose = loss;
        unsigned to_net = 0, to_user = 0;
        // A bound on time and frames: a storm fails here, not in memory.
        for (int t = 0; t < 20000 && frames < 100000; ++t) {
            while (to_net < n && rig->link->queued() < 16)
                rig->send(message(to_net++, true));
            while (to_user < n && llist_count(&peer->dl.send_queue) < 16) {
                Bytes m = message(to_user++, false);
                peer->send(m.data(), m.size());
            }
            if (rig->messages.size() == n && peer->messages.size() == n && !rig->link->unacknowledged())
                break;
            tick(10);
        }
        lose = nullptr;
        EXPECT_EQ(rig->reports(), std::vector<std::string>{}); // no re-establishment
        EXPECT_EQ(peer->messages.size(), n);
        EXPECT_EQ(rig->messages.size(), n);
        for (unsigned i = 0; i < n && i < peer->messages.size() && i < rig->messages.size(); ++i) {
            EXPECT_EQ(peer->messages[i], message(i, true)) << i;
            EXPECT_EQ(rig->messages[i], message(i, false)) << i;
        }
        return frames;
    }

    std::unique_ptr<Rig> rig;
    std::unique_ptr<osmopeer::Peer> peer;
    unsigned frames = 0;
    Loss lose;
};

TEST_F(LapdOsmo, ExchangeIdleAndRelease)
{
    establish();
    exchange(200, nullptr);

    // Idle: T203 enquiries are answered and the link stays up.
    tick(LAPD::T203 * 2);
    EXPECT_EQ(rig->link->get_state(), multiple_frame_established);

    rig->link->deactivate();
    pump();
    EXPECT_EQ(rig->link->get_state(), tei_assigned);
    EXPECT_EQ(rig->reports(), std::vector<std::string>{"down:success (UA received)"});
    EXPECT_EQ(peer->events.back(), "rel.ind");
}

TEST_F(LapdOsmo, LossBothWaysDeliversEveryMessageOnce)
{
    establish();
    unsigned const lossless = exchange(500, nullptr);

    // Only the user's first I frame lost: the peer's repeated rejects must
    // not start a retransmission storm.
    establish();
    bool lost = false;
    unsigned const first = exchange(500, [&](bool from_user, Bytes const& f) {
        if (!from_user || (f[2] & 1) || lost)
            return false;
        lost = true;
        return true;
    });
    EXPECT_LE(first, 3 * lossless);

    // Re-established after the traffic, the link carries I frames again.
    rig->link->activate();
    pump();
    EXPECT_EQ(rig->reports(), std::vector<std::string>{"up"});
    exchange(20, nullptr);
}

// Every frame kind lost either way, the peer's REJ and RR too. When every
// REJ for a gap is lost the peer waits in its reject condition, answering no
// enquiry: the last I frame sent again with P = 1 draws its REJ instead.
TEST_F(LapdOsmo, LostRejectsRecoverWithoutReestablishment)
{
    establish();
    unsigned const lossless = exchange(100, nullptr);
    for (unsigned every : {12u, 8u})
        for (unsigned seed = 0; seed < 20; ++seed) {
            SCOPED_TRACE("1 in " + std::to_string(every) + ", seed " + std::to_string(seed));
            establish();
            std::mt19937 rng(seed);
            EXPECT_LE(exchange(100, [&](bool, Bytes const&) { return rng() % every == 0; }), 3 * lossless);
        }
}

} // namespace
