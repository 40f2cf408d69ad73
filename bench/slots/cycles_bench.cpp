// Slots of the kinds that drive the stand-in board hardest, created and
// destroyed through the controller link 10,000 times each, with nothing of
// the stand-ins' records cleared in between: the resident set must stay
// flat. A warm-up first fills what is bounded (the records of recent
// requests, the allocator's pools).

#include "bench/link_bench.h"
#include "rtp/ed137_factory.h"
#include "rtp/lemz_factory.h"
#include "rtp/rtp_factory.h"
#include "slots/mixer.h"
#include "slots/modem_factory.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>

namespace {

using bench::Link;

constexpr int kWarmUp = 10000;

LGCP::Command& Body(LGCP::Message& m)
{
    return m.get_pdu().get_command();
}

LGCP::Message Lemz(unsigned seq, int slot)
{
    LGCP::Message m = Link::CreateRtp(seq, slot);
    Body(m).get_create().get_rtp().get_codecRTP().set_radio().get_status().select_lemz();
    return m;
}

LGCP::Message Ed137(unsigned seq, int slot)
{
    LGCP::Message m = Link::CreateRtp(seq, slot);
    Body(m).get_create().get_rtp().get_codecRTP().set_radio().get_status().select_ed_137().get_header().set_ptt_id(9);
    return m;
}

LGCP::Message Destroy(unsigned seq, int slot)
{
    LGCP::Message m = Link::Command(seq, slot);
    Body(m).select_destroy();
    return m;
}

enum Kind { kRtp, kLemz, kEd137, kMixer, kModem };

void BM_CreateDestroyWithoutClearing(benchmark::State& state)
{
    // The slots' log lines would measure the terminal.
    std::ostringstream sink;
    std::streambuf* out = std::clog.rdbuf(sink.rdbuf());
    std::streambuf* err = std::cerr.rdbuf(sink.rdbuf());
    {
        Link link;
        // In the daemon's order; the service never takes a running daemon's port.
        ModemFactory::SetAuthPort(0);
        RtpFactory::instance();
        ModemFactory::instance();
        Mixer::MixerFactory::instance();
        RtpLEMZFactory::instance();
        RtpED137Factory::instance();
        unsigned seq = 0;
        LGCP::Message query = Link::Command(++seq, 0);
        Body(query).select_query();
        LGCP::Message map = Link::Command(++seq, 1);
        Body(map).select_create().select_map().set_channel(100);
        bool ready = link.Exchange(query, 2) && link.Exchange(map, 3);

        const Kind kind = static_cast<Kind>(state.range(0));
        auto create = [&](int slot, size_t frames, void (*fill)(LGCP::CreateParams&)) {
            LGCP::Message m = Link::Command(++seq, slot);
            fill(Body(m).select_create());
            return link.Exchange(m, frames);
        };
        auto cycle = [&]() -> bool {
            switch (kind) {
            case kRtp:
                return link.Exchange(Link::CreateRtp(++seq, 5), 3) && link.Exchange(Destroy(++seq, 5), 1);
            case kLemz:
                return link.Exchange(Lemz(++seq, 5), 3) && link.Exchange(Destroy(++seq, 5), 1);
            case kEd137:
                return link.Exchange(Ed137(++seq, 5), 3) && link.Exchange(Destroy(++seq, 5), 1);
            case kMixer:
                // An output, and an input adding itself to it.
                return create(10, 1,
                              [](LGCP::CreateParams& p) {
                                  auto& o = p.select_mixerOut();
                                  o.set_unit(0);
                                  o.get_channel().select_tdm() = 5;
                              })
                       && create(11, 1,
                                 [](LGCP::CreateParams& p) {
                                     auto& in = p.select_mixerIn();
                                     in.set_unit(0);
                                     in.get_channel().select_tdm() = 6;
                                     in.set_summator().select_tdm() = 5;
                                 })
                       && link.Exchange(Destroy(++seq, 11), 1) && link.Exchange(Destroy(++seq, 10), 1);
            case kModem: {
                // A fax originate modem, allocated and programmed on connect.
                bool made = create(10, 1, [](LGCP::CreateParams& p) {
                    TERM::ModemParams& modem = p.select_modem();
                    modem.set_cid("");
                    modem.set_cdid("");
                    modem.set_fax();
                    modem.set_originate();
                });
                LGCP::Message connect = Link::Command(++seq, 10);
                Body(connect).select_connect().push_back(
                    ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u>(1u));
                return made && link.Exchange(connect, 3) && link.Exchange(Destroy(++seq, 10), 1);
            }
            }
            return false;
        };
        for (int i = 0; ready && i < kWarmUp; ++i) {
            ready = cycle();
            sink.str("");
        }
        if (!ready)
            state.SkipWithError("no answer");
        else
            bench::Measure(state, link, sink, cycle);
    }
    std::cerr.rdbuf(err);
    std::clog.rdbuf(out);
}
// 10,000 measured cycles and the 1000 that Measure adds.
BENCHMARK(BM_CreateDestroyWithoutClearing)
    ->ArgName("rtp-lemz-ed137-mixer-modem")
    ->DenseRange(kRtp, kModem)
    ->Iterations(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace
