#include "core/signal_watch.h"

#include "framework/spawn.h"
#include "samples/link/loop_driver.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace {

int gUpdates = 0;

// A stop that comes after start-up but before the loop clears its end flag
// still ends the loop on its first pass; the same pass serves a resource
// update and a status dump, whose failure is logged.
TEST(SignalWatch, StopBeforeTheLoopRunsIsKept)
{
    SignalWatch& watch = SignalWatch::instance();
    ASSERT_TRUE(watch.Install());
    watch.set_update([] { ++gUpdates; });
    watch.set_status_path("/nonexistent/status");
    watch.Start();
    test::Capture err(std::cerr);
    for (int sig : {SIGHUP, SIGUSR2, SIGTERM})
        ASSERT_EQ(std::raise(sig), 0);

    unsigned asked = 0;
    test::LoopDriver loop;
    loop.RunUntil([&] { return ++asked, false; }, 5000);
    // Without the kept stop the loop would have run until the bound.
    EXPECT_LT(asked, 1000u);
    loop.RunUntil([] { return false; }, 5); // the stop is kept, the rest served once
    EXPECT_EQ(gUpdates, 1);
    EXPECT_EQ(err.text(), "server: status not written to /nonexistent/status: No such file or directory\n");

    watch.set_update(nullptr);
    watch.set_status_path(SignalWatch::kStatusFile);
    watch.Stop();
    SignalWatch::sStop = 0;
    for (int sig : {SIGTERM, SIGINT, SIGUSR2, SIGHUP, SIGPIPE})
        std::signal(sig, SIG_DFL);
}

// A stop sent to a child the moment it is forked ends it, whether it comes
// before or after the program runs: the daemon's own handler never runs in
// the child.
TEST(SignalWatch, ChildStoppedAtOnceEndsWithTheSignal)
{
    ASSERT_TRUE(SignalWatch::instance().Install());
    // Reaped here only, not by a child-exit service some other test started.
    sigset_t chld, previous;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    ::pthread_sigmask(SIG_BLOCK, &chld, &previous);
    for (int round = 0; round < 20; ++round) {
        const pid_t pid = Spawn::Start("/bin/sleep", {"sleep", "5"}, {}, 99);
        ASSERT_GT(pid, 0);
        ASSERT_EQ(::kill(pid, SIGTERM), 0);
        int status = 0;
        for (int ms = 0; ms < 2000 && ::waitpid(pid, &status, WNOHANG) == 0; ++ms)
            ::usleep(1000);
        if (::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "child of round " << round << " survived its SIGTERM";
            break;
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    SignalWatch::sStop = 0;
    for (int sig : {SIGTERM, SIGINT, SIGUSR2, SIGHUP, SIGPIPE})
        std::signal(sig, SIG_DFL);
}

} // namespace
