#include "rtp/lemz_control.h"

#include "board/device.h"
#include "core/slots.h"
#include "framework/mux_time.h"
#include "protocol/term.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cerrno>
#include <initializer_list>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace RTPSignalling {

namespace {

void CopyCallerId(char* to, const char* from)
{
    std::memset(to, 0, kCallerIdSize);
    std::memcpy(to, from, strnlen(from, kCallerIdSize - 1));
}

std::string Decimal(float value)
{
    char text[256];
    std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(value));
    return text;
}

void FlagsFrom(TERM::RadioFlags const& f, LemzRadioState& s)
{
    s.prio = f.get_prio().getValue();
    s.ptt = f.get_ptt();
    s.bss = f.get_bss();
    s.vad_rx = f.get_vad_rx();
    s.vad_tx = f.get_vad_tx();
    s.sql = f.get_sql();
    s.sh = f.get_sh();
    s.pwr = f.get_pwr();
    s.rv = f.get_rv();
    s.resv = f.get_resv();
    s.selcall = static_cast<int32_t>(f.get_selcall().getValue());
    s.li = static_cast<int32_t>(f.get_li().getValue());
}

TERM::RadioFlags Flags(LemzRadioState const& s)
{
    TERM::RadioFlags f;
    f.set_prio(s.prio);
    f.set_ptt(s.ptt != 0);
    f.set_bss(s.bss != 0);
    f.set_vad_rx(s.vad_rx != 0);
    f.set_vad_tx(s.vad_tx != 0);
    f.set_sql(s.sql != 0);
    f.set_sh(s.sh != 0);
    f.set_pwr(s.pwr != 0);
    f.set_rv(s.rv != 0);
    f.set_resv(s.resv != 0);
    f.set_selcall(static_cast<unsigned>(s.selcall) & 3);
    f.set_li(static_cast<unsigned>(s.li) & 511);
    return f;
}

// The text read as a decimal number, 0 when it is none; false when the
// value is not a finite number the packet's float can hold.
bool FloatFrom(std::string const& text, float& value)
{
    double v = std::strtod(text.c_str(), nullptr);
    // "nan" would pass every comparison after it.
    if (!std::isfinite(v) || std::fabs(v) > static_cast<double>(FLT_MAX))
        return false;
    value = static_cast<float>(v);
    return true;
}

bool FreqFrom(TERM::RadioFrequency const& f, LemzRadioState& s)
{
    s.channel = f.get_channel().getValue();
    return FloatFrom(f.get_frequency(), s.frequency);
}

TERM::RadioFrequency Freq(LemzRadioState const& s)
{
    TERM::RadioFrequency f;
    f.set_channel(s.channel);
    f.set_frequency(Decimal(s.frequency));
    return f;
}

TERM::RadioRemote Remote(LemzRadioState const& s)
{
    TERM::RadioRemote r;
    r.set_no(static_cast<unsigned>(s.remote_no) & 255);
    r.set_ch(static_cast<unsigned>(s.remote_ch) & 255);
    return r;
}

template <class Enumeration>
Enumeration Enum(int32_t value)
{
    Enumeration e;
    e.setFromInt(value);
    return e;
}

// The clock a sent kind restarts; -1 for none.
int ClockOf(int32_t command)
{
    switch (command) {
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS:
        return LemzRadioControl::kFlags;
    case WM_CHAN:
        return LemzRadioControl::kChan;
    case WM_SELECT_RC_CHAN:
        return LemzRadioControl::kRemote;
    case WM_STANDBY:
        return LemzRadioControl::kStandby;
    default:
        return -1;
    }
}

} // namespace

LemzRadioControl::LemzRadioControl(int slot, rtp_ext_attach_session_params const& attach,
                                   rtp_ext_init_params const& init)
    : RadioControl(slot, attach, init)
{
    Init();
}

LemzRadioControl::LemzRadioControl(rtp_ext_init_params const& init)
    : RadioControl(init)
{
    Init();
}

LemzRadioControl::LemzRadioControl(int slot, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(slot, std::move(rtp), attach)
{
    Init();
}

int LemzRadioControl::Init()
{
    mLastProcess = Mux::milliseconds();
    ResetClocks(mLastProcess);
    sig_proto_init(&mCurrent);
    sig_proto_init(&mPrevious);
    return 0;
}

void LemzRadioControl::ResetClocks(uint32_t now)
{
    for (uint32_t& c : mClock)
        c = now;
}

void LemzRadioControl::UpdateFilter()
{
    in_addr holder{};
    holder.s_addr = mAnnounced.session_addr;
    UpdateAccess(mAnnounced.ptt != 0, holder);
}

void LemzRadioControl::OnRtpExtEvent(int, short events)
{
    if (!(events & (POLLIN | POLLHUP | POLLERR)))
        return;
    if (mDebug)
        std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
    sig_proto_init(&mPrevious);
    ReceiveBurst(
        events, mCurrent, mPrevious,
        [this](const unsigned char* buf, size_t octets) {
            sig_proto_init(&mCurrent);
            return sig_proto_unpack(&mCurrent, buf, octets);
        },
        [](sig_proto const& a, sig_proto const& b) { return cmp_sig_proto_header(&a, &b) != 0; },
        [this](sig_proto const& packet) { OnRtpProtoRXEvent(packet); });
}

int LemzRadioControl::OnRtpProtoRXEvent(sig_proto const& packet)
{
    LemzRadioState state;
    DecodeProto(packet, state);
    if (AccessFormChanToRadio(state)) {
        PutProtoFromChanToRadio(state);
        TERM::RtpRadioRequest request;
        EncodeASN(mAnnounced, state, request);
        Report(request, "command=0x", packet.type);
    }
    UpdateFilter();
    return 0;
}

int LemzRadioControl::DecodeProto(sig_proto const& p, LemzRadioState& s)
{
    s.command = static_cast<int32_t>(p.type);
    s.prio = static_cast<int32_t>(p.priority);
    s.ptt = static_cast<int32_t>(p.flag_p);
    s.vad_tx = static_cast<int32_t>(p.flag_t);
    s.vad_rx = static_cast<int32_t>(p.flag_r);
    s.sql = static_cast<int32_t>(p.flag_s);
    s.bss = static_cast<int32_t>(p.flag_b);
    s.rv = static_cast<int32_t>(p.flag_rv);
    s.sh = static_cast<int32_t>(p.flag_sh);
    s.resv = static_cast<int32_t>(p.flag_rs);
    s.pwr = static_cast<int32_t>(p.flag_pw);
    s.selcall = static_cast<int32_t>(p.flag_c);
    s.li = static_cast<int32_t>(p.status);
    s.source_addr = p.source_addr;
    s.source_ssrc = p.source_ssrc;
    const auto& v = p.payload;
    switch (p.type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
    case WM_FLAG:
        return 0;
    case GW_ADJUST_CHAN:
        s.channel = static_cast<int32_t>(v.gw_adjust_chan.id);
        s.frequency = v.gw_adjust_chan.freq;
        return 0;
    case GW_SEL_CALL: {
        char id[kCallerIdSize] = {};
        std::memcpy(id, v.gw_sel_call.callerID, v.gw_sel_call.callerID_length);
        CopyCallerId(s.callerID, id);
        return 0;
    }
    case GW_SELECT_RC_CHAN:
        s.remote_no = v.gw_select_rc_chan.interface;
        s.remote_ch = v.gw_select_rc_chan.channel;
        return 0;
    case WM_SELECT_RC_CHAN:
        s.remote_no = v.wm_select_rc_chan.interface;
        s.remote_ch = v.wm_select_rc_chan.channel;
        return 0;
    case GW_ADJUST_SQUELSHE:
        s.squelshe = v.gw_adjust_squelsh.squelsh;
        return 0;
    case GW_ADJUST_RTE:
        s.rte = v.gw_adjust_rte.rte;
        return 0;
    case GW_ADJUST_STANDBY:
        s.standby_state_channel = v.gw_adjust_standby.state;
        return 0;
    case WM_TRANS:
        s.session_addr = v.wm_trans.session_addr.s_addr;
        s.ssrc = v.wm_trans.ssrc;
        return 0;
    case WM_RADIO_QUALITY:
        s.quality = v.wm_radio_quality.radio_quality;
        return 0;
    case WM_CHAN:
        s.channel = static_cast<int32_t>(v.wm_chan.id);
        s.frequency = v.wm_chan.freq;
        s.squelshe = v.wm_chan.squelsh;
        s.rte = v.wm_chan.rte;
        return 0;
    case WM_SEL_CALL_TRANS: {
        s.session_addr = v.wm_sel_call_trans.session_addr.s_addr;
        s.ssrc = v.wm_sel_call_trans.ssrc;
        char id[kCallerIdSize] = {};
        std::memcpy(id, v.wm_sel_call_trans.callerID, v.wm_sel_call_trans.callerID_length);
        CopyCallerId(s.callerID, id);
        return 0;
    }
    case WM_STANDBY:
        s.standby_state_channel = v.wm_standby.state;
        s.standby_group = v.wm_standby.group;
        s.standby_state_receiver = v.wm_standby.receiver_state;
        return 0;
    default:
        return -1;
    }
}

bool LemzRadioControl::SendASNToChan(TERM::RadioStatus const& status)
{
    if (!status.lemz_isSelected() || !CanSend("status"))
        return false;
    LemzRadioState state = mAnnounced;
    if (DecodeASN(status.get_lemz(), state) != 0 || !Fits(state)) {
        std::cerr << GetPrefix() << "radio status refused: a value does not fit its packet field" << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return false;
    }
    return SendRadioStateToChan(state) == 0;
}

bool LemzRadioControl::SendASNToChan(TERM::RadioModifier const& modifier)
{
    if (!modifier.lemz_isSelected() || !CanSend("command"))
        return false;
    LemzRadioState state = mAnnounced;
    if (DecodeASN(modifier.get_lemz(), state) != 0 || !Fits(state)) {
        std::cerr << GetPrefix() << "radio command refused: a value does not fit its packet field" << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return false;
    }
    return SendRadioStateToChan(state) == 0;
}

bool LemzRadioControl::Fits(LemzRadioState const& s)
{
    // -1 is an enumeration not known yet.
    auto octet = [](int32_t v) { return v >= -1 && v <= 255; };
    return s.prio >= 0 && s.prio <= 15 && octet(s.squelshe) && octet(s.rte) && octet(s.standby_state_channel)
           && octet(s.standby_state_receiver);
}

bool LemzRadioControl::Fits(TERM::LemzRadioStatus const& status)
{
    LemzRadioState state = mAnnounced;
    return DecodeASN(status, state) == 0 && Fits(state);
}

int LemzRadioControl::SendRadioStateToChan(LemzRadioState const& state)
{
    LemzRadioState before = mAnnounced;
    sig_proto packet;
    if (PutProtoFromRadioToChan(state) == 0 && EncodeProto(state, packet) == 0) {
        // A command the far end never got changes nothing here either.
        if (SendProtoToChan(packet) <= 0) {
            mAnnounced = before;
            std::cerr << GetPrefix() << "command=0x" << std::hex << state.command << std::dec
                      << " not written: nothing applied" << std::endl;
            Answer::Refuse(Answer::internal);
            return -1;
        }
        mLastProcess = Mux::milliseconds();
        int clock = ClockOf(state.command);
        if (mMode == kRadioModeGateway && clock >= 0)
            mClock[clock] = mLastProcess;
    }
    if (mDebug) {
        TERM::RtpRadioRequest report;
        EncodeStatusASN(mAnnounced, report);
        std::clog << GetPrefix() << "command=0x" << std::hex << state.command << std::dec
                  << " receive extension from controller: " << report << std::endl;
    }
    UpdateFilter();
    return 0;
}

int LemzRadioControl::SendProtoToChan(sig_proto& packet)
{
    unsigned char buf[RtpExtRequest::kPacketBuffer];
    return WriteExtPacket(buf, sig_proto_pack(&packet, buf, sizeof buf));
}

int LemzRadioControl::DecodeASN(TERM::LemzRadioModifier const& modifier, LemzRadioState& s)
{
    s.command = 0;
    s.source_addr = ::inet_addr(modifier.get_addr().get_session_addr().c_str());
    s.source_ssrc = modifier.get_addr().get_session_ssrc().getValue();
    const TERM::LemzRadioModifierParams& p = modifier.get_params();
    const TERM::RadioFlags* flags = nullptr;
    bool inRange = true;
    auto address = [&](std::string const& ip, unsigned ssrc) {
        s.session_addr = ::inet_addr(ip.c_str());
        s.ssrc = ssrc;
    };
    struct FlagCommand {
        bool selected;
        const TERM::RadioCommandGWSetFlags* body;
        int32_t command;
    };
    // Every flag-carrying command sets the whole flag group.
    const FlagCommand flagCommands[] = {
        {p.gw_set_flags_isSelected(), p.gw_set_flags_isSelected() ? &p.get_gw_set_flags() : nullptr, GW_FLAG},
        {p.gw_set_ptt_isSelected(), p.gw_set_ptt_isSelected() ? &p.get_gw_set_ptt() : nullptr, GW_FLAG_PTT},
        {p.gw_set_bss_isSelected(), p.gw_set_bss_isSelected() ? &p.get_gw_set_bss() : nullptr, GW_FLAG_BSS},
        {p.gw_set_sh_isSelected(), p.gw_set_sh_isSelected() ? &p.get_gw_set_sh() : nullptr, GW_FLAG_SH},
        {p.gw_set_pwr_isSelected(), p.gw_set_pwr_isSelected() ? &p.get_gw_set_pwr() : nullptr, GW_FLAG_PW},
        {p.gw_set_rv_isSelected(), p.gw_set_rv_isSelected() ? &p.get_gw_set_rv() : nullptr, GW_FLAG_RV},
        {p.gw_set_resv_isSelected(), p.gw_set_resv_isSelected() ? &p.get_gw_set_resv() : nullptr, GW_FLAG_RS},
    };
    for (const FlagCommand& c : flagCommands)
        if (c.selected) {
            s.command = c.command;
            flags = &c.body->get_flags();
        }
    if (p.gw_set_freq_isSelected()) {
        s.command = GW_ADJUST_CHAN;
        inRange = FreqFrom(p.get_gw_set_freq().get_freq(), s);
    } else if (p.gw_set_selcall_isSelected()) {
        const auto& b = p.get_gw_set_selcall();
        s.command = GW_SEL_CALL;
        address(b.get_ip(), b.get_ssrc().getValue());
        CopyCallerId(s.callerID, b.get_cid().c_str());
        flags = &b.get_flags();
    } else if (p.gw_set_remote_isSelected()) {
        s.command = GW_SELECT_RC_CHAN;
        s.remote_no = static_cast<int32_t>(p.get_gw_set_remote().get_remote().get_no().getValue());
        s.remote_ch = static_cast<int32_t>(p.get_gw_set_remote().get_remote().get_ch().getValue());
    } else if (p.gw_set_squelshe_isSelected()) {
        s.command = GW_ADJUST_SQUELSHE;
        s.squelshe = p.get_gw_set_squelshe().get_squelshe().asInt();
    } else if (p.gw_set_rte_isSelected()) {
        s.command = GW_ADJUST_RTE;
        s.rte = p.get_gw_set_rte().get_rte().asInt();
    } else if (p.gw_set_standby_isSelected()) {
        s.command = GW_ADJUST_STANDBY;
        s.standby_state_channel = p.get_gw_set_standby().get_state().asInt();
    } else if (p.wm_flags_isSelected()) {
        s.command = WM_FLAG;
        flags = &p.get_wm_flags().get_flags();
    } else if (p.wm_trans_isSelected()) {
        const auto& b = p.get_wm_trans();
        s.command = WM_TRANS;
        address(b.get_ip(), b.get_ssrc().getValue());
        flags = &b.get_flags();
    } else if (p.wm_quality_isSelected()) {
        s.command = WM_RADIO_QUALITY;
        inRange = FloatFrom(p.get_wm_quality().get_bss_val(), s.quality);
    } else if (p.wm_chan_isSelected()) {
        const auto& b = p.get_wm_chan();
        s.command = WM_CHAN;
        inRange = FreqFrom(b.get_freq(), s);
        s.squelshe = b.get_squelshe().asInt();
        s.rte = b.get_rte().asInt();
    } else if (p.wm_selcall_isSelected()) {
        const auto& b = p.get_wm_selcall();
        s.command = WM_SEL_CALL_TRANS;
        address(b.get_ip(), b.get_ssrc().getValue());
        CopyCallerId(s.callerID, b.get_cid().c_str());
        flags = &b.get_flags();
    } else if (p.wm_remote_isSelected()) {
        s.command = WM_SELECT_RC_CHAN;
        s.remote_no = static_cast<int32_t>(p.get_wm_remote().get_remote().get_no().getValue());
        s.remote_ch = static_cast<int32_t>(p.get_wm_remote().get_remote().get_ch().getValue());
    } else if (p.wm_standby_isSelected()) {
        const auto& b = p.get_wm_standby();
        s.command = WM_STANDBY;
        s.standby_state_channel = b.get_state_channel().asInt();
        s.standby_group = static_cast<int32_t>(b.get_group().getValue());
        s.standby_state_receiver = b.get_state_receiver().asInt();
    }
    if (flags)
        FlagsFrom(*flags, s);
    return inRange ? 0 : -1;
}

int LemzRadioControl::DecodeASN(TERM::LemzRadioStatus const& status, LemzRadioState& s)
{
    s.command = 0;
    FlagsFrom(status.get_flags(), s);
    bool inRange = FreqFrom(status.get_freq(), s);
    // A field left out is one not known yet.
    s.rte = status.rte_isPresent() ? status.get_rte().asInt() : -1;
    s.squelshe = status.squelshe_isPresent() ? status.get_squelshe().asInt() : -1;
    s.remote_no = static_cast<int32_t>(status.get_remote().get_no().getValue());
    s.remote_ch = static_cast<int32_t>(status.get_remote().get_ch().getValue());
    s.standby_state_channel =
        status.standby_state_channel_isPresent() ? status.get_standby_state_channel().asInt() : -1;
    s.standby_group =
        status.standby_group_isPresent() ? static_cast<int32_t>(status.get_standby_group().getValue()) : -1;
    s.standby_state_receiver =
        status.standby_state_receiver_isPresent() ? status.get_standby_state_receiver().asInt() : -1;
    return inRange ? 0 : -1;
}

int LemzRadioControl::EncodeStatusASN(LemzRadioState const& s, TERM::RtpRadioRequest& request)
{
    TERM::LemzRadioStatus& status = request.get_status().select_lemz();
    status.set_flags(Flags(s));
    status.set_freq(Freq(s));
    status.set_remote(Remote(s));
    // Unknown values (-1) travel as absent fields.
    if (s.squelshe >= 0)
        status.set_squelshe(Enum<TERM::RadioSquelshe>(s.squelshe));
    if (s.rte >= 0)
        status.set_rte(Enum<TERM::RadioRTE>(s.rte));
    if (s.standby_state_channel >= 0)
        status.set_standby_state_channel(Enum<TERM::RadioStandby>(s.standby_state_channel));
    if (s.standby_group >= 0 && s.standby_group <= 255)
        status.set_standby_group(static_cast<unsigned>(s.standby_group));
    if (s.standby_state_receiver >= 0)
        status.set_standby_state_receiver(Enum<TERM::RadioStandby>(s.standby_state_receiver));
    return 0;
}

int LemzRadioControl::EncodeASN(LemzRadioState const& announced, LemzRadioState const& r,
                                TERM::RtpRadioRequest& request)
{
    EncodeStatusASN(announced, request);
    TERM::LemzRadioModifier& m = request.set_request().select_lemz();
    m.get_addr().set_session_addr(DottedAddress(r.source_addr));
    m.get_addr().set_session_ssrc(r.source_ssrc);
    TERM::LemzRadioModifierParams& p = m.get_params();
    switch (r.command) {
    case GW_FLAG:
        p.select_gw_set_flags().set_flags(Flags(r));
        break;
    case GW_ADJUST_CHAN:
        p.select_gw_set_freq().set_freq(Freq(r));
        break;
    case GW_FLAG_PTT:
        p.select_gw_set_ptt().set_flags(Flags(r));
        break;
    case GW_FLAG_BSS:
        p.select_gw_set_bss().set_flags(Flags(r));
        break;
    case GW_FLAG_SH:
        p.select_gw_set_sh().set_flags(Flags(r));
        break;
    case GW_FLAG_PW:
        p.select_gw_set_pwr().set_flags(Flags(r));
        break;
    case GW_FLAG_RV:
        p.select_gw_set_rv().set_flags(Flags(r));
        break;
    case GW_FLAG_RS:
        p.select_gw_set_resv().set_flags(Flags(r));
        break;
    case GW_SEL_CALL: {
        auto& b = p.select_gw_set_selcall();
        b.set_flags(Flags(r));
        b.set_ip(DottedAddress(r.session_addr));
        b.set_ssrc(r.ssrc);
        b.set_cid(r.callerID);
        break;
    }
    case GW_SELECT_RC_CHAN:
        p.select_gw_set_remote().set_remote(Remote(r));
        break;
    case GW_ADJUST_SQUELSHE:
        p.select_gw_set_squelshe().set_squelshe(Enum<TERM::RadioSquelshe>(r.squelshe));
        break;
    case GW_ADJUST_RTE:
        p.select_gw_set_rte().set_rte(Enum<TERM::RadioRTE>(r.rte));
        break;
    case GW_ADJUST_STANDBY:
        p.select_gw_set_standby().set_state(Enum<TERM::RadioStandby>(r.standby_state_channel));
        break;
    case WM_FLAG:
        p.select_wm_flags().set_flags(Flags(r));
        break;
    case WM_TRANS: {
        auto& b = p.select_wm_trans();
        b.set_flags(Flags(r));
        b.set_ip(DottedAddress(r.session_addr));
        b.set_ssrc(r.ssrc);
        break;
    }
    case WM_RADIO_QUALITY:
        p.select_wm_quality().set_bss_val(Decimal(r.quality));
        break;
    case WM_CHAN: {
        auto& b = p.select_wm_chan();
        b.set_freq(Freq(r));
        b.set_squelshe(Enum<TERM::RadioSquelshe>(r.squelshe));
        b.set_rte(Enum<TERM::RadioRTE>(r.rte));
        break;
    }
    case WM_SEL_CALL_TRANS: {
        auto& b = p.select_wm_selcall();
        b.set_flags(Flags(r));
        b.set_ip(DottedAddress(r.session_addr));
        b.set_ssrc(r.ssrc);
        b.set_cid(r.callerID);
        break;
    }
    case WM_SELECT_RC_CHAN:
        p.select_wm_remote().set_remote(Remote(r));
        break;
    case WM_STANDBY: {
        auto& b = p.select_wm_standby();
        b.set_state_channel(Enum<TERM::RadioStandby>(r.standby_state_channel));
        b.set_group(static_cast<unsigned>(r.standby_group) & 255);
        b.set_state_receiver(Enum<TERM::RadioStandby>(r.standby_state_receiver));
        break;
    }
    default:
        break;
    }
    return 0;
}

void LemzRadioControl::EncodeHeader(LemzRadioState const& s, sig_proto& p)
{
    sig_proto_init(&p);
    p.type = static_cast<uint32_t>(s.command);
    p.source_addr = s.source_addr;
    p.source_ssrc = s.source_ssrc;
    p.priority = static_cast<uint32_t>(s.prio);
    p.flag_t = static_cast<uint32_t>(s.vad_tx);
    p.flag_p = static_cast<uint32_t>(s.ptt);
    p.flag_r = static_cast<uint32_t>(s.vad_rx);
    p.flag_s = static_cast<uint32_t>(s.sql);
    p.flag_b = static_cast<uint32_t>(s.bss);
    p.flag_rv = static_cast<uint32_t>(s.rv);
    p.flag_sh = static_cast<uint32_t>(s.sh);
    p.flag_rs = static_cast<uint32_t>(s.resv);
    p.flag_pw = static_cast<uint32_t>(s.pwr);
    p.flag_c = static_cast<uint32_t>(s.selcall);
    p.status = static_cast<uint32_t>(s.li);
}

// Gateway side.

unsigned long LemzRadioGWControl::ProcessRadioStatus(unsigned long now, unsigned long interval)
{
    uint32_t t = static_cast<uint32_t>(now);
    // By signed difference, so the 32-bit clock's wrap does not stop it.
    auto age = [t](uint32_t clock) { return ClockAge(clock, t); };
    const LemzRadioState& a = mAnnounced;
    const bool due[kClocks] = {
        true,
        a.channel >= 0 && a.frequency >= 0.0f,
        a.remote_no >= 0 && a.remote_ch >= 0,
        a.standby_state_channel >= 0 && a.standby_group >= 0 && a.standby_state_receiver >= 0,
    };
    const int32_t kinds[kClocks] = {static_cast<int32_t>(a.ptt == 0 ? WM_FLAG : WM_TRANS), WM_CHAN, WM_SELECT_RC_CHAN,
                                   WM_STANDBY};
    for (int slot = 0; slot < kClocks; ++slot) {
        if (age(mClock[slot]) <= 999 || !due[slot])
            continue;
        mAnnounced.command = kinds[slot];
        sig_proto packet;
        if (EncodeProto(mAnnounced, packet) != 0)
            continue;
        SendProtoToChan(packet);
        mClock[slot] = t;
    }
    uint32_t oldest = 0;
    for (uint32_t clock : mClock)
        oldest = std::max(oldest, age(clock));
    return oldest > 0 && oldest < interval ? interval - oldest + 10 : interval;
}

bool LemzRadioGWControl::AccessFormChanToRadio(LemzRadioState const& s)
{
    if (mAnnounced.ptt == 0)
        return true;
    if (isPTTCommand(static_cast<uint32_t>(s.command)) && s.prio < mAnnounced.prio && s.ptt != 0)
        return true;
    return s.source_addr == mAnnounced.session_addr;
}

int LemzRadioGWControl::PutProtoFromRadioToChan(LemzRadioState const& s)
{
    LemzRadioState& a = mAnnounced;
    a.command = s.command;
    a.prio = s.prio;
    a.li = s.li;
    a.ptt = s.ptt;
    a.bss = s.bss;
    a.vad_rx = s.vad_rx;
    a.vad_tx = s.vad_tx;
    a.sql = s.sql;
    a.sh = s.sh;
    a.pwr = s.pwr;
    a.rv = s.rv;
    a.resv = s.resv;
    a.selcall = s.selcall;
    bool full = isDefaultInitCommand(s.command);
    if (full || s.command == WM_CHAN) {
        a.channel = s.channel;
        a.frequency = s.frequency;
        a.rte = s.rte;
        a.squelshe = s.squelshe;
    }
    if (full || s.command == WM_SELECT_RC_CHAN) {
        a.remote_no = s.remote_no;
        a.remote_ch = s.remote_ch;
    }
    if (full || s.command == WM_TRANS || s.command == WM_SEL_CALL_TRANS) {
        a.session_addr = s.session_addr;
        a.ssrc = s.ssrc;
    }
    if (full || s.command == WM_RADIO_QUALITY)
        a.quality = s.quality;
    if (full || s.command == WM_STANDBY) {
        a.standby_state_channel = s.standby_state_channel;
        a.standby_group = s.standby_group;
        a.standby_state_receiver = s.standby_state_receiver;
    }
    return full ? -1 : 0;
}

namespace {

// The fields a GW_* kind carries, merged into a state (a full state takes
// every row).
void MergeGatewayKind(LemzRadioState const& s, LemzRadioState& into)
{
    int32_t c = s.command;
    bool full = isDefaultInitCommand(c);
    auto is = [&](std::initializer_list<int32_t> kinds) {
        if (full)
            return true;
        for (int32_t k : kinds)
            if (k == c)
                return true;
        return false;
    };
    if (is({GW_FLAG, GW_FLAG_PTT}))
        into.ptt = s.ptt;
    if (is({GW_FLAG, GW_FLAG_BSS}))
        into.bss = s.bss;
    if (is({GW_FLAG, GW_FLAG_SH}))
        into.sh = s.sh;
    if (is({GW_FLAG, GW_FLAG_RV}))
        into.rv = s.rv;
    if (is({GW_FLAG, GW_FLAG_PW}))
        into.pwr = s.pwr;
    if (is({GW_FLAG, GW_FLAG_RS}))
        into.resv = s.resv;
    if (is({GW_ADJUST_CHAN})) {
        into.channel = s.channel;
        into.frequency = s.frequency;
    }
    if (is({GW_SEL_CALL}))
        std::memcpy(into.callerID, s.callerID, kCallerIdSize);
    if (is({GW_SELECT_RC_CHAN})) {
        into.remote_no = s.remote_no;
        into.remote_ch = s.remote_ch;
    }
    if (is({GW_ADJUST_SQUELSHE}))
        into.squelshe = s.squelshe;
    if (is({GW_ADJUST_RTE}))
        into.rte = s.rte;
    if (is({GW_ADJUST_STANDBY}))
        into.standby_state_channel = s.standby_state_channel;
}

int32_t CallerIdLength(const char* id)
{
    return static_cast<int32_t>(strnlen(id, kCallerIdSize - 1));
}

} // namespace

int LemzRadioGWControl::PutProtoFromChanToRadio(LemzRadioState const& s)
{
    LemzRadioState& r = mReceived;
    r.session_addr = s.source_addr;
    r.ssrc = s.source_ssrc;
    r.command = s.command;
    r.prio = s.prio;
    MergeGatewayKind(s, r);
    return isDefaultInitCommand(s.command) ? -1 : 0;
}

int LemzRadioGWControl::EncodeProto(LemzRadioState const& s, sig_proto& p)
{
    EncodeHeader(s, p);
    in_addr session{};
    session.s_addr = s.session_addr;
    switch (s.command) {
    case WM_FLAG:
        return 0;
    case WM_TRANS:
        sig_proto_set_wm_transmite(&p, session, s.ssrc);
        return 0;
    case WM_RADIO_QUALITY:
        sig_proto_set_wm_radio_quality(&p, s.quality);
        return 0;
    case WM_CHAN:
        sig_proto_set_wm_chan(&p, static_cast<uint32_t>(s.channel), s.frequency, static_cast<uint8_t>(s.squelshe),
                              static_cast<uint8_t>(s.rte));
        return 0;
    case WM_SEL_CALL_TRANS:
        sig_proto_set_wm_selcall_transmite(&p, session, s.ssrc, s.callerID,
                                           static_cast<uint8_t>(CallerIdLength(s.callerID)));
        return 0;
    case WM_SELECT_RC_CHAN:
        sig_proto_set_wm_select_rc_chan(&p, static_cast<uint8_t>(s.remote_no), static_cast<uint8_t>(s.remote_ch));
        return 0;
    case WM_STANDBY:
        sig_proto_set_wm_standby(&p, static_cast<uint8_t>(s.standby_state_channel),
                                 static_cast<uint8_t>(s.standby_group),
                                 static_cast<uint8_t>(s.standby_state_receiver));
        return 0;
    default:
        return -1;
    }
}

// Workstation side.

int LemzRadioWSControl::PutProtoFromRadioToChan(LemzRadioState const& s)
{
    mAnnounced.command = s.command;
    mAnnounced.prio = s.prio;
    MergeGatewayKind(s, mAnnounced);
    return isDefaultInitCommand(s.command) ? -1 : 0;
}

int LemzRadioWSControl::PutProtoFromChanToRadio(LemzRadioState const& s)
{
    LemzRadioState& r = mReceived;
    r.session_addr = s.source_addr;
    r.ssrc = s.source_ssrc;
    r.command = s.command;
    r.prio = s.prio;
    r.li = s.li;
    r.ptt = s.ptt;
    r.bss = s.bss;
    r.vad_rx = s.vad_rx;
    r.vad_tx = s.vad_tx;
    r.sql = s.sql;
    r.sh = s.sh;
    r.pwr = s.pwr;
    r.rv = s.rv;
    r.resv = s.resv;
    r.selcall = s.selcall;
    bool full = isDefaultInitCommand(s.command);
    if (full || s.command == WM_CHAN) {
        r.channel = s.channel;
        r.frequency = s.frequency;
        r.rte = s.rte;
        r.squelshe = s.squelshe;
    }
    if (full || s.command == WM_SELECT_RC_CHAN) {
        r.remote_no = s.remote_no;
        r.remote_ch = s.remote_ch;
    }
    if (full || s.command == WM_SEL_CALL_TRANS) {
        r.session_addr = s.session_addr;
        r.ssrc = s.ssrc;
    }
    if (full || s.command == WM_RADIO_QUALITY)
        r.quality = s.quality;
    if (full || s.command == WM_STANDBY) {
        r.standby_state_channel = s.standby_state_channel;
        r.standby_group = s.standby_group;
        r.standby_state_receiver = s.standby_state_receiver;
    }
    return full ? -1 : 0;
}

int LemzRadioWSControl::EncodeProto(LemzRadioState const& s, sig_proto& p)
{
    EncodeHeader(s, p);
    switch (s.command) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
        return 0;
    case GW_ADJUST_CHAN:
        sig_proto_set_gw_adjust_chan(&p, static_cast<uint32_t>(s.channel), s.frequency);
        return 0;
    case GW_SEL_CALL:
        sig_proto_set_gw_selcall(&p, s.callerID, static_cast<uint8_t>(CallerIdLength(s.callerID)));
        return 0;
    case GW_SELECT_RC_CHAN:
        sig_proto_set_gw_select_rc_chan(&p, static_cast<uint8_t>(s.remote_no), static_cast<uint8_t>(s.remote_ch));
        return 0;
    case GW_ADJUST_SQUELSHE:
        sig_proto_set_gw_adjust_squelsh(&p, static_cast<uint8_t>(s.squelshe));
        return 0;
    case GW_ADJUST_RTE:
        sig_proto_set_gw_adjust_rte(&p, static_cast<uint8_t>(s.rte));
        return 0;
    case GW_ADJUST_STANDBY:
        sig_proto_set_gw_adjust_standby(&p, static_cast<uint8_t>(s.standby_state_channel));
        return 0;
    default:
        return -1;
    }
}

} // namespace RTPSignalling
