// The frame codec: what is refused, what a frame parses into, the octets
// each builder writes, and sequence arithmetic at the wrap.
#include "signalling/lapd_frame.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ISDN;

namespace {

typedef std::vector<unsigned char> Bytes;

FrameError parse(Bytes const& b, Frame* out = nullptr)
{
    Frame f;
    FrameError e = parse_frame(b.empty() ? nullptr : b.data(), unsigned(b.size()), f);
    if (out)
        *out = f;
    return e;
}

Bytes bytes(Packet const& p)
{
    return p.length() ? Bytes(&p[0], &p[0] + p.length()) : Bytes();
}

TEST(LapdFrame, RefusesMalformedFramesAndParsesFields)
{
    struct Row
    {
        Bytes frame;
        FrameError error;
    } const rows[] = {
        {{}, FrameError::too_short}, {{0x02}, FrameError::too_short}, {{0x02, 0x01}, FrameError::too_short},
        {{0x02, 0x01, 0x00}, FrameError::too_short}, {{0x02, 0x01, 0x01}, FrameError::too_short}, // I, RR without N(R)
        {{0x03, 0x01, 0x7F}, FrameError::ea0}, {{0x02, 0x00, 0x7F}, FrameError::ea1},
        {{0x02, 0x01, 0x0D, 0x00}, FrameError::unknown_control}, // S kind 3
        {{0x02, 0x01, 0xAF}, FrameError::unknown_control}, {{0x02, 0x01, 0x8F}, FrameError::unknown_control}, // XID
        {{0x02, 0x01, 0x7F}, FrameError::none}, {{0x02, 0x01, 0x00, 0x00}, FrameError::none}, // I, empty field
    };
    for (Row const& r : rows)
        EXPECT_EQ(parse(r.frame), r.error) << ::testing::PrintToString(r.frame);

    // Taken as sent: an S frame with bits 5-8 set, a field over N201.
    Frame f;
    EXPECT_TRUE(parse({0x02, 0x01, 0xF9, 0x00}, &f) == FrameError::none && f.kind == FrameKind::REJ);
    Bytes i = {0x02, 0x01, 0x00, 0x00};
    i.resize(4 + N201 + 1);
    EXPECT_EQ(parse(i, &f), FrameError::none);
    EXPECT_EQ(f.info_len, N201 + 1);

    // Every field of a frame at its high end.
    i = {0xFE, 0x85, 0xFE, 0x3B, 'x'};
    ASSERT_EQ(parse(i, &f), FrameError::none);
    EXPECT_TRUE(f.kind == FrameKind::I && f.cr && f.pf && f.info_len == 1 && f.info[0] == 'x');
    EXPECT_EQ((std::vector<unsigned>{unsigned(f.sapi), unsigned(f.tei), unsigned(f.ns), unsigned(f.nr)}),
              (std::vector<unsigned>{63, 66, 127, 29}));
}

TEST(LapdFrame, BuildersWriteQ921Octets)
{
    Address user_cmd{0, 65, false}, user_resp{0, 65, true};
    EXPECT_EQ(bytes(frame_SABME(user_cmd, true)), (Bytes{0x00, 0x83, 0x7F}));
    EXPECT_EQ(bytes(frame_DISC(user_cmd, true)), (Bytes{0x00, 0x83, 0x53}));
    EXPECT_EQ(bytes(frame_UA(user_resp, false)), (Bytes{0x02, 0x83, 0x63}));
    EXPECT_EQ(bytes(frame_DM(user_resp, true)), (Bytes{0x02, 0x83, 0x1F}));
    EXPECT_EQ(bytes(frame_RR(user_resp, Seq(127), true)), (Bytes{0x02, 0x83, 0x01, 0xFF}));
    EXPECT_EQ(bytes(frame_RNR(user_cmd, Seq(1), false)), (Bytes{0x00, 0x83, 0x05, 0x02}));
    EXPECT_EQ(bytes(frame_REJ(user_resp, Seq(5), false)), (Bytes{0x02, 0x83, 0x09, 0x0A}));
    unsigned char tei[] = {0x0F, 0x34, 0x12, 0x01, 0xFF};
    EXPECT_EQ(bytes(frame_UI(Address{63, 127, false}, tei, 5)), (Bytes{0xFC, 0xFF, 0x03, 0x0F, 0x34, 0x12, 0x01, 0xFF}));

    // The queued message keeps no header; with no head room it is copied once.
    for (unsigned room : {0u, 4u}) {
        Packet m;
        m.reserve_head(room);
        m.put8(0x08);
        m.put8(0x01);
        Packet f = frame_I(m, user_cmd, Seq(3), Seq(127));
        EXPECT_EQ(bytes(f), (Bytes{0x00, 0x83, 0x06, 0xFE, 0x08, 0x01}));
        EXPECT_EQ(bytes(m), (Bytes{0x08, 0x01}));
    }
}

TEST(LapdSeq, ArithmeticAtTheWrap)
{
    EXPECT_EQ(seq_distance(Seq(125), Seq(2)), 5u);
    EXPECT_EQ(seq_outstanding(Seq(127), Seq(0)), 1u);
    EXPECT_TRUE(seq_window_full(Seq(124), Seq(3), 7));
    EXPECT_FALSE(seq_window_full(Seq(124), Seq(2), 7));
    std::vector<bool> in;
    for (unsigned nr : {126, 0, 1, 2, 125})
        in.push_back(seq_in_window(Seq(126), Seq(nr), Seq(1)));
    EXPECT_EQ(in, (std::vector<bool>{true, true, true, false, false}));
    Seq s(127);
    EXPECT_EQ(unsigned(++s), 0u);
}

} // namespace
