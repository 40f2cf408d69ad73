#include "framework/inet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
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

    // Decimal whatever the stream's state.
    std::ostringstream os;
    os << std::hex << INet4::Addr(std::string("192.168.0.1:2944"));
    EXPECT_EQ("192.168.0.1:2944", os.str());
}
