// Every field of the link's report, of its state dump and of its counters
// given a value of its own, so that one read from its neighbour shows.
#include "lapd_rig.h"

#include "tests/core/test_slots.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

using namespace lapdtest;
using namespace ISDN;

namespace {

class LapdFields : public Clocked
{
protected:
    // An I frame from the network to TEI 66 (C/R = 1: a command).
    static std::string i_frame(unsigned ns, unsigned nr)
    {
        return "02 85 " + hex({uint8_t(ns << 1), uint8_t(nr << 1), 0x08, 0x01, 0x05});
    }
    // An RR response from the network with F = f.
    static std::string rr_response(unsigned nr, bool f)
    {
        return "00 85 01 " + hex({uint8_t(nr << 1 | (f ? 1 : 0))});
    }
};

TEST_F(LapdFields, LinkInfoStateDumpAndCountersEachInTheirPlace)
{
    Rig r(Side::user, true);
    test::Capture err(std::cerr), log(std::clog);
    // TEI 0 removed; the first request goes unanswered (one T202 expiry);
    // TEI 66 assigned starts T200, which runs out in state 3.
    r.inject(network_mgmt(0, 6, 127));
    advance(2000);
    r.inject(network_mgmt(r.link->ri(), 2, 66));
    ASSERT_EQ(r.link->variables().own_tei, 66);
    advance(1000);
    // Established by the peer; 8 messages in sequence; then an N(R) out of
    // range (V(A) = V(S) = 0) re-establishes, and the UA resets V(R).
    r.inject("02 85 7F");
    ASSERT_EQ(r.link->get_state(), multiple_frame_established);
    for (unsigned ns = 0; ns < 8; ++ns)
        r.inject(i_frame(ns, 0));
    r.inject("02 85 01 0A");
    ASSERT_EQ(r.link->get_state(), awaiting_establishment);
    r.inject("00 85 73");
    ASSERT_EQ(r.link->get_state(), multiple_frame_established);
    // Eight idle periods, each ended by the answer to the enquiry.
    for (int i = 0; i < 8; ++i) {
        advance(10000);
        ASSERT_EQ(r.link->get_state(), timer_recovery);
        r.inject(rr_response(0, true));
    }
    // Six in sequence, nine out of sequence (one REJ).
    for (unsigned ns = 0; ns < 6; ++ns)
        r.inject(i_frame(ns, 0));
    for (int i = 0; i < 9; ++i)
        r.inject(i_frame(100, 0));
    // 146 offered: a window of 7 goes, 128 wait, 11 are discarded.
    for (int i = 0; i < 146; ++i)
        r.send({0x08, 0x01, uint8_t(i)});
    // N(R) 1 frees one place in the window; T200 polls; the answer's N(R) 3
    // puts the five frames from 3 back; T200 polls twice more.
    r.inject(rr_response(1, false));
    advance(1000);
    r.inject(rr_response(3, true));
    advance(1000);
    advance(1000);
    // Last, a check request on SAPI 63 for every TEI.
    r.out();
    r.inject(network_mgmt(0, 4, 127));
    EXPECT_EQ(r.out(), std::vector<std::string>{"FC FF 03 0F " + hex({uint8_t(r.link->ri()), uint8_t(r.link->ri() >> 8)})
                                                + " 05 85"});

    ACP::IsdnLinkInfo info;
    ASSERT_TRUE(r.link->GetInfo(info));
    EXPECT_EQ((std::vector<unsigned>{
                  unsigned(info.get_msuTxCount().getValue()), unsigned(info.get_msuRxCount().getValue()),
                  unsigned(info.get_mT200().getValue()), unsigned(info.get_mT203().getValue()),
                  unsigned(info.get_errors().getValue()), unsigned(info.get_retrains().getValue()),
                  unsigned(info.get_outOverflows().getValue()), unsigned(info.get_ackOverflows().getValue()),
                  unsigned(info.get_rejected().getValue()), unsigned(info.get_badconfirm().getValue()),
                  unsigned(info.get_lapdState().asInt()), unsigned(info.get_rc().getValue()),
                  unsigned(info.get_vs().getValue()), unsigned(info.get_va().getValue()),
                  unsigned(info.get_vr().getValue()), unsigned(info.get_queueOut().getValue()),
                  unsigned(info.get_queueAck().getValue())}),
              (std::vector<unsigned>{146, 14, 4, 8, 0, 5, 11, 0, 9, 1, 7, 2, 10, 3, 6, 125, 7}));
    EXPECT_EQ((std::vector<bool>{info.get_peerBusy(), info.get_ownBusy(), info.get_rejException(),
                                 info.get_ackPending(), info.get_l3Initiated(), info.get_establishable(),
                                 info.get_queuedUpRQ(), info.get_retrRQ(), info.get_ackRQ(), info.get_t200run(),
                                 info.get_t203run()}),
              (std::vector<bool>{false, false, true, false, false, true, true, false, false, true, false}));

    std::ostringstream dump;
    r.link->status()->out(dump);
    EXPECT_EQ(dump.str(), "current status"
                          "\n   - state: Timer recovery"
                          "\n   - self: TEI=66, SAPI=0, busy=0"
                          "\n   - peer: TEI=127, SAPI=63, busy=0"
                          "\n   - counters: VS=10, VA=3, VR=6, RC=2"
                          "\n   - internal signals: AckRQ=0, RetrRQ=0, QueuedUp=1"
                          "\n   - flags: L3Initiated=0, Establishable=1, RejectException=1"
                          "\n   - timers: T200 running, T202 stopped, T203 stopped");
    test::Capture out(std::cout);
    r.link->show_stat();
    EXPECT_NE(out.text().find(" - statistics: \n   - timers expire count: T200: 4, T202: 1, T203: 8\n"
                              "   - errors: 0, retrains: 5\n   - queue overflows: out: 11, ack: 0\n"),
              std::string::npos)
        << out.text();
}

// State changes in and out of multiple frame established, and the end of
// timer recovery, each at the lowest level that writes it.
TEST_F(LapdFields, RecoveryTraceLinesAtTheirLevels)
{
    std::pair<char const*, unsigned> const lines[] = {
        {"change state \"Multiple frame established\" -> \"Timer recovery\"", 4},
        {"ack timeout expired RC=2", 2},
        {"ack error !!!", 2},
        {"change state \"Timer recovery\" -> \"Awaiting establishment\"", 2},
        {"change state \"Awaiting establishment\" -> \"Multiple frame established\"", 2},
        {"change state \"Timer recovery\" -> \"Multiple frame established\"", 4},
        {"change state \"Multiple frame established\" -> \"TEI assigned\"", 2},
    };
    for (unsigned log = 1; log <= 4; ++log) {
        Rig r(Side::user, false, log);
        test::Capture clog(std::clog), err(std::cerr);
        r.link->activate();
        r.inject("00 01 73");
        r.send({0x08, 0x01, 0x05});
        for (int i = 0; i < 4; ++i) // the fourth gives up on the enquiry
            advance(1000);
        ASSERT_EQ(r.link->get_state(), awaiting_establishment);
        EXPECT_FALSE(r.link->variables().l3_initiated); // the link's own re-establishment
        r.inject("00 01 73");
        advance(10000);
        r.inject("00 01 01 01");
        ASSERT_EQ(r.link->get_state(), multiple_frame_established);
        r.inject("02 01 53");
        ASSERT_EQ(r.link->get_state(), tei_assigned);
        for (auto const& l : lines)
            EXPECT_EQ(clog.text().find(l.first) != std::string::npos, log >= l.second) << l.first << " at " << log;
    }
}

// The network side's log lines carry each link's TEI, state and check;
// the links write from log level 2, the layer from 1.
TEST_F(LapdFields, NetworkSideLinkHeaders)
{
    for (unsigned log : {1u, 2u}) {
        NtRig r;
        test::Capture clog(std::clog);
        r.nt->set_log(log);
        r.nt->activate();
        r.inject("FC FF 03 0F 01 01 01 FF"); // identity request: TEI 64
        advance(10000);                      // the idle poll
        r.inject("FC FF 03 0F 03 03 07 FF"); // verify request: a check
        advance(2000);                       // unanswered
        r.nt->deactivate();                  // every link, free ones too
        std::string t = clog.text();
        for (char const* line : {"LAPD(NT BRI):recieved identity request,TEI assigned:64", "[Tei=64,assigned]",
                                 "[Tei=64,wait_answer]", "[Tei=64,wait_answer,check]", "[unassigned]:unassigned"})
            EXPECT_EQ(t.find(line) != std::string::npos, log == 2 || line[0] == 'L') << line << "\n" << t;
    }
}

// A UI frame is traced as such from log level 4.
TEST_F(LapdFields, UiTraceFromLevelFour)
{
    for (unsigned log : {3u, 4u}) {
        Rig r(Side::user, true, log);
        test::Capture clog(std::clog);
        r.inject(network_mgmt(0, 4, 127)); // check request
        EXPECT_EQ(clog.text().find("): on_UI()\n") != std::string::npos, log == 4) << clog.text();
        EXPECT_EQ(clog.text().find("on_UI() type=4 Ai=127") != std::string::npos, log == 4) << clog.text();
    }
}

} // namespace
