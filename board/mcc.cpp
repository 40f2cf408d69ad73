#include "board/mcc.h"

#include "board/device.h"

#include <cerrno>

namespace Mcc {

Channel Allocate(int openFlags, Allocation record)
{
    Channel c;
    const int fd = Device::Open(kDevice, openFlags);
    if (fd < 0) {
        c.failed = Channel::open;
        c.error = errno;
        return c;
    }
    c.fd = Fd(fd);
    if (Device::Request(fd, kAllocate, &record) < 0) {
        c.failed = Channel::allocate;
        c.error = errno;
        return c;
    }
    c.timeslot = Device::Request(fd, kTimeslot);
    if (c.timeslot < 0) {
        c.failed = Channel::query;
        c.error = errno;
    }
    return c;
}

const char* FailureText(Channel::Step step)
{
    switch (step) {
    case Channel::open:
        return "fail to open MCC device: ";
    case Channel::allocate:
        return "MCC_ALLOCATE fail: ";
    case Channel::query:
        return "MCC_TIMESLOT fail: ";
    case Channel::ok:
        break;
    }
    return "";
}

} // namespace Mcc
