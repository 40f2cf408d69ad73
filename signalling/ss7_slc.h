// SS7 signalling link control (Q.703) of one link on an HDLC channel in SS7
// mode: alignment and proving, then the basic error correction in service.
//
// Buffers: `tb` holds MSU payloads from above that wait for an FSN (at most
// 200 from above; a retransmission puts up to 127 back at its head); `rtb`
// holds each sent, unacknowledged payload at the index of its FSN. Both hold
// payloads only: the level-2 header is put on while the unit is handed to
// the channel and taken off again. An RTB slot is emptied when its unit is
// acknowledged, moved back to the TB by a retransmission, or cleared by
// `reset`; the TB is emptied on entry to worked.
#pragma once

#include "board/hdlc.h"
#include "framework/clean_queue.h"
#include "framework/packet.h"
#include "framework/timer.h"
#include "net/protocol.h"
#include "signalling/refusal.h"
#include "signalling/ss7_seq.h"
#include "signalling/ss7_su.h"

#include <cstdint>
#include <iosfwd>

namespace SS7 {

class SLC : public Protocol, public HDLC::Notify {
public:
    // Log lines switched on by the slot's ss7Log control.
    struct Trace {
        bool state = false;
        bool raw_receive = false;
        bool raw_transmit = false;
        bool mtp_transmit = false;
        bool mtp_receive = false;
        bool mtp_activate = false;
        bool timers = false;
        bool msu_processing = false;
    };

    using Indication = SS7::Indication;

    class State {
    public:
        enum type { idle = 0, not_aligned = 1, aligned = 2, proving = 3, aligned_ready = 4, worked = 5 };
        virtual ~State() = default;
        virtual void on_enter(SLC& l) = 0;
        virtual void on_leave(SLC& l) = 0;
        virtual void fisu(SLC& l) = 0;
        virtual void lssu(SLC& l, Indication i) = 0;
        virtual void msu(SLC& l, Packet& p) = 0;
        virtual void message(SLC& l, Packet& p) = 0;
        virtual type get_state_id() const = 0;
    };

    // Each event goes to the SLC member of its name taking the most derived
    // state class that has one (double dispatch).
    template <State::type N, class Base>
    class TState : public Base {
    public:
        void on_enter(SLC& l) override { l.on_enter(*this); }
        void on_leave(SLC& l) override { l.on_leave(*this); }
        void fisu(SLC& l) override { l.fisu(*this); }
        void lssu(SLC& l, Indication i) override { l.lssu(*this, i); }
        void msu(SLC& l, Packet& p) override { l.msu(*this, p); }
        void message(SLC& l, Packet& p) override { l.message(*this, p); }
        State::type get_state_id() const override { return N; }
    };

    using StIdle = TState<State::idle, State>;
    using StNotAligned = TState<State::not_aligned, State>;
    using StAligned = TState<State::aligned, State>;
    using StProving = TState<State::proving, State>;
    // Takes proving's FISU, LSSU and MSU handling.
    using StAlignedReady = TState<State::aligned_ready, StProving>;
    using StWorked = TState<State::worked, State>;

    struct TimerVal {
        unsigned period; // ms
        void (SLC::*expire)();
    };
    // T5 (sending SIB) and T6 (remote congestion) are never started: this
    // link neither reports nor supervises congestion.
    static const TimerVal T1, T2, T3, T4n, T4e, T5, T6, T7;

    // The first eight feed the link report in this order.
    struct Statistics {
        unsigned msu_tx = 0;    // FISUs and MSUs taken by the channel
        unsigned msu_rx = 0;    // units received with a good length
        unsigned octets_tx = 0; // of those units, headers included
        unsigned octets_rx = 0; // of every received frame
        unsigned overflow = 0;  // MSUs refused by a full TB
        unsigned rtb_size = 0;  // written by statistics()
        unsigned repeat = 0;    // retransmissions started
        unsigned bad_seq = 0;   // negative acknowledgements sent
        unsigned bad_length = 0; // frames dropped: too short, or LI wrong
        unsigned bad_msu = 0;    // payloads from above no MSU can carry
        unsigned unsent = 0;     // MSUs from above while not in service
    };

    // Prints the sequence fields of the last unit received.
    struct DumpPtr {
        const SLC* link;
    };

    SLC();
    ~SLC() override;

    void hdlc(GenericHDLC* channel) { hdlc_channel = channel; }
    void set_linkno(unsigned n) { linkno = n; }
    void set_slc(unsigned n) { slc = n; }
    void set_dpc(unsigned n) { dpc = n; }
    void set_opc(unsigned n) { opc = n; }
    void set_emergency(bool on) { emergency = on; }

    // The trunk under the link went up (true) or down.
    void OnTrunkHardStatus(bool up);

    State::type get_state_id() const { return current->get_state_id(); }
    // FSN of the last MSU accepted.
    unsigned get_bsn() const { return bsnt; }
    const Statistics* statistics();
    // What became of the last message from above.
    Refusal refusal() const { return refused; }

    // An MSU sent as message() sends it; a payload no MSU can carry is
    // refused with a line of its own.
    void send_msu(Packet& p);
    // True within 999 ms of the last time this answered false (or of the
    // link's creation); else restarts that window and answers false.
    bool CoutCongestion();

    // Protocol
    Protocol_name const& name() const override { return proto_name; }
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet&) override {}
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;
    void receive(Packet& p) override;

    // HDLC::Notify
    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;

    void PutHeader(std::ostream& os) const;
    void PutShortInfo(std::ostream& os) const;

    Trace trace;

private:
    friend std::ostream& operator<<(std::ostream& os, DumpPtr d);

    std::ostream& head(std::ostream& os) const;
    void next_state(State& s);
    void set(const TimerVal& t);
    void on_T1();
    void on_T2();
    void on_T3();
    void on_T4();
    void on_T5() {}
    void on_T6() {}
    void on_T7();

    // Entry and leave actions and the state table, by state.
    void on_enter(StIdle&);
    void on_enter(StNotAligned&);
    void on_enter(StAligned&);
    void on_enter(StProving&);
    void on_enter(StAlignedReady&);
    void on_enter(StWorked&);
    void on_leave(State&);
    void on_leave(StIdle&) {}
    void fisu(State&) {}
    void fisu(StProving&);
    void fisu(StWorked&);
    void lssu(State&, Indication) {}
    void lssu(StIdle&, Indication i);
    void lssu(StNotAligned&, Indication i);
    void lssu(StAligned&, Indication i);
    void lssu(StProving&, Indication i);
    void lssu(StWorked&, Indication i);
    void msu(State&, Packet&) {}
    void msu(StProving&, Packet&);
    void msu(StWorked&, Packet& p);
    void message(State&, Packet& p);
    void message(StWorked&, Packet& p);

    // Units and buffers.
    bool send(Packet& p, Seq fsn);
    void fisu();
    void lssu(Indication i);
    void sio() { lssu(SIO); }
    void sin() { lssu(SIN); }
    void sie() { lssu(SIE); }
    void sios() { lssu(SIOS); }
    // False when the unit was refused.
    bool put_to_tb(Packet& p);
    // The payload itself, or a copy with room for the header in front.
    Packet with_head_room(Packet& p);
    void process_tb();
    void make_expected();
    // False when the unit's BSN took the link out of service.
    bool process_bsnr();
    // A unit whose FIB is not the BIB sent.
    void fib_mismatch();
    void ack();
    void nack();
    void retransmit();
    void clear_rtb();
    void reset();
    void report_down();

    // The last unit received.
    Seq bsnr, fsnr;
    bool bibr = false, fibr = false;
    unsigned li = 0;

    // What goes out; FSN of the last unit the channel took.
    Seq bsnt, fsnt;
    bool bibt = false, fibt = false;
    Seq fsnx;
    bool bibx = false, fibx = false;
    bool nack_pending = false;
    bool bad_bsn = false;
    bool bad_fib = false;

    Packet rtb[128];
    Seq rtb_first;
    Seq rtb_last = Seq(127u);
    int rtb_count = 0;
    CleanQueue<Packet, 327> tb;

    unsigned linkno = 0;
    Timer timer;

    StIdle st_idle;
    StNotAligned st_not_aligned;
    StAligned st_aligned;
    StProving st_proving;
    StAlignedReady st_aligned_ready;
    StWorked st_worked;
    State* current = &st_idle;
    bool emergency = false;

    Protocol_name_str proto_name{"MTP/L2"};
    uint32_t congestion_time; // ms, the loop's clock
    unsigned slc = 0, dpc = 0, opc = 0;
    Statistics stats;
    Refusal refused = Refusal::none;
    GenericHDLC* hdlc_channel = nullptr;
};

std::ostream& operator<<(std::ostream& os, SLC::DumpPtr d);

// "idle", "not aligned", ..., "unknown" for any other number.
const char* state_name(unsigned type);

} // namespace SS7
