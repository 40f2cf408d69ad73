// The daemon's single-threaded poll event loop.
#pragma once

#include "framework/lists.h"

#include <poll.h>
#include <signal.h>

#include <cstdint>
#include <deque>
#include <iosfwd>
#include <string>
#include <vector>

class EventHandler;
class TimerEvent;
class Dpc;

// Duration statistics in microseconds. "avg" is the most recent sample:
// no sum is kept.
class Measure
{
public:
    void begin();
    void end();
    // Ends this sample and begins the next at the same clock reading, so
    // back-to-back samples cost one read each.
    void lap();
    void put(std::ostream& os) const;

    uint32_t min() const { return min_; }
    uint32_t max() const { return max_; }
    uint32_t last() const { return last_; }
    uint32_t counter() const { return counter_; }

private:
    void take(uint32_t now);

    uint32_t min_ = 0;
    uint32_t max_ = 0;
    uint32_t last_ = 0;
    bool first_ = true;
    uint32_t start_ = 0;
    uint32_t counter_ = 0;
};

std::ostream& operator<<(std::ostream& os, const Measure& m);

// Names of the set poll bits joined by bars; empty for 0.
std::string PollEventAsText(short events);

class Multiplexer
{
public:
    static const char* const WatchdogPath;

    Multiplexer();
    ~Multiplexer();
    Multiplexer(const Multiplexer&) = delete;
    Multiplexer& operator=(const Multiplexer&) = delete;

    // Runs passes until terminate(). watchdog: drive the watchdog device;
    // live_clock false: the cached clocks are refreshed before the first
    // pass and after every poll.
    void run(bool watchdog, bool live_clock);
    // Signal-safe: ends the loop after the current pass.
    void terminate() { terminate_flag = 1; }
    bool terminating() const { return terminate_flag != 0; }

    void attach(EventHandler* h);
    void detach(EventHandler* h);
    bool event_exists(EventHandler* h) const;

    // Queues (or re-queues) a timer whose expiry is set.
    void set(TimerEvent* t);
    void reset(TimerEvent* t);

    void attach(Dpc* d);
    void dettach(Dpc* d);

    // Fires the due timers and runs a deferred-call sweep. Returns the wait
    // in ms until the earliest timer: 0 when one is due now, -1 when no
    // timer is armed.
    int timers_schedule();
    // Wait in ms until the earliest timer, 0 when due, -1 when none.
    int next_timer_wait() const;
    void execute_dpc();

    void resetWD();
    void dump(std::ostream& os) const;

    // The watchdog device opened by run(true, ...); tests point it elsewhere.
    void set_watchdog_path(const std::string& path) { wd_path = path; }

    uint32_t timer_count() const { return static_cast<uint32_t>(timers.size()); }
    uint32_t handler_count() const { return fresh.count() + active.count(); }
    std::size_t dpc_count() const { return dpcs.size(); }

private:
    enum Where : unsigned char { None = 0, InFresh, InActive };

    friend class EventHandler;
    void refill(int entry)
    {
        entry_fill[static_cast<std::size_t>(entry)] = 1;
        fill_pending = true;
        refill_asked = true;
    }
    // Lets the flagged handlers fill their entries.
    void fill_entries();
    void one_pass(bool live_clock, uint32_t& last_ping);
    void drop_detached_entries();
    void open_watchdog();
    void close_watchdog();
    static bool fires_before(const TimerEvent* a, const TimerEvent* b);
    void timer_place(TimerEvent* t, std::size_t at);
    void timer_up(std::size_t at);
    void timer_down(std::size_t at);

    // The pending timers as a binary heap ordered by (expiry, arming
    // sequence): arm and cancel in O(log n), equal expiries in arming order.
    std::vector<TimerEvent*> timers;
    uint64_t timer_sequence = 0;
    F_dual_list<EventHandler> fresh;
    // In attach order, which is also the order of their poll entries: a
    // pass serves them by walking the entries, so nothing is relinked.
    F_dual_list<EventHandler> active;
    // Kept from pass to pass: a pass appends the entries of new handlers
    // and drops those of detached ones, nothing else is rebuilt.
    std::vector<pollfd> entries;
    // The handler of each entry; null once it has been detached, so no
    // result reaches the wrong handler and a detached one is not served.
    std::vector<EventHandler*> entry_owner;
    // Set for an entry its handler must fill this pass: a new one, one
    // whose handler reported a change, and every pass for a handler that
    // does not report its changes.
    std::vector<unsigned char> entry_fill;
    // False when no entry_fill flag is set, so a pass skips the walk.
    bool fill_pending = false;
    // A refill was asked for since the last walk.
    bool refill_asked = false;
    // The returned events each entry's handler holds, so only changes are
    // stored in the handlers.
    std::vector<short> entry_stored;
    bool detached_entries = false;
    std::vector<Dpc*> dpcs;
    std::deque<Dpc*> sweep;
    // A deferred call was activated since the current sweep began: it runs
    // from the next one.
    bool dpc_added = false;
    volatile sig_atomic_t terminate_flag = 0;
    Measure dpc_measure;
    Measure event_measure;
    Measure timer_measure;
    int wd_fd = -1;
    std::string wd_path;
};

// The one event loop, usable from static initialisation on.
extern Multiplexer& multiplexer;

namespace detail {
struct MultiplexerInit
{
    MultiplexerInit();
    ~MultiplexerInit();
};
static MultiplexerInit multiplexer_init;
} // namespace detail
