// Helpers shared by the child-watch tests.
#pragma once

#include "loop_helpers.h"

#include "framework/child_wait.h"
#include "framework/signals.h"

#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <utility>
#include <vector>

namespace looptest {

struct Owner
{
    void ended(int status)
    {
        results.emplace_back(watch.get_pid(), status);
        if (results.size() >= expected)
            multiplexer.terminate();
    }
    ChildWait watch;
    std::vector<std::pair<int, int>> results;
    std::size_t expected = 1;
};

// Starts a child that exits with code and waits, without reaping, until
// it has ended (the SIGCHLD handler may reap it meanwhile).
inline pid_t spawn_ended(int code)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(code);
    siginfo_t info;
    while (::waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR)
        ;
    return pid;
}

// Holds SIGCHLD off until release(): a child that ends meanwhile stays
// unreaped, and the pending signal is handled before release() returns.
struct ChildSignalHold
{
    ChildSignalHold()
    {
        sigset_t chld;
        sigemptyset(&chld);
        sigaddset(&chld, SIGCHLD);
        pthread_sigmask(SIG_BLOCK, &chld, &old);
    }
    void release() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
    sigset_t old;
};

class ChildWaitTest : public LoopTest
{
protected:
    void SetUp() override
    {
        ChildWait::Activate();
        LoopTest::SetUp();
        ASSERT_NE(ChildWaitService::childWaitService, nullptr);
        ASSERT_TRUE(ChildWaitService::childWaitService->is_active());
        // Earlier tests of the same process may have reset the handler.
        IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, IPC::Signal::Set(), SA_RESTART);
    }
    void TearDown() override
    {
        IPC::Signal::system(SIGCHLD);
        EXPECT_EQ(ChildWaitService::childWaitService->watch_count(), 0u);
        LoopTest::TearDown();
    }
};

// Runs the loop until the owners have their exits; returns the log.
inline std::string run_loop()
{
    Safety safety(20000);
    testing::internal::CaptureStderr();
    multiplexer.run(false, true);
    EXPECT_FALSE(safety.fired);
    return testing::internal::GetCapturedStderr();
}

} // namespace looptest
