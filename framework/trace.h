// Trace blocks and profiling points.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "framework/multiplexer.h"

namespace Trace {

// Writes "Enter <name>" at construction and "Leave <name>" at destruction
// when enabled.
class Block
{
public:
    Block(bool enabled, char const* name, std::ostream& out);
    ~Block();
    Block(Block const&) = delete;
    Block& operator=(Block const&) = delete;

private:
    bool enabled;
    char const* name;
    std::ostream& out;
};

} // namespace Trace

namespace Profile {

// A named duration statistic (the loop's Measure) in microseconds, timed with begin() and end().
// Every point sits in one global list from construction to destruction.
class Point
{
public:
    explicit Point(char const* name);
    ~Point();
    Point(Point const&) = delete;
    Point& operator=(Point const&) = delete;

    void begin() { stats.begin(); }
    void end() { stats.end(); }

    // "[name]: min=.. max=.. avg=.. counter=..", avg being the last sample.
    void put(std::ostream& os) const;

    Point* get_next() const { return next; }
    Measure const& measure() const { return stats; }

private:
    Point* next;
    char const* name;
    // Every number starts at zero, wherever the point lives.
    Measure stats;
};

// Most recently constructed point first; null when there is none.
extern Point* mRoot;

std::ostream& operator<<(std::ostream& os, Point const& p);
// Every point, one per line.
void dump(std::ostream& os);

} // namespace Profile
