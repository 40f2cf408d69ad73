// Scope guard that defers an owner's own tear-down check until its
// outermost entry point returns.
#pragma once

namespace ext {

// Raises owner.*Level on construction and lowers it on destruction; when it
// falls back to 0, calls owner.*Check(). Put one at the top of every entry
// point that may ask for the owner's tear-down.
template <class T, void (T::*Check)(), int T::*Level>
class RecursiveGuard
{
public:
    explicit RecursiveGuard(T* owner) : owner(owner) { ++(owner->*Level); }
    ~RecursiveGuard()
    {
        if (--(owner->*Level) == 0)
            (owner->*Check)();
    }
    RecursiveGuard(RecursiveGuard const&) = delete;
    RecursiveGuard& operator=(RecursiveGuard const&) = delete;

private:
    T* owner;
};

} // namespace ext
