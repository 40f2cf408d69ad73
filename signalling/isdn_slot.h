#pragma once

// ISDN and QSIG D channels as slots. The slot is its own HDLC channel: it
// holds the device descriptor (an MCC channel, or the DSP data device of a
// QSIG link), reads and writes one frame per call, and runs the Q.921
// engine over it as the only layer of its protocol family. Layer-3
// messages travel as the slot's user data. A QSIG slot also hands out the
// B channels of its link as slots of their own.

#include "board/hdlc.h"
#include "core/slot.h"
#include "framework/dpc.h"
#include "framework/event.h"
#include "net/protocol.h"
#include "signalling/lapd.h"

#include <iosfwd>

namespace ISDN {
class LAPD_NT;
}
namespace LGCP {
class IsdnParams;
class AtsQsigParams;
class AtsQsigBParams;
}

class IsdnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public GenericHDLC
{
public:
    // Takes the descriptor; the engine joins the slot's family, which owns
    // it. `channel` is the D channel's switch time slot.
    IsdnSlot(SlotFactory& factory, Fd const& device, int channel, Protocol* engine, const char* eventName);
    ~IsdnSlot() override;

    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool IUserData(std::vector<char> const& data) override;
    bool Ioctl(LGCP::IoctlParams const&) override { return false; }
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return mChannel; }
    int IGetReceiveChannel() override { return mChannel; }
    const char* GetName() const override { return "MCC"; }

    // GenericHDLC: the engine's frames go straight to the device.
    bool hdlc_transmit(Packet& frame) override;
    bool is_open() const override { return mEvent.IsActive(); }
    bool is_ready() const override { return mReady; }

    Protocol_name const& name() const override { return mName; }
    void on_activated(Protocol*) override;
    void on_deactivated(Protocol*, Protocol_status status) override;
    void on_message(Packet& p) override;
    void transmit(Packet&) override {}
    void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}

    virtual void PutHeader(std::ostream& os) const;

    // Frames the device took only in part, or refused.
    unsigned writeErrors() const { return mWriteErrors; }
    // User data refused because the device is gone.
    unsigned unsent() const { return mUnsent; }

protected:
    void OnEvent(int fd, short revents);
    void UpdateISDN_Statistics();
    // The device is gone: the slot stops using it and tells the controller.
    void Lost(const char* why);
    void OnWriteFailed();

    int mChannel;
    Event mEvent;
    ISDN::LAPD* mLapd = nullptr;      // the engine, when it is the user side's
    ISDN::LAPD_NT* mLapdNt = nullptr; // the engine, when it is a BRI network side
    bool mReady = false;
    bool mLost = false;
    unsigned mWriteErrors = 0;
    unsigned mUnsent = 0;
    // A failed write releases the device from the loop, not from inside
    // the engine that was sending.
    Dpc mWriteFailed;
    Protocol_name_str mName;
};

class AtsQsigSlot : public IsdnSlot
{
public:
    AtsQsigSlot(SlotFactory& factory, Fd const& device, int channel, ISDN::LAPD* engine);

    bool IBeforeDestroy() override;
    const char* GetName() const override { return "ATS-QSIG"; }
    void PutHeader(std::ostream& os) const override;

    // A slot for B channel `index` of the link, null when the driver refuses.
    Slot* NewBChannel(SlotFactory& factory, unsigned index);
    int DestroyBChannel(unsigned index);
    int GetTimeslot() const { return mChannel; }
};

class AtsQsigBSlot : public Slot
{
public:
    AtsQsigBSlot(SlotFactory& factory, unsigned signallingSlot, unsigned index, int channel);

    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return mChannel; }
    int IGetReceiveChannel() override { return mChannel; }
    const char* GetName() const override { return "ATS-QSIG-B"; }
    void PutHeader(std::ostream& os) const;

private:
    unsigned mSignallingSlot;
    unsigned mIndex;
    int mChannel;
};

class IsdnFactory : public SlotFactory
{
public:
    static IsdnFactory& instance();

    const char* GetName() const override { return "ISDN"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    Slot* FindSlot(unsigned number) const;
    void PutHeader(std::ostream& os) const;

private:
    IsdnFactory() = default;
    Slot* NewIsdnSlot(LGCP::IsdnParams const& params);
    Slot* NewAtsQsigSlot(LGCP::AtsQsigParams const& params);
    Slot* NewAtsQsigBSlot(LGCP::AtsQsigBParams const& params);
};
