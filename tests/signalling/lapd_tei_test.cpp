// TEI management on a BRI user link: obtaining, checking and losing the
// TEI, and which frames and UI frames a BRI and a PRI link take.
#include "lapd_rig.h"

#include "samples/link/process.h"
#include "tests/core/test_slots.h"

#include <gtest/gtest.h>

using namespace lapdtest;
using namespace ISDN;

namespace {

class LapdTei : public Clocked
{
protected:
    // A network management frame to the group TEI (C/R = 1 from the network).
    static std::string mgmt(unsigned ri, unsigned type, unsigned ai) { return network_mgmt(ri, type, ai); }
    static std::string request(Rig& r, unsigned type = 1, unsigned ai = 127)
    {
        return "FC FF 03 0F " + hex({uint8_t(r.link->ri()), uint8_t(r.link->ri() >> 8), uint8_t(type),
                                      uint8_t(ai << 1 | 1)});
    }
};

TEST_F(LapdTei, ObtainsChecksAndLosesItsTei)
{
    Rig r(Side::user, true);
    // The network removes TEI 0, twice: state 0, then at once one request.
    r.inject(mgmt(0, 6, 127));
    r.inject(mgmt(0, 6, 127));
    EXPECT_EQ(r.link->get_state(), assign_awaiting_tei);
    EXPECT_EQ(r.out(), std::vector<std::string>{request(r)});
    EXPECT_EQ(r.timers(), "T202");

    // Another Ri is someone else's answer.
    r.inject(mgmt(r.link->ri() ^ 1, 2, 70));
    EXPECT_EQ(r.link->get_state(), assign_awaiting_tei);
    // A denial for ours is reported and the request repeated by T202.
    test::Capture err(std::cerr);
    r.inject(mgmt(r.link->ri(), 3, 127));
    EXPECT_EQ(r.reports(), std::vector<std::string>{"error:Tei Assign - Tei denied"});
    EXPECT_NE(err.text().find("ASP returned: All TEI's used"), std::string::npos);
    advance(LAPD::T202);
    EXPECT_EQ(r.out(), std::vector<std::string>{request(r)});

    // Assigned: TEI 70, state 3, T202 stopped and T200 started.
    r.inject(mgmt(r.link->ri(), 2, 70));
    EXPECT_EQ(r.link->get_state(), tei_assigned);
    EXPECT_EQ(r.link->variables().own_tei, 70);
    EXPECT_EQ(r.timers(), "T200");
    EXPECT_TRUE(r.reports().empty());

    // Frames for other TEIs are not ours; the group TEI is.
    r.inject("02 8F 7F"); // SABME to TEI 71
    EXPECT_TRUE(r.out().empty());
    r.inject("02 8D 7F"); // SABME to TEI 70
    EXPECT_EQ(r.out(), std::vector<std::string>{"02 8D 73"});
    EXPECT_EQ(r.link->get_state(), multiple_frame_established);
    EXPECT_EQ(r.reports(), (std::vector<std::string>{"error:trying to start T203 while T200 running", "up"}));
    EXPECT_EQ(r.timers(), "T203");

    // Check requests: for another TEI unanswered, for 127 or ours answered.
    r.inject(mgmt(0, 4, 71));
    EXPECT_TRUE(r.out().empty());
    r.inject(mgmt(0, 4, 127));
    EXPECT_EQ(r.out(), std::vector<std::string>{request(r, 5, 70)});
    r.inject(mgmt(0, 4, 70));
    EXPECT_EQ(r.out(), std::vector<std::string>{request(r, 5, 70)});

    // Removal, sent twice, releases the link and asks once from state 1.
    r.inject(mgmt(0, 6, 70));
    r.inject(mgmt(0, 6, 70));
    EXPECT_EQ(r.reports(), std::vector<std::string>{"down:error (MDL-REMOVE received)"});
    EXPECT_EQ(r.link->get_state(), assign_awaiting_tei);
    EXPECT_EQ(r.out(), std::vector<std::string>{request(r)});
    // The group TEI is never taken as our own.
    r.inject(mgmt(r.link->ri(), 2, 127));
    EXPECT_EQ(r.link->get_state(), assign_awaiting_tei);
}

// Two terminals restarted together must not ask with the same Ri.
TEST_F(LapdTei, ReferenceDiffersBetweenRuns)
{
    auto ri = [this] {
        Rig r(Side::user, true);
        r.inject(mgmt(0, 6, 127));
        const uint32_t first = r.link->ri();
        advance(LAPD::T202);
        return first << 16 | r.link->ri();
    };
    EXPECT_NE(test::InChild(ri), test::InChild(ri));
}

TEST_F(LapdTei, EstablishmentWaitsForTheTei)
{
    Rig r(Side::user, true);
    r.link->mdl_remove();
    // A message with no TEI asks for one: state 1 never waits without T202.
    r.send({0x08, 0x00, 0x01});
    EXPECT_EQ(r.link->get_state(), assign_awaiting_tei);
    EXPECT_EQ(r.timers(), "T202");
    r.out();
    r.link->activate();
    EXPECT_EQ(r.link->get_state(), establish_awaiting_tei);
    r.inject(mgmt(r.link->ri(), 2, 64));
    EXPECT_TRUE(r.reports().empty()); // T202 stopped before establishing
    EXPECT_EQ(r.out(), std::vector<std::string>{"00 81 7F"});
    EXPECT_EQ(r.link->get_state(), awaiting_establishment);
    EXPECT_EQ(r.timers(), "T200");
    r.inject("00 81 73");
    EXPECT_EQ(r.out(), std::vector<std::string>{"00 81 00 00 08 00 01"});
    EXPECT_EQ(r.reports(), std::vector<std::string>{"up"});
}

TEST_F(LapdTei, FiveRequestsThenGivesUp)
{
    // Departs from Q.921 (N202 = 3 requests): five in all.
    Rig r(Side::user, true, 2);
    test::Capture log(std::clog);
    r.link->mdl_remove();
    r.link->local_activate();
    log.take();
    for (int i = 0; i < 5; ++i)
        advance(LAPD::T202);
    EXPECT_EQ(log.count("change state"), 0u); // state 0 without a trace line
    EXPECT_EQ(r.out().size(), 5u);
    EXPECT_EQ(r.link->get_state(), tei_unassigned);
    EXPECT_EQ(r.reports(), std::vector<std::string>{"down:link error (T202 expired N202 times)"});
    EXPECT_EQ(r.timers(), "-");
}

TEST_F(LapdTei, LayerThreeInUiFrames)
{
    // Departs from Q.921: a broadcast SETUP on a BRI user link also starts
    // establishment, and is delivered.
    Rig bri(Side::user, true);
    bri.inject("02 FF 03 08 01 01 05");
    EXPECT_EQ(bri.messages, std::vector<Bytes>{Bytes({0x08, 0x01, 0x01, 0x05})});
    EXPECT_EQ(bri.out(), std::vector<std::string>{"00 01 7F"});
    bri.inject("02 FF 03 08 01 01 05"); // again while establishing: anew
    EXPECT_EQ(bri.out(), std::vector<std::string>{"00 01 7F"});
    EXPECT_EQ(bri.link->get_state(), awaiting_establishment);

    // A PRI link ignores every UI frame.
    Rig pri;
    pri.inject("02 FF 03 08 01 01 05");
    pri.inject(mgmt(0, 6, 127));
    EXPECT_TRUE(pri.messages.empty());
    EXPECT_TRUE(pri.out().empty());
    EXPECT_EQ(pri.link->get_state(), tei_assigned);
}

} // namespace
