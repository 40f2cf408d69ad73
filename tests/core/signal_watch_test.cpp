#include "core/signal_watch.h"

#include "samples/link/loop_driver.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

// A stop that comes after start-up but before the loop clears its end flag
// still ends the loop on its first pass.
TEST(SignalWatch, StopBeforeTheLoopRunsIsKept)
{
    SignalWatch& watch = SignalWatch::instance();
    ASSERT_TRUE(watch.Install());
    watch.Start();
    ASSERT_EQ(std::raise(SIGTERM), 0);

    unsigned asked = 0;
    test::LoopDriver loop;
    loop.RunUntil([&] { return ++asked, false; }, 5000);
    // Without the kept stop the loop would have run until the bound.
    EXPECT_LT(asked, 1000u);

    watch.Stop();
    SignalWatch::sStop = 0;
    for (int sig : {SIGTERM, SIGINT, SIGUSR2, SIGHUP, SIGPIPE})
        std::signal(sig, SIG_DFL);
}

} // namespace
