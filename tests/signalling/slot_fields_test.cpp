// The signalling slots' create parameters, reports and controls through the
// controller link, each field given a value of its own.

#include "tests/signalling/slot_link.h"

#include <iostream>

namespace {

using namespace tdmtest;

LGCP::Message Ss7Log(unsigned seq, int slot, unsigned only)
{
    return Ioctl(seq, slot, [&](LGCP::IoctlParams& p) {
        using L = LGCP::SS7L2Log;
        L& l = p.select_ss7Log();
        unsigned i = 0;
        for (auto set : {&L::set_state, &L::set_raw_receive, &L::set_raw_transmit, &L::set_mtp_transmit,
                         &L::set_mtp_receive, &L::set_mtp_activate, &L::set_timers, &L::set_msu_processing})
            (l.*set)(i++ == only);
    });
}

class SlotFields : public SlotLink {
protected:
    // Connects a source on E1 trunk 1, time slot 16 (slot 40 on) to the
    // slot; the time slot of the channel it opened.
    int Connect(unsigned seq, int slot)
    {
        Slots::instance().Enter(40 + slot, *new Line(1, 16));
        ExpectAnswer(Exchange(test::Connect(seq, 40 + slot, {slot}))[0], seq, 40 + slot);
        auto held = mcc.Timeslots();
        return held.empty() ? -1 : held.back();
    }
};

TEST_F(SlotFields, Ss7CreateParametersAndLinkReport)
{
    E1Reports e1;
    server.Bind(e1);
    auto create = Do(1, 5, [](LGCP::Command& c) {
        auto& p = c.select_create().select_pstn().select_ss7();
        p.set_trunk(2);
        p.set_slc(5);
        p.set_dpc(12);
        p.set_opc(300);
        p.set_emergency(true);
    });
    ExpectAnswer(Exchange(create)[0], 1, 5);
    int ts = Connect(2, 5);
    ASSERT_NE(mcc.At(ts), nullptr);
    // Emergency alignment: SIE in aligned and in proving.
    ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x01, 0x00})); // SIO
    ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x01, 0x02})); // SIE
    ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x00}));       // FISU
    auto got = Receive(2);
    EXPECT_TRUE(Response(got[0]).ss7LinkInfo_isSelected());
    EXPECT_TRUE(SignalOf(got[1]).activated_isSelected());
    EXPECT_EQ(Written(ts, 5), (std::vector<Frame>{{0xFF, 0xFF, 0x01, 0x00}, {0xFF, 0xFF, 0x01, 0x02},
                                                  {0xFF, 0xFF, 0x01, 0x02}, {0xFF, 0xFF, 0x00}, {0xFF, 0xFF, 0x00}}));

    // The far end's MSU 0, a gap (2), 1 again after our negative
    // acknowledgement, another gap (3), and 2 again.
    for (Frame const& f : std::vector<Frame>{{0xFF, 0x80, 0x03, 0x0A, 0x00, 0x01},
                                             {0xFF, 0x82, 0x03, 0x0A, 0x00, 0x02},
                                             {0xFF, 0x01, 0x03, 0x0A, 0x00, 0x03},
                                             {0xFF, 0x03, 0x03, 0x0A, 0x00, 0x04},
                                             {0xFF, 0x82, 0x03, 0x0A, 0x00, 0x05}})
        ASSERT_TRUE(mcc.Inject(ts, f));
    got = Receive(3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(SELECTED(SignalOf(got[i]), userData), (std::vector<char>{0x0A, 0x00, char(2 * i + 1)}));
    // Our four MSUs; the far end acknowledges 0 and asks for the rest again.
    for (unsigned i = 0; i < 4; ++i)
        ExpectAnswer(Exchange(UserData(3 + i, 5, {0x03, char(0x10 + i), 0x20}))[0], 3 + i, 5);
    ASSERT_TRUE(mcc.Inject(ts, {0x00, 0x82, 0x00}));
    std::vector<Frame> sent = Written(ts, 12);
    EXPECT_EQ(sent, (std::vector<Frame>{{0x80, 0xFF, 0x00}, {0x00, 0xFF, 0x00}, {0x01, 0xFF, 0x00},
                                        {0x81, 0xFF, 0x00}, {0x82, 0xFF, 0x00},
                                        {0x82, 0x80, 0x03, 0x03, 0x10, 0x20}, {0x82, 0x81, 0x03, 0x03, 0x11, 0x20},
                                        {0x82, 0x82, 0x03, 0x03, 0x12, 0x20}, {0x82, 0x83, 0x03, 0x03, 0x13, 0x20},
                                        {0x82, 0x01, 0x03, 0x03, 0x11, 0x20}, {0x82, 0x02, 0x03, 0x03, 0x12, 0x20},
                                        {0x82, 0x03, 0x03, 0x03, 0x13, 0x20}}));
    // A channel that takes nothing: 200 wait, 5 more are refused.
    ASSERT_TRUE(mcc.Refuse(ts));
    for (unsigned i = 0; i < 205; ++i)
        EXPECT_TRUE(client.Send(Encode(UserData(10 + i, 5, {0x03, 0x01, 0x02}))));
    Receive(205);

    // Reported as the link is activated again in service.
    got = Exchange(Activate(300, 5), 3);
    const ACP::SS7LinkInfo& info = SELECTED(Response(got[0]), ss7LinkInfo);
    // Sent: 7 FISUs of 3 octets, 7 MSUs of 6; received: 9 units of 44 octets.
    EXPECT_EQ((std::vector<unsigned>{unsigned(info.get_msuTxCount().getValue()),
                                     unsigned(info.get_msuRxCount().getValue()),
                                     unsigned(info.get_octetsTx().getValue()), unsigned(info.get_octetsRx().getValue()),
                                     unsigned(info.get_speedRx().getValue()), unsigned(info.get_speedTx().getValue()),
                                     unsigned(info.get_overflowCntr().getValue()),
                                     unsigned(info.get_rtbSize().getValue()), unsigned(info.get_repeatCntr().getValue()),
                                     unsigned(info.get_badSeqCntr().getValue()), unsigned(info.get_ss7state().asInt())}),
              (std::vector<unsigned>{14, 9, 63, 44, 0, 0, 5, 3, 1, 2, 5}));
    EXPECT_TRUE(SignalOf(got[1]).activated_isSelected());
    ExpectAnswer(got[2], 300, 5);

    // Trunk 2 is trunk index 1: reports for 0 and 2 are not its own.
    test::Capture log(std::clog);
    e1.Send(0, ACP::TrunkState::lossCarrier);
    e1.Send(2, ACP::TrunkState::lossCarrier);
    Receive(2);
    EXPECT_EQ(log.text().find("transport OFF"), std::string::npos) << log.text();
    e1.Send(1, ACP::TrunkState::lossCarrier);
    got = Receive(5);
    EXPECT_TRUE(SignalOf(got[3]).deactivated_isSelected());
    EXPECT_NE(log.text().find("SS7/L2 [dpc=12, slc=5, trunk=2] (worked):  transport OFF by low level terminated\n"),
              std::string::npos)
        << log.text();
}

// The channel's counters: 2 units offered while closed, 4 sent, 3
// received, 6 refused by a broken device, none too long.
TEST_F(SlotFields, HdlcReportOfAPstnSlot)
{
    ExpectAnswer(Exchange(CreateSs7(1, 5, 1))[0], 1, 5);
    for (unsigned seq : {2, 3}) { // an SIOS each, into the closed channel
        auto got = Exchange(Deactivate(seq, 5), 5);
        EXPECT_TRUE(Response(got[1]).hdlcLinkInfo_isSelected());
        ExpectAnswer(got[4], seq, 5);
    }
    int ts = Connect(4, 5); // SIO
    ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x01, 0x01})); // SIN: SIN back
    ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x00}));       // two FISUs back
    auto got = Receive(2);
    ASSERT_TRUE(SignalOf(got[1]).activated_isSelected());
    ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x00}));
    EXPECT_EQ(Written(ts, 4).size(), 4u);
    ASSERT_TRUE(mcc.BreakWrites(ts));
    for (unsigned i = 0; i < 5; ++i)
        ExpectAnswer(Exchange(UserData(5 + i, 5, {0x03, 0x01, 0x02}))[0], 5 + i, 5);
    got = Exchange(Deactivate(20, 5), 5); // and its SIOS
    const LGCP::HdlcLinkInfo& info = SELECTED(Response(got[1]), hdlcLinkInfo);
    EXPECT_EQ((std::vector<unsigned>{unsigned(info.get_txSU().getValue()), unsigned(info.get_txDiscard().getValue()),
                                     unsigned(info.get_txError().getValue()), unsigned(info.get_txOverflow().getValue()),
                                     unsigned(info.get_rxSU().getValue())}),
              (std::vector<unsigned>{4, 2, 6, 0, 3}));
}

// Each of the eight switches of ss7Log turns on its own lines and no other.
TEST_F(SlotFields, Ss7LogSwitchesEachTheirOwnLines)
{
    ExpectAnswer(Exchange(CreateSs7(1, 5, 1))[0], 1, 5);
    Connect(2, 5);
    const char* const lines[] = {"change state from", " rx raw", " tx raw", " mtp tx", " mtp rx",
                                 "local_activate: executing...", "set T3", "ack!"};
    unsigned seq = 10;
    for (unsigned only = 0; only < 8; ++only) {
        SCOPED_TRACE(lines[only]);
        ExpectAnswer(Exchange(Ss7Log(seq, 5, only))[0], seq, 5);
        test::Capture log(std::clog), err(std::cerr);
        // Out of service and aligned again, an MSU each way.
        ExpectAnswer(Exchange(Deactivate(seq + 1, 5), 5)[4], seq + 1, 5);
        ExpectAnswer(Exchange(Activate(seq + 2, 5))[0], seq + 2, 5);
        int ts = mcc.Timeslots().back();
        ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x01, 0x00})); // SIO: aligned
        ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x01, 0x01})); // SIN: proving
        ASSERT_TRUE(mcc.Inject(ts, {0xFF, 0xFF, 0x00}));       // FISU: worked
        EXPECT_TRUE(SignalOf(Receive(2)[1]).activated_isSelected());
        ExpectAnswer(Exchange(UserData(seq + 3, 5, {0x03, 0x01, 0x02}))[0], seq + 3, 5);
        ASSERT_TRUE(mcc.Inject(ts, {0x80, 0x80, 0x03, 0x03, 0x04, 0x05}));
        EXPECT_TRUE(SignalOf(Receive(1)[0]).userData_isSelected());
        std::string text = log.text() + err.text();
        for (unsigned i = 0; i < 8; ++i)
            EXPECT_EQ(text.find(lines[i]) != std::string::npos, i == only) << lines[i] << "\n" << text;
        ExpectAnswer(Exchange(Ss7Log(seq + 4, 5, 8))[0], seq + 4, 5); // all off
        seq += 5;
    }
}

// The log level, trunk, side and type of an ISDN create: state changes are
// traced above level 1, frames above 2, behind the trunk's number; the
// network side sends commands with C/R 1; a BRI runs TEI management.
TEST_F(SlotFields, IsdnCreateParameters)
{
    for (int log : {1, 2, 3}) {
        SCOPED_TRACE(log);
        const int slot = 10 + log;
        test::Capture clog(std::clog);
        ExpectAnswer(Exchange(CreateIsdn(1, slot, false, log != 2, false, 3 + log, log))[0], 1, slot);
        int ts = Slots::instance().Find(slot)->GetTransmitChannel();
        ExpectAnswer(Exchange(Activate(2, slot))[0], 2, slot);
        EXPECT_EQ(Written(ts, 1), (std::vector<Frame>{{uint8_t(log != 2 ? 0x02 : 0x00), 0x01, 0x7F}}));
        const std::string lapd = "LAPD[" + std::to_string(3 + log) + "]";
        std::string text = clog.text();
        const std::string change = " : change state \"TEI assigned\" -> \"Awaiting establishment\"\n";
        EXPECT_EQ(text.find(lapd + change) != std::string::npos, log > 1) << text;
        EXPECT_EQ(text.find(lapd + " (TEI assigned): tx:  02 01 7F\n") != std::string::npos, log > 2) << text;
    }
    // A PSTN slot's channel logs behind the trunk's number.
    test::Capture clog(std::clog);
    ExpectAnswer(Exchange(CreateIsdn(3, 5, false, false, true, 2, 1))[0], 3, 5);
    int ts = Connect(4, 5);
    EXPECT_NE(clog.text().find("HDLC[2/" + std::to_string(ts) + "]: activated"), std::string::npos) << clog.text();

    // TEI management on a BRI only: an identity remove is answered by a
    // request there and ignored on a PRI.
    for (bool bri : {false, true}) {
        const int slot = bri ? 21 : 20;
        ExpectAnswer(Exchange(CreateIsdn(5, slot, bri, false))[0], 5, slot);
        int d = Slots::instance().Find(slot)->GetTransmitChannel();
        ASSERT_TRUE(mcc.Inject(d, {0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x06, 0xFF}));
        std::vector<Frame> sent = Written(d, bri ? 1 : 0);
        loop.Settle();
        for (Frame const& f : mcc.Written(d))
            sent.push_back(f);
        ASSERT_EQ(sent.size(), bri ? 1u : 0u);
        if (bri) {
            EXPECT_EQ(Frame(sent[0].begin(), sent[0].begin() + 4), (Frame{0xFC, 0xFF, 0x03, 0x0F}));
            EXPECT_EQ(Frame(sent[0].begin() + 6, sent[0].end()), (Frame{0x01, 0xFF}));
        }
    }
}

// An HDLC slot's channel logs behind the create's trunk from log level 1;
// its frames carry the address high octet first.
TEST_F(SlotFields, HdlcCreateParameters)
{
    for (int log : {0, 1}) {
        SCOPED_TRACE(log);
        const int slot = 7 + log;
        test::Capture clog(std::clog);
        ExpectAnswer(Exchange(CreateHdlc(1, slot, 3, 0x2345 + log, log))[0], 1, slot);
        int ts = Connect(2, slot);
        EXPECT_EQ(clog.text().find("HDLC[3/" + std::to_string(ts) + "]: activated") != std::string::npos, log == 1)
            << clog.text();
        ExpectAnswer(Exchange(Packages(3, slot, {{'p'}}))[0], 3, slot);
        EXPECT_EQ(Written(ts, 1), (std::vector<Frame>{{0x23, uint8_t(0x45 + log), 0x00, 'p'}}));
        ExpectAnswer(Exchange(Disconnect(4, slot))[0], 4, slot);
        board.Prune();
    }
}

// A QSIG link's side sets the C/R bit of its commands; subslot 3 is B
// channel index 2.
TEST_F(SlotFields, QsigCreateParameters)
{
    auto create = Do(1, 5, [](LGCP::Command& c) { c.select_create().select_ats_qsig().get_side().select_network(); });
    ExpectAnswer(Exchange(create)[0], 1, 5);
    ExpectAnswer(Exchange(Activate(2, 5))[0], 2, 5);
    auto channels = board.Channels("/dev/dsp-data");
    ASSERT_EQ(channels.size(), 1u);
    Frame frame;
    ASSERT_TRUE(loop.RunUntil([&] { return channels[0]->Receive(frame); }));
    EXPECT_EQ(frame, (Frame{0x02, 0x01, 0x7F})); // SABME, a command from the network
    auto b = Do(3, 6, [](LGCP::Command& c) {
        auto& p = c.select_create().select_ats_qsig_b();
        p.set_slot(5);
        p.set_subslot(3);
    });
    ExpectAnswer(Exchange(b)[0], 3, 6);
    EXPECT_EQ(dsp.BChannel(2), Slots::instance().Find(6)->GetTransmitChannel());
    EXPECT_EQ(dsp.BChannel(0), -1);
    EXPECT_EQ(dsp.BChannel(1), -1);
}

// A PRI link on a PSTN slot reports congestion when the 89th message waits
// for the link to come up.
TEST_F(SlotFields, PriLinkCongestionReport)
{
    ExpectAnswer(Exchange(CreateIsdn(1, 5, false, false, true))[0], 1, 5);
    Connect(2, 5); // SABME, unanswered
    for (unsigned i = 0; i < 88; ++i)
        EXPECT_TRUE(client.Send(Encode(UserData(10 + i, 5, {0x08, 0x01, 0x01, 0x05}))));
    auto got = Receive(88);
    for (auto const& m : got)
        EXPECT_FALSE(m.get_pdu().signal_isSelected());
    got = Exchange(UserData(100, 5, {0x08, 0x01, 0x01, 0x05}), 2);
    EXPECT_EQ(SELECTED(Response(got[0]), isdnLinkStatus).asInt(), LGCP::IsdnLinkStatus::congested);
}


// A frame that ends a gathering while nothing was gathered sends no signal.
TEST_F(SlotFields, NothingGatheredNothingSent)
{
    ExpectAnswer(Exchange(CreateHdlc(1, 7, 1, 0x1234))[0], 1, 7);
    int ts = Connect(2, 7);
    ASSERT_TRUE(mcc.Inject(ts, {0x55, 0x55, 0x00, 1, 0})); // another address, unmarked
    ExpectQuiet();
}

// An empty frame from the device is no read error: the link goes on.
TEST_F(SlotFields, EmptyFrameFromTheDevice)
{
    ExpectAnswer(Exchange(CreateIsdn(1, 5, false, false))[0], 1, 5);
    int ts = Slots::instance().Find(5)->GetTransmitChannel();
    ExpectAnswer(Exchange(Activate(2, 5))[0], 2, 5);
    EXPECT_EQ(Written(ts, 1), (std::vector<Frame>{{0x00, 0x01, 0x7F}}));
    ASSERT_TRUE(mcc.Inject(ts, {}));
    ASSERT_TRUE(mcc.Inject(ts, {0x00, 0x01, 0x73})); // UA
    auto got = Receive(2);
    EXPECT_TRUE(Response(got[0]).isdnLinkInfo_isSelected());
    EXPECT_TRUE(SignalOf(got[1]).activated_isSelected());
}

// Connections both ways: a QSIG B channel to another; a PSTN SS7 slot whose
// sending side is disconnected keeps its link.
TEST_F(SlotFields, ConnectionsOfEitherSide)
{
    auto qsig = Do(1, 5, [](LGCP::Command& c) { c.select_create().select_ats_qsig().get_side().select_user(); });
    ExpectAnswer(Exchange(qsig)[0], 1, 5);
    for (int sub : {1, 2}) {
        auto b = Do(2, 5 + sub, [&](LGCP::Command& c) {
            auto& p = c.select_create().select_ats_qsig_b();
            p.set_slot(5);
            p.set_subslot(static_cast<unsigned>(sub));
        });
        ExpectAnswer(Exchange(b)[0], 2, 5 + sub);
    }
    ExpectAnswer(Exchange(test::Connect(3, 6, {7}))[0], 3, 6);
    EXPECT_EQ(sw.Source(dsp.BChannel(1)), dsp.BChannel(0));

    ExpectAnswer(Exchange(CreateSs7(4, 10, 1))[0], 4, 10);
    Connect(5, 10);
    Exchange(CreateE1(6, 11, 1, 17), 3);
    ExpectAnswer(Exchange(test::Connect(7, 10, {11}))[0], 7, 10);
    ExpectAnswer(Exchange(Disconnect(8, 11))[0], 8, 11);
    ExpectQuiet();
    EXPECT_EQ(mcc.Timeslots().size(), 1u);
}

} // namespace
