#pragma once

// Drives the event loop from a test: runs it until a condition holds or a
// bound (in loop milliseconds, never asserted on) runs out.

#include "framework/multiplexer.h"
#include "framework/timer.h"

#include <functional>

namespace test {

class LoopDriver {
public:
    // True when the condition held before the bound ran out.
    bool RunUntil(std::function<bool()> done, unsigned boundMs = 10000)
    {
        if (done())
            return true;
        mDone = std::move(done);
        mLeft = boundMs;
        mTimer.set(1, &LoopDriver::Tick, this);
        multiplexer.run(false, true);
        mTimer.reset();
        bool held = mDone();
        mDone = nullptr;
        return held;
    }
    // Runs the loop for a number of ticks (lets pending work settle).
    void Settle(unsigned ms = 20)
    {
        unsigned left = ms;
        RunUntil([&left] { return left-- == 0; }, ms + 1);
    }

private:
    void Tick(Timer*)
    {
        if (mDone() || mLeft-- == 0) {
            multiplexer.terminate();
            return;
        }
        mTimer.set(1, &LoopDriver::Tick, this);
    }

    Timer mTimer;
    std::function<bool()> mDone;
    unsigned mLeft = 0;
};

} // namespace test
