#include "files.h"
#include "loop_helpers.h"

#include "framework/dpc.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <memory>

using namespace looptest;

namespace {

using PassTest = LoopTest;

TEST_F(PassTest, EveryActiveHandlerIsServedWhenAnyIsReady)
{
    Log log;
    Pair p1, p3;
    int pipe_fds[2];
    ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
    Fd pipe_rd(pipe_fds[0]);
    ::close(pipe_fds[1]); // the reader sees POLLHUP only

    Recorder idle(log, "idle"), hup(log, "hup"), ready(log, "ready");
    idle.event.Schedule(p1.a, POLLIN);
    hup.event.Schedule(pipe_rd, POLLIN);
    ready.event.Schedule(p3.a, POLLIN);
    ready.action = [] { multiplexer.terminate(); };
    p3.send_to_a();
    Safety safety;
    multiplexer.run(false, true);

    EXPECT_FALSE(safety.fired);
    EXPECT_EQ(log, (Log{"idle:0", "hup:" + std::to_string(POLLHUP), "ready:" + std::to_string(POLLIN)}));
    // Only results that match the requested events count.
    EXPECT_EQ(idle.event.counter(), 0u);
    EXPECT_EQ(hup.event.counter(), 0u);
    EXPECT_EQ(ready.event.counter(), 1u);
    EXPECT_TRUE(idle.event.IsActive());
}

TEST_F(PassTest, AttachAndDetachFromCallbacks)
{
    Log log;
    Pair p1, p2, p3, p4;
    Recorder first(log, "first"), victim(log, "victim"), late(log, "late"), from_timer(log, "timer");
    first.event.Schedule(p1.a, POLLIN);
    victim.event.Schedule(p2.a, POLLIN);
    int passes = 0;
    first.action = [&] {
        if (++passes == 1) {
            victim.event.Release();              // not called later in this pass
            late.event.Schedule(p3.a, POLLIN);   // polled from the next pass
            p3.send_to_a();
        }
    };
    late.action = [] { multiplexer.terminate(); };
    struct Arm
    {
        void go() { rec->event.Schedule(*fd, POLLIN); }
        Recorder* rec;
        Fd* fd;
    } arm{&from_timer, &p4.a};
    Timer t;
    t.set(0, &Arm::go, &arm); // attached in the timer step: served this pass
    p1.send_to_a();
    Safety safety;
    multiplexer.run(false, true);

    EXPECT_EQ(log, (Log{"first:1", "timer:0", "first:0", "timer:0", "late:1"}));
    EXPECT_FALSE(victim.event.IsActive());
    EXPECT_EQ(victim.event.counter(), 0u);
}

TEST_F(PassTest, TerminateInsideHandlerLeavesTheRestAttached)
{
    Log log;
    Pair p1, p2;
    Recorder a(log, "a"), b(log, "b");
    a.event.Schedule(p1.a, POLLIN);
    b.event.Schedule(p2.a, POLLIN);
    a.action = [] { multiplexer.terminate(); };
    p2.send_to_a();
    testing::internal::CaptureStderr();
    multiplexer.run(false, true);
    EXPECT_EQ(log, (Log{"a:0"}));
    EXPECT_TRUE(multiplexer.event_exists(&b.event));
    b.event.Release();
    a.event.Release();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mux: terminating...\n");

    // A terminate before run is cleared by run; the unserved handler of the
    // last run is served again.
    multiplexer.terminate();
    Recorder c(log, "c");
    c.event.Schedule(p2.a, POLLIN);
    c.action = [] { multiplexer.terminate(); };
    p2.send_to_a();
    log.clear();
    multiplexer.run(false, true);
    EXPECT_EQ(log, (Log{"c:1"}));
}

TEST_F(PassTest, DuplicateAttachAndStrayDetachAreReported)
{
    Log log;
    Recorder r(log, "dup");
    testing::internal::CaptureStderr();
    multiplexer.attach(&r.event);
    multiplexer.attach(&r.event);
    multiplexer.detach(&r.event);
    multiplexer.detach(&r.event);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "duplicate multiplexer attach \"dup\" ignored.\nindvalid Multiplexer::detach dup\n");
    EXPECT_FALSE(multiplexer.event_exists(&r.event));
}

// A result must reach the handler that filled the entry, also when an
// earlier handler was detached between gathering and serving.
TEST_F(PassTest, DetachBeforeServingShiftsNoResult)
{
    Log log;
    Pair p1, p2, p3;
    Recorder gone(log, "gone"), quiet(log, "quiet"), ready(log, "ready");
    gone.event.Schedule(p1.a, POLLIN);
    quiet.event.Schedule(p2.a, POLLIN);
    ready.event.Schedule(p3.a, POLLIN);
    ready.action = [] { multiplexer.terminate(); };
    struct Detacher
    {
        void go()
        {
            if (++calls == 2) { // the sweep after gathering
                rec->event.Release();
                dpc.Deactivate();
            }
        }
        explicit Detacher(Recorder* r) : rec(r) {}
        Recorder* rec;
        int calls = 0;
        Dpc dpc;
    } detacher(&gone);
    detacher.dpc.Bind(&detacher, &Detacher::go);
    detacher.dpc.Activate();
    p3.send_to_a();
    Safety safety;
    multiplexer.run(false, true);
    EXPECT_EQ(log, (Log{"quiet:0", "ready:" + std::to_string(POLLIN)}));
}

struct Counter
{
    void go()
    {
        order.push_back(id);
        if (victim && order.size() == 1)
            victim->Deactivate();
        if (stop_after && order.size() >= stop_after)
            multiplexer.terminate();
    }
    std::vector<int>& order;
    int id;
    Dpc* victim = nullptr;
    std::size_t stop_after = 0;
};

TEST_F(PassTest, DeferredCallsRunTwicePerPassInAddressOrder)
{
    std::vector<int> order;
    // Two Dpcs in one array: element 0 has the lower address.
    std::unique_ptr<Dpc[]> dpcs(new Dpc[2]);
    Counter low{order, 0}, high{order, 1};
    high.stop_after = 4;
    dpcs[0].Bind(&low, &Counter::go);
    dpcs[1].Bind(&Counter::go, &high);
    dpcs[1].Activate();
    dpcs[0].Activate();
    dpcs[0].Activate();
    Pair p;
    Log log;
    Recorder idle(log, "idle");
    idle.event.Schedule(p.a, POLLIN);
    Safety safety;
    multiplexer.run(false, true);
    EXPECT_FALSE(safety.fired);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 0, 1}));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(multiplexer.dpc_count(), 2u);

    // Deactivating the second from the first drops it from the sweep at once.
    order.clear();
    low.victim = &dpcs[1];
    multiplexer.execute_dpc();
    EXPECT_EQ(order, (std::vector<int>{0}));
    EXPECT_FALSE(dpcs[1].is_active());

    // Twice activated, once deactivated: inactive.
    dpcs[0].Deactivate();
    order.clear();
    multiplexer.execute_dpc();
    EXPECT_TRUE(order.empty());
}

TEST_F(PassTest, DeferredCallMayDestroyItselfOrHaveNoHandler)
{
    struct SelfKill
    {
        void go() { ++calls; delete dpc; } // nothing of it is touched afterwards
        Dpc* dpc;
        int calls;
    } k{new Dpc, 0};
    k.dpc->Bind(&k, &SelfKill::go);
    k.dpc->Activate();
    multiplexer.execute_dpc();
    multiplexer.execute_dpc();
    EXPECT_EQ(k.calls, 1);

    std::vector<int> order;
    Counter one{order, 1};
    Dpc r;
    r.Activate();
    multiplexer.execute_dpc(); // no handler: nothing
    r.Bind(&one, &Counter::go);
    multiplexer.execute_dpc();
    EXPECT_EQ(order, (std::vector<int>{1}));
}

// Arms a due timer from the second deferred-call sweep of the first pass,
// the one just before poll.
struct LateArm
{
    LateArm()
    {
        dpc.Bind(this, &LateArm::go);
        dpc.Activate();
    }
    void go()
    {
        if (++calls == 2) {
            timer.set(0, &LateArm::expire, this);
            dpc.Deactivate();
        }
    }
    void expire()
    {
        fired = true;
        multiplexer.terminate();
    }
    int calls = 0;
    bool fired = false;
    Timer timer;
    Dpc dpc;
};

// That timer must shorten the poll's wait; with no handler at all the loop
// must not take it for "no timer" and abort as hung.
TEST_F(PassTest, TimerArmedInLastSweepBoundsTheWait)
{
    EXPECT_EQ(multiplexer.timers_schedule(), -1);
    EXPECT_EXIT(
        {
            LateArm only;
            multiplexer.run(false, true);
            std::_Exit(7);
        },
        testing::ExitedWithCode(7), "");

    Pair p;
    Log log;
    Recorder idle(log, "idle");
    idle.event.Schedule(p.a, POLLIN);
    LateArm arm;
    Safety safety;
    multiplexer.run(false, true);
    EXPECT_TRUE(arm.fired);
    EXPECT_FALSE(safety.fired);
    safety.timer.reset();

    // Due now is 0, not "none", also when already overdue.
    set_clock(50000);
    Safety pending(0);
    multiplexer.execute_dpc();
    EXPECT_EQ(multiplexer.next_timer_wait(), 0);
    set_clock(49990);
    EXPECT_EQ(multiplexer.next_timer_wait(), 10);
    set_clock(50010);
    EXPECT_EQ(multiplexer.next_timer_wait(), 0);
}

// A handler attached by that sweep is polled from the next pass; this
// pass's wait must not hold a descriptor that is ready already.
TEST_F(PassTest, HandlerAttachedInLastSweepIsNotHeldBack)
{
    Log log;
    Pair quiet, ready;
    Recorder idle(log, "idle"), late(log, "late");
    idle.event.Schedule(quiet.a, POLLIN);
    late.action = [] { multiplexer.terminate(); };
    ready.send_to_a();
    struct Attacher
    {
        Attacher(Recorder* r, Fd* f) : rec(r), fd(f) {}
        void go()
        {
            if (++calls == 2) {
                rec->event.Schedule(*fd, POLLIN);
                dpc.Deactivate();
            }
        }
        Recorder* rec;
        Fd* fd;
        int calls = 0;
        Dpc dpc;
    } attacher{&late, &ready.a};
    attacher.dpc.Bind(&attacher, &Attacher::go);
    attacher.dpc.Activate();
    Safety safety;
    multiplexer.run(false, true);
    EXPECT_FALSE(safety.fired);
    EXPECT_EQ(log, (Log{"idle:0", "late:" + std::to_string(POLLIN)}));
}

// A write that fails in a pass's first sweep ends a link, whose cleanup
// runs in the second and has the listener watch its ready descriptor again
// (the link's own event is changed and released meanwhile). That pass's poll
// sees it. A cleanup activated by the second sweep runs from the next pass,
// which must not wait for it, also with the watchdog open.
TEST_F(PassTest, EventsChangedByTheLastSweepCountInThatPoll)
{
    struct Link
    {
        Link(Recorder* l, Recorder* p, int n) : listener(l), peer(p), fail_on(n) {}
        void flush()
        {
            if (++calls < fail_on)
                return;
            flush_dpc.Deactivate();
            cleanup_dpc.Activate();
            peer->event.SetEvents(0);
        }
        void cleanup()
        {
            cleanup_dpc.Deactivate();
            peer->event.SetEvents(POLLIN);
            peer->event.Release();
            listener->event.SetEvents(POLLIN);
        }
        Recorder* listener;
        Recorder* peer;
        int fail_on;
        int calls = 0;
        Dpc flush_dpc, cleanup_dpc;
    };
    TempDir dir;
    const std::string device = dir.path + "/wd";
    std::ofstream{device};
    multiplexer.set_watchdog_path(device);
    for (int run = 0; run < 4; ++run) {
        const int fail_on = 1 + run % 2;
        const bool watchdog = run >= 2;
        Log log;
        Pair waiting, talking;
        Recorder listener(log, "listener"), peer(log, "peer");
        listener.action = [] { multiplexer.terminate(); };
        listener.event.Schedule(waiting.a, 0);
        peer.event.Schedule(talking.a, POLLIN);
        waiting.send_to_a();
        Link link(&listener, &peer, fail_on);
        link.flush_dpc.Bind(&link, &Link::flush);
        link.cleanup_dpc.Bind(&link, &Link::cleanup);
        link.flush_dpc.Activate();
        Safety safety(500);
        multiplexer.run(watchdog, true);
        EXPECT_FALSE(safety.fired) << run;
        EXPECT_EQ(log, (Log{"listener:" + std::to_string(POLLIN)})) << run;
        EXPECT_FALSE(peer.event.IsActive());
        listener.event.Release();
    }
    multiplexer.set_watchdog_path(Multiplexer::WatchdogPath);
}

// More entries than open descriptors are allowed: poll fails with EINVAL.
void run_with_too_many_entries()
{
    struct Idle : EventHandler
    {
        void shedule_event(pollfd& e) override { e.fd = -1; }
        void svc_event(short) override {}
    };
    rlimit lim;
    lim.rlim_cur = lim.rlim_max = 16;
    setrlimit(RLIMIT_NOFILE, &lim);
    std::vector<Idle> idle(40);
    for (auto& h : idle)
        h.mux_attach();
    multiplexer.run(false, true);
}

TEST(LoopDeathTest, HangAndPollFailureAbort)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");

    EXPECT_DEATH(run_with_too_many_entries(),
        "multiplexer poll failed: Invalid argument");
}

// Without the device the loop says so and runs. With it, a quiet loop
// still wakes about once a second and pings at most once per 1000 ms.
TEST_F(PassTest, WatchdogStartPingStop)
{
    TempDir dir;
    multiplexer.set_watchdog_path(dir.path + "/none/wd");
    {
        Safety stop(10);
        testing::internal::CaptureStderr();
        multiplexer.run(true, true);
        EXPECT_EQ(testing::internal::GetCapturedStderr().rfind(
                      "Mux: fail to open watchdog: No such file or directory\n", 0), 0u);
        EXPECT_TRUE(stop.fired);
    }

    const std::string path = dir.path + "/wd";
    std::ofstream{path};
    multiplexer.set_watchdog_path(path);
    Pair p;
    Log log;
    Recorder idle(log, "idle");
    idle.event.Schedule(p.a, POLLIN);
    std::vector<int> order;
    Counter passes{order, 0};
    passes.stop_after = 6; // three passes
    Dpc d;
    d.Bind(&passes, &Counter::go);
    d.Activate();
    Safety safety(10000);
    const uint32_t t0 = Mux::milliseconds();
    multiplexer.run(true, true);
    const uint32_t elapsed = Mux::milliseconds() - t0;
    d.Deactivate();
    multiplexer.set_watchdog_path(Multiplexer::WatchdogPath);

    EXPECT_FALSE(safety.fired) << "no 1000 ms cap on the wait";
    const std::string bytes = read_file(path);
    ASSERT_GE(bytes.size(), 9u);
    EXPECT_EQ(bytes.substr(0, 5), "START");
    EXPECT_EQ(bytes.substr(bytes.size() - 4), "STOP");
    const std::string pings = bytes.substr(5, bytes.size() - 9);
    std::string only_pings;
    while (only_pings.size() < pings.size())
        only_pings += "PING";
    EXPECT_EQ(pings, only_pings);
    EXPECT_GE(pings.size() / 4, 2u);
    EXPECT_LE(pings.size() / 4, elapsed / 1000 + 1);
    EXPECT_TRUE(log.empty());
}

} // namespace
