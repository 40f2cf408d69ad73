// Numbers in their range's signedness, names of sparse and negative
// numberings, and comparison across kinds.
#include "fixtures.h"

#include <gtest/gtest.h>

using namespace ASN1;
using namespace fixtures;

namespace {
using Uint32 = Constrained_INTEGER<FixedConstraint, 0, 4294967295u>;
using Int8 = Constrained_INTEGER<FixedConstraint, -128, 127>;

constexpr char const* standbyNames[] = {"not-use=-1", "active", "standby"};
constexpr ENUMERATED::InfoType standbyInfo = {&make<ENUMERATED>, 10, false, 1, standbyNames, 3};
constexpr char const* errorNames[] = {"ok", "fsm=32", "unexpected_command=64", "hardware=128"};
constexpr ENUMERATED::InfoType errorInfo = {&make<ENUMERATED>, 10, true, 128, errorNames, 4};

} // namespace

TEST(Value, IntegerSignednessFollowsTheTable)
{
    EXPECT_EQ(AbstractData::create(nullptr), nullptr);
    Uint32 big;
    big = 4000000000u;
    EXPECT_EQ(big.getValue(), 4000000000u);
    EXPECT_EQ(big.INTEGER::getValue(), -294967296);
    EXPECT_GT(big.compare(Uint32(1u)), 0); // unsigned under a 0.. lower bound
    EXPECT_LT(Int8(-5).compare(Int8(3)), 0);
    // The typed view of a range below zero is signed.
    static_assert(std::is_same_v<decltype(Int8().getValue()), int>);
    EXPECT_EQ(Int8(-128).getValue(), -128);
    EXPECT_EQ(-1 + Int8(-5), -6);
    EXPECT_LT(INTEGER(-5).compare(INTEGER(3)), 0); // unconstrained: signed

    // INTEGER equality ignores the tables; values of different kinds never
    // compare equal
    EXPECT_TRUE(INTEGER(42) == INTEGER(42, &Int8::theInfo));
    EXPECT_LT(BOOLEAN(false).compare(BOOLEAN(true)), 0);
    EXPECT_TRUE(Null() != BOOLEAN(false));
}

// The sparse numbering's gaps are printed as numbers (Printer.BlocksAndNumbers),
// named numbers read back by ValueParser.OtherKindsRoundTrip.
TEST(Value, NamesFollowTheNumbering)
{
    ENUMERATED e(&sparseInfo);
    EXPECT_TRUE(e.setFromName("g"));
    EXPECT_EQ(e.asInt(), 13);
    EXPECT_FALSE(e.setFromName("g=13"));
    EXPECT_FALSE(e.setFromName("zz"));
    EXPECT_EQ(e.asInt(), 13);

    ENUMERATED s(&standbyInfo);
    for (auto [value, name] : {std::pair<int, char const*>{-1, "not-use"}, {0, "active"}, {1, "standby"}}) {
        s.setFromInt(value);
        EXPECT_EQ(s.getName(), name) << value;
    }

    ENUMERATED err(&errorInfo);
    err.setFromInt(64);
    EXPECT_EQ(err.getName(), "unexpected_command");
    err.setFromInt(33);
    EXPECT_TRUE(err.getName().empty());

    // assignment copies the value and keeps the table
    ENUMERATED other(&standbyInfo);
    other = err;
    EXPECT_EQ(other.asInt(), 33);
    EXPECT_EQ(other.info(), &standbyInfo);

    // Octets compare unsigned, then the shorter first.
    char const ab[] = "ab", abc[] = "abc", high[] = "\x80", low[] = "\x01";
    EXPECT_EQ(lexicographic_compare_bytes(ab, ab + 2, abc, abc + 3), -1);
    EXPECT_EQ(lexicographic_compare_bytes(abc, abc + 3, ab, ab + 2), 1);
    EXPECT_EQ(lexicographic_compare_bytes(ab, ab, abc, abc), 0);
    EXPECT_GT(lexicographic_compare_bytes(high, high + 1, low, low + 1), 0);
}
