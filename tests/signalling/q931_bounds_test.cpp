// The trace printer stops at the frame's end even where the buffer goes on,
// and prints an element's last octet.
#include "signalling/q931_print.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Q931Bounds, FrameEndAndLastOctetOfAnElement)
{
    // A STATUS whose buffer goes on with a Sending complete octet that is
    // not part of the frame.
    std::vector<unsigned char> buffer = {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x7D, 0xA0, 0xA1};
    ISDN::dlogframe(buffer.data(), int(buffer.size() - 1), 1);
    std::string t = ISDN::logbuf;
    EXPECT_NE(t.find("message type STATUS\n  More data\n"), std::string::npos) << t;
    EXPECT_EQ(t.find("Sending complete"), std::string::npos) << t;

    // An NI-1 bearer capability of two octets ends with its octet 4.
    char text[256];
    std::vector<unsigned char> bearer = {0x04, 0x02, 0x88, 0x90};
    ISDN::q931::Out o(text, sizeof text);
    ISDN::q931::prbearer_ni1(o, ISDN::q931::Element{bearer.data(), bearer.data() + bearer.size()});
    EXPECT_STREQ(text, "    octet 3  10001000 Unrestricted digital information\n"
                       "    octet 4  10010000 64 kbps, circuit mode\n");
}

// A calling party number has octet 3a exactly when bit 8 of octet 3 is 0;
// a charge of one octet is its GEA alone.
TEST(Q931Bounds, CallingNumberOctet3aAndAChargeOfOneOctet)
{
    for (bool ext : {false, true}) {
        std::vector<unsigned char> f = {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x05, 0x6C, 0x04,
                                        uint8_t(ext ? 0xA1 : 0x21), 0x83, '1', '2'};
        ISDN::dlogframe(f.data(), int(f.size()), 1);
        std::string t = ISDN::logbuf;
        EXPECT_NE(t.find(ext ? "  Calling party number\n    octet 3 10100001\n    number digits .12\n"
                             : "  Calling party number\n    octet 3 00100001\n    octet 3a 10000011\n"
                               "    number digits 12\n"),
                  std::string::npos)
            << t;
    }
    // A multirate bearer (octet 4 ending in 11000) has octet 4.1.
    std::vector<unsigned char> f = {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x05, 0x04, 0x03, 0x88, 0x18, 0x85};
    ISDN::dlogframe(f.data(), int(f.size()), 1);
    EXPECT_NE(std::string(ISDN::logbuf).find("    octet 3  10001000\n    octet 4  00011000\n    octet 4.1 10000101\n"),
              std::string::npos)
        << ISDN::logbuf;
    char text[64];
    std::vector<unsigned char> charge = {0x02, 0x01, 0x81};
    ISDN::q931::Out o(text, sizeof text);
    ISDN::q931::prcharge(o, ISDN::q931::Element{charge.data(), charge.data() + charge.size()});
    EXPECT_STREQ(text, "    GEA 10000001  Anzahl: \n");
}

// A cause of no octets prints its name and nothing of the next element;
// a 1TR6 cause cut after its length prints nothing.
TEST(Q931Bounds, ElementsCutShort)
{
    std::vector<unsigned char> f = {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x5A, 0x08, 0x00, 0xA1};
    ISDN::dlogframe(f.data(), int(f.size()), 1);
    EXPECT_NE(std::string(ISDN::logbuf).find("  Cause\n  Sending complete\n"), std::string::npos) << ISDN::logbuf;
    char text[64];
    std::vector<unsigned char> cause = {0x08, 0x05, 0x85};
    ISDN::q931::Out o(text, sizeof text);
    ISDN::q931::prcause_1tr6(o, ISDN::q931::Element{cause.data(), cause.data() + 2});
    EXPECT_STREQ(text, "");
    // Octet 3 alone gives the coding and location; a 1TR6 cause of two
    // octets its location too.
    f = {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x5A, 0x08, 0x01, 0x82};
    ISDN::dlogframe(f.data(), int(f.size()), 1);
    EXPECT_NE(std::string(ISDN::logbuf).find("  Cause\n    coding 00 location 0010\n"), std::string::npos)
        << ISDN::logbuf;
    cause = {0x08, 0x02, 0x01, 0x84};
    ISDN::q931::Out o2(text, sizeof text);
    ISDN::q931::prcause_1tr6(o2, ISDN::q931::Element{cause.data(), cause.data() + cause.size()});
    EXPECT_EQ(std::string(text).rfind("    coding 00 location 0100\n", 0), 0u) << text;
}

// The trace buffer holds 1024 characters: a long frame's text is cut to
// 1023 and its NUL.
TEST(Q931Bounds, TraceBufferOf1024)
{
    std::vector<unsigned char> f(400, 0x28);
    f[0] = 0x02, f[1] = 0x01, f[2] = 0x00, f[3] = 0x00;
    EXPECT_EQ(ISDN::dlogframe(f.data(), int(f.size()), 1), 1023u);
    EXPECT_EQ(std::string(ISDN::logbuf).size(), 1023u);
}

// The NI-1 bearer's transfer capabilities by their codes.
TEST(Q931Bounds, Ni1TransferCapabilities)
{
    char text[128];
    for (unsigned char v : {0x90, 0xA0}) {
        std::vector<unsigned char> bearer = {0x04, 0x01, v};
        ISDN::q931::Out o(text, sizeof text);
        ISDN::q931::prbearer_ni1(o, ISDN::q931::Element{bearer.data(), bearer.data() + bearer.size()});
        EXPECT_STREQ(text, v == 0x90 ? "    octet 3  10010000 3.1 kHz audio\n"
                                     : "    octet 3  10100000 Unknown information-transfer capability\n");
    }
}

} // namespace
