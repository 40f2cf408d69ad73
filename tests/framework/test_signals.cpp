#include "framework/signals.h"

#include <gtest/gtest.h>

namespace {

volatile sig_atomic_t g_plain = 0;
volatile sig_atomic_t g_info_signo = 0;

void plain_handler(int sig) { g_plain = sig; }
void info_handler(int, siginfo_t* info, void*) { g_info_signo = info ? info->si_signo : -1; }

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

    ASSERT_EQ(0, IPC::Signal::handle(SIGUSR1, info_handler, 0));
    raise(SIGUSR1);
    EXPECT_EQ(SIGUSR1, g_info_signo);

    // Restart flag toggled without losing the handler.
    ASSERT_EQ(0, IPC::Signal::disable_int(SIGUSR1));
    sa = current();
    EXPECT_TRUE(sa.sa_flags & SA_RESTART);
    EXPECT_EQ(info_handler, sa.sa_sigaction);
    ASSERT_EQ(0, IPC::Signal::enable_int(SIGUSR1));
    EXPECT_FALSE(current().sa_flags & SA_RESTART);

    ASSERT_EQ(0, IPC::Signal::ignore(SIGUSR1));
    raise(SIGUSR1);
    ASSERT_EQ(0, IPC::Signal::system(SIGUSR1));
    EXPECT_EQ(SIG_DFL, current().sa_handler);

    EXPECT_EQ(-1, IPC::Signal::handle(SIGKILL, plain_handler, 0));
    EXPECT_EQ(-1, IPC::Signal::disable_int(10000));
    EXPECT_FALSE(IPC::Signal::Set::is_signal(0));
    EXPECT_FALSE(IPC::Signal::Set::is_signal(10000));
    sigaction(SIGUSR1, &saved, nullptr);
}
