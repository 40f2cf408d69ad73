#pragma once

#include "board/dsproc_receiver.h"
#include "board/rtp_driver.h"
#include "board/tonec_receiver.h"
#include "core/slot.h"
#include "framework/event.h"
#include "framework/fd.h"

#include <netinet/in.h>

#include <iosfwd>

namespace LGCP {
class CodecMode;
class PDParams;
}
namespace RTPC {
class Msg;
}

// One RTP voice session of the RTP driver on a switch channel. It owns the
// session descriptor and the RTCP socket, reports the driver's session
// events, serves the tone and DSP controls of its channel and changes codec
// by restarting the session.
class RtpSlot : public Slot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver
{
public:
    // Takes its own duplicate of the session descriptor.
    RtpSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss = 0);
    ~RtpSlot() override;

    // Keeps the socket and the far end's RTCP address; the session is
    // announced there when the slot is created.
    void startRTPC(Fd& socket, sockaddr_in const& peer);
    int send(RTPC::Msg const& msg);

    void setTransmissionDependOnSQU(bool on) { mDependOnSqu = on; }
    bool enablePD(LGCP::PDParams const& params);
    bool disablePD();
    // A fresh session with the stored record on the same channel; what was
    // running on the old one runs again.
    bool restart();
    uint16_t translate_payload(LGCP::CodecMode const& mode) const;

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override;
    void IOnOutputRelease() override {}
    void IOnInputRelease() override;
    int IGetTransmitChannel() override { return mTdm; }
    int IGetReceiveChannel() override { return mTdm; }
    const char* GetName() const override { return "rtp"; }

    void PutHeader(std::ostream& os) const;

    // The tone and DSP functions of the slot's channel.
    Hardware::TonecReceiver& tonec() { return *this; }
    Hardware::DSProcReceiver& dsp() { return *this; }
    bool dependsOnSqu() const { return mDependOnSqu; }

    int tdm() const { return mTdm; }
    bool transmitting() const { return mTransmitting; }
    rtp_connection_params const& params() const { return mParams; }
    const Fd& session() const { return mSession; }

protected:
    // Start or stop transmission on the session; false, logged, on failure.
    bool Transmit(bool on);

private:
    void tonec_event(Params const& params) override { processTonecEvent(params); }
    int tonec_timeslot() const override { return mTdm; }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { processVADEvent(e); }
    void dsproc_bss_event(::dsproc_bss_event const* e) override { processBSSEvent(e); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { processSDEvent(e); }
    void dsproc_tone_flt_event(::dsproc_tone_event const* e) override { processToneFltEvent(e); }
    void dsproc_flags_event(::dsproc_flags_event const* e) override { processFlagsEvent(e); }
    int dsproc_timeslot() const override { return mTdm; }

    void OnRtpEvent(int fd, short events);
    bool ChangeCodec(LGCP::CodecMode const& mode, bool encoder);
    // The driver's tear-down of the session, which is closed.
    void EndSession();
    // Issues a request on the session; false, logged with its name, on failure.
    bool Request(unsigned long code, void* arg, const char* what);

    int mTdm;
    Fd mSession;
    Event mEvent;
    rtp_connection_params mParams;
    sockaddr_in mPeer{};
    Fd mRtcp;
    uint16_t mFallbackPt;
    bool mTransmitting = false;
    bool mDependOnSqu = false;
    uint32_t mBss;          // kept for the restarts
    bool mPd = false;       // the packet detector is on, with this timeout
    bool mAnnounced = false;  // the far end has had the session's SDES
    bool mRestartDue = false; // the last restart did not bring everything back
    uint32_t mPdTimeout = 0;
};
