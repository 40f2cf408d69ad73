// The Q.921 data link: frames, queues, the state machine with T200, T202
// and T203 on one timer. TEI management is in lapd_tei.cpp.
#include "signalling/lapd.h"

#include "framework/entropy.h"
#include "signalling/q931_print.h"

#include <cstdlib>
#include <iostream>
#include <sstream>

namespace ISDN {

std::ostream& operator<<(std::ostream& os, Side::type side)
{
    return os << (side == Side::network ? "network" : "user");
}

char const* statetext(unsigned char state)
{
    static char const* const texts[] = {
        "TEI unassigned", "Assign awaiting TEI", "Establish awaiting TEI", "TEI assigned",
        "Awaiting establishment", "Awaiting release", "Multiple frame established", "Timer recovery",
    };
    return state < 8 ? texts[state] : "(unknown)";
}

void LAPDFullState::out(std::ostream& os) const
{
    os << "\n   - state: " << statetext(state)
       << "\n   - self: TEI=" << own_tei << ", SAPI=" << own_sapi << ", busy=" << own_busy
       << "\n   - peer: TEI=" << peer_tei << ", SAPI=" << peer_sapi << ", busy=" << peer_busy
       << "\n   - counters: VS=" << unsigned(vs) << ", VA=" << unsigned(va) << ", VR=" << unsigned(vr)
       << ", RC=" << rc
       << "\n   - internal signals: AckRQ=" << acknowledge_request << ", RetrRQ=" << retransmission_request
       << ", QueuedUp=" << queued_up
       << "\n   - flags: L3Initiated=" << l3_initiated << ", Establishable=" << establishable
       << ", RejectException=" << reject_exception
       << "\n   - timers: T200 " << (t200_running ? "running" : "stopped") << ", T202 "
       << (t202_running ? "running" : "stopped") << ", T203 " << (t203_running ? "running" : "stopped");
}

LAPD::Notify::~Notify() = default;

LAPD::Status::Status(LAPD const& link, std::string text)
    : Protocol_status_error(&link, std::move(text)), LAPDFullState(link)
{
}

void LAPD::Status::out(std::ostream& os) const
{
    os << text();
    LAPDFullState::out(os);
}

LAPD::LAPD(Side::type side, unsigned log) : mSide(side), mLog(log), mName("ISDN::LAPD")
{
    mOut.clear();
    mAck.clear();
}

LAPD::~LAPD() = default;

void LAPD::local_prepare_head(Packet& p)
{
    p.reserve_head(lapd_head_room);
}

void LAPD::PutHeader(std::ostream& os) const
{
    os << "LAPD[" << mLinkNo << "] (" << statetext(state) << "): ";
}

void LAPD::log_line(std::ostream& os, std::string const& text) const
{
    std::ostringstream line;
    PutHeader(line);
    line << text << '\n';
    os << line.str() << std::flush;
}

// ------------------------------------------------------------------ frames

Address LAPD::address(bool command) const
{
    // Q.921 3.3.2: the user sends commands with C/R = 0, the network with 1.
    bool cr = (mSide == Side::network) == command;
    return Address{uint8_t(own_sapi), uint8_t(own_tei), cr};
}

void LAPD::trace(char const* what, Packet const& frame, bool to_user) const
{
    unsigned len = frame.length();
    dlogframe(len ? &frame[0] : nullptr, int(len), to_user);
    log_line(std::clog, std::string(what) + logbuf);
}

bool LAPD::xmit(Packet& frame)
{
    if (!mHdlc) {
        if (mLog > 3)
            log_line(std::clog, "no HDLC device attached!!!");
        return false;
    }
    Packet copy = mLog > 2 ? frame : Packet();
    if (!mHdlc->hdlc_transmit(frame)) {
        log_line(std::cerr, "tx full");
        return false;
    }
    if (mLog > 2)
        trace("tx: ", copy, mSide == Side::network);
    return true;
}

// ------------------------------------------------------------- reporting

void LAPD::change_state(State s)
{
    if (s == state)
        return;
    bool recovery_swing = (state == multiple_frame_established && s == timer_recovery)
        || (state == timer_recovery && s == multiple_frame_established);
    if (mLog > 3 || (mLog > 1 && !recovery_swing)) {
        std::ostringstream line;
        line << "LAPD[" << mLinkNo << "] : change state \"" << statetext(state) << "\" -> \"" << statetext(s)
             << "\"\n";
        std::clog << line.str() << std::flush;
    }
    state = s;
    // Messages queued while the link was down go out once it is up.
    if (s == multiple_frame_established && !mOut.empty())
        queued_up = true;
}

void LAPD::on_error(unsigned code)
{
    char const* text;
    switch (code) {
    case 0x0001: text = "Supervisory (F = 1)"; break;
    case 0x0002: text = "DM (F = 1)"; break;
    case 0x0004: text = "UA (F = 1)"; break;
    case 0x0008: text = "UA (F = 0)"; break;
    case 0x0010: text = "Receipt of DM response (F = 0)"; break;
    case 0x0020: text = "Peer initiated re-establishment - SABME"; break;
    case 0x0040: text = "Unsuccessful retransmission (N200 times) - SABME"; break;
    case 0x0080: text = "Unsuccessful retransmission (N200 times) - DISC"; break;
    case 0x0100: text = "Unsuccessful retransmission (N200 times) - Status enquiry"; break;
    case 0x0200: text = "Other - N(R) error"; break;
    case 0x0400: text = "Other - Receipt of FRMR response"; break;
    case 0x0800: text = "Other - Receipt of undefined frame"; break;
    case 0x1000: text = "Other - Receipt of I field not permitted"; break;
    case 0x2000: text = "Other - Receipt of frame with wrong size"; break;
    case 0x4000: text = "Other - N201 error"; break;
    case 0x8000: text = "Tei Assign - Tei denied"; break;
    default: text = "Other - Unknown"; break;
    }
    on_error(text);
}

void LAPD::on_error(char const* text)
{
    on_status(Protocol_status(new Status(*this, text)));
}

void LAPD::link_down(char const* text, bool success)
{
    if (success)
        on_deactivate(Protocol_status(new Protocol_status_success(this, text)));
    else
        on_deactivate(Protocol_status(new Status(*this, text)));
}

Protocol_status LAPD::status() const
{
    return Protocol_status(new Status(*this, "current status"));
}

void LAPD::show_stat() const
{
    std::ostringstream os;
    os << " - current state: ";
    LAPDFullState::out(os);
    os << "\n - statistics: \n   - timers expire count: T200: " << mStats.t200 << ", T202: " << mStats.t202
       << ", T203: " << mStats.t203 << "\n   - errors: " << mStats.errors << ", retrains: " << mStats.retransmitted
       << "\n   - queue overflows: out: " << mStats.out_overflows << ", ack: " << mStats.ack_overflows << '\n';
    std::cout << os.str() << std::flush;
}

bool LAPD::GetInfo(ACP::IsdnLinkInfo& info) const
{
    info.set_msuTxCount(mStats.offered);
    info.set_msuRxCount(mStats.received);
    info.set_mT200(mStats.t200);
    info.set_mT203(mStats.t203);
    info.set_errors(mStats.errors);
    info.set_retrains(mStats.retransmitted);
    info.set_outOverflows(mStats.out_overflows);
    info.set_ackOverflows(mStats.ack_overflows);
    info.set_rejected(mStats.out_of_sequence);
    info.set_badconfirm(mStats.nr_errors);
    info.set_lapdState(ACP::LapdState(ACP::LapdState::NamedNumber(state)));
    info.set_rc(rc);
    info.set_peerBusy(peer_busy);
    info.set_ownBusy(own_busy);
    info.set_rejException(reject_exception);
    info.set_ackPending(false);
    info.set_l3Initiated(l3_initiated);
    info.set_establishable(establishable);
    info.set_queuedUpRQ(queued_up);
    info.set_retrRQ(retransmission_request);
    info.set_ackRQ(acknowledge_request);
    info.set_t200run(t200_running);
    info.set_t203run(t203_running);
    info.set_vs(vs);
    info.set_va(va);
    info.set_vr(vr);
    info.set_queueOut(int(mOut.count()));
    info.set_queueAck(int(mAck.count()));
    if (mInfoReported && info == mLastInfo)
        return false;
    mLastInfo = info;
    mInfoReported = true;
    return true;
}

// ----------------------------------------------------------------- queues

void LAPD::message(Packet& p)
{
    ++mStats.offered;
    mRefusal = Refusal::none;
    // Neither is ever sent, so neither is reported taken.
    if (p.empty()) {
        ++mStats.empty;
        log_line(std::cerr, "discard outgoing message: empty");
        mRefusal = Refusal::invalid;
        return;
    }
    if (p.length() > N201) {
        // The peer would refuse it (Q.921 5.8.5).
        ++mStats.errors;
        log_line(std::cerr, "discard outgoing message: longer than N201");
        mRefusal = Refusal::invalid;
        return;
    }
    if (mOut.count() >= max_queued || PacketPoolLow()) {
        log_line(std::cerr, "discard outgoing message: buffer overflow");
        ++mStats.out_overflows;
        mRefusal = Refusal::full;
        return;
    }
    if (mLog > 2) {
        std::ostringstream line;
        if (mOut.count() > 7) {
            line << "outgoing queue size = " << mOut.count() << " tx counter = " << mStats.offered << '\n';
            PutHeader(line); // log_line heads only the first line
        }
        line << "add to tx queue: " << p;
        log_line(std::clog, line.str());
    }
    mOut.put(p);
    queued_up = true;
    // A message with no TEI asks for one (Q.921 5.3.2), so the link never
    // waits in state 1 without T202.
    if (state == tei_unassigned)
        BeginTeiAssignProcedure();
    if (mOut.count() >= congestion_on)
        set_flow(FlowStatus::congested);
    local_events();
}

void LAPD::set_flow(FlowStatus::Type f)
{
    if (f == mFlow)
        return;
    mFlow = f;
    if (mNotify)
        mNotify->OnLAPD_FlowStatusChange(this);
}

void LAPD::local_events()
{
    ack_queue_refreash();
    queued_up_run();
    ack_pending();
    if (mOut.count() <= congestion_off)
        set_flow(FlowStatus::normal);
}

void LAPD::ack_queue_refreash()
{
    unsigned dropped = 0;
    while (mAck.count() > seq_outstanding(va, vs)) {
        Packet gone;
        mAck.get(gone);
        ++dropped;
    }
    if (mLog > 2 && dropped) {
        std::ostringstream line;
        line << "acknowledge " << dropped << " frames VS=" << unsigned(vs) << " VA=" << unsigned(va);
        log_line(std::clog, line.str());
    }
    if (va != mResentFrom)
        mResending = mRejectHeld = false;
    if (mLog > 2 && mOut.empty())
        log_line(std::clog, "outgoing queue empty.");
    if (retransmission_request) {
        if (mLog && !mAck.empty()) {
            std::ostringstream line;
            line << "retransmission  VS=" << unsigned(vs) << " VA=" << unsigned(va);
            log_line(std::clog, line.str());
        }
        vs = va;
        // Newest first to the head, so they keep their order.
        Packet p;
        while (mAck.get_last(&p)) {
            mOut.append(p);
            ++mStats.retransmitted;
        }
        retransmission_request = false;
    }
}

void LAPD::queued_up_run()
{
    while (queued_up) {
        queued_up = false;
        if (state == timer_recovery) {
            queued_up = true; // wait for the end of timer recovery
            return;
        }
        if (state == awaiting_establishment) {
            queued_up = !l3_initiated;
            return;
        }
        if (state != multiple_frame_established)
            return;
        if (peer_busy || seq_window_full(va, vs, k)) {
            queued_up = true;
            return;
        }
        Packet m;
        if (!mOut.preview(&m))
            return;
        Packet f = frame_I(m, address(true), vs, vr);
        if (!xmit(f)) {
            queued_up = true;
            return;
        }
        mOut.get(m);
        if (!mAck.put(m)) {
            log_line(std::cerr, "ack queue overflow!");
            ++mStats.ack_overflows;
        }
        ++vs;
        acknowledge_request = false;
        if (!t200_running) {
            stop_T203();
            start_T200();
        }
        if (!mOut.empty())
            queued_up = true;
    }
}

void LAPD::ack_pending()
{
    if (!acknowledge_request || (state != multiple_frame_established && state != timer_recovery))
        return;
    Packet f = frame_RR(address(false), vr, false);
    if (xmit(f))
        acknowledge_request = false;
}

void LAPD::discard_queue()
{
    if (mLog) {
        std::ostringstream line;
        line << "discard queue  OutData=" << mOut.count() << " AckData=" << mAck.count();
        log_line(std::clog, line.str());
    }
    mOut.clear();
    mAck.clear();
}

// ----------------------------------------------------------------- timers

// One timer: arming one replaces the expiry of whichever was armed, so only
// its flag stays set.
void LAPD::arm(bool& running, unsigned ms, void (LAPD::*expiry)(Timer*))
{
    t200_running = t202_running = t203_running = false;
    running = true;
    mTimer.set(ms, expiry, this);
}

void LAPD::start_T200()
{
    if (t202_running)
        on_error("trying to start T200 while T202 running");
    if (t203_running)
        on_error("trying to start T200 while T203 running");
    arm(t200_running, T200, &LAPD::on_T200);
}

void LAPD::start_T202()
{
    if (t200_running)
        on_error("trying to start T202 while T200 running");
    if (t203_running)
        on_error("trying to start T202 while T203 running");
    arm(t202_running, T202, &LAPD::on_T202);
}

void LAPD::start_T203()
{
    if (t200_running)
        on_error("trying to start T203 while T200 running");
    if (t202_running)
        on_error("trying to start T203 while T202 running");
    arm(t203_running, T203, &LAPD::on_T203);
}

void LAPD::stop_T200()
{
    if (!t200_running)
        return;
    if (t203_running)
        on_error("trying to stop T200 while T203 running");
    if (t202_running)
        on_error("trying to stop T200 while T202 running");
    t200_running = false;
    mTimer.reset();
}

void LAPD::stop_T202()
{
    if (!t202_running)
        return;
    if (t200_running)
        on_error("trying to stop T202 while T200 running");
    if (t203_running)
        on_error("trying to stop T202 while T203 running");
    t202_running = false;
    mTimer.reset();
}

void LAPD::stop_T203()
{
    if (!t203_running)
        return;
    if (t200_running)
        on_error("trying to stop T203 while T200 running");
    if (t202_running)
        on_error("trying to stop T203 while T202 running");
    t203_running = false;
    mTimer.reset();
}

void LAPD::on_T200(Timer*)
{
    t200_running = false;
    ++mStats.t200;
    switch (state) {
    case awaiting_establishment:
        if (rc == int(N200)) {
            discard_queue();
            on_error(0x0040);
            change_state(tei_assigned);
            link_down("link error (T200 expired N200 times)");
        } else {
            ++rc;
            tx(frame_SABME(address(true), true));
            start_T200();
        }
        break;
    case awaiting_release:
        if (rc == int(N200)) {
            on_error(0x0080);
            change_state(tei_assigned);
            link_down("link error (T200 expired N200 times)");
        } else {
            ++rc;
            tx(frame_DISC(address(true), true));
            start_T200();
        }
        break;
    case multiple_frame_established:
        if (mRejectHeld && !peer_busy && mResendRounds < N200) {
            // The resent frames are still unacknowledged after T200, and
            // the peer asked for them again: they were lost too. A peer in
            // its reject condition may answer no enquiry, only this.
            mRejectHeld = false;
            reject(va);
            break;
        }
        rc = 0;
        tx_poll();
        rc = 1;
        if (mLog > 1)
            log_line(std::clog, "ack expired");
        change_state(timer_recovery);
        break;
    case timer_recovery:
        if (rc == int(N200)) {
            if (mLog > 1)
                log_line(std::clog, "ack error !!!");
            on_error(0x0100);
            establish_dl();
            l3_initiated = false;
            change_state(awaiting_establishment);
        } else {
            if (mLog > 1) {
                std::ostringstream line;
                line << "ack timeout expired RC=" << rc;
                log_line(std::clog, line.str());
            }
            tx_poll();
            ++rc;
        }
        break;
    default:
        break;
    }
    local_events();
}

void LAPD::on_T203(Timer*)
{
    t203_running = false;
    ++mStats.t203;
    log_line(std::clog, "T203.");
    if (state == multiple_frame_established) {
        tx_enquiry();
        rc = 0;
        change_state(timer_recovery);
    }
    local_events();
}

// ------------------------------------------------------------- procedures

void LAPD::establish_dl()
{
    clear_exception();
    rc = 0;
    tx(frame_SABME(address(true), true));
    stop_T203();
    start_T200();
}

void LAPD::clear_exception()
{
    peer_busy = false;
    own_busy = false;
    reject_exception = false;
    acknowledge_request = false;
}

void LAPD::retransmission(Seq nr)
{
    mResendRounds = mResending && nr == mResentFrom ? mResendRounds + 1 : 0;
    va = nr;
    mResentFrom = nr;
    mResending = nr != vs;
    retransmission_request = true;
    queued_up = true;
}

void LAPD::reject(Seq nr)
{
    stop_T200();
    start_T203();
    retransmission(nr);
}

void LAPD::tx_enquiry()
{
    if (mLog > 3)
        log_line(std::clog, std::string("tx_enquiry, ownBusy=") + (own_busy ? "1" : "0"));
    tx(own_busy ? frame_RNR(address(true), vr, true) : frame_RR(address(true), vr, true));
    acknowledge_request = false;
    start_T200();
}

// T200's poll (Q.921 5.6.7 allows either): the last I frame sent, again with
// P = 1, while one is unacknowledged and the peer not busy; else the enquiry.
// A peer that waits for a frame whose REJ was lost may answer no enquiry, but
// it answers this.
void LAPD::tx_poll()
{
    Packet last;
    if (peer_busy || !mAck.get_last(&last)) {
        tx_enquiry();
        return;
    }
    mAck.put(last);
    tx(frame_I(last, address(true), vs - Seq(1), vr, true));
    acknowledge_request = false;
    start_T200();
}

void LAPD::tx_enquiry_response()
{
    if (mLog > 3)
        log_line(std::clog, "tx_enquiry_response");
    tx(own_busy ? frame_RNR(address(false), vr, true) : frame_RR(address(false), vr, true));
    acknowledge_request = false;
}

void LAPD::nr_recovery()
{
    on_error(0x0200);
    establish_dl();
    l3_initiated = false;
}

void LAPD::nr_error_recovery()
{
    ++mStats.nr_errors;
    nr_recovery();
    change_state(awaiting_establishment);
}

void LAPD::reset_sequence()
{
    vs = va = vr = Seq(0);
    mAck.clear();
    mResending = mRejectHeld = false;
}

void LAPD::new_ri()
{
    mRi = (unsigned short)(KernelRandom() & 0xFFFF);
}

// ------------------------------------------------------- layer 3 requests

void LAPD::local_activate()
{
    if (mLog)
        log_line(std::clog, "DL-ESTABLISH");
    switch (state) {
    case tei_unassigned:
        // Without TEI management the link waits in state 2 for an
        // MDL-ASSIGN from its owner, which then establishes it.
        rc = 0;
        change_state(establish_awaiting_tei);
        if (mBri && mSide == Side::user)
            BeginTeiAssignProcedure(); // calls on_mdl_assign itself
        else
            on_mdl_assign();
        break;
    case assign_awaiting_tei:
        change_state(establish_awaiting_tei);
        break;
    case tei_assigned:
        establish_dl();
        l3_initiated = true;
        change_state(awaiting_establishment);
        break;
    case awaiting_establishment:
        discard_queue();
        l3_initiated = true;
        break;
    case multiple_frame_established:
    case timer_recovery:
        discard_queue();
        establish_dl();
        l3_initiated = true;
        change_state(awaiting_establishment);
        break;
    default:
        break;
    }
}

void LAPD::local_deactivate()
{
    if (mLog > 1)
        log_line(std::clog, "DL-RELEASE");
    switch (state) {
    case tei_assigned:
        link_down("success (deactivated locally)", true);
        break;
    case awaiting_establishment:
        discard_queue();
        rc = 0;
        tx(frame_DISC(address(true), true));
        stop_T203();
        stop_T202();
        start_T200();
        change_state(tei_assigned);
        link_down("success (deactivated locally)", true);
        break;
    case multiple_frame_established:
        discard_queue();
        rc = 0;
        tx(frame_DISC(address(true), true));
        stop_T203();
        start_T200();
        change_state(awaiting_release);
        break;
    case timer_recovery:
        discard_queue();
        rc = 0;
        tx(frame_DISC(address(true), true));
        start_T200();
        change_state(awaiting_release);
        break;
    default:
        break;
    }
}

void LAPD::mdl_assign(unsigned char tei)
{
    if (mLog > 1) {
        std::ostringstream line;
        line << "MDL-ASSIGN (tei=" << unsigned(tei) << ")";
        log_line(std::clog, line.str());
    }
    own_tei = tei;
    if (state == establish_awaiting_tei) {
        establish_dl();
        l3_initiated = true;
        change_state(awaiting_establishment);
    } else {
        change_state(tei_assigned);
    }
}

void LAPD::mdl_remove()
{
    log_line(std::clog, "MDL-REMOVE");
    switch (state) {
    case tei_assigned:
        discard_queue();
        change_state(tei_unassigned);
        break;
    case awaiting_establishment:
        discard_queue();
        stop_T200();
        change_state(tei_unassigned);
        link_down("error (MDL-REMOVE received)");
        break;
    case awaiting_release:
        stop_T200();
        change_state(tei_unassigned);
        link_down("error (MDL-REMOVE received)");
        break;
    case multiple_frame_established:
        discard_queue();
        stop_T200();
        stop_T203();
        change_state(tei_unassigned);
        link_down("error (MDL-REMOVE received)");
        break;
    case timer_recovery:
        discard_queue();
        stop_T200();
        change_state(tei_unassigned);
        link_down("error (MDL-REMOVE received)");
        break;
    default:
        break;
    }
}

// --------------------------------------------------------- received frames

void LAPD::receive(Packet& p)
{
    Packet const& cp = p;
    unsigned len = p.length();
    if (mLog > 2)
        trace("rx:", p, mSide == Side::user);
    Frame f;
    FrameError e = parse_frame(len ? &cp[0] : nullptr, len, f);
    if (e != FrameError::none) {
        ++mStats.errors;
        if (mLog > 1)
            log_line(std::clog, std::string("frame dropped: ") + frame_error_text(e));
        return;
    }
    // Frames for another terminal on the bus (Q.921 5.3.1).
    if (mBri && mSide == Side::user && f.tei != own_tei && f.tei != 127)
        return;
    peer_sapi = f.sapi;
    peer_tei = f.tei;
    bool command = is_command(f.cr);
    switch (f.kind) {
    case FrameKind::I:
        p.pull(f.header);
        on_ICOM(p, f.pf, f.ns, f.nr);
        break;
    case FrameKind::RR: on_RR(command, f.pf, f.nr); break;
    case FrameKind::RNR: on_RNR(command, f.pf, f.nr); break;
    case FrameKind::REJ: on_REJ(command, f.pf, f.nr); break;
    case FrameKind::SABME: on_SABME(command, f.pf); break;
    case FrameKind::DM: on_DM(command, f.pf); break;
    case FrameKind::DISC: on_DISC(command, f.pf); break;
    case FrameKind::UA: on_UA(command, f.pf); break;
    case FrameKind::FRMR: on_FRMR(command, f.pf); break;
    case FrameKind::UI:
        p.pull(f.header);
        on_UI(p);
        break;
    }
    local_events();
}

namespace {

char const* cmd_text(bool command)
{
    return command ? "command" : "response";
}

} // namespace

void LAPD::on_SABME(bool command, bool p)
{
    if (mLog > 3)
        log_line(std::clog, std::string("SABME ") + cmd_text(command));
    reset_sequence();
    switch (state) {
    case tei_assigned:
        if (establishable) {
            tx(frame_UA(address(false), p));
            clear_exception();
            start_T203();
            change_state(multiple_frame_established);
            link_up();
        } else {
            tx(frame_DM(address(false), p));
        }
        break;
    case awaiting_establishment:
        tx(frame_UA(address(false), p));
        break;
    case awaiting_release:
        tx(frame_DM(address(false), p));
        break;
    case multiple_frame_established:
    case timer_recovery:
        tx(frame_UA(address(false), p));
        clear_exception();
        on_error(0x0020);
        change_state(multiple_frame_established);
        link_up();
        stop_T200();
        start_T203();
        break;
    default:
        break;
    }
}

void LAPD::on_DISC(bool command, bool p)
{
    if (mLog > 3)
        log_line(std::clog, std::string("DISC ") + cmd_text(command));
    switch (state) {
    case tei_assigned:
    case awaiting_establishment:
        tx(frame_DM(address(false), p));
        break;
    case awaiting_release:
        tx(frame_UA(address(false), p));
        break;
    case multiple_frame_established:
        discard_queue();
        tx(frame_UA(address(false), p));
        stop_T200();
        stop_T203();
        change_state(tei_assigned);
        link_down("remote error (DISC received)");
        break;
    case timer_recovery:
        discard_queue();
        tx(frame_UA(address(false), p));
        stop_T200();
        change_state(tei_assigned);
        link_down("remote error (DISC received)");
        break;
    default:
        break;
    }
}

void LAPD::on_UA(bool command, bool f)
{
    if (mLog > 3)
        log_line(std::clog, std::string("UA ") + cmd_text(command));
    switch (state) {
    case tei_assigned:
    case multiple_frame_established:
    case timer_recovery:
        // Unsolicited UA: Q.921 MDL-ERROR C (F = 1) or D (F = 0); the
        // sequence state and the unacknowledged frames stay.
        on_error(f ? 0x0004 : 0x0008);
        break;
    case awaiting_establishment:
        reset_sequence();
        if (f) {
            change_state(multiple_frame_established);
            stop_T200();
            start_T203();
            link_up();
        } else {
            on_error(0x0008);
        }
        break;
    case awaiting_release:
        reset_sequence();
        if (f) {
            stop_T200();
            change_state(tei_assigned);
            link_down("success (UA received)", true);
        } else {
            on_error(0x0008);
        }
        break;
    default:
        break;
    }
}

void LAPD::on_DM(bool command, bool f)
{
    if (mLog > 3)
        log_line(std::clog, std::string("DM ") + cmd_text(command));
    bool response_f1 = !command && f;
    switch (state) {
    case tei_assigned:
        if (!command && !f && establishable) {
            establish_dl();
            l3_initiated = true;
            change_state(awaiting_establishment);
        }
        break;
    case awaiting_establishment:
        if (response_f1) {
            discard_queue();
            stop_T200();
            change_state(tei_assigned);
            link_down("error (DM received)");
        }
        break;
    case awaiting_release:
        if (response_f1) {
            stop_T200();
            change_state(tei_assigned);
            link_down("error (DM received)");
        }
        break;
    case multiple_frame_established:
        if (response_f1) {
            on_error(0x0002);
        } else {
            on_error(0x0010);
            establish_dl();
            l3_initiated = false;
            change_state(awaiting_establishment);
        }
        break;
    case timer_recovery:
        on_error(response_f1 ? 0x0002 : 0x0010);
        establish_dl();
        l3_initiated = false;
        change_state(awaiting_establishment);
        break;
    default:
        break;
    }
}

void LAPD::on_FRMR(bool command, bool pf)
{
    if (mLog > 3)
        log_line(std::clog, std::string("FRMR ") + cmd_text(command) + " pf=" + (pf ? "1" : "0"));
    if (state == multiple_frame_established || state == timer_recovery) {
        on_error(0x0400);
        establish_dl();
        l3_initiated = false;
        change_state(awaiting_establishment);
    }
}

void LAPD::on_RR(bool command, bool pf, Seq nr)
{
    if (mLog > 3)
        log_line(std::clog, std::string("RR ") + cmd_text(command) + " pf=" + (pf ? "1" : "0"));
    if (state == multiple_frame_established) {
        peer_busy = false;
        if (pf) {
            if (command)
                tx_enquiry_response();
            else if (mLog > 3)
                log_line(std::clog, "receive RR (solicited response) in MFE_EST");
        }
        if (!nr_valid(nr)) {
            nr_error_recovery();
        } else if (nr == vs) {
            va = nr;
            stop_T200();
            start_T203();
        } else if (nr != va) {
            va = nr;
            start_T200();
        }
    } else if (state == timer_recovery) {
        peer_busy = false;
        s_in_recovery(command, pf, nr, true);
    }
}

void LAPD::on_REJ(bool command, bool pf, Seq nr)
{
    if (mLog > 3)
        log_line(std::clog, std::string("REJ ") + cmd_text(command) + " pf=" + (pf ? "1" : "0"));
    if (state == multiple_frame_established) {
        peer_busy = false;
        if (pf) {
            if (command)
                tx_enquiry_response();
            else
                on_error(0x0001);
        }
        if (!nr_valid(nr)) {
            nr_error_recovery();
        } else if (mResending && nr == mResentFrom) {
            // A peer that rejects more than once per exception asks again
            // for frames already resent: sending them once more would only
            // make more out-of-sequence frames and more rejects. If they
            // are lost again, T200 acts on the request.
            mRejectHeld = true;
        } else {
            reject(nr);
        }
    } else if (state == timer_recovery) {
        peer_busy = false;
        s_in_recovery(command, pf, nr, false);
    }
}

// RR, REJ and RNR in timer recovery: the enquiry's answer ends it (Q.921
// 5.6.7); a busy peer keeps T200 running.
void LAPD::s_in_recovery(bool command, bool pf, Seq nr, bool trace_order)
{
    if (!command && pf) {
        if (!nr_valid(nr)) {
            nr_error_recovery();
            return;
        }
        if (peer_busy) {
            start_T200();
        } else {
            stop_T200();
            start_T203();
        }
        retransmission(nr);
        change_state(multiple_frame_established);
        return;
    }
    if (command && pf)
        tx_enquiry_response();
    if (nr_valid(nr)) {
        va = nr;
    } else {
        if (trace_order && mLog > 3)
            log_line(std::clog, "receive RR with out of order N(R)");
        nr_error_recovery();
    }
}

void LAPD::on_RNR(bool command, bool pf, Seq nr)
{
    if (mLog > 3)
        log_line(std::clog, std::string("RNR ") + cmd_text(command) + " pf=" + (pf ? "1" : "0"));
    if (state == multiple_frame_established) {
        peer_busy = true;
        if (pf) {
            if (command)
                tx_enquiry_response();
            else
                on_error(0x0001);
        }
        if (!nr_valid(nr)) {
            nr_error_recovery();
        } else {
            va = nr;
            stop_T203();
            start_T200();
        }
    } else if (state == timer_recovery) {
        peer_busy = true;
        s_in_recovery(command, pf, nr, false);
    }
}

void LAPD::on_ICOM(Packet& info, bool p, Seq ns, Seq nr)
{
    if (mLog > 3)
        log_line(std::clog, std::string("I-Command pf=") + (p ? "1" : "0"));
    if (state != multiple_frame_established && state != timer_recovery)
        return;
    if (own_busy) {
        if (p) {
            tx(frame_RNR(address(false), vr, true));
            acknowledge_request = false;
        }
    } else if (ns == vr) {
        ++vr;
        reject_exception = false;
        ++mStats.received;
        if (p) {
            acknowledge_request = false;
            tx(frame_RR(address(false), vr, true));
        } else {
            acknowledge_request = true;
        }
        on_message(info);
    } else {
        ++mStats.out_of_sequence;
        if (!reject_exception) {
            reject_exception = true;
            tx(frame_REJ(address(false), vr, p));
            acknowledge_request = false;
        } else if (p) {
            tx(frame_RR(address(false), vr, true));
            acknowledge_request = false;
        }
    }
    // The N(R) step.
    if (!nr_valid(nr)) {
        nr_error_recovery();
    } else {
        if (state == multiple_frame_established && !peer_busy) {
            if (nr == vs) {
                stop_T200();
                start_T203();
            } else if (nr != va) {
                start_T200();
            }
        }
        va = nr;
    }
}

} // namespace ISDN
