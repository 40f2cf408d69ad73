// Layer-3 messages through two LAPD links joined back to back (user and
// network side), each message acknowledged, at 3, 64 and 260 octets; and
// the cost of retransmitting a full window of 7 after T200. Beside each,
// libosmocore's LAPD core on the same workload in the same run.
#include "signalling/lapd.h"

#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "samples/lapd/osmo_peer.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
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

} // namespace
