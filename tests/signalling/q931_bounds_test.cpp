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

} // namespace
