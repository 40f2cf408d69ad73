// The Q.931 trace printer: its edge cases, and bounds on long frames and on
// elements that run past the frame (which sits in a buffer of its size).
#include "signalling/q931_print.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

std::string print(Bytes const& frame, int direction = 1)
{
    // An exact-size heap copy: a read past the frame is an ASan error.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[frame.size() ? frame.size() : 1]);
    if (!frame.empty())
        std::memcpy(exact.get(), frame.data(), frame.size());
    size_t n = ISDN::dlogframe(exact.get(), int(frame.size()), direction);
    EXPECT_EQ(n, std::strlen(ISDN::logbuf));
    return ISDN::logbuf;
}

bool has(std::string const& text, std::string const& part)
{
    return text.find(part) != std::string::npos;
}

TEST(Q931Print, EdgeCasesOfTheTrace)
{
    // SETUP from the network, call reference 0x81 of length 1.
    Bytes setup = {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x05, 0x04, 0x05, 0x80, 0x90, 0xA3, 0x42, 0x66,
                   0x18, 0x01, 0x89, 0x70, 0x04, 0x81, '1', '2', '3', 0xA1};
    std::string t = print(setup);
    EXPECT_EQ(t.rfind(" 02 01 00 00 08 01 81 05 04 05 80 90 A3 42 66 18 01 89 70 04 81 31 32 33 A1\n", 0), 0u);
    EXPECT_TRUE(has(t, "frame network->user IFrame tei = 0\ncallref 1 called size 21 message type SETUP\n")) << t;
    // Bearer octets 5, 6 and 7 by their layer bits; a single-octet element.
    EXPECT_TRUE(has(t, "    octet 5  10100011\n    octet 6  01000010\n    octet 7  01100110\n  Channel identification\n"
                       "    octet 3 10001001\n  Called party number\n    octet 3 10000001\n    number digits 123\n"
                       "  Sending complete\n"))
        << t;
    // An empty element is no overrun; bearer octets 6 and 7 without 5; a
    // rejected value with bit 8 set ends the diagnostics. A message of three
    // octets is no short frame.
    t = print({0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x7D, 0x1E, 0x00, 0x04, 0x03, 0x80, 0x90, 0xC2, 0x04, 0x03,
               0x80, 0x90, 0x66, 0x08, 0x05, 0xC2, 0x90, 0x01, 0x82, 0x03});
    EXPECT_TRUE(has(t, "  Progress indicator\n  Bearer capability\n    octet 3  10000000\n    octet 4  10010000\n"
                       "    octet 6  11000010\n  Bearer capability\n    octet 3  10000000\n    octet 4  10010000\n"
                       "    octet 7  01100110\n  Cause\n    coding 10 location 0010\n"
                       "  cause value 10 : Normal call clearing \n    diag attribute 1  rej 2 \n"))
        << t;
    EXPECT_TRUE(
        has(print({0x02, 0x01, 0x00, 0x00, 0x08, 0x00, 0x7D}), "callref 0 caller size 3 message type STATUS\n"));

    // TEI management prints only the dump and its line.
    EXPECT_EQ(print({0xFC, 0xFF, 0x03, 0x0F, 0x34, 0x12, 0x01, 0xFF}, 0),
              " FC FF 03 0F 34 12 01 FF\nframe user->network tei management:\n");
    // An S frame: every octet from the control field, each and a blank.
    EXPECT_EQ(print({0x00, 0x01, 0x01, 0x05}, 0), " 00 01 01 05\nframe user->network SFrame tei = 0 (01 05 )\n");
    // An element missing from the table, then single-octet elements (bit 8 set).
    EXPECT_TRUE(has(print({0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x7D, 0x2A, 0x02, 0x11, 0x22, 0x91, 0xB2, 0xD3, 0xA0, 0xE4}),
                    "callref 1 caller size 13 message type STATUS\n  attribute 2a attribute size 2\n  Shift 1\n"
                    "  Congestion level 2\n  Repeat indicator 3\n  More data\n  Reserved e4\n"));
    // Broadcast SETUP in a UI frame; other protocols stop at the discriminator.
    EXPECT_TRUE(has(print({0x02, 0xFF, 0x03, 0x08, 0x01, 0x01, 0x05}), "broadcast\ncallref 1 caller size 4"));
    EXPECT_TRUE(has(print({0x04, 0xFF, 0x03}), "unknown sapi 1 broadcast\n"));
    EXPECT_TRUE(has(print({0xF8, 0xFF, 0x03}), "unknown sapi 62 broadcast\n"));
    EXPECT_TRUE(has(print({0x02, 0x01, 0x00, 0x00, 0x09, 0x01}), "Unknown protocol 9!"));

    // Short frames never keep the last text.
    EXPECT_EQ(print({}), "\nframe too short\n");
    EXPECT_EQ(print({0x02, 0x01}), " 02 01\nframe too short\n");
    EXPECT_TRUE(has(print({0x02, 0x01, 0x00, 0x00}), "IFrame tei = 0\nframe too short\n"));
    EXPECT_TRUE(has(print({0x02, 0x01, 0x00, 0x00, 0x08, 0x01}), "frame too short\n"));
    EXPECT_TRUE(has(print({0x02, 0x01, 0x00, 0x00, 0x08, 0x02, 0x81}), "frame too short\n"));
}

std::string element(ISDN::q931::Printer printer, Bytes const& e)
{
    char buf[256];
    ISDN::q931::Out o(buf, sizeof buf);
    printer(o, ISDN::q931::Element{e.data(), e.data() + e.size()});
    return buf;
}

// The printers of the NI-1 and 1TR6 tables, which no frame selects.
TEST(Q931Print, FurtherElementPrinters)
{
    using namespace ISDN::q931;
    // general numbers each octet by the extension bit of the next one,
    // general_ni1 by that of the octet just printed.
    Bytes const run = {0x1E, 0x04, 0x80, 0x01, 0x02, 0x83};
    Bytes status = {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x7D};
    status.insert(status.end(), run.begin(), run.end());
    EXPECT_TRUE(has(print(status), "Progress indicator\n    octet 3  10000000\n    octet 3a 00000001\n"
                                   "    octet 3b 00000010\n    octet 4  10000011\n"));
    EXPECT_EQ(element(general_ni1, run),
              "    octet 3  10000000\n    octet 4  00000001\n    octet 4a 00000010\n    octet 4b 10000011\n");
    EXPECT_EQ(element(prtext, {0x3A, 0x03, '0', '1', '2'}), "    012\n");
    EXPECT_EQ(element(prcharge, {0x02, 0x02, 0x81, '4'}), "    GEA 10000001  Anzahl: 4\n");
    EXPECT_EQ(element(prbearer_ni1, {0x04, 0x04, 0x88, 0x90, 0x21, 0x8F}),
              "    octet 3  10001000 Unrestricted digital information\n"
              "    octet 4  10010000 64 kbps, circuit mode\n"
              "    octet 5  00100001 Rate adaption\n    octet 5a 10001111\n");
    EXPECT_EQ(element(prbearer_ni1, {0x04, 0x02, 0x80, 0xC0, 0xA2}),
              "    octet 3  10000000 Speech\n    octet 4  11000000 Packet mode\n");
    EXPECT_TRUE(has(element(prbearer_ni1, {0x04, 0x03, 0x80, 0xC0, 0xA2}), "mode\n    octet 5  10100010 u-law\n"));
    EXPECT_EQ(element(prfeatureind, {0x39, 0x02, 0x81, 0x82}),
              "    octet 3 10000001\n    octet 4 10000010\n    Status:  Prompt\n");
    EXPECT_TRUE(has(element(prfeatureind, {0x39, 0x02, 0x81, 0x84}), "\n    Status:  (Reserved)\n"));
    EXPECT_EQ(element(disptext_ni1, {0x2A, 0x0E, 0x80, 0x80, 0x01, 'x', 0x81, 0x00, 0x8D, 0x03, 'B', 'o', 'b', 0x99, 0x01, 'y'}),
              "    Calling party name: Bob\n    (unknown display tag 99): y\n");
    EXPECT_EQ(element(disptext_ni1, {0x2A, 0x01, 0x81}), "    Unknown display type\n");
    EXPECT_EQ(element(prcause_1tr6, {0x08, 0x00}), "   OK (cause length=0)\n");
    EXPECT_EQ(element(prcause_1tr6, {0x08, 0x02, 0xBB, 0x84}),
              "    coding 00 location 0100\n  cause value 3b : User Busy \n");
    EXPECT_EQ(element(prcause_1tr6, {0x08, 0x01, 0x85}), "Unknown cause type 5!\n");

    char hex[8];
    EXPECT_EQ(ISDN::QuickHex(hex, Bytes{0x0A, 0xFF}.data(), 2), 7);
    EXPECT_STREQ(hex, " 0A FF");
}

TEST(Q931Print, LongFramesAndOverrunningElementsStayInBounds)
{
    // A long SETUP: the hex dump alone is three characters an octet.
    Bytes setup = {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x05};
    for (int i = 0; i < 60; ++i) {
        Bytes display = {0x28, 0x05, 'h', 'e', 'l', 'l', 'o'};
        setup.insert(setup.end(), display.begin(), display.end());
    }
    std::string t = print(setup);
    EXPECT_EQ(t.size(), size_t(ISDN::logbuf_size - 1));

    // A small buffer cuts the text, also within a write, and keeps the NUL.
    for (size_t size : {14u, 15u}) {
        char small[15];
        std::memset(small, 'x', sizeof small);
        EXPECT_EQ(ISDN::dlogframe(setup.data(), int(setup.size()), 1, small, size), size - 1);
        EXPECT_EQ(std::string(small), std::string(" 02 01 00 00 08", size - 1));
    }

    // Each printer on an element whose length runs past the frame end.
    for (unsigned char code : {0x04, 0x08, 0x18, 0x1C, 0x28, 0x6C, 0x70, 0x7E, 0x2A}) {
        for (unsigned cut = 0; cut < 6; ++cut) {
            Bytes f = {0x02, 0x01, 0x00, 0x00, 0x08, 0x01, 0x81, 0x05, code, 0x40, 0x00, 0x18, 0x00, 0x05, 0x10};
            f.resize(9 + cut);
            t = print(f);
            if (cut) {
                EXPECT_TRUE(has(t, "element runs past the frame end\n")) << int(code) << " " << t;
            }
        }
    }
    // Cause, calling number and facility walks that would read beyond the element.
    EXPECT_TRUE(has(print({0x02, 0x01, 0x00, 0x00, 0x08, 0x00, 0x05, 0x6C, 0x00}), "    number digits \n"));
    EXPECT_TRUE(has(print({0x02, 0x01, 0x00, 0x00, 0x08, 0x00, 0x05, 0x08, 0x01, 0x00}), "  Cause\n"));
    EXPECT_TRUE(has(print({0x02, 0x01, 0x00, 0x00, 0x08, 0x00, 0x05, 0x08, 0x05, 0x80, 0x90, 0x01, 0x02, 0x83}),
                    "    diag attribute 1  rej 2  av 3\n"));
    EXPECT_TRUE(has(print({0x02, 0x01, 0x00, 0x00, 0x08, 0x00, 0x05, 0x1C, 0x03, 0x91, 0x00, 0x7F, 0x1C, 0x05, 0x91,
                           0x00, 0x01, 0xAB, 0xCD}),
                    "   octet 5 127\n   contents \n  Facility\n    octet 3 10010001\n   octet 4 00000000\n"
                    "   octet 5 1\n   contents ab \n   octet 4 11001101\n"));
    // Octets that would break a log line are shown as dots.
    EXPECT_TRUE(has(print({0x02, 0x01, 0x00, 0x00, 0x08, 0x00, 0x05, 0x28, 0x03, 'a', 0x00, '\n'}), "   \"a..\"\n"));
}

} // namespace
