#pragma once

#include "rtp/lemz_codec.h"
#include "rtp/radio_control.h"

#include <cstdint>

namespace TERM {
class LemzRadioModifier;
class LemzRadioStatus;
}

namespace RTPSignalling {

// Everything any LEMZ packet kind can carry. -1 marks the enumerations and
// the standby group as not known yet.
struct LemzRadioState {
    LemzRadioState() { callerID[0] = 0; }

    int32_t command = 0; // packet kind; 0 or less: a full state
    int32_t prio = 15;
    int32_t ptt = 0;
    uint32_t session_addr = 0; // network order
    uint32_t ssrc = 0;
    char callerID[kCallerIdSize];
    int32_t bss = 0;
    int32_t vad_rx = 0;
    int32_t vad_tx = 0;
    int32_t sql = 0;
    int32_t sh = 0;
    int32_t pwr = 0;
    int32_t rv = 0;
    int32_t resv = 0;
    int32_t selcall = 0;
    int32_t li = 0;
    int32_t remote_no = 0;
    int32_t remote_ch = 0;
    int32_t channel = 0;
    float frequency = 0;
    int32_t squelshe = -1;
    int32_t rte = -1;
    int32_t standby_state_channel = -1;
    int32_t standby_group = -1;
    int32_t standby_state_receiver = -1;
    float quality = 0;
    uint32_t source_addr = 0; // network order
    uint32_t source_ssrc = 0;
};

inline bool isDefaultInitCommand(int32_t command)
{
    return command <= 0;
}

// The LEMZ protocol of one radio slot: received packets become radio
// reports, the controller's commands become packets. The two ends differ
// in four operations.
//
// Buffers: one packet being read and the last good one of the burst; both
// are plain members, nothing is queued.
class LemzRadioControl : public RadioControl
{
public:
    // Refresh clocks of the gateway side.
    enum Clock { kFlags = 0, kChan = 1, kRemote = 2, kStandby = 3, kClocks = 4 };

    LemzRadioControl(int slot, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
    explicit LemzRadioControl(rtp_ext_init_params const& init);
    LemzRadioControl(int slot, Fd rtp, rtp_attach_session_params const& attach);

    int Init();
    // Restarts every refresh clock at the given time.
    void ResetClocks(uint32_t now);

    // True when the command was carried out; false for another radio kind,
    // without an extension session, or when its packet was not written.
    bool SendASNToChan(TERM::RadioStatus const& status) override;
    bool SendASNToChan(TERM::RadioModifier const& modifier) override;
    bool GetSQU() override { return mAnnounced.sql != 0; }

    int OnRtpProtoRXEvent(sig_proto const& packet);
    int DecodeProto(sig_proto const& packet, LemzRadioState& state);
    // 0, or -1 when a packet was due and not written.
    int SendRadioStateToChan(LemzRadioState const& state);
    // The bytes written, -1 on a failed write, 0 when packing failed.
    int SendProtoToChan(sig_proto& packet);

    // Whether the controller's values fit their packet fields (priority in
    // four bits, the enumerations in an octet); the status a slot is
    // created with is checked here before the slot is taken.
    static bool Fits(LemzRadioState const& state);
    bool Fits(TERM::LemzRadioStatus const& status);
    // 0, or -1 when a number is beyond what its packet float holds.
    int DecodeASN(TERM::LemzRadioModifier const& modifier, LemzRadioState& state);
    int DecodeASN(TERM::LemzRadioStatus const& status, LemzRadioState& state);
    int EncodeStatusASN(LemzRadioState const& state, TERM::RtpRadioRequest& request);
    int EncodeASN(LemzRadioState const& announced, LemzRadioState const& received, TERM::RtpRadioRequest& request);

    const LemzRadioState& announced() const { return mAnnounced; }
    const LemzRadioState& received() const { return mReceived; }
    uint32_t clock(int slot) const { return mClock[slot]; }

protected:
    void OnRtpExtEvent(int fd, short events) override;

    virtual int PutProtoFromRadioToChan(LemzRadioState const&) { return 0; }
    virtual int PutProtoFromChanToRadio(LemzRadioState const&) { return 0; }
    virtual bool AccessFormChanToRadio(LemzRadioState const&) { return true; }
    virtual int EncodeProto(LemzRadioState const&, sig_proto&) { return 0; }

    // The header fields of a packet from a state.
    static void EncodeHeader(LemzRadioState const& state, sig_proto& packet);
    // The fields a GW_* kind carries, merged into a state (a full state
    // takes every one).
    static void MergeGatewayKind(LemzRadioState const& state, LemzRadioState& into);
    static int32_t CallerIdLength(const char* id);
    // The fields a WM_* kind carries, with the flags, merged into a state;
    // WM_TRANS names the holder's session only when `transHolder`.
    static void MergeWorkstationKind(LemzRadioState const& state, LemzRadioState& into, bool transHolder);

    sig_proto mCurrent{};
    sig_proto mPrevious{};
    uint32_t mClock[kClocks] = {};
    LemzRadioState mReceived;
    LemzRadioState mAnnounced;

private:
    void UpdateFilter();
};

// The gateway end: takes GW_* requests under its access rule, sends WM_*
// packets and refreshes them about once a second.
class LemzRadioGWControl : public LemzRadioControl
{
public:
    using LemzRadioControl::LemzRadioControl;

    unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;

protected:
    int PutProtoFromRadioToChan(LemzRadioState const& state) override;
    int PutProtoFromChanToRadio(LemzRadioState const& state) override;
    bool AccessFormChanToRadio(LemzRadioState const& state) override;
    int EncodeProto(LemzRadioState const& state, sig_proto& packet) override;
};

// The workstation end: sends GW_* packets, reports every WM_* packet.
class LemzRadioWSControl : public LemzRadioControl
{
public:
    using LemzRadioControl::LemzRadioControl;

protected:
    int PutProtoFromRadioToChan(LemzRadioState const& state) override;
    int PutProtoFromChanToRadio(LemzRadioState const& state) override;
    int EncodeProto(LemzRadioState const& state, sig_proto& packet) override;
};

} // namespace RTPSignalling
