#include "core/signal_watch.h"

#include "framework/multiplexer.h"
#include "framework/signals.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

int gUpdates = 0;
void CountUpdate()
{
    ++gUpdates;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SignalWatch, SignalsBecomeDumpsUpdatesAndTheEndOfTheLoop)
{
    char dir[] = "/tmp/signalwatchXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/server-status";
    SignalWatch& watch = SignalWatch::instance();
    watch.set_status_path(path);
    watch.set_update(CountUpdate);
    ASSERT_TRUE(watch.Install());

    // Nothing raised: nothing written.
    watch.Check();
    EXPECT_EQ(access(path.c_str(), F_OK), -1);

    raise(SIGUSR2);
    raise(SIGPIPE); // caught, does nothing
    watch.Check();
    std::string status = ReadFile(path);
    EXPECT_EQ(status.rfind("version: ", 0), 0u);
    EXPECT_NE(status.find("timer transition measurement"), std::string::npos);
    EXPECT_NE(status.find("slots: 0"), std::string::npos);
    EXPECT_EQ(gUpdates, 0);

    raise(SIGHUP);
    raise(SIGHUP);
    watch.Check();
    watch.Check();
    EXPECT_EQ(gUpdates, 1);

    EXPECT_FALSE(multiplexer.terminating());
    raise(SIGTERM);
    EXPECT_TRUE(multiplexer.terminating());

    // A dump that cannot be written is logged, not fatal.
    watch.set_status_path(std::string(dir) + "/missing/server-status");
    raise(SIGUSR2);
    watch.Check();

    for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGUSR2, SIGHUP})
        IPC::Signal::system(sig);
    watch.set_status_path(SignalWatch::kStatusFile);
    watch.set_update(nullptr);
    unlink(path.c_str());
    rmdir(dir);
}

} // namespace
