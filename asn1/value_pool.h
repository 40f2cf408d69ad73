#pragma once
// Free lists of small blocks for value objects and their member arrays.
//
// A message is a tree of a few dozen small heap objects that is built and
// dropped for every frame; taking the blocks from per-thread free lists
// keeps malloc out of that path. Blocks are sized in steps of 8 octets up to
// 256; larger ones come from the heap directly. A block may be freed on
// another thread than the one that took it: it joins that thread's lists.
// Under AddressSanitizer every block comes from and goes back to the heap,
// so that a use after free is still caught.

#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define ASN1_POOL_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ASN1_POOL_HEAP_ONLY 1
#endif
#endif

namespace ASN1 {
namespace detail {

struct PoolLists {
    static constexpr std::size_t Step = 8;
    static constexpr std::size_t Classes = 32; // blocks up to 256 octets
    static constexpr unsigned Keep = 4096;     // per class; more go back to the heap

    void* head[Classes]; // each free block holds the next one's address
    unsigned count[Classes];
    // 0 until the first block is kept, then 1 while blocks may be kept, 2
    // once the thread is ending.
    unsigned char state;
};
// Constant-initialised and trivially destructible: reached without a guard.
extern __thread PoolLists poolLists;

void* poolAllocateSlow(std::size_t n);
void poolReleaseSlow(void* p, std::size_t n) noexcept;

inline void* poolAllocate(std::size_t n)
{
#ifndef ASN1_POOL_HEAP_ONLY
    std::size_t const c = (n - 1) / PoolLists::Step; // n == 0 wraps to a large class
    if (c < PoolLists::Classes) {
        if (void* b = poolLists.head[c]) {
            poolLists.head[c] = *static_cast<void**>(b);
            --poolLists.count[c];
            return b;
        }
    }
#endif
    return poolAllocateSlow(n);
}

// `n` is the size given to poolAllocate.
inline void poolRelease(void* p, std::size_t n) noexcept
{
#ifndef ASN1_POOL_HEAP_ONLY
    std::size_t const c = (n - 1) / PoolLists::Step;
    if (c < PoolLists::Classes && poolLists.state == 1 && poolLists.count[c] < PoolLists::Keep && p) {
        *static_cast<void**>(p) = poolLists.head[c];
        poolLists.head[c] = p;
        ++poolLists.count[c];
        return;
    }
#endif
    poolReleaseSlow(p, n);
}

// Standard allocator over the free lists (field and element arrays).
template <class T>
struct PoolAllocator {
    using value_type = T;

    PoolAllocator() = default;
    template <class U>
    PoolAllocator(PoolAllocator<U> const&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(poolAllocate(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { poolRelease(p, n * sizeof(T)); }

    template <class U>
    bool operator==(PoolAllocator<U> const&) const noexcept
    {
        return true;
    }
    template <class U>
    bool operator!=(PoolAllocator<U> const&) const noexcept
    {
        return false;
    }
};

} // namespace detail
} // namespace ASN1
