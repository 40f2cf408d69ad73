// The network side of a BRI D channel: TEI management, the data links and
// their timers, routing by call reference, and the frames as tshark reads them.
#include "lapd_rig.h"

#include "samples/link/loop_driver.h"
#include "signalling/lapd_nt.h"
#include "tests/net/tshark.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>


using namespace lapdtest;
using ISDN::LAPD_NT;
using ISDN::LAPD_NT_user;
using Out = std::vector<std::string>;

namespace {

std::string octet(unsigned v)
{
    return hex({uint8_t(v)});
}
// Management frames: from a terminal (C/R 0) and as the network sends them.
std::string from_te(unsigned ri, unsigned type, unsigned ai)
{
    return "FC FF 03 0F " + hex({uint8_t(ri), uint8_t(ri >> 8), uint8_t(type), uint8_t(ai << 1 | 1)});
}
std::string to_te(unsigned ri, unsigned type, unsigned ai)
{
    return "FE FF 03 0F " + hex({uint8_t(ri), uint8_t(ri >> 8), uint8_t(type), uint8_t(ai << 1 | 1)});
}
std::string sabme(unsigned tei)
{
    return "02 " + octet(tei << 1 | 1) + " 7F";
}

// A terminal of TEI 64 written for these tests, after Q.921: it takes I
// frames in sequence and acknowledges each batch with one RR, rejects once
// per gap, and answers every poll at once. While busy (own receiver busy,
// Q.921 5.6.5) it discards I frames and answers polls with RNR, F = 1. It
// sends no I frames, so its N(R) is its V(R) and its N(S) always 0.
struct Terminal
{
    explicit Terminal(NtRig& r) : r(r) {}

    void go_busy()
    {
        busy = true;
        say(0x05, false); // RNR response
    }
    void end_busy()
    {
        busy = false;
        say(0x01, false); // RR response
    }
    // Frames from the network, handled in order.
    void take(std::vector<Bytes> const& frames)
    {
        bool ack = false;
        for (Bytes const& f : frames)
            ack |= on_frame(f);
        if (ack)
            say(0x01, false);
    }
    // Until nothing moves.
    void settle()
    {
        while (!r.channel.sent.empty())
            take(std::exchange(r.channel.sent, {}));
    }
    bool on_frame(Bytes const& f)
    {
        if (f.size() < 3 || f[0] != 0x02 || f[1] != 0x81) {
            ++other; // SABME, DM, identity remove: the link is not as it was
            return false;
        }
        const bool pf = f.size() > 3 && (f[3] & 1);
        if ((f[2] & 1) == 0) {
            ++frames;
            if (busy) {
                ++discarded;
                if (pf)
                    say(0x05, true);
                return false;
            }
            if ((f[2] >> 1) == vr) {
                vr = (vr + 1) % 128;
                rejected = false;
                got.push_back(Bytes(f.begin() + 4, f.end()));
                if (pf)
                    say(0x01, true);
                return !pf;
            }
            if (!rejected) {
                rejected = true;
                say(0x09, pf);
            } else if (pf) {
                say(0x01, true);
            }
            return false;
        }
        if (f[2] == 0x01 || f[2] == 0x05 || f[2] == 0x09) {
            if (pf) {
                ++polls;
                say(busy ? 0x05 : 0x01, true);
            }
            return false;
        }
        ++other;
        return false;
    }
    // An S frame to the network: a response carries C/R 1 from a terminal.
    void say(uint8_t kind, bool f)
    {
        r.inject(hex({0x02, 0x81, kind, uint8_t(vr << 1 | (f ? 1 : 0))}));
    }

    NtRig& r;
    unsigned vr = 0;
    bool busy = false, rejected = false;
    std::vector<Bytes> got;
    unsigned frames = 0, discarded = 0, polls = 0, other = 0;
};

class LapdNt : public Clocked
{
protected:
    // Activated, with TEIs 64 up to 64 + n - 1 handed out.
    void Start(NtRig& r, unsigned n)
    {
        r.nt->activate();
        EXPECT_EQ(r.reports(), Out{"up"});
        EXPECT_EQ(r.out(), Out{to_te(0, 4, 127)});
        for (unsigned i = 0; i < n; ++i) {
            r.inject(from_te(0x100 + i, 1, 127));
            EXPECT_EQ(r.out(), (Out{to_te(0x100 + i, 2, 64 + i), sabme(64 + i)}));
        }
    }
    // TEI 64 established, its first I frame taken.
    void Established(NtRig& r)
    {
        Start(r, 1);
        r.inject("00 81 7F");
        r.inject("00 81 00 00 08 01 03 01");
        r.out();
    }
    // Terminals 64 up to 64 + n - 1 established, each holding call
    // reference 1, 2, ...
    void Bus(NtRig& r, unsigned n)
    {
        Start(r, n);
        for (unsigned i = 0; i < n; ++i) {
            r.inject("00 " + octet((64 + i) << 1 | 1) + " 7F");
            r.inject("00 " + octet((64 + i) << 1 | 1) + " 00 00 08 01 " + octet(i + 1) + " 01");
        }
        r.out();
    }
    // RNR response, N(R) 0.
    static void Busy(NtRig& r, unsigned tei) { r.inject("02 " + octet(tei << 1 | 1) + " 05 00"); }
    static Bytes Message(unsigned ref, unsigned i) { return {0x08, 0x01, uint8_t(0x80 | ref), 0x7B, uint8_t(i)}; }
    // What a PRI link elsewhere on the board sends of n messages.
    static Out Pri(unsigned n)
    {
        Rig pri;
        pri.link->activate();
        pri.inject("00 01 73"); // UA
        pri.out();
        for (unsigned i = 0; i < n; ++i)
            pri.send({0x08, 0x01, 0x01, uint8_t(5 + i)});
        return pri.out();
    }
    // n messages for call reference ref: how many were taken.
    static unsigned Offer(NtRig& r, unsigned ref, unsigned n)
    {
        unsigned taken = 0;
        for (unsigned i = 0; i < n; ++i) {
            r.send(Message(ref, i));
            taken += r.nt->refusal() == Refusal::none;
        }
        return taken;
    }
};

TEST_F(LapdNt, TeiAssignmentCheckAndRemoval)
{
    NtRig r;
    Start(r, 0);
    advance(LAPD_NT::check_period);
    EXPECT_EQ(r.out(), Out{to_te(0, 4, 127)});
    for (unsigned i = 0; i < 8; ++i) {
        r.inject(from_te(0x100 + i, 1, 127));
        EXPECT_EQ(r.out(), (Out{to_te(0x100 + i, 2, 64 + i), sabme(64 + i)}));
    }
    // The ninth terminal is denied; a fixed Ai is denied or ignored.
    r.inject(from_te(0x999, 1, 127));
    EXPECT_EQ(r.out(), Out{to_te(0x999, 3, 127)});
    r.inject(from_te(5, 1, 70));
    EXPECT_EQ(r.out(), Out{to_te(5, 3, 70)});
    r.inject(from_te(5, 1, 63));
    EXPECT_TRUE(r.out().empty());
    // A frame from a TEI no link holds, with none free, removes it.
    r.inject("00 B5 01 01");
    EXPECT_EQ(r.out(), (Out{to_te(0, 6, 90), to_te(0, 6, 90)}));
    r.inject("00 B5"); // address alone: no frame
    EXPECT_TRUE(r.out().empty());

    // A check: all answer but TEI 71, whose link ends.
    r.inject("FC FF 03 0F 09 00 07"); // verify request without Ai: no frame
    r.inject(from_te(9, 7, 127)); // verify request
    EXPECT_EQ(r.out(), Out{to_te(0, 4, 127)});
    for (unsigned tei = 64; tei < 71; ++tei)
        r.inject(from_te(0x40 + tei, 5, tei));
    EXPECT_TRUE(r.out().empty());
    advance(LAPD_NT_user::check_wait);
    EXPECT_EQ(r.link(71), nullptr);
    // A frame from TEI 90 now takes that link, which then serves it.
    r.inject("00 B5 01 01"); // RR command, P
    EXPECT_EQ(r.out(), (Out{sabme(90), "00 B5 01 01"}));

    // An unasked answer with the Ri we know is ignored; another Ri means
    // two terminals hold the TEI.
    r.inject(from_te(0x40 + 64, 5, 64));
    EXPECT_TRUE(r.out().empty());
    r.inject(from_te(0x77, 5, 64));
    EXPECT_EQ(r.out(), (Out{to_te(0, 6, 64), to_te(0, 6, 64)}));
    EXPECT_EQ(r.link(64), nullptr);
    r.inject(from_te(1, 5, 127));
    EXPECT_EQ(r.out(), (Out{to_te(0, 6, 127), to_te(0, 6, 127)}));

    // A terminal that disconnects keeps its TEI: the free link takes 64 and
    // the next request finds no TEI to give, not 65.
    r.inject("00 83 53"); // DISC, P
    EXPECT_EQ(r.out(), Out{"00 83 73"});
    r.inject(from_te(0x500, 1, 127));
    EXPECT_EQ(r.out(), (Out{to_te(0x500, 2, 64), sabme(64)}));
    r.inject(from_te(0x501, 1, 127));
    EXPECT_EQ(r.out(), Out{to_te(0x501, 3, 127)});
    // Until a check goes unanswered for it.
    r.inject(from_te(9, 7, 127)); // verify request
    EXPECT_EQ(r.out(), Out{to_te(0, 4, 127)});
    for (unsigned tei : {64u, 66u, 67u, 68u, 69u, 70u, 90u})
        r.inject(from_te(0x40 + tei, 5, tei));
    advance(LAPD_NT_user::check_wait);
    r.inject(from_te(0x502, 1, 127));
    EXPECT_EQ(r.out(), (Out{to_te(0x502, 2, 65), sabme(65)}));

    // Deactivation ends every link and the checks.
    r.nt->deactivate();
    for (unsigned i = 0; i < LAPD_NT::users; ++i)
        EXPECT_FALSE(r.nt->user(i).is_assigned());
    advance(LAPD_NT::check_period);
    EXPECT_TRUE(r.out().empty());
}

TEST_F(LapdNt, DataLinkWindowAndRetransmission)
{
    test::Capture log(std::clog); // silent unless asked
    NtRig r;
    Start(r, 1);
    r.inject("01 81 7F"); // EA bit set in the first octet: no frame
    r.inject("00 81 7F"); // SABME, P
    EXPECT_EQ(r.out(), Out{"00 81 73"});
    // A check response nobody asked for leaves the link as it is.
    r.inject("FC FF 03 0F 12 34 05 81");
    EXPECT_TRUE(r.out().empty());
    // I frame with P 0: delivered, not acknowledged until the idle poll.
    r.inject("00 81 00 00 08 01 03 01");
    EXPECT_EQ(r.messages, std::vector<Bytes>{unhex("08 01 03 01")});
    EXPECT_TRUE(r.out().empty());
    advance(LAPD_NT_user::idle);
    EXPECT_EQ(r.out(), Out{"02 81 01 03"});
    r.inject("02 81 01 01");

    // SETUP to every terminal; others by call reference, the flag ignored;
    // an unknown reference goes nowhere.
    // A busy channel is given the frame once, when it is ready.
    r.channel.full = true;
    r.send({0x08, 0x01, 0x05, 0x05});
    r.channel.full = false;
    r.nt->on_hdlc_ready();
    r.nt->on_hdlc_ready();
    EXPECT_EQ(r.nt->refused(), 0u);
    EXPECT_EQ(r.out(), Out{"02 FF 03 08 01 05 05"});
    EXPECT_EQ(r.nt->unsent() + r.nt->unrouted() + r.nt->overflows(), 0u); // nothing refused
    r.send({0x08, 0x01, 0x09, 0x07});
    EXPECT_TRUE(r.out().empty());
    for (int i = 0; i < 10; ++i)
        r.send({0x08, 0x01, 0x83, uint8_t(0x10 + i)});
    // Seven outstanding at most, without poll; the rest wait in order.
    Out sent = r.out();
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(sent[0], "02 81 00 02 08 01 83 10");
    EXPECT_EQ(sent[6], "02 81 0C 02 08 01 83 16");
    EXPECT_EQ(r.link(64)->waiting(), 3u);

    // REJ with N(R) 0 acknowledges nothing and asks for all seven again;
    // the same REJ again, while they are outstanding, gets nothing.
    r.inject("02 81 09 00");
    sent = r.out();
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(sent[0], "02 81 00 02 08 01 83 10");
    EXPECT_EQ(sent[6], "02 81 0C 02 08 01 83 16"); // no poll
    r.inject("00 81 09 01"); // as a command with P: only answered
    EXPECT_EQ(r.out(), Out{"00 81 01 03"});
    EXPECT_EQ(r.link(64)->outstanding(), 7u);
    // T200 resends them, with the N(R) of its time, the last with P.
    r.inject("00 81 02 00 08 01 03 02"); // N(S) 1, N(R) 0
    advance(LAPD_NT_user::T200);
    sent = r.out();
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(sent[2], "02 81 04 04 08 01 83 12");
    EXPECT_EQ(sent[6], "02 81 0C 05 08 01 83 16");
    r.inject("02 81 09 00");
    EXPECT_TRUE(r.out().empty());

    // One REJ per gap; then only a poll is answered, until the gap closes.
    for (const char* i : {"00 81 08 00 08 01 03 05", "00 81 0A 00 08 01 03 06", "00 81 0C 01 08 01 03 07",
                          "00 81 04 01 08 01 03 03", "00 81 08 00 08 01 03 05"})
        r.inject(i);
    EXPECT_EQ(r.out(), (Out{"00 81 09 04", "00 81 01 05", "00 81 01 07", "00 81 09 06"}));

    // Acknowledging three lets three waiting ones go; out of the window
    // ends the link.
    r.inject("02 81 01 06"); // RR response, N(R) 3
    sent = r.out();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "02 81 0E 06 08 01 83 17");
    r.inject("00 81 06 00 08 01 03"); // N(S) 3, too short to carry a message
    r.inject("00 81 08 0A");          // N(S) 4, no information: its N(R) unread
    EXPECT_EQ(r.messages.size(), 3u);
    EXPECT_EQ(r.link(64)->outstanding(), 7u);
    r.inject("00 81 0A 0E 08 01 03 08"); // N(S) 5, N(R) 7
    EXPECT_EQ(r.messages.size(), 4u);
    EXPECT_EQ(r.link(64)->outstanding(), 3u);
    r.inject("02 81 01 40"); // N(R) 32
    EXPECT_EQ(r.link(64), nullptr);
    EXPECT_EQ(log.text(), "");
}

// T200 runs from the oldest frame outstanding, and an acknowledgement that
// leaves frames outstanding restarts it: the idle timer would only poll.
TEST_F(LapdNt, T200RunsWhileFramesAreOutstandingAndLostPollsEndTheLink)
{
    NtRig r;
    Established(r);
    r.send({0x08, 0x01, 0x03, 0x02});
    advance(600);
    r.send({0x08, 0x01, 0x03, 0x03});
    EXPECT_EQ(r.out(), (Out{"02 81 00 02 08 01 03 02", "02 81 02 02 08 01 03 03"}));
    r.inject("00 81 05 01"); // RNR command, P, N(R) 0: T200 runs on
    EXPECT_EQ(r.out(), Out{"00 81 01 03"});
    advance(400);
    // The busy terminal would discard the frames: it is only asked.
    EXPECT_EQ(r.out(), Out{"02 81 01 03"});
    r.inject("02 81 01 02"); // RR response, N(R) 1: no longer busy
    EXPECT_EQ(r.out(), Out{"02 81 02 02 08 01 03 03"});
    advance(LAPD_NT_user::T200);
    EXPECT_EQ(r.out(), Out{"02 81 02 03 08 01 03 03"});

    // All acknowledged, then quiet: the poll repeats three times, and the
    // fourth expiry, about four seconds on, ends the link.
    r.inject("02 81 01 04"); // RR response, N(R) 2
    advance(LAPD_NT_user::idle);
    EXPECT_EQ(r.out(), Out{"02 81 01 03"});
    for (int i = 0; i < 3; ++i) {
        advance(LAPD_NT_user::T200);
        EXPECT_EQ(r.out(), Out{"02 81 01 03"}) << i;
    }
    EXPECT_NE(r.link(64), nullptr);
    advance(LAPD_NT_user::T200);
    EXPECT_TRUE(r.out().empty());
    EXPECT_EQ(r.link(64), nullptr);
}

// A terminal busy for longer than N200 rounds of T200, while the owner has
// 50 or 300 messages for it, seven of them already on the way: it is asked
// every T200 whether it still is, and sent nothing else; answering, it keeps
// its link and its queue. Then it gets what it gets with no busy time at
// all: each message once and in order, those past the queue refused when
// offered and reported; nothing dropped later, no new establishment.
TEST_F(LapdNt, BusyTerminalKeepsItsLinkAndQueue)
{
    auto message = [](unsigned i) { return Bytes{0x08, 0x01, 0x83, 0x7B, uint8_t(i), uint8_t(i >> 8)}; };
    for (unsigned n : {50u, 300u}) {
        std::vector<Bytes> baseline;
        for (unsigned busy_ms : {0u, 4500u, 5000u, 30000u}) {
            SCOPED_TRACE(std::to_string(n) + " messages, busy for " + std::to_string(busy_ms) + " ms");
            test::Capture errors(std::cerr);
            NtRig r;
            Established(r);
            Terminal t(r);
            for (unsigned i = 0; i < n; ++i)
                r.send(message(i));
            std::vector<Bytes> in_flight = std::exchange(r.channel.sent, {});
            EXPECT_EQ(in_flight.size(), 7u);
            if (busy_ms)
                t.go_busy();
            t.take(in_flight);
            t.settle();
            EXPECT_EQ(t.discarded, busy_ms ? 7u : 0u);
            // 1000 ms is T200, three expiries unanswered end the link.
            unsigned polls = 0;
            for (unsigned ms = 0; ms < busy_ms; ms += 50) {
                advance(50);
                t.settle();
                if (ms % 1000 == 950) {
                    ASSERT_EQ(t.polls, ++polls) << ms;
                    ASSERT_EQ(t.frames, 7u) << ms;
                }
            }
            if (busy_ms)
                t.end_busy();
            for (unsigned ms = 0; ms < 60000 && r.waiting() + r.outstanding(); ms += 50) {
                t.settle();
                advance(50);
            }
            t.settle();
            if (busy_ms == 0) {
                baseline = t.got;
                ASSERT_EQ(baseline.size(), std::min(n, 7u + 128u));
                for (unsigned i = 0; i < baseline.size(); ++i)
                    EXPECT_EQ(baseline[i], message(i));
            }
            EXPECT_EQ(t.got, baseline);
            EXPECT_EQ(t.frames, t.got.size() + t.discarded) << "each sent once, those discarded twice";
            EXPECT_EQ(t.other, 0u);
            EXPECT_EQ(r.nt->discarded(), 0u);
            EXPECT_EQ(r.nt->overflows(), n - t.got.size());
            EXPECT_EQ(errors.count("TEI 64: discard outgoing message: buffer overflow"), n - t.got.size());
            EXPECT_TRUE(r.reports().empty());
            ASSERT_NE(r.link(64), nullptr);
            EXPECT_EQ(r.link(64)->state(), LAPD_NT_user::assigned);
        }
    }
}

// Only a command with P = 1 is answered. A busy terminal with a message
// waiting is asked every second whether it still is, as long as it
// answers; a REJ ends its busy time. A REJ that acknowledges every frame
// outstanding asks for nothing: the link rests as after an RR, and a
// terminal that answers no enquiry keeps it until the idle poll at 10 s.
TEST_F(LapdNt, AnswersPollsAndARejectThatAsksForNothing)
{
    test::Capture log(std::clog);
    NtRig r;
    Established(r);
    r.nt->set_log(2);
    r.inject("00 81 05 00"); // RNR command, P 0
    r.inject("02 81 05 01"); // RNR response, F 1, unasked
    EXPECT_TRUE(r.out().empty());
    r.inject("00 81 05 01"); // RNR command, P 1
    EXPECT_EQ(r.out(), Out{"00 81 01 03"});
    r.send({0x08, 0x01, 0x83, 0x10});
    EXPECT_TRUE(r.out().empty());
    for (int i = 0; i < 5; ++i) {
        advance(1000);
        EXPECT_EQ(r.out(), Out{"02 81 01 03"}) << i; // RR command, P 1
        r.inject("02 81 05 01");                      // RNR response, F 1
    }
    r.inject("02 81 09 01"); // REJ response, F 1, N(R) 0: nothing to resend
    EXPECT_EQ(r.out(), Out{"02 81 00 02 08 01 83 10"});
    EXPECT_EQ(std::make_pair(log.count("]set busy\n"), log.count("]set unbusy\n")), std::make_pair(size_t(1), size_t(1)));
    r.inject("02 81 01 02"); // RR response, N(R) 1

    r.send({0x08, 0x01, 0x83, 0x11});
    r.send({0x08, 0x01, 0x83, 0x12});
    EXPECT_EQ(r.out().size(), 2u);
    r.inject("02 81 09 06"); // REJ response, N(R) 3
    r.inject("00 81 09 07"); // REJ command, P 1, N(R) 3: only answered
    EXPECT_EQ(r.out(), Out{"00 81 01 03"});
    EXPECT_EQ(r.link(64)->state(), LAPD_NT_user::assigned);
    advance(9950);
    EXPECT_TRUE(r.out().empty());
    EXPECT_EQ(r.link(64)->state(), LAPD_NT_user::assigned);
    advance(50);
    EXPECT_EQ(r.out(), Out{"02 81 01 03"});
    // The answer to that poll, busy, starts T200 anew for the frame sent
    // meanwhile.
    advance(500);
    r.send({0x08, 0x01, 0x83, 0x13});
    EXPECT_EQ(r.out(), Out{"02 81 06 02 08 01 83 13"});
    advance(100);
    r.inject("02 81 05 07"); // RNR response, F 1, N(R) 3
    advance(900);
    EXPECT_TRUE(r.out().empty());
    advance(100);
    EXPECT_EQ(r.out(), Out{"02 81 01 03"});
}

// Only a response with F = 1 answers a poll (Q.921 5.6.7): an RR response
// with F = 0, or the terminal's own poll, restarts neither T200 nor its
// count, so a frame never acknowledged ends the link at the fourth expiry.
TEST_F(LapdNt, OnlyAFinalResponseAnswersAPoll)
{
    NtRig r;
    Established(r);
    r.send({0x08, 0x01, 0x03, 0x02});
    EXPECT_EQ(r.out(), Out{"02 81 00 02 08 01 03 02"});
    for (int i = 0; i < 3; ++i) {
        advance(1000);
        EXPECT_EQ(r.out(), Out{"02 81 00 03 08 01 03 02"}) << i; // again, with P
        if (i == 1) {
            r.inject("00 81 01 01"); // RR command, P, N(R) 0
            EXPECT_EQ(r.out(), Out{"00 81 01 03"});
        } else {
            r.inject("02 81 01 00"); // RR response, F 0, N(R) 0
            EXPECT_TRUE(r.out().empty());
        }
    }
    advance(999);
    EXPECT_NE(r.link(64), nullptr);
    advance(1);
    EXPECT_EQ(r.link(64), nullptr);
    EXPECT_TRUE(r.out().empty());
}

// A busy terminal throws away what reaches it, copies already resent too:
// the REJ that ends its busy (Q.921 5.6.6) has them all again at once, and
// T200 runs from there.
TEST_F(LapdNt, RejectEndingBusyResendsAtOnce)
{
    NtRig r;
    Established(r);
    for (unsigned i = 0; i < 7; ++i)
        r.send({0x08, 0x01, 0x83, uint8_t(0x10 + i)});
    EXPECT_EQ(r.out().size(), 7u);
    r.inject("02 81 09 00"); // REJ response, N(R) 0: all seven again
    EXPECT_EQ(r.out().size(), 7u);
    advance(300);
    r.inject("02 81 05 00"); // RNR response, N(R) 0: busy, the copies discarded
    advance(300);
    r.inject("02 81 09 00"); // REJ response, N(R) 0: busy no more
    Out sent = r.out();
    ASSERT_EQ(sent.size(), 7u);
    for (unsigned i = 0; i < 7; ++i)
        EXPECT_EQ(sent[i], "02 81 " + octet(i << 1) + " 02 08 01 83 " + octet(0x10 + i));
    advance(950);
    EXPECT_TRUE(r.out().empty());
    advance(50);
    sent = r.out();
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(sent[6], "02 81 0C 03 08 01 83 16");
}

// What the network side sends, read by tshark's LAPD and TEI management
// dissectors (a capture of user link type 147 mapped to "lapd").
TEST_F(LapdNt, FramesAsTsharkReadsThem)
{
    NtRig r;
    r.nt->activate();
    r.inject(from_te(0x100, 1, 127));
    r.inject(from_te(0x999, 1, 70));     // identity denied
    r.inject("00 81 7F");                // UA
    r.send({0x08, 0x01, 0x05, 0x05});    // SETUP broadcast
    r.inject("00 81 02 00 08 01 03 01"); // out of sequence: REJ
    r.inject("00 81 00 01 08 01 03 01"); // RR, F
    r.send({0x08, 0x01, 0x83, 0x07});    // I frame

    test::Dissection d = test::Dissect(
        test::OffsetDump(r.channel.sent), "-l 147",
        "-o 'uat:user_dlts:\"User 0 (DLT=147)\",\"lapd\",\"0\",\"\",\"0\",\"\"' -T fields -E separator=/s"
        " -E occurrence=f -e lapd.sapi -e lapd.cr -e lapd.tei -e lapd.control.n_s -e lapd.control.n_r"
        " -e lapd.control.s_ftype -e tei.msg -e tei.action -e q931.message_type -e q931.call_ref -e _ws.expert"
        " -e _ws.malformed");
    ASSERT_TRUE(d.ok) << d.why;

    const Out& lines = d.lines;
    // sapi, C/R, TEI, N(S), N(R), S kind, TEI message, Ai, Q.931 type and
    // call reference; no expert finding and nothing malformed.
    const Out want = {
        "63 1 127    4 127    ",     // check request to every TEI
        "63 1 127    2 64    ",      // identity assigned
        "0 1 64         ",           // SABME
        "63 1 127    3 70    ",      // identity denied
        "0 0 64         ",           // UA
        "0 1 127      0x05 05  ",    // SETUP to the group
        "0 0 64  0 0x0002      ",    // REJ, N(R) 0
        "0 0 64  1 0x0000      ",    // RR, N(R) 1
        "0 1 64 0 1    0x07 03  ",   // I frame
    };
    EXPECT_EQ(lines, want);
}

// A terminal that acknowledges nothing: past 128 waiting a message is
// refused, not the oldest; congestion is told at 89 and released at 64. A
// link that ends reports what its queues held.
TEST_F(LapdNt, FullQueueRefusesAndReports)
{
    test::Capture errors(std::cerr);
    NtRig r;
    Established(r);
    for (unsigned i = 0; i < 7 + 129; ++i) {
        EXPECT_EQ(r.flows.size(), i < 7 + 89 ? 0u : 1u) << i;
        r.send({0x08, 0x01, 0x83, 0x7B, uint8_t(i)});
    }
    EXPECT_EQ(r.flows, std::vector<bool>{true});
    EXPECT_EQ(r.link(64)->waiting(), 128u);
    EXPECT_EQ(r.nt->overflows(), 1u);
    EXPECT_NE(errors.text().find("TEI 64: discard outgoing message: buffer overflow"), std::string::npos);
    r.out();
    r.inject("02 81 01 0E"); // RR response, N(R) 7
    EXPECT_EQ(r.out().front(), "02 81 0E 02 08 01 83 7B 07");
    unsigned nr = 7;
    while (r.link(64)->waiting() > 65)
        r.inject("02 81 01 " + octet(++nr << 1));
    EXPECT_EQ(r.flows, std::vector<bool>{true}); // released at 64, not before
    r.inject("02 81 01 " + octet(++nr << 1));
    EXPECT_EQ(r.flows, (std::vector<bool>{true, false}));
    r.inject("00 81 1F"); // DM and FRMR as commands: no frames
    r.inject("00 81 97");
    EXPECT_TRUE(r.reports().empty());
    r.inject("02 81 1F"); // DM, F
    EXPECT_EQ(r.reports(), std::vector<std::string>{"error:TEI 64: 71 messages discarded"});
    EXPECT_EQ(r.nt->discarded(), 71u);
    // A check response for a TEI no link holds takes the free link.
    r.out();
    r.inject(from_te(0x55, 5, 80));
    EXPECT_EQ(r.out(), Out{sabme(80)});
}

// Eight terminals, each answered by its call reference; then, never
// acknowledging, each sent more than it can queue: the pool keeps a reserve,
// and the links end after three rounds of T200.
TEST_F(LapdNt, EightTerminalsByCallReferenceAndThePoolReserve)
{
    test::Capture errors(std::cerr);
    NtRig r;
    Start(r, 8);
    for (unsigned i = 0; i < 8; ++i) {
        r.inject("00 " + octet((64 + i) << 1 | 1) + " 7F");
        r.inject("00 " + octet((64 + i) << 1 | 1) + " 00 00 08 01 " + octet(i + 1) + " 01");
    }
    r.out();
    for (unsigned i = 0; i < 8; ++i) {
        r.send({0x08, 0x01, uint8_t(0x80 | (i + 1)), 0x10});
        EXPECT_EQ(r.out(), Out{"02 " + octet((64 + i) << 1 | 1) + " 00 02 08 01 " + octet(0x80 | (i + 1)) + " 10"});
    }
    // TEI 65 takes up call reference 1 too: the lower link alone gets it,
    // sent or queued.
    r.inject("00 83 02 00 08 01 01 01");
    for (unsigned n = 0; n < 8; ++n)
        r.send({0x08, 0x01, 0x81, 0x11});
    EXPECT_EQ(r.out().size(), 6u);
    for (unsigned i = 0; i < 8; ++i)
        for (unsigned n = 0; n < 140; ++n)
            r.send({0x08, 0x01, uint8_t(0x80 | (i + 1)), 0x10});
    r.channel.sent.clear();
    EXPECT_EQ(r.link(65)->outstanding() + r.link(65)->waiting(), 1u);
    EXPECT_GE(PacketPool::available(), 200u);
    // Unanswered, each link resends three times; a REJ starts the count
    // anew, and the fourth expiry ends the link.
    advance(LAPD_NT_user::T200);
    r.inject("02 81 09 02"); // REJ from TEI 64, N(R) 1
    advance(2 * LAPD_NT_user::T200);
    EXPECT_NE(r.link(65), nullptr);
    advance(LAPD_NT_user::T200);
    EXPECT_EQ(r.link(65), nullptr);
    EXPECT_NE(r.link(64), nullptr);
    EXPECT_NE(errors.text().find("buffer overflow"), std::string::npos);
}

// Busy terminals may stay busy at will and keep what waits for them: with
// six of them offered 128 messages each, the pool of 1024 buffers would be
// down to its reserve of 256. What terminals hold is bounded (one
// terminal's 128 waiting + 7 outstanding on a bus, half of the 768 buffers
// above the reserve on the board), so an idle terminal on the same bus and
// a PRI link elsewhere are still served.
TEST_F(LapdNt, BusyTerminalsLeaveThePoolToTheRest)
{
    test::Capture errors(std::cerr);
    NtRig a, b, c;
    Bus(a, 8);
    for (unsigned tei = 64; tei < 71; ++tei)
        Busy(a, tei);
    unsigned taken[6];
    for (unsigned i = 0; i < 6; ++i)
        taken[i] = Offer(a, i + 1, 128);
    EXPECT_EQ(std::vector<unsigned>(taken, taken + 6), (std::vector<unsigned>{128, 7, 0, 0, 0, 0}));
    EXPECT_EQ(Offer(a, 7, 1), 0u);
    EXPECT_EQ(a.nt->refusal(), Refusal::full);
    EXPECT_EQ(Offer(a, 8, 1), 1u); // the idle terminal
    EXPECT_EQ(a.out(), Out{"02 8F 00 02 08 01 88 7B 00"});
    // Its window goes out at once; past it, it would wait on a bus that
    // holds its share.
    EXPECT_EQ(Offer(a, 8, 7), 6u);
    EXPECT_EQ(a.link(71)->waiting(), 0u);
    EXPECT_EQ(a.nt->overflows(), 6 * 128 - 135 + 1 + 1);
    EXPECT_EQ(Pri(1), Out{"00 01 00 00 08 01 01 05"});

    // Other buses: outstanding frames count as well; past 384 on the board
    // less a bus's windows (8 terminals, 7 each) nothing more waits, and a
    // message that goes out at once still does.
    Bus(b, 1);
    EXPECT_EQ(Offer(b, 1, 7), 7u);
    Busy(b, 64);
    EXPECT_EQ(Offer(b, 1, 200), 128u);
    Bus(c, 2);
    Busy(c, 64);
    const unsigned held = 135 + 7 + 135; // buses a and b
    EXPECT_EQ(Offer(c, 1, 200), 384u - 8 * 7 - held);
    EXPECT_EQ(Offer(c, 2, 1), 1u);
    EXPECT_EQ(errors.count("discard outgoing message: buffer overflow"),
              a.nt->overflows() + b.nt->overflows() + c.nt->overflows());
    // What a terminal acknowledges leaves room to the others.
    Terminal t(b);
    b.out();
    t.end_busy();
    t.settle();
    EXPECT_EQ(t.got.size(), 135u);
    EXPECT_EQ(b.waiting() + b.outstanding(), 0u);
    EXPECT_EQ(Offer(c, 1, 200), 128u - (384 - 8 * 7 - held));
}

// Six buses, on each a terminal offered 135 messages while it is not busy
// (7 go out, 128 wait) that then says RNR, N(R) 0: what each took before
// it went busy counts. The network sides hold at most 384 buffers
// together, so an idle terminal on the sixth bus and a PRI link elsewhere
// are served; the first terminal, alone on an idle board when offered its
// burst, gets all of it once and in order when its busy ends. On one bus,
// two terminals taking turns being busy hold one terminal's 135, not two
// bursts.
TEST_F(LapdNt, BurstsTakenBeforeBusyCountAgainstTheBound)
{
    test::Capture errors(std::cerr);
    {
        NtRig buses[6];
        unsigned taken[6], held = 0, overflows = 0;
        for (unsigned i = 0; i < 6; ++i) {
            NtRig& r = buses[i];
            Bus(r, 2);
            taken[i] = Offer(r, 1, 135);
            EXPECT_EQ(r.link(64)->outstanding(), 7u);
            Busy(r, 64);
            held += r.waiting() + r.outstanding();
            overflows += r.nt->overflows();
        }
        EXPECT_EQ(taken[0], 135u);
        EXPECT_EQ(held, std::accumulate(taken, taken + 6, 0u));
        EXPECT_LE(held, 384u);
        EXPECT_EQ(overflows, 6 * 135 - held);
        EXPECT_EQ(errors.count("TEI 64: discard outgoing message: buffer overflow"), overflows);

        NtRig& sixth = buses[5];
        sixth.out();
        EXPECT_EQ(Offer(sixth, 2, 5), 5u);
        Out sent = sixth.out();
        ASSERT_EQ(sent.size(), 5u);
        for (unsigned i = 0; i < 5; ++i)
            EXPECT_EQ(sent[i], "02 83 " + octet(i << 1) + " 02 08 01 82 7B " + octet(i));
        EXPECT_EQ(Pri(2), (Out{"00 01 00 00 08 01 01 05", "00 01 02 00 08 01 01 06"}));

        Terminal t(buses[0]);
        t.busy = true;
        t.take(std::exchange(buses[0].channel.sent, {}));
        t.end_busy();
        t.settle();
        ASSERT_EQ(t.got.size(), 135u);
        for (unsigned i = 0; i < 135; ++i)
            EXPECT_EQ(t.got[i], Message(1, i)) << i;
        EXPECT_EQ(t.frames, 135u + 7u) << "each once, those discarded twice";
        EXPECT_EQ(buses[0].waiting() + buses[0].outstanding(), 0u);
    }

    // Turns on one bus: a terminal not busy next to a busy one's burst
    // gets its window at once and nothing more; the share the first frees
    // by acknowledging goes to the second.
    NtRig r;
    Bus(r, 2);
    Terminal first(r);
    EXPECT_EQ(Offer(r, 1, 135), 135u);
    first.go_busy();
    r.out();
    EXPECT_EQ(Offer(r, 2, 135), 7u);
    Busy(r, 65);
    EXPECT_EQ(r.waiting() + r.outstanding(), 135u + 7u);
    first.end_busy();
    first.settle();
    EXPECT_EQ(first.got.size(), 135u);
    EXPECT_EQ(Offer(r, 2, 135), 128u);
    EXPECT_EQ(r.waiting() + r.outstanding(), 135u);
    // The first, idle now, again gets its window and no more.
    EXPECT_EQ(Offer(r, 1, 8), 7u);
    EXPECT_EQ(r.nt->refusal(), Refusal::full);
}

// What the links hold is counted as it changes: after each way a message
// leaves a queue the count is what the queues hold, nothing once the link
// ends or the layer goes down, and the board's is back when the layer goes.
TEST_F(LapdNt, TheCountFollowsEveryWayAMessageIsFreed)
{
    test::Capture errors(std::cerr);
    struct Way
    {
        const char* name;
        std::function<void(NtRig&)> act;
        unsigned left;
    };
    const Way ways[] = {
        {"RR", [](NtRig& r) {
             r.inject("02 81 01 0E"); // N(R) 7: three more go out
             r.inject("02 81 01 14"); // N(R) 10
         }, 0},
        {"I frame", [](NtRig& r) { r.inject("00 81 02 0E 08 01 03 02"); }, 3},
        {"RNR", [](NtRig& r) { r.inject("02 81 05 0E"); }, 3},
        {"REJ", [](NtRig& r) { r.inject("02 81 09 0E"); }, 3},
        {"SABME", [](NtRig& r) { r.inject("00 81 7F"); }, 3},
        {"DM", [](NtRig& r) { r.inject("02 81 1F"); }, 0},
        {"FRMR", [](NtRig& r) { r.inject("02 81 97"); }, 0},
        {"DISC", [](NtRig& r) { r.inject("00 81 53"); }, 0},
        {"T200", [this](NtRig&) { advance(4 * LAPD_NT_user::T200); }, 0},
        {"check unanswered", [this](NtRig& r) {
             r.inject(from_te(9, 7, 127));
             advance(LAPD_NT_user::check_wait);
         }, 0},
        {"TEI removed", [](NtRig& r) {
             r.inject(from_te(9, 7, 127));
             r.inject(from_te(1, 5, 64));
             r.inject(from_te(2, 5, 64));
         }, 0},
        {"deactivated", [](NtRig& r) { r.nt->deactivate(); }, 0},
    };
    const unsigned board = LAPD_NT::board_held();
    for (Way const& w : ways) {
        SCOPED_TRACE(w.name);
        {
            NtRig r;
            Established(r);
            for (unsigned i = 0; i < 10; ++i)
                r.send({0x08, 0x01, 0x83, 0x7B, uint8_t(i)});
            EXPECT_EQ(r.nt->held(), 10u);
            EXPECT_EQ(LAPD_NT::board_held(), board + 10);
            w.act(r);
            EXPECT_EQ(r.nt->held(), r.waiting() + r.outstanding());
            EXPECT_EQ(r.nt->held(), w.left);
            EXPECT_EQ(LAPD_NT::board_held(), board + w.left);
        }
        EXPECT_EQ(LAPD_NT::board_held(), board);
    }
}

} // namespace

// A terminal that establishes again loses what was outstanding, which went
// with the old numbering, but not what waited: that goes out on the new.
TEST_F(LapdNt, ReestablishmentKeepsTheWaitingMessages)
{
    NtRig r;
    Established(r);
    for (unsigned i = 0; i < 12; ++i)
        r.send({0x08, 0x01, 0x83, 0x7B, uint8_t(i)});
    EXPECT_EQ(r.out().size(), 7u);
    EXPECT_EQ(r.link(64)->waiting(), 5u);
    r.reports();
    r.inject("00 81 7F"); // SABME, P
    EXPECT_EQ(r.reports(), std::vector<std::string>{"error:TEI 64: 7 messages discarded"});
    EXPECT_EQ(r.out(), (Out{"00 81 73", "02 81 00 00 08 01 83 7B 07", "02 81 02 00 08 01 83 7B 08",
                            "02 81 04 00 08 01 83 7B 09", "02 81 06 00 08 01 83 7B 0A",
                            "02 81 08 00 08 01 83 7B 0B"}));
    EXPECT_EQ(r.nt->discarded(), 7u);
}
