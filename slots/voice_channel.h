// An MCC data channel for voice and T.38: one descriptor of the MCC control
// device, allocated as a transparent channel, with its switch time slot.
#pragma once

#include "framework/fd.h"

#include <cstdint>

namespace VoiceChannel {

enum Step { ok, open, allocate, timeslot };

struct Result
{
    Step failed = ok; // the step that failed
    int error = 0;    // its errno
    Fd channel;
    int timeslot = -1;
};

Result Allocate(int openFlags, uint32_t packetSize, uint32_t rxThreshold, uint32_t txThreshold);

} // namespace VoiceChannel
