// SS7 link control: the state table row by row, with the units each row
// sends, what it reports upward and the timer it leaves running.
#include "ss7_fixture.h"

#include "samples/link/loop_driver.h"

#include <iostream>

using namespace ss7test;

namespace {

// The LSSUs by their status.
enum Event { SIO, SIN, SIE, SIOS, SIB = 5, FISU, MSU, ACTIVATE, DEACTIVATE, TRUNK_DOWN, TRUNK_UP, SEND, WAIT };

struct Row {
    int from;
    bool emergency;
    Event event;
    unsigned wait; // WAIT: how long
    int to;
    std::vector<std::string> out;
    std::vector<std::string> reports;
    unsigned timer; // the timer left running (0: none) ...
    int after;      // ... and the state its expiry leads to
};

const std::vector<std::string> none, down{"down: impossible phasing"}, up{"up"};

void apply(Link& l, Clock& clock, Event e, unsigned wait)
{
    switch (e) {
    case SIO:
    case SIN:
    case SIE:
    case SIOS:
    case SIB:
        l.rx(lssu(unsigned(e)));
        break;
    case FISU:
        l.rx(su(127, true, 127, true));
        break;
    case MSU:
        l.rx(su(127, true, 0, true, msu_payload(1)));
        break;
    case ACTIVATE:
        l.slc->local_activate();
        break;
    case DEACTIVATE:
        l.slc->local_deactivate();
        break;
    case TRUNK_DOWN:
        l.slc->OnTrunkHardStatus(false);
        break;
    case TRUNK_UP:
        l.slc->OnTrunkHardStatus(true);
        break;
    case SEND:
        l.send(msu_payload(9));
        break;
    case WAIT:
        clock.advance(wait);
        break;
    }
}

} // namespace

TEST(Ss7Link, StateTable)
{
    const int idle = S::idle, na = S::not_aligned, al = S::aligned, pr = S::proving, ar = S::aligned_ready,
              wk = S::worked;
    const std::vector<std::string> sin{"SIN"}, sie{"SIE"}, sio{"SIO"}, sios{"SIOS"}, fisu{"FISU"},
        two_fisus{"FISU", "FISU"};
    const Row rows[] = {
        // Q.703 leaves an idle link out of service until it is started;
        // here the far end's alignment starts it.
        {idle, false, SIO, 0, al, sin, none, 1500, idle},
        {idle, true, SIO, 0, al, sie, none, 1500, idle},
        {idle, false, SIN, 0, pr, sin, none, 8200, ar},
        {idle, false, SIE, 0, pr, sin, none, 8200, ar},
        {idle, true, SIE, 0, pr, sie, none, 500, ar},
        {idle, false, SIOS, 0, idle, none, none, 0, 0},
        {idle, false, FISU, 0, idle, none, none, 0, 0},
        {idle, false, MSU, 0, idle, none, none, 0, 0},
        {idle, false, SEND, 0, idle, none, none, 0, 0},
        {idle, false, ACTIVATE, 0, na, sio, none, 7000, idle},
        {idle, false, DEACTIVATE, 0, idle, sios, down, 0, 0}, // entry runs again
        {idle, false, TRUNK_DOWN, 0, idle, none, none, 0, 0},
        // Each LSSU goes once, on entry; Q.703 repeats it continuously.
        {na, false, SIO, 0, al, sin, none, 1500, idle},
        // Q.703 goes to aligned first; the far end is already there.
        {na, false, SIN, 0, pr, sin, none, 8200, ar},
        {na, true, SIE, 0, pr, sie, none, 500, ar},
        {na, false, SIOS, 0, na, none, none, 7000, idle},
        {na, false, FISU, 0, na, none, none, 7000, idle},
        {na, false, WAIT, 7000, idle, sios, down, 0, 0},
        {na, false, ACTIVATE, 0, na, none, none, 7000, idle},
        {na, false, DEACTIVATE, 0, idle, sios, down, 0, 0},
        {na, false, TRUNK_DOWN, 0, idle, sios, down, 0, 0},
        {na, false, TRUNK_UP, 0, na, none, none, 7000, idle},
        {al, false, SIN, 0, pr, sin, none, 8200, ar},
        {al, false, SIE, 0, pr, sin, none, 8200, ar},
        {al, false, SIO, 0, al, none, none, 1500, idle},
        // Q.703 ends the alignment on SIOS; here only T3 does.
        {al, false, SIOS, 0, al, none, none, 1500, idle},
        {al, false, WAIT, 1500, idle, sios, down, 0, 0},
        {al, false, TRUNK_DOWN, 0, idle, sios, down, 0, 0},
        {al, false, ACTIVATE, 0, al, none, none, 1500, idle},
        {al, false, DEACTIVATE, 0, idle, sios, down, 0, 0},
        {pr, false, SIN, 0, pr, none, none, 8200, ar},
        {pr, false, SIE, 0, pr, none, none, 8200, ar},
        // Q.703 would align again on SIO; here the link fails.
        {pr, false, SIO, 0, idle, sios, down, 0, 0},
        {pr, false, SIOS, 0, idle, sios, down, 0, 0},
        {pr, false, SIB, 0, idle, sios, down, 0, 0},
        // The far end finished proving: in service without waiting for T4.
        {pr, false, FISU, 0, wk, two_fisus, up, 0, 0},
        {pr, false, MSU, 0, wk, two_fisus, up, 0, 0}, // the unit is not delivered
        {pr, false, WAIT, 8200, ar, fisu, none, 45000, idle},
        {pr, false, SEND, 0, pr, none, none, 8200, ar},
        {pr, false, DEACTIVATE, 0, idle, sios, down, 0, 0},
        {pr, false, ACTIVATE, 0, pr, none, none, 8200, ar},
        {pr, false, TRUNK_DOWN, 0, idle, sios, down, 0, 0},
        {ar, false, SIN, 0, ar, none, none, 45000, idle},
        {ar, false, SIO, 0, idle, sios, down, 0, 0},
        {ar, false, SIOS, 0, idle, sios, down, 0, 0},
        {ar, false, FISU, 0, wk, two_fisus, up, 0, 0},
        {ar, false, MSU, 0, wk, two_fisus, up, 0, 0},
        {ar, false, WAIT, 45000, idle, sios, down, 0, 0},
        {ar, false, TRUNK_DOWN, 0, idle, sios, down, 0, 0},
        {ar, false, ACTIVATE, 0, ar, none, none, 45000, idle},
        {ar, false, DEACTIVATE, 0, idle, sios, down, 0, 0},
        {ar, false, SEND, 0, ar, none, none, 45000, idle},
        // Any LSSU in service fails the link; Q.703 fails it on SIO, SIN,
        // SIE and SIOS only and acts on SIB.
        {wk, false, SIO, 0, idle, sios, down, 0, 0},
        {wk, false, SIN, 0, idle, sios, down, 0, 0},
        {wk, false, SIE, 0, idle, sios, down, 0, 0},
        {wk, false, SIOS, 0, idle, sios, down, 0, 0},
        {wk, false, SIB, 0, idle, sios, down, 0, 0},
        {wk, false, FISU, 0, wk, none, none, 0, 0},
        {wk, false, MSU, 0, wk, fisu, none, 0, 0}, // accepted and acknowledged
        // T7 is 12 s, not Q.703's 0.5 to 2 s.
        {wk, false, SEND, 0, wk, {"MSU"}, none, 12000, idle},
        {wk, false, ACTIVATE, 0, wk, none, up, 0, 0},
        {wk, false, DEACTIVATE, 0, idle, sios, down, 0, 0},
        {wk, false, TRUNK_DOWN, 0, idle, sios, down, 0, 0},
        {wk, false, TRUNK_UP, 0, wk, none, none, 0, 0},
    };
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE("row " + std::to_string(n++) + ": " + SS7::state_name(r.from) + ", event "
                     + std::to_string(r.event));
        Clock clock;
        Link l(r.emergency);
        reach(l, clock, r.from);
        test::Capture debug(std::clog), errors(std::cerr);
        apply(l, clock, r.event, r.wait);
        EXPECT_EQ(l.state(), r.to);
        EXPECT_EQ(kinds(l.wire.take()), r.out);
        EXPECT_EQ(l.owner.reports, r.reports);
        EXPECT_EQ(l.owner.delivered.size(), r.from == wk && r.event == MSU ? 1u : 0u);
        if (r.timer == 0) {
            EXPECT_EQ(multiplexer.timer_count(), 0u);
            continue;
        }
        clock.advance(r.timer - 1);
        EXPECT_EQ(l.state(), r.to) << "early expiry";
        clock.advance(1);
        EXPECT_EQ(l.state(), r.after) << "no expiry after " << r.timer << " ms";
    }
}
