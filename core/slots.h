#pragma once

#include "core/slot.h"

#include <array>
#include <iosfwd>
#include <vector>

// Outcome of a slot command: success, a later answer, or the error cause
// numbers of the control protocol.
namespace Answer {
enum Type : int {
    success = -1,
    delayed = -2,
    invalidParams = 0,
    insufficientResources = 1,
    invalidSlot = 2,
    slotNotExists = 3,
    unexpectedMsgType = 4,
    internal = 5,
    unsupported = 6,
    reconnectionFail = 7,
    disconnectFail = 8,
    connectFail = 9,
    busError = 10,
    slotIdBusy = 11,
    destroyInProgress = 12,
};

// A factory's INewSlot or a slot's hook that turns a command down for a
// reason of its own names the cause here before it returns null or false;
// Slots answers with that cause, and a create goes to no further factory.
void Refuse(Type cause);
}

// The slot table: slot numbers to slots, and the commands on them.
class Slots
{
public:
    // Where the table's own reports go (the controller link).
    class Notify
    {
    public:
        virtual ~Notify() = default;
        // A slot's stream went active or inactive on a switch channel.
        virtual void OnStream(Slot& slot, bool transmitter, bool active, int channel) = 0;
        // A deferred destroy has completed; the slot is deleted after this.
        virtual void OnReleased(Slot& slot) = 0;
        // A slot's own signal for the controller.
        virtual void OnSignal(Slot& slot, LGCP::Signal const& signal) = 0;
    };

    static Slots& instance();
    Slots();
    ~Slots();
    Slots(const Slots&) = delete;
    Slots& operator=(const Slots&) = delete;

    void SetNotify(Notify* notify) { mNotify = notify; }
    Notify* GetNotify() const { return mNotify; }

    // The slot with the number, null when none.
    Slot* Find(int id) const;
    // The slot a command names, or the cause why there is none to use.
    Slot* Use(int id, Answer::Type& answer) const;
    size_t count() const;

    // Walks the factories newest first; on success the slot is entered
    // and returned in `made`; its IAfterCreate is left to the caller, who
    // answers first.
    Answer::Type Create(int id, LGCP::CreateParams const& params, Slot*& made);
    // success when the number can take a new slot, else the cause.
    Answer::Type Free(int id) const;
    // Enters a made slot under a free number.
    void Enter(int id, Slot& slot);
    // A live slot that sends on the slot's transmit channel or listens on
    // its receive channel; null when there is none.
    Slot* Holding(Slot& slot) const;
    // The same for channels a slot learns after its create (-1: none),
    // before it takes them.
    Slot* Holding(Slot& slot, int tx, int rx) const;
    // Undoes every link of the slot, to its source and to its receivers,
    // even where the switch refuses: at destroy, and when a slot's channel
    // has gone back and may go to another slot.
    void Teardown(Slot& slot);
    // success (destroyed), delayed (on_release ends it) or a cause.
    Answer::Type Destroy(int id);
    Answer::Type Connect(int source, std::vector<int> const& receivers);
    Answer::Type Disconnect(int receiver);
    Answer::Type Activate(int id, TERM::TermActivateParams const& params);
    Answer::Type Deactivate(int id);
    Answer::Type UserData(int id, std::vector<char> const& data);
    Answer::Type Ioctl(int id, LGCP::IoctlParams const& params);

    // The controller is gone: every slot is destroyed, newest first.
    void DestroyAll();
    // Deletes every slot, deferred ones included, and lets each factory end
    // what its slots left running (exit).
    void Clear();

    void Put(std::ostream& os) const;

private:
    friend class Slot;
    void Stream(Slot& slot, bool transmitter, bool active, int channel);
    void Released(Slot& slot);
    void Signal(Slot& slot, LGCP::Signal const& signal);
    void Remove(Slot& slot);
    // A slot deleted outside the table leaves no entry behind.
    void Forget(Slot& slot);
    std::vector<Slot*> NewestFirst() const;

    std::array<Slot*, Slot::kMaxId + 1> mTable{};
    Notify* mNotify = nullptr;
    unsigned long mSerial = 0;
};
