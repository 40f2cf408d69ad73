#include "framework/entropy.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

bool ReadDevice(char const* device, uint32_t& value)
{
    int fd = ::open(device, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n;
    do
        n = ::read(fd, &value, sizeof value);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    return n == static_cast<ssize_t>(sizeof value);
}

} // namespace

uint32_t KernelRandom(RandomCall call, char const* device)
{
    uint32_t value = 0;
    ssize_t n;
    do
        n = call(&value, sizeof value, GRND_NONBLOCK);
    while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof value))
        return value;
    // No getrandom (old kernel, seccomp) or its pool not ready yet: the
    // device still gives numbers nobody can guess from the last one.
    if (ReadDevice(device, value))
        return value;
    // No device either (early boot, a bare chroot): still differ between
    // hosts and restarts.
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint32_t>(now ^ (now >> 32)) ^ (static_cast<uint32_t>(::getpid()) * 2654435761u);
}

uint32_t KernelRandom()
{
    return KernelRandom(::getrandom, "/dev/urandom");
}
