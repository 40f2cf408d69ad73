#pragma once

// Transparent addressed HDLC: the controller's packages leave as frames
// {address (16 bits, high octet first), sequence octet, body} on an MCC HDLC
// channel, and received frames for the slot's address come back as packages.
// The slot owns its channel and its transmit queue; frames wait in the queue
// while the channel is closed or busy, and are dropped with the slot.

#include "board/hdlc.h"
#include "core/slot.h"
#include "framework/clean_queue.h"
#include "framework/packet.h"
#include "framework/timer.h"
#include "protocol/lgcp.h"

#include <cstdint>
#include <iosfwd>
#include <memory>

class HdlcSlot : public Slot, public HDLC::Notify
{
public:
    // Frames that may wait for a closed or busy channel.
    static constexpr unsigned kQueueSize = 120;
    // Received frames with the gathering bit set wait this long for more.
    static constexpr unsigned kGatherMs = 100;
    // What one packages signal can carry: the list's bound, and octets
    // that keep the message within one controller frame.
    static constexpr size_t kMaxPackages = 128;
    static constexpr size_t kMaxGatheredOctets = 60000;
    static_assert(kMaxPackages >= kQueueSize, "the queue holds any one list");
    // Statistics period; settable so tests need not wait.
    static unsigned sUpdateMs;

    HdlcSlot(SlotFactory& factory, LGCP::HdlcParams const& params);
    ~HdlcSlot() override;

    void OnTrunkStatus(unsigned, ACP::TrunkState::NamedNumber const&) override {}
    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    int GetConnectionPriority() override { return 1; }
    bool IHwConnectTransmitter(Slot& receiver) override;
    bool IHwConnectReceiver(Slot& source) override;
    bool IHwDisconnectTransmitter(Slot& receiver) override;
    bool IHwDisconnectReceiver(Slot& source) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    const char* GetName() const override { return "hdlc-slot"; }

    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;

    void PutHeader(std::ostream& os) const;

    // Received frames too short to hold the header, dropped.
    unsigned shortFrames() const { return mShortFrames; }
    const HDLC& channel() const { return *mHdlc; }

private:
    bool iactivate();
    bool Connect(int tdm, const char* trace);
    void Disconnect(const char* trace);
    void transmitPacket(Packet const& frame);
    void enqResponce(Packet& frame);
    void flushResponce();
    void UpdateHDLC_Statistics();
    void OnUpdateTimer();
    void Reset();
    bool Tracing() const;

    std::unique_ptr<HDLC> mHdlc;
    LGCP::IoctlResponse mResponse;
    unsigned mTrunk;
    Timer mUpdateTimer;
    Timer mFlushTimer;
    // Room for a whole list on a channel that drains it as it is queued.
    CleanQueue<Packet, kMaxPackages> mTxQueue;
    uint16_t mAddress;
    uint8_t mTxSeq = 0;
    uint8_t mRxSeq = 0;
    unsigned mShortFrames = 0;
    size_t mGatheredOctets = 0;
};

class HdlcSlotFactory : public SlotFactory
{
public:
    static HdlcSlotFactory& instance();

    const char* GetName() const override { return "HdlcSlotFactory"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void SelfSignal(LGCP::Signal const& signal) override;

private:
    HdlcSlotFactory() = default;
};
