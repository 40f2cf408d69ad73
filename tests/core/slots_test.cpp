#include "test_slots.h"

namespace {

using test::SlotFixture;
using J = std::vector<std::string>;

class SlotsTest : public SlotFixture {};

TEST_F(SlotsTest, ConnectReconnectsAndDisconnectsThroughTheSwitch)
{
    Slots& slots = Slots::instance();
    auto& map = make(10, 8192 + 2000);
    auto& e1 = make(11, 8192 + 33);
    auto& other = make(12, 8192 + 34);
    auto& third = make(13, 8192 + 35);

    EXPECT_EQ(slots.Connect(10, {11, 13}), Answer::success);
    EXPECT_EQ(sw.Connections(), (std::map<int, int>{{8225, 10192}, {8227, 10192}}));
    // Connecting again is no change.
    journal.clear();
    EXPECT_EQ(slots.Connect(10, {11}), Answer::success);
    EXPECT_TRUE(journal.empty());

    // A receiver fed by another source is disconnected first.
    EXPECT_EQ(slots.Connect(12, {11}), Answer::success);
    EXPECT_EQ(e1.GetSource(), &other);
    EXPECT_EQ(sw.Source(8225), 8226);
    EXPECT_EQ(map.GetReceivers(), (std::vector<Slot*>{&third}));

    // Failing that, the reconnection fails and the old feed stays.
    other.unhw = false;
    EXPECT_EQ(slots.Connect(10, {11}), Answer::reconnectionFail);
    EXPECT_EQ(e1.GetSource(), &other);
    other.unhw = true;

    e1.hw = false;
    e1.input = true;
    EXPECT_EQ(slots.Disconnect(11), Answer::success);
    EXPECT_EQ(slots.Connect(10, {11}), Answer::connectFail);
    e1.hw = true;

    third.unhw = false;
    map.unhw = false;
    EXPECT_EQ(slots.Disconnect(13), Answer::disconnectFail);
    EXPECT_EQ(slots.Disconnect(11), Answer::success); // no source: nothing to undo
    map.unhw = third.unhw = true;
    EXPECT_EQ(slots.Disconnect(13), Answer::success);
    EXPECT_TRUE(sw.Connections().empty());
    EXPECT_TRUE(sw.IsIdle(8227));
}

TEST_F(SlotsTest, DestroyUndoesConnectionsAndLosingTheLinkDestroysNewestFirst)
{
    Slots& slots = Slots::instance();
    auto& first = make(5, 8500);
    auto& second = make(3, 8501);
    auto& third = make(9, 8502);
    auto& deferred = make(1, 8503);
    ASSERT_EQ(slots.Connect(5, {3, 9}), Answer::success);
    ASSERT_EQ(slots.Connect(9, {1}), Answer::success);
    (void)first;
    (void)second;
    (void)third;

    // Destroying a source leaves its receivers unfed and idle.
    EXPECT_EQ(slots.Destroy(5), Answer::success);
    EXPECT_EQ(second.GetSource(), nullptr);
    EXPECT_TRUE(sw.IsIdle(8501));
    EXPECT_TRUE(sw.IsIdle(8502));

    deferred.destroyNow = false;
    make(7, 8504);
    journal.clear();
    slots.DestroyAll();
    EXPECT_EQ(journal, (J{"7.destroy", "9.unTx", "1.inRel", "9.outRel", "1.destroy", "9.destroy", "3.destroy"}));
    EXPECT_TRUE(sw.Connections().empty());
    EXPECT_EQ(slots.count(), 1u);
    EXPECT_TRUE(deferred.is_releasing());

    // A deferred destroy still ends; its slot number is then free.
    deferred.on_release();
    EXPECT_EQ(slots.count(), 0u);
    EXPECT_TRUE(factory.slots().empty());
    // on_release of a slot that is not releasing does nothing.
    auto& live = make(2, 8505);
    live.on_release();
    EXPECT_EQ(slots.Find(2), &live);
}

} // namespace
