#pragma once

// Drives the event loop from a test: runs it until a condition holds or a
// bound (in loop milliseconds, never asserted on) runs out. Also catches
// what a standard stream is given.

#include "framework/multiplexer.h"
#include "framework/timer.h"

#include <functional>
#include <ostream>
#include <sstream>
#include <string>

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

// Catches what one standard stream is given while it lives.
class Capture {
public:
    explicit Capture(std::ostream& stream) : mStream(stream), mOld(stream.rdbuf(mText.rdbuf())) {}
    ~Capture() { mStream.rdbuf(mOld); }
    std::string text() const { return mText.str(); }
    // What came since the last take.
    std::string take()
    {
        std::string s = mText.str();
        mText.str("");
        return s;
    }
    // How often part stands in what came since the last take.
    size_t count(std::string const& part) const
    {
        std::string s = mText.str();
        size_t n = 0;
        for (size_t at = s.find(part); at != std::string::npos; at = s.find(part, at + part.size()))
            ++n;
        return n;
    }

private:
    std::ostream& mStream;
    std::ostringstream mText;
    std::streambuf* mOld;
};

} // namespace test
