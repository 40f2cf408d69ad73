// Event-loop ping-pong and timer queue costs, side by side with libevent.
#include "framework/event.h"
#include "framework/fd.h"
#include "framework/multiplexer.h"
#include "framework/timer.h"

#include <benchmark/benchmark.h>
#include <event2/event.h>

#include <sys/socket.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

namespace {

struct SocketPair
{
    SocketPair()
    {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
            std::abort();
        a = Fd(sv[0]);
        b = Fd(sv[1]);
    }
    Fd a, b;
};

// "Mux: terminating..." once per run is not what is measured.
struct QuietClog
{
    QuietClog() : old(std::clog.rdbuf(sink.rdbuf())) {}
    ~QuietClog() { std::clog.rdbuf(old); }
    std::ostringstream sink;
    std::streambuf* old;
};

// ---- our loop ----

struct MuxPingPong
{
    void on_a(int fd, short revents)
    {
        if (!(revents & POLLIN))
            return;
        char c;
        (void)!::read(fd, &c, 1);
        if (!state->KeepRunning()) {
            multiplexer.terminate();
            return;
        }
        (void)!::write(fd, &c, 1);
    }
    void on_b(int fd, short revents)
    {
        if (!(revents & POLLIN))
            return;
        char c;
        (void)!::read(fd, &c, 1);
        (void)!::write(fd, &c, 1);
    }
    benchmark::State* state;
};

struct IdleCallback
{
    void on_event(int, short revents)
    {
        if (revents & POLLIN)
            ++seen;
    }
    unsigned seen = 0;
};

// bound_idle: the idle handlers have callbacks, as in the daemon, and each
// is called with no events on every pass.
void PingPongMux(benchmark::State& state, bool bound_idle)
{
    QuietClog quiet;
    SocketPair idle_pair, pair;
    IdleCallback callback;
    std::vector<std::unique_ptr<Event>> idle;
    for (int i = 0; i < state.range(0); ++i) {
        idle.emplace_back(new Event);
        if (bound_idle)
            idle.back()->Bind("idle", &IdleCallback::on_event, &callback);
        idle.back()->Schedule(idle_pair.a, POLLIN);
    }
    MuxPingPong pp{&state};
    Event a, b;
    a.Bind("ping", &MuxPingPong::on_a, &pp);
    b.Bind("pong", &MuxPingPong::on_b, &pp);
    a.Schedule(pair.a, POLLIN);
    b.Schedule(pair.b, POLLIN);
    (void)!::write(pair.b.lowlevel_fd(), "x", 1);
    multiplexer.run(false, true);
    state.SetItemsProcessed(state.iterations());
}

void BM_PingPong_Mux(benchmark::State& state)
{
    PingPongMux(state, false);
}
BENCHMARK(BM_PingPong_Mux)->Arg(10)->Arg(100)->Arg(1000);

void BM_PingPong_MuxBoundIdle(benchmark::State& state)
{
    PingPongMux(state, true);
}
BENCHMARK(BM_PingPong_MuxBoundIdle)->Arg(10)->Arg(100)->Arg(1000);

struct Noop
{
    void go() {}
};

std::vector<unsigned> delays(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<unsigned> d(1000, 1000000);
    std::vector<unsigned> v(n);
    for (auto& x : v)
        x = d(gen);
    return v;
}

// n timers armed at random expiries, as load on the queue.
struct PendingTimers
{
    PendingTimers(std::size_t count, Noop& n) : timers(count)
    {
        const auto pre = delays(count, 1);
        for (std::size_t i = 0; i < count; ++i)
            timers[i].set(pre[i], &Noop::go, &n);
    }
    std::vector<Timer> timers;
};

// Arm and cancel one timer beside n pending ones, at a random delay or
// (latest = true) at a new latest expiry, the common case.
void ArmCancelMux(benchmark::State& state, bool latest)
{
    Noop n;
    PendingTimers pending(state.range(0), n);
    const auto arm = delays(4096, 2);
    std::size_t k = 0;
    Timer t;
    for (auto _ : state) {
        t.set(latest ? 2000000 : arm[k++ & 4095], &Noop::go, &n);
        t.reset();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_TimerArmCancel_Mux(benchmark::State& state)
{
    ArmCancelMux(state, false);
}
BENCHMARK(BM_TimerArmCancel_Mux)->RangeMultiplier(10)->Range(10, 10000);

void BM_TimerArmLatestCancel_Mux(benchmark::State& state)
{
    ArmCancelMux(state, true);
}
BENCHMARK(BM_TimerArmLatestCancel_Mux)->RangeMultiplier(10)->Range(10, 10000);

void BM_TimerArmFire_Mux(benchmark::State& state)
{
    Noop n;
    PendingTimers pending(state.range(0), n);
    Timer t;
    for (auto _ : state) {
        t.set(0, &Noop::go, &n);
        multiplexer.timers_schedule();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TimerArmFire_Mux)->RangeMultiplier(10)->Range(10, 10000);

// ---- libevent ----

event_base* make_base(bool poll_backend)
{
    event_config* cfg = event_config_new();
    if (poll_backend) {
        event_config_avoid_method(cfg, "epoll");
        event_config_avoid_method(cfg, "select");
    }
    event_base* base = event_base_new_with_config(cfg);
    event_config_free(cfg);
    return base;
}

struct LeState
{
    benchmark::State* state;
    event_base* base;
};

void le_ping(evutil_socket_t fd, short, void* arg)
{
    auto* s = static_cast<LeState*>(arg);
    char c;
    (void)!::read(fd, &c, 1);
    if (!s->state->KeepRunning()) {
        event_base_loopbreak(s->base);
        return;
    }
    (void)!::write(fd, &c, 1);
}

void le_pong(evutil_socket_t fd, short, void*)
{
    char c;
    (void)!::read(fd, &c, 1);
    (void)!::write(fd, &c, 1);
}

void le_idle(evutil_socket_t, short, void*) {}

void PingPongLibevent(benchmark::State& state, bool poll_backend)
{
    event_base* base = make_base(poll_backend);
    SocketPair idle_pair, pair;
    std::vector<event*> idle;
    for (int i = 0; i < state.range(0); ++i) {
        idle.push_back(event_new(base, idle_pair.a.dup(), EV_READ | EV_PERSIST, le_idle, nullptr));
        event_add(idle.back(), nullptr);
    }
    LeState s{&state, base};
    event* a = event_new(base, pair.a.lowlevel_fd(), EV_READ | EV_PERSIST, le_ping, &s);
    event* b = event_new(base, pair.b.lowlevel_fd(), EV_READ | EV_PERSIST, le_pong, nullptr);
    event_add(a, nullptr);
    event_add(b, nullptr);
    (void)!::write(pair.b.lowlevel_fd(), "x", 1);
    event_base_dispatch(base);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(event_base_get_method(base));
    event_free(a);
    event_free(b);
    for (event* e : idle) {
        ::close(event_get_fd(e));
        event_free(e);
    }
    event_base_free(base);
}

void BM_PingPong_LibeventDefault(benchmark::State& state)
{
    PingPongLibevent(state, false);
}
BENCHMARK(BM_PingPong_LibeventDefault)->Arg(10)->Arg(100)->Arg(1000);

void BM_PingPong_LibeventPoll(benchmark::State& state)
{
    PingPongLibevent(state, true);
}
BENCHMARK(BM_PingPong_LibeventPoll)->Arg(10)->Arg(100)->Arg(1000);

timeval ms_to_tv(unsigned ms)
{
    timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

std::vector<event*> le_pending(event_base* base, std::size_t n)
{
    std::vector<event*> v;
    const auto pre = delays(n, 1);
    for (std::size_t i = 0; i < n; ++i) {
        v.push_back(evtimer_new(base, le_idle, nullptr));
        const timeval tv = ms_to_tv(pre[i]);
        evtimer_add(v.back(), &tv);
    }
    return v;
}

void le_free(event_base* base, std::vector<event*>& v)
{
    for (event* e : v)
        event_free(e);
    event_base_free(base);
}

void BM_TimerArmCancel_Libevent(benchmark::State& state)
{
    event_base* base = make_base(false);
    auto pending = le_pending(base, state.range(0));
    const auto arm = delays(4096, 2);
    std::size_t k = 0;
    event* t = evtimer_new(base, le_idle, nullptr);
    for (auto _ : state) {
        const timeval tv = ms_to_tv(arm[k++ & 4095]);
        evtimer_add(t, &tv);
        evtimer_del(t);
    }
    state.SetItemsProcessed(state.iterations());
    event_free(t);
    le_free(base, pending);
}
BENCHMARK(BM_TimerArmCancel_Libevent)->RangeMultiplier(10)->Range(10, 10000);

void BM_TimerArmFire_Libevent(benchmark::State& state)
{
    event_base* base = make_base(false);
    auto pending = le_pending(base, state.range(0));
    event* t = evtimer_new(base, le_idle, nullptr);
    const timeval zero{0, 0};
    for (auto _ : state) {
        evtimer_add(t, &zero);
        event_base_loop(base, EVLOOP_ONCE | EVLOOP_NONBLOCK);
    }
    state.SetItemsProcessed(state.iterations());
    event_free(t);
    le_free(base, pending);
}
BENCHMARK(BM_TimerArmFire_Libevent)->RangeMultiplier(10)->Range(10, 10000);

} // namespace
