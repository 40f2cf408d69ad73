#include "framework/inet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <sstream>

TEST(INet4Addr, AssignParsesAddressAndPort)
{
    INet4::Addr a;
    EXPECT_EQ(0, a.port());
    EXPECT_STREQ("0.0.0.0", a.GetStrAddr());

    int port = 0;
    EXPECT_TRUE(a.Assign("10.1.2.3:5060", &port));
    EXPECT_EQ(5060, port);
    EXPECT_EQ(5060, a.port());
    EXPECT_EQ("10.1.2.3:5060", a.GetString());
    EXPECT_EQ((std::vector<unsigned char>{10, 1, 2, 3}), a.GetVector());

    // No port in the text: the out-parameter says so, the port stays.
    EXPECT_TRUE(a.Assign("10.1.2.4", &port));
    EXPECT_EQ(-1, port);
    EXPECT_EQ("10.1.2.4:5060", a.GetString());

    EXPECT_FALSE(a.Assign("x:1", &port));
    EXPECT_EQ(1, port);
    EXPECT_FALSE(a.Assign("", nullptr));
    EXPECT_FALSE(a.Assign("1.2.3.4.5", nullptr));

    // A port beyond 16 bits is cut; no digits read as 0.
    EXPECT_TRUE(a.Assign("1.2.3.4:65537", &port));
    EXPECT_EQ(1, a.port());
    EXPECT_EQ(1, port);
    EXPECT_TRUE(a.Assign("1.2.3.4:", &port));
    EXPECT_EQ(0, a.port());
    EXPECT_TRUE(a.Assign(std::string("1.2.3.4:12ab"), nullptr));
    EXPECT_EQ(12, a.port());
}

TEST(INet4Addr, ConstructionAssignmentAndEquality)
{
    INet4::Addr a(std::string("127.0.0.1:80"));
    EXPECT_EQ("127.0.0.1:80", a.GetString());

    // The string constructor starts from the reset state, assignment does not.
    INet4::Addr b(std::string("127.0.0.1"));
    EXPECT_EQ(0, b.port());
    b.port(80);
    b = std::string("127.0.0.1");
    EXPECT_EQ(80, b.port());
    EXPECT_TRUE(a == b);
    b.port(81);
    EXPECT_TRUE(a != b);
    b.port(80);
    b.Assign(htonl(0x7F000002));
    EXPECT_FALSE(a.IsEqual(b));
    EXPECT_EQ("127.0.0.2:80", b.GetString());

    b.Reset();
    EXPECT_EQ("0.0.0.0:0", b.GetString());

    sockaddr_in sin = {};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(2944);
    sin.sin_addr.s_addr = htonl(0xC0A80001);
    INet4::Addr c(sin);
    EXPECT_EQ(16u, c.size());
    sockaddr const* sa = c;
    EXPECT_EQ(0, std::memcmp(sa, &sin, sizeof(sin)));
}

TEST(INet4Addr, PrintsDecimalWhateverTheStreamState)
{
    INet4::Addr a(std::string("192.168.0.1:2944"));
    std::ostringstream os;
    os << std::hex << a;
    EXPECT_EQ("192.168.0.1:2944", os.str());
    EXPECT_EQ(a.GetString(), os.str());
}

TEST(NetIfconfig, ModeFilter)
{
    auto sel = [](char const* name, char const* addr, Net::ifconfig_mode_t mode) {
        in_addr a;
        inet_aton(addr, &a);
        return Net::ifconfig_selects(name, ntohl(a.s_addr), mode);
    };
    EXPECT_TRUE(sel("eth0", "10.0.0.5", 4));
    EXPECT_TRUE(sel("eth0", "172.31.255.1", 4));
    EXPECT_TRUE(sel("eth0", "172.16.0.0", 4));
    EXPECT_TRUE(sel("eth0", "192.168.3.3", 4));
    EXPECT_FALSE(sel("eth0", "172.32.0.1", 4));
    EXPECT_FALSE(sel("eth0", "172.15.255.255", 4));
    EXPECT_FALSE(sel("eth0", "169.254.1.1", 4));
    EXPECT_FALSE(sel("lo", "127.0.0.1", 4));
    EXPECT_FALSE(sel("eth0", "11.0.0.1", 4));

    EXPECT_FALSE(sel("lo", "127.0.0.1", 1));
    EXPECT_FALSE(sel("LO", "127.0.0.1", 1));
    EXPECT_TRUE(sel("lo0", "127.0.0.1", 1));
    EXPECT_TRUE(sel("eth0", "8.8.8.8", 1));

    EXPECT_TRUE(sel("lo", "169.254.1.1", 3));
    EXPECT_TRUE(sel("eth0", "1.2.3.4", 3));
    EXPECT_FALSE(sel("lo", "127.0.0.1", 3));
    EXPECT_FALSE(sel("lo", "169.253.255.255", 2));

    EXPECT_TRUE(sel("lo", "127.0.0.1", 0));
}

TEST(NetIfconfig, LoopbackInterface)
{
    std::list<INet4::Addr> all;
    int n = Net::ifconfig(all, 0);
    ASSERT_GE(n, 0);
    EXPECT_EQ(static_cast<size_t>(n), all.size());
    bool loopback = false;
    for (auto const& a : all)
        loopback = loopback || a.GetString() == "127.0.0.1:0";
    if (!loopback)
        GTEST_SKIP() << "no loopback IPv4 interface here";

    std::list<std::string> names;
    ASSERT_GE(Net::ifconfig(names, 0, 0), 1);
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "lo"));

    // Appends: earlier entries stay.
    names.assign(1, "keep");
    Net::ifconfig(names, Net::IF_NOT_LOOPBACK, 0);
    EXPECT_EQ("keep", names.front());
    EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), "lo"));

    // A flags mask the loopback interface does not fully carry drops it.
    names.clear();
    Net::ifconfig(names, 0, 0xFFFFu);
    EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), "lo"));

    EXPECT_NO_THROW(Net::hostname());
}
