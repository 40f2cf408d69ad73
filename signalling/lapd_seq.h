// Q.921 sequence numbers: modulo 128 arithmetic in one place.
#pragma once

#include "framework/cyclic.h"

namespace ISDN {

typedef Cyclic<unsigned int, 127u> Seq;

// (b - a) mod 128: how far b lies ahead of a.
inline unsigned seq_distance(Seq a, Seq b)
{
    return unsigned(b - a);
}

// V(A) <= N(R) <= V(S) in modulo 128 order (Q.921 5.8.2).
inline bool seq_in_window(Seq va, Seq nr, Seq vs)
{
    return (va <= nr) <= vs;
}

// Frames sent and not yet acknowledged.
inline unsigned seq_outstanding(Seq va, Seq vs)
{
    return seq_distance(va, vs);
}

// V(S) = V(A) + k: no further I frame may be sent (Q.921 5.6.1).
inline bool seq_window_full(Seq va, Seq vs, unsigned k)
{
    return seq_outstanding(va, vs) >= k;
}

} // namespace ISDN
