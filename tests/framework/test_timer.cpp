#include "loop_helpers.h"

#include <algorithm>
#include <memory>
#include <random>
#include <tuple>

using namespace looptest;

namespace {

struct Target
{
    void plain() { calls.push_back("plain"); }
    void with_timer(Timer* t)
    {
        seen = t;
        running_inside = t->is_running();
        calls.push_back("timer");
        if (rearm)
            t->set(rearm, &Target::plain, this);
    }
    std::vector<std::string> calls;
    Timer* seen = nullptr;
    bool running_inside = true;
    unsigned rearm = 0;
};

class TimerTest : public LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        set_clock(base);
    }
    void advance(uint64_t ms)
    {
        now += ms;
        set_clock(base + now);
        multiplexer.timers_schedule();
    }
    uint64_t base = 100000;
    uint64_t now = 0;
};

TEST_F(TimerTest, OnlyLatestArmingFiresOnce)
{
    Target x;
    Timer t;
    t.set(0, &Target::plain, &x);
    EXPECT_TRUE(x.calls.empty()); // never inside set
    t.set(50, &Target::plain, &x);
    EXPECT_EQ(multiplexer.timer_count(), 1u);
    advance(49);
    EXPECT_TRUE(x.calls.empty());
    advance(1);
    EXPECT_EQ(x.calls.size(), 1u);
    EXPECT_FALSE(t.is_running());

    // reset and destruction cancel; on an idle timer they do nothing.
    t.set(10, &Target::plain, &x);
    t.reset();
    t.reset();
    {
        Timer gone;
        gone.set(10, &Target::plain, &x);
    }
    advance(20);
    EXPECT_EQ(x.calls.size(), 1u);
}

TEST_F(TimerTest, CallbackSeesIdleTimerAndMayRearm)
{
    Target x;
    x.rearm = 30;
    Timer t;
    t.set(10, &Target::with_timer, &x);
    advance(10);
    EXPECT_EQ(x.seen, &t);
    EXPECT_FALSE(x.running_inside);
    EXPECT_TRUE(t.is_running()); // the re-arming stays pending
    advance(29);
    EXPECT_EQ(x.calls, (std::vector<std::string>{"timer"}));
    advance(1);
    EXPECT_EQ(x.calls, (std::vector<std::string>{"timer", "plain"}));
    EXPECT_FALSE(t.is_running());
}

TEST_F(TimerTest, CallbackMayDeleteItsOwner)
{
    struct Owner
    {
        void expire()
        {
            ++*fired;
            delete this;
        }
        Timer timer;
        int* fired;
    };
    int fired = 0;
    Owner* o = new Owner{{}, &fired};
    o->timer.set(5, &Owner::expire, o);
    Target after;
    Timer t2;
    t2.set(5, &Target::plain, &after);
    advance(5);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(after.calls.size(), 1u);
}

TEST_F(TimerTest, EqualExpiriesFireInArmingOrder)
{
    std::vector<std::string> order;
    struct Named
    {
        void go() { order->push_back(name); }
        std::vector<std::string>* order;
        std::string name;
    };
    Named a{&order, "a"}, b{&order, "b"}, c{&order, "c"}, d{&order, "d"};
    Timer ta, tb, tc, td;
    ta.set(20, &Named::go, &a);
    tb.set(10, &Named::go, &b);
    tc.set(20, &Named::go, &c);
    td.set(20, &Named::go, &d);
    tc.set(20, &Named::go, &c); // re-arming moves it behind d
    advance(20);
    EXPECT_EQ(order, (std::vector<std::string>{"b", "a", "d", "c"}));

    // A new earliest expiry, then one equal to it: still first in, first out.
    order.clear();
    ta.set(50, &Named::go, &a);
    tb.set(5, &Named::go, &b);
    tc.set(5, &Named::go, &c);
    td.set(4, &Named::go, &d);
    advance(50);
    EXPECT_EQ(order, (std::vector<std::string>{"d", "b", "c", "a"}));
}

TEST_F(TimerTest, OrderHoldsAcrossTheWrap)
{
    base = 4294967040ull; // 256 ms below the wrap of the 32-bit count
    now = 0;
    set_clock(base);
    EXPECT_EQ(Mux::milliseconds(), 4294967040u);
    Target early, late;
    Timer te, tl;
    tl.set(512, &Target::plain, &late);
    te.set(100, &Target::plain, &early);
    EXPECT_EQ(multiplexer.next_timer_wait(), 100);
    advance(100);
    EXPECT_EQ(early.calls.size(), 1u);
    EXPECT_TRUE(late.calls.empty());
    advance(155); // 4294967295
    advance(1);   // 0 after the wrap
    EXPECT_EQ(Mux::milliseconds(), 0u);
    EXPECT_TRUE(late.calls.empty());
    EXPECT_EQ(multiplexer.next_timer_wait(), 256);
    advance(256);
    EXPECT_EQ(late.calls.size(), 1u);
}

// An event given up by Unbind must not idle the Timer's newer arming when
// it fires.
TEST_F(TimerTest, OldEventDoesNotClearNewerArming)
{
    Target old_target, new_target;
    Timer t;
    t.set(10, &Target::plain, &old_target);
    t.Unbind();
    EXPECT_FALSE(t.is_running());
    t.set(20, &Target::with_timer, &new_target);
    advance(10);
    EXPECT_EQ(old_target.calls.size(), 1u);
    EXPECT_TRUE(t.is_running());
    t.reset(); // cancels the newer one: it must never fire
    advance(20);
    EXPECT_TRUE(new_target.calls.empty());
    EXPECT_EQ(multiplexer.timer_count(), 0u);
}

// Timers follow the monotonic clock: a step of the time of day moves none
// of them, and long delays are kept as they are.
TEST_F(TimerTest, TimeOfDayStepsDoNotMoveTimers)
{
    Mux::g_tv_time = Mux::timeval(1000000, 0);
    Target x, far;
    Timer t, tfar;
    t.set(100, &Target::plain, &x);
    tfar.set(3 * 3600 * 1000, &Target::plain, &far);
    Mux::g_tv_time = Mux::timeval(1000000 + 3600, 0); // one hour forward
    advance(0);
    EXPECT_TRUE(x.calls.empty());
    Mux::g_tv_time = Mux::timeval(1000000 - 86400, 0); // a day back
    advance(100);
    EXPECT_EQ(x.calls.size(), 1u);
    EXPECT_EQ(multiplexer.next_timer_wait(), 3 * 3600 * 1000 - 100);
    advance(3 * 3600 * 1000 - 101);
    EXPECT_TRUE(far.calls.empty());
    advance(1);
    EXPECT_EQ(far.calls.size(), 1u);
}

// A delay of 2^31 ms or more would read as past due; it is held at the
// longest delay the signed comparison can tell apart.
TEST_F(TimerTest, OverlongDelayDoesNotFireAtOnce)
{
    Target x, soon;
    Timer t, ts;
    ts.set(100, &Target::plain, &soon);
    t.set(0xFFFFFFFFu, &Target::plain, &x);
    advance(0);
    EXPECT_TRUE(x.calls.empty());
    EXPECT_EQ(multiplexer.next_timer_wait(), 100);
    advance(100);
    EXPECT_EQ(soon.calls.size(), 1u);
    EXPECT_TRUE(x.calls.empty());
    EXPECT_EQ(multiplexer.next_timer_wait(), INT32_MAX - 100);
}

struct Periodic
{
    static const TimerSpec<Periodic>::Spec spec;
    void OnUpdateTimer()
    {
        timer.set(this);
        ++ticks;
    }
    TimerSpec<Periodic>::SpecTimer<spec> timer;
    int ticks = 0;
};
const TimerSpec<Periodic>::Spec Periodic::spec = {&Periodic::OnUpdateTimer, 3000};

TEST_F(TimerTest, SpecTimerRearmsWithItsPeriod)
{
    Periodic p;
    p.timer.set(&p);
    advance(2999);
    EXPECT_EQ(p.ticks, 0);
    advance(1);
    EXPECT_EQ(p.ticks, 1);
    advance(3000);
    EXPECT_EQ(p.ticks, 2);
    EXPECT_TRUE(p.timer.is_running());
    p.timer.reset();
    EXPECT_FALSE(p.timer.is_running());
    advance(14000);
    EXPECT_EQ(p.ticks, 2);
}

// Many timers at random delays, some re-armed and some cancelled, under a
// clock that moves in uneven steps: each fires once, in (expiry, arming)
// order, in the first step that reaches its expiry.
TEST_F(TimerTest, TenThousandRandomTimersFireInExpiryThenArmingOrder)
{
    enum { count = 10000, step = 37 };
    struct Fired
    {
        void go() { log->emplace_back(id, *clock); }
        std::vector<std::pair<unsigned, uint64_t>>* log;
        const uint64_t* clock;
        unsigned id;
    };
    std::vector<std::pair<unsigned, uint64_t>> log;
    std::vector<Fired> targets(count);
    std::vector<Timer> timers(count);
    // (expiry, arming) of every timer still armed, and its id.
    std::vector<std::tuple<uint64_t, unsigned, unsigned>> expected(count);
    std::vector<bool> armed(count, true);
    std::mt19937 gen(23);
    std::uniform_int_distribution<unsigned> delay(0, 1999); // many equal expiries
    unsigned arming = 0;
    for (unsigned i = 0; i < count; ++i) {
        targets[i] = Fired{&log, &now, i};
        const unsigned d = delay(gen);
        timers[i].set(d, &Fired::go, &targets[i]);
        expected[i] = {d, arming++, i};
    }
    for (unsigned i = 0; i < count; i += 11) {
        const unsigned d = delay(gen);
        timers[i].set(d, &Fired::go, &targets[i]); // goes behind earlier armings
        expected[i] = {d, arming++, i};
    }
    for (unsigned i = 3; i < count; i += 7) {
        timers[i].reset();
        armed[i] = false;
    }
    std::vector<std::tuple<uint64_t, unsigned, unsigned>> order;
    for (unsigned i = 0; i < count; ++i)
        if (armed[i])
            order.push_back(expected[i]);
    std::sort(order.begin(), order.end());
    EXPECT_EQ(multiplexer.timer_count(), order.size());

    advance(0);
    while (now < 2000)
        advance(step);
    ASSERT_EQ(log.size(), order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        const uint64_t expiry = std::get<0>(order[k]);
        ASSERT_EQ(log[k].first, std::get<2>(order[k])) << "at " << k;
        EXPECT_GE(log[k].second, expiry);
        EXPECT_LT(log[k].second, expiry + step);
    }
    EXPECT_EQ(multiplexer.timer_count(), 0u);
}

} // namespace
