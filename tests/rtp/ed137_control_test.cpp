// The ED-137 gateway control on the simulated extension driver and a manual
// clock: keep-alives, link supervision, receive bursts and their
// de-duplication, commands on the wire, and the mapping to the controller's
// types.
#include "asn1/coder_env.h"
#include "board/device.h"
#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "protocol/term.h"
#include "rtp/ed137_control.h"
#include "tests/rtp/radio_rig.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <iterator>
#include <memory>
#include <vector>

namespace {

using namespace RTPSignalling;
using namespace radiotest;

// A TX-form packet as a workstation sends it.
Frame Tx(uint32_t ptt, uint32_t ptt_id = 0)
{
    r2s_proto p;
    r2s_proto_init(&p, kR2sTx);
    r2s_proto_set_tx_header(&p, ptt, ptt_id, 0, 0);
    Frame f(64);
    f.resize(static_cast<size_t>(r2s_proto_pack(&p, f.data(), f.size())));
    return f;
}

struct GW : ED137RadioGWControl {
    using ED137RadioGWControl::ED137RadioGWControl;
    using ED137RadioGWControl::OnRtpExtEvent;
};

TERM::ED137RadioHeader Header(int ptt, int squ, unsigned id = 0)
{
    TERM::ED137RadioHeader h;
    h.get_ptt().setFromInt(ptt);
    h.get_squ().setFromInt(squ);
    h.set_ptt_id(id);
    return h;
}

TERM::RadioModifier TxCommand(int ptt, int squ, unsigned id)
{
    TERM::RadioModifier m;
    auto& ed = m.select_ed_137();
    ed.get_addr().set_session_addr("10.0.0.9");
    ed.get_addr().set_session_ssrc(99);
    ed.get_params().select_tx().set_header(Header(ptt, squ, id));
    return m;
}

TERM::RadioStatus RxStatus(int squ, int method, unsigned quality)
{
    TERM::RadioStatus s;
    auto& ed = s.select_ed_137();
    ed.set_header(Header(0, squ));
    ed.set_sqi().get_bss_method().setFromInt(method);
    ed.get_sqi().set_bss_quality(quality);
    return s;
}

// The loop's clock held by the test; its millisecond count is the low 32
// bits of `ms`.
void SetClock(uint64_t ms)
{
    Mux::g_tv_mono = Mux::timeval(static_cast<int>(ms / 1000), static_cast<int>(ms % 1000 * 1000));
}

class ED137ControlTest : public ::testing::Test, public ExtRig {
protected:
    void TearDown() override { Mux::mux_cleartimeofday(); }
    // A control made at t0 with the default settings and its timer running.
    void Make(uint64_t t0, uint32_t keepalive_count = 10)
    {
        now = t0;
        SetClock(now);
        rtp = Fd(Device::Open("/dev/rtp", O_RDONLY));
        rtp_ext_init_params init{};
        init.etype = 0x0167;
        init.keepalive_count = keepalive_count;
        init.sigtime_factor = 1;
        ctl = std::make_unique<GW>(7, rtp_ext_attach_session_params{rtp.lowlevel_fd(), -1}, init);
        ctl->Bind(&reports);
        ctl->SetTimerInterval(1000);
        ctl->SetTimerEnable(true);
    }
    // Moves the clock on and runs the timers that fell due.
    void Advance(uint32_t ms)
    {
        now += ms;
        SetClock(now);
        multiplexer.timers_schedule();
    }
    void Receive(std::vector<Frame> const& packets, const char* from = "10.0.0.5", uint32_t ssrc = 5)
    {
        Queue(packets, from, ssrc);
        ctl->OnRtpExtEvent(ctl->ext_fd(), POLLIN);
    }

    std::unique_ptr<GW> ctl;
    uint64_t now = 0;
};

// Keep-alives once an interval; 151 from two intervals of silence on, on
// every run, until a packet comes; across the wrap of the 32-bit clock.
TEST_F(ED137ControlTest, KeepAliveEveryIntervalAndLinkLossAfterSilence)
{
    for (uint64_t t0 : {5000ull, 0xFFFFF800ull}) {
        reports = Reports();
        Make(t0);
        Written();
        Advance(999);
        EXPECT_TRUE(Written().empty()) << t0;
        Advance(1);
        EXPECT_EQ(Written(), (std::vector<Frame>{{0, 0, 0, 0}})) << t0;
        EXPECT_TRUE(reports.codes.empty()) << t0;
        Advance(1000);
        EXPECT_EQ(Written().size(), 1u) << t0;
        EXPECT_EQ(reports.codes, std::vector<int>{kR2sLinkLost}) << t0;
        Advance(1000);
        EXPECT_EQ(reports.codes.size(), 2u) << t0;
        // A sign of life ends the reports; a packet that does not decode
        // is none.
        Receive({{0x20}});
        EXPECT_EQ(ctl->statistics().unpackError, kR2sShort);
        Advance(1000);
        EXPECT_EQ(reports.codes.size(), 3u) << t0;
        Receive({Tx(0)});
        Advance(1000);
        EXPECT_EQ(reports.codes.size(), 3u) << t0;
        Advance(1000);
        EXPECT_EQ(reports.codes.size(), 4u) << t0;
    }
}

// A TX command goes out in the TX form; the keep-alives after it stay RX
// headers of the same state, and the stored command is left as it was.
TEST_F(ED137ControlTest, KeepAlivesGoOnAfterATxCommand)
{
    for (uint64_t t0 : {5000ull, 0xFFFFFF00ull}) {
        Make(t0);
        Written();
        Advance(100);
        EXPECT_TRUE(ctl->SendASNToChan(TxCommand(1, 1, 5)));
        EXPECT_EQ(Written(), (std::vector<Frame>{{0x21, 0x40, 0, 0}}));
        EXPECT_EQ(ctl->sent().command, 0x2001u);
        // A TX send is no keep-alive: the clock runs from creation.
        Advance(900);
        EXPECT_EQ(Written(), (std::vector<Frame>{{0x31, 0x40, 0, 0}})) << t0;
        Advance(1000);
        EXPECT_EQ(Written(), (std::vector<Frame>{{0x31, 0x40, 0, 0}})) << t0;
        EXPECT_EQ(ctl->sent().command, 0x2001u);
        // The same command again is not repeated: the keep-alives carry it.
        EXPECT_TRUE(ctl->SendASNToChan(TxCommand(1, 1, 5)));
        EXPECT_TRUE(Written().empty());
    }
}

// A controller RX status is sent with its SQI, restarts the keep-alive
// clock, and is not written twice; with keep-alives off every one goes;
// without its session a status is refused.
TEST_F(ED137ControlTest, RxStatusRestartsTheKeepAliveClock)
{
    Make(5000);
    Written();
    Advance(300);
    EXPECT_TRUE(ctl->SendASNToChan(RxStatus(1, 3, 31)));
    EXPECT_EQ(Written(), (std::vector<Frame>{{0x10, 0x01, 0x11, 0xFB}}));
    EXPECT_TRUE(ctl->GetSQU());
    EXPECT_TRUE(ctl->SendASNToChan(RxStatus(1, 3, 31)));
    EXPECT_TRUE(Written().empty());
    // The run at 1000 ms finds 700 ms gone and comes back 310 ms later.
    Advance(700);
    EXPECT_TRUE(Written().empty());
    Advance(309);
    EXPECT_TRUE(Written().empty());
    Advance(1);
    EXPECT_EQ(Written(), (std::vector<Frame>{{0x10, 0x01, 0x11, 0xFB}}));

    Make(5000, 0);
    Written();
    ctl->SendASNToChan(RxStatus(0, 0, 1));
    ctl->SendASNToChan(RxStatus(0, 0, 1));
    EXPECT_EQ(Written().size(), 2u);
    // Another radio kind is not ours; a failed write is no success.
    TERM::RadioStatus lemz;
    lemz.select_lemz();
    EXPECT_FALSE(ctl->SendASNToChan(lemz));
    ctl->RtpExtStop();
    EXPECT_FALSE(ctl->SendASNToChan(RxStatus(1, 0, 1)));
    EXPECT_NE(err.text().find("no rtp_ext session: radio status not sent"), std::string::npos);
}

// Of each run from one source only the last packet is reported; an
// unchanged state again only after an interval.
TEST_F(ED137ControlTest, BurstsAndRepeatsReachTheControllerOnce)
{
    Make(5000);
    Receive({Tx(1, 1), Tx(1, 2), Tx(1, 3)});
    ASSERT_EQ(reports.got.size(), 1u);
    auto header = [&](size_t i) -> const TERM::ED137RadioHeader& {
        return reports.got.at(i).get_request().get_ed_137().get_params().get_tx().get_header();
    };
    EXPECT_EQ(header(0).get_ptt_id().getValue(), 3u);
    EXPECT_EQ(reports.got[0].get_request().get_ed_137().get_addr().get_session_addr(), "10.0.0.5");
    EXPECT_EQ(reports.got[0].get_request().get_ed_137().get_addr().get_session_ssrc().getValue(), 5u);
    EXPECT_EQ(ctl->statistics().received, 3u);

    for (Frame const& f : {Tx(2, 4), Tx(2, 5)})
        ext.Receive(f, Address("10.0.0.5"), 5);
    ext.Receive(Tx(2, 6), Address("10.0.0.6"), 6);
    ctl->OnRtpExtEvent(ctl->ext_fd(), POLLIN);
    ASSERT_EQ(reports.got.size(), 3u);
    EXPECT_EQ(header(1).get_ptt_id().getValue(), 5u);
    EXPECT_EQ(header(2).get_ptt_id().getValue(), 6u);

    // The same state 500 ms after its report: not again; 1000 ms: again.
    SetClock(now += 500);
    Receive({Tx(2, 6)}, "10.0.0.6", 6);
    EXPECT_EQ(reports.got.size(), 3u);
    SetClock(now += 500);
    Receive({Tx(2, 6)}, "10.0.0.6", 6);
    EXPECT_EQ(reports.got.size(), 4u);

    // A radio that may not transmit takes the packets as signs of life
    // only.
    for (auto [type, mode] : {std::pair{2u, 1u}, {0u, 2u}, {1u, 0u}}) {
        ED137RadioParams p;
        p.type = type;
        p.txrxmode = mode;
        ctl->SetParams(p);
        uint32_t received = ctl->statistics().received;
        Receive({Tx(1, 9)});
        EXPECT_EQ(reports.got.size(), 4u);
        EXPECT_EQ(ctl->statistics().received, received + 1);
    }
}

// Values beyond the controller's named ones travel through the extensible
// enumerations; the source filter follows the PTT of what was sent.
TEST_F(ED137ControlTest, WideValuesReachTheControllerAndTheFilterFollowsThePtt)
{
    Make(5000);
    ASSERT_TRUE(ctl->SendASNToChan(RxStatus(0, 7, 9)));
    Receive({Tx(7, 63)});
    ASSERT_EQ(reports.got.size(), 1u);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> octets;
    ASSERT_TRUE(env.encodePER(reports.got[0], std::back_inserter(octets)));
    TERM::RtpRadioRequest back;
    ASSERT_TRUE(env.decode(octets.data(), octets.data() + octets.size(), back));
    EXPECT_EQ(back.get_request().get_ed_137().get_params().get_tx().get_header().get_ptt().asInt(), 7);
    EXPECT_EQ(back.get_status().get_ed_137().get_sqi().get_bss_method().asInt(), 7);
    EXPECT_EQ(back.get_status().get_ed_137().get_sqi().get_bss_quality().getValue(), 9u);

    EXPECT_FALSE(Session().filtered);
    ctl->SendASNToChan(TxCommand(1, 0, 2));
    EXPECT_TRUE(Session().filtered);
    EXPECT_EQ(Session().filter.s_addr, Address("10.0.0.9").s_addr);
    ctl->SendASNToChan(TxCommand(0, 0, 2));
    EXPECT_FALSE(Session().filtered);
}

} // namespace
