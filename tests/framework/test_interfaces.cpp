// Interfaces of the runtime that the daemon's own paths reach rarely or not
// at all, each as a caller relies on it: event binding, the version record,
// ordered and circular lists, signal restarts, timers bound to a static
// record, trace blocks, profiling points and the recursion guard.

#include "framework/lists.h"
#include "framework/recursive_guard.h"
#include "framework/signals.h"
#include "framework/trace.h"
#include "framework/version.h"
#include "loop_helpers.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <vector>

using namespace looptest;

namespace {

TEST(EventBinding, DefaultsRebindingAndANullAction)
{
    Event e;
    EXPECT_EQ(e.event_name(), "Unknown");
    EXPECT_FALSE(e.is_bound());
    EXPECT_FALSE(e.IsActive());
    EXPECT_EQ(e.lowlevel_fd(), -1);
    EXPECT_EQ(e.events(), 0);
    e.svc_event(short(POLLIN)); // nothing bound: nothing happens

    Log log;
    Recorder first(log, "first"), second(log, "second");
    first.event.Bind("renamed", &Recorder::on_event, &second);
    EXPECT_EQ(first.event.event_name(), "renamed");
    first.event.SetEvents(POLLOUT);
    first.event.svc_event(short(POLLOUT));
    first.event.svc_event(short(POLLHUP));
    EXPECT_EQ(log, (Log{"second:4", "second:16"}));
    EXPECT_EQ(first.event.counter(), 1u) << "only the events asked for count";

    first.event.Bind(new Event::THandler<Recorder>(nullptr, &first));
    EXPECT_TRUE(first.event.is_bound());
    first.event.svc_event(short(POLLOUT));
    first.event.UnBind();
    EXPECT_FALSE(first.event.is_bound());
    first.event.svc_event(short(POLLOUT));
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(first.event.counter(), 3u);
}

TEST(VersionRecord, EachFieldInItsPlaceAndEveryTypesWords)
{
    const Version v(Version::Release, 7, "extra", "builder", "2023-08-31 20:25", "T230831-2025", "ppc");
    EXPECT_EQ(v.mType, Version::Release);
    EXPECT_EQ(v.mNumber, 7);
    EXPECT_STREQ(v.mExtra, "extra");
    EXPECT_STREQ(v.mBuilder, "builder");
    EXPECT_STREQ(v.mDate, "2023-08-31 20:25");
    EXPECT_STREQ(v.mTag, "T230831-2025");
    EXPECT_STREQ(v.mArch, "ppc");
    std::ostringstream os;
    os << v << '|' << Version::Test << '|' << Version::UnitTest;
    EXPECT_EQ(os.str(), "T230831-2025|test|unit-test");

    const struct {
        int type;
        const char* name;
        const char* suffix;
    } types[] = {{0, "snapshot", "S"}, {1, "test", "T"}, {2, "release", "R"}, {3, "unit-test", "T"},
                 {4, "unknown", "U"},  {7, "unknown", "U"}, {-1, "unknown", "U"}};
    for (const auto& t : types) {
        EXPECT_STREQ(version_string(Version::Type(t.type)), t.name) << t.type;
        EXPECT_STREQ(version_suffix(Version::Type(t.type)), t.suffix) << t.type;
    }
}

// A handler that is not an Event has no row in the loop's status dump.
struct Plain : EventHandler
{
    ~Plain() override { mux_detach(); }
    void shedule_event(pollfd& entry) override
    {
        entry.fd = -1;
        entry.events = 0;
    }
    void svc_event(short) override { ++calls; }
    int calls = 0;
};

TEST_F(LoopTest, OnlyEventsAreListedInTheStatusDump)
{
    EXPECT_FALSE(Plain().is_named());
    Plain plain;
    plain.mux_attach();
    // A writable event after it, so that the pass serves both.
    Pair p;
    Log log;
    Recorder w(log, "w");
    w.action = [] { multiplexer.terminate(); };
    w.event.Schedule(p.a, POLLOUT);
    multiplexer.run(false, true);
    w.event.Release();
    EXPECT_TRUE(plain.is_attached());
    EXPECT_GE(plain.calls, 1) << "served through its own svc_event";
    std::ostringstream os;
    multiplexer.dump(os);
    EXPECT_EQ(os.str().find("unknown"), std::string::npos) << os.str();
}

struct Keyed : F_dual_list_item<Keyed>
{
    explicit Keyed(int k) : key(k) {}
    int compare(const Keyed* o) const { return key - o->key; }
    int key;
};

std::vector<int> Keys(const F_dual_list<Keyed>& l)
{
    std::vector<int> v, back;
    for (auto it = l.begin(); it != l.end(); ++it)
        v.push_back(it->key);
    for (Keyed* e = l.back(); e; e = e->get_prev())
        back.insert(back.begin(), e->key);
    EXPECT_EQ(v, back) << "the links disagree";
    EXPECT_EQ(v.size(), l.count());
    return v;
}

TEST(SortedList, AscendingEqualKeysFirstInFirstOut)
{
    F_sorted_list<Keyed> s;
    Keyed a5(5), b3(3), c5(5), d4(4), e1(1), f9(9), g5(5);
    for (Keyed* e : {&a5, &b3, &c5, &d4, &e1, &f9, &g5})
        s.insert_to_tail_by_grown(e);
    EXPECT_EQ(Keys(s), (std::vector<int>{1, 3, 4, 5, 5, 5, 9}));
    std::vector<Keyed*> fives;
    for (auto it = s.begin(); it != s.end(); ++it)
        if (it->key == 5)
            fives.push_back(*it);
    EXPECT_EQ(fives, (std::vector<Keyed*>{&a5, &c5, &g5}));
    EXPECT_EQ(*std::find(s.begin(), s.end(), &d4), &d4);

    // merge swaps whole contents.
    F_dual_list<Keyed> other;
    Keyed x(7);
    other.push_back(&x);
    s.merge(other);
    EXPECT_EQ(Keys(s), std::vector<int>{7});
    EXPECT_EQ(Keys(other), (std::vector<int>{1, 3, 4, 5, 5, 5, 9}));
    EXPECT_TRUE(!std::find(s.begin(), s.end(), &a5));
}

volatile sig_atomic_t g_signo = 0;
void OnInfo(int, siginfo_t* info, void*)
{
    g_signo = info ? info->si_signo : -1;
}

struct sigaction Current(int sig)
{
    struct sigaction sa;
    sigaction(sig, nullptr, &sa);
    return sa;
}

TEST(SignalRestart, ToggledWithoutLosingTheHandler)
{
    const struct sigaction saved = Current(SIGUSR2);
    ASSERT_EQ(IPC::Signal::handle(SIGUSR2, OnInfo, 0), 0);
    EXPECT_TRUE(Current(SIGUSR2).sa_flags & SA_SIGINFO);
    raise(SIGUSR2);
    EXPECT_EQ(g_signo, SIGUSR2);

    ASSERT_EQ(IPC::Signal::disable_int(SIGUSR2), 0);
    EXPECT_TRUE(Current(SIGUSR2).sa_flags & SA_RESTART);
    EXPECT_EQ(Current(SIGUSR2).sa_sigaction, OnInfo);
    ASSERT_EQ(IPC::Signal::enable_int(SIGUSR2), 0);
    EXPECT_FALSE(Current(SIGUSR2).sa_flags & SA_RESTART);
    EXPECT_EQ(Current(SIGUSR2).sa_sigaction, OnInfo);

    ASSERT_EQ(IPC::Signal::ignore(SIGUSR2), 0);
    EXPECT_EQ(Current(SIGUSR2).sa_handler, SIG_IGN);
    g_signo = 0;
    raise(SIGUSR2);
    EXPECT_EQ(g_signo, 0);
    EXPECT_EQ(IPC::Signal::disable_int(10000), -1);
    EXPECT_TRUE(IPC::Signal::Set::is_signal(1));
    EXPECT_TRUE(IPC::Signal::Set::is_signal(SIGRTMAX));
    EXPECT_FALSE(IPC::Signal::Set::is_signal(0));
    EXPECT_FALSE(IPC::Signal::Set::is_signal(SIGRTMAX + 1));
    sigaction(SIGUSR2, &saved, nullptr);
}

struct Periodic
{
    static const TimerSpec<Periodic>::Spec spec;
    void OnUpdate()
    {
        timer.set(this);
        ++ticks;
    }
    TimerSpec<Periodic>::SpecTimer<spec> timer;
    int ticks = 0;
};
const TimerSpec<Periodic>::Spec Periodic::spec = {&Periodic::OnUpdate, 3000};

class TimerInterfaces : public LoopTest {
protected:
    void at(uint64_t ms)
    {
        set_clock(100000 + ms);
        multiplexer.timers_schedule();
    }
};

// An event given up by Unbind outlives its timer and still fires.
TEST_F(TimerInterfaces, AnUnboundEventOutlivesItsTimer)
{
    at(0);
    Periodic p;
    auto t = std::make_unique<Timer>();
    t->set(10, &Periodic::OnUpdate, &p);
    t->Unbind();
    EXPECT_FALSE(t->is_running());
    t.reset();
    at(10);
    EXPECT_EQ(p.ticks, 1);
    p.timer.reset();
    EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST(ProfilePoint, APointOnUsedMemoryStartsFromZeros)
{
    auto storage = std::make_unique<unsigned char[]>(sizeof(Profile::Point));
    std::fill(storage.get(), storage.get() + sizeof(Profile::Point), 0xA5);
    Profile::Point* p = new (storage.get()) Profile::Point("heap");
    std::ostringstream os;
    os << *p;
    EXPECT_EQ(os.str(), "[heap]: min=0 max=0 avg=0 counter=0");
    p->~Point();
}

} // namespace
