// SS7 link control: the state table row by row; against a Q.703 peer model,
// alignment and MSUs both ways through losses and the FSN wrap; then the
// buffers' limits, the channel's refusals and bad units.
#include "ss7_fixture.h"
#include "ss7_peer.h"

#include "samples/link/loop_driver.h"

#include <functional>
#include <iostream>
#include <memory>

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
        EXPECT_TRUE((r.event == TRUNK_DOWN || debug.text().empty()) && errors.text().find("ack!") == std::string::npos)
            << debug.text() << errors.text(); // no trace unasked
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

using Lose = std::function<bool(const Bytes&)>;

bool is_msu(const Bytes& u, unsigned fsn) { return (u[2] & 0x3F) > 2 && (u[1] & 0x7F) == fsn; }

// Both ends, a tick at a time; `lose` drops units on their way.
struct Pair {
    explicit Pair(bool emergency = false) : l(emergency) {}
    void run(unsigned ms, const Lose& lose_ours = nullptr, const Lose& lose_peers = nullptr)
    {
        for (unsigned t = 0; t < ms && !(until && until()); t += Q703Peer::tick_ms) {
            for (const Bytes& u : peer.tick())
                if (!lose_peers || !lose_peers(u))
                    l.rx(u);
            for (const Bytes& u : l.wire.take()) {
                sent.push_back(u);
                if (!lose_ours || !lose_ours(u))
                    peer.receive(u);
            }
            clock.advance(Q703Peer::tick_ms);
            elapsed += Q703Peer::tick_ms;
        }
        until = nullptr;
    }
    bool in_service() const { return l.state() == S::worked && peer.state == Q703Peer::in_service; }
    void align()
    {
        l.slc->local_activate();
        peer.start();
        until = [this] { return in_service(); };
        run(20000);
    }

    Clock clock;
    Link l;
    Q703Peer peer;
    std::function<bool()> until;
    std::vector<Bytes> sent; // by our link
    unsigned elapsed = 0;
};

std::vector<Bytes> payloads(unsigned from, unsigned n)
{
    std::vector<Bytes> out;
    for (unsigned i = from; i < from + n; ++i)
        out.push_back(msu_payload(i, 3 + i % 70));
    return out;
}

} // namespace

// The state and timer traces, and an error, each one line with the link's
// prefix; the error line names the unit's numbers.
TEST(Ss7Link, LogsWithItsPrefix)
{
    Clock clock;
    Link l;
    test::Capture debug(std::clog), errors(std::cerr);
    l.slc->trace.state = true;
    l.slc->trace.timers = true;
    l.slc->local_activate();
    clock.advance(7000);
    EXPECT_EQ(debug.text(),
              "SS7/L2 [dpc=12, slc=0, trunk=1]: change state from \"idle\" to \"not aligned\"\n"
              "SS7/L2 [dpc=12, slc=0, trunk=1] (not aligned): T2 expired\n"
              "SS7/L2 [dpc=12, slc=0, trunk=1]: change state from \"not aligned\" to \"idle\"\n");
    l.slc->trace.state = false;
    l.slc->trace.timers = false;
    reach(l, clock, S::worked);
    l.rx(lssu(SS7::SIO));
    EXPECT_EQ(errors.text(), "SS7/L2 [dpc=12, slc=0, trunk=1] (worked): receive lssu: out of alignment "
                             " BSN=127 BIB=1 FSN=127 FIB=1\n");
}

TEST(Ss7Transfer, AlignsNormallyAndInEmergencyWithQ703Peer)
{
    for (bool emergency : {false, true}) {
        SCOPED_TRACE(emergency ? "emergency" : "normal");
        Pair p(emergency);
        p.align();
        ASSERT_TRUE(p.in_service());
        // Proving: 8.2 s at both ends, or 0.5 s, the peer taking our SIE.
        EXPECT_TRUE(emergency ? p.elapsed < 1000 : p.elapsed >= 8200) << p.elapsed;
        // Each status once, on entering not aligned, aligned and proving.
        std::vector<std::string> k = kinds(p.sent), status(3, emergency ? "SIE" : "SIN");
        status[0] = "SIO";
        k.resize(std::max<size_t>(k.size(), 4));
        EXPECT_EQ(std::vector<std::string>(k.begin(), k.begin() + 3), status);
        EXPECT_EQ(std::vector<std::string>(k.begin() + 3, k.end()), std::vector<std::string>(k.size() - 3, "FISU"));
        EXPECT_EQ(p.l.owner.reports, std::vector<std::string>{"up"});

        // The sixth by send_msu, which the peer takes as the next unit too.
        for (const Bytes& m : payloads(0, 5))
            p.l.send(m);
        Packet sixth = packet(payloads(5, 1)[0], 0);
        p.l.slc->send_msu(sixth);
        std::vector<Bytes> theirs = payloads(100, 5);
        p.peer.waiting.assign(theirs.begin(), theirs.end());
        p.run(100);
        EXPECT_EQ(p.peer.delivered, payloads(0, 6));
        EXPECT_EQ(p.l.owner.delivered, payloads(100, 5));
        EXPECT_EQ(multiplexer.timer_count(), 0u) << "T7 stops once all is acknowledged";
    }
}

TEST(Ss7Transfer, LostUnitsAreAskedForAndSentAgainBothWays)
{
    Pair p;
    p.align();
    bool lost = false;
    Lose once = [&](const Bytes& u) { return is_msu(u, 1) && !lost && (lost = true); };
    // The peer misses our FSN 1 and inverts its BIB: 1 to 4 go again with
    // their FSNs and the FIB following that BIB.
    for (const Bytes& m : payloads(0, 5))
        p.l.send(m);
    p.sent.clear();
    p.run(100, once);
    EXPECT_EQ(p.peer.delivered, payloads(0, 5));
    EXPECT_EQ(p.peer.nacks_sent, 1u);
    EXPECT_EQ(p.l.slc->statistics()->repeat, 1u);
    std::vector<unsigned> fsns;
    for (const Bytes& u : p.sent)
        if ((u[2] & 0x3F) > 2)
            fsns.push_back(u[1]);
    EXPECT_EQ(fsns, (std::vector<unsigned>{0x80, 0x81, 0x82, 0x83, 0x84, 0x01, 0x02, 0x03, 0x04}));

    // We miss the peer's FSN 1: our negative acknowledgement brings it again.
    lost = false;
    std::vector<Bytes> theirs = payloads(50, 5);
    p.peer.waiting.assign(theirs.begin(), theirs.end());
    p.run(100, nullptr, once);
    EXPECT_EQ(p.l.owner.delivered, payloads(50, 5));
    EXPECT_EQ(p.l.slc->statistics()->bad_seq, 1u);
    EXPECT_EQ(p.peer.retransmissions, 1u);
    EXPECT_TRUE(p.in_service());
}

TEST(Ss7Transfer, RetransmissionAcrossTheFsnWrap)
{
    Pair p;
    p.align();
    for (const Bytes& m : payloads(0, 120))
        p.l.send(m);
    p.run(30);
    ASSERT_EQ(p.peer.delivered.size(), 120u);
    // 127 outstanding from FSN 120 over the wrap to 118, the rest waiting in
    // the TB; FSN 125 is lost.
    p.peer.silent = true;
    for (const Bytes& m : payloads(120, 150))
        p.l.send(m);
    p.run(10, [](const Bytes& u) { return is_msu(u, 125); });
    EXPECT_EQ(p.l.slc->statistics()->rtb_size, 127u);
    EXPECT_EQ(p.sent.back()[1] & 0x7F, 118);
    p.peer.silent = false;
    p.run(200);
    EXPECT_EQ(p.peer.delivered, payloads(0, 270));
    EXPECT_EQ(p.l.slc->statistics()->repeat, 1u);
    EXPECT_EQ(p.l.slc->statistics()->rtb_size, 0u);
    EXPECT_TRUE(p.in_service());
}

TEST(Ss7Transfer, ChannelRefusalsAndBufferLimits)
{
    Clock clock;
    Link l;
    reach(l, clock, S::worked);
    test::Capture errors(std::cerr), debug(std::clog);
    // A refused MSU keeps its place and its FSN is not spent: the FISU that
    // acknowledges the far end's MSU names the last unit sent.
    l.wire.refuse_next = 1;
    l.send(msu_payload(1));
    l.rx(su(127, true, 0, true, msu_payload(7)));
    EXPECT_EQ(l.wire.take(), std::vector<Bytes>{su(0, true, 127, true)});
    l.slc->on_hdlc_ready();
    EXPECT_EQ(l.wire.take(), std::vector<Bytes>{su(0, true, 0, true, msu_payload(1))});
    EXPECT_EQ(debug.count("SS7/L2 [dpc=12, slc=0, trunk=1] (worked): hdlc ready\n"), 1u) << debug.text();
    EXPECT_EQ(l.slc->statistics()->msu_tx, 4u) << "units taken, the refused one not counted";

    // Shorter payloads would read as FISUs or LSSUs; longer fit no unit.
    for (unsigned n : {0u, 1u, 2u, 274u})
        l.send(Bytes(n, 0x03));
    EXPECT_TRUE(l.wire.frames.empty());
    EXPECT_EQ(l.slc->statistics()->bad_msu, 4u);
    EXPECT_EQ(errors.count("SS7/L2 [dpc=12, slc=0, trunk=1] (worked): msu of 274 octets can't be sent"), 1u);
    Packet bare = packet(Bytes(273, 0x04), 0); // no head room: copied
    l.slc->message(bare);
    EXPECT_EQ(l.wire.take(), std::vector<Bytes>{su(0, true, 1, true, Bytes(273, 0x04))});

    // While the channel refuses, 200 wait and the 201st is refused.
    l.wire.refuse = true;
    for (unsigned i = 0; i < 201; ++i)
        l.send(msu_payload(i, 3));
    EXPECT_EQ(l.slc->statistics()->overflow, 1u);
    EXPECT_EQ(l.slc->refusal(), Refusal::full);
    EXPECT_EQ(errors.count("no space in TB buffer, TB=200 RTB=2 ignoring msu: 03 00 C8"), 1u) << errors.text();
    l.wire.refuse = false;
    l.slc->on_hdlc_ready();
    ASSERT_EQ(l.wire.take().size(), 125u) << "at most 127 outstanding";
    l.rx(su(126, true, 0, true)); // releases FSN 0 to 126
    std::vector<Bytes> out = l.wire.take();
    ASSERT_EQ(out.size(), 75u);
    EXPECT_EQ(out.back(), su(0, true, 73, true, msu_payload(199, 3)));

    // Entering worked again drops what still waited from before a failure.
    l.wire.refuse = true;
    l.send(msu_payload(1));
    l.rx(lssu(SS7::SIOS));
    l.wire.refuse = false;
    reach(l, clock, S::worked);
    EXPECT_EQ(errors.count("(worked): discard 1 msu in TB"), 1u);
}

TEST(Ss7Transfer, BadUnitsAreDroppedWithoutHarm)
{
    Bytes longer = su(127, true, 127, true), truncated = su(127, true, 0, true, msu_payload(1, 10));
    longer.resize(8, 0x01);
    truncated.resize(5);
    const struct {
        Bytes unit;
        int state;
        std::vector<std::string> out;
        const char* what;
    } steps[] = {
        {longer, S::worked, {}, "LI 0 and 5 more octets: dropped, not cut to a FISU"},
        {truncated, S::worked, {}, "an MSU cut short: dropped, not read as an LSSU"},
        {{0x01, 0x02}, S::worked, {}, "too short"},
        {{0xFF, 0xFF, 0xC0}, S::worked, {}, "spare LI bits ignored: a FISU"},
        {su(5, true, 127, true, msu_payload(1)), S::worked, {}, "repeated MSU: dropped, its BSN unread"},
        {su(5, true, 127, true), S::worked, {}, "BSN out of range: ignored once"},
        {su(127, true, 127, true), S::worked, {}, "an in-range BSN clears it"},
        {su(5, true, 127, true), S::worked, {}, "out of range again: ignored once"},
        {su(127, true, 3, true, msu_payload(1)), S::worked, {"FISU"}, "FSN gap: negative acknowledgement"},
        {su(127, true, 4, true, msu_payload(1)), S::worked, {}, "FIB not yet our new BIB: dropped"},
        {su(127, true, 0, false, msu_payload(1)), S::worked, {"FISU"}, "the retransmission begins: accepted"},
        {su(127, true, 0, true), S::worked, {}, "unexpected FIB: noted"},
        {su(127, true, 0, true), S::idle, {"SIOS"}, "twice: out of service"},
    };
    Clock clock;
    Link l;
    reach(l, clock, S::worked);
    test::Capture errors(std::cerr);
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        l.rx(s.unit);
        EXPECT_EQ(l.state(), s.state);
        EXPECT_EQ(kinds(l.wire.take()), s.out);
    }
    EXPECT_EQ(std::make_pair(l.slc->statistics()->bad_length, l.slc->statistics()->bad_seq), std::make_pair(3u, 1u));
    EXPECT_EQ(l.owner.delivered.size(), 1u);
    EXPECT_EQ(errors.count("invalid packet length, expected = 0, received = 5"), 1u) << errors.text();
    EXPECT_EQ(errors.count("ignore packet, length too small 01 02"), 1u) << errors.text();

    reach(l, clock, S::worked);
    l.rx(su(9, true, 127, true));
    l.rx(su(9, true, 127, true));
    EXPECT_EQ(l.state(), S::idle) << "two BSNs out of range in a row";
    // One BSN out of range is noted, not held against the unit carrying it.
    Link m;
    reach(m, clock, S::worked);
    m.rx(su(9, true, 0, true, msu_payload(7)));
    EXPECT_EQ(kinds(m.wire.take()), std::vector<std::string>{"FISU"});
    EXPECT_EQ(m.owner.delivered, std::vector<Bytes>{msu_payload(7)});
    EXPECT_EQ(m.state(), S::worked);
    EXPECT_EQ(l.slc->statistics()->bad_length, 3u) << "counters go on across failures";
    // A FISU naming an MSU that never came: negative acknowledgement.
    reach(l, clock, S::worked);
    l.rx(su(127, true, 3, true));
    EXPECT_EQ(kinds(l.wire.take()), std::vector<std::string>{"FISU"});
    EXPECT_EQ(l.slc->statistics()->bad_seq, 2u);

    // The status octet is taken whole: 0x80 and 0x41 are no SIO or SIN, and
    // 0x84 (SIPO) none that idle acts on either.
    for (unsigned status : {0x84u, 0x80u, 0x41u})
        l.rx(lssu(status));
    EXPECT_EQ(l.state(), S::idle);
    l.rx(lssu(0x01));
    EXPECT_EQ(l.state(), S::proving);
}

// Links whose channels refuse keep their MSUs waiting; together they stop
// short of emptying the packet pool.
TEST(Ss7Transfer, StalledLinksLeaveThePacketPoolAReserve)
{
    Clock clock;
    test::Capture errors(std::cerr), debug(std::clog);
    std::vector<std::unique_ptr<Link>> links;
    for (int i = 0; i < 6; ++i) {
        links.push_back(std::make_unique<Link>());
        reach(*links.back(), clock, S::worked);
        links.back()->wire.refuse = true;
        for (unsigned n = 0; n < 200; ++n)
            links.back()->send(msu_payload(n, 3));
    }
    EXPECT_GE(PacketPool::available(), 200u);
    EXPECT_GT(links.back()->slc->statistics()->overflow, 0u);
}

// Nothing calls the first two: send_msu's refusals, and the 999 ms window of
// congestion reports. Then T7.
TEST(Ss7Transfer, SendMsuTheCongestionWindowAndT7)
{
    Clock clock;
    Link l;
    reach(l, clock, S::worked);
    test::Capture errors(std::cerr);
    l.slc->trace.msu_processing = true;
    Packet none, empty = packet({}, 8), two = packet({0x03, 0x01}, 8);
    for (Packet* p : {&none, &empty, &two})
        l.slc->send_msu(*p);
    EXPECT_TRUE(l.wire.take().empty());
    EXPECT_EQ(errors.count("SS7/L2 [dpc=12, slc=0, trunk=1] (worked): fail to send msu (bad packet)\n"), 3u)
        << errors.text();

    // From the link's creation, then from each false answer.
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(l.slc->CoutCongestion());
        clock.advance(999);
        EXPECT_TRUE(l.slc->CoutCongestion());
        clock.advance(1);
        EXPECT_FALSE(l.slc->CoutCongestion());
    }

    // T7 restarts on each acknowledgement.
    l.send(msu_payload(1));
    l.send(msu_payload(2));
    clock.advance(11000);
    l.rx(su(0, true, 127, true)); // acknowledges the first
    clock.advance(11999);
    EXPECT_EQ(l.state(), S::worked);
    clock.advance(1);
    EXPECT_EQ(l.state(), S::idle);
}
