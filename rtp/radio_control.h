#pragma once

#include "board/rtp_driver.h"
#include "rtp/address_text.h"
#include "framework/event.h"
#include "framework/fd.h"
#include "framework/timer.h"

#include <netinet/in.h>

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace TERM {
class RadioStatus;
class RadioModifier;
class RtpRadioRequest;
}

// The frame every radio control runs in: the header-extension session on
// /dev/rtp_ext (or an attach through /dev/rtp), its descriptor watch, the
// status timer, the driver's source filter and the log prefix. The protocol
// work is the derived controls'.

namespace RTPSignalling {

const char* GetRtpExtDevName();

// Milliseconds from `then` to `now` on the wrapping 32-bit clock; a time
// ahead of now is no age at all.
uint32_t ClockAge(uint32_t then, uint32_t now);

// What a slot uses to drive the radio.
class IRadioController
{
public:
    virtual ~IRadioController() = default;
    virtual bool SendASNToChan(TERM::RadioStatus const&) { return false; }
    virtual bool SendASNToChan(TERM::RadioModifier const&) { return false; }
    virtual bool GetSQU() { return false; }
};

// What the event loop and the timer call.
class IRadioIntController
{
public:
    virtual ~IRadioIntController() = default;
    virtual void OnRtpExtEvent(int, short) {}
    // The delay until the next call.
    virtual unsigned long ProcessRadioStatus(unsigned long, unsigned long interval) { return interval; }
};

// Implemented by the slot: decoded radio requests and failure codes.
class IRadioControlNotify
{
public:
    virtual ~IRadioControlNotify() = default;
    virtual void RadioControlNotify(TERM::RtpRadioRequest const&) {}
    virtual void RadioControlNotify(int) {}
};

enum RadioControlType {
    kRadioOwnAttached = 0, // own extension session attached to the slot's RTP session
    kRadioAttachRtp = 1,   // another process's RTP session attached through /dev/rtp
    kRadioOwnOnly = 2,     // own extension session, attached to nothing
};

enum RadioControlMode { kRadioModeGateway = 0, kRadioModeWorkstation = 1 };

struct RadioStatistics {
    uint32_t announced = 0; // packets the information request announced
    uint32_t received = 0;  // packets read and decoded
    uint32_t sent = 0;
    uint32_t bytesReceived = 0;
    uint32_t bytesSent = 0;
    int32_t packError = 0;
    int32_t unpackError = 0;
    int32_t infoErrno = 0;
    int32_t readErrno = 0;
    int32_t writeErrno = 0;
};

class RadioControl : public IRadioController, private IRadioIntController
{
public:
    RadioControl(int slot, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
    RadioControl(int slot, Fd rtp, rtp_attach_session_params const& attach);
    explicit RadioControl(rtp_ext_init_params const& init);
    ~RadioControl() override;
    RadioControl(const RadioControl&) = delete;
    RadioControl& operator=(const RadioControl&) = delete;

    // False, logged, when a step fails; what this call opened is closed.
    bool RtpExtStart(bool init);
    bool RtpExtStop();
    // The slot's live RTP session, which a codec change replaces: the own
    // extension session attaches to it, an attach through /dev/rtp is made
    // on it.
    void SetRtpSession(Fd const& session);

    void SetTimerEnable(bool on);
    void SetTimerInterval(unsigned long ms) { mInterval = ms; }
    void SetTimer(unsigned long ms);

    // Lets signalling in from one source only, or from any; 0.
    int UpdateAccess(bool set, in_addr const& source);

    const std::string& GetPrefix();
    void SetDebug(bool on) { mDebug = on; }
    void Bind(IRadioControlNotify* target) { mNotify = target; }
    void UnBind() { mNotify = nullptr; }
    void SetRadioControlMode(RadioControlMode mode) { mMode = mode; }

    RadioControlType type() const { return mType; }
    bool is_started() const;
    bool filter_active() const { return mFilterActive; }
    bool timer_running() const { return mTimer.is_running(); }
    const RadioStatistics& statistics() const { return mStats; }
    int ext_fd() const { return mExt.lowlevel_fd(); }

protected:
    void OnRtpExtEvent(int fd, short events) override;
    void OnProcessStatus(Timer*);

    // Packets one pass of the loop reads at most.
    static constexpr int kReceiveBurst = 64;
    // The next packet of the session into buf and its sender into mInfo
    // (zero unless the driver announced one): the octets read, or 0 when the
    // burst ends (nothing queued, a failed read, a hang-up).
    ssize_t ReadExtPacket(unsigned char* buf, size_t size, short events);
    // True with an extension session to send on; false, logged, without.
    bool CanSend(const char* what);
    // A packed packet onto the session: the octets written, -1 on a failed
    // write or without a session, 0 when packing gave no octets.
    int WriteExtPacket(const unsigned char* buf, int32_t length);
    // Reads one burst of packets into `current` (`unpack(buf, octets)`: 0
    // for a packet taken) and hands `deliver` the last of each run from one
    // sender (`differ(current, last)`: the sender changed).
    template <class Packet, class Unpack, class Differ, class Deliver>
    void ReceiveBurst(short events, Packet& current, Packet& last, Unpack unpack, Differ differ, Deliver deliver);
    // Hands the report to the slot; false, logged, when the link could not
    // carry it. The debug lines read the prefix, `lead`, the command in hex.
    bool Report(TERM::RtpRadioRequest const& request, const char* lead, uint32_t command);

    RadioControlType mType;
    Fd mRtp;
    Fd mExt;
    // A command whose packet was not written: logged and answered as the
    // daemon's failure; the caller has applied nothing. -1.
    int Unwritten(uint32_t command);

    Event mEvent;
    Timer mTimer;
    rtp_attach_session_params mRtpAttach{};
    rtp_ext_attach_session_params mExtAttach{};
    rtp_ext_init_params mInit{};
    rtp_ext_packet_info mInfo{};
    RadioControlMode mMode = kRadioModeGateway;
    RadioStatistics mStats;
    uint32_t mLastProcess = 0;
    unsigned long mInterval = 1000;
    unsigned long mSlot;
    bool mDebug = false;
    bool mTimerEnabled = false;
    bool mFilterActive = false;
    bool mStarted = false; // the last start succeeded and no stop came since
    rtp_ext_source_filter mFilter{};
    IRadioControlNotify* mNotify = nullptr;
    std::string mPrefix;

private:
    void Init(RadioControlType type);
    bool Fail(Fd& opened, const char* message);
};

template <class Packet, class Unpack, class Differ, class Deliver>
void RadioControl::ReceiveBurst(short events, Packet& current, Packet& last, Unpack unpack, Differ differ,
                                Deliver deliver)
{
    int burst = 0;
    for (int n = 0; n < kReceiveBurst; ++n) {
        unsigned char buf[RtpExtRequest::kPacketBuffer];
        ssize_t got = ReadExtPacket(buf, sizeof buf, events);
        if (got <= 0)
            break;
        int32_t result = unpack(buf, static_cast<size_t>(got));
        if (result != 0) {
            mStats.unpackError = result;
            continue;
        }
        ++mStats.received;
        current.source_addr = mInfo.word[1];
        current.source_ssrc = mInfo.word[0];
        if (burst > 0 && differ(current, last))
            deliver(last);
        last = current;
        ++burst;
    }
    if (burst > 0)
        deliver(last);
}

} // namespace RTPSignalling
