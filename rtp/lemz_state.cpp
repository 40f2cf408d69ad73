// The controller's radio requests to LEMZ radio states and back.
#include "rtp/lemz_control.h"

#include "protocol/term.h"

#include <arpa/inet.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace RTPSignalling {

namespace {

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

} // namespace

int LemzRadioControl::DecodeASN(TERM::LemzRadioModifier const& modifier, LemzRadioState& s)
{
    s.command = 0;
    // A NUL would cut the text short and name another address.
    bool inRange = modifier.get_addr().get_session_addr().find('\0') == std::string::npos;
    s.source_addr = ::inet_addr(modifier.get_addr().get_session_addr().c_str());
    s.source_ssrc = modifier.get_addr().get_session_ssrc().getValue();
    const TERM::LemzRadioModifierParams& p = modifier.get_params();
    const TERM::RadioFlags* flags = nullptr;
    auto address = [&](std::string const& ip, unsigned ssrc) {
        inRange = inRange && ip.find('\0') == std::string::npos;
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
        inRange = FreqFrom(p.get_gw_set_freq().get_freq(), s) && inRange;
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
        inRange = FloatFrom(p.get_wm_quality().get_bss_val(), s.quality) && inRange;
    } else if (p.wm_chan_isSelected()) {
        const auto& b = p.get_wm_chan();
        s.command = WM_CHAN;
        inRange = FreqFrom(b.get_freq(), s) && inRange;
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

} // namespace RTPSignalling
