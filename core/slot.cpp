#include "core/slot.h"

#include "board/hw_mux.h"
#include "core/slots.h"

#include <algorithm>
#include <iomanip>
#include <iostream>

SlotFactory* SlotFactory::sChain = nullptr;

SlotFactory::SlotFactory()
    : mNext(sChain)
{
    sChain = this;
}

SlotFactory::~SlotFactory()
{
    for (SlotFactory** p = &sChain; *p; p = &(*p)->mNext) {
        if (*p == this) {
            *p = mNext;
            break;
        }
    }
}

void SlotFactory::Query(LGCP::Resources&)
{
}

void SlotFactory::SelfSignal(LGCP::Signal const&)
{
}

void SlotFactory::IAtExit()
{
}

Slot::Slot() = default;

Slot::Slot(SlotFactory& factory)
{
    Adopt(factory);
}

void Slot::Adopt(SlotFactory& factory)
{
    mFactory = &factory;
    factory.mSlots.push_back(this);
}

Slot::~Slot()
{
    // Slots unlinks a slot before deleting it; this only keeps a slot that
    // a factory drops early from leaving dangling links behind.
    if (mSource) {
        auto& list = mSource->mReceivers;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    for (Slot* receiver : mReceivers)
        receiver->mSource = nullptr;
    if (mFactory) {
        auto& slots = mFactory->mSlots;
        slots.erase(std::remove(slots.begin(), slots.end(), this), slots.end());
    }
    Slots::instance().Forget(*this);
}

int Slot::GetTrunk() { return -1; }
int Slot::GetTrunkTimeSlot() { return -1; }
void Slot::OnTrunkStatus(unsigned, ACP::TrunkState::NamedNumber const&) {}
void Slot::IAfterCreate() {}
bool Slot::IBeforeDestroy() { return true; }
bool Slot::IActivate(TERM::TermActivateParams const&) { return false; }
bool Slot::IDeactivate() { return false; }
bool Slot::IUserData(std::vector<char> const&) { return false; }
bool Slot::Ioctl(LGCP::IoctlParams const&) { return false; }
int Slot::GetConnectionPriority() { return 0; }
bool Slot::IOnOutputStream() { return false; }
bool Slot::IOnInputStream() { return false; }
void Slot::IOnOutputRelease() {}
void Slot::IOnInputRelease() {}
int Slot::IGetTransmitChannel() { return -1; }
int Slot::IGetReceiveChannel() { return -1; }

static bool SwitchConnect(Slot& source, Slot& receiver)
{
    int tx = source.GetTransmitChannel(), rx = receiver.GetReceiveChannel();
    if (!HwMux::instance().Connect(tx, rx))
        return false;
    std::clog << "mux: slot " << source << " (" << tx << ") -> slot " << receiver << " (" << rx << ")" << std::endl;
    return true;
}

static bool SwitchDisconnect(Slot& receiver)
{
    int rx = receiver.GetReceiveChannel();
    if (!HwMux::instance().Disconnect(rx))
        return false;
    std::clog << "mux: disconnect slot " << receiver << " (" << rx << ")" << std::endl;
    return true;
}

bool Slot::IHwConnectTransmitter(Slot& receiver) { return SwitchConnect(*this, receiver); }
bool Slot::IHwConnectReceiver(Slot& source) { return SwitchConnect(source, *this); }
bool Slot::IHwDisconnectTransmitter(Slot& receiver) { return SwitchDisconnect(receiver); }
bool Slot::IHwDisconnectReceiver(Slot&) { return SwitchDisconnect(*this); }

void Slot::Put(std::ostream& os) const
{
    if (mId < 0)
        os << "na";
    else if (mId > kMaxId)
        os << "i" << mId;
    else
        os << std::setw(2) << std::setfill('0') << mId << std::setfill(' ');
    os << ":" << GetName();
}

void Slot::PutHeader(std::ostream& os) const
{
    Put(os);
    os << " ";
}

std::ostream& operator<<(std::ostream& os, Slot const& slot)
{
    slot.Put(os);
    return os;
}

void Slot::SendSignal(LGCP::Signal const& signal)
{
    Slots::instance().Signal(*this, signal);
}

void Slot::OnChangeOutputStream(bool active)
{
    if (active == mOutputStream)
        return;
    if (!active) {
        std::vector<Slot*> receivers = mReceivers;
        for (Slot* receiver : receivers)
            Disconnect(*receiver);
        if (!mReceivers.empty())
            std::cerr << "mux: internal error: expected slots not exists." << std::endl;
    }
    mOutputStream = active;
    Slots::instance().Stream(*this, true, active, IGetTransmitChannel());
}

void Slot::OnChangeInputStream(bool active)
{
    if (active == mInputStream)
        return;
    if (!active)
        Disconnect(*this);
    mInputStream = active;
    Slots::instance().Stream(*this, false, active, IGetReceiveChannel());
}

void Slot::on_release()
{
    if (mReleasing)
        Slots::instance().Released(*this);
}

static void Detach(Slot& source, Slot& receiver, std::vector<Slot*>& receivers)
{
    receivers.erase(std::remove(receivers.begin(), receivers.end(), &receiver), receivers.end());
    receiver.IOnInputRelease();
    if (receivers.empty())
        source.IOnOutputRelease();
}

bool Connect(Slot& source, Slot& receiver)
{
    if (receiver.mSource)
        return receiver.mSource == &source;
    bool output = false;
    if (source.mReceivers.empty()) {
        if (!source.IOnOutputStream()) {
            std::cerr << "slot " << source << " don't have output stream to " << receiver << std::endl;
            return false;
        }
        output = true;
    }
    if (!receiver.IOnInputStream()) {
        std::cerr << "slot " << receiver << " don't have input stream from " << source << std::endl;
        if (output)
            source.IOnOutputRelease();
        return false;
    }
    bool made = source.GetConnectionPriority() <= receiver.GetConnectionPriority()
                    ? receiver.IHwConnectReceiver(source)
                    : source.IHwConnectTransmitter(receiver);
    if (!made) {
        // Give back the streams that this attempt took.
        receiver.IOnInputRelease();
        if (output)
            source.IOnOutputRelease();
        return false;
    }
    receiver.mSource = &source;
    source.mReceivers.push_back(&receiver);
    return true;
}

bool Disconnect(Slot& receiver)
{
    Slot* source = receiver.mSource;
    if (!source)
        return true;
    bool undone = receiver.GetConnectionPriority() <= source->GetConnectionPriority()
                      ? source->IHwDisconnectTransmitter(receiver)
                      : receiver.IHwDisconnectReceiver(*source);
    if (!undone)
        return false;
    receiver.mSource = nullptr;
    Detach(*source, receiver, source->mReceivers);
    return true;
}

void Unlink(Slot& receiver)
{
    Slot* source = receiver.mSource;
    if (!source || Disconnect(receiver))
        return;
    receiver.mSource = nullptr;
    Detach(*source, receiver, source->mReceivers);
}
