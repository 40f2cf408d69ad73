// ISDN and QSIG D-channel slots and QSIG B channels through the controller
// link, on the simulated MCC channels and DSP data device.

#include "tests/signalling/slot_link.h"

namespace {

using namespace tdmtest;

LGCP::Message CreateQsig(unsigned seq, int slot)
{
    return Do(seq, slot, [](LGCP::Command& c) { c.select_create().select_ats_qsig().get_side().select_user(); });
}

LGCP::Message CreateQsigB(unsigned seq, int slot, int dslot, int subslot)
{
    return Do(seq, slot, [&](LGCP::Command& c) {
        auto& p = c.select_create().select_ats_qsig_b();
        p.set_slot(static_cast<unsigned>(dslot));
        p.set_subslot(static_cast<unsigned>(subslot));
    });
}

class IsdnSlots : public SlotLink {
protected:
    // The slot's D channel time slot.
    int Make(unsigned seq, int slot, bool bri, bool network)
    {
        ExpectAnswer(Exchange(CreateIsdn(seq, slot, bri, network))[0], seq, slot);
        return Slots::instance().Find(slot)->GetTransmitChannel();
    }
    IsdnSlot* Find(int slot) { return dynamic_cast<IsdnSlot*>(Slots::instance().Find(slot)); }
};

TEST_F(IsdnSlots, BriChannelsAndTheNetworkSide)
{
    int user = Make(1, 5, true, false);
    EXPECT_EQ(mcc.At(user)->kind, 1u);
    // The network side of a BRI asks its terminals for their TEIs.
    int net = Make(2, 6, true, true);
    EXPECT_EQ(mcc.At(net)->kind, 1u);
    auto got = Exchange(Activate(3, 6), 2);
    EXPECT_TRUE(SignalOf(got[0]).activated_isSelected());
    EXPECT_EQ(Written(net, 1), (std::vector<Frame>{{0xFE, 0xFF, 0x03, 0x0F, 0, 0, 0x04, 0xFF}}));

    // Every failure of the set-up leaves nothing held.
    board.Prune();
    size_t held = mcc.free();
    board.FailOpen("/dev/mcc/ctl", ENODEV);
    ExpectAnswer(Exchange(CreateIsdn(4, 7, false, false))[0], 4, 7, LGCP::ErrorCause::insufficientResources);
    board.FailRequest("/dev/mcc/ctl", 0x40144D00UL, ENOSPC);
    ExpectAnswer(Exchange(CreateIsdn(5, 7, false, false))[0], 5, 7, LGCP::ErrorCause::insufficientResources);
    board.FailRequest("/dev/mcc/ctl", 0x20004D02UL, EIO);
    ExpectAnswer(Exchange(CreateIsdn(6, 7, false, false))[0], 6, 7, LGCP::ErrorCause::insufficientResources);
    board.Prune();
    EXPECT_EQ(mcc.free(), held);
}

TEST_F(IsdnSlots, QsigLinkAndItsBChannels)
{
    ExpectAnswer(Exchange(CreateQsig(1, 5))[0], 1, 5);
    EXPECT_EQ(Slots::instance().Find(5)->GetTransmitChannel(), dsp.DTimeslot());
    ExpectAnswer(Exchange(CreateQsigB(2, 6, 5, 1))[0], 2, 6);
    EXPECT_EQ(Slots::instance().Find(6)->GetTransmitChannel(), dsp.BChannel(0));
    EXPECT_NE(dsp.BChannel(0), -1);
    // Only a QSIG slot has B channels (naming another is the controller's
    // mistake); a channel the driver holds is refused.
    Make(3, 7, false, false);
    ExpectAnswer(Exchange(CreateQsigB(4, 8, 7, 1))[0], 4, 8, LGCP::ErrorCause::invalidParams);
    ExpectAnswer(Exchange(CreateQsigB(5, 8, 9, 1))[0], 5, 8, LGCP::ErrorCause::invalidParams);
    test::Capture err(std::cerr);
    ExpectAnswer(Exchange(CreateQsigB(6, 8, 5, 1))[0], 6, 8, LGCP::ErrorCause::insufficientResources);
    EXPECT_NE(err.text().find("ats-qsig: add B channel fail !!!"), std::string::npos) << err.text();

    ExpectAnswer(Exchange(Destroy(7, 6))[0], 7, 6);
    EXPECT_EQ(dsp.BChannel(0), -1);

    // The D channel's frames go through the device.
    ExpectAnswer(Exchange(Activate(8, 5))[0], 8, 5);
    auto channels = board.Channels("/dev/dsp-data");
    ASSERT_EQ(channels.size(), 1u);
    Frame frame;
    ASSERT_TRUE(loop.RunUntil([&] { return channels[0]->Receive(frame); }));
    EXPECT_EQ(frame, (Frame{0x00, 0x01, 0x7F}));

    // A B slot outliving its link holds its channel until it goes, then
    // gives it back: the next link has it again.
    ExpectAnswer(Exchange(CreateQsigB(9, 6, 5, 2))[0], 9, 6);
    ExpectAnswer(Exchange(Destroy(10, 5))[0], 10, 5);
    EXPECT_NE(dsp.BChannel(1), -1);
    test::Capture log(std::clog);
    ExpectAnswer(Exchange(Destroy(11, 6))[0], 11, 6);
    EXPECT_NE(log.text().find("Can't find signalling slot"), std::string::npos);
    EXPECT_EQ(dsp.BChannel(1), -1);
    ExpectAnswer(Exchange(CreateQsig(12, 5))[0], 12, 5);
    ExpectAnswer(Exchange(CreateQsigB(13, 6, 5, 2))[0], 13, 6);
    EXPECT_EQ(dsp.removes(), 2u);
}

TEST_F(IsdnSlots, BlockedResettingAndBrokenDevices)
{
    int ts = Make(1, 5, false, false);
    ASSERT_TRUE(loop.RunUntil([&] { return Find(5)->is_ready(); }));
    // A write that would block waits for the device, then goes once.
    ASSERT_TRUE(mcc.Refuse(ts));
    ExpectAnswer(Exchange(Activate(2, 5))[0], 2, 5);
    EXPECT_FALSE(Find(5)->is_ready());
    mcc.Drain(ts);
    EXPECT_EQ(Written(ts, 1), (std::vector<Frame>{{0x00, 0x01, 0x7F}}));
    loop.Settle();
    EXPECT_TRUE(mcc.Written(ts).empty());
    EXPECT_TRUE(Find(5)->is_ready());

    // A far end that keeps resetting the link: each reset is answered and
    // the daemon goes on serving the other slots.
    int other = Make(3, 6, false, false);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(mcc.Inject(ts, {0x02, 0x01, 0x7F}));
    ExpectAnswer(Exchange(UserData(4, 6, {0x08, 0x01, 0x01, 0x05}))[0], 4, 6);
    EXPECT_GE(Written(ts, 20).size(), 20u);

    // A broken device: released and reported once, the loop idle again.
    ASSERT_TRUE(mcc.Hangup(ts));
    auto got = Receive(1);
    while (!SignalOf(got[0]).deactivated_isSelected())
        got = Receive(1);
    EXPECT_FALSE(Find(5)->is_open());
    ExpectAnswer(Exchange(Activate(5, 5))[0], 5, 5, LGCP::ErrorCause::insufficientResources);
    ExpectAnswer(Exchange(Activate(6, 6))[0], 6, 6);
    EXPECT_FALSE(Written(other, 1).empty());

    // A device that refuses a frame outright (not a blocked write) is
    // released and reported: nothing would ever send the frame, nor any after.
    ASSERT_TRUE(mcc.BreakWrites(other));
    ASSERT_TRUE(mcc.Inject(other, {0x02, 0x01, 0x7F}));
    do
        got = Receive(1);
    while (!SignalOf(got[0]).deactivated_isSelected());
    EXPECT_EQ(Find(6)->writeErrors(), 1u);
    EXPECT_FALSE(Find(6)->is_open());
    ExpectAnswer(Exchange(Activate(7, 6))[0], 7, 6, LGCP::ErrorCause::insufficientResources);
}

} // namespace
