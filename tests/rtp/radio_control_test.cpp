// The LEMZ and ED-137 radio controls on the simulated extension driver:
// filter requests, receive bursts and their de-duplication, the access rule,
// commands on the wire, the refresh and keep-alive clocks, link supervision
// and the mapping to the controller's types.
#include "asn1/coder_env.h"
#include "board/device.h"
#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "protocol/term.h"
#include "rtp/ed137_control.h"
#include "rtp/lemz_control.h"
#include "samples/link/loop_driver.h"
#include "standin/board.h"
#include "standin/rtp_ext.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

using namespace RTPSignalling;
using Standin::Frame;

in_addr Address(const char* dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a;
}

struct Reports : RTPSignalling::IRadioControlNotify {
    void RadioControlNotify(TERM::RtpRadioRequest const& r) override { got.push_back(r); }
    void RadioControlNotify(int code) override { codes.push_back(code); }
    std::vector<TERM::RtpRadioRequest> got;
    std::vector<int> codes;
};

struct ExtRig {
    Standin::RtpExt::Session& Session() { return *ext.Sessions().at(0); }
    // Queues the packets as from one sender.
    void Queue(std::vector<Frame> const& packets, const char* from = "10.0.0.5", uint32_t ssrc = 5)
    {
        for (const Frame& f : packets)
            ASSERT_EQ(ext.Receive(f, Address(from), ssrc), 1u);
    }
    // What the control wrote since the last call.
    std::vector<Frame> Written()
    {
        board.Pump();
        std::vector<Frame> w = Session().written;
        Session().written.clear();
        return w;
    }

    Standin::Board board;
    Standin::RtpExt& ext = board.Get<Standin::RtpExt>("/dev/rtp_ext");
    Fd rtp{Device::Open("/dev/rtp", O_RDONLY)};
    Reports reports;
    test::Capture err{std::cerr};
};

Frame Packet(sig_proto const& p)
{
    Frame f(1024);
    f.resize(static_cast<size_t>(sig_proto_pack(&p, f.data(), f.size())));
    return f;
}

Frame Flags(uint32_t kind, uint32_t prio, uint32_t ptt)
{
    sig_proto p;
    sig_proto_init(&p);
    p.type = kind;
    p.priority = prio;
    p.flag_p = ptt;
    return Packet(p);
}

// The gateway control with its protected hooks in reach.
struct LemzGW : LemzRadioGWControl {
    using LemzRadioGWControl::LemzRadioGWControl;
    using LemzRadioGWControl::AccessFormChanToRadio;
    using LemzRadioGWControl::OnRtpExtEvent;
    LemzRadioState& announcedState() { return mAnnounced; }
};

TERM::RadioModifier Command(void (*fill)(TERM::LemzRadioModifierParams&), const char* from = "10.0.0.9")
{
    TERM::RadioModifier m;
    TERM::LemzRadioModifier& lemz = m.select_lemz();
    lemz.get_addr().set_session_addr(from);
    lemz.get_addr().set_session_ssrc(77);
    fill(lemz.get_params());
    return m;
}

TERM::RadioFlags PttFlags(bool ptt, int prio)
{
    TERM::RadioFlags f;
    f.set_prio(prio);
    f.set_ptt(ptt);
    f.set_sql(true);
    f.set_li(300);
    return f;
}

class LemzControlTest : public ::testing::Test, public ExtRig {
protected:
    LemzControlTest()
    {
        init.etype = 4919;
        ctl = std::make_unique<LemzGW>(7, rtp_ext_attach_session_params{rtp.lowlevel_fd(), ::getpid()}, init);
        ctl->Bind(&reports);
    }
    void Read() { ctl->OnRtpExtEvent(ctl->ext_fd(), POLLIN); }

    rtp_ext_init_params init{};
    std::unique_ptr<LemzGW> ctl;
};

TEST_F(LemzControlTest, SessionStartStopAndTheSourceFilter)
{
    ASSERT_TRUE(ctl->is_started());
    ctl->UpdateAccess(true, Address("10.0.0.1"));
    ctl->UpdateAccess(true, Address("10.0.0.1"));
    ctl->UpdateAccess(true, Address("10.0.0.2"));
    EXPECT_EQ(Session().filterRequests, 2);
    EXPECT_EQ(Session().filter.s_addr, Address("10.0.0.2").s_addr);
    ctl->UpdateAccess(false, Address("10.0.0.2"));
    ctl->UpdateAccess(false, Address("10.0.0.2"));
    EXPECT_EQ(Session().filterRequests, 3);
    EXPECT_FALSE(Session().filtered);
    // A filter the driver refused is not taken as set: the next call retries.
    board.FailRequest("/dev/rtp_ext", 0xC0084504UL, EIO);
    ctl->UpdateAccess(true, Address("10.0.0.3"));
    EXPECT_FALSE(ctl->filter_active());
    ctl->UpdateAccess(true, Address("10.0.0.3"));
    EXPECT_TRUE(Session().filtered);
    EXPECT_NE(err.text().find("set filer rtp_ext session fail !!!"), std::string::npos);

    EXPECT_TRUE(ctl->RtpExtStop());
    EXPECT_EQ(err.count("detach"), 0u);
    board.Prune();
    EXPECT_TRUE(ext.Sessions().empty());
    EXPECT_FALSE(ctl->is_started());
    // Without a session the driver refuses the filter.
    size_t said = err.text().size();
    ctl->UpdateAccess(true, Address("10.0.0.3"));
    EXPECT_NE(err.text().find("set filer rtp_ext session fail !!!", said), std::string::npos);
    // A stop then a start makes the whole session again, whose filter the
    // next call sets.
    EXPECT_TRUE(ctl->RtpExtStart(false));
    EXPECT_TRUE(Session().attached);
    ctl->UpdateAccess(true, Address("10.0.0.3"));
    EXPECT_TRUE(Session().filtered);

    // Every failing step closes what it opened.
    for (unsigned long code : {0xC0144500UL, 0xC0084501UL}) {
        ctl->RtpExtStop();
        board.FailRequest("/dev/rtp_ext", code, EINVAL);
        EXPECT_FALSE(ctl->RtpExtStart(false));
        board.Prune();
        EXPECT_TRUE(ext.Sessions().empty());
    }
    board.FailOpen("/dev/rtp_ext", ENODEV);
    EXPECT_FALSE(ctl->RtpExtStart(false));
    for (const char* line : {"init rtp_ext session fail !!!", "attach rtp_ext session fail !!!",
                             "create rtp_ext session fail !!!"})
        EXPECT_NE(err.text().find(std::string(line) + "\n"), std::string::npos) << line;
    // Without a session a command is refused, not answered as sent.
    EXPECT_FALSE(ctl->SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        p.select_wm_flags().set_flags(PttFlags(false, 1));
    })));

    // The attach-less kind opens nothing on a start without init.
    LemzRadioGWControl own(init);
    size_t opens = board.opens();
    EXPECT_TRUE(own.RtpExtStart(false));
    EXPECT_EQ(board.opens(), opens);
}

// Of a run of packets of one kind from one sender only the last is
// reported; a packet that does not unpack is skipped.
TEST_F(LemzControlTest, ReceiveBurstsAreCoalescedBySenderAndKind)
{
    struct Case {
        const char* what;
        std::vector<std::pair<Frame, const char*>> packets;
        size_t reports;
    };
    Frame bad{GW_ADJUST_CHAN, 0, 0, 0}; // too short for its kind
    std::vector<Case> cases = {
        {"kinds alternate", {{Flags(GW_FLAG, 1, 0), "10.0.0.5"}, {Flags(GW_FLAG_BSS, 1, 0), "10.0.0.5"},
                             {Flags(GW_FLAG, 1, 0), "10.0.0.5"}}, 3},
        {"two senders", {{Flags(GW_FLAG, 1, 0), "10.0.0.5"}, {Flags(GW_FLAG, 1, 0), "10.0.0.6"}}, 2},
        {"last one bad", {{Flags(GW_FLAG, 4, 0), "10.0.0.5"}, {bad, "10.0.0.5"}}, 1},
        {"all bad", {{bad, "10.0.0.5"}, {Frame{0, 0, 0, 0}, "10.0.0.5"}}, 0},
        {"same kind, same sender", {{Flags(GW_FLAG, 1, 0), "10.0.0.5"}, {Flags(GW_FLAG, 2, 0), "10.0.0.5"},
                                     {Flags(GW_FLAG, 3, 0), "10.0.0.5"}}, 1},
    };
    for (const Case& c : cases) {
        reports.got.clear();
        for (auto const& p : c.packets)
            Queue({p.first}, p.second);
        Read();
        EXPECT_EQ(reports.got.size(), c.reports) << c.what;
    }
    // Of the last case the third is the one reported.
    ASSERT_EQ(reports.got.size(), 1u);
    const TERM::LemzRadioModifier& m = reports.got[0].get_request().get_lemz();
    EXPECT_EQ(m.get_params().get_gw_set_flags().get_flags().get_prio().getValue(), 3);
    EXPECT_EQ(m.get_addr().get_session_addr(), "10.0.0.5");
    EXPECT_EQ(m.get_addr().get_session_ssrc().getValue(), 5u);
    EXPECT_EQ(ctl->statistics().received, 9u);

    // An unannounced packet is credited to nobody, not the last sender.
    reports.got.clear();
    board.FailRequest("/dev/rtp_ext", 0xC00C4503UL, EIO);
    Queue({Flags(GW_FLAG_RV, 1, 0)}, "10.0.0.8");
    Read();
    ASSERT_EQ(reports.got.size(), 1u);
    EXPECT_EQ(reports.got[0].get_request().get_lemz().get_addr().get_session_addr(), "0.0.0.0");
    EXPECT_EQ(ctl->statistics().infoErrno, EIO);
}

TEST_F(LemzControlTest, AccessRuleWhileTheChannelIsHeld)
{
    LemzRadioState& a = ctl->announcedState();
    a.ptt = 1;
    a.prio = 5;
    a.session_addr = Address("10.0.0.1").s_addr;
    struct Row {
        int32_t command, prio, ptt;
        const char* from;
        bool taken;
    } rows[] = {
        {GW_FLAG_PTT, 2, 1, "10.0.0.2", true},    // pre-emption by a higher priority
        {GW_FLAG_PTT, 5, 1, "10.0.0.2", false},   // same priority
        {GW_FLAG_PTT, 2, 0, "10.0.0.2", false},   // no push-to-talk
        {GW_ADJUST_CHAN, 0, 1, "10.0.0.2", false}, // not a push-to-talk kind
        {GW_ADJUST_CHAN, 9, 0, "10.0.0.1", true},  // the holder
        {WM_SEL_CALL_TRANS, 1, 1, "10.0.0.2", true},
    };
    for (const Row& r : rows) {
        LemzRadioState s;
        s.command = r.command;
        s.prio = r.prio;
        s.ptt = r.ptt;
        s.source_addr = Address(r.from).s_addr;
        EXPECT_EQ(ctl->AccessFormChanToRadio(s), r.taken) << r.command << " " << r.prio << " " << r.from;
    }
    a.ptt = 0;
    LemzRadioState any;
    any.command = GW_ADJUST_CHAN;
    EXPECT_TRUE(ctl->AccessFormChanToRadio(any));
}

TEST_F(LemzControlTest, CommandsBecomePacketsAndRestartTheirClock)
{
    ctl->ResetClocks(1000);
    // A transmission with push-to-talk: one WM_TRANS, clock 0 restarted,
    // the filter on the transmitting party.
    EXPECT_TRUE(ctl->SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        auto& t = p.select_wm_trans();
        t.set_flags(PttFlags(true, 3));
        t.set_ip("192.168.1.20");
        t.set_ssrc(0x01020304);
    })));
    auto w = Written();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0], (Frame{130, 0x35, 0x09, 0x60, 20, 1, 168, 192, 1, 2, 3, 4}));
    EXPECT_NE(ctl->clock(LemzRadioControl::kFlags), 1000u);
    EXPECT_EQ(ctl->clock(LemzRadioControl::kChan), 1000u);
    EXPECT_TRUE(Session().filtered);
    EXPECT_EQ(Session().filter.s_addr, Address("192.168.1.20").s_addr);
    EXPECT_TRUE(ctl->GetSQU());
    // A standby command restarts its own slot only: the next refresh repeats the other three.
    Mux::g_tv_mono = Mux::timeval(50, 0);
    ctl->ResetClocks(40000);
    EXPECT_TRUE(ctl->SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        auto& s = p.select_wm_standby();
        s.get_state_channel() = TERM::RadioStandby::active;
        s.set_group(2);
        s.get_state_receiver() = TERM::RadioStandby::standby;
    })));
    EXPECT_EQ(Written(), (std::vector<Frame>{{135, 0x35, 0x09, 0x60, 0, 2, 1, 0}}));
    ctl->ProcessRadioStatus(50500, 1000);
    Mux::mux_cleartimeofday();
    w = Written();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(std::vector<int>({w[0][0], w[1][0], w[2][0]}), std::vector<int>({WM_TRANS, WM_CHAN, WM_SELECT_RC_CHAN}));
    EXPECT_TRUE(ctl->SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        p.select_wm_quality().set_bss_val("2.5");
    })));
    w = Written();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(Frame(w[0].begin() + 4, w[0].end()), (Frame{0x40, 0x20, 0, 0})) << int(w[0][0]);
    EXPECT_EQ(w[0][0], WM_RADIO_QUALITY);

    // A gateway-kind command changes the state but sends nothing.
    EXPECT_TRUE(ctl->SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        p.select_gw_set_ptt().set_flags(PttFlags(false, 3));
    })));
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(ctl->announced().command, GW_FLAG_PTT);
    EXPECT_EQ(ctl->announced().ptt, 0);
    EXPECT_EQ(ctl->announced().li, 300);
    EXPECT_FALSE(Session().filtered);

    // A full status: no packet, no clock; another radio kind: refused.
    ctl->ResetClocks(1000);
    TERM::RadioStatus status;
    TERM::LemzRadioStatus& s = status.select_lemz();
    s.set_flags(PttFlags(false, 7));
    s.get_freq().set_frequency("145.5");
    s.set_standby_group(4);
    EXPECT_TRUE(ctl->SendASNToChan(status));
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(ctl->clock(LemzRadioControl::kFlags), 1000u);
    EXPECT_EQ(ctl->announced().prio, 7);
    EXPECT_FLOAT_EQ(ctl->announced().frequency, 145.5f);
    EXPECT_EQ(ctl->announced().standby_group, 4);
    EXPECT_EQ(ctl->announced().squelshe, -1);
    status.select_ed_137();
    EXPECT_FALSE(ctl->SendASNToChan(status));
}

TEST_F(LemzControlTest, RefreshEveryKindOnceASecondAcrossTheClockWrap)
{
    for (uint32_t t0 : {5000u, 0xFFFFFE00u}) {
        ctl->ResetClocks(t0);
        Written();
        EXPECT_EQ(ctl->ProcessRadioStatus(t0 + 1, 1000), 1009u);
        EXPECT_EQ(ctl->ProcessRadioStatus(t0 + 300, 1000), 710u);
        EXPECT_TRUE(Written().empty());
        // Flags, channel and remote radio; standby, with two of its three fields, stays unknown.
        ctl->announcedState().standby_state_channel = ctl->announcedState().standby_state_receiver = 0;
        EXPECT_EQ(ctl->ProcessRadioStatus(t0 + 1000, 1000), 1000u);
        auto w = Written();
        ASSERT_EQ(w.size(), 3u) << t0;
        EXPECT_EQ(w[0], (Frame{WM_FLAG, 0xF0, 0, 0}));
        EXPECT_EQ(w[1], (Frame{WM_CHAN, 0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0})); // squelch, RTE unknown
        EXPECT_EQ(w[2], (Frame{WM_SELECT_RC_CHAN, 0xF0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(ctl->clock(LemzRadioControl::kFlags), t0 + 1000);
        EXPECT_EQ(ctl->ProcessRadioStatus(t0 + 1500, 1000), 1000u);
        EXPECT_TRUE(Written().empty());
    }
    // A clock ahead of the time given is no age at all.
    ctl->ResetClocks(9000);
    EXPECT_EQ(ctl->ProcessRadioStatus(8000, 1000), 1000u);
    EXPECT_TRUE(Written().empty());
}

// The workstation end sends the gateway kinds and reports every packet,
// whoever holds the channel.
TEST(LemzWorkstation, SendsGatewayKindsAndTakesEveryPacket)
{
    Standin::Board board;
    auto& ext = board.Get<Standin::RtpExt>("/dev/rtp_ext");
    rtp_ext_init_params init{};
    struct WS : LemzRadioWSControl {
        using LemzRadioWSControl::LemzRadioWSControl;
        using LemzRadioWSControl::OnRtpExtEvent;
    } ws(init);
    Reports reports;
    ws.Bind(&reports);
    EXPECT_TRUE(ws.SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        auto& c = p.select_gw_set_selcall();
        c.set_flags(PttFlags(true, 2));
        c.set_cid("1234");
    })));
    EXPECT_STREQ(ws.announced().callerID, "1234");
    // The caller ID field holds 255 characters and its end: one more is cut.
    EXPECT_TRUE(ws.SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        auto& c = p.select_gw_set_selcall();
        c.set_flags(PttFlags(true, 2));
        c.set_cid(std::string(255, '7'));
    })));
    EXPECT_EQ(std::string(ws.announced().callerID), std::string(255, '7'));
    EXPECT_TRUE(ws.SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        auto& c = p.select_gw_set_selcall();
        c.set_flags(PttFlags(true, 2));
        c.set_cid(std::string(256, '8'));
    })));
    EXPECT_EQ(std::string(ws.announced().callerID), std::string(255, '8'));
    EXPECT_TRUE(ws.SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        auto& c = p.select_gw_set_selcall();
        c.set_flags(PttFlags(true, 2));
        c.set_cid("1234");
    })));
    EXPECT_TRUE(ws.SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        p.select_wm_chan().get_freq().set_channel(3);
    })));
    EXPECT_EQ(ws.announced().command, WM_CHAN);
    EXPECT_EQ(ws.announced().channel, 0);
    board.Pump();
    auto& written = ext.Sessions().at(0)->written;
    ASSERT_EQ(written.size(), 4u);
    // GW_SEL_CALL: priority 2 with P and S set, status 300, then the caller ID.
    EXPECT_EQ(written[0], (Frame{9, 0x25, 0x09, 0x60, 4, '1', '2', '3', '4', 0, 0, 0}));
    EXPECT_EQ(written[3], written[0]);
    for (int i : {1, 2}) {
        ASSERT_GE(written[i].size(), 5u + 255u);
        EXPECT_EQ(written[i][4], 255) << i;
        EXPECT_EQ(std::string(written[i].begin() + 5, written[i].begin() + 5 + 255), std::string(255, i == 1 ? '7' : '8'));
    }

    for (uint32_t kind : {WM_FLAG, WM_CHAN, WM_STANDBY})
        ext.Receive(Flags(kind, 9, 1), Address("10.0.0.7"), 1);
    ws.OnRtpExtEvent(ws.ext_fd(), POLLIN);
    EXPECT_EQ(reports.got.size(), 3u);
}

TEST(LemzMapping, ControllerTypesToStateAndBack)
{
    Standin::Board board;
    rtp_ext_init_params init{};
    LemzRadioGWControl ctl(init);
    LemzRadioState s;
    ctl.DecodeASN(Command([](TERM::LemzRadioModifierParams& p) {
                      auto& c = p.select_wm_chan();
                      c.get_freq().set_frequency("145.5");
                      c.get_freq().set_channel(12);
                      c.get_squelshe() = TERM::RadioSquelshe::on;
                  }).get_lemz(),
                  s);
    EXPECT_EQ(s.command, 132);
    EXPECT_FLOAT_EQ(s.frequency, 145.5f);
    EXPECT_EQ(s.squelshe, 2);
    EXPECT_EQ(s.channel, 12);
    EXPECT_EQ(s.standby_state_channel, -1) << "no standby in a channel command";
    EXPECT_EQ(s.source_addr, Address("10.0.0.9").s_addr);

    // A fresh state: defaults, and the unknown fields left out.
    TERM::RtpRadioRequest request;
    ctl.EncodeStatusASN(LemzRadioState(), request);
    const TERM::LemzRadioStatus& status = request.get_status().get_lemz();
    EXPECT_EQ(status.get_flags().get_prio().getValue(), 15);
    const TERM::RadioFlags& f = status.get_flags();
    EXPECT_EQ(f.get_ptt() + f.get_bss() + f.get_vad_rx() + f.get_vad_tx() + f.get_sql() + f.get_sh() + f.get_pwr()
                  + f.get_rv() + f.get_resv(), 0);
    EXPECT_FALSE(status.squelshe_isPresent() || status.rte_isPresent() || status.standby_group_isPresent()
                 || status.standby_state_channel_isPresent() || status.standby_state_receiver_isPresent());
    EXPECT_EQ(status.get_freq().get_frequency(), "0.000000");

    // A received selective call: its caller ID, and no session address.
    LemzRadioState announced;
    announced.frequency = 145.5f;
    LemzRadioState got;
    got.command = GW_SEL_CALL;
    std::strcpy(got.callerID, "1234");
    got.source_addr = Address("10.0.0.5").s_addr;
    ctl.EncodeASN(announced, got, request);
    EXPECT_EQ(request.get_status().get_lemz().get_freq().get_frequency(), "145.500000");
    const auto& selcall = request.get_request().get_lemz().get_params().get_gw_set_selcall();
    EXPECT_EQ(selcall.get_cid(), "1234");
    EXPECT_EQ(selcall.get_ip(), "0.0.0.0");
    EXPECT_EQ(selcall.get_ssrc().getValue(), 0u);

    // Octets beyond the named values still travel to the controller.
    got = LemzRadioState();
    got.command = WM_STANDBY;
    got.standby_state_channel = 255;
    got.standby_group = 200;
    got.standby_state_receiver = 7;
    announced.squelshe = 200;
    ctl.EncodeASN(announced, got, request);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> octets;
    ASSERT_TRUE(env.encodePER(request, std::back_inserter(octets)));
    TERM::RtpRadioRequest back;
    ASSERT_TRUE(env.decode(octets.data(), octets.data() + octets.size(), back));
    EXPECT_EQ(back.get_status().get_lemz().get_squelshe().asInt(), 200);
    EXPECT_EQ(back.get_request().get_lemz().get_params().get_wm_standby().get_state_channel().asInt(), 255);
}

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

struct EdGW : ED137RadioGWControl {
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
        rtp_ext_init_params init{};
        init.etype = 0x0167;
        init.keepalive_count = keepalive_count;
        init.sigtime_factor = 1;
        ctl = std::make_unique<EdGW>(7, rtp_ext_attach_session_params{rtp.lowlevel_fd(), -1}, init);
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

    std::unique_ptr<EdGW> ctl;
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
    EXPECT_EQ(reports.got[0].get_status().get_ed_137().get_sqi().get_bss_method().asInt(), 0) << "rssi at first";

    for (Frame const& f : {Tx(2, 4), Tx(2, 5)})
        ext.Receive(f, Address("10.0.0.5"), 5);
    ext.Receive(Tx(2, 6), Address("10.0.0.5"), 6); // another source by its SSRC alone
    ctl->OnRtpExtEvent(ctl->ext_fd(), POLLIN);
    ASSERT_EQ(reports.got.size(), 3u);
    EXPECT_EQ(header(1).get_ptt_id().getValue(), 5u);
    EXPECT_EQ(header(2).get_ptt_id().getValue(), 6u);

    // The same state 500 ms after its report: not again; 1000 ms: again.
    SetClock(now += 500);
    Receive({Tx(2, 6)}, "10.0.0.5", 6);
    EXPECT_EQ(reports.got.size(), 3u);
    SetClock(now += 500);
    Receive({Tx(2, 6)}, "10.0.0.5", 6);
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
