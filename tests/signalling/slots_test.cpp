// The PSTN, ISDN, QSIG and transparent HDLC slots through the controller
// link, on simulated MCC channels and the DSP data device.

#include "tests/signalling/slot_link.h"
#include "tests/signalling/lapd_rig.h"

#include "core/traces.h"

namespace {

using namespace tdmtest;

LGCP::Message CreateCas(unsigned seq, int slot)
{
    return Do(seq, slot, [](LGCP::Command& c) { c.select_create().select_pstn().select_cas(); });
}

LGCP::Message RqBsn(unsigned seq, int slot)
{
    return Ioctl(seq, slot, [](LGCP::IoctlParams& p) { p.select_ss7RqBSN(); });
}

class PstnSlots : public SlotLink {
protected:
    static constexpr int kSlot = 7; // an HDLC slot
    static constexpr int kTrunkSlot = 3;
    static constexpr int kAddress = 0x1234;

    // Connects an E1 time slot of trunk 1 to the slot; the channel's time slot.
    int Connect(unsigned seq, int slot, int timeslot = 16)
    {
        Exchange(CreateE1(seq, 60 + timeslot, 1, timeslot), 3);
        auto got = Exchange(test::Connect(seq + 1, 60 + timeslot, {slot}));
        ExpectAnswer(got[0], seq + 1, 60 + timeslot);
        auto held = mcc.Timeslots();
        return held.empty() ? -1 : held.back();
    }
    // An ISDN slot made; its D channel time slot.
    int Make(unsigned seq, int slot, bool bri, bool network)
    {
        ExpectAnswer(Exchange(CreateIsdn(seq, slot, bri, network))[0], seq, slot);
        return Slots::instance().Find(slot)->GetTransmitChannel();
    }
    IsdnSlot* Find(int slot) { return dynamic_cast<IsdnSlot*>(Slots::instance().Find(slot)); }
    // An HDLC slot connected from an E1 time slot; its MCC channel's time slot.
    int Open()
    {
        ExpectAnswer(Exchange(CreateHdlc(1, kSlot, 1, kAddress))[0], 1, kSlot);
        Exchange(CreateE1(2, kTrunkSlot, 1, 5), 3);
        ExpectAnswer(Exchange(test::Connect(3, kTrunkSlot, {kSlot}))[0], 3, kTrunkSlot);
        auto held = mcc.Timeslots();
        EXPECT_EQ(held.size(), 1u);
        return held.empty() ? -1 : held[0];
    }
    void Inject(int ts, Frame const& frame) { ASSERT_TRUE(mcc.Inject(ts, frame)); }
};

TEST_F(PstnSlots, Ss7LinkOnATrunkTimeSlot)
{
    E1Reports e1;
    server.Bind(e1);
    ExpectAnswer(Exchange(CreateSs7(1, 5, 1))[0], 1, 5);
    auto got = Exchange(RqBsn(2, 5), 2);
    EXPECT_EQ(SELECTED(Response(got[0]), ss7BSN).getValue(), 0); // never activated
    ExpectAnswer(got[1], 2, 5);

    // Sources outside the E1 trunks are refused.
    Exchange(CreateBri(3, 8, 5, 1), 3); // BRI trunk 5 is trunk index 4
    test::Capture err(std::cerr);
    ExpectAnswer(Exchange(test::Connect(3, 8, {5}))[0], 3, 8, LGCP::ErrorCause::connectFail);
    int at = 9;
    for (Line* line : {new Line(-1, 0), new Line(4, 0), new Line(0, -1), new Line(0, 32)}) {
        Slots::instance().Enter(at, *line);
        ExpectAnswer(Exchange(test::Connect(4, at, {5}))[0], 4, at, LGCP::ErrorCause::connectFail);
        ++at;
    }
    for (char const* e : {"trunk number: 4\n", "trunk number: -1\n", "timeslot: -1\n", "timeslot: 32\n"})
        EXPECT_NE(err.text().find(std::string("pstn-slot: invalid ") + e), std::string::npos) << err.text();
    EXPECT_TRUE(mcc.Timeslots().empty());

    int ts = Connect(3, 5);
    ASSERT_NE(mcc.At(ts), nullptr);
    EXPECT_EQ(mcc.At(ts)->kind, 3u); // SS7 framing
    EXPECT_EQ(sw.Source(ts), 8192 + 16);
    auto sent = Written(ts, 1);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0].size(), 4u); // an LSSU: alignment has begun
    got = Exchange(RqBsn(5, 5), 2);
    EXPECT_EQ(SELECTED(Response(got[0]), ss7BSN).getValue(), 127);

    // In service: a unit the busy channel refused goes out once it is
    // ready, and the far end's MSU comes up as user data.
    ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x01, 0x01})); // SIN
    ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x00}));       // FISU
    got = Receive(1);
    while (!got.empty() && !SignalOf(got[0]).activated_isSelected())
        got = Receive(1);
    ASSERT_FALSE(got.empty());
    mcc.Written(ts);
    ASSERT_TRUE(mcc.Refuse(ts));
    ExpectAnswer(Exchange(UserData(6, 5, {0x03, 0x01, 0x02}))[0], 6, 5);
    EXPECT_EQ(Written(ts, 1), (std::vector<Frame>{{0xFF, 0x80, 0x03, 0x03, 0x01, 0x02}}));
    ASSERT_TRUE(mcc.Inject(ts, {0x80, 0x80, 0x03, 0x03, 0x04, 0x05}));
    got = Receive(1);
    EXPECT_EQ(SELECTED(SignalOf(got[0]), userData), (std::vector<char>{0x03, 0x04, 0x05}));

    // Reports for trunk 0 only, and only on a change: the first normal one
    // passes unseen, the loss takes the link down, its repeat does nothing.
    e1.Send(1, ACP::TrunkState::lossCarrier);
    e1.Send(0, ACP::TrunkState::normal);
    Receive(2);
    e1.Send(0, ACP::TrunkState::lossCarrier);
    got = Receive(5);
    EXPECT_TRUE(Response(got[0]).ss7LinkInfo_isSelected());
    EXPECT_TRUE(Response(got[1]).hdlcLinkInfo_isSelected());
    EXPECT_EQ(SELECTED(Response(got[2]), ss7LinkInfo).get_ss7state().asInt(), 0);
    EXPECT_TRUE(SignalOf(got[3]).deactivated_isSelected());
    EXPECT_TRUE(SignalOf(got[4]).trunkStatus_isSelected());
    e1.Send(0, ACP::TrunkState::lossCarrier);
    Receive(1);
    ExpectQuiet();
    // Trunk 3 and time slot 31 are the last taken, trunk and time slot 0 the first.
    for (int i : {0, 1}) {
        ExpectAnswer(Exchange(CreateSs7(7, 20 + i, 1))[0], 7, 20 + i);
        Slots::instance().Enter(30 + i, *new Line(3 * i, 31 * i));
        ExpectAnswer(Exchange(test::Connect(8, 30 + i, {20 + i}))[0], 8, 30 + i);
    }
}

// An ISDN slot opens its channel when made, a PSTN one on connection.
TEST_F(PstnSlots, PriLinksCarryMessagesBothWays)
{
    for (bool pstn : {true, false}) {
        SCOPED_TRACE(pstn ? "pstn" : "isdn");
        const int slot = pstn ? 5 : 6;
        ExpectAnswer(Exchange(CreateIsdn(1, slot, false, false, pstn))[0], 1, slot);
        int ts = pstn ? Connect(2, slot) : Slots::instance().Find(slot)->GetTransmitChannel();
        ASSERT_NE(mcc.At(ts), nullptr);
        const auto* a = mcc.At(ts); // data, 512 octets, third word 0, thresholds 1
        EXPECT_EQ((std::vector<uint32_t>{a->kind, a->packetSize, a->reserved, a->rxThreshold, a->txThreshold}),
                  (std::vector<uint32_t>{0, 512, 0, 1, 1}));
        if (!pstn)
            ExpectAnswer(Exchange(Activate(2, slot))[0], 2, slot);
        EXPECT_EQ(Written(ts, 1), (std::vector<Frame>{{0x00, 0x01, 0x7F}})); // SABME
        ASSERT_TRUE(mcc.Inject(ts, {0x00, 0x01, 0x73}));                    // UA
        auto got = Receive(2);
        EXPECT_TRUE(Response(got[0]).isdnLinkInfo_isSelected());
        EXPECT_TRUE(SignalOf(got[1]).activated_isSelected());

        ASSERT_TRUE(mcc.Refuse(ts)); // sent once ready, not lost to T200
        ExpectAnswer(Exchange(UserData(4, slot, {0x08, 0x01, 0x01, 0x05}))[0], 4, slot);
        EXPECT_EQ(Written(ts, 1), (std::vector<Frame>{{0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05}}));
        ASSERT_TRUE(mcc.Inject(ts, {0x02, 0x01, 0x00, 0x02, 0x08, 0x01, 0x81, 0x01}));
        got = Receive(1);
        EXPECT_EQ(SELECTED(SignalOf(got[0]), userData), (std::vector<char>{0x08, 0x01, char(0x81), 0x01}));
        // Only SS7 controls.
        ExpectAnswer(Exchange(RqBsn(5, slot))[0], 5, slot, LGCP::ErrorCause::unsupported);
    }
    // A CAS slot has no link: its user data is refused, not lost.
    ExpectAnswer(Exchange(CreateCas(6, 7))[0], 6, 7);
    ExpectAnswer(Exchange(UserData(7, 7, {1}))[0], 7, 7, LGCP::ErrorCause::unsupported);
}

TEST_F(PstnSlots, BriNetworkSideOnBothHalvesOfALine)
{
    ExpectAnswer(Exchange(CreateIsdn(1, 5, true, true, true))[0], 1, 5);
    Exchange(CreateBri(2, 8, 1, 1), 3);
    // The line's receiving half alone opens nothing; both halves do.
    ExpectAnswer(Exchange(test::Connect(3, 8, {5}))[0], 3, 8);
    EXPECT_TRUE(mcc.Timeslots().empty());
    auto got = Exchange(test::Connect(4, 5, {8}), 2);
    EXPECT_TRUE(SignalOf(got[0]).activated_isSelected());
    ExpectAnswer(got[1], 4, 5);
    int ts = mcc.Timeslots().at(0);
    EXPECT_EQ(mcc.At(ts)->kind, 1u);
    EXPECT_EQ(Written(ts, 1), (std::vector<Frame>{{0xFE, 0xFF, 0x03, 0x0F, 0, 0, 0x04, 0xFF}}));

    ASSERT_TRUE(mcc.Inject(ts, {0xFC, 0xFF, 0x03, 0x0F, 0x00, 0x10, 0x01, 0xFF}));
    EXPECT_EQ(Written(ts, 2), (std::vector<Frame>{{0xFE, 0xFF, 0x03, 0x0F, 0, 0x10, 0x02, 0x81}, {0x02, 0x81, 0x7F}}));

    // A terminal's message goes up; the answer comes back to it.
    ASSERT_TRUE(mcc.Inject(ts, {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x07, 0x05}));
    got = Receive(1);
    EXPECT_EQ(SELECTED(SignalOf(got[0]), userData), (std::vector<char>{0x08, 0x01, 0x07, 0x05}));
    ExpectAnswer(Exchange(UserData(5, 5, {0x08, 0x01, char(0x87), 0x02}))[0], 5, 5);
    EXPECT_EQ(Written(ts, 1), (std::vector<Frame>{{0x02, 0x81, 0x00, 0x02, 0x08, 0x01, 0x87, 0x02}}));
    // A terminal that acknowledges nothing: the 89th message waiting for it
    // tells the controller of congestion.
    for (unsigned i = 0; i < 6 + 89; ++i)
        EXPECT_TRUE(client.Send(Encode(UserData(10 + i, 5, {0x08, 0x01, char(0x87), 0x7B}))));
    got = Receive(6 + 89 + 1);
    EXPECT_EQ(SELECTED(Response(got[6 + 88]), isdnLinkStatus).asInt(), LGCP::IsdnLinkStatus::congested);

    // Disconnecting the line's sending half closes the channel too; what
    // waited is dropped, and the congestion ends.
    got = Exchange(Disconnect(6, 8), 2);
    EXPECT_EQ(SELECTED(Response(got[0]), isdnLinkStatus).asInt(), LGCP::IsdnLinkStatus::normal);
    ExpectAnswer(got[1], 6, 8);
    board.Prune();
    EXPECT_TRUE(mcc.Timeslots().empty());
    // Both halves gone, the receiving one alone opens nothing again, and
    // what the controller sends meanwhile is refused as gone.
    ExpectAnswer(Exchange(Disconnect(7, 5))[0], 7, 5);
    ExpectAnswer(Exchange(test::Connect(8, 8, {5}))[0], 8, 8);
    EXPECT_TRUE(mcc.Timeslots().empty());
    ExpectAnswer(Exchange(UserData(9, 5, {0x08, 0x01, 0x01, 0x05}))[0], 9, 5, LGCP::ErrorCause::busError);
}

// User data the link did not take is answered with a cause and logged: a
// message for a call no terminal holds, the one past a full queue, and an
// MSU for an SS7 link not in service.
TEST_F(PstnSlots, UserDataTheLinkDidNotTakeIsRefused)
{
    test::Capture err(std::cerr);
    ExpectAnswer(Exchange(CreateIsdn(1, 5, true, true, true))[0], 1, 5);
    Exchange(CreateBri(2, 8, 1, 1), 3);
    ExpectAnswer(Exchange(test::Connect(3, 8, {5}))[0], 3, 8);
    Exchange(test::Connect(4, 5, {8}), 2);
    int ts = mcc.Timeslots().at(0);
    ASSERT_TRUE(mcc.Inject(ts, {0xFC, 0xFF, 0x03, 0x0F, 0x00, 0x10, 0x01, 0xFF})); // identity request
    EXPECT_EQ(Written(ts, 3).size(), 3u);

    const int refused = LGCP::ErrorCause::insufficientResources, unknown = LGCP::ErrorCause::invalidParams;
    ExpectAnswer(Exchange(UserData(5, 5, {0x08, 0x01, char(0x87), 0x02}))[0], 5, 5, unknown);
    ExpectAnswer(Exchange(UserData(5, 5, {0x08, 0x01, 0x07}))[0], 5, 5, unknown);
    EXPECT_EQ(err.count("LAPD(NT BRI): message refused: no terminal holds call reference 7\n"), 1u);
    EXPECT_EQ(err.count("LAPD(NT BRI): message refused: too short (3 octets)\n"), 1u);
    ASSERT_TRUE(mcc.Inject(ts, {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x07, 0x05}));
    Receive(1);
    // Seven sent, 128 waiting for a terminal that acknowledges nothing.
    for (unsigned i = 0; i < 7 + 128; ++i)
        EXPECT_TRUE(client.Send(Encode(UserData(10 + i, 5, {0x08, 0x01, char(0x87), 0x7B}))));
    auto got = Receive(7 + 128 + 1);
    for (auto& m : got)
        if (m.get_pdu().response_isSelected()) {
            EXPECT_TRUE(m.get_pdu().get_response().success_isSelected()) << m;
        }
    ExpectAnswer(Exchange(UserData(6, 5, {0x08, 0x01, char(0x87), 0x7C}))[0], 6, 5, refused);
    EXPECT_EQ(err.count("TEI 64: discard outgoing message: buffer overflow\n"), 1u);
    EXPECT_EQ(static_cast<PstnSlot*>(Slots::instance().Find(5))->network()->unrouted(), 2u);

    ExpectAnswer(Exchange(CreateSs7(7, 6, 1))[0], 7, 6);
    ExpectAnswer(Exchange(UserData(8, 6, {0x03, 0x01, 0x02}))[0], 8, 6, refused);
    EXPECT_EQ(err.count("(idle): msu of 3 octets refused: link not in service\n"), 1u);

    // A PRI link takes 128 while it is down, and refuses the next.
    ExpectAnswer(Exchange(CreateIsdn(9, 7, false, false, true))[0], 9, 7);
    for (unsigned i = 0; i < 128; ++i)
        EXPECT_TRUE(client.Send(Encode(UserData(200 + i, 7, {0x08, 0x01, 0x01, 0x05}))));
    got = Receive(128 + 1); // and the congestion
    for (auto& m : got)
        if (m.get_pdu().response_isSelected()) {
            EXPECT_TRUE(m.get_pdu().get_response().success_isSelected()) << m;
        }
    ExpectAnswer(Exchange(UserData(10, 7, {0x08, 0x01, 0x01, 0x05}))[0], 10, 7, refused);
}

// What cannot go out is refused, not answered success: on the BRI network
// side empty user data (invalidParams), a SETUP its channel cannot hold with
// the pool at its reserve or 135 frames waiting (insufficientResources), a
// message on a channel not yet open; on every kind, user data once the
// channel has closed after an error, until it is opened again (busError).
TEST_F(PstnSlots, UserDataThatCannotGoOutIsRefused)
{
    test::Capture err(std::cerr);
    const int full = LGCP::ErrorCause::insufficientResources, gone = LGCP::ErrorCause::busError;
    const std::vector<char> setup{0x08, 0x01, 0x01, 0x05};
    auto pstn = [](int slot) { return static_cast<PstnSlot*>(Slots::instance().Find(slot)); };
    ExpectAnswer(Exchange(CreateIsdn(1, 5, true, true, true))[0], 1, 5);
    ExpectAnswer(Exchange(UserData(2, 5, setup))[0], 2, 5, gone);
    EXPECT_EQ(err.count("LAPD(NT BRI): message refused: channel closed\n"), 1u);
    EXPECT_EQ(std::make_pair(pstn(5)->network()->unsent(), pstn(5)->network()->unrouted()), std::make_pair(1u, 0u));
    Exchange(CreateBri(3, 8, 1, 1), 3);
    ExpectAnswer(Exchange(test::Connect(4, 8, {5}))[0], 4, 8);
    Exchange(test::Connect(5, 5, {8}), 2);
    int ts = mcc.Timeslots().at(0);
    ExpectAnswer(Exchange(UserData(6, 5, {}))[0], 6, 5, LGCP::ErrorCause::invalidParams);
    EXPECT_EQ(err.count("LAPD(NT BRI): message refused: too short (0 octets)\n"), 1u);
    ASSERT_TRUE(mcc.Refuse(ts));
    {
        std::vector<Packet> held;
        while (PacketPool::available() > 256)
            held.push_back(lapdtest::packet({0}));
        ExpectAnswer(Exchange(UserData(7, 5, setup))[0], 7, 5, full);
    }
    for (unsigned i = 0; i < 135; ++i)
        EXPECT_TRUE(client.Send(Encode(UserData(100 + i, 5, setup))));
    for (auto& m : Receive(135))
        ExpectAnswer(m, m.get_seq().getValue(), 5);
    ExpectAnswer(Exchange(UserData(8, 5, setup))[0], 8, 5, full);
    EXPECT_EQ(err.count("LAPD(NT BRI): TEI 127: discard outgoing message: buffer overflow\n"), 2u);

    // A PRI and an SS7 link, opened; then every channel fails.
    ExpectAnswer(Exchange(CreateIsdn(9, 6, false, false, true))[0], 9, 6);
    ExpectAnswer(Exchange(CreateSs7(10, 7, 1))[0], 10, 7);
    for (int slot : {6, 7})
        ExpectAnswer(Exchange(Activate(11, slot))[0], 11, slot);
    for (int held : mcc.Timeslots())
        ASSERT_TRUE(mcc.FailReads(held));
    ASSERT_TRUE(loop.RunUntil([&] {
        return !pstn(5)->channel().is_open() && !pstn(6)->channel().is_open() && !pstn(7)->channel().is_open();
    }));
    for (int slot : {5, 6, 7})
        ExpectAnswer(Exchange(UserData(12, slot, setup))[0], 12, slot, gone);
    EXPECT_EQ(err.count("pstn-slot: user data refused: channel lost\n"), 3u);
    EXPECT_EQ(pstn(5)->unsent() + pstn(6)->unsent() + pstn(7)->unsent(), 3u);
    // Open again, the PRI link takes it.
    ExpectAnswer(Exchange(Activate(13, 6))[0], 13, 6);
    ExpectAnswer(Exchange(UserData(14, 6, setup))[0], 14, 6);
}

// A disconnected link lets its line go: left open, its channel would hold the
// time slot both ways and let the far end align the link again.
TEST_F(PstnSlots, DisconnectionClosesTheChannel)
{
    ExpectAnswer(Exchange(CreateSs7(1, 5, 1))[0], 1, 5);
    int ts = Connect(2, 5);
    ASSERT_EQ(sw.Source(8192 + 16), ts);
    auto got = Exchange(Disconnect(4, 5), 5);
    EXPECT_TRUE(SignalOf(got[3]).deactivated_isSelected());
    ExpectAnswer(got[4], 4, 5);
    board.Prune();
    EXPECT_TRUE(mcc.Timeslots().empty());
    EXPECT_TRUE(sw.IsIdle(8192 + 16));
    // Connected again, it opens on the line anew.
    ExpectAnswer(Exchange(test::Connect(5, 76, {5}))[0], 5, 76);
    ASSERT_EQ(mcc.Timeslots().size(), 1u);
    EXPECT_EQ(Written(mcc.Timeslots()[0], 1), (std::vector<Frame>{{0xFF, 0xFF, 0x01, 0x00}})); // SIO
}

TEST_F(PstnSlots, ReportsEveryPeriodAndFailedChannels)
{
    PstnSlot::sUpdateMs = 30;
    ExpectAnswer(Exchange(CreateSs7(1, 5, 1))[0], 1, 5);
    for (int i = 0; i < 2; ++i) {
        auto got = Receive(2);
        EXPECT_TRUE(Response(got[0]).hdlcLinkInfo_isSelected());
        const ACP::SS7LinkInfo& info = SELECTED(Response(got[1]), ss7LinkInfo);
        EXPECT_EQ(info.get_speedRx().getValue(), 0u);
        EXPECT_EQ(info.get_speedTx().getValue(), 0u);
    }
    PstnSlot::sUpdateMs = 600000;
    Receive(2);

    // A channel that cannot be opened: deactivated, and the command fails.
    board.FailOpen("/dev/mcc/ctl", ENODEV);
    auto got = Exchange(Activate(2, 5), 2);
    EXPECT_TRUE(SignalOf(got[0]).deactivated_isSelected());
    ExpectAnswer(got[1], 2, 5, LGCP::ErrorCause::insufficientResources);
}

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

using IsdnSlots = PstnSlots;

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

// The D channel slots too: a PRI user side whose queue is full, a BRI
// network side with no terminal for the call.
TEST_F(IsdnSlots, UserDataTheLinkDidNotTakeIsRefused)
{
    test::Capture err(std::cerr);
    Make(1, 5, false, false);
    for (unsigned i = 0; i < 128; ++i)
        EXPECT_TRUE(client.Send(Encode(UserData(10 + i, 5, {0x08, 0x01, 0x01, 0x05}))));
    auto got = Receive(128);
    for (auto& m : got)
        ExpectAnswer(m, m.get_seq().getValue(), 5);
    ExpectAnswer(Exchange(UserData(2, 5, {0x08, 0x01, 0x01, 0x06}))[0], 2, 5,
                 LGCP::ErrorCause::insufficientResources);
    EXPECT_EQ(err.count("discard outgoing message: buffer overflow\n"), 1u);

    Make(3, 6, true, true);
    ExpectAnswer(Exchange(UserData(4, 6, {0x08, 0x01, 0x01, 0x06}))[0], 4, 6, LGCP::ErrorCause::invalidParams);
    EXPECT_EQ(err.count("LAPD(NT BRI): message refused: no terminal holds call reference 1\n"), 1u);
}

// A device released after an error is never used again: user data for it
// is refused (busError) whatever the link, logged and counted.
TEST_F(IsdnSlots, UserDataForAGoneDeviceIsRefused)
{
    test::Capture err(std::cerr);
    int pri = Make(1, 5, false, false);
    int bri = Make(2, 6, true, true);
    ExpectAnswer(Exchange(CreateQsig(3, 7))[0], 3, 7);
    ASSERT_TRUE(mcc.FailReads(pri));
    ASSERT_TRUE(mcc.FailReads(bri));
    board.FailRead("/dev/dsp-data");
    for (int told = 0; told < 3;)
        told += SignalOf(Receive(1)[0]).deactivated_isSelected();
    for (auto data : {std::vector<char>{0x08, 0x01, 0x01, 0x05}, std::vector<char>{0x08, 0x01, 0x01, 0x07}})
        for (int slot : {5, 6, 7})
            ExpectAnswer(Exchange(UserData(4, slot, data))[0], 4, slot, LGCP::ErrorCause::busError);
    EXPECT_EQ(err.count("isdn[5]: user data refused: device released\n"), 2u);
    EXPECT_EQ(err.count("ats-qsig: user data refused: device released\n"), 2u);
    EXPECT_EQ(Find(6)->unsent(), 2u);
}

// Empty user data carries no message: refused (invalidParams) on every
// link, each established, said by the link and nothing written.
TEST_F(IsdnSlots, EmptyUserDataIsRefusedOnEveryLink)
{
    // PRI links of a PSTN and an ISDN slot, BRI user sides of both, QSIG.
    ExpectAnswer(Exchange(CreateIsdn(1, 5, false, false, true))[0], 1, 5);
    const int pstnPri = Connect(2, 5);
    const int isdnPri = Make(3, 6, false, false);
    const int isdnBri = Make(4, 7, true, false);
    ExpectAnswer(Exchange(CreateQsig(5, 8))[0], 5, 8);
    ExpectAnswer(Exchange(CreateIsdn(6, 9, true, false, true))[0], 6, 9);
    Exchange(CreateBri(7, 10, 1, 1), 3);
    ExpectAnswer(Exchange(test::Connect(8, 10, {9}))[0], 8, 10);
    Exchange(test::Connect(9, 9, {10}), 1);
    const int pstnBri = mcc.Timeslots().back();
    for (int slot : {6, 7, 8})
        ExpectAnswer(Exchange(Activate(10, slot))[0], 10, slot);
    auto qsig = board.Channels("/dev/dsp-data");
    ASSERT_EQ(qsig.size(), 1u);
    Frame sabme;
    ASSERT_TRUE(loop.RunUntil([&] { return qsig[0]->Receive(sabme); }));
    const std::vector<int> lines{pstnPri, isdnPri, isdnBri, pstnBri};
    for (int ts : lines) {
        EXPECT_EQ(Written(ts, 1).at(0), sabme);
        ASSERT_TRUE(mcc.Inject(ts, {0x00, 0x01, 0x73})); // UA
    }
    ASSERT_TRUE(qsig[0]->Send(Frame{0x00, 0x01, 0x73}));
    for (int up = 0; up < 5;)
        up += SignalOf(Receive(1)[0]).activated_isSelected();
    for (int ts : lines)
        mcc.Written(ts); // a SABME repeated on a slow machine
    while (qsig[0]->Receive(sabme))
        continue;

    test::Capture err(std::cerr);
    for (int slot : {5, 6, 7, 8, 9})
        ExpectAnswer(Exchange(UserData(11, slot, {}))[0], 11, slot, LGCP::ErrorCause::invalidParams);
    EXPECT_EQ(err.count("(Multiple frame established): discard outgoing message: empty\n"), 5u) << err.text();
    loop.Settle();
    for (int ts : lines)
        EXPECT_TRUE(mcc.Written(ts).empty());
    EXPECT_FALSE(qsig[0]->Receive(sabme));

    // As SS7 and the BRI network side do.
    ExpectAnswer(Exchange(CreateSs7(13, 11, 1))[0], 13, 11);
    ExpectAnswer(Exchange(CreateIsdn(14, 12, true, true))[0], 14, 12);
    for (int slot : {11, 12})
        ExpectAnswer(Exchange(UserData(15, slot, {}))[0], 15, slot, LGCP::ErrorCause::invalidParams);
}

TEST_F(IsdnSlots, QsigLinkAndItsBChannels)
{
    ExpectAnswer(Exchange(CreateQsig(1, 5))[0], 1, 5);
    EXPECT_EQ(Slots::instance().Find(5)->GetTransmitChannel(), dsp.DTimeslot());
    ExpectAnswer(Exchange(CreateQsigB(2, 6, 5, 1))[0], 2, 6);
    EXPECT_EQ(Slots::instance().Find(6)->GetTransmitChannel(), dsp.BChannel(0));
    EXPECT_NE(dsp.BChannel(0), -1);
    // Only a QSIG slot has B channels; a channel the driver holds is refused.
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
    EXPECT_EQ(err.text().find("remove B channel"), std::string::npos) << err.text();
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
    ExpectAnswer(Exchange(Activate(5, 5))[0], 5, 5, LGCP::ErrorCause::busError);
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
    ExpectAnswer(Exchange(Activate(7, 6))[0], 7, 6, LGCP::ErrorCause::busError);
}

// The bodies of an ioctl signal carrying packages.
std::vector<std::vector<char>> Bodies(LGCP::Message const& m)
{
    std::vector<std::vector<char>> bodies;
    for (const auto& package : SELECTED(SELECTED(SignalOf(m), ioctl), hdlcPackages))
        bodies.push_back(package.get_body());
    return bodies;
}

using HdlcSlots = PstnSlots;

TEST_F(HdlcSlots, ChannelAndSequenceOctetsOfSentFrames)
{
    int ts = Open();
    ASSERT_NE(mcc.At(ts), nullptr);
    EXPECT_EQ(mcc.At(ts)->kind, 0u); // mode 1: a data channel
    EXPECT_EQ(sw.Source(ts), 8192 + 5);
    EXPECT_EQ(sw.Source(8192 + 5), ts);
    ExpectAnswer(Exchange(Packages(4, kSlot, {{'a'}, {'b', 'c'}}))[0], 4, kSlot);
    EXPECT_EQ(mcc.Written(ts), (std::vector<Frame>{{0x12, 0x34, 0x00, 'a'}, {0x12, 0x34, 0x20, 'b', 'c'}}));

    // The peer's counter 3 comes back in our low five bits.
    Inject(ts, {0x12, 0x34, 0x60, 'x'});
    EXPECT_EQ(Bodies(Receive(1)[0]), (std::vector<std::vector<char>>{{'x'}}));
    ExpectAnswer(Exchange(Packages(5, kSlot, {{}, {}, {}, {}, {}, {}, {}}))[0], 5, kSlot);
    auto written = mcc.Written(ts);
    ASSERT_EQ(written.size(), 7u);
    EXPECT_EQ(written[0], (Frame{0x12, 0x34, 0x43}));
    EXPECT_EQ(written[5], (Frame{0x12, 0x34, 0xE3}));
    EXPECT_EQ(written[6], (Frame{0x12, 0x34, 0x03})); // the ninth frame wraps to 0

    // Not ours to carry.
    ExpectAnswer(Exchange(Ioctl(6, kSlot, [](LGCP::IoctlParams& p) { p.select_ss7RqBSN(); }))[0], 6, kSlot,
                 LGCP::ErrorCause::unsupported);
    ExpectAnswer(Exchange(Packages(7, kSlot, {std::vector<char>(510, 'z')}))[0], 7, kSlot,
                 LGCP::ErrorCause::invalidParams);
    EXPECT_TRUE(mcc.Written(ts).empty());

    // The other direction opens it again on the same line; disconnecting closes it.
    ExpectAnswer(Exchange(test::Connect(8, kSlot, {kTrunkSlot}))[0], 8, kSlot);
    ExpectAnswer(Exchange(Disconnect(9, kSlot))[0], 9, kSlot);
    board.Prune();
    EXPECT_TRUE(mcc.Timeslots().empty());
    EXPECT_TRUE(sw.IsIdle(8192 + 5));
    Slots::instance().Enter(20, *new Line(1, 5, -1)); // a source with no TDM channel opens nothing
    ExpectAnswer(Exchange(test::Connect(10, 20, {kSlot}))[0], 10, 20);
    EXPECT_TRUE(mcc.Timeslots().empty());
}

TEST_F(HdlcSlots, ReceivedFramesAreGatheredWhileMoreIsMarked)
{
    int ts = Open();
    const unsigned char more = 0x80;
    // Three marked, then one unmarked: one signal with four packages.
    for (unsigned char i = 1; i <= 4; ++i)
        Inject(ts, {0x12, 0x34, 0x00, i, uint8_t(i < 4 ? more : 0)});
    EXPECT_EQ(Bodies(Receive(1)[0]),
              (std::vector<std::vector<char>>{{1, char(more)}, {2, char(more)}, {3, char(more)}, {4, 0}}));

    // Other addresses and short frames give no package; another address's
    // mark still holds the batch, and the delay ends it.
    Inject(ts, {0x12, 0x34, 0x00, 5, more});
    Inject(ts, {0x55, 0x55, 0x00, 6, more});
    Inject(ts, {0x12, 0x34});
    Inject(ts, {0x12, 0x34, 0x00, 7, more});
    EXPECT_EQ(Bodies(Receive(1)[0]), (std::vector<std::vector<char>>{{5, char(more)}, {7, char(more)}}));
    EXPECT_EQ(static_cast<HdlcSlot*>(Slots::instance().Find(kSlot))->shortFrames(), 1u);

    // An unmarked frame for another address sends what was gathered; a body
    // of one octet marks nothing.
    Inject(ts, {0x12, 0x34, 0x00, 8, more});
    Inject(ts, {0x55, 0x55, 0x00, 9, 0});
    EXPECT_EQ(Bodies(Receive(1)[0]), (std::vector<std::vector<char>>{{8, char(more)}}));
    Inject(ts, {0x12, 0x34, 0x00, 10});
    EXPECT_EQ(Bodies(Receive(1)[0]), (std::vector<std::vector<char>>{{10}}));
    ExpectQuiet();

    // A peer that never ends a gathering: a signal carries 128 packages or
    // 60000 octets at most, and the next frame goes in the next one.
    auto sizes = [&](size_t count, Frame const& f) {
        for (size_t i = 0; i < count; ++i) {
            Inject(ts, f);
            if (i % 16 == 15)
                loop.Settle(1);
        }
        Inject(ts, {0x12, 0x34, 0x00, 1});
        std::vector<size_t> n;
        for (size_t got = 0; got <= count && n.size() < 3; got += n.back())
            n.push_back(Bodies(Receive(1)[0]).size());
        return n;
    };
    EXPECT_EQ(sizes(129, {0x12, 0x34, 0x00, 1, more}), (std::vector<size_t>{128, 2}));
    Frame f(503, 0x55); // 500 octets of body
    f[0] = 0x12, f[1] = 0x34, f[2] = 0, f[4] = more;
    EXPECT_EQ(sizes(120, f), (std::vector<size_t>{120, 1}));
}

TEST_F(HdlcSlots, FullQueueRefusesTheWholeCommand)
{
    ExpectAnswer(Exchange(CreateHdlc(1, kSlot, 1, kAddress))[0], 1, kSlot);
    // Closed: frames wait.
    std::vector<std::vector<char>> bodies;
    for (int i = 0; i < 100; ++i)
        bodies.push_back({char(i)});
    ExpectAnswer(Exchange(Packages(2, kSlot, bodies))[0], 2, kSlot);
    bodies.resize(21);
    ExpectAnswer(Exchange(Packages(3, kSlot, bodies))[0], 3, kSlot, LGCP::ErrorCause::insufficientResources);
    bodies.resize(20);
    ExpectAnswer(Exchange(Packages(4, kSlot, bodies))[0], 4, kSlot);

    // Activation drains the queue in order, sequence counters unbroken.
    ExpectAnswer(Exchange(Activate(5, kSlot))[0], 5, kSlot);
    int ts = mcc.Timeslots().at(0);
    std::vector<Frame> written;
    loop.RunUntil([&] {
        for (auto& f : mcc.Written(ts))
            written.push_back(f);
        return written.size() >= 120;
    });
    ASSERT_EQ(written.size(), 120u);
    for (unsigned i = 0; i < 120; ++i) {
        EXPECT_EQ(written[i][2], (i % 8) << 5);
        EXPECT_EQ(written[i][3], char(i % 100));
    }

    // Open with nothing waiting: a list of the most LGCP allows goes out whole.
    bodies.assign(128, {'m'});
    ExpectAnswer(Exchange(Packages(6, kSlot, bodies))[0], 6, kSlot);
    written = mcc.Written(ts);
    ASSERT_EQ(written.size(), 128u);
    EXPECT_EQ(written[127][2], 7 << 5);
    // A busy channel: what waits stays within the queue's 120.
    ASSERT_TRUE(mcc.Refuse(ts));
    ExpectAnswer(Exchange(Packages(7, kSlot, {{'w'}}))[0], 7, kSlot);
    bodies.resize(120);
    ExpectAnswer(Exchange(Packages(8, kSlot, bodies))[0], 8, kSlot, LGCP::ErrorCause::insufficientResources);
    bodies.resize(119);
    ExpectAnswer(Exchange(Packages(9, kSlot, bodies))[0], 9, kSlot);

    // A channel closed after an error takes nothing until opened again;
    // what waits goes then.
    ASSERT_TRUE(mcc.FailReads(ts));
    auto* slot = static_cast<HdlcSlot*>(Slots::instance().Find(kSlot));
    ASSERT_TRUE(loop.RunUntil([&] { return !slot->channel().is_open(); }));
    test::Capture err(std::cerr);
    ExpectAnswer(Exchange(Packages(10, kSlot, {{'x'}}))[0], 10, kSlot, LGCP::ErrorCause::busError);
    EXPECT_EQ(err.count("HdlcSlot[0/*]: 1 packages refused: channel lost\n"), 1u);
    board.Prune();
    ExpectAnswer(Exchange(Activate(11, kSlot))[0], 11, kSlot);
    written.clear();
    loop.RunUntil([&] {
        for (auto& f : mcc.Written(mcc.Timeslots().at(0)))
            written.push_back(f);
        return written.size() >= 120;
    });
    ASSERT_EQ(written.size(), 120u);
    EXPECT_EQ(written[119][3], 'm');
}

TEST_F(HdlcSlots, StatisticsAndFailures)
{
    HdlcSlot::sUpdateMs = 30;
    ExpectAnswer(Exchange(CreateHdlc(1, kSlot, 1, kAddress))[0], 1, kSlot);
    // An address of more than 16 bits is not truncated.
    ExpectAnswer(Exchange(CreateHdlc(2, 8, 1, 0x10000))[0], 2, 8, LGCP::ErrorCause::invalidParams);

    // Every period, and once more on deactivate.
    for (int i = 0; i < 2; ++i) {
        auto report = Receive(1);
        const LGCP::Signal& s = SignalOf(report[0]);
        ASSERT_TRUE(s.ioctl_isSelected() && s.get_ioctl().hdlcLinkInfo_isSelected());
    }
    HdlcSlot::sUpdateMs = 600000;
    Receive(1); // the one still armed with the short period
    ExpectAnswer(Exchange(Packages(3, kSlot, {{'a'}}))[0], 3, kSlot);
    ExpectAnswer(Exchange(Activate(4, kSlot))[0], 4, kSlot);
    auto got = Exchange(Deactivate(5, kSlot), 2);
    ASSERT_TRUE(SignalOf(got[0]).ioctl_isSelected());
    const LGCP::HdlcLinkInfo& info = SELECTED(SignalOf(got[0]), ioctl).get_hdlcLinkInfo();
    EXPECT_EQ((std::vector<unsigned>{unsigned(info.get_txSU().getValue()), unsigned(info.get_txDiscard().getValue()),
                                     unsigned(info.get_txError().getValue()), unsigned(info.get_txOverflow().getValue()),
                                     unsigned(info.get_rxSU().getValue())}),
              (std::vector<unsigned>{1, 0, 0, 0, 0}));
    ExpectAnswer(got[1], 5, kSlot);

    // A channel that cannot be opened: deactivated, and the command fails.
    board.FailOpen("/dev/mcc/ctl", ENODEV);
    got = Exchange(Activate(6, kSlot), 2);
    EXPECT_TRUE(SignalOf(got[0]).deactivated_isSelected());
    ExpectAnswer(got[1], 6, kSlot, LGCP::ErrorCause::insufficientResources);

    // Trace lines only with the switch on.
    test::Capture log(std::clog);
    ExpectAnswer(Exchange(Packages(7, kSlot, {{'b'}}))[0], 7, kSlot);
    EXPECT_EQ(log.count("enqueue package: "), 0u) << log.text();
    Traces::instance().signallingHdlc = true;
    ExpectAnswer(Exchange(Packages(8, kSlot, {{'c'}}))[0], 8, kSlot);
    Traces::instance().signallingHdlc = false;
    // The third frame: sequence octet 2 x 32 + 0, then the body.
    EXPECT_EQ(log.count("HdlcSlot[0/*]: enqueue package: 12 34 40 63\n"), 1u) << log.text();
    EXPECT_EQ(log.count("enqueue package"), 1u) << log.text();
}

} // namespace
