// Interworking with an independent Q.921 implementation: libosmocore's
// LAPD core as the network side, on the same hand-driven clock.
#include "lapd_rig.h"
#include "samples/lapd/osmo_peer.h"

#include <gtest/gtest.h>

#include <memory>

using namespace lapdtest;
using namespace ISDN;

namespace {

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
        owner.reset();
        Clocked::TearDown();
    }
    void tick(unsigned ms)
    {
        for (unsigned i = 0; i < ms; i += 50) {
            osmopeer::clock_advance(50);
            advance(50);
            pump();
        }
    }
    // Frames both ways until the wire is quiet.
    void pump()
    {
        for (bool moved = true; moved;) {
            moved = false;
            std::vector<Bytes> up;
            up.swap(rig.channel.sent);
            for (Bytes const& f : up) {
                moved = true;
                EXPECT_TRUE(peer.receive(f.data(), f.size())) << hex(f);
            }
            std::vector<Bytes> down;
            down.swap(peer.sent);
            for (Bytes const& f : down) {
                moved = true;
                Packet p = packet(f);
                rig.link->receive(p);
            }
        }
    }

    std::unique_ptr<Rig> owner{new Rig};
    Rig& rig = *owner;
    osmopeer::Peer peer{LAPD_MODE_NETWORK, "network"};
};

TEST_F(LapdOsmo, EstablishExchangeAndRelease)
{
    rig.link->activate();
    pump();
    ASSERT_EQ(rig.link->get_state(), multiple_frame_established);
    EXPECT_EQ(rig.reports(), std::vector<std::string>{"up"});
    EXPECT_EQ(peer.events, std::vector<std::string>{"est.ind"});

    // 200 I frames each way, then every frame acknowledged.
    for (unsigned i = 0; i < 200; ++i) {
        unsigned char m[] = {0x08, 0x01, uint8_t(i), 0x7B, uint8_t(i >> 8)};
        rig.send(Bytes(m, m + sizeof m));
        m[2] |= 0x80;
        peer.send(m, sizeof m);
        pump();
    }
    tick(LAPD::T200 * 2);
    ASSERT_EQ(peer.messages.size(), 200u);
    ASSERT_EQ(rig.messages.size(), 200u);
    for (unsigned i = 0; i < 200; ++i) {
        EXPECT_EQ(peer.messages[i], (Bytes{0x08, 0x01, uint8_t(i), 0x7B, uint8_t(i >> 8)}));
        EXPECT_EQ(rig.messages[i], (Bytes{0x08, 0x01, uint8_t(i | 0x80), 0x7B, uint8_t(i >> 8)}));
    }
    EXPECT_EQ(rig.link->unacknowledged(), 0u);
    EXPECT_EQ(rig.link->stats().errors, 0u);
    EXPECT_EQ(rig.link->stats().nr_errors, 0u);

    // Idle: T203 enquiries are answered and the link stays up.
    tick(LAPD::T203 * 2);
    EXPECT_EQ(rig.link->get_state(), multiple_frame_established);

    rig.link->deactivate();
    pump();
    EXPECT_EQ(rig.link->get_state(), tei_assigned);
    EXPECT_EQ(rig.reports(), std::vector<std::string>{"down:success (UA received)"});
    EXPECT_EQ(peer.events.back(), "rel.ind");
}

} // namespace
