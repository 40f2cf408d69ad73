// Helpers shared by the event-loop tests.
#pragma once

#include "framework/event.h"
#include "framework/fd.h"
#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "framework/timer.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace looptest {

struct Pair
{
    Pair()
    {
        int sv[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        a = Fd(sv[0]);
        b = Fd(sv[1]);
    }
    void send_to_a() { EXPECT_EQ(::write(b.lowlevel_fd(), "x", 1), 1); }
    Fd a, b;
};

// Call log shared by the recorders of one test.
using Log = std::vector<std::string>;

// An Event that logs "name:revents" on every call.
struct Recorder
{
    Recorder(Log& l, std::string n) : log(l), name(std::move(n))
    {
        event.Bind(name, &Recorder::on_event, this);
    }
    void on_event(int fd, short revents)
    {
        log.push_back(name + ":" + std::to_string(revents));
        char buf[16];
        if (revents & POLLIN)
            (void)::read(fd, buf, sizeof buf);
        if (action)
            action();
    }
    Log& log;
    std::string name;
    Event event;
    std::function<void()> action;
};

// Ends a run that went wrong instead of letting a test hang.
struct Safety
{
    explicit Safety(unsigned ms = 5000) { timer.set(ms, &Safety::expire, this); }
    void expire()
    {
        fired = true;
        multiplexer.terminate();
    }
    Timer timer;
    bool fired = false;
};

// Drives the millisecond clock through the monotonic cache.
inline void set_clock(uint64_t ms)
{
    Mux::g_tv_mono = Mux::timeval(static_cast<int>(ms / 1000), static_cast<int>(ms % 1000 * 1000));
}

class LoopTest : public ::testing::Test
{
protected:
    // Handlers that live for the whole process (the child watch's) stay.
    void SetUp() override { handlers = multiplexer.handler_count(); }
    void TearDown() override
    {
        Mux::mux_cleartimeofday();
        EXPECT_EQ(multiplexer.handler_count(), handlers);
        EXPECT_EQ(multiplexer.timer_count(), 0u);
        EXPECT_EQ(multiplexer.dpc_count(), 0u);
    }
    uint32_t handlers = 0;
};

} // namespace looptest
