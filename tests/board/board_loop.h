// Bounded runs of the event loop and stream captures for the board tests.
#pragma once

#include "tests/core/loop_driver.h"
#include "tests/core/test_slots.h"

#include <string>

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

// Catches what one standard stream is given while it lives, and counts
// the lines it has seen.
class Capture : public test::Capture {
public:
    using test::Capture::Capture;
    std::string take()
    {
        std::string s = mSeen + test::Capture::take();
        mSeen.clear();
        return s;
    }
    size_t count(const std::string& part)
    {
        mSeen += test::Capture::take();
        size_t n = 0;
        for (size_t at = mSeen.find(part); at != std::string::npos; at = mSeen.find(part, at + part.size()))
            ++n;
        return n;
    }

private:
    std::string mSeen;
};

} // namespace boardtest
