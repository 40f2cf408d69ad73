// The user side's transition table, row by row: the link is brought to the
// row's state, given the event, and must send exactly the frames listed,
// report exactly the reports listed and end in the state with the timer.
//
// Frames from the network: commands carry C/R = 1 (02 01 ..), responses 0
// (00 01 ..); the link's commands go out with 00 01, its responses with 02 01.
#include "lapd_rig.h"

#include <gtest/gtest.h>

using namespace lapdtest;
using namespace ISDN;

namespace {

// Where a row starts.
enum Prep {
    s0,    // BRI, TEI removed
    s1,    // BRI, identity request pending
    s2,    // BRI, identity request pending, establishment wanted
    s3,    // released
    s4,    // SABME sent
    s5,    // DISC sent
    s6,    // established, nothing outstanding
    s6_2,  // established, I frames 0 and 1 sent and not acknowledged
    s7,    // timer recovery entered from T203
    s7_2,  // timer recovery entered from T200 with I frames 0 and 1 outstanding
    s0_pri, // PRI, TEI removed by the owner
};

struct Row
{
    int line;
    Prep from;
    char const* event; // a frame in hex, or activate, deactivate, remove, T200, T202, T203
    std::vector<std::string> out;
    State to;
    char const* timers;
    std::vector<std::string> reports;
};

#define R __LINE__
std::string const up = "up";
std::string const nr_error = "error:Other - N(R) error";
std::string const sabme = "00 01 7F", disc = "00 01 53", ua = "02 01 73", dm = "02 01 1F";
std::string const i0 = "00 01 00 00 08 00 01", i1 = "00 01 02 00 08 00 02"; // the two queued messages

std::vector<Row> const rows = {
    // DL-ESTABLISH request
    {R, s0, "activate", {"FC FF 03 0F RI 01 FF"}, establish_awaiting_tei, "T202", {}}, // stays wanted (Q.921 B.3)
    {R, s0_pri, "activate", {}, establish_awaiting_tei, "-", {}}, // waits for MDL-ASSIGN
    {R, s1, "activate", {}, establish_awaiting_tei, "T202", {}},
    {R, s2, "activate", {}, establish_awaiting_tei, "T202", {}},
    {R, s3, "activate", {sabme}, awaiting_establishment, "T200", {}},
    {R, s4, "activate", {}, awaiting_establishment, "T200", {}},
    {R, s5, "activate", {}, awaiting_release, "T200", {}},
    {R, s6, "activate", {sabme}, awaiting_establishment, "T200", {}},
    {R, s7, "activate", {sabme}, awaiting_establishment, "T200", {}},
    // DL-RELEASE request
    {R, s3, "deactivate", {}, tei_assigned, "-", {"down:success (deactivated locally)"}},
    // departs from Q.921: released at once, the DISC's T200 runs out unanswered in state 3
    {R, s4, "deactivate", {disc}, tei_assigned, "T200", {"down:success (deactivated locally)"}},
    {R, s6, "deactivate", {disc}, awaiting_release, "T200", {}},
    {R, s7, "deactivate", {disc}, awaiting_release, "T200", {}},
    // MDL-REMOVE
    {R, s3, "remove", {}, tei_unassigned, "-", {}},
    {R, s4, "remove", {}, tei_unassigned, "-", {"down:error (MDL-REMOVE received)"}},
    {R, s5, "remove", {}, tei_unassigned, "-", {"down:error (MDL-REMOVE received)"}},
    {R, s6, "remove", {}, tei_unassigned, "-", {"down:error (MDL-REMOVE received)"}},
    {R, s7, "remove", {}, tei_unassigned, "-", {"down:error (MDL-REMOVE received)"}},
    // SABME
    {R, s3, "02 01 7F", {ua}, multiple_frame_established, "T203", {up}},
    {R, s4, "02 01 7F", {ua}, awaiting_establishment, "T200", {}},
    {R, s5, "02 01 7F", {dm}, awaiting_release, "T200", {}},
    {R, s6_2, "02 01 7F", {ua}, multiple_frame_established, "T203",
     {"error:Peer initiated re-establishment - SABME", up}},
    {R, s7, "02 01 7F", {ua}, multiple_frame_established, "T203",
     {"error:Peer initiated re-establishment - SABME", up}},
    // DISC
    {R, s3, "02 01 53", {dm}, tei_assigned, "-", {}},
    {R, s4, "02 01 53", {dm}, awaiting_establishment, "T200", {}},
    {R, s5, "02 01 53", {ua}, awaiting_release, "T200", {}},
    {R, s6, "02 01 53", {ua}, tei_assigned, "-", {"down:remote error (DISC received)"}},
    {R, s7, "02 01 53", {ua}, tei_assigned, "-", {"down:remote error (DISC received)"}},
    // UA; in 3, 6 and 7 Q.921's MDL-ERROR C or D, the link's variables kept
    {R, s3, "00 01 73", {}, tei_assigned, "-", {"error:UA (F = 1)"}},
    {R, s6_2, "00 01 73", {}, multiple_frame_established, "T200", {"error:UA (F = 1)"}},
    {R, s7, "00 01 63", {}, timer_recovery, "T200", {"error:UA (F = 0)"}},
    {R, s4, "00 01 73", {}, multiple_frame_established, "T203", {up}},
    {R, s4, "00 01 63", {}, awaiting_establishment, "T200", {"error:UA (F = 0)"}},
    {R, s5, "00 01 73", {}, tei_assigned, "-", {"down:success (UA received)"}},
    {R, s5, "00 01 63", {}, awaiting_release, "T200", {"error:UA (F = 0)"}},
    // DM
    {R, s3, "00 01 0F", {sabme}, awaiting_establishment, "T200", {}},
    {R, s3, "02 01 0F", {}, tei_assigned, "-", {}}, // a command is no answer
    {R, s4, "00 01 1F", {}, tei_assigned, "-", {"down:error (DM received)"}},
    {R, s4, "00 01 0F", {}, awaiting_establishment, "T200", {}},
    {R, s5, "00 01 1F", {}, tei_assigned, "-", {"down:error (DM received)"}},
    {R, s6, "00 01 1F", {}, multiple_frame_established, "T203", {"error:DM (F = 1)"}},
    {R, s6, "00 01 0F", {sabme}, awaiting_establishment, "T200", {"error:Receipt of DM response (F = 0)"}},
    {R, s7, "00 01 1F", {sabme}, awaiting_establishment, "T200", {"error:DM (F = 1)"}},
    {R, s7, "00 01 0F", {sabme}, awaiting_establishment, "T200", {"error:Receipt of DM response (F = 0)"}},
    // FRMR
    {R, s6, "00 01 97 00 00 00 00 00", {sabme}, awaiting_establishment, "T200",
     {"error:Other - Receipt of FRMR response"}},
    {R, s7, "00 01 87 00 00 00 00 00", {sabme}, awaiting_establishment, "T200",
     {"error:Other - Receipt of FRMR response"}},
    {R, s3, "00 01 97 00 00 00 00 00", {}, tei_assigned, "-", {}},
    // RR
    {R, s6_2, "00 01 01 04", {}, multiple_frame_established, "T203", {}}, // all acknowledged
    {R, s6_2, "00 01 01 02", {}, multiple_frame_established, "T200", {}}, // one of two
    {R, s6, "02 01 01 01", {"02 01 01 01"}, multiple_frame_established, "T203", {}},
    {R, s6, "00 01 01 01", {}, multiple_frame_established, "T203", {}}, // solicited response
    {R, s6_2, "00 01 01 06", {sabme}, awaiting_establishment, "T200", {nr_error}},
    {R, s7, "00 01 01 01", {}, multiple_frame_established, "T203", {}},
    {R, s7_2, "00 01 01 01", {i0, i1}, multiple_frame_established, "T200", {}}, // resent, fresh headers
    {R, s7, "02 01 01 01", {"02 01 01 01"}, timer_recovery, "T200", {}},
    {R, s7_2, "00 01 01 02", {}, timer_recovery, "T200", {}},
    {R, s7, "00 01 01 09", {sabme}, awaiting_establishment, "T200", {nr_error}},
    // REJ
    {R, s6_2, "00 01 09 00", {i0, i1}, multiple_frame_established, "T200", {}},
    {R, s6_2, "00 01 09 03", {i1}, multiple_frame_established, "T200", {"error:Supervisory (F = 1)"}},
    {R, s6, "02 01 09 01", {"02 01 01 01"}, multiple_frame_established, "T203", {}},
    {R, s6_2, "00 01 09 08", {sabme}, awaiting_establishment, "T200", {nr_error}},
    {R, s7_2, "00 01 09 01", {i0, i1}, multiple_frame_established, "T200", {}},
    {R, s7, "00 01 09 00", {}, timer_recovery, "T200", {}},
    // RNR
    {R, s6_2, "00 01 05 02", {}, multiple_frame_established, "T200", {}},
    {R, s6, "00 01 05 01", {}, multiple_frame_established, "T200", {"error:Supervisory (F = 1)"}},
    {R, s6, "02 01 05 01", {"02 01 01 01"}, multiple_frame_established, "T200", {}},
    {R, s6, "00 01 05 02", {sabme}, awaiting_establishment, "T200", {nr_error}},
    {R, s7_2, "00 01 05 01", {}, multiple_frame_established, "T200", {}}, // busy peer: nothing resent
    {R, s7, "02 01 05 01", {"02 01 01 01"}, timer_recovery, "T200", {}},
    {R, s7, "00 01 05 02", {sabme}, awaiting_establishment, "T200", {nr_error}},
    // I frames (the network's commands)
    {R, s6, "02 01 00 00 08 00 05", {"02 01 01 02"}, multiple_frame_established, "T203", {}},
    {R, s6, "02 01 00 01 08 00 05", {"02 01 01 03"}, multiple_frame_established, "T203", {}},
    {R, s6, "02 01 02 00 08 00 05", {"02 01 09 00"}, multiple_frame_established, "T203", {}},
    {R, s6, "02 01 02 01 08 00 05", {"02 01 09 01"}, multiple_frame_established, "T203", {}},
    {R, s6_2, "02 01 00 04 08 00 05", {"02 01 01 02"}, multiple_frame_established, "T203", {}},
    {R, s6, "02 01 00 04 08 00 05", {sabme}, awaiting_establishment, "T200", {nr_error}},
    {R, s7, "02 01 00 00 08 00 05", {"02 01 01 02"}, timer_recovery, "T200", {}},
    {R, s3, "02 01 00 00 08 00 05", {}, tei_assigned, "-", {}},
    // T200 expiry
    {R, s4, "T200", {sabme}, awaiting_establishment, "T200", {}},
    {R, s5, "T200", {disc}, awaiting_release, "T200", {}},
    // the last I frame again with P = 1 while one is unacknowledged (Q.921 5.6.7)
    {R, s6_2, "T200", {"00 01 02 01 08 00 02"}, timer_recovery, "T200", {}},
    {R, s7_2, "T200", {"00 01 02 01 08 00 02"}, timer_recovery, "T200", {}},
    {R, s7, "T200", {"00 01 01 01"}, timer_recovery, "T200", {}},
    // T203 expiry
    {R, s6, "T203", {"00 01 01 01"}, timer_recovery, "T200", {}},
    // T202 expiry: a new identity request
    {R, s1, "T202", {"FC FF 03 0F RI 01 FF"}, assign_awaiting_tei, "T202", {}},
    {R, s2, "T202", {"FC FF 03 0F RI 01 FF"}, establish_awaiting_tei, "T202", {}},
};
#undef R

class LapdTable : public Clocked
{
protected:
    void prepare(Rig& r, Prep p)
    {
        switch (p) {
        case s0:
        case s0_pri: r.link->mdl_remove(); break;
        case s1: r.link->mdl_remove(); r.link->BeginTeiAssignProcedure(); break;
        case s2: prepare(r, s1); r.link->local_activate(); break;
        case s3: break;
        case s4: r.link->local_activate(); break;
        case s5: prepare(r, s6); r.link->local_deactivate(); break;
        case s6: r.inject("02 01 7F"); break;
        case s6_2:
            prepare(r, s6);
            r.send({0x08, 0x00, 0x01});
            r.send({0x08, 0x00, 0x02});
            break;
        case s7: prepare(r, s6); advance(10000); break;
        case s7_2: prepare(r, s6_2); advance(1000); break;
        }
        r.out();
        r.reports();
    }

    void event(Rig& r, std::string const& e)
    {
        if (e == "activate")
            r.link->local_activate();
        else if (e == "deactivate")
            r.link->local_deactivate();
        else if (e == "remove")
            r.link->mdl_remove();
        else if (e[0] == 'T') // T200 1000 ms, T202 2000 ms, T203 10000 ms
            advance(e == "T200" ? 1000 : e == "T202" ? 2000 : 10000);
        else
            r.inject(e);
    }
};

TEST_F(LapdTable, EveryRow)
{
    for (Row const& row : rows) {
        bool bri = row.from <= s2;
        Rig r(Side::user, bri);
        prepare(r, row.from);
        event(r, row.event);
        std::vector<std::string> expected = row.out;
        for (std::string& f : expected) {
            // The identity request carries the link's new Ri, low octet first.
            char ri[8];
            std::snprintf(ri, sizeof ri, "%02X %02X", r.link->ri() & 0xFF, r.link->ri() >> 8);
            size_t at = f.find("RI");
            if (at != std::string::npos)
                f.replace(at, 2, ri);
        }
        SCOPED_TRACE("row at line " + std::to_string(row.line));
        EXPECT_EQ(r.out(), expected);
        EXPECT_EQ(statetext(r.link->get_state()), std::string(statetext(row.to)));
        EXPECT_EQ(r.timers(), row.timers);
        EXPECT_EQ(r.reports(), row.reports);
    }
}

} // namespace
