#include "framework/entropy.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

// Without getrandom the numbers come from the device, not the clock: draws
// taken back to back share no top bits. An interrupted call is asked again.
TEST(KernelRandom, TheDeviceStandsInForTheCall)
{
    auto refused = [](void*, size_t, unsigned) -> ssize_t { return errno = ENOSYS, -1; };
    static int calls;
    auto interrupted = [](void* buf, size_t, unsigned) -> ssize_t {
        *static_cast<uint32_t*>(buf) = 0x5a5a5a5a;
        return calls++ ? 4 : (errno = EINTR, -1);
    };
    std::set<uint32_t> tops, values;
    for (int i = 0; i < 64; ++i)
        tops.insert(KernelRandom(refused, "/dev/urandom") >> 20);
    EXPECT_GT(tops.size(), 48u);
    EXPECT_EQ(KernelRandom(interrupted, "/nonexistent"), 0x5a5a5a5au);
    EXPECT_EQ(calls, 2);
    for (int i = 0; i < 8; ++i)
        values.insert(KernelRandom());
    EXPECT_GT(values.size(), 6u);
}
