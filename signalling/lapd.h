// ISDN::LAPD: the Q.921 data link of one D channel, user or network side,
// PRI or BRI (with TEI management on the BRI user side), as a protocol
// layer on an HDLC channel.
//
// Queues and buffers: the outgoing queue holds the owner's messages not yet
// sent (at most 128 accepted, plus room for the 7 that retransmission puts
// back in front); the acknowledgement queue holds the I frames sent and not
// yet acknowledged, oldest first. Both hold the messages as the owner gave
// them, without frame header, as shared references to pool packets: a frame
// is built on a private copy when it is sent, so a retransmission gets a
// fresh header. The link drops its references when a frame is acknowledged
// or a queue is discarded; the channel owns nothing of ours after
// hdlc_transmit returns.
#pragma once

#include "board/hdlc.h"
#include "framework/clean_queue.h"
#include "framework/timer.h"
#include "net/protocol.h"
#include "protocol/acp.h"
#include "signalling/lapd_frame.h"
#include "signalling/lapd_seq.h"
#include "signalling/refusal.h"

#include <iosfwd>
#include <string>

namespace ISDN {

struct Side
{
    enum type { user = 0, network = 1 };
};

std::ostream& operator<<(std::ostream& os, Side::type side);

// The data link states of Q.921 (Annex B), by their numbers in link reports.
enum State : unsigned char {
    tei_unassigned = 0,
    assign_awaiting_tei = 1,
    establish_awaiting_tei = 2,
    tei_assigned = 3,
    awaiting_establishment = 4,
    awaiting_release = 5,
    multiple_frame_established = 6,
    timer_recovery = 7,
};

char const* statetext(unsigned char state);

// The protocol variables of one link, copied whole into status reports.
struct LAPDFullState
{
    State state = tei_assigned;
    int own_tei = 0;
    int own_sapi = 0;
    int peer_tei = 0;  // of the last received frame
    int peer_sapi = 0; // of the last received frame
    int rc = 0;        // retransmission counter of T200 and T202
    bool peer_busy = false;
    bool own_busy = false; // never set by the link: selects RNR instead of RR
    bool reject_exception = false;
    bool l3_initiated = false;
    bool establishable = true;
    bool queued_up = false;
    bool retransmission_request = false;
    bool acknowledge_request = false;
    bool t200_running = false;
    bool t202_running = false;
    bool t203_running = false;
    Seq vs, va, vr;

    // The state dump: seven lines, each begun by a line break and "   - ".
    void out(std::ostream& os) const;
};

class LAPD : public Protocol, private LAPDFullState, public HDLC::Notify
{
public:
    enum : unsigned {
        T200 = 1000, // ms
        T202 = 2000,
        T203 = 10000,
        N200 = 3,
        N202 = 3,
        k = 7, // window, PRI and BRI alike
        out_queue_size = 135,
        ack_queue_size = 7,
        max_queued = 128,     // messages the outgoing queue accepts
        congestion_on = 89,   // queued messages that report congestion
        congestion_off = 64,  // queued messages that release it
    };

    struct Stats
    {
        unsigned t200 = 0; // expiries
        unsigned t202 = 0;
        unsigned t203 = 0;
        unsigned errors = 0; // frames refused as malformed, messages over N201
        unsigned retransmitted = 0;
        unsigned out_overflows = 0;
        unsigned ack_overflows = 0;
        unsigned offered = 0;
        unsigned received = 0; // in-sequence I frames
        unsigned empty = 0;
        unsigned out_of_sequence = 0;
        unsigned nr_errors = 0;
    };

    class Notify
    {
    public:
        virtual ~Notify();
        virtual void OnLAPD_FlowStatusChange(LAPD* link) = 0;
    };

    struct FlowStatus
    {
        enum Type { normal = 0, congested = 1 };
    };

    // A report with the link's protocol variables at the moment it was made.
    class Status : public Protocol_status_error, public LAPDFullState
    {
    public:
        Status(LAPD const& link, std::string text);
        void out(std::ostream& os) const override;
    };

    LAPD(Side::type side, unsigned log);
    ~LAPD() override;

    // Protocol
    Protocol_name const& name() const override { return mName; }
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet&) override {}
    void local_activate() override;   // DL-ESTABLISH request
    void local_deactivate() override; // DL-RELEASE request
    void message(Packet& p) override;
    void receive(Packet& p) override;
    virtual void PutHeader(std::ostream& os) const;

    // HDLC::Notify
    void on_hdlc_receive(Packet& frame) override { receive(frame); }
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override { local_events(); }

    virtual void mdl_assign(unsigned char tei);
    virtual void on_mdl_assign() {}
    virtual void mdl_remove();
    virtual void on_error(unsigned code);

    void BindNotify(Notify* n) { mNotify = n; }
    void set_log(unsigned log) { mLog = log; }
    void set_linkno(unsigned n) { mLinkNo = n; }
    void set_side(Side::type side) { mSide = side; }
    void hdlc(GenericHDLC* channel) { mHdlc = channel; }
    void change_to_bri() { mBri = true; }

    FlowStatus::Type GetFlowStatus() const { return mFlow; }
    char const* state_text() const { return statetext(state); }
    // Fills info; true only when it differs from the last one reported.
    bool GetInfo(ACP::IsdnLinkInfo& info) const;
    Protocol_status status() const;
    void show_stat() const;

    // For the owner's reports and the tests.
    State get_state() const { return state; }
    LAPDFullState const& variables() const { return *this; }
    Stats const& stats() const { return mStats; }
    // What became of the last message from above.
    Refusal refusal() const { return mRefusal; }
    unsigned queued() const { return mOut.count(); }
    unsigned unacknowledged() const { return mAck.count(); }
    unsigned short ri() const { return mRi; }

    // Starts automatic TEI assignment (Q.921 5.3.2) on a BRI user link.
    void BeginTeiAssignProcedure();

private:
    // Frames, Q.921 5.8.1 C/R: a command from the user carries 0.
    Address address(bool command) const;
    bool is_command(bool cr) const { return mSide == Side::user ? cr : !cr; }
    bool xmit(Packet& frame);
    void tx(Packet frame) { xmit(frame); }
    void tx_identity(unsigned short ri, int ai, unsigned char type);
    void trace(char const* what, Packet const& frame, bool to_user) const;
    void log_line(std::ostream& os, std::string const& text) const;

    void change_state(State s);
    void establish_dl();
    void clear_exception();
    void retransmission(Seq nr);
    void reject(Seq nr);
    void tx_enquiry();
    void tx_poll();
    void tx_enquiry_response();
    void nr_recovery();
    void nr_error_recovery();
    bool nr_valid(Seq nr) const { return seq_in_window(va, nr, vs); }
    void reset_sequence();
    void link_up() { on_activate(); }
    void link_down(char const* text, bool success = false);
    void on_error(char const* text);

    void on_SABME(bool command, bool p);
    void on_DISC(bool command, bool p);
    void on_UA(bool command, bool f);
    void on_DM(bool command, bool f);
    void on_FRMR(bool command, bool pf);
    void on_RR(bool command, bool pf, Seq nr);
    void on_RNR(bool command, bool pf, Seq nr);
    void on_REJ(bool command, bool pf, Seq nr);
    void on_ICOM(Packet& info, bool p, Seq ns, Seq nr);
    void on_UI(Packet& info);
    void s_in_recovery(bool command, bool pf, Seq nr, bool trace_order);

    void local_events();
    void ack_queue_refreash();
    void queued_up_run();
    void ack_pending();
    void discard_queue();
    void set_flow(FlowStatus::Type f);

    void arm(bool& running, unsigned ms, void (LAPD::*expiry)(Timer*));
    void start_T200();
    void start_T202();
    void start_T203();
    void stop_T200();
    void stop_T202();
    void stop_T203();
    void on_T200(Timer*);
    void on_T202(Timer*);
    void on_T203(Timer*);
    void new_ri();

    Side::type mSide;
    Stats mStats;
    Refusal mRefusal = Refusal::none;
    Notify* mNotify = nullptr;
    FlowStatus::Type mFlow = FlowStatus::normal;
    mutable ACP::IsdnLinkInfo mLastInfo;
    mutable bool mInfoReported = false;
    unsigned mLinkNo = 0;
    unsigned mLog;
    bool mBri = false;
    unsigned short mRi = 0;
    // The N(R) of the last retransmission; whether frames it resent are
    // not yet acknowledged, a reject for them was held back meanwhile, and
    // how often they were resent without progress.
    Seq mResentFrom;
    bool mResending = false;
    bool mRejectHeld = false;
    unsigned mResendRounds = 0;
    Timer mTimer;
    CleanQueue<Packet, out_queue_size> mOut;
    CleanQueue<Packet, ack_queue_size> mAck;
    Protocol_name_str mName;
    GenericHDLC* mHdlc = nullptr;
};

} // namespace ISDN
