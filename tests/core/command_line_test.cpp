#include "core/command_line.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

CommandLine Parse(std::initializer_list<char const*> args)
{
    std::vector<char const*> argv{"server"};
    argv.insert(argv.end(), args);
    return CommandLine::Parse(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, OptionsAndDefaults)
{
    CommandLine plain = Parse({});
    EXPECT_EQ(plain.action, CommandLine::Run);
    EXPECT_FALSE(plain.daemon || plain.disableClock);
    EXPECT_EQ(plain.port, 20001);
    CommandLine all = Parse({"-D", "--port", "30000", "--disable-clock"});
    EXPECT_EQ(all.action, CommandLine::Run);
    EXPECT_TRUE(all.daemon && all.disableClock);
    EXPECT_EQ(all.port, 30000);
    EXPECT_TRUE(Parse({"--daemon"}).daemon);
    EXPECT_EQ(Parse({"--port=1"}).port, 1);
    EXPECT_EQ(Parse({"--port", "65535"}).port, 65535);

    EXPECT_EQ(Parse({"--version"}).action, CommandLine::Version);
    EXPECT_EQ(Parse({"-h"}).action, CommandLine::Help);
    EXPECT_EQ(Parse({"--help", "--bogus"}).action, CommandLine::Help);
}

TEST(CommandLine, BadOptionsGiveTheUsage)
{
    for (auto args : {std::vector<char const*>{"-x"}, {"--port"}, {"--port", "0"}, {"--port", "65536"},
                      {"--port", "-5"}, {"--port", "12ab"}, {"--port="}, {"--port", ""}, {"daemon"},
                      {"-D", "--portable"}, {"--port", "99999999999999999999"}}) {
        args.insert(args.begin(), "server");
        CommandLine line = CommandLine::Parse(static_cast<int>(args.size()), args.data());
        EXPECT_EQ(line.action, CommandLine::Usage) << args.back();
        EXPECT_FALSE(line.daemon);
    }
}

} // namespace
