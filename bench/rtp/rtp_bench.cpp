// RTP slots created and destroyed through the controller link, with their
// RTCP sockets and driver sessions, beside map slots (no device, no socket)
// on the same link; LEMZ packets packed and unpacked by kind, and turned
// into controller signals by a radio slot. The daemon and the controller
// share the loop's thread.

#include "bench/link_bench.h"
#include "rtp/lemz_factory.h"
#include "rtp/rtp_factory.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"
#include "standin/rtp.h"
#include "standin/rtp_ext.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>

namespace {

using bench::Link;
constexpr auto CreateRtp = &Link::CreateRtp;

LGCP::Message CreateMap(unsigned seq, int slot)
{
    LGCP::Message m = Link::Command(seq, slot);
    m.get_pdu().get_command().select_create().select_map().set_channel(5);
    return m;
}

LGCP::Message Destroy(unsigned seq, int slot)
{
    LGCP::Message m = Link::Command(seq, slot);
    m.get_pdu().get_command().select_destroy();
    return m;
}

// One create (answer and two stream signals) and one destroy per cycle;
// the descriptors and resident set compared before and after 1000 cycles.
void Cycles(benchmark::State& state, LGCP::Message (*create)(unsigned, int))
{
    // The slots' log lines would measure the terminal.
    std::ostringstream sink;
    std::streambuf* out = std::clog.rdbuf(sink.rdbuf());
    {
        Link link;
        RtpFactory::instance(); // asks the simulated voice driver for its codecs
        unsigned seq = 0;
        auto& driver = link.board.Get<Standin::Rtp>("/dev/rtp");
        auto& dtmf = link.board.Get<Standin::Dtmf>("/dev/dtmf");
        auto& dsp = link.board.Get<Standin::Dsproc>("/dev/dsp");
        auto cycle = [&] {
            // The stand-ins' own records of requests, not the daemon's.
            driver.ClearLog();
            dtmf.ClearCodes();
            dsp.ClearCodes();
            return link.Exchange(create(++seq, 5), 3) && link.Exchange(Destroy(++seq, 5), 1);
        };
        cycle(); // the tone and DSP services open their devices once
        bench::Measure(state, link, sink, cycle);
    }
    std::clog.rdbuf(out);
}

void BM_RtpCreateDestroy(benchmark::State& state)
{
    Cycles(state, CreateRtp);
}
BENCHMARK(BM_RtpCreateDestroy)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_MapCreateDestroy(benchmark::State& state)
{
    Cycles(state, CreateMap);
}
BENCHMARK(BM_MapCreateDestroy)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One packet of each kind, packed then unpacked.
sig_proto Sample(uint32_t kind)
{
    sig_proto p;
    sig_proto_init(&p);
    p.type = kind;
    sig_proto_set_base(&p, 3, 1, 1, 0, 1, 0, 0, 1, 0, 0, 2, 300);
    in_addr a{};
    a.s_addr = htonl(0x0A010203);
    sig_proto_set_gw_adjust_chan(&p, 12, 145.5f);
    if (kind == GW_SEL_CALL)
        sig_proto_set_gw_selcall(&p, "123456789", 9);
    if (kind == WM_TRANS)
        sig_proto_set_wm_transmite(&p, a, 0x01020304);
    if (kind == WM_CHAN)
        sig_proto_set_wm_chan(&p, 12, 145.5f, 2, 5);
    if (kind == WM_SEL_CALL_TRANS)
        sig_proto_set_wm_selcall_transmite(&p, a, 7, "123456789", 9);
    if (kind == WM_STANDBY)
        sig_proto_set_wm_standby(&p, 1, 4, 0);
    return p;
}

void BM_LemzPack(benchmark::State& state)
{
    sig_proto p = Sample(static_cast<uint32_t>(state.range(0)));
    unsigned char buf[1024];
    for (auto _ : state) {
        int32_t n = sig_proto_pack(&p, buf, 64);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buf);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_LemzUnpack(benchmark::State& state)
{
    sig_proto p = Sample(static_cast<uint32_t>(state.range(0)));
    unsigned char buf[64];
    int32_t n = sig_proto_pack(&p, buf, sizeof buf);
    sig_proto out;
    for (auto _ : state) {
        int32_t r = sig_proto_unpack(&out, buf, static_cast<size_t>(n));
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void Kinds(benchmark::internal::Benchmark* b)
{
    for (int kind : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 129, 130, 131, 132, 133, 134, 135})
        b->Arg(kind);
}
BENCHMARK(BM_LemzPack)->Apply(Kinds);
BENCHMARK(BM_LemzUnpack)->Apply(Kinds);

LGCP::Message CreateLemz(unsigned seq, int slot)
{
    LGCP::Message m = CreateRtp(seq, slot);
    m.get_pdu().get_command().get_create().get_rtp().get_codecRTP().set_radio().get_status().select_lemz();
    return m;
}

// Packets from the network through one LEMZ slot to the controller: each
// from another sender than the one before, so none is coalesced.
void BM_LemzPacketToSignal(benchmark::State& state)
{
    std::ostringstream sink;
    std::streambuf* out = std::clog.rdbuf(sink.rdbuf());
    {
        Link link;
        RtpLEMZFactory::instance();
        link.Exchange(CreateLemz(1, 5), 3);
        auto& ext = link.board.Get<Standin::RtpExt>("/dev/rtp_ext");
        sig_proto p = Sample(GW_FLAG_PTT);
        Standin::Frame packet(8);
        sig_proto_pack(&p, packet.data(), packet.size());
        in_addr from{};
        uint32_t n = 0;
        for (auto _ : state) {
            from.s_addr = htonl(0x0A000001 + (n++ & 1));
            ext.Receive(packet, from, n);
            if (!link.Wait(1)) {
                state.SkipWithError("no signal");
                break;
            }
            // The slot's refresh packets are the stand-in's to keep.
            link.board.Pump();
            for (auto* s : ext.Sessions())
                s->written.clear();
        }
        state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    }
    std::clog.rdbuf(out);
}
BENCHMARK(BM_LemzPacketToSignal)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
