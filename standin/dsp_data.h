#pragma once

#include "standin/board.h"

#include <array>

// The DSP data device behind /dev/dsp-data: one QSIG link whose D channel
// sits on a fixed switch time slot and whose three B channels follow it.
// Every open reads and writes D-channel frames; tests reach them through
// Board::Channels.

namespace Standin {

class DspData : public Driver {
public:
    explicit DspData(int dTimeslot = 8192 + 14 * 128) : mDTimeslot(dTimeslot) {}

    int OnRequest(Channel& channel, unsigned long code, void* arg) override;

    int DTimeslot() const { return mDTimeslot; }
    // The switch channel of a held B channel, -1 when it is free.
    int BChannel(unsigned index) const { return index < mHeld.size() && mHeld[index] ? mDTimeslot + 1 + int(index) : -1; }
    unsigned adds() const { return mAdds; }
    unsigned removes() const { return mRemoves; }

private:
    int mDTimeslot;
    std::array<bool, 3> mHeld{};
    unsigned mAdds = 0;
    unsigned mRemoves = 0;
};

} // namespace Standin
