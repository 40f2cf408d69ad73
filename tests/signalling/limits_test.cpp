// The limits of the signalling links at their ends: the last value taken
// and the first refused, with the timers at the values the daemon runs.
#include "lapd_rig.h"
#include "ss7_fixture.h"

#include "signalling/hdlc_slot.h"
#include "signalling/pstn_slot.h"
#include "tests/core/test_slots.h"
#include "tests/framework/loop_helpers.h"

#include <gtest/gtest.h>

#include <iostream>
#include <utility>

namespace {

using lapdtest::Rig;
using lapdtest::hex;

using LapdLimits = lapdtest::Clocked;

// T202 2 s, five requests in all (N202 = 3 repeats after the first and one
// more before giving up), the TEI of an assignment taken up to 126.
TEST_F(LapdLimits, TeiRequestTimerRepeatsAndHighestTei)
{
    Rig r(ISDN::Side::user, true);
    test::Capture err(std::cerr), log(std::clog);
    r.inject("FE FF 03 0F 00 00 06 FF"); // remove every TEI
    EXPECT_EQ(r.out().size(), 1u);
    for (int request = 2; request <= 5; ++request) {
        advance(1999);
        EXPECT_TRUE(r.out().empty()) << request;
        advance(1);
        EXPECT_EQ(r.out().size(), 1u) << request;
    }
    advance(1999);
    EXPECT_TRUE(r.reports().empty());
    advance(1);
    EXPECT_EQ(r.reports(), std::vector<std::string>{"down:link error (T202 expired N202 times)"});
    EXPECT_EQ(r.link->get_state(), ISDN::tei_unassigned);
    EXPECT_TRUE(r.out().empty());

    // The highest TEI an assignment gives; 127 is the group's, never ours.
    r.link->local_activate();
    auto ri = [&] { return hex({uint8_t(r.link->ri()), uint8_t(r.link->ri() >> 8)}); };
    r.out();
    r.inject("FE FF 03 0F " + ri() + " 02 FF");
    EXPECT_EQ(r.link->get_state(), ISDN::establish_awaiting_tei);
    r.inject("FE FF 03 0F " + ri() + " 02 FD");
    EXPECT_EQ(r.link->variables().own_tei, 126);
    EXPECT_EQ(r.out(), std::vector<std::string>{"00 FD 7F"}); // SABME to TEI 126
}

// The network side: a TEI check every 60 s, 2 s for its answer, a poll after
// 10 s of quiet, repeated every second three times before the link ends.
TEST_F(LapdLimits, NetworkSideTimersOnTheirMillisecond)
{
    lapdtest::NtRig r;
    const std::string check = "FE FF 03 0F 00 00 04 FF";
    r.nt->activate();
    EXPECT_EQ(r.out(), std::vector<std::string>{check});
    advance(59999);
    EXPECT_TRUE(r.out().empty());
    advance(1);
    EXPECT_EQ(r.out(), std::vector<std::string>{check});
    r.inject("FC FF 03 0F 01 01 01 FF"); // identity request: TEI 64
    EXPECT_EQ(r.out(), (std::vector<std::string>{"FE FF 03 0F 01 01 02 81", "02 81 7F"}));
    advance(9999);
    EXPECT_TRUE(r.out().empty());
    advance(1);
    EXPECT_EQ(r.out(), std::vector<std::string>{"02 81 01 01"}); // RR command, P
    for (int poll = 0; poll < 3; ++poll) {
        advance(999);
        EXPECT_TRUE(r.out().empty()) << poll;
        advance(1);
        EXPECT_EQ(r.out(), std::vector<std::string>{"02 81 01 01"}) << poll;
    }
    advance(999);
    EXPECT_NE(r.link(64), nullptr);
    advance(1);
    EXPECT_EQ(r.link(64), nullptr);
    EXPECT_TRUE(r.out().empty());

    // A terminal that answers no check loses its TEI 2 s after the request.
    r.inject("FC FF 03 0F 02 02 01 FF");
    r.inject("FC FF 03 0F 03 03 07 FF"); // verify request: a check
    r.out();
    advance(1999);
    EXPECT_NE(r.link(64), nullptr);
    advance(1);
    EXPECT_EQ(r.link(64), nullptr);
    r.nt->deactivate();
}

// Identity requests to the network side: Ai 0 to 63 are ignored, 64 to 126
// denied, 127 asks for a TEI from 64 on.
TEST_F(LapdLimits, NetworkSideTeiRanges)
{
    lapdtest::NtRig r;
    r.nt->activate();
    r.out();
    r.inject("FC FF 03 0F 05 00 01 7F"); // Ai 63
    EXPECT_TRUE(r.out().empty());
    r.inject("FC FF 03 0F 05 00 01 81"); // Ai 64
    EXPECT_EQ(r.out(), std::vector<std::string>{"FE FF 03 0F 05 00 03 81"});
    r.inject("FC FF 03 0F 06 00 01 FD"); // Ai 126
    EXPECT_EQ(r.out(), std::vector<std::string>{"FE FF 03 0F 06 00 03 FD"});
    r.inject("FC FF 03 0F 07 00 01 FF"); // Ai 127
    EXPECT_EQ(r.out(), (std::vector<std::string>{"FE FF 03 0F 07 00 02 81", "02 81 7F"}));
    r.nt->deactivate();
}

using namespace ss7test;

// A FISU whose FSN names a unit never received is answered by a negative
// acknowledgement: the BIB inverted.
TEST(Ss7Limits, FisuAheadOfTheLastUnitIsNacked)
{
    Clock clock;
    Link l;
    reach(l, clock, S::worked);
    l.rx(su(127, true, 1, true));
    EXPECT_EQ(l.wire.take(), std::vector<Bytes>{su(127, false, 127, true)});
    EXPECT_EQ(l.slc->statistics()->bad_seq, 1u);
}

// LI 1 and 2 are link status units, 3 and up message units; a payload of 62
// octets carries LI 62, one of 63 or more LI 63, and a received unit is
// taken when its LI says so.
TEST(Ss7Limits, LengthIndicatorAtItsEnds)
{
    Clock clock;
    Link l;
    l.rx({0xFF, 0xFF, 0x02, SS7::SIN, 0x00}); // LI 2: its first octet
    EXPECT_EQ(l.state(), S::proving);
    l.rx(su(127, true, 0, true, {0x03, 0x01, 0x02})); // LI 3: an MSU
    EXPECT_EQ(l.state(), S::worked);
    l.wire.take();
    for (unsigned n : {62u, 63u, 64u}) {
        l.send(msu_payload(n, n));
        std::vector<Bytes> out = l.wire.take();
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(unsigned(out[0][2]), n < 63 ? n : 63u) << n;
        EXPECT_EQ(out[0].size(), 3 + n);
    }
    // Received: the far end's units of 3, 62, 63 and 64 octets, each with
    // the LI it should carry, come up; 62 octets under LI 63 do not.
    test::Capture err(std::cerr);
    unsigned fsn = 0;
    for (unsigned n : {3u, 62u, 63u, 64u})
        l.rx(su(127, true, fsn++, true, msu_payload(n, n)));
    Bytes wrong = su(127, true, fsn, true, msu_payload(1, 62));
    wrong[2] = 63;
    l.rx(wrong);
    ASSERT_EQ(l.owner.delivered.size(), 4u);
    for (unsigned i = 0; i < 4; ++i)
        EXPECT_EQ(l.owner.delivered[i].size(), std::vector<unsigned>({3, 62, 63, 64})[i]);
    EXPECT_EQ(l.state(), S::worked);
}

// The slots' timers as the daemon runs them, on the loop's clock.
class SlotPeriods : public test::SlotFixture {
protected:
    void SetUp() override
    {
        test::SlotFixture::SetUp();
        looptest::set_clock(now);
    }
    void TearDown() override
    {
        test::SlotFixture::TearDown();
        Mux::mux_cleartimeofday();
    }
    void advance(unsigned ms)
    {
        for (unsigned i = 0; i < ms; ++i) {
            looptest::set_clock(++now);
            multiplexer.timers_schedule();
        }
    }
    size_t signals() { return std::exchange(reports.lines, {}).size(); }
    uint64_t now = 7000000;
};

// A PSTN slot reports its channel and its link every 3 s, an HDLC slot its
// channel; packages marked "more" wait 100 ms for the rest.
TEST_F(SlotPeriods, ReportsEveryThreeSecondsAndGatheringForATenthOfOne)
{
    LGCP::PstnParams pstn;
    auto& ss7 = pstn.select_ss7();
    ss7.set_trunk(1);
    ss7.set_slc(0);
    ss7.set_dpc(0);
    ss7.set_opc(0);
    ss7.set_emergency(false);
    Slots::instance().Enter(5, *new PstnSlot(PstnFactory::instance(), pstn));
    LGCP::HdlcParams hdlc;
    hdlc.set_trunk(1);
    hdlc.set_log(0);
    hdlc.set_address(0x1234);
    auto* slot = new HdlcSlot(HdlcSlotFactory::instance(), hdlc);
    Slots::instance().Enter(6, *slot);
    for (int period = 0; period < 2; ++period) {
        advance(2999);
        EXPECT_EQ(signals(), 0u);
        advance(1);
        EXPECT_EQ(signals(), 3u); // HDLC and SS7, HDLC
    }
    auto frame = [](uint8_t more) {
        Packet p;
        p.reserve_head(0);
        for (uint8_t o : {uint8_t(0x12), uint8_t(0x34), uint8_t(0), uint8_t(1), more})
            p.put8(o);
        return p;
    };
    advance(1000);
    Packet marked = frame(0x80);
    slot->on_hdlc_receive(marked);
    advance(50);
    slot->on_hdlc_receive(marked); // the delay runs from the first
    advance(49);
    EXPECT_EQ(signals(), 0u);
    advance(1);
    EXPECT_EQ(signals(), 1u);
    Packet last = frame(0);
    slot->on_hdlc_receive(last);
    EXPECT_EQ(signals(), 1u);
}

} // namespace
