// Intrusive containers: the links live inside the elements, nothing is
// allocated and nothing is owned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

template <class T> class F_dual_list;

// Base of every element type T that can sit in an F_dual_list<T>.
template <class T>
class F_dual_list_item
{
public:
    F_dual_list_item() = default;
    // Copies never inherit list membership.
    F_dual_list_item(const F_dual_list_item&) {}
    F_dual_list_item& operator=(const F_dual_list_item&) { return *this; }
    ~F_dual_list_item() = default;

    T* get_next() const { return next; }
    T* get_prev() const { return prev; }

private:
    friend class F_dual_list<T>;
    T* next = nullptr;
    T* prev = nullptr;
};

// Doubly linked intrusive list. No operation tests membership: inserting a
// linked element or removing a foreign one is the caller's error.
template <class T>
class F_dual_list
{
    using Item = F_dual_list_item<T>;
    static Item* item(T* e) { return static_cast<Item*>(e); }

public:
    class iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T*;
        using difference_type = std::ptrdiff_t;
        using pointer = T* const*;
        using reference = T*;

        iterator() = default;
        iterator(T* e) : p(e) {}

        iterator& operator++() { p = p->get_next(); return *this; }
        iterator operator++(int) { iterator old = *this; p = p->get_next(); return old; }
        T* operator*() const { return p; }
        T* operator->() const { return p; }
        bool operator==(const iterator& o) const { return p == o.p; }
        bool operator!=(const iterator& o) const { return p != o.p; }
        bool good() const { return p != nullptr; }
        bool operator!() const { return p == nullptr; }

    private:
        T* p = nullptr;
    };

    F_dual_list() = default;
    F_dual_list(T* array, unsigned n) { init(array, n); }
    F_dual_list(const F_dual_list&) = delete;
    F_dual_list& operator=(const F_dual_list&) = delete;

    void init(T* array, unsigned n)
    {
        head = tail = nullptr;
        count_ = 0;
        for (unsigned i = 0; i < n; ++i)
            insert_to_tail(&array[i]);
    }

    T* insert_to_tail(T* e)
    {
        item(e)->next = nullptr;
        item(e)->prev = tail;
        if (tail)
            item(tail)->next = e;
        else
            head = e;
        tail = e;
        ++count_;
        return e;
    }
    T* push_back(T* e) { return insert_to_tail(e); }

    T* insert_to_head(T* e)
    {
        item(e)->prev = nullptr;
        item(e)->next = head;
        if (head)
            item(head)->prev = e;
        else
            tail = e;
        head = e;
        ++count_;
        return e;
    }

    T* insert_after(T* pos, T* e)
    {
        T* following = item(pos)->next;
        item(e)->next = following;
        item(e)->prev = pos;
        if (following)
            item(following)->prev = e;
        else
            tail = e;
        item(pos)->next = e;
        ++count_;
        return e;
    }

    T* remove(T* e)
    {
        T* n = item(e)->next;
        T* p = item(e)->prev;
        if (p)
            item(p)->next = n;
        else
            head = n;
        if (n)
            item(n)->prev = p;
        else
            tail = p;
        --count_;
        return e;
    }

    T* remove_from_head() { return head ? remove(head) : nullptr; }
    T* remove_from_tail() { return tail ? remove(tail) : nullptr; }

    iterator begin() const { return iterator(head); }
    iterator end() const { return iterator(); }
    iterator last() const { return iterator(tail); }
    T* front() const { return head; }
    T* back() const { return tail; }

    uint32_t count() const { return count_; }
    uint32_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

    // Exchanges the whole contents of the two lists.
    void merge(F_dual_list& other)
    {
        T* h = head; T* t = tail; uint32_t c = count_;
        head = other.head; tail = other.tail; count_ = other.count_;
        other.head = h; other.tail = t; other.count_ = c;
    }

private:
    T* head = nullptr;
    T* tail = nullptr;
    uint32_t count_ = 0;
};

// F_dual_list kept ascending by T::compare(T const*) (a signed difference);
// equal elements keep their insertion order.
template <class T>
class F_sorted_list : public F_dual_list<T>
{
public:
    // Walks from the tail, so a new latest element costs one step.
    T* insert_to_tail_by_grown(T* e)
    {
        for (T* x = this->back(); x; x = x->get_prev())
            if (x->compare(e) <= 0)
                return this->insert_after(x, e);
        return this->insert_to_head(e);
    }
};

namespace Containers {

// Circular doubly linked link. A lone link points at itself; the head of a
// ring is never an element.
class CyclicList
{
public:
    template <class Ref, class Ptr>
    class TIterator
    {
    public:
        TIterator() = default;
        explicit TIterator(Ptr l) : p(l) {}
        TIterator& operator++() { p = p->next; return *this; }
        TIterator operator++(int) { TIterator old = *this; p = p->next; return old; }
        Ref operator*() const { return *p; }
        Ptr operator->() const { return p; }
        bool operator==(const TIterator& o) const { return p == o.p; }
        bool operator!=(const TIterator& o) const { return p != o.p; }

    private:
        Ptr p = nullptr;
    };
    using iterator = TIterator<CyclicList&, CyclicList*>;

    CyclicList() { InternalInit(); }
    CyclicList(const CyclicList&) = delete;
    CyclicList& operator=(const CyclicList&) = delete;
    ~CyclicList() { InternalDel(prev, next); }

    // Moves e (out of whatever ring holds it) to the tail of this ring.
    void AddToTail(CyclicList* e)
    {
        InternalDel(e->prev, e->next);
        InternalAddToTail(e);
    }

    void InternalInit() { next = prev = this; }
    static void InternalAdd(CyclicList* e, CyclicList* before, CyclicList* after)
    {
        after->prev = e;
        e->next = after;
        e->prev = before;
        before->next = e;
    }
    void InternalAddToTail(CyclicList* e) { InternalAdd(e, prev, this); }
    static void InternalDel(CyclicList* before, CyclicList* after)
    {
        after->prev = before;
        before->next = after;
    }

    iterator begin() { return iterator(next); }
    iterator end() { return iterator(this); }

    CyclicList* next;
    CyclicList* prev;
};

// The T that embeds `link` as its member `member`.
template <class T>
T* offset(CyclicList& link, CyclicList T::*member)
{
    // The member's position, measured on suitably aligned raw storage.
    alignas(T) static unsigned char storage[sizeof(T)];
    const T* probe = reinterpret_cast<const T*>(storage);
    const std::ptrdiff_t pos = reinterpret_cast<const unsigned char*>(&(probe->*member)) - storage;
    return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(&link) - pos);
}

} // namespace Containers
