#include "framework/mux_time.h"

#include <ctime>
#include <cstdio>

namespace Mux {

timeval g_tv_time;
timeval g_tv_mono;

namespace {

int read_time_of_day(timeval& tv)
{
    return ::gettimeofday(&tv, nullptr);
}

int read_monotonic(timeval& tv)
{
    struct timespec ts;
    const int rc = ::clock_gettime(CLOCK_MONOTONIC, &ts);
    if (rc == 0) {
        tv.tv_sec = ts.tv_sec;
        tv.tv_usec = ts.tv_nsec / 1000;
    }
    return rc;
}

long long usec_count(const ::timeval& tv)
{
    return static_cast<long long>(tv.tv_sec) * 1000000LL + static_cast<long long>(tv.tv_usec);
}

} // namespace

int mux_settimeofday()
{
    read_monotonic(g_tv_mono);
    return read_time_of_day(g_tv_time);
}

void mux_cleartimeofday()
{
    g_tv_time = timeval();
    g_tv_mono = timeval();
}

int mux_gettimeofday(timeval& tv)
{
    if (g_tv_time.is_zero())
        return read_time_of_day(tv);
    tv = g_tv_time;
    return 0;
}

int gettimeval(timeval& tv)
{
    mux_gettimeofday(tv);
    return 0;
}

int seconds()
{
    timeval tv;
    mux_gettimeofday(tv);
    return static_cast<int>(tv.tv_sec);
}

int mux_getmonotonic(timeval& tv)
{
    if (g_tv_mono.is_zero())
        return read_monotonic(tv);
    tv = g_tv_mono;
    return 0;
}

uint32_t to_milliseconds(const ::timeval& tv)
{
    return static_cast<uint32_t>(static_cast<unsigned long long>(usec_count(tv)) / 1000ULL);
}

uint32_t to_microseconds(const ::timeval& tv)
{
    return static_cast<uint32_t>(static_cast<unsigned long long>(usec_count(tv)));
}

uint32_t milliseconds()
{
    timeval tv;
    mux_getmonotonic(tv);
    return to_milliseconds(tv);
}

uint32_t microseconds()
{
    timeval tv;
    mux_getmonotonic(tv);
    return to_microseconds(tv);
}

timeval make_from_usec(unsigned int n)
{
    return timeval(static_cast<int>(n / 1000000u), static_cast<int>(n % 1000000u));
}

timeval make_from_msec(unsigned int n)
{
    return timeval(static_cast<int>(n / 1000u), static_cast<int>((n % 1000u) * 1000u));
}

void timevalset(timeval& tv, unsigned long long msec)
{
    tv.tv_sec = static_cast<time_t>(msec / 1000ULL);
    tv.tv_usec = static_cast<suseconds_t>((msec % 1000ULL) * 1000ULL);
}

void timevaladd2(const timeval& a, const timeval& b, timeval& out)
{
    const long s = a.tv_usec + b.tv_usec;
    out.tv_sec = a.tv_sec + b.tv_sec + s / 1000000;
    out.tv_usec = s % 1000000;
}

void timevalsub2(const timeval& a, const timeval& b, timeval& out)
{
    const long s = a.tv_usec - b.tv_usec + 1000000;
    out.tv_sec = a.tv_sec - b.tv_sec - 1 + s / 1000000;
    out.tv_usec = s % 1000000;
}

void timevaladd(timeval& a, timeval& b)
{
    timevaladd2(a, b, a);
}

void timevalsub(timeval& a, timeval& b)
{
    timevalsub2(a, b, a);
}

unsigned long long timevaldiff(const timeval& from, const timeval& to)
{
    if (to.tv_sec < from.tv_sec || (to.tv_sec == from.tv_sec && to.tv_usec < from.tv_usec))
        return 0;
    const long long sec = static_cast<long long>(to.tv_sec) - from.tv_sec;
    const long long usec = static_cast<long long>(to.tv_usec) - from.tv_usec;
    return static_cast<unsigned long long>(sec * 1000 + usec / 1000);
}

int timevalcompare(const timeval& a, const timeval& b)
{
    if (a.tv_sec != b.tv_sec)
        return a.tv_sec < b.tv_sec ? -1 : 1;
    if (a.tv_usec != b.tv_usec)
        return a.tv_usec < b.tv_usec ? -1 : 1;
    return 0;
}

std::string timevaltostring(const timeval& tv)
{
    const time_t t = tv.tv_sec;
    struct tm parts;
    char date[64] = "";
    if (::localtime_r(&t, &parts))
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &parts);
    char text[96];
    std::snprintf(text, sizeof text, "%s.%06ld", date, static_cast<long>(tv.tv_usec));
    return text;
}

bool timeval_timer::is_expired(const timeval& now) const
{
    if (period <= 0)
        return false;
    return timevaldiff(start, now) > static_cast<unsigned long long>(period);
}

void timeval_timer::inc()
{
    timeval step;
    timevalset(step, static_cast<unsigned long long>(static_cast<long long>(period)));
    timevaladd(start, step);
}

bool Set::add(int fd)
{
    if (fd < 0 || fd >= FD_SETSIZE)
        return false;
    FD_SET(fd, &set);
    if (fd > highest)
        highest = fd;
    return true;
}

bool Set::is_set(int fd) const
{
    return fd >= 0 && fd < FD_SETSIZE && FD_ISSET(fd, &set);
}

int max_fd(Set& a, Set& b, Set& c)
{
    const int ab = max_fd(a, b);
    return ab > c.highest ? ab : c.highest;
}

int max_fd(Set& a, Set& b)
{
    return a.highest > b.highest ? a.highest : b.highest;
}

namespace {

Set& empty_set()
{
    static Set none;
    return none;
}

int do_select(Set& rd, Set& wr, Set& ex, ::timeval* timeout)
{
    return ::select(max_fd(rd, wr, ex) + 1, rd.get(), wr.get(), ex.get(), timeout);
}

} // namespace

int select(Set& rd, Set& wr, Set& ex, timeval& timeout)
{
    return do_select(rd, wr, ex, &timeout);
}

int select(Set& rd, Set& wr, Set& ex)
{
    return do_select(rd, wr, ex, nullptr);
}

int select(Set& rd, Set& wr)
{
    return do_select(rd, wr, empty_set(), nullptr);
}

int select(Set& rd)
{
    return do_select(rd, empty_set(), empty_set(), nullptr);
}

int select_rd(Set& rd, timeval& timeout)
{
    return do_select(rd, empty_set(), empty_set(), &timeout);
}

int select_wr(Set& wr, timeval& timeout)
{
    return do_select(empty_set(), wr, empty_set(), &timeout);
}

} // namespace Mux
