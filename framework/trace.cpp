#include "framework/trace.h"

#include <ostream>

#include "framework/mux_time.h"

namespace Trace {

Block::Block(bool enabled, char const* name, std::ostream& out) : enabled(enabled), name(name), out(out)
{
    if (enabled)
        out << "Enter " << name << std::endl;
}

Block::~Block()
{
    if (enabled)
        out << "Leave " << name << std::endl;
}

} // namespace Trace

namespace Profile {

Point* mRoot = nullptr;

// Every field is set: points also live on the stack and the heap, not only
// in zeroed static storage.
Point::Point(char const* name)
    : next(mRoot), name(name), min(0), max(0), last(0), first(true), start(0), counter(0)
{
    mRoot = this;
}

Point::~Point()
{
    for (Point** link = &mRoot; *link; link = &(*link)->next) {
        if (*link == this) {
            *link = next;
            return;
        }
    }
}

void Point::begin()
{
    start = Mux::microseconds();
}

void Point::end()
{
    uint32_t d = Mux::microseconds() - start;
    if (first) {
        min = max = last = d;
        counter = 1;
        first = false;
        return;
    }
    ++counter;
    if (d < min)
        min = d;
    if (d > max)
        max = d;
    last = d;
}

void Point::put(std::ostream& os) const
{
    std::ios::fmtflags saved = os.flags();
    os << std::dec << '[' << name << "]: min=" << min << " max=" << max << " avg=" << last
       << " counter=" << counter;
    os.flags(saved);
}

std::ostream& operator<<(std::ostream& os, Point const& p)
{
    p.put(os);
    return os;
}

void dump(std::ostream& os)
{
    for (Point* p = mRoot; p; p = p->get_next())
        os << *p << std::endl;
}

} // namespace Profile
