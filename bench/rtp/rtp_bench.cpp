// RTP slots created and destroyed through the controller link, with their
// RTCP sockets and driver sessions, beside map slots (no device, no socket)
// on the same link. The daemon and the controller share the loop's thread.

#include "bench/link_bench.h"
#include "rtp/rtp_factory.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"
#include "standin/rtp.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>

namespace {

using bench::Link;

LGCP::Message CreateRtp(unsigned seq, int slot)
{
    LGCP::Message m = Link::Command(seq, slot);
    LGCP::CreateRtpParams& rtp = m.get_pdu().get_command().select_create().select_rtp();
    rtp.get_codecRTP().get_payload() = TERM::Payload::ptG711_Alaw;
    rtp.get_codecRTP().get_dhost().get_iaddr().assign("127.0.0.1");
    rtp.get_codecRTP().get_dhost().get_port() = 7000;
    rtp.get_txPayload() = TERM::Payload::ptG711_Alaw;
    rtp.get_rxPayload() = TERM::Payload::ptG711_Alaw;
    return m;
}

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

} // namespace

BENCHMARK_MAIN();
