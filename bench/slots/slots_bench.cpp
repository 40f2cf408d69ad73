// Mixer slots created, connected and destroyed through the controller link,
// beside the same cycle on map slots (no device); the descriptors and
// resident set compared before and after 1000 cycles.

#include "bench/link_bench.h"
#include "slots/mixer.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"
#include "standin/mixer.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>

namespace {

using bench::Link;

LGCP::Message Create(unsigned seq, int slot, void (*fill)(LGCP::CreateParams&))
{
    LGCP::Message m = Link::Command(seq, slot);
    fill(m.get_pdu().get_command().select_create());
    return m;
}

LGCP::Message Connect(unsigned seq, int source, int receiver)
{
    LGCP::Message m = Link::Command(seq, source);
    m.get_pdu().get_command().select_connect().push_back(
        ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u>(static_cast<unsigned>(receiver)));
    return m;
}

LGCP::Message Destroy(unsigned seq, int slot)
{
    LGCP::Message m = Link::Command(seq, slot);
    m.get_pdu().get_command().select_destroy();
    return m;
}

// The two slots of a cycle and the frames each create answers with.
struct Kind {
    void (*source)(LGCP::CreateParams&);
    void (*receiver)(LGCP::CreateParams&);
    size_t frames;
};

// An output on channel 5, and an input on channel 6 adding itself to it.
const Kind kMixer{[](LGCP::CreateParams& p) {
                      auto& out = p.select_mixerOut();
                      out.set_unit(0);
                      out.get_channel().select_tdm() = 5;
                  },
                  [](LGCP::CreateParams& p) {
                      auto& in = p.select_mixerIn();
                      in.set_unit(0);
                      in.get_channel().select_tdm() = 6;
                      in.set_summator().select_tdm() = 5;
                  },
                  1};
const Kind kMap{[](LGCP::CreateParams& p) { p.select_map().set_channel(5); },
                [](LGCP::CreateParams& p) { p.select_map().set_channel(6); }, 3};

// One cycle: both slots made, fed from and feeding the map slots 1 and 2,
// connected to each other's partners, and destroyed: six commands.
void Cycles(benchmark::State& state, const Kind& kind)
{
    // The slots' log lines would measure the terminal.
    std::ostringstream sink;
    std::streambuf* out = std::clog.rdbuf(sink.rdbuf());
    {
        Link link;
        Mixer::MixerFactory::instance();
        auto& mixer = link.board.Get<Standin::Mixer>("/dev/mixer");
        auto& dtmf = link.board.Get<Standin::Dtmf>("/dev/dtmf");
        auto& dsp = link.board.Get<Standin::Dsproc>("/dev/dsp");
        unsigned seq = 0;
        LGCP::Message query = Link::Command(++seq, 0);
        query.get_pdu().get_command().select_query();
        bool ready = link.Exchange(query, 2)
                     && link.Exchange(Create(++seq, 1, [](LGCP::CreateParams& p) { p.select_map().set_channel(100); }), 3)
                     && link.Exchange(Create(++seq, 2, [](LGCP::CreateParams& p) { p.select_map().set_channel(101); }), 3);
        auto cycle = [&] {
            // The stand-ins' own records of requests, not the daemon's.
            mixer.Take();
            dtmf.ClearCodes();
            dsp.ClearCodes();
            return link.Exchange(Create(++seq, 10, kind.source), kind.frames)
                   && link.Exchange(Create(++seq, 11, kind.receiver), kind.frames)
                   && link.Exchange(Connect(++seq, 1, 11), 1) && link.Exchange(Connect(++seq, 10, 2), 1)
                   && link.Exchange(Destroy(++seq, 11), 1) && link.Exchange(Destroy(++seq, 10), 1);
        };
        if (!ready || !cycle()) { // the tone and DSP services open their devices once
            state.SkipWithError("no answer");
        } else {
            bench::Measure(state, link, sink, cycle);
            state.counters["commands/s"] = benchmark::Counter(6.0 * static_cast<double>(state.iterations()),
                                                              benchmark::Counter::kIsRate);
        }
    }
    std::clog.rdbuf(out);
}

void BM_MixerCycle(benchmark::State& state)
{
    Cycles(state, kMixer);
}
BENCHMARK(BM_MixerCycle)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_MapCycle(benchmark::State& state)
{
    Cycles(state, kMap);
}
BENCHMARK(BM_MapCycle)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
