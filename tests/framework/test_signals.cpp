#include "framework/signals.h"

#include <gtest/gtest.h>

namespace {

volatile sig_atomic_t g_plain = 0;
volatile sig_atomic_t g_info = 0;
volatile sig_atomic_t g_info_signo = 0;

void plain_handler(int sig)
{
    g_plain = sig;
}

void info_handler(int sig, siginfo_t* info, void*)
{
    g_info = sig;
    g_info_signo = info ? info->si_signo : -1;
}

// Puts SIGUSR1 back as the test found it.
struct SavedAction
{
    struct sigaction old;
    SavedAction() { sigaction(SIGUSR1, nullptr, &old); }
    ~SavedAction() { sigaction(SIGUSR1, &old, nullptr); }
    static struct sigaction current()
    {
        struct sigaction sa;
        sigaction(SIGUSR1, nullptr, &sa);
        return sa;
    }
};

} // namespace

TEST(Signal, SetMembership)
{
    sigset_t s;
    IPC::Signal::Set(SIGUSR1, SIGUSR2, SIGHUP).copy_to(s);
    EXPECT_EQ(1, sigismember(&s, SIGUSR1));
    EXPECT_EQ(1, sigismember(&s, SIGUSR2));
    EXPECT_EQ(1, sigismember(&s, SIGHUP));
    EXPECT_EQ(0, sigismember(&s, SIGTERM));

    IPC::Signal::Set e;
    e.copy_to(s);
    EXPECT_EQ(0, sigismember(&s, SIGUSR1));
    e.add(SIGTERM);
    e.copy_to(s);
    EXPECT_EQ(1, sigismember(&s, SIGTERM));

    EXPECT_TRUE(IPC::Signal::Set::is_signal(SIGCHLD));
    EXPECT_FALSE(IPC::Signal::Set::is_signal(0));
    EXPECT_FALSE(IPC::Signal::Set::is_signal(-1));
    EXPECT_FALSE(IPC::Signal::Set::is_signal(10000));
}

TEST(Signal, HandlersInstalledWithTheirFlagsAndMask)
{
    SavedAction saved;

    // The plain form drops SA_SIGINFO even when asked for it.
    ASSERT_EQ(0, IPC::Signal::handle(SIGUSR1, plain_handler, IPC::Signal::Set(SIGUSR2, SIGHUP), SA_RESTART | SA_SIGINFO));
    struct sigaction sa = SavedAction::current();
    EXPECT_FALSE(sa.sa_flags & SA_SIGINFO);
    EXPECT_TRUE(sa.sa_flags & SA_RESTART);
    EXPECT_EQ(1, sigismember(&sa.sa_mask, SIGUSR2));
    EXPECT_EQ(1, sigismember(&sa.sa_mask, SIGHUP));
    g_plain = 0;
    raise(SIGUSR1);
    EXPECT_EQ(SIGUSR1, g_plain);

    ASSERT_EQ(0, IPC::Signal::handle(SIGUSR1, info_handler, 0));
    sa = SavedAction::current();
    EXPECT_TRUE(sa.sa_flags & SA_SIGINFO);
    EXPECT_FALSE(sa.sa_flags & SA_RESTART);
    EXPECT_EQ(0, sigismember(&sa.sa_mask, SIGUSR2));
    g_info = 0;
    raise(SIGUSR1);
    EXPECT_EQ(SIGUSR1, g_info);
    EXPECT_EQ(SIGUSR1, g_info_signo);

    // Restart flag toggled without losing the handler.
    ASSERT_EQ(0, IPC::Signal::disable_int(SIGUSR1));
    sa = SavedAction::current();
    EXPECT_TRUE(sa.sa_flags & SA_RESTART);
    EXPECT_EQ(info_handler, sa.sa_sigaction);
    ASSERT_EQ(0, IPC::Signal::enable_int(SIGUSR1));
    EXPECT_FALSE(SavedAction::current().sa_flags & SA_RESTART);

    ASSERT_EQ(0, IPC::Signal::ignore(SIGUSR1));
    EXPECT_EQ(SIG_IGN, SavedAction::current().sa_handler);
    raise(SIGUSR1);
    ASSERT_EQ(0, IPC::Signal::system(SIGUSR1));
    EXPECT_EQ(SIG_DFL, SavedAction::current().sa_handler);

    EXPECT_EQ(-1, IPC::Signal::handle(SIGKILL, plain_handler, 0));
    EXPECT_EQ(-1, IPC::Signal::disable_int(10000));
}
