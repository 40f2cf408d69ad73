#include "board/device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace Device {

int Backend::Socket(int domain, int type, int protocol)
{
    return ::socket(domain, type | SOCK_CLOEXEC, protocol);
}

namespace {

class SystemBackend : public Backend {
public:
    int Open(const char* path, int flags) override { return ::open(path, flags | O_CLOEXEC); }
    int Request(int fd, unsigned long code, void* arg) override { return ::ioctl(fd, code, arg); }
};

SystemBackend gSystem;
Backend* gCurrent = &gSystem;

} // namespace

int Open(const char* path, int flags)
{
    return gCurrent->Open(path, flags);
}

int Request(int fd, unsigned long code, void* arg)
{
    return gCurrent->Request(fd, code, arg);
}

int Socket(int domain, int type, int protocol)
{
    return gCurrent->Socket(domain, type, protocol);
}

Backend* Install(Backend* backend)
{
    Backend* previous = gCurrent;
    gCurrent = backend ? backend : &gSystem;
    return previous;
}

Backend& Current()
{
    return *gCurrent;
}

} // namespace Device
