// Link control: the states, their entry actions, the state table and the
// timers. Each LSSU goes out once, on entry to its state; the HDLC
// controller keeps the line busy in between.
#include "signalling/ss7_slc.h"

#include "framework/mux_time.h"

#include <iostream>

namespace SS7 {

// Q.703 12.3, at 64 kbit/s; T7 is longer than Q.703's 0.5-2 s on purpose:
// the far ends of these links acknowledge slowly.
const SLC::TimerVal SLC::T1 = {45000, &SLC::on_T1};
const SLC::TimerVal SLC::T2 = {7000, &SLC::on_T2};
const SLC::TimerVal SLC::T3 = {1500, &SLC::on_T3};
const SLC::TimerVal SLC::T4n = {8200, &SLC::on_T4};
const SLC::TimerVal SLC::T4e = {500, &SLC::on_T4};
const SLC::TimerVal SLC::T5 = {100, &SLC::on_T5};
const SLC::TimerVal SLC::T6 = {4500, &SLC::on_T6};
const SLC::TimerVal SLC::T7 = {12000, &SLC::on_T7};

const char* state_name(unsigned type)
{
    static const char* const names[] = {"idle", "not aligned", "aligned", "proving", "aligned ready", "worked"};
    return type < sizeof(names) / sizeof(names[0]) ? names[type] : "unknown";
}

SLC::SLC() : congestion_time(Mux::milliseconds()) {}

SLC::~SLC() = default;

void SLC::PutShortInfo(std::ostream& os) const
{
    os << "SS7/L2 [dpc=" << std::dec << dpc << ", slc=" << slc << ", trunk=" << linkno << "]";
}

void SLC::PutHeader(std::ostream& os) const
{
    PutShortInfo(os);
    os << " (" << state_name(get_state_id()) << "): ";
}

std::ostream& SLC::head(std::ostream& os) const
{
    PutHeader(os);
    return os;
}

void SLC::next_state(State& s)
{
    if (trace.state) {
        PutShortInfo(std::clog);
        std::clog << ": change state from \"" << state_name(get_state_id()) << "\" to \""
                  << state_name(s.get_state_id()) << "\"" << std::endl;
    }
    current->on_leave(*this);
    current = &s;
    current->on_enter(*this);
}

void SLC::set(const TimerVal& t)
{
    timer.set(t.period, t.expire, this);
}

// ------------------------------------------------------ entry and leave

void SLC::on_enter(StIdle&)
{
    reset();
    sios();
    report_down();
}

void SLC::report_down()
{
    Protocol::on_deactivate(Protocol_status(new Protocol_status_error(this, "impossible phasing")));
}

void SLC::on_enter(StNotAligned&)
{
    reset();
    set(T2);
    sio();
}

void SLC::on_enter(StAligned&)
{
    set(T3);
    if (trace.timers)
        head(std::clog) << "set T3" << std::endl;
    if (emergency)
        sie();
    else
        sin();
}

void SLC::on_enter(StProving&)
{
    if (emergency) {
        set(T4e);
        sie();
    } else {
        set(T4n);
        sin();
    }
    if (trace.timers)
        head(std::clog) << "set T4" << std::endl;
}

void SLC::on_enter(StAlignedReady&)
{
    set(T1);
    fisu();
}

void SLC::on_enter(StWorked&)
{
    // Left over from before the link last failed: no level 3 here takes
    // them back for changeover.
    if (!tb.empty()) {
        head(std::cerr) << "discard " << tb.count() << " msu in TB" << std::endl;
        tb.clear();
    }
    reset();
    fisu();
    process_tb();
    Protocol::on_activate();
}

void SLC::on_leave(State&)
{
    timer.reset();
}

// ---------------------------------------------------------- state table

void SLC::lssu(StIdle&, Indication i)
{
    // Q.703 would stay out of service until started; answering the far
    // end's alignment lets a link come back without the controller.
    if (i == SIO)
        next_state(st_aligned);
    else if (i == SIN || i == SIE)
        next_state(st_proving);
}

void SLC::lssu(StNotAligned&, Indication i)
{
    // SIN or SIE skips aligned: the far end is already there.
    if (i == SIO)
        next_state(st_aligned);
    else if (i == SIN || i == SIE)
        next_state(st_proving);
}

void SLC::lssu(StAligned&, Indication i)
{
    if (i == SIN || i == SIE)
        next_state(st_proving);
}

void SLC::lssu(StProving&, Indication i)
{
    if (i != SIN && i != SIE)
        next_state(st_idle);
}

void SLC::fisu(StProving&)
{
    // The far end has finished proving: no need to wait for T4.
    next_state(st_worked);
}

void SLC::msu(StProving&, Packet&)
{
    // Sequence numbering starts afresh in worked, so this unit is lost.
    next_state(st_worked);
}

void SLC::lssu(StWorked&, Indication i)
{
    // Any status in service means the far end lost the link (Q.703 would
    // act on SIB and SIPO instead).
    head(std::cerr) << "receive lssu: " << i << " " << DumpPtr{this} << std::endl;
    next_state(st_idle);
}

// Q.703 carries MSUs only in service: the one offered before is not kept.
void SLC::message(State&, Packet& p)
{
    ++stats.unsent;
    refused = Refusal::out_of_service;
    head(std::cerr) << "msu of " << p.length() << " octets refused: link not in service" << std::endl;
}

void SLC::message(StWorked&, Packet& p)
{
    if (put_to_tb(p))
        process_tb();
}

void SLC::local_activate()
{
    if (current == &st_idle) {
        if (trace.mtp_activate)
            head(std::clog) << "local_activate: executing..." << std::endl;
        next_state(st_not_aligned);
        return;
    }
    if (trace.mtp_activate)
        head(std::clog) << "local_activate: ignored." << std::endl;
    if (current == &st_worked)
        Protocol::on_activate();
}

void SLC::local_deactivate()
{
    if (trace.mtp_activate)
        head(std::clog) << "local_deactivate()" << std::endl;
    next_state(st_idle);
}

void SLC::OnTrunkHardStatus(bool up)
{
    // A link the trunk took down waits for activation or the far end.
    if (up || current == &st_idle)
        return;
    head(std::clog) << " transport OFF by low level terminated" << std::endl;
    next_state(st_idle);
}

void SLC::on_T1()
{
    if (trace.timers)
        head(std::clog) << "T1 expired" << std::endl;
    next_state(st_idle);
}

void SLC::on_T2()
{
    if (trace.timers)
        head(std::clog) << "T2 expired" << std::endl;
    next_state(st_idle);
}

void SLC::on_T3()
{
    if (trace.timers)
        head(std::clog) << "T3 expired" << std::endl;
    next_state(st_idle);
}

void SLC::on_T4()
{
    if (trace.timers)
        head(std::clog) << "T4 expired." << std::endl;
    next_state(st_aligned_ready);
}

void SLC::on_T7()
{
    if (trace.timers)
        head(std::clog) << "T7 expired: " << rtb_count << " packets in RTB." << std::endl;
    next_state(st_idle);
}

// ------------------------------------------------------------- channel

void SLC::on_hdlc_receive(Packet& frame)
{
    receive(frame);
}

void SLC::on_hdlc_error(HDLC::Notify::Cause::Type cause)
{
    head(std::clog) << "hdlc error [cause=" << std::dec << int(cause) << "]" << std::endl;
}

void SLC::on_hdlc_ready()
{
    head(std::clog) << "hdlc ready" << std::endl;
    process_tb();
}

} // namespace SS7
