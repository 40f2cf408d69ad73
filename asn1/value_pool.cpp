#include "asn1/value_pool.h"

namespace ASN1 {
namespace detail {

__thread PoolLists poolLists;

#ifdef ASN1_POOL_HEAP_ONLY

void* poolAllocateSlow(std::size_t n) { return ::operator new(n); }

void poolReleaseSlow(void* p, std::size_t) noexcept { ::operator delete(p); }

#else

namespace {

// Gives the thread's kept blocks back to the heap when the thread ends.
struct Reaper {
    Reaper() { poolLists.state = 1; }
    ~Reaper()
    {
        poolLists.state = 2;
        for (std::size_t c = 0; c < PoolLists::Classes; ++c)
            while (void* b = poolLists.head[c]) {
                poolLists.head[c] = *static_cast<void**>(b);
                ::operator delete(b);
            }
    }
};

} // namespace

void* poolAllocateSlow(std::size_t n)
{
    std::size_t const c = (n - 1) / PoolLists::Step;
    return ::operator new(c < PoolLists::Classes ? (c + 1) * PoolLists::Step : n);
}

void poolReleaseSlow(void* p, std::size_t n) noexcept
{
    if (!p)
        return;
    std::size_t const c = (n - 1) / PoolLists::Step;
    if (c < PoolLists::Classes && poolLists.state == 0) {
        static thread_local Reaper reaper;
        (void)reaper;
        poolRelease(p, n);
        return;
    }
    ::operator delete(p);
}

#endif

} // namespace detail
} // namespace ASN1
