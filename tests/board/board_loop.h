// Bounded runs of the event loop and stream captures for the board tests.
#pragma once

#include <functional>
#include <iosfwd>
#include <sstream>
#include <string>

namespace boardtest {

// Runs the loop until done() holds, giving up after max_ms; done() is
// looked at on every timer tick. True when done() held.
bool RunUntil(std::function<bool()> done, unsigned max_ms = 5000);
// Runs a few loop passes so that anything already due is delivered.
void Settle();

// Catches what one standard stream is given while it lives.
class Capture {
public:
    explicit Capture(std::ostream& stream);
    ~Capture();
    std::string take();
    size_t count(const std::string& part) const;

private:
    std::ostream& mStream;
    std::ostringstream mText;
    std::streambuf* mOld;
};

} // namespace boardtest
