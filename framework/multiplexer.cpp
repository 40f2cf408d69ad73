#include "framework/multiplexer.h"

#include "framework/dpc.h"
#include "framework/event.h"
#include "framework/fd.h"
#include "framework/mux_time.h"
#include "framework/text.h"
#include "framework/trace.h"
#include "framework/timer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <new>

// ---- Measure ----

void Measure::begin()
{
    start_ = Mux::microseconds();
}

void Measure::end()
{
    take(Mux::microseconds());
}

void Measure::lap()
{
    const uint32_t now = Mux::microseconds();
    take(now);
    start_ = now;
}

void Measure::take(uint32_t now)
{
    const uint32_t sample = now - start_;
    if (first_) {
        min_ = max_ = last_ = sample;
        counter_ = 1;
        first_ = false;
        return;
    }
    ++counter_;
    if (sample < min_)
        min_ = sample;
    if (sample > max_)
        max_ = sample;
    last_ = sample;
}

void Measure::put(std::ostream& os) const
{
    // Decimal whatever base the caller's stream was left in.
    const std::ios_base::fmtflags base = os.setf(std::ios_base::dec, std::ios_base::basefield);
    os << "min=" << min_ << " max=" << max_ << " avg=" << last_ << " counter=" << counter_;
    os.setf(base, std::ios_base::basefield);
}

std::ostream& operator<<(std::ostream& os, const Measure& m)
{
    m.put(os);
    return os;
}

namespace {

struct Sample
{
    explicit Sample(Measure& m) : measure(m) { measure.begin(); }
    ~Sample() { measure.end(); }
    Measure& measure;
};

} // namespace

std::string PollEventAsText(short events)
{
    static const char* const names[] = {"POLLIN", "POLLPRI", "POLLOUT", "POLLERR", "POLLHUP", "POLLNVAL",
                                        "POLLRDNORM", "POLLRDBAND", "POLLWRNORM", "POLLWRBAND", "POLLMSG"};
    std::string text;
    for (unsigned bit = 0; bit < sizeof names / sizeof names[0]; ++bit)
        if (static_cast<unsigned short>(events) & (1u << bit)) {
            text += '|';
            text += names[bit];
        }
    return text.empty() ? text : text.substr(1);
}

// ---- the global loop ----

namespace {
alignas(Multiplexer) unsigned char multiplexer_storage[sizeof(Multiplexer)];
int multiplexer_users = 0;
} // namespace

Multiplexer& multiplexer = reinterpret_cast<Multiplexer&>(multiplexer_storage);

detail::MultiplexerInit::MultiplexerInit()
{
    if (multiplexer_users++ == 0)
        new (multiplexer_storage) Multiplexer();
}

detail::MultiplexerInit::~MultiplexerInit()
{
    if (--multiplexer_users == 0)
        multiplexer.~Multiplexer();
}

const char* const Multiplexer::WatchdogPath = "/dev/misc/gw-wd";

Multiplexer::Multiplexer() : wd_path(WatchdogPath) {}

Multiplexer::~Multiplexer()
{
    if (wd_fd >= 0)
        ::close(wd_fd);
}

// ---- run ----

void Multiplexer::run(bool watchdog, bool live_clock)
{
    uint32_t last_ping = 0;
    terminate_flag = 0;
    if (watchdog)
        open_watchdog();
    if (!live_clock)
        Mux::mux_settimeofday();
    while (!terminate_flag)
        one_pass(live_clock, last_ping);
    std::clog << "Mux: terminating..." << std::endl;
    close_watchdog();
}

void Multiplexer::open_watchdog()
{
    wd_fd = ::open(wd_path.c_str(), O_WRONLY | O_CLOEXEC);
    if (wd_fd < 0) {
        const Errno cause; // before the stream can change errno
        std::cerr << "Mux: fail to open watchdog: " << cause << std::endl;
        return;
    }
    if (::write(wd_fd, "START", 5) != 5) {
        const Errno cause; // before the stream can change errno
        std::cerr << "Mux: fail to activate watchdog: " << cause << std::endl;
        ::close(wd_fd);
        wd_fd = -1;
    }
}

void Multiplexer::close_watchdog()
{
    if (wd_fd < 0)
        return;
    if (::write(wd_fd, "STOP", 4) != 4) {
        const Errno cause; // before the stream can change errno
        std::cerr << "Mux: stop watchdog failed: " << cause << std::endl;
    }
    ::close(wd_fd);
    wd_fd = -1;
}

void Multiplexer::resetWD()
{
    if (wd_fd < 0)
        return;
    if (::write(wd_fd, "PING", 4) != 4) {
        const Errno cause; // before the stream can change errno
        std::cerr << "Mux: ping watchdog failed: " << cause << std::endl;
    }
}

void Multiplexer::drop_detached_entries()
{
    std::size_t kept = 0;
    for (std::size_t k = 0; k < entries.size(); ++k)
        if (EventHandler* h = entry_owner[k]) {
            entries[kept] = entries[k];
            entry_owner[kept] = h;
            entry_fill[kept] = entry_fill[k];
            entry_stored[kept] = entry_stored[k];
            h->entry = static_cast<int>(kept);
            ++kept;
        }
    entries.resize(kept);
    entry_owner.resize(kept);
    entry_fill.resize(kept);
    entry_stored.resize(kept);
    detached_entries = false;
}

void Multiplexer::fill_entries()
{
    refill_asked = false;
    if (!fill_pending)
        return;
    // A refill asked for from inside the walk sets it again.
    fill_pending = false;
    const std::size_t n = entries.size();
    for (std::size_t k = 0; k < n; ++k)
        if (entry_fill[k]) {
            EventHandler* h = entry_owner[k];
            h->shedule_event(entries[k]);
            entry_fill[k] = !h->reports_changes;
            if (entry_fill[k])
                fill_pending = true;
        }
}

void Multiplexer::one_pass(bool live_clock, uint32_t& last_ping)
{
    timers_schedule();

    if (detached_entries)
        drop_detached_entries();
    while (EventHandler* h = fresh.front()) {
        fresh.remove(h);
        active.insert_to_tail(h);
        h->where = InActive;
        h->entry = static_cast<int>(entries.size());
        entries.push_back(pollfd{-1, 0, 0});
        entry_owner.push_back(h);
        entry_fill.push_back(1);
        entry_stored.push_back(h->revents);
        fill_pending = true;
    }
    fill_entries();

    execute_dpc();
    // What the last sweep changed in a handler's events is polled now: the
    // link a failed write ended may hand the loop back to its listener.
    if (refill_asked)
        fill_entries();
    const std::size_t n = entries.size();

    // Computed after the last sweep, so a timer it armed counts.
    int timeout = next_timer_wait();
    if (terminate_flag) {
        timeout = 0; // the pass still polls, but nothing may hold the end back
    } else if (!fresh.empty() || dpc_added || refill_asked) {
        // Handlers attached by the sweep are polled from the next pass, and
        // deferred calls it activated run from there: this wait must not
        // outlast a descriptor that is ready already, nor put them off.
        timeout = 0;
    } else if (timeout < 0 && entries.empty()) {
        std::cerr << "multiplexer: system hang detected!!!" << std::endl;
        std::abort();
    }
    if (wd_fd >= 0 && (timeout < 0 || timeout > 1000))
        timeout = 1000;

    const int rc = ::poll(entries.data(), n, timeout);
    const int poll_errno = rc < 0 ? errno : 0; // read only when it means something
    if (!live_clock)
        Mux::mux_settimeofday();

    if (wd_fd >= 0) {
        const uint32_t now = Mux::milliseconds();
        const int32_t since = Mux::msec_diff(last_ping, now);
        if (!(last_ping != 0 && since >= 0 && since <= 999)) {
            last_ping = now;
            resetWD();
        }
    }

    if (rc < 0 && poll_errno != EINTR) {
        std::cerr << "multiplexer poll failed: " << std::strerror(poll_errno) << std::endl;
        std::abort();
    }
    if (rc <= 0)
        return;
    for (std::size_t k = 0; k < n; ++k)
        if (entries[k].revents != entry_stored[k])
            if (EventHandler* h = entry_owner[k])
                h->revents = entry_stored[k] = entries[k].revents;

    // Entries only grow or shrink at the top of a pass, so their order is
    // the serving order; a handler detached meanwhile has a null owner.
    // Handlers left unserved by a terminate keep their place for a later run.
    // The handler measure times the calls that had returned events, reading
    // the clock once per boundary between two of them. A call with none is
    // only the handler's own test of its events: timing it would cost more
    // than the call itself, once per handler and pass.
    // An Event's service is final and inline, so most calls of a pass are
    // its two tests, without an indirect call. The owners array is not
    // reallocated while serving: entries change only at the top of a pass.
    EventHandler* const* const owners = entry_owner.data();
    const short* const stored = entry_stored.data();
    bool timing = false;
    for (std::size_t k = 0; k < n && !terminate_flag; ++k) {
        // The handlers are apart in memory and poll has just run through
        // the caches: ask for them a little ahead of their call.
        if (k + 8 < n)
            __builtin_prefetch(owners[k + 8]);
        EventHandler* h = owners[k];
        if (!h)
            continue;
        const short revents = stored[k]; // equals h->revents, from a denser array
        if (!revents) {
            if (h->is_event)
                static_cast<Event*>(h)->svc_event(revents);
            else
                h->svc_event(revents);
            timing = false;
            continue;
        }
        if (!timing)
            event_measure.begin();
        h->svc_event(revents);
        event_measure.lap();
        timing = true;
    }
}

// ---- handlers ----

bool Multiplexer::event_exists(EventHandler* h) const
{
    return h->where != None;
}

void Multiplexer::attach(EventHandler* h)
{
    if (event_exists(h)) {
        std::cerr << "duplicate multiplexer attach " << std::flush;
        std::cerr << '"' << h->event_name() << "\" ignored." << std::endl;
        return;
    }
    fresh.insert_to_tail(h);
    h->where = InFresh;
}

void Multiplexer::detach(EventHandler* h)
{
    if (!event_exists(h)) {
        std::cerr << "indvalid Multiplexer::detach " << std::flush;
        std::cerr << h->event_name() << std::endl;
        return;
    }
    (h->where == InFresh ? fresh : active).remove(h);
    h->where = None;
    if (h->entry >= 0) {
        entry_owner[h->entry] = nullptr;
        entries[h->entry].fd = -1; // a poll still to come skips it
        entry_fill[h->entry] = 0;  // nor is it filled again
        detached_entries = true;
        h->entry = -1;
    }
}

// ---- timers ----

// Earlier expiry first (by signed difference, so across the wrap), then
// earlier arming.
bool Multiplexer::fires_before(const TimerEvent* a, const TimerEvent* b)
{
    const int32_t d = a->compare(b);
    return d < 0 || (d == 0 && a->armed < b->armed);
}

void Multiplexer::timer_place(TimerEvent* t, std::size_t at)
{
    timers[at] = t;
    t->slot = static_cast<uint32_t>(at);
}

void Multiplexer::timer_up(std::size_t at)
{
    TimerEvent* t = timers[at];
    while (at > 0) {
        const std::size_t parent = (at - 1) / 2;
        if (!fires_before(t, timers[parent]))
            break;
        timer_place(timers[parent], at);
        at = parent;
    }
    timer_place(t, at);
}

void Multiplexer::timer_down(std::size_t at)
{
    TimerEvent* t = timers[at];
    const std::size_t n = timers.size();
    for (;;) {
        std::size_t child = 2 * at + 1;
        if (child >= n)
            break;
        if (child + 1 < n && fires_before(timers[child + 1], timers[child]))
            ++child;
        if (!fires_before(timers[child], t))
            break;
        timer_place(timers[child], at);
        at = child;
    }
    timer_place(t, at);
}

void Multiplexer::set(TimerEvent* t)
{
    reset(t);
    t->armed = ++timer_sequence;
    timers.push_back(t);
    timer_up(timers.size() - 1);
    t->queued = true;
}

void Multiplexer::reset(TimerEvent* t)
{
    if (!t->queued)
        return;
    const std::size_t at = t->slot;
    TimerEvent* last = timers.back();
    timers.pop_back();
    t->queued = false;
    if (last == t)
        return;
    timer_place(last, at);
    if (at > 0 && fires_before(last, timers[(at - 1) / 2]))
        timer_up(at);
    else
        timer_down(at);
}

int Multiplexer::next_timer_wait() const
{
    if (timers.empty())
        return -1;
    const int32_t wait = Mux::msec_diff(Mux::milliseconds(), timers.front()->expiry);
    return wait < 0 ? 0 : wait;
}

int Multiplexer::timers_schedule()
{
    // No clock read while nothing is armed.
    const uint32_t now = timers.empty() ? 0 : Mux::milliseconds();
    while (!timers.empty()) {
        TimerEvent* head = timers.front();
        if (Mux::msec_diff(head->expiry, now) < 0)
            break;
        Sample s(timer_measure);
        reset(head);
        head->fire();
    }
    execute_dpc();
    return next_timer_wait();
}

// ---- deferred calls ----

void Multiplexer::attach(Dpc* d)
{
    dpc_added = true;
    dpcs.push_back(d);
    std::sort(dpcs.begin(), dpcs.end(), std::less<Dpc*>());
    dpcs.erase(std::unique(dpcs.begin(), dpcs.end()), dpcs.end());
}

void Multiplexer::dettach(Dpc* d)
{
    dpcs.erase(std::remove(dpcs.begin(), dpcs.end(), d), dpcs.end());
    sweep.erase(std::remove(sweep.begin(), sweep.end(), d), sweep.end());
}

void Multiplexer::execute_dpc()
{
    dpc_added = false;
    if (dpcs.empty())
        return; // the common case: nothing to copy or run
    sweep.assign(dpcs.begin(), dpcs.end());
    while (!sweep.empty()) {
        Dpc* d = sweep.front();
        sweep.pop_front();
        Sample s(dpc_measure);
        d->Invoke();
    }
}

// ---- dump ----

void Multiplexer::dump(std::ostream& os) const
{
    os << "dpc transition measurement (min/max/cur/counter): " << dpc_measure << '\n';
    os << "event transition measurement (min/max/cur/counter): " << event_measure << '\n';
    os << "timer transition measurement (min/max/cur/counter): " << timer_measure << '\n';
    Profile::dump(os);

    ext::Table table(40, 30, 10, 10, 5, 60);
    os << table << ext::delimeter;
    os << table << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count" << ext::nextrow
       << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow;
    os << table << ext::delimeter;
    for (auto it = active.begin(); it != active.end(); ++it) {
        if (!(*it)->is_named())
            continue;
        const Event* e = static_cast<const Event*>(*it);
        os << table << ext::beginrow << e->event_name() << ext::nextrow << PollEventAsText(e->events())
           << ext::nextrow << e->counter() << ext::nextrow << (e->is_bound() ? "attached" : "unattached")
           << ext::nextrow << e->lowlevel_fd() << ext::nextrow << e->measure() << ext::nextrow;
    }
    os << table << ext::delimeter;
    os << std::endl;
}
