// Layer-3 messages through two LAPD links joined back to back (user and
// network side), each message acknowledged, at 3, 64 and 260 octets; the
// cost of retransmitting a full window of 7 after T200; and a run over a
// slow D channel that loses frames. Beside each, libosmocore's LAPD core
// on the same workload in the same run.
#include "signalling/lapd.h"
#include "signalling/lapd_nt.h"

#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "samples/lapd/osmo_peer.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Channel : GenericHDLC
{
    bool hdlc_transmit(Packet& frame) override
    {
        const Packet& f = frame;
        frames.emplace_back(&f[0], &f[0] + f.length());
        return true;
    }
    bool is_open() const override { return true; }
    bool is_ready() const override { return true; }
    std::vector<Bytes> frames;
};

struct Owner : ProtocolsList
{
    void list_on_message(Packet&) override { ++delivered; }
    unsigned delivered = 0;
};

uint64_t clock_ms = 5000000;

void advance(unsigned ms)
{
    clock_ms += ms;
    Mux::g_tv_mono = Mux::timeval(int(clock_ms / 1000), int(clock_ms % 1000 * 1000));
    multiplexer.timers_schedule();
}

struct OurPair
{
    OurPair()
    {
        Mux::g_tv_mono = Mux::timeval(int(clock_ms / 1000), 0);
        for (int i = 0; i < 2; ++i) {
            link[i] = new ISDN::LAPD(ISDN::Side::user, 0);
            link[i]->set_side(i ? ISDN::Side::network : ISDN::Side::user);
            link[i]->hdlc(&channel[i]);
            owner[i].add_protocol_tail(link[i]);
        }
        link[0]->activate();
        pump();
    }
    ~OurPair() { Mux::mux_cleartimeofday(); }
    void pump()
    {
        for (bool moved = true; moved;) {
            moved = false;
            for (int i = 0; i < 2; ++i) {
                std::vector<Bytes> frames;
                frames.swap(channel[i].frames);
                for (Bytes const& f : frames) {
                    moved = true;
                    Packet p;
                    p.reserve_head(ISDN::lapd_head_room);
                    std::memcpy(p.put(unsigned(f.size())), f.data(), f.size());
                    link[1 - i]->receive(p);
                }
            }
        }
    }
    void send(Bytes const& m)
    {
        Packet p;
        link[0]->prepare_head(p);
        std::memcpy(p.put(unsigned(m.size())), m.data(), m.size());
        link[0]->message(p);
    }
    Channel channel[2];
    Owner owner[2];
    ISDN::LAPD* link[2];
};

struct OsmoPair
{
    OsmoPair() : user(LAPD_MODE_USER, "user"), net(LAPD_MODE_NETWORK, "network")
    {
        osmopeer::clock_start();
        user.establish();
        pump();
    }
    void pump()
    {
        for (bool moved = true; moved;) {
            moved = false;
            for (osmopeer::Peer* from : {&user, &net}) {
                osmopeer::Peer& to = from == &user ? net : user;
                std::vector<Bytes> frames;
                frames.swap(from->sent);
                for (Bytes const& f : frames) {
                    moved = true;
                    to.receive(f.data(), f.size());
                }
            }
        }
        net.messages.clear();
    }
    osmopeer::Peer user, net;
};

Bytes message(size_t size)
{
    Bytes m(size, 0x5A);
    m[0] = 0x08;
    return m;
}

void BM_LapdMessages(benchmark::State& state)
{
    OurPair w;
    Bytes m = message(size_t(state.range(0)));
    for (auto _ : state) {
        w.send(m);
        w.pump();
    }
    if (w.owner[1].delivered != state.iterations())
        state.SkipWithError("messages lost");
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_LapdMessages)->Arg(3)->Arg(64)->Arg(260);

void BM_OsmoLapdMessages(benchmark::State& state)
{
    OsmoPair w;
    Bytes m = message(size_t(state.range(0)));
    size_t delivered = 0;
    for (auto _ : state) {
        w.user.send(m.data(), m.size());
        for (bool moved = true; moved;) {
            moved = false;
            for (osmopeer::Peer* from : {&w.user, &w.net}) {
                osmopeer::Peer& to = from == &w.user ? w.net : w.user;
                std::vector<Bytes> frames;
                frames.swap(from->sent);
                for (Bytes const& f : frames) {
                    moved = true;
                    to.receive(f.data(), f.size());
                }
            }
        }
        delivered += w.net.messages.size();
        w.net.messages.clear();
    }
    if (delivered != size_t(state.iterations()))
        state.SkipWithError("messages lost");
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_OsmoLapdMessages)->Arg(3)->Arg(64)->Arg(260);

// Seven frames sent and lost; T200 runs out, the enquiry's answer brings
// back all seven, which the peer then acknowledges.
void BM_LapdRetransmitWindow(benchmark::State& state)
{
    OurPair w;
    Bytes m = message(64);
    for (auto _ : state) {
        for (int i = 0; i < 7; ++i)
            w.send(m);
        w.channel[0].frames.clear();
        advance(ISDN::LAPD::T200);
        w.pump();
    }
    if (w.owner[1].delivered != 7 * state.iterations() || w.link[0]->unacknowledged())
        state.SkipWithError("window not recovered");
    state.SetItemsProcessed(int64_t(state.iterations()) * 7);
}
BENCHMARK(BM_LapdRetransmitWindow);

void BM_OsmoLapdRetransmitWindow(benchmark::State& state)
{
    OsmoPair w;
    Bytes m = message(64);
    size_t delivered = 0;
    for (auto _ : state) {
        for (int i = 0; i < 7; ++i)
            w.user.send(m.data(), m.size());
        w.user.sent.clear();
        osmopeer::clock_advance(1000);
        for (bool moved = true; moved;) {
            moved = false;
            for (osmopeer::Peer* from : {&w.user, &w.net}) {
                osmopeer::Peer& to = from == &w.user ? w.net : w.user;
                std::vector<Bytes> frames;
                frames.swap(from->sent);
                for (Bytes const& f : frames) {
                    moved = true;
                    to.receive(f.data(), f.size());
                }
            }
        }
        delivered += w.net.messages.size();
        w.net.messages.clear();
    }
    if (delivered != 7 * size_t(state.iterations()))
        state.SkipWithError("window not recovered");
    state.SetItemsProcessed(int64_t(state.iterations()) * 7);
}
BENCHMARK(BM_OsmoLapdRetransmitWindow);

// Our user side or our BRI network side as one end of a lossy run.
struct OurEnd : ProtocolsList, lapdwire::End
{
    explicit OurEnd(bool network)
    {
        if (network) {
            nt = new ISDN::LAPD_NT;
            nt->hdlc(&channel);
            add_protocol_tail(nt);
        } else {
            link = new ISDN::LAPD(ISDN::Side::user, 0);
            link->hdlc(&channel);
            add_protocol_tail(link);
        }
    }
    std::vector<Bytes> take_frames() override
    {
        std::vector<Bytes> f;
        f.swap(channel.frames);
        return f;
    }
    void on_frame(Bytes const& f) override
    {
        Packet p;
        p.reserve_head(ISDN::lapd_head_room);
        std::memcpy(p.put(unsigned(f.size())), f.data(), f.size());
        bottom_protocol()->receive(p);
    }
    void offer(Bytes const& m) override
    {
        Packet p;
        bottom_protocol()->prepare_head(p);
        std::memcpy(p.put(unsigned(m.size())), m.data(), m.size());
        bottom_protocol()->message(p);
    }
    unsigned waiting() const override { return link ? link->queued() : sum(&ISDN::LAPD_NT_user::waiting); }
    unsigned outstanding() const override
    {
        return link ? link->unacknowledged() : sum(&ISDN::LAPD_NT_user::outstanding);
    }
    unsigned sum(unsigned (ISDN::LAPD_NT_user::*count)() const) const
    {
        unsigned n = 0;
        for (unsigned i = 0; i < ISDN::LAPD_NT::users; ++i)
            n += (nt->user(i).*count)();
        return n;
    }
    void list_on_message(Packet& p) override
    {
        const Packet& c = p;
        messages.emplace_back(&c[0], &c[0] + c.length());
    }

    Channel channel;
    ISDN::LAPD* link = nullptr;
    ISDN::LAPD_NT* nt = nullptr;
};

// 200 messages each way at 16 kbit/s with a 500 ms transmit queue, one frame
// in twelve lost each way, a seed per run: the frames sent, the seconds the
// run took on its clock and the messages lost, each per run. Arg 0: our
// user side against libosmocore as network; 1: our BRI network side against
// it as terminal; 2: libosmocore at both ends.
void BM_LapdLossyRun(benchmark::State& state)
{
    double frames = 0, seconds = 0, lost = 0;
    unsigned seed = 0;
    for (auto _ : state) {
        Mux::g_tv_mono = Mux::timeval(int(clock_ms / 1000), 0);
        osmopeer::clock_start();
        const int kind = int(state.range(0));
        std::unique_ptr<lapdwire::End> a;
        if (kind == 2)
            a.reset(new osmopeer::Peer(LAPD_MODE_USER));
        else
            a.reset(new OurEnd(kind == 1));
        osmopeer::Peer b(kind == 1 ? LAPD_MODE_USER : LAPD_MODE_NETWORK);
        lapdwire::Run run(*a, b, [](unsigned ms) {
            osmopeer::clock_advance(ms);
            advance(ms);
        });
        if (kind == 2)
            static_cast<osmopeer::Peer&>(*a).establish();
        else if (kind == 0)
            static_cast<OurEnd&>(*a).link->activate();
        else {
            static_cast<OurEnd&>(*a).nt->activate();
            a->on_frame({0xFC, 0xFF, 0x03, 0x0F, 0x01, 0x00, 0x01, 0xFF}); // identity request
            run.pump();
            b.offer(lapdwire::message(0, false)); // its call reference
        }
        run.pump();
        a->messages.clear();
        run.frames = 0;
        run.ab = run.ba = lapdwire::Line(16000, 500);
        std::mt19937 rng(++seed);
        run.ab.lose = run.ba.lose = [&rng](Bytes const&) { return rng() % 12 == 0; };
        uint64_t start = run.now;
        run.exchange(200);
        frames += run.frames;
        seconds += double(run.now - start) / 1e6;
        lost += 400.0 - double(a->messages.size() + b.messages.size());
        Mux::mux_cleartimeofday();
    }
    state.counters["frames"] = benchmark::Counter(frames, benchmark::Counter::kAvgIterations);
    state.counters["seconds"] = benchmark::Counter(seconds, benchmark::Counter::kAvgIterations);
    state.counters["lost"] = benchmark::Counter(lost, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_LapdLossyRun)->Arg(0)->Arg(1)->Arg(2)->Iterations(20);

} // namespace
