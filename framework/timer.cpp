#include "framework/timer.h"

#include "framework/multiplexer.h"
#include "framework/mux_time.h"

TimerEvent::~TimerEvent()
{
    reset();
}

void TimerEvent::schedule(unsigned int ms)
{
    expiry = Mux::milliseconds() + ms;
    multiplexer.set(this);
}

void TimerEvent::reset()
{
    multiplexer.reset(this);
}

void OwnedTimerEvent::release_owner()
{
    if (owned_ && owner_->pending == this)
        owner_->pending = nullptr;
    owned_ = false;
}

void SimpleTimerEvent1::fire()
{
    Function f = function;
    release_owner();
    delete this;
    f();
}

void Timer::replace(OwnedTimerEvent* e)
{
    OwnedTimerEvent* old = pending;
    pending = e;
    delete old;
}

void Timer::reset()
{
    OwnedTimerEvent* old = pending;
    pending = nullptr;
    delete old;
}

void Timer::Unbind()
{
    if (pending)
        pending->owned_ = false;
    pending = nullptr;
}
