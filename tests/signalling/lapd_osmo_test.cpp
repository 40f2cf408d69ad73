// Interworking with an independent Q.921 implementation: libosmocore's
// LAPD core as the network side of our user side, and as a terminal of our
// BRI network side, on the same hand-driven clock, over a wire that can
// limit the rate, queue frames and lose them both ways.
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
typedef std::function<bool(bool from_ours, Bytes const& frame)> Loss;

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
        run.reset();
        ours.reset();
        peer.reset();
        Clocked::TearDown();
    }
    void tick(unsigned ms) { run->tick(ms); }
    void pump() { run->pump(); }
    // Our user side against the peer as network, or our network side
    // against the peer as the terminal of TEI 64; up, on a line without
    // limit, with the first message of the terminal taken.
    void establish(bool network)
    {
        run.reset();
        peer.reset(new osmopeer::Peer(network ? LAPD_MODE_USER : LAPD_MODE_NETWORK));
        if (network)
            ours.reset(new NtRig);
        else
            ours.reset(new Rig);
        run.reset(new lapdwire::Run(*ours, *peer, [this](unsigned ms) {
            osmopeer::clock_advance(ms);
            advance(ms);
        }));
        if (network) {
            auto& nt = static_cast<NtRig&>(*ours);
            nt.nt->activate();
            nt.inject("FC FF 03 0F 01 00 01 FF"); // identity request
            pump();
            peer->offer(lapdwire::message(0, false));
        } else {
            static_cast<Rig&>(*ours).link->activate();
        }
        pump();
        EXPECT_EQ(ours->messages.size(), unsigned(network));
        EXPECT_EQ(ours->reports(), std::vector<std::string>{"up"});
        EXPECT_EQ(peer->events, std::vector<std::string>{"est.ind"});
        peer->events.clear();
    }
    // n messages each way over lines of bps with a transmit queue of
    // queue_ms. Each must arrive once and in order, or the side that lost
    // it must have said so. Returns the frames both sides sent;
    // reestablished tells whether either side started anew.
    unsigned exchange(unsigned n, Loss loss, unsigned bps = 0, unsigned queue_ms = 0)
    {
        ours->messages.clear();
        peer->messages.clear();
        run->frames = 0;
        run->ab = run->ba = lapdwire::Line(bps, queue_ms);
        if (loss) {
            run->ab.lose = [loss](Bytes const& f) { return loss(true, f); };
            run->ba.lose = [loss](Bytes const& f) { return loss(false, f); };
        }
        run->exchange(n);
        run->ab = run->ba = lapdwire::Line();
        std::vector<std::string> said = ours->reports();
        reestablished = !said.empty() || !peer->events.empty();
        delivered(peer->messages, n, true, !said.empty());
        delivered(ours->messages, n, false, !peer->events.empty());
        peer->events.clear();
        EXPECT_EQ(peer->unreadable, 0u);
        return run->frames;
    }
    void delivered(std::vector<Bytes> const& got, unsigned n, bool from_ours, bool reported)
    {
        unsigned next = 0;
        for (Bytes const& m : got) {
            while (next < n && m != lapdwire::message(next, from_ours))
                ++next;
            ASSERT_LT(next++, n) << "out of order or twice: " << hex(m);
        }
        if (got.size() < n) {
            EXPECT_TRUE(reported) << n - got.size() << " lost unreported, from " << (from_ours ? "ours" : "peer");
        }
    }
    // At 16 kbit/s with a 500 ms transmit queue: runs that each lose the
    // first frame of one kind one way cost less than twice the frames of a
    // lossless run; with one frame in twelve lost each way, of every kind,
    // nearly every run ends without starting the link anew.
    void under_loss(bool network)
    {
        establish(network);
        unsigned const lossless = exchange(200, nullptr, 16000, 500);
        for (uint8_t control : {0x00, 0x01, 0x09}) // I, RR, REJ
            for (bool way : {true, false}) {
                establish(network);
                bool lost = false, gap = control != 0x09; // a REJ needs a lost I frame first
                unsigned const f = exchange(200, [&](bool from_ours, Bytes const& b) {
                    if (!gap && from_ours != way && !(b[2] & 1))
                        return gap = true;
                    bool is = control ? b[2] == control : !(b[2] & 1);
                    return from_ours == way && is && !lost && (lost = true);
                }, 16000, 500);
                // Our network side sends no RR here: its I frames acknowledge.
                EXPECT_TRUE(lost || (network && control == 0x01 && way));
                EXPECT_LE(f, 2 * lossless) << unsigned(control) << (way ? " from ours" : " from peer");
                EXPECT_FALSE(reestablished);
            }
        unsigned clean = 0;
        for (unsigned seed = 1; seed <= 20; ++seed) {
            establish(network);
            std::mt19937 rng(seed);
            unsigned const f = exchange(200, [&](bool, Bytes const&) { return rng() % 12 == 0; }, 16000, 500);
            EXPECT_LE(f, 3 * lossless) << seed;
            clean += !reestablished;
        }
        EXPECT_GE(clean, 18u);
    }

    std::unique_ptr<Endpoint> ours;
    std::unique_ptr<osmopeer::Peer> peer;
    std::unique_ptr<lapdwire::Run> run;
    bool reestablished = false;
};

TEST_F(LapdOsmo, UserSideUnderLossIdleAndRelease)
{
    under_loss(false);

    // Re-established after the traffic, the link carries I frames again.
    Rig& rig = static_cast<Rig&>(*ours);
    EXPECT_GT(rig.link->stats().retransmitted, 0u);
    rig.link->activate();
    pump();
    EXPECT_EQ(rig.reports(), std::vector<std::string>{"up"});
    exchange(20, nullptr);

    // Idle: T203 enquiries are answered and the link stays up.
    tick(LAPD::T203 * 2);
    EXPECT_EQ(rig.link->get_state(), multiple_frame_established);
    rig.link->deactivate();
    pump();
    EXPECT_EQ(rig.link->get_state(), tei_assigned);
    EXPECT_EQ(rig.reports(), std::vector<std::string>{"down:success (UA received)"});
    EXPECT_EQ(peer->events.back(), "rel.ind");
}

TEST_F(LapdOsmo, NetworkSideUnderLoss)
{
    under_loss(true);
}

// Every frame kind lost either way, the peer's REJ and RR too. When every
// REJ for a gap is lost the peer waits in its reject condition, answering no
// enquiry: the last I frame sent again with P = 1 draws its REJ instead.
TEST_F(LapdOsmo, LostRejectsRecoverWithoutReestablishment)
{
    establish(false);
    unsigned const lossless = exchange(100, nullptr);
    for (unsigned every : {12u, 8u})
        for (unsigned seed = 0; seed < 20; ++seed) {
            SCOPED_TRACE("1 in " + std::to_string(every) + ", seed " + std::to_string(seed));
            establish(false);
            std::mt19937 rng(seed);
            EXPECT_LE(exchange(100, [&](bool, Bytes const&) { return rng() % every == 0; }), 3 * lossless);
            EXPECT_FALSE(reestablished);
        }
}

} // namespace
