// TEI management on the BRI user side (Q.921 5.3): identity requests,
// checks and removals in UI frames on SAPI 63, their repetition by T202,
// and the layer 3 that comes in UI frames. The reference Ri is drawn by
// new_ri in lapd.cpp.
#include "signalling/lapd.h"

#include <iostream>
#include <sstream>

namespace ISDN {

void LAPD::tx_identity(unsigned short ri, int ai, unsigned char type)
{
    if (!mBri)
        return;
    // Q.921 5.3.1 with Ri low octet first: peers of this line expect it so.
    unsigned char info[] = {0x0F, uint8_t(ri & 0xFF), uint8_t(ri >> 8), type, uint8_t(ai << 1 | 1)};
    Packet f = frame_UI(Address{63, 127, mSide == Side::network}, info, sizeof info);
    xmit(f);
}

void LAPD::BeginTeiAssignProcedure()
{
    if (!mBri || mSide != Side::user)
        return;
    // An establishment asked for meanwhile stays wanted (Q.921 B.3).
    if (state != establish_awaiting_tei)
        change_state(assign_awaiting_tei);
    on_mdl_assign();
    new_ri();
    tx_identity(mRi, 127, 1);
    rc = 0;
    stop_T200();
    stop_T203();
    start_T202();
}

void LAPD::on_T202(Timer*)
{
    t202_running = false;
    ++mStats.t202;
    if (state == assign_awaiting_tei || state == establish_awaiting_tei) {
        if (rc > int(N202)) {
            state = tei_unassigned; // without the trace line
            link_down("link error (T202 expired N202 times)");
        } else {
            new_ri();
            tx_identity(mRi, 127, 1);
            start_T202();
            ++rc;
        }
    }
    local_events();
}

void LAPD::on_UI(Packet& info)
{
    if (!mBri || info.empty())
        return;
    if (mLog > 3)
        log_line(std::clog, "on_UI()");
    Packet const& ci = info;
    if (ci[0] != 0x0F) {
        // Layer 3 in a UI frame (a broadcast SETUP) also brings the link up.
        if (mSide == Side::user) {
            if (state == awaiting_establishment)
                change_state(tei_assigned);
            if (state == tei_assigned)
                local_activate();
        }
        on_message(info);
        return;
    }
    if (info.length() < 5)
        return;
    unsigned short ri = (unsigned short)(ci[1] | ci[2] << 8);
    unsigned type = ci[3];
    unsigned ai = ci[4] >> 1;
    if (mLog > 3) {
        std::ostringstream line;
        line << "on_UI() type=" << type << " Ai=" << ai;
        log_line(std::clog, line.str());
    }
    switch (type) {
    case 3: // identity denied
        if (state == assign_awaiting_tei && ri == mRi) {
            std::ostringstream line;
            if (ai == 127)
                line << "ASP returned: All TEI's used";
            else
                line << "ASP returned: TEI " << ai << " denied";
            log_line(std::cerr, line.str());
            on_error(0x8000);
        }
        break;
    case 2: // identity assigned; 127 is the group TEI, never ours
        if ((state == assign_awaiting_tei || state == establish_awaiting_tei) && ri == mRi && ai != 127) {
            // T202 first, so establishing from state 2 is no misuse.
            stop_T202();
            mdl_assign((unsigned char)ai);
            start_T200();
        }
        break;
    case 4: // identity check request
        if (state >= tei_assigned && (ai == 127 || int(ai) == own_tei))
            tx_identity(mRi, own_tei, 5);
        break;
    case 6: // identity remove, sent twice (Q.921 5.3.4.1): a TEI already
            // being asked for again is not lost again
        if ((ai == 127 || int(ai) == own_tei) && state != assign_awaiting_tei && state != establish_awaiting_tei) {
            mdl_remove();
            BeginTeiAssignProcedure();
        }
        break;
    default:
        break;
    }
}

} // namespace ISDN
