#include "board/receiver_device.h"

#include "board/device.h"
#include "framework/fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace Hardware {

namespace {

// Larger than any record; a longer one shows as a wrong size.
constexpr size_t kRecordRoom = 64;
// Records taken per wake-up, so a flooding device cannot starve the loop.
constexpr int kReadsPerEvent = 32;

} // namespace

bool HungUp(int fd)
{
    pollfd p{fd, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

ReceiverDevice::ReceiverDevice(const char* path, const char* name)
    : mPath(path), mName(name)
{
    // Bound once: the callback must outlive a close from within itself.
    mEvent.Bind(mName, &ReceiverDevice::OnEvent, this);
}

ReceiverDevice::~ReceiverDevice() = default;

void ReceiverDevice::PutHeader(std::ostream& os) const
{
    os << mName << ": ";
}

bool ReceiverDevice::Open()
{
    Close();
    Fd fd(Device::Open(mPath, O_RDWR | O_NONBLOCK));
    if (!fd) {
        Errno error;
        PutHeader(std::cerr);
        std::cerr << "can't open " << mPath << " : " << error << std::endl;
        return false;
    }
    if (mEvent.Schedule(fd, POLLIN))
        return true;
    Errno error;
    PutHeader(std::cerr);
    std::cerr << "can't watch " << mPath << " : " << error << std::endl;
    return false;
}

void ReceiverDevice::Close()
{
    mEvent.Release();
}

bool ReceiverDevice::Request(unsigned long code, void* record, int timeslot)
{
    if (timeslot < 0) {
        PutHeader(std::cerr);
        std::cerr << "no time slot for request 0x" << std::hex << code << std::dec << std::endl;
        return false;
    }
    if (!is_open() && !Open())
        return false;
    if (Device::Request(mEvent.lowlevel_fd(), code, record) >= 0)
        return true;
    Errno error;
    PutHeader(std::cerr);
    std::cerr << "request 0x" << std::hex << code << std::dec << " on time slot " << timeslot
              << " failed: " << error << std::endl;
    return false;
}

void ReceiverDevice::Dropped(const char* what, int timeslot, uint32_t type)
{
    PutHeader(std::cerr);
    std::cerr << what << " (type " << type << ", time slot " << timeslot << ") dropped" << std::endl;
}

void ReceiverDevice::Unrouted(int timeslot, uint32_t type)
{
    ++mUnrouted;
    Dropped("event for a time slot without receiver", timeslot, type);
}

void ReceiverDevice::OnEvent(int fd, short revents)
{
    if (revents & POLLIN) {
        for (int i = 0; i < kReadsPerEvent && mEvent.lowlevel_fd() == fd; ++i) {
            unsigned char record[kRecordRoom];
            ssize_t n = ::read(fd, record, sizeof record);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (n < 0) {
                Errno error;
                PutHeader(std::cerr);
                std::cerr << "read failed: " << error << std::endl;
                revents |= POLLERR;
                break;
            }
            if (n == 0) {
                if (HungUp(fd)) {
                    revents |= POLLHUP;
                    break;
                }
                PutHeader(std::cerr);
                std::cerr << "empty record dropped" << std::endl;
                continue;
            }
            // The receivers may close the device from within.
            OnRecord(record, static_cast<size_t>(n));
        }
    }
    if (mEvent.lowlevel_fd() == fd && (revents & (POLLERR | POLLHUP | POLLNVAL))) {
        PutHeader(std::cerr);
        std::cerr << mPath << " lost, closed" << std::endl;
        Close();
    }
}

} // namespace Hardware
