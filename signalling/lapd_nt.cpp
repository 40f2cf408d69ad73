#include "signalling/lapd_nt.h"

#include "signalling/lapd_frame.h"

#include <algorithm>
#include <iostream>
#include <sstream>

namespace ISDN {

namespace {

enum : uint8_t {
    s_rr = 0x01,
    s_rnr = 0x05,
    s_rej = 0x09,
    u_xid = 0xAF,
    mt_setup = 0x05, // Q.931 message type
    tei_entity = 0x0F, // Q.921 5.3.2: layer management entity identifier
};

// What the links of every network side on the board hold together.
unsigned board = 0;

} // namespace

// ---- one terminal's link ----

LAPD_NT_user::LAPD_NT_user() = default;

void LAPD_NT_user::PutHeader(std::ostream& os) const
{
    os << "LAPD_user(NT BRI)[";
    if (mState == unassigned) {
        os << "unassigned]:";
        return;
    }
    os << "Tei=" << unsigned(mTei) << (mState == assigned ? ",assigned" : ",wait_answer");
    if (mCheck)
        os << ",check";
    if (mBusy)
        os << ",busy";
    os << "]";
}

void LAPD_NT_user::log(const char* text) const
{
    if (!logging())
        return;
    PutHeader(std::clog);
    std::clog << text << std::endl;
}

void LAPD_NT_user::tx_U(uint8_t code, bool pf, bool command)
{
    log("transmit U frame");
    Address a{0, mTei, command};
    Packet frame = code == u_sabme ? frame_SABME(a, pf) : frame_UA(a, pf);
    mLapd->send_to_layer1(frame);
}

void LAPD_NT_user::tx_S(uint8_t code, bool pf, bool command)
{
    log("transmit S frame");
    Address a{0, mTei, command};
    Packet frame = code == s_rr ? frame_RR(a, mVr, pf) : frame_REJ(a, mVr, pf);
    mLapd->send_to_layer1(frame);
}

void LAPD_NT_user::tx_I(Packet const& msg, bool poll)
{
    log("transmit I frame");
    // N(S) from the frame's place in the window, N(R) current. A poll on
    // every frame would draw an answer to each, and each answer to a
    // resent frame another round of frames.
    Seq ns = mVa + Seq(mAckQueue.count());
    Packet frame = frame_I(msg, Address{0, mTei, true}, ns, mVr);
    if (poll)
        frame[3] |= 1;
    mLapd->send_to_layer1(frame);
}

void LAPD_NT_user::send(Packet const& msg)
{
    tx_I(msg, false);
    mAckQueue.put(msg);
    ++mVs;
    // T200 times the oldest frame outstanding: a later one does not put it
    // off (Q.921 5.5.1).
    if (mState != wait_answer) {
        mState = wait_answer;
        mRc = 0;
        mT200.set(T200, &LAPD_NT_user::on_timer, this);
    }
}

void LAPD_NT_user::pump()
{
    Packet msg;
    while (!mBusy && mAckQueue.count() < k && mSendQueue.get(&msg))
        send(msg);
}

bool LAPD_NT_user::message(Packet& msg)
{
    if (mState == unassigned || mCallRef != (msg[2] & 0x7F))
        return false;
    // Behind a busy terminal, a full window or earlier messages, in order.
    const bool waits = mBusy || mAckQueue.count() >= k || !mSendQueue.empty();
    // A message sent is kept until acknowledged, as one queued until sent:
    // neither may cut into the pool's reserve nor pass the share of its bus
    // and board. What is queued stays: the new message is the one refused.
    if (PacketPoolLow() || (waits && mSendQueue.count() >= max_queued) || !mLapd->room(waits)) {
        mLapd->overflow(mTei);
        return true;
    }
    mLapd->hold(1);
    if (waits) {
        mSendQueue.put(msg);
        supervise(false);
    } else {
        send(msg);
    }
    return true;
}

bool LAPD_NT_user::ack_queue(Seq nr)
{
    log("ack queue");
    // Q.921 5.8.2: V(A) <= N(R) <= V(S).
    if (!seq_in_window(mVa, nr, mVs))
        return false;
    Packet done;
    unsigned n = 0;
    for (unsigned i = seq_distance(mVa, nr); i > 0 && mAckQueue.get(&done); --i)
        ++n;
    mLapd->freed(n);
    mVa = nr;
    if (mVa != mResentFrom)
        mResending = false;
    return true;
}

// Frames still outstanding stay under T200: the idle timer would only poll,
// and a lost frame would never be sent again. A busy terminal with messages
// waiting is polled at T200 too (Q.921 5.6.5), so its end of busy is not
// missed for long when its RR is lost.
void LAPD_NT_user::supervise(bool restart)
{
    if (mVa == mVs && (!mBusy || mSendQueue.empty())) {
        mState = assigned;
        mPolled = false;
        mT200.set(idle, &LAPD_NT_user::on_timer, this);
    } else if (restart || mState != wait_answer) {
        mState = wait_answer;
        mRc = 0;
        mT200.set(T200, &LAPD_NT_user::on_timer, this);
    }
    pump();
}

// A response with F = 1 to our poll ends the poll round (Q.921 5.6.7): the
// terminal is there, whatever it says, and the count starts anew.
bool LAPD_NT_user::answers_poll(bool pf, bool command)
{
    if (command || !pf || !mPolled)
        return false;
    mPolled = false;
    return true;
}

// Frames go out oldest first with their original N(S); the last polls when
// T200 sent them (Q.921 5.6.7).
void LAPD_NT_user::retransmit(bool poll)
{
    log("retransmit queue");
    Packet msgs[k];
    unsigned n = 0;
    while (mAckQueue.get(&msgs[n]))
        ++n;
    for (unsigned i = 0; i < n; ++i) {
        tx_I(msgs[i], poll && i + 1 == n);
        mAckQueue.put(msgs[i]);
    }
    mResentFrom = mVa;
    mResending = n > 0;
}

void LAPD_NT_user::discard(bool waiting)
{
    unsigned n = mAckQueue.count() + (waiting ? mSendQueue.count() : 0);
    if (waiting)
        mSendQueue.clear();
    mAckQueue.clear();
    mVa = mVs; // what went is no longer outstanding
    mResending = mRejectException = false;
    mLapd->freed(n);
    if (n)
        mLapd->report_discard(*this, n);
}

void LAPD_NT_user::set_busy()
{
    if (!mBusy)
        log("set busy");
    mBusy = true;
    // A busy terminal discards what reaches it, resent copies too: the REJ
    // that ends its busy asks for them again (Q.921 5.6.6).
    mResending = false;
}

void LAPD_NT_user::set_unbusy()
{
    if (mBusy)
        log("set unbusy");
    mBusy = false;
}

void LAPD_NT_user::receive(Packet& frame, bool cr)
{
    if (frame.length() < 1)
        return;
    const uint8_t c = frame[0];
    const bool command = !cr; // Q.921 5.8.1: a terminal's command carries C/R 0
    if ((c & 1) == 0) {
        if (!command || frame.length() < 2)
            return;
        const uint8_t c2 = frame[1];
        frame.pull8();
        frame.pull8();
        on_I(frame, Seq(c >> 1), Seq(c2 >> 1), c2 & 1);
        return;
    }
    if ((c & 3) == 1) {
        if (frame.length() < 2)
            return;
        const Seq nr(frame[1] >> 1);
        const bool pf = frame[1] & 1;
        switch (c) {
        case s_rr:
            on_RR(nr, pf, command);
            break;
        case s_rnr:
            on_RNR(nr, pf, command);
            break;
        case s_rej:
            on_REJ(nr, pf, command);
            break;
        }
        return;
    }
    const bool pf = c & u_pf;
    switch (c & ~u_pf) {
    case u_sabme:
        if (command)
            on_SABME(pf);
        break;
    case u_dm:
        if (!command) {
            log("received DM frame");
            unassign();
        }
        break;
    case u_disc:
        if (command)
            on_DISC(pf);
        break;
    case u_frmr:
        if (!command) {
            log("received FRMR frame");
            unassign();
        }
        break;
    case u_xid:
        log("received XID frame");
        break;
    }
}

void LAPD_NT_user::on_I(Packet& info, Seq ns, Seq nr, bool p)
{
    log("received I frame");
    if (ns == mVr) {
        ++mVr;
        mRejectException = false;
        if (p)
            tx_S(s_rr, true, false);
        if (info.length() < 4)
            return;
        mCallRef = info[2] & 0x7F;
        mLapd->send_to_layer3(info);
        if (mState == unassigned)
            return; // the layer above let the link go meanwhile
    } else if (!mRejectException) {
        // One REJ per gap (Q.921 5.6.2.1): each would resend the window.
        mRejectException = true;
        tx_S(s_rej, p, false);
    } else if (p) {
        tx_S(s_rr, true, false);
    }
    Seq va = mVa;
    if (ack_queue(nr))
        supervise(mVa != va); // Q.921 5.5.3.1: T200 restarts when the acknowledgement advances
    else
        unassign();
}

void LAPD_NT_user::on_RR(Seq nr, bool pf, bool command)
{
    log("received RR frame");
    if (command && pf)
        tx_S(s_rr, true, false);
    Seq va = mVa;
    if (!ack_queue(nr)) {
        unassign();
        return;
    }
    bool restart = answers_poll(pf, command) || mVa != va;
    if (mBusy && mVa != mVs) {
        // A busy terminal discarded what it did not acknowledge: resent
        // now, ahead of the messages that waited.
        retransmit(false);
        restart = true;
    }
    set_unbusy();
    supervise(restart);
}

void LAPD_NT_user::on_RNR(Seq nr, bool pf, bool command)
{
    log("received RNR frame");
    set_busy();
    if (command && pf)
        tx_S(s_rr, true, false);
    Seq va = mVa;
    if (!ack_queue(nr)) {
        unassign();
        return;
    }
    // Answered, the enquiries go on at T200 for as long as it is busy.
    supervise(answers_poll(pf, command) || mVa != va);
}

void LAPD_NT_user::on_REJ(Seq nr, bool pf, bool command)
{
    log("received REJ frame");
    if (command && pf)
        tx_S(s_rr, true, false);
    // Q.921 5.6.4: N(R) acknowledges what precedes it and asks for the rest.
    Seq va = mVa;
    if (!ack_queue(nr)) {
        unassign();
        return;
    }
    bool restart = answers_poll(pf, command) || mVa != va;
    set_unbusy();
    // Nothing outstanding: nothing to resend, and no answer to wait for, as
    // after an RR. Asked again for frames already resent and outstanding: a
    // second copy would only draw more rejects; T200 resends if they are lost.
    if (mVa != mVs && !(mResending && nr == mResentFrom)) {
        retransmit(false);
        restart = true;
    }
    supervise(restart);
}

void LAPD_NT_user::on_SABME(bool p)
{
    log("received SABME frame");
    mVr = mVa = mVs = Seq(0);
    if (p)
        tx_U(u_ua, true, false);
    // The frames outstanding went with the old numbering; the waiting ones
    // go out on the new.
    discard(false);
    set_unbusy();
    mState = assigned;
    mPolled = false;
    mT200.set(idle, &LAPD_NT_user::on_timer, this);
    pump();
}

void LAPD_NT_user::on_DISC(bool p)
{
    log("received DISC frame");
    if (p)
        tx_U(u_ua, true, false);
    release();
}

void LAPD_NT_user::release()
{
    unassign();
    mReserved = true;
}

void LAPD_NT_user::assign()
{
    if (mCheck && mState != unassigned) {
        log("checked");
        mCheck = false;
        mCheckTimer.reset();
        return;
    }
    mVr = mVa = mVs = Seq(0);
    mState = assigned;
    mCallRef = 0xFF;
    log("assigned");
    tx_U(u_sabme, true, true);
    mBusy = mCheck = mReserved = mPolled = false;
    mCheckTimer.reset();
    discard(true);
    mRc = 0;
    mT200.set(idle, &LAPD_NT_user::on_timer, this);
}

void LAPD_NT_user::unassign()
{
    log("unassigned");
    mState = unassigned;
    mCheck = mReserved = false;
    mT200.reset();
    mCheckTimer.reset();
    // Nothing routes to an unassigned link: what it holds is lost now.
    discard(true);
}

void LAPD_NT_user::checking()
{
    if (mState == unassigned && !mReserved)
        return;
    log("checking started");
    mCheck = true;
    mCheckTimer.set(check_wait, &LAPD_NT_user::on_check_timeout, this);
}

void LAPD_NT_user::checked(uint16_t ri)
{
    mRi = ri;
    mRiValid = true;
    if (mState == unassigned && mReserved) {
        mCheck = false;
        mCheckTimer.reset();
        return;
    }
    assign();
}

void LAPD_NT_user::on_check_timeout(Timer*)
{
    unassign();
}

void LAPD_NT_user::on_timer(Timer*)
{
    if (mState == assigned) {
        mState = wait_answer;
        tx_S(s_rr, true, true);
        mPolled = true;
        mRc = 0;
        mT200.set(T200, &LAPD_NT_user::on_timer, this);
        return;
    }
    if (mState != wait_answer)
        return;
    if (mRc >= N200) {
        log("T200 expiried N200 times");
        unassign();
        return;
    }
    ++mRc;
    // Nothing outstanding: the poll itself was lost, so poll again. A busy
    // terminal would discard the frames: it is asked whether it still is
    // (Q.921 5.6.5).
    if (mVa == mVs || mBusy)
        tx_S(s_rr, true, true);
    else
        retransmit(true);
    mPolled = true;
    mT200.set(T200, &LAPD_NT_user::on_timer, this);
}

// ---- the layer ----

LAPD_NT::LAPD_NT() : mName("LAPD(NT BRI)")
{
    for (LAPD_NT_user& u : mUsers)
        u.set_lapd(this);
}

// The links' queues go with their members.
LAPD_NT::~LAPD_NT()
{
    board -= mHeld;
}

LAPD_NT::Notify::~Notify() = default;

void LAPD_NT::PutHeader(std::ostream& os) const
{
    os << "LAPD(NT BRI):";
}

void LAPD_NT::set_log(unsigned log)
{
    mLog = log;
    for (LAPD_NT_user& u : mUsers)
        u.set_log(log);
}

void LAPD_NT::local_prepare_head(Packet& p)
{
    p.reserve_head(lapd_head_room);
}

void LAPD_NT::local_activate()
{
    if (mLog) {
        PutHeader(std::clog);
        std::clog << "activate" << std::endl;
    }
    check_all_Tei();
    on_activate();
}

void LAPD_NT::local_deactivate()
{
    if (mLog) {
        PutHeader(std::clog);
        std::clog << "deactivate" << std::endl;
    }
    mCheckTimer.reset();
    for (LAPD_NT_user& u : mUsers)
        u.unassign();
    mPending.clear();
}

// A link's frame the channel cannot take is lost; T200 or the terminal's
// REJ asks for it again.
void LAPD_NT::send_to_layer1(Packet& p)
{
    if (offer(p) == Refusal::full)
        ++mRefused;
}

// A closed channel is not offered the frame; a busy one keeps the order of
// what waits.
Refusal LAPD_NT::offer(Packet& p)
{
    if (!mHdlc) {
        transmit(p);
        return Refusal::none;
    }
    if (!mHdlc->is_open())
        return Refusal::gone;
    if (mPending.empty() && mHdlc->hdlc_transmit(p))
        return Refusal::none;
    if (!mHdlc->is_open())
        return Refusal::gone;
    if (PacketPoolLow() || !mPending.put(p))
        return Refusal::full;
    return Refusal::none;
}

void LAPD_NT::overflow(uint8_t tei)
{
    refuse(Refusal::full, "TEI " + std::to_string(tei) + ": discard outgoing message: buffer overflow");
}

// A message from above that goes nowhere: said and counted by its cause.
void LAPD_NT::refuse(Refusal why, std::string const& text)
{
    mRefusal = why;
    ++(why == Refusal::full ? mOverflows : why == Refusal::gone ? mUnsent : mUnrouted);
    std::cerr << "LAPD(NT BRI): " << text << std::endl;
}

bool LAPD_NT::room(bool waits) const
{
    if (waits)
        return mHeld < bus_share && board < board_share;
    return board < board_bound;
}

void LAPD_NT::hold(unsigned n)
{
    mHeld += n;
    board += n;
}

void LAPD_NT::freed(unsigned n)
{
    mHeld -= n;
    board -= n;
}

unsigned LAPD_NT::board_held()
{
    return board;
}

void LAPD_NT::report_discard(LAPD_NT_user const& link, unsigned n)
{
    mDiscarded += n;
    flow();
    std::ostringstream text;
    text << "TEI " << unsigned(link.get_Tei()) << ": " << n << " messages discarded";
    std::cerr << "LAPD(NT BRI): " << text.str() << std::endl;
    on_status(Protocol_status(new Protocol_status_error(this, text.str())));
}

// Congested while a terminal's queue is past the upper mark, until every
// queue is down to the lower.
void LAPD_NT::flow()
{
    unsigned most = 0;
    for (LAPD_NT_user const& u : mUsers)
        most = std::max(most, u.waiting());
    bool congested = most >= LAPD_NT_user::congestion_on || (mCongested && most > LAPD_NT_user::congestion_off);
    if (congested == mCongested)
        return;
    mCongested = congested;
    if (mNotify)
        mNotify->OnLAPD_NT_FlowStatusChange(this);
}

void LAPD_NT::on_hdlc_ready()
{
    Packet p;
    while (mPending.preview(&p)) {
        if (!mHdlc || !mHdlc->hdlc_transmit(p))
            return;
        mPending.get(&p);
    }
}

void LAPD_NT::tx_identity(uint16_t ri, int ai, uint8_t type)
{
    const unsigned char body[] = {tei_entity, uint8_t(ri), uint8_t(ri >> 8), type, uint8_t(ai << 1 | 1)};
    Packet frame = frame_UI(Address{tei_sapi, group_tei, true}, body, sizeof body);
    send_to_layer1(frame);
}

void LAPD_NT::remove_twice(uint8_t ai)
{
    // Q.921 5.3.4.1: identity remove goes out twice.
    tx_identity(0, ai, id_remove);
    tx_identity(0, ai, id_remove);
}

void LAPD_NT::check_all_Tei()
{
    if (mLog) {
        PutHeader(std::clog);
        std::clog << "Checking Tei values...." << std::endl;
    }
    mCheckTimer.reset();
    for (LAPD_NT_user& u : mUsers)
        u.checking();
    tx_identity(0, group_tei, id_check_request);
    mCheckTimer.set(check_period, &LAPD_NT::on_check_timer, this);
}

void LAPD_NT::on_check_timer(Timer*)
{
    check_all_Tei();
}

LAPD_NT_user* LAPD_NT::find_Tei(uint8_t tei)
{
    for (LAPD_NT_user& u : mUsers)
        if (u.is_assigned() && u.get_Tei() == tei)
            return &u;
    return nullptr;
}

bool LAPD_NT::tei_in_use(uint8_t tei) const
{
    for (const LAPD_NT_user& u : mUsers)
        if ((u.is_assigned() || u.is_reserved()) && u.get_Tei() == tei)
            return true;
    return false;
}

LAPD_NT_user* LAPD_NT::find_free_Tei(uint8_t tei)
{
    // A released link keeps its terminal's TEI for that terminal.
    if (tei != group_tei)
        for (LAPD_NT_user& u : mUsers)
            if (u.is_reserved() && u.get_Tei() == tei)
                return &u;
    LAPD_NT_user* free = nullptr;
    for (LAPD_NT_user& u : mUsers)
        if (!u.is_assigned() && !u.is_reserved()) {
            free = &u;
            break;
        }
    if (!free)
        return nullptr;
    if (tei != group_tei) {
        free->set_Tei(tei);
        return free;
    }
    for (unsigned t = first_auto_tei; t <= last_auto_tei; ++t)
        if (!tei_in_use(uint8_t(t))) {
            free->set_Tei(uint8_t(t));
            return free;
        }
    return nullptr;
}

void LAPD_NT::receive(Packet& p)
{
    if (p.length() <= 2)
        return;
    const uint8_t a1 = p[0], a2 = p[1];
    if ((a1 & 1) != 0 || (a2 & 1) != 1)
        return;
    const bool cr = a1 & 2;
    const uint8_t sapi = a1 >> 2, tei = a2 >> 1;
    if (tei == group_tei) {
        if (p[2] != u_ui)
            return;
        p.pull8();
        p.pull8();
        p.pull8();
        if (sapi == tei_sapi)
            on_tei_procedure(p);
        else
            send_to_layer3(p);
        return;
    }
    LAPD_NT_user* user = find_Tei(tei);
    if (!user) {
        user = find_free_Tei(tei);
        if (!user) {
            if (mLog) {
                PutHeader(std::clog);
                std::clog << "recieved packet with unassigned TEI=" << unsigned(tei) << ",removed" << std::endl;
            }
            remove_twice(tei);
            return;
        }
        if (mLog) {
            PutHeader(std::clog);
            std::clog << "Warning:recieved packet with unassigned TEI=" << unsigned(tei) << std::endl;
        }
        user->assign();
    }
    p.pull8();
    p.pull8();
    user->receive(p, cr);
    flow();
}

void LAPD_NT::on_tei_procedure(Packet& p)
{
    if (p.length() <= 4 || p[0] != tei_entity)
        return;
    const uint16_t ri = uint16_t(p[1] | p[2] << 8);
    const uint8_t type = p[3];
    const uint8_t ai = p[4] >> 1;
    auto say = [this](auto&&... parts) {
        if (!mLog)
            return;
        PutHeader(std::clog);
        (std::clog << ... << parts) << std::endl;
    };
    switch (type) {
    case id_request: {
        if (ai < first_auto_tei) {
            say("recieved identity request with wrong Ai=", unsigned(ai), ",ignored");
            return;
        }
        if (ai != group_tei) {
            say("recieved identity request with wrong Ai=", unsigned(ai), ",denied");
            tx_identity(ri, ai, id_denied);
            return;
        }
        LAPD_NT_user* user = find_free_Tei(group_tei);
        if (!user) {
            say("recieved identity request, but all TEI values is ussigned");
            tx_identity(ri, group_tei, id_denied);
            return;
        }
        say("recieved identity request,TEI assigned:", unsigned(user->get_Tei()));
        tx_identity(ri, user->get_Tei(), id_assigned);
        user->assign();
        return;
    }
    case id_check_response: {
        if (ai == group_tei) {
            say("recieved check response with wrong Ai=", unsigned(ai), ",removed");
            remove_twice(ai);
            return;
        }
        LAPD_NT_user* user = find_Tei(ai);
        if (!user) {
            user = find_free_Tei(ai);
            if (!user) {
                say("recieved check response with wrong Ai=", unsigned(ai), ",removed");
                remove_twice(ai);
                return;
            }
        }
        // No check outstanding: another Ri than the last answer's means two
        // terminals hold the TEI (Q.921 5.3.4.2); the same Ri repeats that
        // answer; a link that never answered has nothing to compare, and a
        // response nobody asked for must not reset its link.
        if (!user->is_check() && (user->is_assigned() || user->is_reserved())) {
            if (!user->has_answer() || user->answered(ri))
                return;
            say("recieved check response with dublicated Ai=", unsigned(ai), ",removed");
            user->unassign();
            remove_twice(ai);
            return;
        }
        say("TEI ", unsigned(ai), " checked");
        user->checked(ri);
        return;
    }
    case id_verify:
        say("recieved verify request");
        check_all_Tei();
        return;
    default:
        return;
    }
}

void LAPD_NT::message(Packet& p)
{
    mRefusal = Refusal::none;
    // Empty too: it names no call.
    if (p.length() < 4)
        return refuse(Refusal::unrouted, "message refused: too short (" + std::to_string(p.length()) + " octets)");
    // No terminal can be reached: refused now rather than lost unsaid.
    const char* const closed = "message refused: channel closed";
    if (mHdlc && !mHdlc->is_open())
        return refuse(Refusal::gone, closed);
    if (p[3] == mt_setup) {
        // Every terminal may answer a call: a UI command to the group TEI.
        Packet frame = frame_UI(Address{0, group_tei, true}, p.data(), p.length());
        Refusal why = offer(frame);
        if (why == Refusal::full)
            overflow(group_tei);
        else if (why == Refusal::gone)
            refuse(why, closed);
        return;
    }
    for (LAPD_NT_user& u : mUsers)
        if (u.message(p)) {
            flow();
            return;
        }
    refuse(Refusal::unrouted, "message refused: no terminal holds call reference " + std::to_string(p[2] & 0x7F));
}

} // namespace ISDN
