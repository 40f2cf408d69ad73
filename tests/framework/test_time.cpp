#include "framework/mux_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using Mux::timeval;

TEST(MuxTime, MillisecondConversionTableAndWrap)
{
    EXPECT_EQ(Mux::to_milliseconds(timeval(1, 999)), 1000u);
    EXPECT_EQ(Mux::to_milliseconds(timeval(1, 1000)), 1001u);
    EXPECT_EQ(Mux::to_milliseconds(timeval(4294967, 295999)), 4294967295u);
    // 4,294,967,296 ms: the low 32 bits are 0.
    EXPECT_EQ(Mux::to_milliseconds(timeval(4294967, 296000)), 0u);
    EXPECT_EQ(Mux::to_milliseconds(timeval(4294967, 297500)), 1u);
    EXPECT_EQ(Mux::to_microseconds(timeval(4294, 967296)), 0u);

    // Readings across the wrap compare by signed difference.
    const uint32_t before = Mux::to_milliseconds(timeval(4294967, 200000));
    const uint32_t after = Mux::to_milliseconds(timeval(4294967, 400000));
    EXPECT_EQ(Mux::msec_diff(before, after), 200);
    EXPECT_EQ(Mux::msec_diff(after, before), -200);
}

TEST(MuxTime, TimersRunOnMonotonicClockStampsOnTimeOfDay)
{
    // A time of day near the wrap must not reach the millisecond clock.
    Mux::g_tv_time = timeval(4294967, 296000);
    Mux::g_tv_mono = timeval(100, 5000);
    EXPECT_EQ(Mux::milliseconds(), 100005u);
    EXPECT_EQ(Mux::microseconds(), 100005000u);
    timeval tv;
    Mux::gettimeval(tv);
    EXPECT_EQ(tv.tv_sec, 4294967);
    EXPECT_EQ(Mux::seconds(), 4294967);
    Mux::mux_cleartimeofday();

    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(Mux::timevaltostring(timeval(86400 + 3661, 42)), "1970-01-02 01:01:01.000042");
    old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

TEST(MuxTime, ArithmeticAndPeriodTimer)
{
    EXPECT_EQ(Mux::timevaldiff(timeval(10, 900000), timeval(11, 100000)), 200u);
    EXPECT_EQ(Mux::timevaldiff(timeval(11, 0), timeval(10, 999999)), 0u);
    // The microsecond part is truncated toward zero on its own.
    EXPECT_EQ(Mux::timevaldiff(timeval(5, 999), timeval(6, 0)), 1000u);

    // Carry and borrow across the second.
    timeval a(1, 600000), b(2, 700000), r;
    Mux::timevaladd2(a, b, r);
    EXPECT_EQ(r.tv_sec * 1000000 + r.tv_usec, 4300000);
    Mux::timevalsub(a, b);
    EXPECT_EQ(a.tv_sec, -2);
    EXPECT_EQ(a.tv_usec, 900000);
    EXPECT_EQ(Mux::timevalcompare(timeval(2, 0), timeval(1, 999999)), 1);
    EXPECT_EQ(Mux::timevalcompare(timeval(-1, 0), timeval(0, 0)), -1);

    // The period moves on from the start, not from the reading: no drift.
    Mux::timeval_timer t;
    t.init(timeval(5, 0), 1000);
    EXPECT_FALSE(t.is_expired(timeval(6, 0)));
    EXPECT_TRUE(t.is_expired(timeval(6, 1000)));
    t.inc();
    EXPECT_EQ(t.start.tv_sec, 6);
    EXPECT_EQ(t.start.tv_usec, 0);
    t.init(timeval(5, 0), 0);
    EXPECT_FALSE(t.is_expired(timeval(500, 0)));
}

} // namespace
