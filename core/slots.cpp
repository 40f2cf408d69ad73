#include "core/slots.h"

#include <algorithm>
#include <iostream>

namespace {

// The cause a hook named for its refusal, success while none did.
Answer::Type gRefusal = Answer::success;

// The cause named since the last call, success when none was.
Answer::Type TakeRefusal()
{
    Answer::Type cause = gRefusal;
    gRefusal = Answer::success;
    return cause;
}

} // namespace

void Answer::Refuse(Type cause)
{
    gRefusal = cause;
}

Slots& Slots::instance()
{
    static Slots slots;
    return slots;
}

Slots::Slots() = default;

// Slots outlive the table only at exit, where Clear has run.
Slots::~Slots() = default;

Slot* Slots::Find(int id) const
{
    return id >= 0 && id <= Slot::kMaxId ? mTable[static_cast<size_t>(id)] : nullptr;
}

Slot* Slots::Use(int id, Answer::Type& answer) const
{
    if (id < 0 || id > Slot::kMaxId) {
        answer = Answer::invalidSlot;
        return nullptr;
    }
    Slot* slot = Find(id);
    if (!slot) {
        answer = Answer::slotNotExists;
        return nullptr;
    }
    if (slot->mReleasing) {
        answer = Answer::destroyInProgress;
        return nullptr;
    }
    answer = Answer::success;
    return slot;
}

size_t Slots::count() const
{
    return static_cast<size_t>(std::count_if(mTable.begin(), mTable.end(), [](Slot* s) { return s != nullptr; }));
}

Answer::Type Slots::Free(int id) const
{
    if (id < 0 || id > Slot::kMaxId)
        return Answer::invalidSlot;
    if (Slot* slot = Find(id))
        return slot->mReleasing ? Answer::destroyInProgress : Answer::slotIdBusy;
    return Answer::success;
}

Answer::Type Slots::Create(int id, LGCP::CreateParams const& params, Slot*& made)
{
    made = nullptr;
    Answer::Type answer = Free(id);
    if (answer != Answer::success)
        return answer;
    Slot* slot = nullptr;
    TakeRefusal();
    for (SlotFactory* factory = SlotFactory::first(); factory && !slot; factory = factory->next()) {
        slot = factory->INewSlot(params);
        if (slot && !slot->mFactory)
            slot->Adopt(*factory);
        Answer::Type refused = TakeRefusal();
        if (!slot && refused != Answer::success)
            return refused;
    }
    if (!slot)
        return Answer::insufficientResources;
    // Factories know only their own slots; a switch channel is the board's.
    if (Slot* holder = Holding(*slot)) {
        std::cerr << "slot " << id << " refused: its switch channel is held by slot " << *holder << std::endl;
        delete slot;
        return Answer::insufficientResources;
    }
    Enter(id, *slot);
    made = slot;
    return Answer::success;
}

Slot* Slots::Holding(Slot& slot) const
{
    return Holding(slot, slot.GetTransmitChannel(), slot.GetReceiveChannel());
}

Slot* Slots::Holding(Slot& slot, int tx, int rx) const
{
    for (Slot* other : mTable) {
        if (other && other != &slot
            && ((tx >= 0 && other->GetTransmitChannel() == tx) || (rx >= 0 && other->GetReceiveChannel() == rx)))
            return other;
    }
    return nullptr;
}

void Slots::Enter(int id, Slot& slot)
{
    slot.mId = id;
    slot.mSerial = ++mSerial;
    mTable[static_cast<size_t>(id)] = &slot;
}

void Slots::Teardown(Slot& slot)
{
    Unlink(slot);
    std::vector<Slot*> receivers = slot.mReceivers;
    for (Slot* receiver : receivers)
        Unlink(*receiver);
}

void Slots::Forget(Slot& slot)
{
    if (Find(slot.mId) == &slot)
        mTable[static_cast<size_t>(slot.mId)] = nullptr;
}

void Slots::Remove(Slot& slot)
{
    Forget(slot);
    delete &slot;
}

Answer::Type Slots::Destroy(int id)
{
    Answer::Type answer;
    Slot* slot = Use(id, answer);
    if (!slot)
        return answer;
    Teardown(*slot);
    if (slot->IBeforeDestroy()) {
        Remove(*slot);
        return Answer::success;
    }
    slot->mReleasing = true;
    return Answer::delayed;
}

void Slots::Released(Slot& slot)
{
    if (mNotify)
        mNotify->OnReleased(slot);
    Remove(slot);
}

Answer::Type Slots::Connect(int source, std::vector<int> const& receivers)
{
    Answer::Type answer;
    Slot* from = Use(source, answer);
    if (!from)
        return answer;
    if (receivers.empty())
        return Answer::invalidParams;
    std::vector<Slot*> to;
    for (int id : receivers) {
        if (id == source)
            return Answer::invalidParams;
        Slot* receiver = Use(id, answer);
        if (!receiver)
            return answer;
        to.push_back(receiver);
    }
    for (Slot* receiver : to) {
        if (receiver->mSource == from)
            continue;
        // A receiver fed by another source is disconnected first.
        if (receiver->mSource && !::Disconnect(*receiver))
            return Answer::reconnectionFail;
        if (!::Connect(*from, *receiver))
            return Answer::connectFail;
    }
    return Answer::success;
}

Answer::Type Slots::Disconnect(int receiver)
{
    Answer::Type answer;
    Slot* slot = Use(receiver, answer);
    if (!slot)
        return answer;
    return ::Disconnect(*slot) ? Answer::success : Answer::disconnectFail;
}

// A hook's truth is success, its refusal `unsupported`.
template <class Hook> static Answer::Type Ask(Slot* slot, Answer::Type answer, Hook hook)
{
    if (!slot)
        return answer;
    TakeRefusal();
    if (hook(*slot)) {
        TakeRefusal();
        return Answer::success;
    }
    Answer::Type refused = TakeRefusal();
    return refused != Answer::success ? refused : Answer::unsupported;
}

Answer::Type Slots::Activate(int id, TERM::TermActivateParams const& params)
{
    Answer::Type answer;
    Slot* slot = Use(id, answer);
    return Ask(slot, answer, [&](Slot& s) { return s.IActivate(params); });
}

Answer::Type Slots::Deactivate(int id)
{
    Answer::Type answer;
    Slot* slot = Use(id, answer);
    return Ask(slot, answer, [](Slot& s) { return s.IDeactivate(); });
}

Answer::Type Slots::UserData(int id, std::vector<char> const& data)
{
    Answer::Type answer;
    Slot* slot = Use(id, answer);
    return Ask(slot, answer, [&](Slot& s) { return s.IUserData(data); });
}

Answer::Type Slots::Ioctl(int id, LGCP::IoctlParams const& params)
{
    Answer::Type answer;
    Slot* slot = Use(id, answer);
    return Ask(slot, answer, [&](Slot& s) { return s.Ioctl(params); });
}

std::vector<Slot*> Slots::NewestFirst() const
{
    std::vector<Slot*> slots;
    for (Slot* slot : mTable)
        if (slot)
            slots.push_back(slot);
    std::sort(slots.begin(), slots.end(), [](Slot* a, Slot* b) { return a->mSerial > b->mSerial; });
    return slots;
}

void Slots::DestroyAll()
{
    struct Entry {
        int id;
        unsigned long serial;
    };
    std::vector<Entry> entries;
    for (Slot* slot : NewestFirst())
        entries.push_back({slot->mId, slot->mSerial});
    // A destroy may end other slots; each entry is checked again.
    for (const Entry& e : entries) {
        Slot* slot = Find(e.id);
        if (slot && slot->mSerial == e.serial && !slot->mReleasing)
            Destroy(e.id);
    }
}

void Slots::Clear()
{
    DestroyAll();
    for (Slot* slot : NewestFirst()) {
        Teardown(*slot);
        Remove(*slot);
    }
    for (SlotFactory* factory = SlotFactory::first(); factory; factory = factory->next())
        factory->IAtExit();
}

void Slots::Stream(Slot& slot, bool transmitter, bool active, int channel)
{
    if (mNotify)
        mNotify->OnStream(slot, transmitter, active, channel);
}

void Slots::Signal(Slot& slot, LGCP::Signal const& signal)
{
    if (mNotify)
        mNotify->OnSignal(slot, signal);
}

void Slots::Put(std::ostream& os) const
{
    os << "slots: " << count() << "\n";
    for (Slot* slot : mTable) {
        if (!slot)
            continue;
        os << "  " << *slot << " tx=" << slot->GetTransmitChannel() << " rx=" << slot->GetReceiveChannel();
        if (slot->mSource)
            os << " from=" << *slot->mSource;
        for (Slot* receiver : slot->mReceivers)
            os << " to=" << *receiver;
        if (slot->mReleasing)
            os << " releasing";
        os << "\n";
    }
}
