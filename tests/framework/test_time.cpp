#include "framework/mux_time.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

struct CacheGuard
{
    ~CacheGuard() { Mux::mux_cleartimeofday(); }
};

TEST(MuxTime, MillisecondConversionTableAndWrap)
{
    using Mux::timeval;
    EXPECT_EQ(Mux::to_milliseconds(timeval(0, 0)), 0u);
    EXPECT_EQ(Mux::to_milliseconds(timeval(1, 999)), 1000u);
    EXPECT_EQ(Mux::to_milliseconds(timeval(1, 1000)), 1001u);
    EXPECT_EQ(Mux::to_milliseconds(timeval(4294967, 295999)), 4294967295u);
    // 4,294,967,296 ms: the low 32 bits are 0.
    EXPECT_EQ(Mux::to_milliseconds(timeval(4294967, 296000)), 0u);
    EXPECT_EQ(Mux::to_milliseconds(timeval(4294967, 297500)), 1u);
    EXPECT_EQ(Mux::to_microseconds(timeval(4294, 967296)), 0u);
    EXPECT_EQ(Mux::to_microseconds(timeval(1, 5)), 1000005u);

    // Readings across the wrap compare by signed difference.
    const uint32_t before = Mux::to_milliseconds(timeval(4294967, 200000));
    const uint32_t after = Mux::to_milliseconds(timeval(4294967, 400000));
    EXPECT_GT(before, after);
    EXPECT_EQ(Mux::msec_diff(before, after), 200);
    EXPECT_EQ(Mux::msec_diff(after, before), -200);
}

TEST(MuxTime, CacheFreezesReadsUntilCleared)
{
    CacheGuard guard;
    Mux::mux_settimeofday();
    const uint32_t ms = Mux::milliseconds();
    const uint32_t us = Mux::microseconds();
    Mux::timeval a, b;
    Mux::gettimeval(a);
    usleep(3000);
    EXPECT_EQ(Mux::milliseconds(), ms);
    EXPECT_EQ(Mux::microseconds(), us);
    Mux::gettimeval(b);
    EXPECT_EQ(Mux::timevalcompare(a, b), 0);
    EXPECT_EQ(Mux::seconds(), static_cast<int>(a.tv_sec));

    Mux::mux_cleartimeofday();
    usleep(3000);
    EXPECT_NE(Mux::microseconds(), us);
}

TEST(MuxTime, TimersRunOnMonotonicClockStampsOnTimeOfDay)
{
    CacheGuard guard;
    // A time of day near the wrap must not reach the millisecond clock.
    Mux::g_tv_time = Mux::timeval(4294967, 296000);
    Mux::g_tv_mono = Mux::timeval(100, 5000);
    EXPECT_EQ(Mux::milliseconds(), 100005u);
    EXPECT_EQ(Mux::microseconds(), 100005000u);
    Mux::timeval tv;
    Mux::gettimeval(tv);
    EXPECT_EQ(tv.tv_sec, 4294967);
    EXPECT_EQ(Mux::seconds(), 4294967);

    // Live monotonic reads never go backwards.
    Mux::mux_cleartimeofday();
    const uint32_t t0 = Mux::milliseconds();
    const uint32_t t1 = Mux::milliseconds();
    EXPECT_GE(Mux::msec_diff(t0, t1), 0);
}

TEST(MuxTime, Arithmetic)
{
    using Mux::timeval;
    EXPECT_EQ(Mux::timevaldiff(timeval(10, 900000), timeval(11, 100000)), 200u);
    EXPECT_EQ(Mux::timevaldiff(timeval(11, 0), timeval(10, 999999)), 0u);
    // The microsecond part is truncated toward zero on its own.
    EXPECT_EQ(Mux::timevaldiff(timeval(5, 999), timeval(6, 0)), 1000u);

    timeval t = Mux::make_from_msec(1500);
    EXPECT_EQ(t.tv_sec * 1000000 + t.tv_usec, 1500000);
    t = Mux::make_from_usec(2500000);
    EXPECT_EQ(t.tv_sec * 1000000 + t.tv_usec, 2500000);

    // Carry and borrow across the second.
    timeval a(1, 600000), b(2, 700000), r;
    Mux::timevaladd2(a, b, r);
    EXPECT_EQ(r.tv_sec * 1000000 + r.tv_usec, 4300000);
    Mux::timevalsub(a, b);
    EXPECT_EQ(a.tv_sec, -2);
    EXPECT_EQ(a.tv_usec, 900000);

    EXPECT_EQ(Mux::timevalcompare(timeval(2, 0), timeval(1, 999999)), 1);
    EXPECT_EQ(Mux::timevalcompare(timeval(-1, 0), timeval(0, 0)), -1);
    EXPECT_EQ(Mux::timevalcompare(timeval(3, 3), timeval(3, 3)), 0);
}

TEST(MuxTime, PeriodTimerDoesNotDrift)
{
    using Mux::timeval;
    Mux::timeval_timer t;
    t.init(timeval(5, 0), 1000);
    EXPECT_FALSE(t.is_expired(timeval(6, 0)));
    EXPECT_TRUE(t.is_expired(timeval(6, 1000)));
    t.inc();
    EXPECT_EQ(t.start.tv_sec, 6);
    EXPECT_EQ(t.start.tv_usec, 0);
    EXPECT_FALSE(t.is_expired(timeval(7, 0)));

    t.init(timeval(5, 0), 0);
    EXPECT_FALSE(t.is_expired(timeval(500, 0)));
    t.init(timeval(5, 0), -5);
    EXPECT_FALSE(t.is_expired(timeval(500, 0)));
}

TEST(MuxTime, TextOfTimeValue)
{
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(Mux::timevaltostring(Mux::timeval(86400 + 3661, 42)), "1970-01-02 01:01:01.000042");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    const std::string local = Mux::timevaltostring(Mux::timeval(0, 999999));
    ASSERT_EQ(local.size(), 26u);
    EXPECT_EQ(local.substr(19), ".999999");
}

TEST(MuxTime, SelectWrappers)
{
    Mux::Set rd, wr;
    EXPECT_EQ(rd.get(), nullptr);
    EXPECT_FALSE(rd.add(FD_SETSIZE));
    // All sets empty: waits for the time-out only.
    Mux::timeval tmo(0, 1000);
    EXPECT_EQ(Mux::select_rd(rd, tmo), 0);

    int p[2];
    ASSERT_EQ(pipe(p), 0);
    rd.add(p[0]);
    wr.add(p[1]);
    EXPECT_EQ(Mux::max_fd(rd, wr), std::max(p[0], p[1]));
    ASSERT_EQ(write(p[1], "x", 1), 1);
    tmo = Mux::timeval(1, 0);
    EXPECT_EQ(Mux::select_rd(rd, tmo), 1);
    EXPECT_TRUE(rd.is_set(p[0]));
    close(p[0]);
    close(p[1]);
}

} // namespace
