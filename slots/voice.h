// Voice slots: players that write phrase files or a network stream into an
// MCC data channel, and the factory that makes players and recorders.
#pragma once

#include "board/mcc.h"
#include "core/slot.h"
#include "framework/dpc.h"
#include "framework/fd.h"
#include "net/async.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace LGCP {
class PlayerParams;
class PlayerParams_network;
class PlayerParams_file;
}
namespace TERM {
class HostAddress;
}

class RecordSlot;

// "10.0.0.5:80": the address text, ":" and the port in decimal.
std::string dhost2str(TERM::HostAddress const& host);

// Writes a slot's host (its PutAddr) on a log line.
template <class T>
struct Host
{
    T const* slot;
};
template <class T>
Host<T> host(T const* slot)
{
    return Host<T>{slot};
}
template <class T>
std::ostream& operator<<(std::ostream& os, Host<T> const& h)
{
    h.slot->PutAddr(os);
    return os;
}

class VoiceSlot : public Slot
{
public:
    explicit VoiceSlot(SlotFactory& factory) : Slot(factory) {}
};

class PlaySlotGeneric : public VoiceSlot
{
public:
    PlaySlotGeneric(SlotFactory& factory, Fd channel);
    ~PlaySlotGeneric() override;

    bool IsTimeSlotValid() const { return mTimeslot >= 0; }
    Fd& RefDeviceFd() { return mDevice; }

    bool IBeforeDestroy() override;
    int IGetTransmitChannel() override { return mTimeslot; }
    const char* GetName() const override { return "player"; }
    void PutHeader(std::ostream& os) const;

private:
    int mTimeslot;
    Fd mDevice;
};

class PlaySlotNetwork : public PlaySlotGeneric
{
public:
    PlaySlotNetwork(SlotFactory& factory, Fd channel, LGCP::PlayerParams_network const& params);

    bool IOnOutputStream() override;
    void PutAddr(std::ostream& os) const;

private:
    enum State { idle, connecting, playing, released };

    void OnConnect(ASync::Connect::Status::Type status, Fd socket);
    void OnPlayComplete(ASync::Copy::Status::Type status);
    void Release();

    std::string mHost;
    int mId;
    State mState = idle;
    std::unique_ptr<ASync::Copy> mCopy;
    std::unique_ptr<ASync::Connect> mConnect;
};

class PlaySlotFile : public PlaySlotGeneric
{
public:
    PlaySlotFile(SlotFactory& factory, Fd channel, LGCP::PlayerParams_file const& params);

    bool IOnOutputStream() override;

    // Where phrases are looked up ("/usr/local/voice/"); for tests only.
    static void set_dir_for_test(const std::string& dir);

private:
    bool restart();
    bool next_phrase();
    void OnPlayComplete(ASync::Copy::Status::Type status);
    void Release();
    void delayed_abort();

    std::unique_ptr<ASync::Copy> mCopy;
    Fd mFile;
    int mRepeat;
    bool mStarted = false;
    bool mEnded = false; // played out or failed: it sent abort and plays no more
    Dpc mAbort;
    std::vector<std::string> mPhrases;
    size_t mNext = 0;
    // Octets of the round so far: a round of empty files ends the player
    // instead of starting the next round at once, for ever.
    unsigned long long mRoundOctets = 0;
};

class VoiceFactory : public SlotFactory
{
public:
    static VoiceFactory& instance();

    const char* GetName() const override { return "Voice/mcc"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;
    void PutHeader(std::ostream& os) const;

    Slot* CreatePlay(LGCP::PlayerParams const& params);
    Slot* CreateRecord(std::string const& host);
    void OnDestroy(PlaySlotGeneric* slot);
    void OnDestroy(RecordSlot* slot);

private:
    VoiceFactory() = default;
    // A host the connect can take; anything else is the controller's
    // error, refused at create rather than found at the first connect.
    bool Dotted(TERM::HostAddress const& host) const;
    // True when the channel is ready; else its failure is logged.
    bool Allocated(Mcc::Channel const& r, const char* direction) const;

    int mNumber = 0;
    std::vector<RecordSlot*> mRecordSlots;
    std::vector<PlaySlotGeneric*> mPlaySlots;
};
