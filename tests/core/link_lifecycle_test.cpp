#include "link_fixture.h"

#include "tests/frozen_clock.h"

namespace {

using namespace test;

// Slots made from `ext` parameters that finish their destroy only when the
// test says so.
class LateSlot : public Slot {
public:
    using Slot::Slot;
    const char* GetName() const override { return "late"; }
    bool IBeforeDestroy() override { return false; }
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return 8192 + 1000; }
    int IGetReceiveChannel() override { return 8192 + 1000; }
};

class LateFactory : public SlotFactory {
public:
    const char* GetName() const override { return "late"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override
    {
        // Made without naming its factory: the table records it.
        return params.ext_isSelected() ? new LateSlot : nullptr;
    }
};

LGCP::Message CreateLate(unsigned seq, int slot)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::ExtParams& ext = Body(m).select_create().select_ext();
    ext.set_transmitter(0);
    ext.set_receiver(0);
    return m;
}

LGCP::Message Destroy(unsigned seq, int slot)
{
    LGCP::Message m = Command(seq, slot);
    Body(m).select_destroy();
    return m;
}

class LifecycleTest : public LinkFixture {
protected:
    LateFactory late;
};

TEST_F(LifecycleTest, DeferredDestroyIsAnsweredLaterWithTheOriginalSequenceNumber)
{
    ExpectAnswer(Exchange(CreateLate(1, 20))[0], 1, 20);
    Exchange(CreateMap(2, 21, 7), 3);
    ExpectAnswer(Exchange(Connect(3, 21, {20}))[0], 3, 21);
    EXPECT_EQ(sw.Source(9192), 8199);

    // No answer yet, but the switch is already let go.
    EXPECT_TRUE(client.Send(Encode(Destroy(77, 20))));
    ExpectQuiet();
    Slot* slot = Slots::instance().Find(20);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->GetSlotFactory(), &late);
    EXPECT_EQ(late.slots(), std::vector<Slot*>{slot});
    EXPECT_TRUE(slot->is_releasing());
    EXPECT_TRUE(sw.Connections().empty());

    // Meanwhile the slot takes no command and its number no new slot.
    ExpectAnswer(Exchange(Destroy(78, 20))[0], 78, 20, LGCP::ErrorCause::destroyInProgress);
    ExpectAnswer(Exchange(Connect(79, 21, {20}))[0], 79, 21, LGCP::ErrorCause::destroyInProgress);
    ExpectAnswer(Exchange(CreateMap(80, 20, 9))[0], 80, 20, LGCP::ErrorCause::destroyInProgress);

    slot->on_release();
    ExpectAnswer(Receive(1)[0], 77, 20);
    EXPECT_EQ(Slots::instance().Find(20), nullptr);
    EXPECT_TRUE(late.slots().empty());
    ExpectAnswer(Exchange(CreateLate(81, 20))[0], 81, 20);
}

TEST_F(LifecycleTest, LosingTheControllerDestroysEverySlotAndVoidsLateAnswers)
{
    ExpectAnswer(Exchange(CreateLate(1, 5))[0], 1, 5);
    Exchange(CreateE1(2, 6, 4, 31), 3);
    Exchange(CreateMap(3, 7, 2047), 3);
    ExpectAnswer(Exchange(Connect(4, 7, {6, 5}))[0], 4, 7);
    EXPECT_EQ(sw.Connections().size(), 2u);
    EXPECT_TRUE(client.Send(Encode(Destroy(5, 5))));
    ExpectQuiet();

    client.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
    EXPECT_TRUE(sw.Connections().empty());
    EXPECT_TRUE(sw.IsIdle(8192 + 3 * 128 + 31));
    EXPECT_EQ(Slots::instance().count(), 1u); // the late one, still releasing

    // The next controller is served; the old answer never reaches it.
    Reconnect();
    Slot* slot = Slots::instance().Find(5);
    ASSERT_NE(slot, nullptr);
    slot->on_release();
    EXPECT_EQ(Slots::instance().count(), 0u);
    ExpectAnswer(Exchange(Ping(6))[0], 6, -1);
    ExpectQuiet();
}

// The daemon's own period, on a clock the test moves: two minutes from the
// connection or from the last command, whatever command it was; then the
// controller is cut off, its slots go, and the next one is served.
TEST_F(LinkFixture, TwoMinutesWithoutACommandCutTheControllerOff)
{
    Exchange(CreateE1(1, 1, 1, 1), 3);
    CtrlSrv::Heartbeat daemons;
    server.Bind(daemons);
    {
        FrozenClock clock;
        daemons.OnConnect();
        clock.at(119999);
        EXPECT_FALSE(daemons.OnCommand(CreateMap(1, 2, 3)));
        clock.at(239998);
        EXPECT_TRUE(server.IsConnected());
        clock.at(239999);
        EXPECT_FALSE(server.IsConnected());
        EXPECT_EQ(Slots::instance().count(), 0u);
    }
    ASSERT_TRUE(loop.RunUntil([&] { return client.Closed(); }));
    Reconnect();
    ExpectServing(4);
    EXPECT_TRUE(daemons.is_running());
}

} // namespace
