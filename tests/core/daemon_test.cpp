#include "daemon_process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

TEST(Daemon, SigtermEndsWithStatusZeroAndRemovesThePidFile)
{
    test::DaemonProcess daemon;
    unsigned short port = test::FreePort();
    if (!daemon.Start({"--port", std::to_string(port)}, "[traces]\nsignalling.hdlc=bogus\n"))
        GTEST_SKIP() << "no mount namespace here";
    ASSERT_TRUE(daemon.WaitFor("run/server.pid")) << daemon.output();
    // Written in one go: the decimal pid, no line end.
    std::string pid;
    for (int i = 0; i < 100 && pid.empty(); ++i, usleep(10000))
        pid = daemon.Read("run/server.pid");
    EXPECT_EQ(pid, std::to_string(daemon.pid()));

    ASSERT_EQ(kill(daemon.pid(), SIGUSR2), 0);
    ASSERT_TRUE(daemon.WaitFor("log/server-status")) << daemon.output();

    ASSERT_EQ(kill(daemon.pid(), SIGTERM), 0);
    int status = daemon.Wait();
    ASSERT_NE(status, -1) << "still running";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << daemon.output();
    EXPECT_NE(access(daemon.Path("run/server.pid").c_str(), F_OK), 0);

    std::string out = daemon.output();
    EXPECT_NE(out.find("Starting server ["), std::string::npos) << out;
    EXPECT_NE(out.find("], port=" + std::to_string(port) + "\n"), std::string::npos) << out;
    // The configuration was read: its bad trace value is reported.
    EXPECT_NE(out.find("traces: "), std::string::npos) << out;
    EXPECT_NE(daemon.Read("log/server-status").find("version: "), std::string::npos);
}

TEST(Daemon, UnknownOptionPrintsTheUsageAndFails)
{
    test::DaemonProcess daemon;
    if (!daemon.Start({"--frobnicate"}))
        GTEST_SKIP() << "no mount namespace here";
    int status = daemon.Wait();
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_EQ(daemon.output().rfind("Usage: server", 0), 0u) << daemon.output();
    EXPECT_NE(access(daemon.Path("run/server.pid").c_str(), F_OK), 0);
}

} // namespace
