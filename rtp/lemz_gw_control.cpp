// The gateway end of the LEMZ protocol.
#include "rtp/lemz_control.h"

#include <arpa/inet.h>

#include <algorithm>

namespace RTPSignalling {

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
    MergeWorkstationKind(s, mAnnounced, true);
    return isDefaultInitCommand(s.command) ? -1 : 0;
}

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

} // namespace RTPSignalling
