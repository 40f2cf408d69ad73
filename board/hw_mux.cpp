#include "board/hw_mux.h"

#include "board/device.h"
#include "board/hal.h"

#include <fcntl.h>

#include <cerrno>
#include <iostream>

HwMux& HwMux::instance()
{
    static HwMux mux;
    return mux;
}

void HwMux::PutHeader(std::ostream& os) const
{
    os << "hwMux: ";
}

bool HwMux::Open()
{
    int fd = Device::Open(Hal::kDevice, O_RDWR);
    Errno error;
    mFd = Fd(fd);
    if (!mFd) {
        PutHeader(std::cerr);
        std::cerr << "can't open " << Hal::kDevice << " : " << error << std::endl;
        return false;
    }
    return true;
}

void HwMux::Close()
{
    mFd.close();
}

int HwMux::Request(unsigned long code, void* arg, bool valid)
{
    if (!valid) {
        errno = EINVAL;
        return -1;
    }
    return Device::Request(mFd.lowlevel_fd(), code, arg);
}

bool HwMux::Connect(int source, int destination)
{
    Hal::MuxConnect record{destination, source};
    if (Request(Hal::kMuxConnect, &record, source >= 0 && destination >= 0) >= 0)
        return true;
    Errno error;
    PutHeader(std::cerr);
    std::cerr << "connect failed " << source << " -> " << destination << " : " << error << std::endl;
    return false;
}

bool HwMux::Disconnect(int channel)
{
    Hal::MuxIdle record{channel, Hal::kIdleByte};
    if (Request(Hal::kMuxIdle, &record, channel >= 0) >= 0)
        return true;
    Errno error;
    PutHeader(std::cerr);
    std::cerr << "disconnect failed " << channel << " : " << error << std::endl;
    return false;
}

bool HwMux::Disable(int channel)
{
    if (!is_open() || channel < 0)
        return false;
    int32_t output = channel;
    if (Request(Hal::kMuxDisable, &output, true) >= 0)
        return true;
    Errno error;
    PutHeader(std::cerr);
    std::cerr << "disable failed " << channel << " : " << error << std::endl;
    return false;
}
