#include "rtp/rtp_ext_slot.h"

#include "protocol/lgcp.h"

RtpExtSlot::RtpExtSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss)
    : RtpSlot(tdm, std::move(session), params, bss)
{
}

void RtpExtSlot::ApplyCreate(TERM::RtpParams const& rtp, Fd& rtcp, sockaddr_in const& peer)
{
    const TERM::RtpRadioRequest& radio = rtp.get_radio();
    SetRadioStatus(radio.get_status());
    startRTPC(rtcp, peer);
    if (rtp.echo_isPresent() && rtp.get_echo().get_suppressor())
        tonec().echoCancel(rtp.get_echo().get_canceller());
    if (radio.rx_delay_isPresent() || radio.tx_delay_isPresent())
        dsp().configureDelays(radio.rx_delay_isPresent() ? radio.get_rx_delay().getValue() : 0,
                              radio.tx_delay_isPresent() ? radio.get_tx_delay().getValue() : 0);
    if (radio.bss_enable_isPresent())
        dsp().enableBSS(radio.get_bss_enable());
    if (radio.ng_enable_isPresent())
        dsp().enableNG(radio.get_ng_enable());
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
        // A change that failed after its new session came up still leaves
        // a session for the radio signalling.
        if (stopped && session()) {
            mControl->SetRtpSession(session());
            bool started = mControl->RtpExtStart(false);
            result = result && started;
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
