// Fixed pool of objects in static storage, handed out through a free list.
#pragma once

#include <cstddef>
#include <new>

#include "framework/lists.h"

// The daemon is single-threaded: locking is a no-op.
struct Dummy_critical_section
{
    void lock() {}
    void unlock() {}
};

// N blocks of room for one T each. Never grows, never falls back to the
// heap. The block released last is reused first, so the pages and caches
// in use track what is held; blocks never used go only when none is free.
template <class T, unsigned N, class CS>
class List_allocator
{
public:
    struct List_storage : F_dual_list_item<List_storage>
    {
        alignas(T) unsigned char space[sizeof(T)];
    };

    // Room for one T, or null when the pool is empty.
    static void* allocate()
    {
        crit_section.lock();
        List_storage* b = free_list.remove_from_tail();
        if (!b && fresh < N) {
            // Blocks are linked only when first handed out, so the pages of
            // a block are touched only when it is used.
            b = new (block_at(fresh++)) List_storage;
        }
        crit_section.unlock();
        return b ? b->space : nullptr;
    }

    static void deallocate(void* p)
    {
        if (!p)
            return;
        // p is the room inside a block; the division drops the link before it.
        unsigned char* c = static_cast<unsigned char*>(p);
        std::size_t index = static_cast<std::size_t>(c - block_at(0)) / sizeof(List_storage);
        crit_section.lock();
        free_list.insert_to_tail(std::launder(reinterpret_cast<List_storage*>(block_at(index))));
        crit_section.unlock();
    }

    // Blocks that can still be handed out.
    static unsigned available() { return N - fresh + free_list.count(); }
    static constexpr unsigned capacity() { return N; }

private:
    struct Arena
    {
        alignas(List_storage) unsigned char bytes[N * sizeof(List_storage)];
    };

    static unsigned char* block_at(std::size_t i) { return arena.bytes + i * sizeof(List_storage); }

    // Plain zeroed bytes: nothing to construct before main, so the pool
    // works from any static initialiser.
    static Arena arena;
    static F_dual_list<List_storage> free_list;
    static unsigned fresh;
    static CS crit_section;
};

template <class T, unsigned N, class CS>
typename List_allocator<T, N, CS>::Arena List_allocator<T, N, CS>::arena;
template <class T, unsigned N, class CS>
F_dual_list<typename List_allocator<T, N, CS>::List_storage> List_allocator<T, N, CS>::free_list;
template <class T, unsigned N, class CS>
unsigned List_allocator<T, N, CS>::fresh = 0;
template <class T, unsigned N, class CS>
CS List_allocator<T, N, CS>::crit_section;
