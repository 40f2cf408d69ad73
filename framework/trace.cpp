#include "framework/trace.h"

#include <ostream>


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

Point::Point(char const* name) : next(mRoot), name(name)
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

void Point::put(std::ostream& os) const
{
    std::ios::fmtflags saved = os.flags();
    os << std::dec << '[' << name << "]: " << stats;
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
