#include "rtp/rtp_ext_slot.h"

#include "protocol/lgcp.h"

RtpExtSlot::RtpExtSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss)
    : RtpSlot(tdm, std::move(session), params, bss)
{
}

void RtpExtSlot::IAfterCreate()
{
    RtpSlot::IAfterCreate();
    if (mControl)
        mControl->SendASNToChan(mRadioStatus);
}

bool RtpExtSlot::IBeforeDestroy()
{
    if (mControl)
        mControl->RtpExtStop();
    return RtpSlot::IBeforeDestroy();
}

bool RtpExtSlot::Ioctl(LGCP::IoctlParams const& params)
{
    if (!mControl)
        return RtpSlot::Ioctl(params);
    bool result;
    if (params.rtpExt_isSelected()) {
        result = mControl->SendASNToChan(params.get_rtpExt());
    } else {
        // A codec change makes a new RTP session: the extension session
        // goes with the old one and is attached to the new one.
        bool codec = params.encoder_mode_isSelected() || params.decoder_mode_isSelected();
        bool stopped = codec && mControl->RtpExtStop();
        result = RtpSlot::Ioctl(params);
        if (stopped && result) {
            mControl->SetRtpSession(session());
            result = mControl->RtpExtStart(false);
        }
    }
    ApplySquelch();
    return result;
}

void RtpExtSlot::ApplySquelch()
{
    if (!dependsOnSqu())
        return;
    bool open = mControl->GetSQU();
    if (open != transmitting())
        Transmit(open);
}

void RtpExtSlot::RadioControlNotify(TERM::RtpRadioRequest const& request)
{
    OnRtpRadioEvent(request);
}

void RtpExtSlot::RadioControlNotify(int code)
{
    OnAbort(code);
}
