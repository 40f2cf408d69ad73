#include "daemon_process.h"
#include "link_fixture.h"

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
    ASSERT_TRUE(daemon.Start({"--port", std::to_string(port)}, "[traces]\nsignalling.hdlc=bogus\n"));
    if (!daemon.WaitFor("run/server.pid") && daemon.NoNamespace())
        GTEST_SKIP() << "no mount namespace here";
    ASSERT_GT(daemon.pid(), 0) << daemon.output();
    // Written in one go: the decimal pid, no line end.
    std::string pid;
    for (int i = 0; i < 100 && pid.empty(); ++i, usleep(10000))
        pid = daemon.Read("run/server.pid");
    EXPECT_EQ(pid, std::to_string(daemon.pid()));

    // A controller drives it over TCP.
    test::TpktClient client;
    for (int i = 0; i < 500 && !client.Connect(port); ++i)
        usleep(10000);
    ASSERT_TRUE(client.connected()) << daemon.output();
    auto exchange = [&](LGCP::Message const& m, size_t count) {
        std::vector<LGCP::Message> got;
        EXPECT_TRUE(client.Send(test::Encode(m)));
        test::Octets payload;
        for (int i = 0; i < 2000 && got.size() < count; ++i) {
            if (!client.Take(payload)) {
                usleep(5000);
                continue;
            }
            ASN1::CoderEnv env;
            got.emplace_back();
            EXPECT_TRUE(env.decode(payload.data(), payload.data() + payload.size(), got.back()));
        }
        EXPECT_EQ(got.size(), count);
        return got;
    };
    LGCP::Message ping = test::Command(1);
    test::Body(ping).select_ping();
    auto pong = exchange(ping, 1);
    ASSERT_EQ(pong.size(), 1u);
    test::ExpectAnswer(pong[0], 1, -1);
    auto created = exchange(test::CreateMap(2, 5, 40), 3);
    ASSERT_EQ(created.size(), 3u);
    test::ExpectAnswer(created[0], 2, 5);
    test::ExpectStream(created[2], 5, false, true, 8232);

    ASSERT_EQ(kill(daemon.pid(), SIGHUP), 0); // a resource update, nothing sent
    ASSERT_EQ(kill(daemon.pid(), SIGUSR2), 0);
    ASSERT_TRUE(daemon.WaitFor("log/server-status")) << daemon.output();
    std::string dump;
    for (int i = 0; i < 200 && dump.find("05:map") == std::string::npos; ++i, usleep(10000))
        dump = daemon.Read("log/server-status");
    EXPECT_NE(dump.find("05:map"), std::string::npos) << dump;
    EXPECT_NE(dump.find("slots: 1"), std::string::npos) << dump;

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
    ASSERT_TRUE(daemon.Start({"--frobnicate"}));
    int status = daemon.Wait();
    ASSERT_NE(status, -1);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_EQ(daemon.output().rfind("Usage: server", 0), 0u) << daemon.output();
    EXPECT_NE(access(daemon.Path("run/server.pid").c_str(), F_OK), 0);
}

} // namespace
