#pragma once

#include "protocol/term.h"
#include "rtp/radio_control.h"
#include "rtp/rtp_slot.h"

// An RTP slot that also carries radio signalling through a radio control,
// which the derived slot makes, owns and stores here.
class RtpExtSlot : public RtpSlot, public RTPSignalling::IRadioControlNotify
{
public:
    RtpExtSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss = 0);

    // The status the controller gave at creation; sent once the slot exists.
    void SetRadioStatus(TERM::RadioStatus const& status) { mRadioStatus = status; }
    // What a radio create asks of the new slot beside its control: the first
    // radio status, the RTCP sender, the echo canceller, the delays, BSS and
    // the noise gate.
    void ApplyCreate(TERM::RtpParams const& rtp, Fd& rtcp, sockaddr_in const& peer);

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    const char* GetName() const override { return "rtp ext"; }

    void RadioControlNotify(TERM::RtpRadioRequest const& request) override;
    void RadioControlNotify(int code) override;

    RTPSignalling::RadioControl* control() const { return mControl; }

protected:
    void SetControl(RTPSignalling::RadioControl* control) { mControl = control; }

private:
    // Transmission follows the radio's squelch when the slot depends on it.
    void ApplySquelch();

    TERM::RadioStatus mRadioStatus;
    RTPSignalling::RadioControl* mControl = nullptr;
};
