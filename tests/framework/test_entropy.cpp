#include "framework/entropy.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>

namespace {
ssize_t Refused(void*, size_t, unsigned)
{
    errno = ENOSYS;
    return -1;
}
int interruptions;
ssize_t InterruptedOnce(void* buf, size_t size, unsigned)
{
    if (interruptions++ == 0) {
        errno = EINTR;
        return -1;
    }
    std::memset(buf, 0x5a, size);
    return ssize_t(size);
}
} // namespace

// Without getrandom the numbers come from the device, not the clock: draws
// taken back to back share no top bits. An interrupted call is asked again.
TEST(KernelRandom, TheDeviceStandsInForTheCall)
{
    std::set<uint32_t> tops;
    for (int i = 0; i < 64; ++i)
        tops.insert(KernelRandom(Refused, "/dev/urandom") >> 20);
    EXPECT_GT(tops.size(), 48u);
    EXPECT_EQ(KernelRandom(InterruptedOnce, "/nonexistent"), 0x5a5a5a5au);
    EXPECT_EQ(interruptions, 2);
    std::set<uint32_t> values;
    for (int i = 0; i < 8; ++i)
        values.insert(KernelRandom());
    EXPECT_GT(values.size(), 6u);
}
