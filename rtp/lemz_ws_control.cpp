// The workstation end of the LEMZ protocol.
#include "rtp/lemz_control.h"

namespace RTPSignalling {

int LemzRadioWSControl::PutProtoFromRadioToChan(LemzRadioState const& s)
{
    mAnnounced.command = s.command;
    mAnnounced.prio = s.prio;
    MergeGatewayKind(s, mAnnounced);
    return isDefaultInitCommand(s.command) ? -1 : 0;
}

int LemzRadioWSControl::PutProtoFromChanToRadio(LemzRadioState const& s)
{
    mReceived.session_addr = s.source_addr;
    mReceived.ssrc = s.source_ssrc;
    MergeWorkstationKind(s, mReceived, false);
    return isDefaultInitCommand(s.command) ? -1 : 0;
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
