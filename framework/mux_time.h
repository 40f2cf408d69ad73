// Time functions of the runtime.
//
// Two clocks: a monotonic one drives every timer and interval
// (milliseconds, microseconds), so stepping the system time neither fires
// timers early nor stalls them; the time of day serves only for log stamps
// (seconds, gettimeval, timevaltostring). Each has an optional cache that
// the event loop can refresh once per pass.
#pragma once

#include <sys/select.h>
#include <sys/time.h>

#include <cstdint>
#include <string>

namespace Mux {

struct timeval : ::timeval
{
    timeval() : ::timeval{0, 0} {}
    timeval(int sec, int usec) : ::timeval{sec, usec} {}
    timeval(const ::timeval& tv) : ::timeval(tv) {}
    bool is_zero() const { return tv_sec == 0 && tv_usec == 0; }
};

// Cached time of day; (0, 0) means no cache, every read is live.
extern timeval g_tv_time;
// Cached monotonic time; (0, 0) means no cache. Set together with
// g_tv_time by mux_settimeofday().
extern timeval g_tv_mono;

// Refreshes both caches.
int mux_settimeofday();
// Clears both caches: every read is live again.
void mux_cleartimeofday();

// Time of day (cache when set).
int mux_gettimeofday(timeval& tv);
int gettimeval(timeval& tv);
int seconds();

// Monotonic time (cache when set).
int mux_getmonotonic(timeval& tv);
uint32_t milliseconds();
uint32_t microseconds();

// Conversions of a time value into the wrapping 32-bit counters: low 32 bits
// of the signed microsecond count divided by 1000, or undivided.
uint32_t to_milliseconds(const ::timeval& tv);
uint32_t to_microseconds(const ::timeval& tv);

// Signed distance from a to b of two millisecond readings; right for
// intervals below 2^31 ms.
inline int32_t msec_diff(uint32_t a, uint32_t b) { return int32_t(b - a); }

timeval make_from_usec(unsigned int n);
timeval make_from_msec(unsigned int n);
void timevalset(timeval& tv, unsigned long long msec);
void timevaladd(timeval& a, timeval& b);
void timevalsub(timeval& a, timeval& b);
void timevaladd2(const timeval& a, const timeval& b, timeval& out);
void timevalsub2(const timeval& a, const timeval& b, timeval& out);
unsigned long long timevaldiff(const timeval& from, const timeval& to);
int timevalcompare(const timeval& a, const timeval& b);
std::string timevaltostring(const timeval& tv);

// Period timer over time values; consecutive periods do not drift.
struct timeval_timer
{
    timeval start;
    int period = 0;

    void init(const timeval& tv, int msec) { start = tv; period = msec; }
    void init_now(const timeval& tv) { start = tv; }
    bool is_expired(const timeval& now) const;
    void inc();
};

// select(2) descriptor set with its highest descriptor.
struct Set
{
    Set() { clear(); }
    void clear() { FD_ZERO(&set); highest = -1; }
    // Descriptors outside 0..FD_SETSIZE-1 are refused.
    bool add(int fd);
    bool is_set(int fd) const;
    fd_set* get() { return highest < 0 ? nullptr : &set; }

    fd_set set;
    int highest;
};

int max_fd(Set& a, Set& b, Set& c);
int max_fd(Set& a, Set& b);
int select(Set& rd, Set& wr, Set& ex, timeval& timeout);
int select(Set& rd, Set& wr, Set& ex);
int select(Set& rd, Set& wr);
int select(Set& rd);
int select_rd(Set& rd, timeval& timeout);
int select_wr(Set& wr, timeval& timeout);

} // namespace Mux
