#include "rtp/lemz_control.h"

#include "board/device.h"
#include "core/slots.h"
#include "framework/mux_time.h"
#include "protocol/term.h"

#include <poll.h>

#include <cstring>
#include <initializer_list>
#include <iostream>

namespace RTPSignalling {

namespace {

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
            return Unwritten(static_cast<uint32_t>(state.command));
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

void LemzRadioControl::MergeGatewayKind(LemzRadioState const& s, LemzRadioState& into)
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

int32_t LemzRadioControl::CallerIdLength(const char* id)
{
    return static_cast<int32_t>(strnlen(id, kCallerIdSize - 1));
}

void LemzRadioControl::MergeWorkstationKind(LemzRadioState const& s, LemzRadioState& a, bool transHolder)
{
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
    if (full || (transHolder && s.command == WM_TRANS) || s.command == WM_SEL_CALL_TRANS) {
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
}

} // namespace RTPSignalling
