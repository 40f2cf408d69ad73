// Intrusive reference-counting pointer with copy-on-write.
#pragma once

#include <cstdint>

// Null dereference: writes "SMART POINTER ASSERTION!" on std::clog and
// terminates.
[[noreturn]] void SmartPtrAssertion();

// T carries its own count in an accessible unsigned member `ref_counter`;
// the last release deletes the object (a class operator delete or a virtual
// destructor decides where it goes). Non-const access to a shared object
// first gives this handle a private copy (T's copy constructor).
template <class T>
class Smart_pointer
{
public:
    Smart_pointer() : ptr(nullptr) {}
    Smart_pointer(T* p) : ptr(p) { take(); }
    Smart_pointer(Smart_pointer const& o) : ptr(o.ptr) { take(); }
    ~Smart_pointer() { remove_current(); }

    // Takes the new reference before dropping the old one, so assigning a
    // handle to itself (or to another handle of the same object) never
    // frees what it is about to hold.
    Smart_pointer& operator=(Smart_pointer const& o) { return assign(o.ptr); }
    Smart_pointer& operator=(T* p) { return assign(p); }

    void remove_current()
    {
        T* p = ptr;
        ptr = nullptr;
        if (!p)
            return;
        if (p->ref_counter > 0)
            --p->ref_counter;
        if (p->ref_counter == 0)
            delete p;
    }
    void clean() { remove_current(); }

    bool null() const { return ptr == nullptr; }
    bool operator!() const { return ptr == nullptr; }
    explicit operator bool() const { return ptr != nullptr; }

    T const* operator->() const
    {
        if (!ptr)
            SmartPtrAssertion();
        return ptr;
    }
    T* operator->()
    {
        if (!ptr)
            SmartPtrAssertion();
        prepare_for_modify();
        return ptr;
    }

    void prepare_for_modify()
    {
        if (ptr && ptr->ref_counter > 1) {
            T* copy = new T(*ptr);
            --ptr->ref_counter;
            ptr = copy;
            ptr->ref_counter = 1;
        }
    }

protected:
    T* ptr;

private:
    void take()
    {
        if (ptr)
            ++ptr->ref_counter;
    }
    Smart_pointer& assign(T* p)
    {
        if (p != ptr) {
            if (p)
                ++p->ref_counter;
            remove_current();
            ptr = p;
        }
        return *this;
    }
};
