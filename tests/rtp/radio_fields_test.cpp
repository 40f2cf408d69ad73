// Every field of the radio messages from where it comes to where it lands:
// LEMZ and R2S packets from the network into the controller's reports, the
// controller's commands and status onto the wire, each field with a value
// of its own; and the radio controls' clocks and access tables at the last
// value taken and the first refused.
#include "board/device.h"
#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "protocol/term.h"
#include "rtp/ed137_control.h"
#include "rtp/lemz_control.h"
#include "samples/link/loop_driver.h"
#include "standin/board.h"
#include "standin/rtp_ext.h"
#include "tests/rtp/lemz_packets.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace RTPSignalling;
using Standin::Frame;
using Params = TERM::LemzRadioModifierParams;

in_addr Address(const char* dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a;
}

struct Reports : IRadioControlNotify {
    void RadioControlNotify(TERM::RtpRadioRequest const& r) override { got.push_back(r); }
    void RadioControlNotify(int code) override { codes.push_back(code); }
    std::vector<TERM::RtpRadioRequest> got;
    std::vector<int> codes;
};

// The nine flags of the controller's flag group, ptt first, as bits.
constexpr unsigned kPtt = 1, kBss = 2, kVadRx = 4, kVadTx = 8, kSql = 16, kSh = 32, kPwr = 64, kRv = 128,
                   kResv = 256;

unsigned Mask(TERM::RadioFlags const& f)
{
    return (f.get_ptt() ? kPtt : 0) | (f.get_bss() ? kBss : 0) | (f.get_vad_rx() ? kVadRx : 0)
        | (f.get_vad_tx() ? kVadTx : 0) | (f.get_sql() ? kSql : 0) | (f.get_sh() ? kSh : 0)
        | (f.get_pwr() ? kPwr : 0) | (f.get_rv() ? kRv : 0) | (f.get_resv() ? kResv : 0);
}

TERM::RadioFlags Flags(unsigned mask, int prio = 6, unsigned selcall = 2, unsigned li = 300)
{
    TERM::RadioFlags f;
    f.set_prio(prio);
    f.set_ptt(mask & kPtt);
    f.set_bss(mask & kBss);
    f.set_vad_rx(mask & kVadRx);
    f.set_vad_tx(mask & kVadTx);
    f.set_sql(mask & kSql);
    f.set_sh(mask & kSh);
    f.set_pwr(mask & kPwr);
    f.set_rv(mask & kRv);
    f.set_resv(mask & kResv);
    f.set_selcall(selcall);
    f.set_li(li);
    return f;
}

// Each flag of the group, with the packet field and the header bit
// (octet, mask) that carry it.
struct FlagPlace {
    unsigned flag;
    uint32_t sig_proto::*field;
    int octet;
    unsigned char bit;
};
const FlagPlace kFlagPlaces[] = {
    {kPtt, &sig_proto::flag_p, 1, 0x04},  {kBss, &sig_proto::flag_b, 2, 0x80}, {kVadRx, &sig_proto::flag_r, 1, 0x02},
    {kVadTx, &sig_proto::flag_t, 1, 0x08}, {kSql, &sig_proto::flag_s, 1, 0x01}, {kSh, &sig_proto::flag_sh, 2, 0x20},
    {kPwr, &sig_proto::flag_pw, 2, 0x10}, {kRv, &sig_proto::flag_rv, 2, 0x40}, {kResv, &sig_proto::flag_rs, 3, 0x01},
};

// Priority 6, selective call 2 and 300 in li, with the flag's bit: the
// header octets 1-3.
Frame Header(uint32_t kind, FlagPlace const* place)
{
    Frame h{static_cast<unsigned char>(kind), 0x60, 0x09, 0x64};
    if (place)
        h[static_cast<size_t>(place->octet)] |= place->bit;
    return h;
}

Frame Cat(Frame a, Frame const& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

template <class Control>
struct Open : Control {
    using Control::Control;
    using Control::OnRtpExtEvent;
    LemzRadioState& announcedState() { return this->mAnnounced; }
};

class Rig : public ::testing::Test {
protected:
    void TearDown() override { Mux::mux_cleartimeofday(); }
    Standin::RtpExt::Session& Session()
    {
        board.Prune();
        return *ext.Sessions().at(0);
    }
    std::vector<Frame> Written()
    {
        board.Pump();
        std::vector<Frame> w = Session().written;
        Session().written.clear();
        return w;
    }
    rtp_ext_attach_session_params Attach() { return {rtp.lowlevel_fd(), ::getpid()}; }
    // Packets from 10.0.0.5, SSRC 55, read in one pass; the reports made.
    template <class Control>
    std::vector<TERM::RtpRadioRequest> Deliver(Control& ctl, std::vector<Frame> const& packets)
    {
        reports.got.clear();
        for (Frame const& f : packets)
            EXPECT_EQ(ext.Receive(f, Address("10.0.0.5"), 55), 1u);
        ctl.OnRtpExtEvent(ctl.ext_fd(), POLLIN);
        return reports.got;
    }

    Standin::Board board;
    Standin::RtpExt& ext = board.Get<Standin::RtpExt>("/dev/rtp_ext");
    Fd rtp{Device::Open("/dev/rtp", O_RDONLY)};
    Reports reports;
    test::Capture err{std::cerr};
};

using LemzFields = Rig;

// A gateway's report of each GW_* request: the alternative of its kind,
// every flag from its own bit, the payload fields, the sender.
TEST_F(LemzFields, GatewayRequestsReachTheControllerFieldByField)
{
    rtp_ext_init_params init{};
    Open<LemzRadioGWControl> ctl(3, Attach(), init);
    ctl.Bind(&reports);
    for (FlagPlace const& f : kFlagPlaces) {
        auto got = Deliver(ctl, {Header(GW_FLAG, &f)});
        ASSERT_EQ(got.size(), 1u) << f.flag;
        const TERM::LemzRadioModifier& m = got[0].get_request().get_lemz();
        const TERM::RadioFlags& flags = m.get_params().get_gw_set_flags().get_flags();
        EXPECT_EQ(Mask(flags), f.flag);
        EXPECT_EQ(flags.get_prio().getValue(), 6);
        EXPECT_EQ(flags.get_selcall().getValue(), 2u);
        EXPECT_EQ(flags.get_li().getValue(), 300u);
        EXPECT_EQ(m.get_addr().get_session_addr(), "10.0.0.5");
        EXPECT_EQ(m.get_addr().get_session_ssrc().getValue(), 55u);
        ctl.announcedState().ptt = 0; // a PTT request leaves the channel free for the next
    }
    // The flag kinds, each to its own alternative.
    const struct {
        uint32_t kind;
        bool (Params::*selected)() const;
        const TERM::RadioCommandGWSetFlags& (Params::*body)() const;
    } kinds[] = {
        {GW_FLAG_PTT, &Params::gw_set_ptt_isSelected, &Params::get_gw_set_ptt},
        {GW_FLAG_BSS, &Params::gw_set_bss_isSelected, &Params::get_gw_set_bss},
        {GW_FLAG_RV, &Params::gw_set_rv_isSelected, &Params::get_gw_set_rv},
        {GW_FLAG_SH, &Params::gw_set_sh_isSelected, &Params::get_gw_set_sh},
        {GW_FLAG_PW, &Params::gw_set_pwr_isSelected, &Params::get_gw_set_pwr},
        {GW_FLAG_RS, &Params::gw_set_resv_isSelected, &Params::get_gw_set_resv},
    };
    for (auto const& k : kinds) {
        auto got = Deliver(ctl, {Header(k.kind, &kFlagPlaces[6])});
        ASSERT_EQ(got.size(), 1u) << k.kind;
        const Params& p = got[0].get_request().get_lemz().get_params();
        ASSERT_TRUE((p.*k.selected)()) << k.kind;
        EXPECT_EQ(Mask((p.*k.body)().get_flags()), kPwr) << k.kind;
    }

    // The report of one packet, kept until the next.
    TERM::RtpRadioRequest last;
    auto one = [&](Frame const& packet) -> const Params& {
        auto got = Deliver(ctl, {packet});
        EXPECT_EQ(got.size(), 1u);
        last = got.empty() ? TERM::RtpRadioRequest() : got[0];
        return last.get_request().get_lemz().get_params();
    };
    const Params* p = &one(Cat(Header(GW_ADJUST_CHAN, nullptr), {0, 0, 0, 12, 0x43, 0x11, 0x80, 0}));
    ASSERT_TRUE(p->gw_set_freq_isSelected());
    EXPECT_EQ(p->get_gw_set_freq().get_freq().get_channel().getValue(), 12);
    EXPECT_EQ(p->get_gw_set_freq().get_freq().get_frequency(), "145.500000");
    p = &one(Cat(Header(GW_SEL_CALL, &kFlagPlaces[4]), {4, '4', '7', '1', '1'}));
    ASSERT_TRUE(p->gw_set_selcall_isSelected());
    EXPECT_EQ(p->get_gw_set_selcall().get_cid(), "4711");
    EXPECT_EQ(p->get_gw_set_selcall().get_ip(), "0.0.0.0");
    EXPECT_EQ(p->get_gw_set_selcall().get_ssrc().getValue(), 0u);
    EXPECT_EQ(Mask(p->get_gw_set_selcall().get_flags()), kSql);
    EXPECT_EQ(p->get_gw_set_selcall().get_flags().get_li().getValue(), 300u);
    p = &one(Cat(Header(GW_SELECT_RC_CHAN, nullptr), {3, 250, 0, 0}));
    ASSERT_TRUE(p->gw_set_remote_isSelected());
    EXPECT_EQ(p->get_gw_set_remote().get_remote().get_no().getValue(), 3u);
    EXPECT_EQ(p->get_gw_set_remote().get_remote().get_ch().getValue(), 250u);
    p = &one(Cat(Header(GW_ADJUST_SQUELSHE, nullptr), {2, 0, 0, 0}));
    ASSERT_TRUE(p->gw_set_squelshe_isSelected());
    EXPECT_EQ(p->get_gw_set_squelshe().get_squelshe().asInt(), 2);
    p = &one(Cat(Header(GW_ADJUST_RTE, nullptr), {6, 0, 0, 0}));
    ASSERT_TRUE(p->gw_set_rte_isSelected());
    EXPECT_EQ(p->get_gw_set_rte().get_rte().asInt(), 6);
    p = &one(Cat(Header(GW_ADJUST_STANDBY, nullptr), {1, 0, 0, 0}));
    ASSERT_TRUE(p->gw_set_standby_isSelected());
    EXPECT_EQ(p->get_gw_set_standby().get_state().asInt(), 1);
}

// A state starts at the defaults: priority 15, the enumerations and the
// standby group unknown, everything else zero.
TEST(LemzState, StartsAtTheDefaults)
{
    LemzRadioState s;
    EXPECT_EQ(std::vector<int32_t>({s.command, s.prio, s.ptt, s.bss, s.vad_rx, s.vad_tx, s.sql, s.sh, s.pwr, s.rv,
                                    s.resv, s.selcall, s.li, s.remote_no, s.remote_ch, s.channel}),
              std::vector<int32_t>({0, 15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<int32_t>(
                  {s.squelshe, s.rte, s.standby_state_channel, s.standby_group, s.standby_state_receiver}),
              std::vector<int32_t>({-1, -1, -1, -1, -1}));
    EXPECT_EQ(std::vector<uint32_t>({s.session_addr, s.ssrc, s.source_addr, s.source_ssrc}),
              std::vector<uint32_t>({0, 0, 0, 0}));
    EXPECT_EQ(s.frequency, 0.0f);
    EXPECT_EQ(s.quality, 0.0f);
    EXPECT_STREQ(s.callerID, "");
    EXPECT_TRUE(isDefaultInitCommand(0));
    EXPECT_TRUE(isDefaultInitCommand(-1));
    EXPECT_FALSE(isDefaultInitCommand(1));
}

// Only a control attached to the slot's session detaches and closes it
// on a stop; one of its own alone, or attached through /dev/rtp, keeps it.
TEST_F(LemzFields, StopByType)
{
    rtp_ext_init_params init{};
    LemzRadioGWControl alone(init);
    EXPECT_TRUE(alone.RtpExtStop());
    board.Prune();
    EXPECT_EQ(ext.Sessions().size(), 1u);
    EXPECT_EQ(ext.detaches(), 0);
    {
        LemzRadioGWControl attached(3, Attach(), init);
        board.Prune();
        ASSERT_EQ(ext.Sessions().size(), 2u);
        EXPECT_TRUE(attached.RtpExtStop());
        board.Prune();
        EXPECT_EQ(ext.Sessions().size(), 1u);
        EXPECT_EQ(ext.detaches(), 1);
    }
    LemzRadioGWControl other(3, rtp, rtp_attach_session_params{7, 1234});
    EXPECT_TRUE(other.RtpExtStop());
    board.Prune();
    EXPECT_EQ(ext.Sessions().size(), 1u);
}

// A packet of each known kind decodes; another kind is -1.
TEST_F(LemzFields, DecodeProtoOfEachKind)
{
    rtp_ext_init_params init{};
    LemzRadioGWControl ctl(init);
    for (uint32_t kind = 0; kind < 256; ++kind) {
        LemzRadioState s;
        bool known = (kind >= 1 && kind <= 13) || (kind >= 129 && kind <= 135);
        EXPECT_EQ(ctl.DecodeProto(rtptest::Fresh(kind), s), known ? 0 : -1) << kind;
        EXPECT_EQ(s.command, static_cast<int32_t>(kind));
    }
}

// A workstation's report of each WM_* packet, payload fields included.
TEST_F(LemzFields, WorkstationReportsOfEachGatewayPacket)
{
    rtp_ext_init_params init{};
    Open<LemzRadioWSControl> ctl(3, Attach(), init);
    ctl.Bind(&reports);
    for (FlagPlace const& f : kFlagPlaces) {
        auto got = Deliver(ctl, {Header(WM_FLAG, &f)});
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(Mask(got[0].get_request().get_lemz().get_params().get_wm_flags().get_flags()), f.flag);
    }
    auto one = [&](Frame const& packet) {
        auto got = Deliver(ctl, {packet});
        EXPECT_EQ(got.size(), 1u);
        return got.empty() ? TERM::RtpRadioRequest() : got[0];
    };
    TERM::RtpRadioRequest r = one(Cat(Header(WM_TRANS, &kFlagPlaces[0]), {3, 2, 1, 10, 0x0A, 0x0B, 0x0C, 0x0D}));
    const Params* p = &r.get_request().get_lemz().get_params();
    ASSERT_TRUE(p->wm_trans_isSelected());
    EXPECT_EQ(p->get_wm_trans().get_ip(), "10.1.2.3");
    EXPECT_EQ(p->get_wm_trans().get_ssrc().getValue(), 0x0A0B0C0Du);
    EXPECT_EQ(Mask(p->get_wm_trans().get_flags()), kPtt);
    EXPECT_EQ(r.get_request().get_lemz().get_addr().get_session_addr(), "10.0.0.5");
    r = one(Cat(Header(WM_RADIO_QUALITY, nullptr), {0xC0, 0x20, 0, 0}));
    p = &r.get_request().get_lemz().get_params();
    ASSERT_TRUE(p->wm_quality_isSelected());
    EXPECT_EQ(p->get_wm_quality().get_bss_val(), "-2.500000");
    r = one(Cat(Header(WM_CHAN, nullptr), {0, 0, 0, 12, 0x42, 0xEC, 0x40, 0, 1, 7, 0, 0}));
    p = &r.get_request().get_lemz().get_params();
    ASSERT_TRUE(p->wm_chan_isSelected());
    EXPECT_EQ(p->get_wm_chan().get_freq().get_channel().getValue(), 12);
    EXPECT_EQ(p->get_wm_chan().get_freq().get_frequency(), "118.125000");
    EXPECT_EQ(p->get_wm_chan().get_squelshe().asInt(), 1);
    EXPECT_EQ(p->get_wm_chan().get_rte().asInt(), 7);
    r = one(Cat(Header(WM_SEL_CALL_TRANS, &kFlagPlaces[8]), {3, 2, 1, 10, 0, 0, 0, 9, 3, 'X', 'Y', 'Z'}));
    p = &r.get_request().get_lemz().get_params();
    ASSERT_TRUE(p->wm_selcall_isSelected());
    EXPECT_EQ(p->get_wm_selcall().get_ip(), "10.1.2.3");
    EXPECT_EQ(p->get_wm_selcall().get_ssrc().getValue(), 9u);
    EXPECT_EQ(p->get_wm_selcall().get_cid(), "XYZ");
    EXPECT_EQ(Mask(p->get_wm_selcall().get_flags()), kResv);
    r = one(Cat(Header(WM_SELECT_RC_CHAN, nullptr), {5, 6, 0, 0}));
    p = &r.get_request().get_lemz().get_params();
    ASSERT_TRUE(p->wm_remote_isSelected());
    EXPECT_EQ(p->get_wm_remote().get_remote().get_no().getValue(), 5u);
    EXPECT_EQ(p->get_wm_remote().get_remote().get_ch().getValue(), 6u);
    r = one(Cat(Header(WM_STANDBY, nullptr), {1, 201, 0, 0}));
    p = &r.get_request().get_lemz().get_params();
    ASSERT_TRUE(p->wm_standby_isSelected());
    EXPECT_EQ(p->get_wm_standby().get_state_channel().asInt(), 1);
    EXPECT_EQ(p->get_wm_standby().get_group().getValue(), 201u);
    EXPECT_EQ(p->get_wm_standby().get_state_receiver().asInt(), 0);
}

TERM::RadioModifier Command(std::function<void(Params&)> const& fill)
{
    TERM::RadioModifier m;
    TERM::LemzRadioModifier& lemz = m.select_lemz();
    lemz.get_addr().set_session_addr("10.0.0.9");
    lemz.get_addr().set_session_ssrc(77);
    fill(lemz.get_params());
    return m;
}

// The controller's WM_* commands on a gateway: every flag at its bit, every
// payload field at its octets.
TEST_F(LemzFields, GatewayCommandsOnTheWire)
{
    rtp_ext_init_params init{};
    Open<LemzRadioGWControl> ctl(3, Attach(), init);
    for (FlagPlace const& f : kFlagPlaces) {
        ASSERT_TRUE(ctl.SendASNToChan(Command([&](Params& p) { p.select_wm_flags().set_flags(Flags(f.flag)); })));
        EXPECT_EQ(Written(), std::vector<Frame>{Header(WM_FLAG, &f)}) << f.flag;
    }
    const struct {
        std::function<void(Params&)> fill;
        Frame wire;
    } rows[] = {
        {[](Params& p) {
             auto& t = p.select_wm_trans();
             t.set_flags(Flags(kSql));
             t.set_ip("10.1.2.3");
             t.set_ssrc(0x0A0B0C0D);
         },
         Cat(Header(WM_TRANS, &kFlagPlaces[4]), {3, 2, 1, 10, 0x0A, 0x0B, 0x0C, 0x0D})},
        {[](Params& p) { p.select_wm_quality().set_bss_val("-2.5"); },
         Cat(Header(WM_RADIO_QUALITY, &kFlagPlaces[4]), {0xC0, 0x20, 0, 0})},
        {[](Params& p) {
             auto& c = p.select_wm_chan();
             c.get_freq().set_channel(0x01020304);
             c.get_freq().set_frequency("118.125");
             c.get_squelshe() = TERM::RadioSquelshe::off;
             c.get_rte() = TERM::RadioRTE::j3e;
         },
         Cat(Header(WM_CHAN, &kFlagPlaces[4]), {1, 2, 3, 4, 0x42, 0xEC, 0x40, 0, 1, 7, 0, 0})},
        {[](Params& p) {
             auto& s = p.select_wm_selcall();
             s.set_flags(Flags(kVadTx));
             s.set_ip("10.1.2.3");
             s.set_ssrc(9);
             s.set_cid("XYZ");
         },
         Cat(Header(WM_SEL_CALL_TRANS, &kFlagPlaces[3]), {3, 2, 1, 10, 0, 0, 0, 9, 3, 'X', 'Y', 'Z'})},
        {[](Params& p) {
             auto& r = p.select_wm_remote().get_remote();
             r.set_no(5);
             r.set_ch(6);
         },
         Cat(Header(WM_SELECT_RC_CHAN, &kFlagPlaces[3]), {5, 6, 0, 0})},
        {[](Params& p) {
             auto& s = p.select_wm_standby();
             s.get_state_channel() = TERM::RadioStandby::standby;
             s.set_group(200);
             s.get_state_receiver() = TERM::RadioStandby::active;
         },
         Cat(Header(WM_STANDBY, &kFlagPlaces[3]), {1, 200, 0, 0})},
    };
    for (auto const& r : rows) {
        ASSERT_TRUE(ctl.SendASNToChan(Command(r.fill)));
        EXPECT_EQ(Written(), std::vector<Frame>{r.wire}) << int(r.wire[0]);
    }
    // The transmitting party's session is the one the filter lets in.
    EXPECT_FALSE(Session().filtered);
    ASSERT_TRUE(ctl.SendASNToChan(Command([](Params& p) {
        auto& t = p.select_wm_trans();
        t.set_flags(Flags(kPtt));
        t.set_ip("10.1.2.3");
    })));
    EXPECT_TRUE(Session().filtered);
    EXPECT_EQ(Session().filter.s_addr, Address("10.1.2.3").s_addr);

    // A selective call names the holder as a transmission does, and the
    // refresh repeats it; a request of the other end names nobody.
    Written();
    ASSERT_TRUE(ctl.SendASNToChan(Command([](Params& p) {
        auto& c = p.select_wm_selcall();
        c.set_flags(Flags(kPtt));
        c.set_ip("10.4.5.6");
        c.set_ssrc(0x0708090A);
    })));
    EXPECT_EQ(Session().filter.s_addr, Address("10.4.5.6").s_addr);
    ASSERT_TRUE(ctl.SendASNToChan(Command([](Params& p) {
        auto& c = p.select_gw_set_selcall();
        c.set_flags(Flags(kPtt));
        c.set_ip("10.9.9.9");
        c.set_ssrc(1);
    })));
    EXPECT_EQ(Session().filter.s_addr, Address("10.4.5.6").s_addr);
    Written();
    ctl.ResetClocks(1000);
    ctl.ProcessRadioStatus(2000, 1000);
    auto w = Written();
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w[0], Cat(Header(WM_TRANS, &kFlagPlaces[0]), {6, 5, 4, 10, 7, 8, 9, 10}));
}

// A priority goes out in four bits, an enumeration in an octet: the last
// value that fits is sent, the next one refused with nothing sent.
TEST_F(LemzFields, ValuesAtTheEdgeOfTheirFields)
{
    rtp_ext_init_params init{};
    Open<LemzRadioGWControl> ctl(3, Attach(), init);
    for (int prio : {0, 15, 16, -1}) {
        bool fits = prio >= 0 && prio <= 15;
        EXPECT_EQ(ctl.SendASNToChan(Command([prio](Params& p) { p.select_wm_flags().set_flags(Flags(0, prio)); })),
                  fits)
            << prio;
        auto w = Written();
        ASSERT_EQ(w.size(), fits ? 1u : 0u) << prio;
        if (fits) {
            EXPECT_EQ(w[0][1], prio << 4 | 0);
        }
    }
    for (int value : {255, 256}) {
        EXPECT_EQ(ctl.SendASNToChan(Command([value](Params& p) {
                      auto& c = p.select_wm_chan();
                      c.get_squelshe().setFromInt(value);
                      c.get_rte().setFromInt(value == 255 ? 0 : 1);
                  })),
                  value == 255);
        auto w = Written();
        ASSERT_EQ(w.size(), value == 255 ? 1u : 0u);
        if (!w.empty()) {
            EXPECT_EQ(Frame(w[0].begin() + 12, w[0].end()), (Frame{255, 0, 0, 0}));
        }
    }
    EXPECT_EQ(ctl.announced().squelshe, 255);
}

// The controller's GW_* commands on a workstation: each alternative as its
// own kind, its payload at its octets.
TEST_F(LemzFields, WorkstationCommandsOnTheWire)
{
    rtp_ext_init_params init{};
    Open<LemzRadioWSControl> ctl(3, Attach(), init);
    using Select = TERM::RadioCommandGWSetFlags& (Params::*)();
    const struct {
        Select select;
        uint32_t kind;
    } flagKinds[] = {
        {&Params::select_gw_set_flags, GW_FLAG}, {&Params::select_gw_set_ptt, GW_FLAG_PTT},
        {&Params::select_gw_set_bss, GW_FLAG_BSS}, {&Params::select_gw_set_sh, GW_FLAG_SH},
        {&Params::select_gw_set_pwr, GW_FLAG_PW}, {&Params::select_gw_set_rv, GW_FLAG_RV},
        {&Params::select_gw_set_resv, GW_FLAG_RS},
    };
    for (auto const& k : flagKinds)
        for (FlagPlace const& f : kFlagPlaces) {
            ASSERT_TRUE(ctl.SendASNToChan(Command([&](Params& p) { (p.*k.select)().set_flags(Flags(f.flag)); })));
            EXPECT_EQ(Written(), std::vector<Frame>{Header(k.kind, &f)}) << k.kind << " " << f.flag;
        }
    const struct {
        std::function<void(Params&)> fill;
        Frame wire;
    } rows[] = {
        {[](Params& p) {
             p.select_gw_set_freq().get_freq().set_channel(0x0A0B0C0D);
             p.get_gw_set_freq().get_freq().set_frequency("145.5");
         },
         {2, 0x60, 0x09, 0x65, 0x0A, 0x0B, 0x0C, 0x0D, 0x43, 0x11, 0x80, 0}},
        {[](Params& p) {
             auto& s = p.select_gw_set_selcall();
             s.set_flags(Flags(kBss));
             s.set_cid("AB1");
         },
         Cat(Header(GW_SEL_CALL, &kFlagPlaces[1]), {3, 'A', 'B', '1'})},
        {[](Params& p) {
             p.select_gw_set_remote().get_remote().set_no(3);
             p.get_gw_set_remote().get_remote().set_ch(250);
         },
         Cat(Header(GW_SELECT_RC_CHAN, &kFlagPlaces[1]), {3, 250, 0, 0})},
        {[](Params& p) { p.select_gw_set_squelshe().get_squelshe() = TERM::RadioSquelshe::on; },
         Cat(Header(GW_ADJUST_SQUELSHE, &kFlagPlaces[1]), {2, 0, 0, 0})},
        {[](Params& p) { p.select_gw_set_rte().get_rte() = TERM::RadioRTE::r3e; },
         Cat(Header(GW_ADJUST_RTE, &kFlagPlaces[1]), {6, 0, 0, 0})},
        {[](Params& p) { p.select_gw_set_standby().get_state() = TERM::RadioStandby::standby; },
         Cat(Header(GW_ADJUST_STANDBY, &kFlagPlaces[1]), {1, 0, 0, 0})},
    };
    // The resv flag of the last flag command stays with the commands after.
    ASSERT_TRUE(ctl.SendASNToChan(Command([](Params& p) { p.select_gw_set_flags().set_flags(Flags(kBss)); })));
    Written();
    for (auto const& r : rows) {
        ASSERT_TRUE(ctl.SendASNToChan(Command(r.fill)));
        auto w = Written();
        ASSERT_EQ(w.size(), 1u) << int(r.wire[0]);
        // The header's flags are the announced ones; the payload is the command's.
        EXPECT_EQ(Frame(w[0].begin() + 4, w[0].end()), Frame(r.wire.begin() + 4, r.wire.end())) << int(r.wire[0]);
        EXPECT_EQ(w[0][0], r.wire[0]);
    }
    EXPECT_STREQ(ctl.announced().callerID, "AB1");
}

// A workstation's announced state takes of each command only what it
// carries: the flag its kind is named for, the payload.
TEST_F(LemzFields, WorkstationKeepsWhatEachCommandCarries)
{
    rtp_ext_init_params init{};
    const unsigned all = kPtt | kBss | kVadRx | kVadTx | kSql | kSh | kPwr | kRv | kResv;
    using Select = TERM::RadioCommandGWSetFlags& (Params::*)();
    const struct {
        Select select;
        unsigned kept;
    } rows[] = {
        {&Params::select_gw_set_flags, kPtt | kBss | kSh | kRv | kPwr | kResv},
        {&Params::select_gw_set_ptt, kPtt}, {&Params::select_gw_set_bss, kBss}, {&Params::select_gw_set_sh, kSh},
        {&Params::select_gw_set_pwr, kPwr}, {&Params::select_gw_set_rv, kRv},   {&Params::select_gw_set_resv, kResv},
    };
    auto mask = [](LemzRadioState const& a) {
        return (a.ptt ? kPtt : 0) | (a.bss ? kBss : 0) | (a.vad_rx ? kVadRx : 0) | (a.vad_tx ? kVadTx : 0)
            | (a.sql ? kSql : 0) | (a.sh ? kSh : 0) | (a.pwr ? kPwr : 0) | (a.rv ? kRv : 0) | (a.resv ? kResv : 0);
    };
    for (auto const& r : rows) {
        Open<LemzRadioWSControl> ctl(3, Attach(), init);
        ASSERT_TRUE(ctl.SendASNToChan(Command([&](Params& p) { (p.*r.select)().set_flags(Flags(all, 4, 3, 7)); })));
        EXPECT_EQ(mask(ctl.announced()), r.kept);
        EXPECT_EQ(ctl.announced().prio, 4);
        EXPECT_EQ(ctl.announced().selcall + ctl.announced().li, 0);
        EXPECT_EQ(Session().filtered, (r.kept & kPtt) != 0);
    }
    Open<LemzRadioWSControl> ctl(3, Attach(), init);
    ASSERT_TRUE(ctl.SendASNToChan(Command([&](Params& p) {
        auto& c = p.select_gw_set_selcall();
        c.set_flags(Flags(all, 2));
        c.set_ip("10.1.2.3");
        c.set_cid("AB");
    })));
    EXPECT_STREQ(ctl.announced().callerID, "AB");
    EXPECT_EQ(mask(ctl.announced()), 0u);
    EXPECT_EQ(ctl.announced().session_addr, 0u);
    EXPECT_EQ(ctl.announced().prio, 2);
    EXPECT_FALSE(Session().filtered);
    ASSERT_TRUE(ctl.SendASNToChan(Command([](Params& p) {
        p.select_gw_set_freq().get_freq().set_channel(9);
        p.get_gw_set_freq().get_freq().set_frequency("2.5");
    })));
    EXPECT_EQ(ctl.announced().channel, 9);
    EXPECT_EQ(ctl.announced().frequency, 2.5f);
    EXPECT_EQ(ctl.announced().remote_no + ctl.announced().remote_ch, 0);
    EXPECT_EQ(ctl.announced().squelshe, -1);
}

// Counters of one burst and one command: what was announced, read and
// decoded, written, and no error where there was none.
TEST_F(LemzFields, StatisticsOfABurstAndACommand)
{
    rtp_ext_init_params init{};
    Open<LemzRadioGWControl> ctl(3, Attach(), init);
    errno = EIO;
    Deliver(ctl, {Header(GW_FLAG, nullptr), Cat(Header(GW_SELECT_RC_CHAN, nullptr), {1, 2, 0, 0}), Frame{0, 0, 0, 0}});
    const RadioStatistics& s = ctl.statistics();
    EXPECT_EQ(s.announced, 3u);
    EXPECT_EQ(s.received, 2u);
    EXPECT_EQ(s.bytesReceived, 16u);
    EXPECT_EQ(s.unpackError, -8);
    EXPECT_EQ(s.infoErrno, 0);
    EXPECT_EQ(s.readErrno, 0);
    EXPECT_EQ(s.sent + s.bytesSent, 0u);
    ASSERT_TRUE(ctl.SendASNToChan(Command([](Params& p) { p.select_wm_remote(); })));
    EXPECT_EQ(s.sent, 1u);
    EXPECT_EQ(s.bytesSent, 8u);
    EXPECT_EQ(s.packError + s.writeErrno, 0);

    // A wake-up with nothing good to read reports nothing, and says nothing.
    ctl.Bind(&reports);
    EXPECT_TRUE(Deliver(ctl, {Frame{0, 0, 0, 0}}).empty());
    EXPECT_TRUE(Deliver(ctl, {}).empty());
    EXPECT_EQ(err.text(), "");
}

// A full status from the controller: every value in the refreshes it
// causes, and in the status of the next report.
TEST_F(LemzFields, StatusReachesTheRefreshesAndTheReports)
{
    rtp_ext_init_params init{};
    Open<LemzRadioGWControl> ctl(3, Attach(), init);
    ctl.Bind(&reports);
    TERM::RadioStatus status;
    TERM::LemzRadioStatus& s = status.select_lemz();
    s.set_flags(Flags(kRv, 6, 3, 5));
    s.get_freq().set_channel(12);
    s.get_freq().set_frequency("145.5");
    s.get_remote().set_no(3);
    s.get_remote().set_ch(4);
    s.set_squelshe(TERM::RadioSquelshe::off);
    s.set_rte(TERM::RadioRTE::a1b);
    s.set_standby_state_channel(TERM::RadioStandby::standby);
    s.set_standby_group(7);
    s.set_standby_state_receiver(TERM::RadioStandby::active);
    ASSERT_TRUE(ctl.SendASNToChan(status));
    EXPECT_TRUE(Written().empty());
    ctl.ResetClocks(1000);
    ctl.ProcessRadioStatus(2000, 1000);
    const Frame h{0x60, 0x40, 0x2E};
    EXPECT_EQ(Written(), (std::vector<Frame>{Cat({WM_FLAG}, h), Cat(Cat({WM_CHAN}, h), {0, 0, 0, 12, 0x43, 0x11, 0x80, 0, 1, 2, 0, 0}),
                                             Cat(Cat({WM_SELECT_RC_CHAN}, h), {3, 4, 0, 0}),
                                             Cat(Cat({WM_STANDBY}, h), {1, 7, 0, 0})}));

    auto got = Deliver(ctl, {Header(GW_FLAG, nullptr)});
    ASSERT_EQ(got.size(), 1u);
    const TERM::LemzRadioStatus& back = got[0].get_status().get_lemz();
    EXPECT_EQ(Mask(back.get_flags()), kRv);
    EXPECT_EQ(back.get_flags().get_prio().getValue(), 6);
    EXPECT_EQ(back.get_flags().get_selcall().getValue(), 3u);
    EXPECT_EQ(back.get_flags().get_li().getValue(), 5u);
    EXPECT_EQ(back.get_freq().get_channel().getValue(), 12);
    EXPECT_EQ(back.get_freq().get_frequency(), "145.500000");
    EXPECT_EQ(back.get_remote().get_no().getValue(), 3u);
    EXPECT_EQ(back.get_remote().get_ch().getValue(), 4u);
    EXPECT_EQ(back.get_squelshe().asInt(), 1);
    EXPECT_EQ(back.get_rte().asInt(), 2);
    EXPECT_EQ(back.get_standby_state_channel().asInt(), 1);
    EXPECT_EQ(back.get_standby_group().getValue(), 7u);
    EXPECT_EQ(back.get_standby_state_receiver().asInt(), 0);

    // The lowest values are known values: reported, not left out.
    s.set_squelshe(TERM::RadioSquelshe::no_config);
    s.set_rte(TERM::RadioRTE::no_config);
    s.set_standby_state_channel(TERM::RadioStandby::active);
    s.set_standby_group(0);
    ASSERT_TRUE(ctl.SendASNToChan(status));
    got = Deliver(ctl, {Header(GW_FLAG, nullptr)});
    ASSERT_EQ(got.size(), 1u);
    const TERM::LemzRadioStatus& low = got[0].get_status().get_lemz();
    ASSERT_TRUE(low.squelshe_isPresent() && low.rte_isPresent() && low.standby_state_channel_isPresent()
                && low.standby_group_isPresent() && low.standby_state_receiver_isPresent());
    EXPECT_EQ(low.get_squelshe().asInt() + low.get_rte().asInt() + low.get_standby_state_channel().asInt(), 0);
    EXPECT_EQ(low.get_standby_group().getValue(), 0u);

    // Left out, they are unknown again: not reported, and no standby
    // refresh without a group; the channel's refresh carries 255 for them.
    s.omit_squelshe();
    s.omit_rte();
    s.omit_standby_group();
    ASSERT_TRUE(ctl.SendASNToChan(status));
    got = Deliver(ctl, {Header(GW_FLAG, nullptr)});
    ASSERT_EQ(got.size(), 1u);
    const TERM::LemzRadioStatus& unknown = got[0].get_status().get_lemz();
    EXPECT_FALSE(unknown.squelshe_isPresent() || unknown.rte_isPresent() || unknown.standby_group_isPresent());
    EXPECT_TRUE(unknown.standby_state_channel_isPresent() && unknown.standby_state_receiver_isPresent());
    Written();
    ctl.ResetClocks(1000);
    ctl.ProcessRadioStatus(2000, 1000);
    auto refreshed = Written();
    ASSERT_EQ(refreshed.size(), 3u);
    EXPECT_EQ(refreshed[1], Cat(Cat({WM_CHAN}, h), {0, 0, 0, 12, 0x43, 0x11, 0x80, 0, 255, 255, 0, 0}));
    EXPECT_EQ(refreshed[2][0], WM_SELECT_RC_CHAN);

    // Either standby state left out is unknown as well.
    s.set_standby_group(7);
    s.omit_standby_state_channel();
    s.omit_standby_state_receiver();
    ASSERT_TRUE(ctl.SendASNToChan(status));
    got = Deliver(ctl, {Header(GW_FLAG, nullptr)});
    ASSERT_EQ(got.size(), 1u);
    const TERM::LemzRadioStatus& states = got[0].get_status().get_lemz();
    EXPECT_TRUE(states.standby_group_isPresent());
    EXPECT_FALSE(states.standby_state_channel_isPresent());
    EXPECT_FALSE(states.standby_state_receiver_isPresent());
}

// Each refresh slot's command restarts its own clock only: 0 flags and
// transmission, 1 channel, 2 remote radio, 3 standby.
TEST_F(LemzFields, CommandsRestartTheirOwnClock)
{
    rtp_ext_init_params init{};
    Open<LemzRadioGWControl> ctl(3, Attach(), init);
    const struct {
        std::function<void(Params&)> fill;
        int slot;
    } rows[] = {
        {[](Params& p) { p.select_wm_flags(); }, 0},
        {[](Params& p) { p.select_wm_chan(); }, 1},
        {[](Params& p) { p.select_wm_remote(); }, 2},
        {[](Params& p) { p.select_wm_standby(); }, 3},
    };
    Mux::g_tv_mono = Mux::timeval(50, 0);
    for (auto const& r : rows) {
        ctl.ResetClocks(49000);
        ASSERT_TRUE(ctl.SendASNToChan(Command(r.fill)));
        for (int slot = 0; slot < 4; ++slot)
            EXPECT_EQ(ctl.clock(slot), slot == r.slot ? 50000u : 49000u) << r.slot << " " << slot;
    }
}

// A slot is refreshed once it is 1000 ms old, not at 999; each of slots
// 1-3 only while every value it carries is known (0 or more).
TEST_F(LemzFields, RefreshAgeAndWhatMakesASlotDue)
{
    rtp_ext_init_params init{};
    Open<LemzRadioGWControl> ctl(3, Attach(), init);
    LemzRadioState& a = ctl.announcedState();
    a.standby_state_channel = a.standby_group = a.standby_state_receiver = 0;
    ctl.ResetClocks(5000);
    EXPECT_EQ(ctl.ProcessRadioStatus(5999, 1000), 11u);
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(ctl.ProcessRadioStatus(6000, 1000), 1000u);
    auto w = Written();
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[3], (Frame{WM_STANDBY, 0xF0, 0, 0, 0, 0, 0, 0}));
    // A shorter interval the slot may set is followed too.
    EXPECT_EQ(ctl.ProcessRadioStatus(6100, 500), 410u);

    struct Row {
        std::function<void(LemzRadioState&)> unset;
        uint32_t missing;
    } rows[] = {
        {[](LemzRadioState& s) { s.channel = -1; }, WM_CHAN},
        {[](LemzRadioState& s) { s.frequency = -0.5f; }, WM_CHAN},
        {[](LemzRadioState& s) { s.remote_no = -1; }, WM_SELECT_RC_CHAN},
        {[](LemzRadioState& s) { s.remote_ch = -1; }, WM_SELECT_RC_CHAN},
        {[](LemzRadioState& s) { s.standby_state_channel = -1; }, WM_STANDBY},
        {[](LemzRadioState& s) { s.standby_group = -1; }, WM_STANDBY},
        {[](LemzRadioState& s) { s.standby_state_receiver = -1; }, WM_STANDBY},
    };
    uint32_t t = 10000;
    for (Row const& r : rows) {
        a = LemzRadioState();
        a.standby_state_channel = a.standby_group = a.standby_state_receiver = 0;
        r.unset(a);
        ctl.ResetClocks(t);
        ctl.ProcessRadioStatus(t += 1000, 1000);
        std::vector<uint32_t> kinds;
        for (Frame const& f : Written())
            kinds.push_back(f[0]);
        std::vector<uint32_t> want;
        for (uint32_t k : {WM_FLAG, WM_CHAN, WM_SELECT_RC_CHAN, WM_STANDBY})
            if (k != r.missing)
                want.push_back(k);
        EXPECT_EQ(kinds, want) << r.missing;
    }
}

// The timer the slots start runs once a second: the first refresh comes
// 1000 ms after the control was made, and the next one a second later.
TEST_F(LemzFields, RefreshTimerOfTheDefaultInterval)
{
    Mux::g_tv_mono = Mux::timeval(40, 0);
    rtp_ext_init_params init{};
    Open<LemzRadioGWControl> ctl(3, Attach(), init);
    ctl.SetTimerEnable(true);
    auto at = [&](int ms) {
        Mux::g_tv_mono = Mux::timeval(40 + ms / 1000, ms % 1000 * 1000);
        multiplexer.timers_schedule();
        return Written().size();
    };
    EXPECT_EQ(at(999), 0u);
    EXPECT_EQ(at(1000), 3u);
    EXPECT_EQ(at(1999), 0u);
    EXPECT_EQ(at(2000), 3u);
}

// Pre-emption by a priority one better than the holder's, by each
// push-to-talk kind; not by the same priority nor by another kind.
TEST_F(LemzFields, PreemptionAtThePriorityNextToTheHolders)
{
    rtp_ext_init_params init{};
    Open<LemzRadioGWControl> ctl(3, Attach(), init);
    ctl.Bind(&reports);
    for (uint32_t kind = 1; kind <= 135; kind = kind == 13 ? 129 : kind + 1) {
        for (uint32_t prio : {4u, 5u}) {
            LemzRadioState& a = ctl.announcedState();
            a.ptt = 1;
            a.prio = 5;
            a.session_addr = Address("10.0.0.1").s_addr;
            sig_proto p;
            sig_proto_init(&p);
            p.type = kind;
            p.priority = prio;
            p.flag_p = 1;
            p.payload.gw_sel_call.callerID_length = 0;
            bool ptt = kind == 1 || kind == 3 || kind == 9 || kind == 129 || kind == 130 || kind == 133;
            EXPECT_EQ(Deliver(ctl, {rtptest::Pack(p)}).size(), ptt && prio == 4 ? 1u : 0u) << kind << " at " << prio;
        }
    }
}

// ED-137.

TERM::ED137RadioHeader EdHeader(int ptt, int squ, unsigned id, bool mute, bool summation, bool sct)
{
    TERM::ED137RadioHeader h;
    h.get_ptt().setFromInt(ptt);
    h.get_squ().setFromInt(squ);
    h.set_ptt_id(id);
    h.set_ptt_mute(mute);
    h.set_ptt_summation(summation);
    h.set_sct(sct);
    return h;
}

TERM::RadioModifier EdRx(TERM::ED137RadioHeader const& h, int method = -1, unsigned quality = 0)
{
    TERM::RadioModifier m;
    auto& ed = m.select_ed_137();
    ed.get_addr().set_session_addr("10.0.0.9");
    ed.get_addr().set_session_ssrc(99);
    auto& rx = ed.get_params().select_rx();
    rx.set_header(h);
    if (method >= 0) {
        rx.set_sqi().get_bss_method().setFromInt(method);
        rx.get_sqi().set_bss_quality(quality);
    }
    return m;
}

struct EdGW : ED137RadioGWControl {
    using ED137RadioGWControl::ED137RadioGWControl;
    using ED137RadioGWControl::OnRtpExtEvent;
};

class EdFields : public Rig {
protected:
    std::unique_ptr<EdGW> Make(uint32_t keepalive_count = 10, uint32_t sigtime_factor = 1)
    {
        rtp_ext_init_params init{};
        init.etype = 0x0167;
        init.keepalive_count = keepalive_count;
        init.sigtime_factor = sigtime_factor;
        auto ctl = std::make_unique<EdGW>(7, rtp_ext_attach_session_params{rtp.lowlevel_fd(), -1}, init);
        ctl->Bind(&reports);
        ctl->SetTimerInterval(1000);
        return ctl;
    }
};

// Commands on the wire, every header field at its bits: an RX header with
// its SQI, its complement without, a TX header; the filter on the
// command's session while the PTT is on.
TEST_F(EdFields, CommandsOnTheWire)
{
    auto ctl = Make();
    ASSERT_TRUE(ctl->SendASNToChan(EdRx(EdHeader(3, 1, 33, true, false, true), 2, 21)));
    ASSERT_TRUE(ctl->SendASNToChan(EdRx(EdHeader(4, 0, 30, false, true, false))));
    TERM::RadioModifier tx;
    auto& ed = tx.select_ed_137();
    ed.get_addr().set_session_addr("10.0.0.8");
    ed.get_params().select_tx().set_header(EdHeader(6, 1, 45, true, false, true));
    ASSERT_TRUE(ctl->SendASNToChan(tx));
    EXPECT_EQ(Written(), (std::vector<Frame>{{0x78, 0x69, 0x11, 0xAA}, {0x87, 0x90, 0, 0}, {0xCB, 0x60, 0, 0}}));
    EXPECT_TRUE(Session().filtered);
    EXPECT_EQ(Session().filter.s_addr, Address("10.0.0.8").s_addr);
    EXPECT_EQ(ctl->sent().session_ssrc, 0u);

    // A status carries the header and SQI alike; the keep-alive repeats it.
    TERM::RadioStatus status;
    auto& s = status.select_ed_137();
    s.set_header(EdHeader(2, 1, 18, false, true, true));
    s.set_sqi().get_bss_method().setFromInt(3);
    s.get_sqi().set_bss_quality(9);
    ASSERT_TRUE(ctl->SendASNToChan(status));
    Frame want{0x54, 0x99, 0x11, 0x4B};
    EXPECT_EQ(Written(), std::vector<Frame>{want});
    ctl->ProcessRadioStatus(Mux::milliseconds() + 5000, 1000);
    EXPECT_EQ(Written(), std::vector<Frame>{want});
}

// A report carries the sender's TX header field by field, and the state
// sent last as its status, SQI included.
TEST_F(EdFields, ReportsFieldByField)
{
    auto ctl = Make();
    ASSERT_TRUE(ctl->SendASNToChan(EdRx(EdHeader(3, 1, 33, true, false, true), 2, 21)));
    auto tx = [](uint32_t ptt, uint32_t id, uint32_t mute, uint32_t summation) {
        r2s_proto p;
        r2s_proto_init(&p, kR2sRx); // RX-only bits set: a TX packet does not carry them
        r2s_proto_set_rx_header(&p, ptt, 1, id, mute, summation, 1);
        Frame f(16);
        f.resize(static_cast<size_t>(r2s_proto_pack(&p, f.data(), f.size())));
        return f;
    };
    r2s_proto direct;
    r2s_proto_init(&direct, kR2sTx);
    direct.ptt = 1;
    reports.got.clear();
    EXPECT_EQ(ctl->OnRtpProtoRXEvent(direct), 0);
    EXPECT_EQ(ctl->OnRtpProtoRXEvent(direct), 0) << "a repeat, not reported";
    EXPECT_EQ(reports.got.size(), 1u);
    const struct {
        uint32_t ptt, id, mute, summation;
    } rows[] = {{5, 45, 1, 0}, {2, 18, 0, 1}};
    for (auto const& r : rows) {
        auto got = Deliver(*ctl, {tx(r.ptt, r.id, r.mute, r.summation)});
        ASSERT_EQ(got.size(), 1u);
        const TERM::ED137RadioModifier& m = got[0].get_request().get_ed_137();
        EXPECT_EQ(m.get_addr().get_session_addr(), "10.0.0.5");
        EXPECT_EQ(m.get_addr().get_session_ssrc().getValue(), 55u);
        ASSERT_TRUE(m.get_params().tx_isSelected());
        const TERM::ED137RadioHeader& h = m.get_params().get_tx().get_header();
        EXPECT_EQ(h.get_ptt().asInt(), static_cast<int>(r.ptt));
        EXPECT_EQ(h.get_ptt_id().getValue(), r.id);
        EXPECT_EQ(h.get_ptt_mute(), r.mute != 0);
        EXPECT_EQ(h.get_ptt_summation(), r.summation != 0);
        EXPECT_EQ(h.get_squ().asInt(), 0);
        EXPECT_FALSE(h.get_sct());

        const TERM::ED137RadioStatus& st = got[0].get_status().get_ed_137();
        EXPECT_EQ(st.get_header().get_ptt().asInt(), 3);
        EXPECT_EQ(st.get_header().get_squ().asInt(), 1);
        EXPECT_EQ(st.get_header().get_ptt_id().getValue(), 33u);
        EXPECT_TRUE(st.get_header().get_ptt_mute());
        EXPECT_FALSE(st.get_header().get_ptt_summation());
        EXPECT_TRUE(st.get_header().get_sct());
        EXPECT_EQ(st.get_sqi().get_bss_method().asInt(), 2);
        EXPECT_EQ(st.get_sqi().get_bss_quality().getValue(), 21u);
        EXPECT_FALSE(st.radio_response_isPresent());
    }
}

// The clocks at their edges: a keep-alive once the interval is full, the
// link lost at period times multiplier of silence, an unchanged report
// again once an interval has passed.
TEST_F(EdFields, ClocksAtTheirEdges)
{
    const uint64_t t0 = 5000;
    Mux::g_tv_mono = Mux::timeval(5, 0);
    auto ctl = Make();
    EXPECT_EQ(ctl->ProcessRadioStatus(t0 + 999, 1000), 11u);
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(ctl->ProcessRadioStatus(t0 + 1000, 1000), 1000u);
    EXPECT_EQ(Written().size(), 1u);
    ctl->ProcessRadioStatus(t0 + 1999, 1000);
    EXPECT_TRUE(reports.codes.empty());
    ctl->ProcessRadioStatus(t0 + 2000, 1000);
    EXPECT_EQ(reports.codes, std::vector<int>{151});
    ED137RadioParams p;
    p.r2s_keepalive_period = 20;
    p.r2s_keepalive_multiplier = 3;
    reports.codes.clear();
    ctl = Make();
    ctl->SetParams(p);
    ctl->ProcessRadioStatus(t0 + 59, 1000);
    EXPECT_TRUE(reports.codes.empty());
    ctl->ProcessRadioStatus(t0 + 60, 1000);
    EXPECT_EQ(reports.codes, std::vector<int>{151});

    ctl = Make();
    r2s_proto tx;
    r2s_proto_init(&tx, kR2sTx);
    r2s_proto_set_tx_header(&tx, 1, 7, 0, 0);
    Frame f(8);
    f.resize(static_cast<size_t>(r2s_proto_pack(&tx, f.data(), f.size())));
    EXPECT_EQ(Deliver(*ctl, {f}).size(), 1u);
    Mux::g_tv_mono = Mux::timeval(5, 999000);
    EXPECT_TRUE(Deliver(*ctl, {f}).empty());
    Mux::g_tv_mono = Mux::timeval(6, 0);
    EXPECT_EQ(Deliver(*ctl, {f}).size(), 1u);
}

// A record into a state: the TX form's four header fields; the RX form's
// six and the SQI, the last of the first sixteen features winning.
TEST(EdDecode, BothFormsIntoTheState)
{
    r2s_proto tx;
    r2s_proto_init(&tx, kR2sTx);
    r2s_proto_set_rx_header(&tx, 5, 1, 45, 1, 0, 1);
    tx.type = kR2sTx;
    tx.source_addr = 0x0100000A;
    tx.source_ssrc = 55;
    ED137RadioState s;
    ED137RadioControl::DecodeProto(tx, s);
    EXPECT_EQ(s.command, 0x2001u);
    EXPECT_EQ(std::vector<uint32_t>({s.ptt, s.squ, s.ptt_id, s.ptt_mute, s.ptt_summation, s.sct}),
              std::vector<uint32_t>({5, 0, 45, 1, 0, 0}));
    EXPECT_EQ(s.session_addr, 0x0100000Au);
    EXPECT_EQ(s.session_ssrc, 55u);

    r2s_proto rx;
    r2s_proto_init(&rx, kR2sRx);
    r2s_proto_set_rx_header(&rx, 3, 1, 18, 0, 1, 1);
    r2s_proto_add_rx_sqi(&rx, 21, 2);
    s = ED137RadioState();
    ED137RadioControl::DecodeProto(rx, s);
    EXPECT_EQ(s.command, 0x1003u);
    EXPECT_EQ(std::vector<uint32_t>({s.ptt, s.squ, s.ptt_id, s.ptt_mute, s.ptt_summation, s.sct, s.bss_quality,
                                     s.bss_method}),
              std::vector<uint32_t>({3, 1, 18, 0, 1, 1, 21, 2}));
    r2s_proto_rx_additional_rrc rrc{};
    r2s_proto_add_rx_rrc(&rx, &rrc);
    r2s_proto_add_rx_sqi(&rx, 9, 4);
    s = ED137RadioState();
    ED137RadioControl::DecodeProto(rx, s);
    EXPECT_EQ(s.bss_quality, 9u);
    EXPECT_EQ(s.bss_method, 4u);
    // Only the first sixteen count.
    rx.additional_count = 16;
    rx.additionals[15].kind = kR2sFeatureSqi;
    rx.additionals[15].sqi = {30, 1};
    s = ED137RadioState();
    ED137RadioControl::DecodeProto(rx, s);
    EXPECT_EQ(s.bss_quality, 30u);
    r2s_proto_init(&rx, kR2sRx);
    r2s_proto_add_rx_rrc(&rx, &rrc);
    rx.additionals[1].kind = kR2sFeatureSqi; // past the count: not a feature
    s = ED137RadioState();
    ED137RadioControl::DecodeProto(rx, s);
    EXPECT_EQ(s.command, 0x1001u) << "no SQI among the features";
}

// A state into the controller's parameters by its class: RX with the SQI
// only when it carries one, TX, or nothing.
TEST(EdEncode, ParamsByClass)
{
    ED137RadioState s;
    const uint32_t fresh[] = {s.command,  s.ptt,        s.squ,         s.ptt_id,       s.ptt_mute,    s.ptt_summation,
                              s.sct,      s.bss_method, s.bss_quality, s.session_addr, s.session_ssrc};
    for (uint32_t v : fresh)
        EXPECT_EQ(v, 0u) << "a state starts at zero";
    s.ptt = 3;
    s.squ = 1;
    s.ptt_id = 33;
    s.ptt_mute = 1;
    s.sct = 1;
    s.bss_method = 2;
    s.bss_quality = 21;
    for (uint32_t command : {0x1001u, 0x1003u, 0x2001u, 0x3001u, 0x0003u}) {
        s.command = command;
        TERM::ED137RadioModifierParams p;
        EXPECT_EQ(s.EncodeASN(p), 0);
        EXPECT_EQ(p.rx_isSelected(), (command & 0xF000) == 0x1000) << std::hex << command;
        EXPECT_EQ(p.tx_isSelected(), command == 0x2001u) << std::hex << command;
        if (p.rx_isSelected()) {
            const TERM::ED137RadioHeader& h = p.get_rx().get_header();
            EXPECT_EQ(h.get_ptt().asInt(), 3);
            EXPECT_EQ(h.get_squ().asInt(), 1);
            EXPECT_EQ(h.get_ptt_id().getValue(), 33u);
            EXPECT_TRUE(h.get_ptt_mute() && h.get_sct() && !h.get_ptt_summation());
            ASSERT_EQ(p.get_rx().sqi_isPresent(), command == 0x1003u);
            if (command == 0x1003u) {
                EXPECT_EQ(p.get_rx().get_sqi().get_bss_method().asInt(), 2);
                EXPECT_EQ(p.get_rx().get_sqi().get_bss_quality().getValue(), 21u);
            }
        }
    }
}

// A command without SQI keeps the signal quality sent before it: the
// status of the next report still shows it.
TEST_F(EdFields, SignalQualityStaysUntilTheNextOne)
{
    auto ctl = Make();
    ASSERT_TRUE(ctl->SendASNToChan(EdRx(EdHeader(0, 1, 1, false, false, false), 3, 9)));
    ASSERT_TRUE(ctl->SendASNToChan(EdRx(EdHeader(1, 0, 2, false, false, false))));
    EXPECT_EQ(Written(), (std::vector<Frame>{{0x10, 0x41, 0x11, 0x4B}, {0x20, 0x80, 0, 0}}));
    EXPECT_FALSE(ctl->GetSQU());
    Frame tx{0x20, 0x40, 0, 0};
    auto got = Deliver(*ctl, {tx});
    ASSERT_EQ(got.size(), 1u);
    const TERM::ED137RadioStatus& st = got[0].get_status().get_ed_137();
    EXPECT_EQ(st.get_header().get_ptt().asInt(), 1);
    EXPECT_EQ(st.get_header().get_ptt_id().getValue(), 2u);
    EXPECT_EQ(st.get_sqi().get_bss_method().asInt(), 3);
    EXPECT_EQ(st.get_sqi().get_bss_quality().getValue(), 9u);
    // The keep-alive of a state without SQI carries none.
    ctl->ProcessRadioStatus(Mux::milliseconds() + 5000, 1000);
    EXPECT_EQ(Written(), (std::vector<Frame>{{0x20, 0x80, 0, 0}}));
}

// Reports only for a radio that may transmit: types 2-4 in modes 0 and 2.
TEST_F(EdFields, WhichRadiosReport)
{
    auto ctl = Make();
    r2s_proto tx;
    r2s_proto_init(&tx, kR2sTx);
    Frame f(8);
    for (uint32_t type = 0; type <= 5; ++type)
        for (uint32_t mode = 0; mode <= 3; ++mode) {
            ED137RadioParams p;
            p.type = type;
            p.txrxmode = mode;
            ctl->SetParams(p);
            r2s_proto_set_tx_header(&tx, 1, type * 4 + mode, 0, 0); // a new state each time
            f.resize(8);
            f.resize(static_cast<size_t>(r2s_proto_pack(&tx, f.data(), f.size())));
            bool taken = type >= 2 && type <= 4 && (mode == 0 || mode == 2);
            EXPECT_EQ(Deliver(*ctl, {f}).size(), taken ? 1u : 0u) << type << "/" << mode;
            EXPECT_EQ(ctl->OnRtpProtoRXEvent(tx), 0) << type << "/" << mode;
        }
}

// What is sent again unchanged: always without keep-alives (count 0) or
// without a signalling time (factor 0); with both, only a change.
TEST_F(EdFields, RepeatedStatesAndTheInitRecord)
{
    const struct {
        uint32_t count, factor;
        size_t written;
    } rows[] = {{1, 1, 1}, {0, 1, 2}, {1, 0, 2}, {10, 50, 1}};
    for (auto const& r : rows) {
        auto ctl = Make(r.count, r.factor);
        Written();
        ctl->SendASNToChan(EdRx(EdHeader(1, 1, 3, false, false, false)));
        ctl->SendASNToChan(EdRx(EdHeader(1, 1, 3, false, false, false)));
        EXPECT_EQ(Written().size(), r.written) << r.count << "/" << r.factor;
        ctl->RtpExtStop();
        board.Prune();
    }
}

} // namespace
