// One-shot millisecond timers of the event loop.
#pragma once

#include <cstddef>
#include <cstdint>

class Multiplexer;

// An item of the loop's timer queue; the loop takes it out before fire().
class TimerEvent
{
public:
    TimerEvent() = default;
    TimerEvent(const TimerEvent&) = delete;
    TimerEvent& operator=(const TimerEvent&) = delete;
    // Destroying a pending event cancels it.
    virtual ~TimerEvent();
    virtual void fire() = 0;

    // Expiry := now + ms (wrapping; ms at most 2^31 - 1), then (re)queued
    // in expiry order.
    void schedule(unsigned int ms);
    void reset();
    // This expiry minus the other's, as a signed 32-bit number.
    int32_t compare(const TimerEvent* other) const { return int32_t(expiry - other->expiry); }

    uint32_t get_expiry() const { return expiry; }
    bool is_queued() const { return queued; }

private:
    friend class Multiplexer;
    uint32_t expiry = 0;
    bool queued = false;
    uint32_t slot = 0; // its place in the loop's queue while queued
    uint64_t armed = 0; // arming sequence: orders equal expiries
};

class Timer;

// The part every event that a Timer owns shares.
class OwnedTimerEvent : public TimerEvent
{
public:
    explicit OwnedTimerEvent(Timer* owner) : owner_(owner) {}

    // Blocks of freed events are kept for the next arming, so arming a
    // Timer costs no heap allocation once the daemon is warm.
    static void* operator new(std::size_t size);
    static void operator delete(void* p, std::size_t size);

protected:
    // Lets go of the owner, but only if it still holds this event: an
    // event given up by Unbind must not idle a newer arming.
    void release_owner();
    Timer* owner() const { return owner_; }

private:
    friend class Timer;
    Timer* owner_;
    bool owned_ = true;
};

// Owns at most one pending event; only its latest arming ever fires.
class Timer
{
public:
    Timer() = default;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer() { reset(); }

    template <class T>
    void set(unsigned int ms, void (T::*member)(), T* object);
    template <class T>
    void set(unsigned int ms, void (T::*member)(Timer*), T* object);

    // Destroys the pending event: it never fires.
    void reset();
    // Gives up the pending event without cancelling it.
    void Unbind();
    bool is_running() const { return pending != nullptr; }

private:
    friend class OwnedTimerEvent;
    void replace(OwnedTimerEvent* e);
    OwnedTimerEvent* pending = nullptr;
};

// An event that calls a member function M of an object of class T.
template <class T, class M>
class ObjTimerEventBase : public OwnedTimerEvent
{
public:
    ObjTimerEventBase(Timer* owner, M m, T* o, unsigned int ms) : OwnedTimerEvent(owner), member(m), object(o)
    {
        schedule(ms);
    }

protected:
    M member;
    T* object;
};

template <class T>
class ObjTimerEvent1 : public ObjTimerEventBase<T, void (T::*)()>
{
public:
    using ObjTimerEventBase<T, void (T::*)()>::ObjTimerEventBase;
    void fire() override
    {
        auto m = this->member;
        T* o = this->object;
        this->release_owner();
        delete this;
        (o->*m)();
    }
};

template <class T>
class ObjTimerEvent2 : public ObjTimerEventBase<T, void (T::*)(Timer*)>
{
public:
    using ObjTimerEventBase<T, void (T::*)(Timer*)>::ObjTimerEventBase;
    void fire() override
    {
        auto m = this->member;
        T* o = this->object;
        Timer* t = this->owner();
        this->release_owner();
        delete this;
        (o->*m)(t);
    }
};

// A plain function behind a Timer; nothing in the daemon arms one.
class SimpleTimerEvent1 : public OwnedTimerEvent
{
public:
    using Function = void (*)();
    SimpleTimerEvent1(Timer* owner, Function f, unsigned int ms) : OwnedTimerEvent(owner), function(f)
    {
        schedule(ms);
    }
    void fire() override;

private:
    Function function;
};

template <class T>
void Timer::set(unsigned int ms, void (T::*member)(), T* object)
{
    replace(new ObjTimerEvent1<T>(this, member, object, ms));
}

template <class T>
void Timer::set(unsigned int ms, void (T::*member)(Timer*), T* object)
{
    replace(new ObjTimerEvent2<T>(this, member, object, ms));
}

// Timers bound to a static record {member, period}.
template <class T>
struct TimerSpec
{
    struct Spec
    {
        void (T::*member)();
        uint32_t period;
    };

    template <const Spec& R>
    class SpecTimer : public Timer
    {
    public:
        void set(T* owner) { Timer::set<T>(R.period, R.member, owner); }
    };
};
