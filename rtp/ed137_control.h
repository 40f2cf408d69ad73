#pragma once

#include "rtp/r2s_codec.h"
#include "rtp/radio_control.h"

#include <cstdint>

namespace TERM {
class ED137RadioModifier;
class ED137RadioModifierParams;
class ED137RadioResponse;
class ED137RadioStatus;
}

// EUROCAE ED-137B R2S signalling of one radio session: received header
// extensions become radio reports for the controller, the controller's
// commands become header extensions, keep-alives go out every interval and
// the loss of the R2S link is reported.
//
// Buffers: the packet being read and the last one of the burst; both are
// plain members, nothing is queued.

namespace RTPSignalling {

// Settings of one radio session.
struct ED137RadioParams {
    bool transmission_depend_on_squ = false;
    uint32_t sigtime = 1;                  // 1..50
    uint32_t r2s_keepalive_period = 200;   // ms, 20..1000
    uint32_t r2s_keepalive_multiplier = 10; // periods of silence before the link counts as lost
    uint32_t type = 2;                     // TERM::ED137RadioType, radio-txrx
    uint32_t txrxmode = 2;                 // TERM::ED137RadioTxRxMode, txrx

    // What the response gives replaces the defaults.
    void Init(TERM::ED137RadioResponse const& response);
};

// Reports to the controller the loss of the R2S link: no packet for
// `r2s_keepalive_multiplier` keep-alive periods (ED-137B, R2S keep-alive).
constexpr int kR2sLinkLost = 151;

struct ED137RadioState {
    // The class in bits 15-12, then what the state carries.
    enum : uint32_t {
        kClassMask = 0xF000,
        kRx = 0x1000,
        kTx = 0x2000,
        kHeader = 0x0001,
        kSqi = 0x0002,
    };

    uint32_t command = 0;
    uint32_t ptt = 0; // TERM::ED137RadioPTT
    uint32_t squ = 0;
    uint32_t ptt_id = 0;
    uint32_t ptt_mute = 0;
    uint32_t ptt_summation = 0;
    uint32_t sct = 0;
    uint32_t bss_method = 0; // TERM::ED137RadioBSSMethod
    uint32_t bss_quality = 0;
    uint32_t session_addr = 0; // network order
    uint32_t session_ssrc = 0;

    uint32_t Class() const { return command & kClassMask; }
    bool HasSqi() const { return (command & kSqi) != 0; }
    bool IsEqual(ED137RadioState const& other) const;
    int EncodeASN(TERM::ED137RadioModifierParams& params) const;
};

class ED137RadioControl : public RadioControl
{
public:
    ED137RadioControl(int slot, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
    explicit ED137RadioControl(rtp_ext_init_params const& init);
    ED137RadioControl(int slot, Fd rtp, rtp_attach_session_params const& attach);

    void SetParams(ED137RadioParams const& params) { mParams = params; }
    const ED137RadioParams& params() const { return mParams; }
    unsigned long interval() const { return mInterval; }

    // True when the command was carried out: false for another radio kind,
    // without an extension session, or when its packet was not written.
    bool SendASNToChan(TERM::RadioStatus const& status) override;
    bool SendASNToChan(TERM::RadioModifier const& modifier) override;
    bool GetSQU() override { return mSent.squ != 0; }

    int OnRtpProtoRXEvent(r2s_proto const& record);
    static void DecodeProto(r2s_proto const& record, ED137RadioState& state);
    // 0, or -1 when a packet was due and not written.
    int SendRadioStateToChan(ED137RadioState const& state);
    // The bytes written, -1 on a failed write, 0 when packing failed.
    int SendProtoToChan(r2s_proto const& record);

    // Whether every value fits its packet field.
    static bool Fits(ED137RadioState const& state);
    bool Fits(TERM::ED137RadioStatus const& status) const;
    static void DecodeASN(TERM::ED137RadioModifier const& modifier, ED137RadioState& state);
    static void DecodeASN(TERM::ED137RadioStatus const& status, ED137RadioState& state);
    static void EncodeStatusASN(ED137RadioState const& state, TERM::RtpRadioRequest& request);
    static void EncodeASN(ED137RadioState const& sent, ED137RadioState const& received,
                          TERM::RtpRadioRequest& request);

    const ED137RadioState& sent() const { return mSent; }
    const ED137RadioState& received() const { return mReceived; }

protected:
    void OnRtpExtEvent(int fd, short events) override;

    virtual int PutProtoFromRadioToChan(ED137RadioState const&) = 0;
    virtual int PutProtoFromChanToRadio(ED137RadioState const&) = 0;
    virtual bool AccessFormChanToRadio(ED137RadioState const&) = 0;
    virtual int EncodeProto(ED137RadioState const&, r2s_proto&) = 0;

    ED137RadioParams mParams;
    r2s_proto mRx;
    r2s_proto mPrevRx;
    // Millisecond clocks of the loop: the last keep-alive or RX-class send,
    // the last report to the controller, the last good packet received.
    uint32_t mLastKeepalive = 0;
    uint32_t mLastNotify = 0;
    uint32_t mLastReceive = 0;
    ED137RadioState mReceived;
    ED137RadioState mSent;

private:
    void Init();
    bool NeedSendProto(ED137RadioState const& state) const;
};

// The radio end of the session toward the controller's workstation.
class ED137RadioGWControl : public ED137RadioControl
{
public:
    using ED137RadioControl::ED137RadioControl;

    unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;

protected:
    int PutProtoFromRadioToChan(ED137RadioState const& state) override;
    int PutProtoFromChanToRadio(ED137RadioState const& state) override;
    bool AccessFormChanToRadio(ED137RadioState const& state) override;
    int EncodeProto(ED137RadioState const& state, r2s_proto& record) override;
};

} // namespace RTPSignalling
