#include "framework/timer.h"

#include "framework/multiplexer.h"
#include "framework/mux_time.h"

TimerEvent::~TimerEvent()
{
    reset();
}

void TimerEvent::schedule(unsigned int ms)
{
    // Expiries are compared by their signed 32-bit difference: a longer
    // delay would read as past due and fire at once.
    if (ms > uint32_t(INT32_MAX))
        ms = INT32_MAX;
    expiry = Mux::milliseconds() + ms;
    multiplexer.set(this);
}

void TimerEvent::reset()
{
    multiplexer.reset(this);
}

namespace {

// Room for every event kind a Timer makes (a member function pointer and an
// object pointer after the common part).
constexpr std::size_t kBlockSize = 96;

struct FreeBlock
{
    FreeBlock* next;
};

FreeBlock* free_blocks = nullptr;

} // namespace

void* OwnedTimerEvent::operator new(std::size_t size)
{
    if (size <= kBlockSize && free_blocks) {
        FreeBlock* b = free_blocks;
        free_blocks = b->next;
        return b;
    }
    return ::operator new(size <= kBlockSize ? kBlockSize : size);
}

void OwnedTimerEvent::operator delete(void* p, std::size_t size)
{
    if (!p)
        return;
    if (size > kBlockSize) {
        ::operator delete(p);
        return;
    }
    FreeBlock* b = static_cast<FreeBlock*>(p);
    b->next = free_blocks;
    free_blocks = b;
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
