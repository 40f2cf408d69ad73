#include "child_helpers.h"
#include "loop_helpers.h"

#include "framework/child_wait.h"
#include "framework/dpc.h"
#include "framework/signals.h"

#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <utility>

using namespace looptest;

namespace {

TEST_F(ChildWaitTest, ExitsArriveInOrderWithRawStatus)
{
    Owner first, second;
    first.watch.Bind(&first, &Owner::ended);
    second.watch.Bind(&Owner::ended, &second);
    const pid_t p1 = spawn_ended(1);
    first.watch.Attach(p1);
    const pid_t p2 = spawn_ended(3);
    second.watch.Attach(p2);
    // Without POLLIN nothing is read.
    ChildWaitService::childWaitService->OnChildEvent(-1, 0);
    EXPECT_TRUE(first.results.empty());

    const std::string log = run_loop();
    EXPECT_EQ(first.results, (std::vector<std::pair<int, int>>{{p1, 256}}));
    EXPECT_EQ(second.results, (std::vector<std::pair<int, int>>{{p2, 3 << 8}}));
    const std::string line1 = "terminate child process, pid=" + std::to_string(p1) + " status=256\n";
    const std::string line2 = "terminate child process, pid=" + std::to_string(p2) + " status=768\n";
    ASSERT_NE(log.find(line1), std::string::npos);
    EXPECT_LT(log.find(line1), log.find(line2));
}

TEST_F(ChildWaitTest, UnboundDestroyedMovedAndUnknownWatches)
{
    ChildWaitService* s = ChildWaitService::childWaitService;
    ChildWait a;
    a.Detach(); // never attached
    a.Attach(999999);
    a.Attach(999997); // moves
    EXPECT_EQ(s->watch_count(), 1u);
    a.Detach();
    a.Detach();
    EXPECT_EQ(s->watch_count(), 0u);

    Owner last;
    last.watch.Bind(&last, &Owner::ended);
    const pid_t gone_pid = spawn_ended(0);
    {
        Owner gone; // destroyed before its exit is read
        gone.watch.Bind(&gone, &Owner::ended);
        gone.watch.Attach(gone_pid);
    }
    ChildWait unbound;
    const pid_t unbound_pid = spawn_ended(5);
    unbound.Attach(unbound_pid);
    last.watch.Attach(spawn_ended(0));

    const std::string log = run_loop();
    EXPECT_EQ(last.results.size(), 1u);
    EXPECT_NE(log.find("pid=" + std::to_string(gone_pid) + " status=0\n"), std::string::npos);
    EXPECT_NE(log.find("pid=" + std::to_string(unbound_pid) + " status=1280\n"), std::string::npos);
}

// Only a running child is signalled: once it has ended, and above all once
// it is reaped, its pid may be another process's before the end is told.
TEST_F(ChildWaitTest, KillSignalsOnlyARunningChild)
{
    Owner running;
    running.watch.Bind(&running, &Owner::ended);
    EXPECT_FALSE(running.watch.Kill(SIGTERM)); // watches nothing yet
    const pid_t pid = ::fork();
    if (pid == 0)
        for (;;)
            ::pause();
    running.watch.Attach(pid);
    EXPECT_TRUE(running.watch.Kill(SIGTERM));
    run_loop();
    EXPECT_EQ(running.results, (std::vector<std::pair<int, int>>{{pid, SIGTERM}}));
    EXPECT_FALSE(running.watch.Kill(SIGKILL)); // its end was told

    ChildSignalHold hold;
    Owner ended;
    ended.watch.Bind(&ended, &Owner::ended);
    const pid_t gone = spawn_ended(3);
    ended.watch.Attach(gone);
    EXPECT_FALSE(ended.watch.Kill(SIGKILL)); // ended, not reaped
    hold.release(); // reaped here
    EXPECT_FALSE(ended.watch.Kill(SIGKILL)); // reaped, its end not yet told
    run_loop();
    EXPECT_EQ(ended.results, (std::vector<std::pair<int, int>>{{gone, 3 << 8}}));
}

TEST_F(ChildWaitTest, SignalHandlerKeepsErrno)
{
    errno = 4321;
    ::raise(SIGCHLD); // no child at all: waitpid fails inside the handler
    EXPECT_EQ(errno, 4321);

    // A real exit: the signal stays pending until unblocked, and is then
    // handled before pthread_sigmask returns.
    ChildSignalHold hold;
    Owner o;
    o.watch.Bind(&o, &Owner::ended);
    o.watch.Attach(spawn_ended(0));
    errno = 1234;
    hold.release();
    EXPECT_EQ(errno, 1234);
    run_loop();
    EXPECT_EQ(o.results.size(), 1u);
}

// More exits than the socket pair holds must neither block the signal
// handler nor be lost.
TEST_F(ChildWaitTest, BurstOfExitsIsNeverLost)
{
    const int n = 500;
    std::vector<Owner> owners(n);
    for (int i = 0; i < n; ++i) {
        owners[i].watch.Bind(&owners[i], &Owner::ended);
        owners[i].watch.Attach(spawn_ended(i % 100));
    }
    struct Done
    {
        void check()
        {
            for (auto& o : *owners)
                if (o.results.empty())
                    return;
            multiplexer.terminate();
        }
        std::vector<Owner>* owners;
    } done{&owners};
    Dpc d;
    d.Bind(&done, &Done::check);
    d.Activate();
    for (auto& o : owners)
        o.expected = 1000; // only the Dpc ends the run
    run_loop();
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(owners[i].results.size(), 1u) << i;
        EXPECT_EQ(owners[i].results[0].second, (i % 100) << 8);
    }
}

} // namespace
