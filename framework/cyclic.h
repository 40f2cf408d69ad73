// Sequence number modulo M + 1 (M one less than a power of two).
#pragma once

#include <type_traits>

template <class U, U M>
class Cyclic
{
    static_assert(std::is_unsigned<U>::value, "Cyclic needs an unsigned type");
    static_assert((M & (M + 1)) == 0, "Cyclic bound must be a power of two minus one");

public:
    // a <= b <= c: b lies in the window that starts at a and ends at c.
    class LessEqPair
    {
    public:
        LessEqPair(Cyclic a, Cyclic b) : first(a), second(b) {}
        bool operator<=(Cyclic c) const
        {
            return U((U(c) - U(first)) & M) >= U((U(second) - U(first)) & M);
        }

        Cyclic first;
        Cyclic second;
    };

    Cyclic() = default;
    Cyclic(U v) : value(v & M) {}

    operator U() const { return value; }

    Cyclic operator+(const Cyclic& b) const { return Cyclic(U(value + b.value)); }
    Cyclic operator-(const Cyclic& b) const { return Cyclic(U(value - b.value)); }
    Cyclic& operator++() { value = value == M ? 0 : value + 1; return *this; }
    Cyclic operator++(int) { Cyclic old = *this; ++*this; return old; }
    Cyclic& operator--() { value = value == 0 ? M : value - 1; return *this; }
    Cyclic operator--(int) { Cyclic old = *this; --*this; return old; }

    LessEqPair operator<=(Cyclic b) const { return LessEqPair(*this, b); }

private:
    U value = 0;
};
