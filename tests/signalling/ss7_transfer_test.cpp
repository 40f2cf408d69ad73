// SS7 link against a Q.703 peer model: alignment, MSUs both ways through
// losses, negative acknowledgement and retransmission, the FSN wrap; and
// the buffers' limits, refusals by the channel and bad units.
#include "ss7_fixture.h"
#include "ss7_peer.h"

#include "tests/core/loop_driver.h"

#include <functional>
#include <iostream>

using namespace ss7test;

namespace {

using S = SS7::SLC::State;
using Drop = std::function<bool(const Bytes&)>;

unsigned fsn_of(const Bytes& u) { return u[1] & 0x7F; }

// One tick of both ends: the peer's units to the link, the link's to the
// peer; a filter may lose units on either way.
struct Pair {
    explicit Pair(bool emergency = false) : l(emergency), peer(false) {}
    void tick(const Drop& lose_to_link = nullptr, const Drop& lose_to_peer = nullptr)
    {
        for (const Bytes& u : peer.tick())
            if (!lose_to_link || !lose_to_link(u))
                l.rx(u);
        for (const Bytes& u : l.wire.take()) {
            sent.push_back(u);
            if (!lose_to_peer || !lose_to_peer(u))
                peer.receive(u);
        }
        clock.advance(Q703Peer::tick_ms);
        elapsed += Q703Peer::tick_ms;
    }
    bool run_until(const std::function<bool()>& done, unsigned ms, const Drop& a = nullptr, const Drop& b = nullptr)
    {
        for (unsigned t = 0; t < ms && !done(); t += Q703Peer::tick_ms)
            tick(a, b);
        return done();
    }
    bool aligned() const { return l.state() == S::worked && peer.state == Q703Peer::in_service; }
    void align()
    {
        l.slc->local_activate();
        peer.start();
        ASSERT_TRUE(run_until([&] { return aligned(); }, 20000));
        sent.clear();
    }

    Clock clock;
    Link l;
    Q703Peer peer;
    std::vector<Bytes> sent; // by the link, in order
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

TEST(Ss7Transfer, AlignsNormallyAndInEmergencyWithQ703Peer)
{
    for (bool emergency : {false, true}) {
        SCOPED_TRACE(emergency ? "emergency" : "normal");
        Pair p(emergency);
        p.l.slc->local_activate();
        p.peer.start();
        ASSERT_TRUE(p.run_until([&] { return p.aligned(); }, 20000));
        // Normal proving lasts 8.2 s at both ends; emergency 0.5 s, chosen
        // by the peer from our SIE.
        if (emergency)
            EXPECT_LT(p.elapsed, 1000u);
        else
            EXPECT_GE(p.elapsed, 8200u);
        // Each status once: SIO, then SIN or SIE entering aligned and
        // proving; then FISUs only.
        std::vector<std::string> k = kinds(p.sent);
        std::string status = emergency ? "SIE" : "SIN";
        ASSERT_GE(k.size(), 4u);
        EXPECT_EQ(std::vector<std::string>(k.begin(), k.begin() + 3), (std::vector<std::string>{"SIO", status, status}));
        for (size_t i = 3; i < k.size(); ++i)
            EXPECT_EQ(k[i], "FISU");
        EXPECT_EQ(p.l.owner.reports, std::vector<std::string>{"up"});

        // MSUs both ways, in order, once.
        for (const Bytes& m : payloads(0, 5))
            p.l.send(m);
        for (const Bytes& m : payloads(100, 5))
            p.peer.waiting.push_back(m);
        p.run_until([] { return false; }, 100);
        EXPECT_EQ(p.peer.delivered, payloads(0, 5));
        EXPECT_EQ(p.l.owner.delivered, payloads(100, 5));
        EXPECT_TRUE(p.aligned());
        EXPECT_EQ(multiplexer.timer_count(), 0u) << "T7 stops once all is acknowledged";
    }
}

TEST(Ss7Transfer, LostUnitsAreAskedForAndSentAgainBothWays)
{
    Pair p;
    p.align();
    // The peer loses our second MSU, asks for it again with its BIB, and
    // gets every unit from there on with the former FSNs.
    for (const Bytes& m : payloads(0, 5))
        p.l.send(m);
    bool lost = false;
    auto once = [&](const Bytes& u) { return kind(u) == "MSU" && fsn_of(u) == 1 && !lost && (lost = true); };
    p.run_until([] { return false; }, 100, nullptr, once);
    EXPECT_EQ(p.peer.delivered, payloads(0, 5));
    EXPECT_EQ(p.peer.nacks_sent, 1u);
    EXPECT_EQ(p.l.slc->statistics()->repeat, 1u);
    std::vector<unsigned> fsns;
    for (const Bytes& u : p.sent)
        if (kind(u) == "MSU")
            fsns.push_back(fsn_of(u));
    EXPECT_EQ(fsns, (std::vector<unsigned>{0, 1, 2, 3, 4, 1, 2, 3, 4}));
    // The repeats carry the peer's inverted BIB as their FIB.
    EXPECT_EQ(p.sent.back()[1] & 0x80, 0);

    // We lose the peer's second MSU: our negative acknowledgement brings it
    // again, nothing is delivered twice.
    for (const Bytes& m : payloads(50, 5))
        p.peer.waiting.push_back(m);
    lost = false;
    p.run_until([] { return false; }, 100, once);
    EXPECT_EQ(p.l.owner.delivered, payloads(50, 5));
    EXPECT_EQ(p.l.slc->statistics()->bad_seq, 1u);
    EXPECT_EQ(p.peer.retransmissions, 1u);
    EXPECT_TRUE(p.aligned());
}

TEST(Ss7Transfer, RetransmissionAcrossTheFsnWrap)
{
    Pair p;
    p.align();
    // FSNs 0..119 acknowledged, then 127 outstanding from 120 over the
    // wrap to 118; the unit with FSN 125 is lost once.
    for (const Bytes& m : payloads(0, 120))
        p.l.send(m);
    p.run_until([] { return false; }, 30);
    ASSERT_EQ(p.peer.delivered.size(), 120u);
    p.peer.silent = true; // acknowledges nothing for now
    for (const Bytes& m : payloads(120, 150))
        p.l.send(m);
    p.tick(nullptr, [&](const Bytes& u) { return kind(u) == "MSU" && fsn_of(u) == 125; });
    EXPECT_EQ(p.l.slc->statistics()->rtb_size, 127u);
    EXPECT_EQ(fsn_of(p.sent.back()), 118u) << "at most 127 outstanding; the rest waits in the TB";
    p.peer.silent = false;
    p.run_until([] { return false; }, 200);
    EXPECT_EQ(p.peer.delivered, payloads(0, 270));
    EXPECT_EQ(p.l.slc->statistics()->repeat, 1u);
    EXPECT_EQ(p.l.slc->statistics()->rtb_size, 0u);
    EXPECT_TRUE(p.aligned());
}

TEST(Ss7Transfer, T7RunsWhileUnitsWaitForAcknowledgement)
{
    Pair p;
    p.align();
    p.peer.silent = true;
    p.l.send(msu_payload(1));
    p.l.send(msu_payload(2));
    p.tick();
    p.clock.advance(9990);
    // An acknowledgement of the first unit starts T7 afresh.
    p.l.rx(su(0, true, 127, true));
    p.clock.advance(11999);
    EXPECT_EQ(p.l.state(), S::worked);
    p.clock.advance(1);
    EXPECT_EQ(p.l.state(), S::idle);
    EXPECT_EQ(kinds(p.l.wire.take()), std::vector<std::string>{"SIOS"});
    EXPECT_EQ(p.l.owner.reports, (std::vector<std::string>{"up", "down: impossible phasing"}));
}

TEST(Ss7Transfer, ChannelRefusalKeepsTheUnitAndItsFsn)
{
    Clock clock;
    Link l;
    reach(l, clock, S::worked);
    test::Capture errors(std::cerr), debug(std::clog);
    // The MSU is refused: it keeps its place, and the FISU that
    // acknowledges the far end's MSU still names the last unit sent.
    l.wire.refuse_next = 1;
    l.send(msu_payload(1));
    EXPECT_TRUE(l.wire.frames.empty());
    l.rx(su(127, true, 0, true, msu_payload(7)));
    std::vector<Bytes> out = l.wire.take();
    ASSERT_EQ(out, (std::vector<Bytes>{su(0, true, 127, true)}));
    l.slc->on_hdlc_ready();
    EXPECT_EQ(l.wire.take(), (std::vector<Bytes>{su(0, true, 0, true, msu_payload(1))}));

    // While the channel refuses, 200 wait and the 201st is refused.
    l.rx(su(0, true, 0, true));
    l.wire.refuse = true;
    for (unsigned i = 0; i < 201; ++i)
        l.send(msu_payload(i));
    EXPECT_EQ(l.slc->statistics()->overflow, 1u);
    EXPECT_EQ(errors.count("no space in TB buffer, TB=200 RTB=0 ignoring msu: 03 C8 00 00 00 C8"), 1u) << errors.text();
    l.wire.refuse = false;
    l.slc->on_hdlc_ready();
    out = l.wire.take();
    ASSERT_EQ(out.size(), 127u) << "at most 127 outstanding";
    EXPECT_EQ(out.back(), su(0, true, 127, true, msu_payload(126)));
    l.rx(su(126, true, 0, true)); // acknowledges FSN 1 to 126
    out = l.wire.take();
    ASSERT_EQ(out.size(), 73u);
    EXPECT_EQ(out.back(), su(0, true, 72, true, msu_payload(199)));

    // Entering worked again drops what waited from before the failure.
    l.wire.refuse = true;
    l.send(msu_payload(1));
    l.send(msu_payload(2));
    l.rx(lssu(SS7::SIOS));
    l.wire.refuse = false;
    reach(l, clock, S::worked);
    EXPECT_EQ(errors.count("(worked): discard 2 msu in TB"), 1u);
}

TEST(Ss7Transfer, PayloadsNoMsuCanCarryAreRefused)
{
    Clock clock;
    Link l;
    reach(l, clock, S::worked);
    test::Capture errors(std::cerr);
    // Shorter would read as a FISU or an LSSU at the far end.
    for (unsigned n : {0u, 1u, 2u, 274u})
        l.send(Bytes(n, 0x03));
    EXPECT_TRUE(l.wire.frames.empty());
    EXPECT_EQ(l.slc->statistics()->bad_msu, 4u);
    EXPECT_EQ(errors.count("msu of 274 octets can't be sent"), 1u);
    // A payload without head room is copied, not refused.
    l.send(Bytes(3, 0x03));
    Packet bare = packet(Bytes(273, 0x04), 0);
    l.slc->message(bare);
    std::vector<Bytes> out = l.wire.take();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], su(127, true, 0, true, Bytes(3, 0x03)));
    EXPECT_EQ(out[1], su(127, true, 1, true, Bytes(273, 0x04)));
}

TEST(Ss7Transfer, BadUnitsAreDroppedOrCountedWithoutHarm)
{
    struct Step {
        Bytes unit;
        int state;
        std::vector<std::string> out;
        const char* what;
    };
    Bytes longer = su(127, true, 127, true);
    longer.resize(8, 0x01);
    Bytes truncated = su(127, true, 0, true, msu_payload(1, 10));
    truncated.resize(5);
    const int wk = S::worked, idle = S::idle;
    const std::vector<std::string> none, fisu{"FISU"}, sios{"SIOS"};
    const std::vector<Step> steps = {
        {longer, wk, none, "LI 0 with 5 octets after it: dropped, not cut to a FISU"},
        {truncated, wk, none, "an MSU cut short: dropped, not read as an LSSU"},
        {{0x01, 0x02}, wk, none, "too short"},
        {{0xFF, 0xFF, 0xC0}, wk, none, "spare LI bits ignored: a FISU"},
        {su(127, true, 127, true, msu_payload(1)), wk, none, "repeated MSU: dropped"},
        {su(5, true, 127, true), wk, none, "first BSN out of range: ignored"},
        {su(127, true, 127, true), wk, none, "an in-range BSN clears it"},
        {su(5, true, 127, true), wk, none, "out of range again: ignored"},
        {su(127, true, 3, true, msu_payload(1)), wk, fisu, "FSN gap: negative acknowledgement"},
        {su(127, true, 4, true, msu_payload(1)), wk, none, "FIB not yet the new BIB: dropped"},
        {su(127, true, 0, false, msu_payload(1)), wk, fisu, "retransmission starts: accepted"},
        {su(127, true, 0, true), wk, none, "unexpected FIB: noted"},
        {su(127, true, 0, true), idle, sios, "twice: out of service"},
    };
    Clock clock;
    Link l;
    reach(l, clock, S::worked);
    test::Capture errors(std::cerr);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        l.rx(s.unit);
        EXPECT_EQ(l.state(), s.state);
        EXPECT_EQ(kinds(l.wire.take()), s.out);
    }
    const SS7::SLC::Statistics* st = l.slc->statistics();
    EXPECT_EQ(st->bad_length, 3u);
    EXPECT_EQ(st->bad_seq, 1u);
    EXPECT_EQ(l.owner.delivered.size(), 1u);
    EXPECT_EQ(errors.count("invalid packet length, expected = 0, received = 5"), 1u) << errors.text();
    EXPECT_EQ(errors.count("ignore packet, length too small 01 02"), 1u) << errors.text();

    // A second BSN out of range in a row takes the link out of service, and
    // a repeated MSU's BSN is not looked at in between.
    reach(l, clock, S::worked);
    l.rx(su(9, true, 127, true));
    l.rx(su(9, true, 127, true, msu_payload(1)));
    EXPECT_EQ(l.state(), S::worked);
    l.rx(su(9, true, 127, true));
    EXPECT_EQ(l.state(), S::idle);
    // Counters go on across failures; only the RTB size follows the RTB.
    EXPECT_EQ(l.slc->statistics()->bad_length, 3u);
    EXPECT_EQ(l.slc->statistics()->msu_rx, 17u);

    // Status spare bits are ignored: 0x80 is an SIO, 0x41 an SIN; 4 (SIPO)
    // is none of those the states act on.
    Link fresh;
    fresh.rx(lssu(0x84));
    EXPECT_EQ(fresh.state(), S::idle);
    fresh.rx(lssu(0x80));
    EXPECT_EQ(fresh.state(), S::aligned);
    fresh.rx(lssu(0x41));
    EXPECT_EQ(fresh.state(), S::proving);
}
