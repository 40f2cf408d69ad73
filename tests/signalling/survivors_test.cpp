// The user side's link report field by field, the network side's refusal
// when the packet pool is low, and the ISDN and QSIG slots' devices: a
// frame and room to write in one wake-up, an empty frame, a read error, the
// PRI network side, a D channel on time slot 0.
#include "lapd_rig.h"

#include "board/mcc.h"
#include "samples/link/loop_driver.h"
#include "tests/signalling/slot_link.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace {

using lapdtest::hex;

// ---- the user side's link report ----

using LinkReport = lapdtest::Clocked;

// The counters and numbers of a report, each by its name.
std::string Numbers(ACP::IsdnLinkInfo const& i)
{
    std::ostringstream s;
    s << "msuTxCount " << i.get_msuTxCount().getValue() << ", msuRxCount " << i.get_msuRxCount().getValue()
      << ", mT200 " << i.get_mT200().getValue() << ", mT203 " << i.get_mT203().getValue() << ", errors "
      << i.get_errors().getValue() << ", retrains " << i.get_retrains().getValue() << ", outOverflows "
      << i.get_outOverflows().getValue() << ", ackOverflows " << i.get_ackOverflows().getValue() << ", rejected "
      << i.get_rejected().getValue() << ", badconfirm " << i.get_badconfirm().getValue() << ", lapdState "
      << i.get_lapdState().asInt() << ", rc " << i.get_rc().getValue() << ", vs " << i.get_vs().getValue()
      << ", va " << i.get_va().getValue() << ", vr " << i.get_vr().getValue() << ", queueOut "
      << i.get_queueOut().getValue() << ", queueAck " << i.get_queueAck().getValue();
    return s.str();
}

// The names of the flags that are set.
std::string Flags(ACP::IsdnLinkInfo const& i)
{
    std::string s;
    auto add = [&s](bool set, const char* name) {
        if (set)
            s += std::string(s.empty() ? "" : " ") + name;
    };
    add(i.get_peerBusy(), "peerBusy");
    add(i.get_ownBusy(), "ownBusy");
    add(i.get_rejException(), "rejException");
    add(i.get_ackPending(), "ackPending");
    add(i.get_l3Initiated(), "l3Initiated");
    add(i.get_establishable(), "establishable");
    add(i.get_queuedUpRQ(), "queuedUpRQ");
    add(i.get_retrRQ(), "retrRQ");
    add(i.get_ackRQ(), "ackRQ");
    add(i.get_t200run(), "t200run");
    add(i.get_t203run(), "t203run");
    return s;
}

// Frames of the network side to a PRI user link: an I frame (command), and
// a supervisory response (RR 0x01, RNR 0x05, REJ 0x09) with F = 0.
std::string I(unsigned ns, unsigned nr)
{
    return "02 01 " + hex({uint8_t(ns << 1), uint8_t(nr << 1)}) + " 08 01 01 07";
}
std::string S(unsigned code, unsigned nr)
{
    return "00 01 " + hex({uint8_t(code), uint8_t(nr << 1)});
}

// Every number of the report brought to a value of its own, and the flags
// over four reports to a pattern of their own, so that any field taken from
// its neighbour shows. ackPending is never set, even while an acknowledgement
// is owed (ackRQ).
TEST_F(LinkReport, EveryFieldInItsPlace)
{
    test::Capture err(std::cerr);
    lapdtest::Rig r;
    ACP::IsdnLinkInfo info;
    ASSERT_TRUE(r.link->GetInfo(info));
    EXPECT_EQ(info.get_lapdState().asInt(), 3);
    EXPECT_EQ(Flags(info), "establishable");

    // Established from here after one unanswered SABME: T200 once.
    r.link->activate();
    advance(ISDN::LAPD::T200);
    r.inject("00 01 73"); // UA, F
    for (unsigned ns = 0; ns < 10; ++ns)
        r.inject(I(ns, 0));
    for (int i = 0; i < 9; ++i) { // T203 nine times, each enquiry answered
        advance(ISDN::LAPD::T203);
        r.inject("00 01 01 01"); // RR, F, N(R) 0
    }
    for (int i = 0; i < 12; ++i)
        r.inject("02 01"); // too short to be a frame
    {
        std::vector<Packet> held; // the pool at its reserve: 13 refused
        while (PacketPool::available() > 256)
            held.push_back(lapdtest::packet({0}));
        for (int i = 0; i < 13; ++i)
            r.send({0x08, 0x01, 0x01, 0x05});
    }
    for (unsigned ns = 20; ns < 25; ++ns)
        r.inject(I(ns, 0)); // out of sequence: one REJ
    r.channel.full = true;
    for (int i = 0; i < 7; ++i)
        r.send({0x08, 0x01, 0x01, 0x05});
    ASSERT_TRUE(r.link->GetInfo(info));
    EXPECT_EQ(info.get_lapdState().asInt(), 6);
    EXPECT_EQ(Flags(info), "rejException l3Initiated establishable queuedUpRQ t203run");

    // An N(R) error; the peer's UA; REJ from 0, then from 3: 7 + 4 put back.
    r.channel.full = false;
    r.inject(S(0x01, 5));
    r.inject("00 01 73");
    r.inject(S(0x09, 0));
    r.inject(S(0x09, 3));
    r.inject(I(3, 3)); // out of sequence
    r.inject(S(0x05, 3)); // RNR: busy
    r.send({0x08, 0x01, 0x01, 0x05});
    r.send({0x08, 0x01, 0x01, 0x05});
    ASSERT_TRUE(r.link->GetInfo(info));
    EXPECT_EQ(info.get_lapdState().asInt(), 6);
    EXPECT_EQ(Flags(info), "peerBusy rejException establishable queuedUpRQ t200run");

    // Established again from here, 22 messages: 14 sent, 10 acknowledged,
    // T200 twice into timer recovery; 5 I frames taken, the last one's RR
    // refused by the channel.
    r.link->activate();
    r.inject("00 01 73");
    for (int i = 0; i < 22; ++i)
        r.send({0x08, 0x01, 0x01, 0x05});
    r.inject(S(0x01, 7));
    advance(ISDN::LAPD::T200);
    r.inject(S(0x01, 10));
    advance(ISDN::LAPD::T200);
    for (unsigned ns = 0; ns < 4; ++ns)
        r.inject(I(ns, 10));
    r.channel.full = true;
    r.inject(I(4, 10));
    ASSERT_TRUE(r.link->GetInfo(info));
    EXPECT_EQ(Numbers(info), "msuTxCount 44, msuRxCount 15, mT200 3, mT203 9, errors 12, retrains 11, "
                             "outOverflows 13, ackOverflows 0, rejected 6, badconfirm 1, lapdState 7, rc 2, "
                             "vs 14, va 10, vr 5, queueOut 8, queueAck 4");
    EXPECT_EQ(Flags(info), "l3Initiated establishable queuedUpRQ ackRQ t200run");
}

// In state 4 the report tells who began the establishment, and whether
// what waits is flagged to go: only when the peer's error began it.
TEST_F(LinkReport, EstablishingAfterAPeerErrorOrOnRequest)
{
    test::Capture err(std::cerr);
    lapdtest::Rig r;
    r.link->activate();
    r.inject("00 01 73");
    r.channel.full = true;
    r.send({0x08, 0x01, 0x01, 0x05});
    r.channel.full = false;
    r.inject("00 01 0F"); // DM, F = 0
    ACP::IsdnLinkInfo info;
    ASSERT_TRUE(r.link->GetInfo(info));
    EXPECT_EQ(info.get_lapdState().asInt(), 4);
    EXPECT_EQ(info.get_queueOut().getValue(), 1);
    EXPECT_EQ(Flags(info), "establishable queuedUpRQ t200run");

    r.link->activate(); // DL-ESTABLISH in state 4 drops what waited
    r.send({0x08, 0x01, 0x01, 0x06});
    ASSERT_TRUE(r.link->GetInfo(info));
    EXPECT_EQ(info.get_lapdState().asInt(), 4);
    EXPECT_EQ(info.get_queueOut().getValue(), 1);
    EXPECT_EQ(Flags(info), "l3Initiated establishable t200run");
    r.out();
    r.inject("00 01 73"); // established: it goes, and nothing is left flagged
    EXPECT_EQ(r.out(), std::vector<std::string>{"00 01 00 00 08 01 01 06"});
    ASSERT_TRUE(r.link->GetInfo(info));
    EXPECT_EQ(Flags(info), "l3Initiated establishable t200run");

    // A FRMR from the peer is its error too.
    r.channel.full = true;
    r.send({0x08, 0x01, 0x01, 0x07});
    r.send({0x08, 0x01, 0x01, 0x08});
    r.channel.full = false;
    r.inject("00 01 87"); // FRMR
    ASSERT_TRUE(r.link->GetInfo(info));
    EXPECT_EQ(info.get_lapdState().asInt(), 4);
    EXPECT_EQ(info.get_queueOut().getValue(), 2);
    EXPECT_EQ(Flags(info), "establishable queuedUpRQ t200run");
}

TEST(LapdSide, PrintsItsName)
{
    std::ostringstream s;
    s << ISDN::Side::user << ' ' << ISDN::Side::network;
    EXPECT_EQ(s.str(), "user network");
}

// ---- the network side at the pool's reserve ----

using NtPool = lapdtest::Clocked;

// A terminal with nothing outstanding: a message would go straight out, yet
// with the pool at its reserve it is refused as one that would wait.
TEST_F(NtPool, ReserveRefusesAMessageNothingWaitsBefore)
{
    test::Capture err(std::cerr);
    lapdtest::NtRig r;
    r.nt->activate();
    r.inject("FC FF 03 0F 00 01 01 FF"); // identity request: TEI 64
    r.inject("00 81 7F");                // SABME
    r.inject("00 81 00 00 08 01 03 01"); // an I frame of call reference 3
    r.out();
    std::vector<Packet> held;
    while (PacketPool::available() > 256)
        held.push_back(lapdtest::packet({0}));
    r.send({0x08, 0x01, 0x83, 0x7B});
    EXPECT_TRUE(r.out().empty());
    EXPECT_EQ(r.nt->refusal(), Refusal::full);
    EXPECT_EQ(r.nt->overflows(), 1u);
    EXPECT_EQ(err.count("LAPD(NT BRI): TEI 64: discard outgoing message: buffer overflow\n"), 1u);
    ASSERT_NE(r.link(64), nullptr);
    EXPECT_EQ(r.link(64)->outstanding() + r.link(64)->waiting(), 0u);
    // One buffer above the reserve: sent at once.
    held.pop_back();
    r.send({0x08, 0x01, 0x83, 0x7C});
    EXPECT_EQ(r.out(), std::vector<std::string>{"02 81 00 02 08 01 83 7C"});
    EXPECT_EQ(r.nt->refusal(), Refusal::none);
    EXPECT_EQ(r.nt->overflows(), 1u);
}

// ---- the ISDN slot's device ----

using namespace tdmtest;

// An ISDN slot on an MCC channel whose device events the test hands over
// itself, as one wake-up of the loop would.
struct Probe : IsdnSlot {
    explicit Probe(Mcc::Channel const& channel)
        : IsdnSlot(IsdnFactory::instance(), channel.fd, channel.timeslot, new ISDN::LAPD(ISDN::Side::user, 0),
                   "Probe::OnEvent")
    {
    }
    using IsdnSlot::OnEvent;
    int fd() const { return mEvent.lowlevel_fd(); }
    unsigned refusedFrames() const { return mLapd->stats().errors; }
};

class DChannel : public SlotLink
{
protected:
    // Slot 9, its link established; its time slot.
    int Establish()
    {
        Mcc::Channel channel = Mcc::Allocate(O_RDWR | O_NONBLOCK, {Mcc::kData, 512, 0, 1, 1});
        EXPECT_EQ(channel.failed, Mcc::Channel::ok);
        probe = new Probe(channel);
        Slots::instance().Enter(9, *probe);
        ExpectAnswer(Exchange(Activate(1, 9))[0], 1, 9);
        EXPECT_EQ(Written(channel.timeslot, 1), (std::vector<Frame>{{0x00, 0x01, 0x7F}}));
        EXPECT_TRUE(mcc.Inject(channel.timeslot, {0x00, 0x01, 0x73}));
        auto got = Receive(2);
        EXPECT_TRUE(SignalOf(got[1]).activated_isSelected());
        return channel.timeslot;
    }
    // A message the blocked device did not take: it waits for room.
    void Blocked(int ts, unsigned seq, char last)
    {
        ASSERT_TRUE(mcc.Refuse(ts));
        ExpectAnswer(Exchange(UserData(seq, 9, {0x08, 0x01, 0x01, last}))[0], seq, 9);
        EXPECT_FALSE(probe->is_ready());
        mcc.Drain(ts);
    }

    Probe* probe = nullptr;
};

// Room to write that comes with a frame is not lost behind the frame: the
// frame goes up and the waiting frame goes out in the same wake-up.
TEST_F(DChannel, FrameAndRoomInOneWakeUp)
{
    test::Capture err(std::cerr);
    int ts = Establish();

    Blocked(ts, 2, 0x05);
    ASSERT_TRUE(mcc.Inject(ts, {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x07}));
    probe->OnEvent(probe->fd(), POLLIN | POLLOUT);
    EXPECT_TRUE(probe->is_ready());
    EXPECT_EQ(mcc.Written(ts), (std::vector<Frame>{{0x00, 0x01, 0x00, 0x02, 0x08, 0x01, 0x01, 0x05}}));
    auto got = Receive(1);
    EXPECT_EQ(SELECTED(SignalOf(got[0]), userData), (std::vector<char>{0x08, 0x01, char(0x81), 0x07}));

    // A frame the link drops unread sends nothing itself: only the room does.
    Blocked(ts, 3, 0x06);
    ASSERT_TRUE(mcc.Inject(ts, {0x02, 0x01}));
    probe->OnEvent(probe->fd(), POLLIN | POLLOUT);
    EXPECT_TRUE(probe->is_ready());
    EXPECT_EQ(mcc.Written(ts), (std::vector<Frame>{{0x00, 0x01, 0x02, 0x02, 0x08, 0x01, 0x01, 0x06}}));
    EXPECT_EQ(probe->refusedFrames(), 1u);

    // An empty frame, whatever error an earlier call left, is dropped: no
    // read error, no frame for the link, and the room is still taken.
    Blocked(ts, 4, 0x07);
    ASSERT_TRUE(mcc.Inject(ts, {}));
    errno = EIO;
    probe->OnEvent(probe->fd(), POLLIN | POLLOUT);
    EXPECT_TRUE(probe->is_open());
    EXPECT_TRUE(probe->is_ready());
    EXPECT_EQ(mcc.Written(ts), (std::vector<Frame>{{0x00, 0x01, 0x04, 0x02, 0x08, 0x01, 0x01, 0x07}}));
    EXPECT_EQ(probe->refusedFrames(), 1u); // not handed to the link at all

    // Woken with nothing to read: nothing happens.
    probe->OnEvent(probe->fd(), POLLIN);
    EXPECT_TRUE(probe->is_open());
    EXPECT_TRUE(mcc.Written(ts).empty());
    EXPECT_EQ(err.text().find("isdn[9]"), std::string::npos) << err.text();
}

// A device whose reads fail is released once and the controller told; the
// loop does not spin on it and the other slots are served.
TEST_F(DChannel, ReadErrorReleasesTheDevice)
{
    int ts = Establish();
    test::Capture err(std::cerr);
    ASSERT_TRUE(mcc.FailReads(ts));
    auto got = Receive(1);
    EXPECT_TRUE(SignalOf(got[0]).deactivated_isSelected());
    EXPECT_EQ(err.count("isdn[9]: read failed: " + std::string(std::strerror(EIO)) + "\n"), 1u) << err.text();
    EXPECT_EQ(err.count("isdn[9]: read error, device released\n"), 1u);
    EXPECT_FALSE(probe->is_open());
    EXPECT_FALSE(probe->is_ready());
    ExpectAnswer(Exchange(Activate(2, 9))[0], 2, 9, LGCP::ErrorCause::busError);
    ExpectServing(3);
    EXPECT_EQ(err.count("read failed"), 1u);
}

// The network side of a PRI runs the link of one terminal, not the BRI
// network side's TEI management: its SABME is a network command.
TEST_F(DChannel, PriNetworkSide)
{
    ExpectAnswer(Exchange(CreateIsdn(1, 10, false, true))[0], 1, 10);
    ExpectAnswer(Exchange(Activate(2, 10))[0], 2, 10);
    EXPECT_EQ(Written(Slots::instance().Find(10)->GetTransmitChannel(), 1),
              (std::vector<Frame>{{0x02, 0x01, 0x7F}}));
}

// The QSIG D channel's time slot as the driver gives it: 0 is a time slot,
// only a failed request refuses the slot.
TEST_F(DChannel, QsigDChannelOnTimeSlotZero)
{
    auto qsig = [](unsigned seq) {
        return Do(seq, 10, [](LGCP::Command& c) { c.select_create().select_ats_qsig().get_side().select_user(); });
    };
    board.Add("/dev/dsp-data", std::make_unique<Standin::DspData>(0));
    ExpectAnswer(Exchange(qsig(1))[0], 1, 10);
    ASSERT_NE(Slots::instance().Find(10), nullptr);
    EXPECT_EQ(Slots::instance().Find(10)->GetTransmitChannel(), 0);
    {
        test::Capture log(std::clog); // its link logs nothing
        ExpectAnswer(Exchange(Activate(4, 10))[0], 4, 10);
        EXPECT_EQ(log.count("LAPD["), 0u) << log.text();
    }
    ExpectAnswer(Exchange(Destroy(2, 10))[0], 2, 10);
    test::Capture err(std::cerr);
    board.FailRequest("/dev/dsp-data", 0x40044211UL, EIO);
    ExpectAnswer(Exchange(qsig(3))[0], 3, 10, LGCP::ErrorCause::insufficientResources);
    EXPECT_EQ(err.count("QSIG D time slot fail: "), 1u) << err.text();
}

} // namespace
