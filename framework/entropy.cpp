#include "framework/entropy.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

uint32_t KernelRandom()
{
    uint32_t value = 0;
    ssize_t n;
    do
        n = ::getrandom(&value, sizeof value, GRND_NONBLOCK);
    while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof value))
        return value;
    // Entropy pool not ready yet (early boot): still differ between hosts
    // and restarts.
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint32_t>(now ^ (now >> 32)) ^ (static_cast<uint32_t>(::getpid()) * 2654435761u);
}
