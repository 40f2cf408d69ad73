// The loop's clock held at ms from the start; moving it fires what falls due.
#pragma once

#include "framework/multiplexer.h"
#include "framework/mux_time.h"

namespace test {

struct FrozenClock {
    FrozenClock() { at(0); }
    ~FrozenClock() { Mux::mux_cleartimeofday(); }
    void at(uint64_t ms) const
    {
        Mux::g_tv_mono = Mux::timeval(int((start + ms) / 1000), int((start + ms) % 1000 * 1000));
        multiplexer.timers_schedule();
    }
    const uint64_t start = Mux::milliseconds();
};

} // namespace test
