// The radio control frame and the LEMZ gateway control on the simulated
// extension driver: filter requests, receive bursts, the access rule,
// commands, the refresh clocks and the ASN.1 mapping.
#include "asn1/coder_env.h"
#include "board/device.h"
#include "protocol/term.h"
#include "rtp/lemz_control.h"
#include "tests/rtp/radio_rig.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <iostream>
#include <vector>

namespace {

using namespace RTPSignalling;
using namespace radiotest;

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
struct GW : LemzRadioGWControl {
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
        rtp = Fd(Device::Open("/dev/rtp", O_RDONLY));
        init.etype = 4919;
        ctl = std::make_unique<GW>(7, rtp_ext_attach_session_params{rtp.lowlevel_fd(), ::getpid()}, init);
        ctl->Bind(&reports);
    }
    void Read() { ctl->OnRtpExtEvent(ctl->ext_fd(), POLLIN); }

    rtp_ext_init_params init{};
    std::unique_ptr<GW> ctl;
};

TEST_F(LemzControlTest, SessionStartStopAndTheSourceFilter)
{
    ASSERT_TRUE(ctl->is_started());
    EXPECT_EQ(Session().init.etype, 4919);
    EXPECT_EQ(Session().attach.fd_rtp, rtp.lowlevel_fd());
    EXPECT_EQ(Session().attach.pid_rtp, ::getpid());

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
    EXPECT_EQ(own.GetPrefix().rfind("rtp_ext ", 0), 0u);
    EXPECT_EQ(ctl->GetPrefix().rfind("rtp_ext[7] ", 0), 0u);
    EXPECT_EQ(ctl->GetPrefix().back(), ':');
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
        {"same kind, same sender", {{Flags(GW_FLAG, 1, 0), "10.0.0.5"}, {Flags(GW_FLAG, 2, 0), "10.0.0.5"},
                                     {Flags(GW_FLAG, 3, 0), "10.0.0.5"}}, 1},
        {"kinds alternate", {{Flags(GW_FLAG, 1, 0), "10.0.0.5"}, {Flags(GW_FLAG_BSS, 1, 0), "10.0.0.5"},
                             {Flags(GW_FLAG, 1, 0), "10.0.0.5"}}, 3},
        {"two senders", {{Flags(GW_FLAG, 1, 0), "10.0.0.5"}, {Flags(GW_FLAG, 1, 0), "10.0.0.6"}}, 2},
        {"last one bad", {{Flags(GW_FLAG, 4, 0), "10.0.0.5"}, {bad, "10.0.0.5"}}, 1},
        {"all bad", {{bad, "10.0.0.5"}, {Frame{0, 0, 0, 0}, "10.0.0.5"}}, 0},
    };
    for (const Case& c : cases) {
        reports.got.clear();
        for (auto const& p : c.packets)
            Queue({p.first}, p.second);
        Read();
        EXPECT_EQ(reports.got.size(), c.reports) << c.what;
    }
    // The third of the first case is the one reported.
    reports.got.clear();
    Queue({Flags(GW_FLAG, 1, 0), Flags(GW_FLAG, 2, 0), Flags(GW_FLAG, 3, 0)});
    Read();
    ASSERT_EQ(reports.got.size(), 1u);
    const TERM::LemzRadioModifier& m = reports.got[0].get_request().get_lemz();
    EXPECT_EQ(m.get_params().get_gw_set_flags().get_flags().get_prio().getValue(), 3);
    EXPECT_EQ(m.get_addr().get_session_addr(), "10.0.0.5");
    EXPECT_EQ(m.get_addr().get_session_ssrc().getValue(), 5u);
    EXPECT_EQ(ctl->statistics().received, 12u);

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

    // A gateway-kind command changes the state but sends nothing.
    EXPECT_TRUE(ctl->SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        p.select_gw_set_ptt().set_flags(PttFlags(false, 3));
    })));
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(ctl->announced().ptt, 0);
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
        EXPECT_EQ(ctl->ProcessRadioStatus(t0 + 300, 1000), 710u);
        EXPECT_TRUE(Written().empty());
        // Flags, channel and remote radio; standby stays unknown.
        EXPECT_EQ(ctl->ProcessRadioStatus(t0 + 1000, 1000), 1000u);
        auto w = Written();
        ASSERT_EQ(w.size(), 3u) << t0;
        EXPECT_EQ(w[0][0], WM_FLAG);
        EXPECT_EQ(w[1][0], WM_CHAN);
        EXPECT_EQ(w[1][12], 255); // squelch and RTE not known
        EXPECT_EQ(w[1][13], 255);
        EXPECT_EQ(w[2][0], WM_SELECT_RC_CHAN);
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
    EXPECT_TRUE(ws.SendASNToChan(Command([](TERM::LemzRadioModifierParams& p) {
        p.select_wm_chan().get_freq().set_channel(3);
    })));
    EXPECT_EQ(ws.announced().command, WM_CHAN);
    EXPECT_EQ(ws.announced().channel, 0);
    board.Pump();
    auto& written = ext.Sessions().at(0)->written;
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], (Frame{9, 0x25, 0x09, 0x60, 4, '1', '2', '3', '4', 0, 0, 0}));

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
                      p.select_gw_set_ptt().set_flags(PttFlags(true, 3));
                  }).get_lemz(),
                  s);
    EXPECT_EQ(s.command, 3);
    EXPECT_EQ(s.ptt, 1);
    EXPECT_EQ(s.prio, 3);
    EXPECT_EQ(s.sql, 1);
    EXPECT_EQ(s.li, 300);
    EXPECT_EQ(s.source_addr, Address("10.0.0.9").s_addr);
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
    EXPECT_EQ(s.standby_state_channel, -1);

    // A fresh state: defaults, and the unknown fields left out.
    TERM::RtpRadioRequest request;
    ctl.EncodeStatusASN(LemzRadioState(), request);
    const TERM::LemzRadioStatus& status = request.get_status().get_lemz();
    EXPECT_EQ(status.get_flags().get_prio().getValue(), 15);
    EXPECT_FALSE(status.get_flags().get_ptt());
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

} // namespace
