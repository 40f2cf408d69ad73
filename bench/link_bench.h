#pragma once

// The daemon's controller link on a simulated board, with a test
// controller, both on the loop's thread; and the process's descriptors and
// resident set, for the benchmarks that cycle slots through the link.
// The caller makes the slot factories it needs.

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
#include "samples/link/loop_driver.h"
#include "samples/link/process.h"
#include "samples/link/tpkt_client.h"
#include "standin/board.h"

#include <benchmark/benchmark.h>

#include <netinet/in.h>

#include <csignal>
#include <sstream>

namespace bench {

using test::OpenDescriptors;
using test::RssKiB;

class Link {
public:
    Link()
    {
        ::signal(SIGPIPE, SIG_IGN);
        HwMux::instance().Open();
        MapFactory::instance();
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
        return Wait(frames);
    }
    // Waits for `frames` frames from the daemon.
    bool Wait(size_t frames)
    {
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
    // An A-law RTP slot sending to 127.0.0.1:7000.
    static LGCP::Message CreateRtp(unsigned seq, int slot)
    {
        LGCP::Message m = Command(seq, slot);
        LGCP::CreateRtpParams& rtp = m.get_pdu().get_command().select_create().select_rtp();
        rtp.get_codecRTP().get_payload() = TERM::Payload::ptG711_Alaw;
        rtp.get_codecRTP().get_dhost().get_iaddr().assign("127.0.0.1");
        rtp.get_codecRTP().get_dhost().get_port() = 7000;
        rtp.get_txPayload() = TERM::Payload::ptG711_Alaw;
        rtp.get_rxPayload() = TERM::Payload::ptG711_Alaw;
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

// Runs the cycle as the benchmark's iterations and 1000 times more, and
// reports the growth of descriptors and resident set from before the first
// iteration. The log sink is emptied after each cycle; the first cycle has
// run before (the devices a kind keeps open are open).
template <class Cycle>
void Measure(benchmark::State& state, Link& link, std::ostringstream& sink, Cycle cycle)
{
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

} // namespace bench
