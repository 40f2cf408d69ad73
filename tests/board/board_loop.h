// Bounded runs of the event loop and stream captures for the board tests.
#pragma once

#include "samples/link/loop_driver.h"
#include "tests/core/test_slots.h"


namespace boardtest {

// Runs the loop until done() holds, giving up after the bound; true when
// done() held.
inline bool RunUntil(std::function<bool()> done, unsigned boundMs = 5000)
{
    test::LoopDriver loop;
    return loop.RunUntil(std::move(done), boundMs);
}

// Runs a few loop passes so that anything already due is delivered.
inline void Settle()
{
    test::LoopDriver loop;
    loop.Settle();
}

using test::Capture;

} // namespace boardtest
