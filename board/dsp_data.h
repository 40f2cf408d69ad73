#pragma once

#include <cstdint>

// Requests of the DSP data device, which carries a QSIG link: its D
// channel's frames (one per read or write) and the B channels of the link.
// The numbers use the board's ioctl encoding and are written out for that
// reason.

namespace DspData {

constexpr const char* kDevice = "/dev/dsp-data";

// No argument; the result is the D channel's switch time slot.
constexpr unsigned long kDTimeslot = 0x40044211UL;
// Adds a B channel (BChannel): index in, switch channel out.
constexpr unsigned long kAddB = 0x8008420FUL;
// Removes a B channel: the uint32_t index.
constexpr unsigned long kRemoveB = 0x80044210UL;

// B channels of a link.
constexpr uint32_t kBChannels = 3;

struct BChannel {
    uint32_t index;
    int32_t channel; // -1 until the driver gives one
};
static_assert(sizeof(BChannel) == 8, "the driver takes two words");

} // namespace DspData
