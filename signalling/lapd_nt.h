// ISDN::LAPD_NT: the network side of a BRI D channel, shared by up to eight
// terminals. It answers the TEI management of Q.921 5.3 (automatic TEIs 64
// to 126), checks every TEI each minute, keeps one small data link per
// terminal, routes layer-3 messages by their call reference to the terminal
// that last used it, and broadcasts SETUP to all terminals.
//
// Queues and buffers: each link holds the messages it may not send yet
// (terminal busy, or seven frames outstanding) in its send queue, and the
// messages sent and not yet acknowledged in its acknowledgement queue, both
// without frame header: a frame is built on a copy when it is sent, so a
// retransmission carries the current N(R). The layer counts what its links'
// queues hold, and every network side together what theirs do. A full send
// queue, the packet pool at its reserve, or the bus or the board holding
// its share refuse the new message; a link that ends, or that the terminal
// re-establishes, drops what its queues held and the layer reports it to
// its owner. The layer holds the frames its channel refused
// until the channel is ready again; a broadcast SETUP it cannot hold, and
// any message while the channel is closed, is refused. Everything is freed
// with the layer.
#pragma once

#include "board/hdlc.h"
#include "framework/clean_queue.h"
#include "framework/packet.h"
#include "framework/timer.h"
#include "net/protocol.h"
#include "signalling/lapd_seq.h"
#include "signalling/refusal.h"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace ISDN {

class LAPD_NT;

// The data link of one terminal.
class LAPD_NT_user
{
public:
    enum State : unsigned { unassigned = 0, assigned = 1, wait_answer = 2 };
    enum : unsigned {
        T200 = 1000,  // ms
        idle = 10000, // link supervision while nothing is outstanding
        check_wait = 2000,
        N200 = 3,
        k = 7, // frames outstanding at most (Q.921 5.9.5)
        send_queue_size = 135,
        max_queued = 128,    // messages the send queue accepts
        congestion_on = 89,  // queued messages that report congestion
        congestion_off = 64, // queued messages that release it
    };

    LAPD_NT_user();
    LAPD_NT_user(const LAPD_NT_user&) = delete;
    LAPD_NT_user& operator=(const LAPD_NT_user&) = delete;

    void set_lapd(LAPD_NT* lapd) { mLapd = lapd; }
    void set_log(unsigned log) { mLog = log; }
    void set_Tei(uint8_t tei) { mTei = tei; }
    uint8_t get_Tei() const { return mTei; }
    bool is_assigned() const { return mState != unassigned; }
    bool is_busy() const { return mBusy; }
    bool is_check() const { return mCheck; }
    // Released by the terminal (DISC): the TEI stays the terminal's until a
    // check finds it gone, so it is given to no one else meanwhile.
    bool is_reserved() const { return mReserved; }
    State state() const { return mState; }
    Seq vs() const { return mVs; }
    Seq va() const { return mVa; }
    Seq vr() const { return mVr; }
    unsigned outstanding() const { return mAckQueue.count(); }
    unsigned waiting() const { return mSendQueue.count(); }

    void receive(Packet& frame, bool cr);
    bool message(Packet& msg);
    void assign();
    void unassign();
    void checking();
    // A check response for the TEI of this link: the check ends.
    void checked(uint16_t ri);
    bool answered(uint16_t ri) const { return mRiValid && mRi == ri; }
    bool has_answer() const { return mRiValid; }

    void PutHeader(std::ostream& os) const;

private:
    bool logging() const { return mLog > 1; }
    void log(const char* text) const;
    void tx_U(uint8_t code, bool pf, bool command);
    void tx_S(uint8_t code, bool pf, bool command);
    void tx_I(Packet const& msg, bool poll);
    void send(Packet const& msg);
    void pump();
    bool ack_queue(Seq nr);
    void supervise(bool restart);
    bool answers_poll(bool pf, bool command);
    void retransmit(bool poll);
    void discard(bool waiting);
    void set_busy();
    void set_unbusy();
    void release();
    void on_I(Packet& frame, Seq ns, Seq nr, bool p);
    void on_RR(Seq nr, bool pf, bool command);
    void on_RNR(Seq nr, bool pf, bool command);
    void on_REJ(Seq nr, bool pf, bool command);
    void on_SABME(bool p);
    void on_DISC(bool p);
    void on_timer(Timer*);
    void on_check_timeout(Timer*);

    bool mCheck = false;
    LAPD_NT* mLapd = nullptr;
    Seq mVr, mVa, mVs; // V(A): oldest unacknowledged N(S)
    uint8_t mTei = 0;
    State mState = unassigned;
    Timer mT200;
    Timer mCheckTimer;
    unsigned mRc = 0;
    uint8_t mCallRef = 0xFF; // matches no 7-bit call reference until an I frame sets it
    bool mBusy = false;
    bool mPolled = false; // a frame with P = 1 went out and no F = 1 came back
    bool mReserved = false;
    bool mRejectException = false; // a REJ went out for the gap now open
    // The N(S) the last retransmission began at, while frames it resent
    // are outstanding and the terminal not busy since: a REJ asking for
    // them again resends nothing.
    Seq mResentFrom;
    bool mResending = false;
    unsigned mLog = 0;
    CleanQueue<Packet, send_queue_size> mSendQueue;
    CleanQueue<Packet, k> mAckQueue;
    uint16_t mRi = 0;
    bool mRiValid = false;
};

class LAPD_NT : public Protocol, public HDLC::Notify
{
public:
    // Told when a terminal's send queue crosses the congestion marks.
    class Notify
    {
    public:
        virtual ~Notify();
        virtual void OnLAPD_NT_FlowStatusChange(LAPD_NT* layer) = 0;
    };

    enum : unsigned {
        users = 8,
        check_period = 60000, // ms
        first_auto_tei = 64,
        last_auto_tei = 126,
        group_tei = 127,
        tei_sapi = 63,
        pending_size = 135, // frames the channel refused
        // A terminal may stay busy at will and keep as long what it holds,
        // what it took before it went busy too; so what terminals hold,
        // waiting or outstanding, is bounded whatever their state. The
        // network sides together hold at most half of the buffers above the
        // pool's reserve (384 of 768), the other half left to every other
        // queue. A message that must wait is taken only while its bus holds
        // less than one terminal may (its queue and window: the D channel
        // is no faster for serving more of them) and the board less than
        // its bound short of a bus's windows. What is left is for messages
        // that go out at once: an idle terminal is served while others
        // hold their bursts.
        bus_share = LAPD_NT_user::max_queued + LAPD_NT_user::k,
        board_bound = (packet_pool_size - packet_pool_reserve) / 2,
        board_share = board_bound - users * LAPD_NT_user::k,
    };
    // TEI management message types (Q.921 Table 8).
    enum : uint8_t {
        id_request = 1,
        id_assigned = 2,
        id_denied = 3,
        id_check_request = 4,
        id_check_response = 5,
        id_remove = 6,
        id_verify = 7,
    };

    LAPD_NT();
    ~LAPD_NT() override;

    Protocol_name const& name() const override { return mName; }
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet&) override {}
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;
    void receive(Packet& p) override;

    // HDLC::Notify: the channel below, when one is given.
    void on_hdlc_receive(Packet& frame) override { receive(frame); }
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override;

    // Frames go to the channel when one is given, else down the stack.
    void hdlc(GenericHDLC* channel) { mHdlc = channel; }
    void set_log(unsigned log);
    unsigned log() const { return mLog; }
    void PutHeader(std::ostream& os) const;
    void tx_identity(uint16_t ri, int ai, uint8_t type);

    const LAPD_NT_user& user(unsigned i) const { return mUsers[i]; }
    unsigned refused() const { return mRefused; }
    unsigned overflows() const { return mOverflows; }
    unsigned unrouted() const { return mUnrouted; }
    unsigned unsent() const { return mUnsent; }
    // What became of the last message from above.
    Refusal refusal() const { return mRefusal; }
    unsigned discarded() const { return mDiscarded; }
    bool congested() const { return mCongested; }
    void BindNotify(Notify* n) { mNotify = n; }

    // For the links.
    void send_to_layer3(Packet& p) { on_message(p); }
    void send_to_layer1(Packet& p);
    void overflow(uint8_t tei);
    void report_discard(LAPD_NT_user const& link, unsigned n);
    // Room for one more message, one that waits or one sent at once.
    bool room(bool waits) const;
    // What the links' queues took and freed.
    void hold(unsigned n);
    void freed(unsigned n);
    // What this layer's links hold, and every network side's together.
    unsigned held() const { return mHeld; }
    static unsigned board_held();

private:
    void check_all_Tei();
    void on_check_timer(Timer*);
    void on_tei_procedure(Packet& p);
    LAPD_NT_user* find_Tei(uint8_t tei);
    LAPD_NT_user* find_free_Tei(uint8_t tei);
    bool tei_in_use(uint8_t tei) const;
    void remove_twice(uint8_t ai);
    void flow();
    Refusal offer(Packet& frame);
    void refuse(Refusal why, std::string const& text);

    Timer mCheckTimer;
    LAPD_NT_user mUsers[users];
    unsigned mLog = 0;
    GenericHDLC* mHdlc = nullptr;
    CleanQueue<Packet, pending_size> mPending;
    unsigned mRefused = 0;   // frames lost to a full channel
    unsigned mOverflows = 0; // messages refused by a full queue or a low pool
    unsigned mUnrouted = 0;  // messages for a call reference no link holds
    unsigned mUnsent = 0;    // messages refused while the channel is closed
    Refusal mRefusal = Refusal::none;
    unsigned mDiscarded = 0; // messages dropped from the queues of a link that ended
    bool mCongested = false;
    unsigned mHeld = 0; // messages in the links' queues
    Notify* mNotify = nullptr;
    Protocol_name_str mName;
};

} // namespace ISDN
