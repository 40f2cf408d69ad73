#pragma once

// The addressed frames of the transparent HDLC slot, octets in order:
// address (16 bits, high octet first); sequence octet (bits 7-5 the
// sender's frame counter modulo 8, bits 4-0 the last counter it received);
// body.

#include <cstdint>

namespace HdlcFrame {

constexpr unsigned kHeader = 3;
// Bit 7 of the body's second octet: more frames follow, gather them.
constexpr uint8_t kMore = 0x80;

struct Parsed {
    uint16_t address = 0;
    uint8_t counter = 0; // the sender's frame counter, 0 to 7
    const unsigned char* body = nullptr;
    unsigned length = 0;
    bool more = false; // a body of fewer than two octets marks nothing
};

// False for a frame too short to hold the header.
inline bool Parse(const unsigned char* octets, unsigned len, Parsed& f)
{
    if (len < kHeader)
        return false;
    f.address = static_cast<uint16_t>(octets[0] << 8 | octets[1]);
    f.counter = static_cast<uint8_t>(octets[2] >> 5);
    f.body = octets + kHeader;
    f.length = len - kHeader;
    f.more = f.length >= 2 && (f.body[1] & kMore);
    return true;
}

// The sequence octet of a frame we send.
inline uint8_t Sequence(uint8_t sent, uint8_t received)
{
    return static_cast<uint8_t>(sent * 32 + received);
}

} // namespace HdlcFrame
