#pragma once

#include <cstdint>

// Requests of the board's control device for the TDM switch. The numbers
// are the board's own ioctl encoding (direction in the top three bits), so
// they are written out rather than built with the host's macros.

namespace Hal {

constexpr const char* kDevice = "/dev/hal";

// Feeds a switch output from a switch input (MuxConnect).
constexpr unsigned long kMuxConnect = 0x80084D10UL;
// Puts a constant byte on a switch output (MuxIdle).
constexpr unsigned long kMuxIdle = 0x80084D11UL;
// Frees and disables a switch output (int32_t channel).
constexpr unsigned long kMuxDisable = 0x80044D03UL;

struct MuxConnect {
    int32_t output;
    int32_t input;
};

struct MuxIdle {
    int32_t output;
    int32_t value;
};

constexpr int kFirstChannel = 8192;
constexpr int kBuses = 16;
constexpr int kTimeSlots = 128;
constexpr int kIdleByte = 0xD5;

constexpr int Channel(int bus, int timeSlot)
{
    return kFirstChannel + bus * kTimeSlots + timeSlot;
}

constexpr bool IsChannel(int channel)
{
    return channel >= kFirstChannel && channel < kFirstChannel + kBuses * kTimeSlots;
}

} // namespace Hal
