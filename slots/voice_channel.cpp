#include "slots/voice_channel.h"

#include "board/device.h"
#include "board/mcc.h"

#include <cerrno>

namespace VoiceChannel {

Result Allocate(int openFlags, uint32_t packetSize, uint32_t rxThreshold, uint32_t txThreshold)
{
    Result r;
    const int fd = Device::Open(Mcc::kDevice, openFlags);
    if (fd < 0) {
        r.failed = open;
        r.error = errno;
        return r;
    }
    r.channel = Fd(fd);
    Mcc::Allocation record{Mcc::kTransparent, packetSize, 0, rxThreshold, txThreshold};
    if (Device::Request(r.channel.lowlevel_fd(), Mcc::kAllocate, &record) < 0) {
        r.failed = allocate;
        r.error = errno;
        return r;
    }
    r.timeslot = Device::Request(r.channel.lowlevel_fd(), Mcc::kTimeslot);
    if (r.timeslot < 0) {
        r.failed = timeslot;
        r.error = errno;
    }
    return r;
}

} // namespace VoiceChannel
