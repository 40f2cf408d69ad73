#pragma once

#include "framework/fd.h"

#include <cstdint>

// Requests of the MCC control device. Each open of the device is one
// channel; after allocation its descriptor reads and writes the channel's
// frames, one per call. The numbers use the board's ioctl encoding
// (direction in the top three bits) and are written out for that reason.

namespace Mcc {

constexpr const char* kDevice = "/dev/mcc/ctl";

// Allocates the channel of the descriptor (Allocation).
constexpr unsigned long kAllocate = 0x40144D00UL;
// No argument; the result is the channel's switch time slot.
constexpr unsigned long kTimeslot = 0x20004D02UL;
// Fills a Resources record.
constexpr unsigned long kResources = 0x80104D03UL;

// Channel kinds of an allocation.
enum Kind : uint32_t {
    kData = 0,        // PRI D channels and data
    kBri = 1,
    kTransparent = 2, // voice and transparent data
    kSs7 = 3,
};

struct Allocation {
    uint32_t kind;
    uint32_t packetSize;
    uint32_t reserved; // always 0
    uint32_t rxThreshold;
    uint32_t txThreshold;
};
static_assert(sizeof(Allocation) == 20, "the driver takes five words");

// Free channels of each kind.
struct Resources {
    uint32_t data;
    uint32_t bri;
    uint32_t transparent;
    uint32_t spare;
};
static_assert(sizeof(Resources) == 16, "the driver fills four words");

// A channel opened and allocated, with its switch time slot. `failed` is
// the step that did not succeed (its errno in `error`); the descriptor
// closes with the record.
struct Channel {
    enum Step { ok, open, allocate, query }; // query: the time slot request
    Step failed = ok;
    int error = 0;
    Fd fd;
    int timeslot = -1;
};
Channel Allocate(int openFlags, Allocation record);

// The daemon's log text for a failed step, followed by its errno.
const char* FailureText(Channel::Step step);

} // namespace Mcc
