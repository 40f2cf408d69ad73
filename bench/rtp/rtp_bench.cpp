// RTP slots created and destroyed through the controller link, with their
// RTCP sockets and driver sessions, beside map slots (no device, no socket)
// on the same link. The daemon and the controller share the loop's thread.

#include "asn1/coder_env.h"
#include "board/hw_mux.h"
#include "core/ctrl_srv.h"
#include "core/heartbeat.h"
#include "core/slots.h"
#include "core/slots_service.h"
#include "core/trunk_slot.h"
#include "framework/dpc.h"
#include "framework/multiplexer.h"
#include "protocol/lgcp.h"
#include "rtp/rtp_factory.h"
#include "standin/board.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"
#include "standin/rtp.h"
#include "tests/core/loop_driver.h"
#include "tests/core/tpkt_client.h"

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <netinet/in.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>

namespace {

size_t OpenDescriptors()
{
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

long RssKiB()
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    std::fclose(f);
    return kib;
}

class Link {
public:
    Link()
    {
        ::signal(SIGPIPE, SIG_IGN);
        HwMux::instance().Open();
        MapFactory::instance();
        RtpFactory::instance();
        server.Bind(heartbeat);
        server.Bind(slots);
        server.Listen(0, htonl(INADDR_LOOPBACK));
        client.Connect(server.port());
        loop.RunUntil([&] { return server.IsConnected(); });
        mCheck.Bind(this, &Link::Check);
    }
    ~Link()
    {
        client.Close();
        server.Close();
        Slots::instance().Clear();
        HwMux::instance().Close();
    }

    // Sends the command and waits for `frames` frames back.
    bool Exchange(LGCP::Message const& m, size_t frames)
    {
        test::Octets octets;
        env.encodePER(m, octets);
        client.Send(octets);
        mWanted = frames;
        mGot = 0;
        // Checked on every pass of the loop, so no timer tick is measured.
        mCheck.Activate();
        multiplexer.run(false, true);
        return mGot == frames;
    }

    static LGCP::Message Command(unsigned seq, int slot)
    {
        LGCP::Message m;
        m.set_seq(seq);
        m.set_slot(static_cast<unsigned>(slot));
        m.get_pdu().select_command();
        return m;
    }

    Standin::Board board;
    CtrlSrv::Server server;
    CtrlSrv::Heartbeat heartbeat{600000};
    SlotsService slots;
    test::LoopDriver loop;
    test::TpktClient client;
    ASN1::CoderEnv env;

private:
    void Check()
    {
        test::Octets payload;
        while (mGot < mWanted && client.Take(payload))
            ++mGot;
        if (mGot == mWanted || client.Closed()) {
            mCheck.Deactivate();
            multiplexer.terminate();
        }
    }

    Dpc mCheck;
    size_t mWanted = 0;
    size_t mGot = 0;
};

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
        link.board.Prune();
        size_t fds = OpenDescriptors();
        long rss = RssKiB();
        for (auto _ : state) {
            if (!cycle()) {
                state.SkipWithError("no answer");
                break;
            }
            sink.str("");
        }
        for (int i = 0; i < 1000; ++i) {
            cycle();
            sink.str("");
        }
        link.board.Prune();
        state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
        state.counters["fd_growth"] = double(OpenDescriptors()) - double(fds);
        state.counters["rss_growth_KiB"] = double(RssKiB() - rss);
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
