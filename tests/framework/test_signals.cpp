#include "framework/signals.h"

#include <gtest/gtest.h>

namespace {

volatile sig_atomic_t g_plain = 0;

void plain_handler(int sig) { g_plain = sig; }

struct sigaction current()
{
    struct sigaction sa;
    sigaction(SIGUSR1, nullptr, &sa);
    return sa;
}

} // namespace

TEST(Signal, HandlersInstalledWithTheirFlagsAndMask)
{
    struct sigaction saved = current();

    // The plain form drops SA_SIGINFO even when asked for it.
    ASSERT_EQ(0, IPC::Signal::handle(SIGUSR1, plain_handler, IPC::Signal::Set(SIGUSR2, SIGHUP), SA_RESTART | SA_SIGINFO));
    struct sigaction sa = current();
    EXPECT_FALSE(sa.sa_flags & SA_SIGINFO);
    EXPECT_TRUE(sa.sa_flags & SA_RESTART);
    EXPECT_EQ(1, sigismember(&sa.sa_mask, SIGUSR2));
    EXPECT_EQ(1, sigismember(&sa.sa_mask, SIGHUP));
    EXPECT_EQ(0, sigismember(&sa.sa_mask, SIGTERM));
    raise(SIGUSR1);
    EXPECT_EQ(SIGUSR1, g_plain);

    ASSERT_EQ(0, IPC::Signal::system(SIGUSR1));
    EXPECT_EQ(SIG_DFL, current().sa_handler);
    EXPECT_EQ(-1, IPC::Signal::handle(SIGKILL, plain_handler, 0));
    sigaction(SIGUSR1, &saved, nullptr);
}
