// Sequence numbers of SS7 signal units: FSN and BSN count modulo 128
// (Q.703 5.2.1). All arithmetic on them goes through these helpers.
#pragma once

#include "framework/cyclic.h"

namespace SS7 {

using Seq = Cyclic<unsigned int, 127u>;

inline Seq next(Seq n)
{
    return n + Seq(1u);
}

inline Seq prev(Seq n)
{
    return n - Seq(1u);
}

// Steps forward from a to b, 0 to 127.
inline unsigned distance(Seq a, Seq b)
{
    return unsigned(b - a);
}

// n lies in the window that starts at first and ends at last, both included.
inline bool within(Seq first, Seq n, Seq last)
{
    return distance(first, n) <= distance(first, last);
}

} // namespace SS7
