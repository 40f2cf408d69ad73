#pragma once

#include "standin/board.h"

#include <cstdint>
#include <map>
#include <vector>

// The MCC controller behind /dev/mcc/ctl: a pool of channels, each with a
// switch time slot of its own, allocated one per open descriptor and freed
// when the daemon closes the last descriptor of it. Tests reach a channel
// by its time slot: they inject frames, take what the daemon wrote, make
// the channel refuse writes, and hang it up.

namespace Standin {

class Mcc : public Driver {
public:
    // The first time slot of the pool and how many channels it has; a
    // stream pool's channels give what waits in reads of any size, as a
    // transparent channel does, instead of one frame per read.
    explicit Mcc(int firstTimeslot = 8192 + 12 * 128, int channels = 32, bool stream = false);

    struct Allocation {
        uint32_t kind = 0;
        uint32_t packetSize = 0;
        uint32_t reserved = 0;
        uint32_t rxThreshold = 0;
        uint32_t txThreshold = 0;
    };

    int OnRequest(Channel& channel, unsigned long code, void* arg) override;
    void OnFrame(Channel& channel, const Frame& frame) override;
    void OnClose(Channel& channel) override;
    bool Stream() const override { return mStream; }

    // What the resources request reports.
    void SetResources(uint32_t data, uint32_t bri, uint32_t transparent);

    // Allocated time slots, lowest first.
    std::vector<int> Timeslots() const;
    // The allocation on a time slot, null when it is free.
    const Allocation* At(int timeslot) const;
    size_t free() const { return mPool.size() - mUsed.size(); }

    // A frame for the daemon to read on the channel; false when the time
    // slot is free or the daemon's end is gone.
    bool Inject(int timeslot, const Frame& frame);
    // Takes the frames the daemon wrote on the channel so far.
    std::vector<Frame> Written(int timeslot);
    // The daemon's writes on the channel fail with EAGAIN until Drain.
    bool Refuse(int timeslot);
    void Drain(int timeslot);
    // Closes the far end: the daemon sees a hang-up.
    bool Hangup(int timeslot);
    // The daemon's writes on the channel fail (EPIPE) while it still polls
    // without error, as a device that refuses frames outright.
    bool BreakWrites(int timeslot);
    // Every descriptor the daemon holds of the channel fails its reads with
    // EIO from now on, as a channel the controller lost.
    bool FailReads(int timeslot);

private:
    struct State;
    State* StateOf(Channel& channel) const;
    Channel* Find(int timeslot) const;
    void Collect(Channel& channel, const Frame& frame);

    std::vector<int> mPool;
    std::map<int, Channel*> mUsed; // time slot -> channel
    uint32_t mResources[4];
    bool mStream;
};

} // namespace Standin
