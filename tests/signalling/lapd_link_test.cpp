// The link's queues, window, counters and error paths, and two links (user
// and network side) back to back over a wire that can lose frames.
#include "lapd_rig.h"

#include "tests/core/test_slots.h"

#include <gtest/gtest.h>

using namespace lapdtest;
using namespace ISDN;

namespace {

class LapdLink : public Clocked
{
protected:
    void establish(Rig& r)
    {
        r.inject("02 01 7F");
        r.out();
        r.reports();
    }
};

TEST_F(LapdLink, OutgoingQueueLimitAndCongestion)
{
    Rig r;
    test::Capture err(std::cerr);
    for (int i = 1; i <= 129; ++i) {
        r.send({0x08, 0x00, uint8_t(i)});
        EXPECT_EQ(r.flows.size(), i < 89 ? 0u : 1u) << i; // congested from the 89th
    }
    EXPECT_EQ(r.flows[0], LAPD::FlowStatus::congested);
    EXPECT_EQ(r.link->queued(), 128u); // the 129th is discarded
    EXPECT_EQ(r.link->stats().out_overflows, 1u);
    EXPECT_NE(err.text().find("discard outgoing message: buffer overflow"), std::string::npos);
    EXPECT_TRUE(r.out().empty()); // nothing flows before establishment

    // Established, the peer acknowledges window after window. What was
    // queued before establishment goes out once the link is up.
    r.inject("02 01 7F");
    EXPECT_EQ(r.out().size(), 8u); // UA and a window
    Seq nr(0);
    while (r.link->queued() > 64) {
        ASSERT_EQ(r.flows.size(), 1u) << r.link->queued();
        nr = nr + Seq(1); // one at a time: released at 64, not before
        r.inject("00 01 01 " + hex({uint8_t(unsigned(nr) << 1)}));
    }
    EXPECT_EQ(r.flows.back(), LAPD::FlowStatus::normal);
    EXPECT_EQ(r.flows.size(), 2u);
}

TEST_F(LapdLink, SendingStopsAtSevenUnacknowledged)
{
    Rig r;
    establish(r);
    for (int i = 0; i < 9; ++i)
        r.send({0x08, 0x00, uint8_t(i)});
    std::vector<std::string> sent = r.out();
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(sent[6], "00 01 0C 00 08 00 06");
    EXPECT_EQ(r.link->unacknowledged(), 7u);
    EXPECT_EQ(r.link->queued(), 2u);
    r.inject("00 01 01 02"); // N(R) = 1
    EXPECT_EQ(r.out(), (std::vector<std::string>{"00 01 0E 00 08 00 07"}));
    // A refused frame stays queued until the channel is ready again.
    r.channel.full = true;
    r.inject("00 01 01 04");
    EXPECT_TRUE(r.out().empty());
    EXPECT_EQ(r.link->queued(), 1u);
    r.channel.full = false;
    r.link->on_hdlc_ready();
    EXPECT_EQ(r.out(), (std::vector<std::string>{"00 01 10 00 08 00 08"}));
}

TEST_F(LapdLink, RepeatedRejectWaitsForT200)
{
    Rig r;
    establish(r);
    r.send({0x08, 0x00, 0x01});
    r.send({0x08, 0x00, 0x02});
    r.out();
    std::vector<std::string> const both = {"00 01 00 00 08 00 01", "00 01 02 00 08 00 02"};
    r.inject("00 01 09 00");
    EXPECT_EQ(r.out(), both);
    // The same reject again while the resent frames are unacknowledged:
    // nothing is sent until T200 finds them still unacknowledged, three
    // times at most; then the last of them alone asks with P = 1.
    for (int i = 0; i < 4; ++i) {
        r.inject("00 01 09 00");
        EXPECT_TRUE(r.out().empty());
        EXPECT_EQ(r.timers(), "T200");
        advance(LAPD::T200);
        EXPECT_EQ(r.out(), i < 3 ? both : std::vector<std::string>{"00 01 02 01 08 00 02"}) << i;
    }
    // The answer to it is acted on; a busy peer is then asked by enquiry.
    r.inject("00 01 01 03");
    EXPECT_EQ(r.out(), std::vector<std::string>{"00 01 02 00 08 00 02"});
    r.inject("00 01 05 02");
    advance(LAPD::T200);
    EXPECT_EQ(r.out(), std::vector<std::string>{"00 01 01 01"});
}

TEST_F(LapdLink, TimerFlagsSayWhatIsArmed)
{
    // Released while the SABME was out: the DISC's T200 runs on in state 3
    // and the network's SABME comes within it.
    Rig r;
    r.link->activate();
    r.link->deactivate();
    r.inject("02 01 7F");
    r.out();
    EXPECT_EQ(r.reports(), (std::vector<std::string>{"down:success (deactivated locally)",
                                                     "error:trying to start T203 while T200 running", "up"}));
    EXPECT_EQ(r.timers(), "T203");
    // A lost first I frame is sent again with P = 1 after 1000 ms, not 10000.
    r.send({0x08, 0x00, 0x01});
    EXPECT_EQ(r.timers(), "T200");
    advance(LAPD::T200);
    EXPECT_EQ(r.out(), (std::vector<std::string>{"00 01 00 00 08 00 01", "00 01 00 01 08 00 01"}));
    EXPECT_EQ(r.link->get_state(), timer_recovery);
}

TEST_F(LapdLink, FourSabmesOrDiscsBeforeGivingUp)
{
    Rig r;
    r.link->local_activate();
    advance(999);
    EXPECT_EQ(r.out().size(), 1u); // T200 is 1000 ms
    advance(1);
    advance(2000);
    EXPECT_EQ(r.out(), std::vector<std::string>(3, "00 01 7F"));
    EXPECT_EQ(r.link->get_state(), awaiting_establishment);
    advance(1000);
    EXPECT_TRUE(r.out().empty());
    EXPECT_EQ(r.link->get_state(), tei_assigned);
    EXPECT_EQ(r.reports(), (std::vector<std::string>{"error:Unsuccessful retransmission (N200 times) - SABME",
                                                     "down:link error (T200 expired N200 times)"}));
    EXPECT_EQ(r.timers(), "-");
    // Released in timer recovery after two polls: the count starts again.
    establish(r);
    r.send({0x08, 0x00, 0x01});
    advance(2000);
    r.out();
    r.link->local_deactivate();
    advance(4000);
    EXPECT_EQ(r.out(), std::vector<std::string>(4, "00 01 53"));
    EXPECT_EQ(r.reports(), (std::vector<std::string>{"error:Unsuccessful retransmission (N200 times) - DISC",
                                                     "down:link error (T200 expired N200 times)"}));
    // And again for an establishment asked for without TEI.
    r.link->mdl_remove();
    r.link->local_activate();
    EXPECT_EQ(r.link->variables().rc, 0);
}

TEST_F(LapdLink, EnquiriesBeforeReestablishment)
{
    // Departs from Q.921 (N200 polls): from T203 four enquiries, from T200
    // three polls with the unacknowledged frame, then re-establishment.
    for (bool from_t203 : {true, false}) {
        Rig r;
        establish(r);
        if (!from_t203)
            r.send({0x08, 0x00, 0x01});
        r.out();
        // T203 is 10 s, T200 1 s.
        if (from_t203) {
            advance(9999);
            EXPECT_TRUE(r.out().empty());
        }
        advance(from_t203 ? 1 : 1000);
        for (int i = 0; i < 4; ++i)
            advance(1000);
        std::vector<std::string> sent = r.out();
        std::vector<std::string> expected(from_t203 ? 4 : 3, from_t203 ? "00 01 01 01" : "00 01 00 01 08 00 01");
        expected.resize(expected.size() + (from_t203 ? 1 : 2), "00 01 7F");
        EXPECT_EQ(sent, expected) << from_t203;
        EXPECT_EQ(r.link->get_state(), awaiting_establishment);
        std::vector<std::string> reports = r.reports();
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports[0], "error:Unsuccessful retransmission (N200 times) - Status enquiry");
        // Re-established by the peer's UA after traffic: counting starts again.
        r.inject("02 01 73");
        EXPECT_EQ(r.link->get_state(), multiple_frame_established);
        LAPDFullState v = r.link->variables();
        EXPECT_EQ(unsigned(v.vs) | unsigned(v.va) | unsigned(v.vr), 0u) << from_t203;
    }
    // And by the peer's SABME after traffic both ways.
    Rig r;
    establish(r);
    r.send({0x08, 0x00, 0x01});
    r.inject("02 01 00 02 08 01 81 07");
    r.out();
    r.inject("02 01 7F");
    EXPECT_EQ(r.out(), std::vector<std::string>{"02 01 73"});
    r.send({0x08, 0x00, 0x02});
    EXPECT_EQ(r.out(), std::vector<std::string>{"00 01 00 00 08 00 02"});
}

TEST_F(LapdLink, MalformedFramesChangeNothing)
{
    Rig r;
    establish(r);
    r.send({0x08, 0x00, 0x01});
    r.out();
    std::ostringstream before, after;
    r.link->variables().out(before);
    std::string const frames[] = {
        "", "02", "02 01", "02 01 00", "02 01 01",     // 0 to 3 octets
        "03 01 01 01", "02 00 01 01",                  // EA bits
        "02 01 0D 01", "02 01 AF", "02 01 E3", // undefined control fields
    };
    for (std::string const& f : frames)
        r.inject(f);
    EXPECT_TRUE(r.out().empty());
    EXPECT_TRUE(r.reports().empty());
    EXPECT_TRUE(r.messages.empty());
    r.link->variables().out(after);
    EXPECT_EQ(after.str(), before.str());
    EXPECT_EQ(r.link->stats().errors, 10u);
    // Taken as the peer sent them: a field over N201 goes up, an RR with
    // bits 5-8 set acknowledges.
    r.inject("02 01 00 00 " + hex(Bytes(N201 + 1, 0x08)));
    EXPECT_EQ(r.messages, std::vector<Bytes>{Bytes(N201 + 1, 0x08)});
    r.inject("00 01 F1 02");
    EXPECT_EQ(r.link->unacknowledged(), 0u);
}

TEST_F(LapdLink, UnexpectedUaKeepsTheUnacknowledgedFrames)
{
    Rig r;
    establish(r);
    r.send({0x08, 0x00, 0x01});
    r.send({0x08, 0x00, 0x02});
    r.out();
    r.inject("00 01 73");
    EXPECT_EQ(r.reports(), std::vector<std::string>{"error:UA (F = 1)"});
    EXPECT_EQ(unsigned(r.link->variables().vs), 2u);
    EXPECT_EQ(r.link->unacknowledged(), 2u);
    // They are still resent on the peer's reject.
    r.inject("00 01 09 00");
    EXPECT_EQ(r.out(), (std::vector<std::string>{"00 01 00 00 08 00 01", "00 01 02 00 08 00 02"}));

    // While establishing or releasing, any UA resets the counters and
    // empties the acknowledgement queue, F = 0 too.
    r.inject("02 01 00 00 08 00 05");
    r.inject("00 01 01 08"); // N(R) = 4: an error, re-establishment
    ASSERT_EQ(r.link->get_state(), awaiting_establishment);
    r.link->local_activate(); // now asked for by layer 3 too
    EXPECT_TRUE(r.link->variables().l3_initiated);
    r.inject("00 01 63");
    EXPECT_EQ(r.link->get_state(), awaiting_establishment);
    EXPECT_EQ(r.link->unacknowledged(), 0u);
    EXPECT_EQ(unsigned(r.link->variables().vs) + unsigned(r.link->variables().vr), 0u);
    r.inject("00 01 73");
    r.send({0x08, 0x00, 0x03});
    r.inject("02 01 00 02 08 00 06");
    EXPECT_EQ(r.link->get_state(), multiple_frame_established);
    EXPECT_EQ(r.messages.back(), (Bytes{0x08, 0x00, 0x06}));
    r.link->deactivate();
    r.inject("00 01 63");
    EXPECT_EQ(r.link->get_state(), awaiting_release);
    EXPECT_EQ(unsigned(r.link->variables().vs) + unsigned(r.link->variables().vr), 0u);
}

TEST_F(LapdLink, LogLevelsSayWhatIsTraced)
{
    // Each line and the lowest log level that writes it.
    std::pair<char const*, unsigned> const lines[] = {{"T203.", 0}, {"MDL-REMOVE", 0}, {"DL-ESTABLISH", 1},
        {"discard queue  OutData=", 1}, {"retransmission  VS=", 1}, {"DL-RELEASE", 2}, {"MDL-ASSIGN (tei=0)", 2},
        {"change state \"TEI assigned\" -> \"Awaiting establishment\"", 2}, {"ack expired", 2},
        {"ack timeout expired RC=1", 2}, {"frame dropped: ", 2}, {"tx: ", 3}, {"rx:", 3}, {"add to tx queue: ", 3},
        {"acknowledge 1 frames", 3}, {"outgoing queue empty.", 3}, {"UA response", 4}, {"RR response pf=1", 4},
        {"\"Multiple frame established\" -> \"Timer recovery\"", 4}, {"tx_enquiry, ownBusy=0", 4},
        {"receive RR (solicited response) in MFE_EST", 4}, {"DISC command", 4}, {"SABME command", 4},
        {"I-Command pf=1", 4}, {"tx_enquiry_response", 4}, {"RNR response pf=0", 4}, {"REJ response pf=0", 4},
        {"DM response", 4}, {"FRMR response pf=1", 4}};
    for (unsigned log = 0; log <= 4; ++log) {
        Rig r(Side::user, false, log);
        test::Capture clog(std::clog);
        r.link->activate();
        r.inject("00 01 73");
        advance(10000);
        r.inject("00 01 01 01");
        r.inject("00 01 01 01");
        advance(10000);
        r.inject("00 01 09 10"); // a REJ, not an RR, with an N(R) out of order
        r.send({0x08, 0x00, 0x01});
        for (char const* f : {"02 01 53", "02 01 7F", "00 01 73", "00 01 01 02", "02 01 00 03 08 00 05", "02 01 01 03",
                              "00 01 05 02", "00 01 01 02"})
            r.inject(f);
        r.send({0x08, 0x00, 0x02});
        r.inject("00 01 09 02");
        advance(2000);
        for (char const* f : {"00 01 01 10", "00 01 1F", "00 01 97 00 00 00 00 00", "02"}) // an RR out of order first
            r.inject(f);
        r.link->mdl_remove();
        r.link->mdl_assign(0);
        r.link->deactivate();
        for (auto const& l : lines)
            EXPECT_EQ(clog.text().find(l.first) != std::string::npos, log >= l.second) << l.first << " at " << log;
        EXPECT_EQ(clog.count("with out of order N(R)"), log > 3 ? 1u : 0u);
        EXPECT_EQ(clog.count("): LAPD["), 0u) << "a line headed twice";
    }
}

// Hands a message up before the frame's N(R) acknowledges anything.
struct AckAtDelivery : Rig
{
    void list_on_message(Packet& p) override
    {
        va.push_back(unsigned(link->variables().va));
        Rig::list_on_message(p);
    }
    std::vector<unsigned> va;
};

TEST_F(LapdLink, MessageGoesUpBeforeItsAcknowledgement)
{
    AckAtDelivery r;
    establish(r);
    r.send({0x08, 0x00, 0x01});
    r.inject("02 01 00 02 08 00 05");
    EXPECT_EQ(r.va, std::vector<unsigned>{0});
    EXPECT_EQ(unsigned(r.link->variables().va), 1u);
}

TEST_F(LapdLink, LinksLeaveThePacketPoolAReserve)
{
    Rig r;
    std::vector<Packet> held;
    while (PacketPool::available() > 256)
        held.push_back(packet({0}));
    test::Capture err(std::cerr);
    r.send({0x08, 0x00, 0x01});
    EXPECT_EQ(r.link->queued(), 0u);
    EXPECT_EQ(r.link->stats().out_overflows, 1u);
    held.pop_back();
    r.send({0x08, 0x00, 0x01});
    EXPECT_EQ(r.link->queued(), 1u);
    // A message over N201 = 260 octets would be refused by the peer, and an
    // empty one carries nothing: never queued, and refused; one of exactly
    // 260 is taken.
    held.clear();
    r.send(Bytes(261, 0x08));
    EXPECT_EQ(r.link->refusal(), Refusal::invalid);
    r.send({});
    EXPECT_EQ(r.link->refusal(), Refusal::invalid);
    r.send(Bytes(260, 0x08));
    EXPECT_EQ(r.link->refusal(), Refusal::none);
    EXPECT_EQ(r.link->queued(), 2u);
    EXPECT_EQ(std::make_pair(r.link->stats().errors, r.link->stats().empty), std::make_pair(1u, 1u));
    EXPECT_EQ(err.count("discard outgoing message: empty\n"), 1u);
}

TEST_F(LapdLink, InfoReportsOnlyChanges)
{
    Rig r;
    ACP::IsdnLinkInfo a, b;
    EXPECT_TRUE(r.link->GetInfo(a));
    EXPECT_FALSE(r.link->GetInfo(b));
    EXPECT_EQ(a.get_ackOverflows().getValue() + a.get_errors().getValue(), 0u);
    std::ostringstream dump;
    r.link->status()->out(dump);
    EXPECT_EQ(dump.str(), "current status\n   - state: TEI assigned\n   - self: TEI=0, SAPI=0, busy=0\n   - peer: TEI=0, "
                          "SAPI=0, busy=0\n   - counters: VS=0, VA=0, VR=0, RC=0\n   - internal signals: AckRQ=0, RetrRQ=0, "
                          "QueuedUp=0\n   - flags: L3Initiated=0, Establishable=1, RejectException=0\n   - timers: T200 "
                          "stopped, T202 stopped, T203 stopped");
    establish(r);
    r.send({0x08, 0x00, 0x01});
    r.inject("02 01 00 02 08 00 05");
    EXPECT_TRUE(r.link->GetInfo(a));
    EXPECT_EQ(a.get_lapdState().asInt(), 6);
    EXPECT_EQ(a.get_msuTxCount().getValue(), 1u);
    EXPECT_EQ(a.get_msuRxCount().getValue(), 1u);
    EXPECT_EQ(a.get_vs().getValue(), 1u);
    EXPECT_EQ(a.get_va().getValue(), 1u);
    EXPECT_EQ(a.get_vr().getValue(), 1u);
    EXPECT_TRUE(a.get_t203run());
    EXPECT_FALSE(r.link->GetInfo(b));
}

// Two links, user and network side, joined by a wire that can drop frames.
struct Pair
{
    Pair() : user(Side::user), net(Side::network) {}
    // Delivers what both sent until the wire is quiet; frames whose number
    // (counted over the whole run) is in lose are dropped.
    void pump()
    {
        for (bool moved = true; moved;) {
            moved = false;
            for (Rig* from : {&user, &net}) {
                Rig& to = from == &user ? net : user;
                std::vector<Bytes> frames;
                frames.swap(from->channel.sent);
                for (Bytes const& f : frames) {
                    moved = true;
                    if (count++ % lose_every == lose_every - 1)
                        continue;
                    Packet p = packet(f);
                    to.link->receive(p);
                }
            }
        }
    }
    Rig user, net;
    unsigned count = 0;
    unsigned lose_every = 1000000;
};

TEST_F(LapdLink, BackToBackThroughALossyWire)
{
    Pair w;
    w.user.link->activate();
    w.pump();
    EXPECT_EQ(w.user.reports(), std::vector<std::string>{"up"});
    EXPECT_EQ(w.net.reports(), std::vector<std::string>{"up"});
    EXPECT_EQ(w.user.link->get_state(), multiple_frame_established);

    // 200 messages each way while every seventh frame is lost; T200 and
    // timer recovery bring every message across once and in order.
    w.lose_every = 7;
    for (unsigned i = 0; i < 200; ++i) {
        w.user.send({0x08, 0x01, uint8_t(i), uint8_t(i >> 8)});
        w.net.send({0x08, 0x01, uint8_t(i | 0x80), uint8_t(i >> 8)});
        w.pump();
        if (i % 5 == 0)
            for (int t = 0; t < 3; ++t) {
                advance(LAPD::T200);
                w.pump();
            }
    }
    for (int t = 0; t < 40 && (w.user.link->queued() + w.user.link->unacknowledged() + w.net.link->queued()
                                   + w.net.link->unacknowledged()); ++t) {
        advance(LAPD::T200);
        w.pump();
    }
    w.lose_every = 1000000;
    ASSERT_EQ(w.net.messages.size(), 200u);
    ASSERT_EQ(w.user.messages.size(), 200u);
    for (unsigned i = 0; i < 200; ++i) {
        EXPECT_EQ(w.net.messages[i], (Bytes{0x08, 0x01, uint8_t(i), uint8_t(i >> 8)}));
        EXPECT_EQ(w.user.messages[i], (Bytes{0x08, 0x01, uint8_t(i | 0x80), uint8_t(i >> 8)}));
    }
    EXPECT_GT(w.user.link->stats().retransmitted + w.net.link->stats().retransmitted, 0u);

    // Release from the user side.
    w.user.reports();
    w.net.reports();
    w.user.link->deactivate();
    w.pump();
    EXPECT_EQ(w.user.link->get_state(), tei_assigned);
    EXPECT_EQ(w.net.link->get_state(), tei_assigned);
    EXPECT_EQ(w.user.reports(), std::vector<std::string>{"down:success (UA received)"});
    EXPECT_EQ(w.net.reports(), std::vector<std::string>{"down:remote error (DISC received)"});
    EXPECT_EQ(w.user.timers(), "-");
    EXPECT_EQ(w.net.timers(), "-");
}

} // namespace
