#pragma once

#include "board/dsproc_receiver.h"
#include "board/tonec_receiver.h"
#include "protocol/acp.h"

#include <cstdint>
#include <iosfwd>
#include <vector>

namespace LGCP {
class CreateParams;
class IoctlParams;
class IoctlResponse;
class Resources;
class Signal;
}
namespace TERM {
class TermActivateParams;
class ModemProceeding;
class RtpRadioRequest;
}

class SlotFactory;
// The RTP driver's event record, defined with the driver's other records
// (board/rtp_driver.h).
struct rtp_event;

// A numbered channel object handed to the controller. Kinds override the
// hooks; Slots calls them on the controller's commands.
class Slot
{
public:
    static constexpr int kMaxId = 1023;

    // A kind made without naming its factory gets the one whose INewSlot
    // returned it, when Slots enters it.
    Slot();
    explicit Slot(SlotFactory& factory);
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    virtual ~Slot();

    virtual int GetTrunk();
    virtual int GetTrunkTimeSlot();
    virtual void OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber const& state);
    virtual void IAfterCreate();
    // True: destroy now; false: the slot calls on_release when it is done.
    virtual bool IBeforeDestroy();
    virtual bool IActivate(TERM::TermActivateParams const& params);
    virtual bool IDeactivate();
    virtual bool IUserData(std::vector<char> const& data);
    virtual bool Ioctl(LGCP::IoctlParams const& params);
    // The side with the lower priority makes the switch connection.
    virtual int GetConnectionPriority();
    virtual bool IHwConnectTransmitter(Slot& receiver);
    virtual bool IHwConnectReceiver(Slot& source);
    virtual bool IHwDisconnectTransmitter(Slot& receiver);
    virtual bool IHwDisconnectReceiver(Slot& source);
    virtual bool IOnOutputStream();
    virtual bool IOnInputStream();
    virtual void IOnOutputRelease();
    virtual void IOnInputRelease();
    virtual int IGetTransmitChannel();
    virtual int IGetReceiveChannel();
    virtual const char* GetName() const = 0;

    int GetId() const { return mId; }
    SlotFactory* GetSlotFactory() const { return mFactory; }
    bool GetInputStream() const { return mInputStream; }
    bool GetOutputStream() const { return mOutputStream; }
    bool is_releasing() const { return mReleasing; }
    Slot* GetSource() const { return mSource; }
    const std::vector<Slot*>& GetReceivers() const { return mReceivers; }

    int GetTransmitChannel() { return IGetTransmitChannel(); }
    int GetReceiveChannel() { return IGetReceiveChannel(); }

    // "07:map": the slot number (two digits at least) and the kind.
    void Put(std::ostream& os) const;
    void PutHeader(std::ostream& os) const;

    // Hands the signal with this slot's number to the controller link.
    void SendSignal(LGCP::Signal const& signal);
    // Signals of this slot, one each.
    void OnModem(TERM::ModemProceeding const& proceeding);
    void OnActivated();
    void OnDeactivated();
    // `abort` with the cause; the slot stays.
    void OnAbort(int cause);
    static void OnAbort(Slot* slot, int cause);
    void OnUserData(std::vector<char> const& data);
    void OnIoctlResponse(LGCP::IoctlResponse const& response);
    void OnRtpRadioEvent(TERM::RtpRadioRequest const& request);
    // Receiver events of this slot, each as its signal.
    void processTonecEvent(Hardware::TonecReceiver::Params const& event);
    void processToneGenEvent();
    void processVADEvent(Hardware::DSProcVADEvent const& event);
    void processBSSEvent(dsproc_bss_event const* event);
    void processSDEvent(Hardware::DSProcSDEvent const& event);
    void processToneFltEvent(dsproc_tone_event const* event);
    void processFlagsEvent(dsproc_flags_event const* event);
    void processRtpEvent(rtp_event const& event);
    // The record's first three words: type 1 (packet detector) leaves as
    // the `rtp` signal's `pd`; other types send nothing.
    void processRtpEvent(uint32_t type, uint32_t value, uint32_t timeout);

    void OnChangeOutputStream(bool active);
    void OnChangeInputStream(bool active);

    // Completes a destroy that IBeforeDestroy deferred.
    void on_release();

    friend bool Connect(Slot& source, Slot& receiver);
    friend bool Disconnect(Slot& receiver);
    friend void Unlink(Slot& receiver);
    friend class Slots;

private:
    void Adopt(SlotFactory& factory);

    SlotFactory* mFactory = nullptr;
    int mId = -1;
    Slot* mSource = nullptr;
    std::vector<Slot*> mReceivers;
    bool mInputStream = false;
    bool mOutputStream = false;
    bool mReleasing = false;
    unsigned long mSerial = 0; // creation order, for newest-first teardown
};

std::ostream& operator<<(std::ostream& os, Slot const& slot);

// Links source to receiver and makes the switch connection; false, logged,
// when either side has no stream or the switch refuses.
bool Connect(Slot& source, Slot& receiver);
// Undoes the receiver's connection; false when the switch refuses, and the
// pair then stays linked.
bool Disconnect(Slot& receiver);
// Disconnect that unlinks the pair even when the switch refuses (destroy).
void Unlink(Slot& receiver);

// Makes one kind of slot. Constructing a factory puts it at the head of
// the chain that Slots walks, newest first.
class SlotFactory
{
public:
    SlotFactory();
    SlotFactory(const SlotFactory&) = delete;
    SlotFactory& operator=(const SlotFactory&) = delete;
    virtual ~SlotFactory();

    virtual const char* GetName() const = 0;
    // A new slot, or null when the parameters are not this kind's or the
    // set-up failed.
    virtual Slot* INewSlot(LGCP::CreateParams const& params) = 0;
    virtual void Query(LGCP::Resources& resources);
    virtual void SelfSignal(LGCP::Signal const& signal);
    // Exit, once every slot is gone: ends what the slots left running.
    virtual void IAtExit();

    const std::vector<Slot*>& slots() const { return mSlots; }

    static SlotFactory* first() { return sChain; }
    SlotFactory* next() const { return mNext; }

private:
    friend class Slot;
    static SlotFactory* sChain;
    SlotFactory* mNext;
    std::vector<Slot*> mSlots;
};
