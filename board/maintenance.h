#pragma once

#include <cstdint>

// The maintenance device's report of the E1 framers. The request code uses
// the board's ioctl encoding (read, 20-byte record, 'E', 1).

namespace Maintenance {

constexpr const char* kDevice = "/dev/maintenance";

constexpr unsigned kMaxTrunks = 4;

// Alarm bits of one trunk.
enum Alarm : uint32_t {
    kLossOfSignal = 1u << 0,
    kLossOfFrame = 1u << 1,
    kAis = 1u << 2,
    kRai = 1u << 3,
    kDisabled = 1u << 4,
};

struct TrunkAlarms {
    uint32_t count; // trunks fitted, at most kMaxTrunks
    uint32_t alarms[kMaxTrunks];
};
static_assert(sizeof(TrunkAlarms) == 20, "five words");

constexpr unsigned long kTrunkAlarms = 0x40144501UL;

} // namespace Maintenance
