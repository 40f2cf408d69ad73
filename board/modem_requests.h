#pragma once

#include <cstdint>

// Requests of the DSP modem control device (/dev/mctl). Plain request
// numbers; records are 32-bit words in host order. Enumerate takes the
// previous modem number (-1 first) as the argument itself, allocate and
// the time-slot request take 0.

namespace ModemRequest {

constexpr unsigned long kAnswer = 0xBB03;
constexpr unsigned long kOriginate = 0xBB04;
constexpr unsigned long kAllocate = 0xBB0B;
constexpr unsigned long kEnumerate = 0xBB0C;
constexpr unsigned long kTimeslot = 0xBB15;
constexpr unsigned long kDigitalModes = 0xBB16;
constexpr unsigned long kSetDmp = 0xBB38;
constexpr unsigned long kResetDmp = 0xBB3A;
constexpr unsigned long kFaxOriginate = 0xBB40;

// Digital data mode bits.
constexpr uint32_t kV110 = 0x1;
constexpr uint32_t k8Bit = 0x2;
constexpr uint32_t k7Bit = 0x4;

constexpr uint32_t kAll = 0xFFFFFFFFu;

// Answer, originate, fax originate, DMP reset: {modem, 0xFFFFFFFF}.
// Digital data modes: {modem, mask}.
struct ModemWord {
    uint32_t modem;
    uint32_t value;
};

struct DmpParam {
    uint32_t modem;
    uint32_t offset;
    uint32_t value;
};

} // namespace ModemRequest
