#include "framework/inet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <sstream>

TEST(INet4Addr, ParsingPortsAndEquality)
{
    INet4::Addr a;
    int port = 0;
    EXPECT_TRUE(a.Assign("10.1.2.3:5060", &port));
    EXPECT_EQ(5060, port);
    EXPECT_EQ((std::vector<unsigned char>{10, 1, 2, 3}), a.GetVector());
    // No port in the text: the out-parameter says so, the port stays.
    EXPECT_TRUE(a.Assign("10.1.2.4", &port));
    EXPECT_EQ(-1, port);
    EXPECT_EQ("10.1.2.4:5060", a.GetString());

    EXPECT_FALSE(a.Assign("x:1", &port));
    EXPECT_FALSE(a.Assign("", nullptr));
    EXPECT_FALSE(a.Assign("1.2.3.4.5", nullptr));
    // A port beyond 16 bits is cut; no digits read as 0.
    EXPECT_TRUE(a.Assign("1.2.3.4:65537", &port));
    EXPECT_EQ(1, a.port());
    EXPECT_TRUE(a.Assign("1.2.3.4:", &port));
    EXPECT_EQ(0, a.port());
    EXPECT_TRUE(a.Assign(std::string("1.2.3.4:12ab"), nullptr));
    EXPECT_EQ(12, a.port());
    // A NUL does not cut a text short to an address.
    EXPECT_FALSE(a.Assign(std::string("127.0.0.1\0xx:80", 15), nullptr));
    uint32_t dotted = 0;
    EXPECT_TRUE(INet4::ParseDotted("10.1.2.3", dotted));
    EXPECT_EQ(dotted, htonl(0x0A010203));
    for (std::string bad : {std::string("127.0.0.1\0xx", 12), std::string("10.1.2"), std::string("10.1.2.3 ")})
        EXPECT_FALSE(INet4::ParseDotted(bad, dotted)) << bad;

    // The string constructor starts from the reset state, assignment does not.
    INet4::Addr c(std::string("127.0.0.1:80")), b(std::string("127.0.0.1"));
    EXPECT_EQ(0, b.port());
    b.port(80);
    b = std::string("127.0.0.1");
    EXPECT_TRUE(c == b);
    b.port(81);
    EXPECT_TRUE(c != b);

    // Decimal whatever the stream's state.
    std::ostringstream os;
    os << std::hex << INet4::Addr(std::string("192.168.0.1:2944"));
    EXPECT_EQ("192.168.0.1:2944", os.str());
}

TEST(NetIfconfig, ModeFilterAndLoopback)
{
    struct Case { const char* name; const char* addr; int mode; bool selected; } const cases[] = {
        {"eth0", "10.0.0.5", 4, true},       {"eth0", "172.31.255.1", 4, true},
        {"eth0", "172.16.0.0", 4, true},     {"eth0", "192.168.3.3", 4, true},
        {"eth0", "172.32.0.1", 4, false},    {"eth0", "172.15.255.255", 4, false},
        {"eth0", "169.254.1.1", 4, false},   {"lo", "127.0.0.1", 4, false},
        {"eth0", "11.0.0.1", 4, false},      {"lo", "127.0.0.1", 1, false},
        {"LO", "127.0.0.1", 1, false},       {"lo0", "127.0.0.1", 1, true},
        {"lo", "169.254.1.1", 3, true},      {"lo", "127.0.0.1", 3, false},
        {"lo", "169.253.255.255", 2, false}, {"lo", "127.0.0.1", 0, true},
    };
    for (auto const& c : cases) {
        in_addr a;
        inet_aton(c.addr, &a);
        EXPECT_EQ(c.selected, Net::ifconfig_selects(c.name, ntohl(a.s_addr), Net::ifconfig_mode_t(c.mode)))
            << c.name << " " << c.addr << " mode " << c.mode;
    }

    std::list<std::string> names(1, "keep");
    ASSERT_GE(Net::ifconfig(names, 0, 0), 1);
    if (std::find(names.begin(), names.end(), "lo") == names.end())
        GTEST_SKIP() << "no loopback IPv4 interface here";
    // Appends: earlier entries stay; the filter drops the loopback.
    names.assign(1, "keep");
    Net::ifconfig(names, Net::IF_NOT_LOOPBACK, 0);
    EXPECT_EQ("keep", names.front());
    EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), "lo"));
}
