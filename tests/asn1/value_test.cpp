// Creation, cloning and comparison of the primitive kinds through their tables.
#include "asn1/asn1.h"

#include <gtest/gtest.h>

#include <memory>

using namespace ASN1;

namespace {
using Ptr = std::unique_ptr<AbstractData>;

using Uint32 = Constrained_INTEGER<FixedConstraint, 0, 4294967295u>;
using Int8 = Constrained_INTEGER<FixedConstraint, -128, 127>;
using Small = Constrained_INTEGER<FixedConstraint, 0, 127>;

// Tables defined as constant expressions here prove that generated code can
// do the same.
constexpr char const* sparseNames[] = {"a", "b", "c", "d", "e", "f", "g=13", "h=123"};
constexpr ENUMERATED::InfoType sparseInfo = {&make<ENUMERATED>, 10, false, 123, sparseNames, 8};
constexpr char const* standbyNames[] = {"not-use=-1", "active", "standby"};
constexpr ENUMERATED::InfoType standbyInfo = {&make<ENUMERATED>, 10, false, 1, standbyNames, 3};
constexpr char const* errorNames[] = {"ok", "fsm=32", "unexpected_command=64", "hardware=128"};
constexpr ENUMERATED::InfoType errorInfo = {&make<ENUMERATED>, 10, true, 128, errorNames, 4};

constexpr IntegerWithNamedNumber::NameEntry entries[] = {{-1, "minus"}, {0, "zero"}, {7, "seven"}};
constexpr IntegerWithNamedNumber::InfoType namedInfo = {
    &IntegerWithNamedNumber::create, 2, Unconstrained, 0, 4294967295u, entries, 3};
} // namespace

TEST(Value, CreateThroughTables)
{
    EXPECT_EQ(AbstractData::create(nullptr), nullptr);

    Ptr i(AbstractData::create(&INTEGER::theInfo));
    auto* integer = dynamic_cast<INTEGER*>(i.get());
    ASSERT_NE(integer, nullptr);
    EXPECT_EQ(integer->getValue(), 0);
    EXPECT_EQ(i->getTag(), 2u);
    EXPECT_EQ(integer->getConstraintType(), Unconstrained);

    // the table's create word makes the type's own class
    Ptr c(AbstractData::create(&Small::theInfo));
    EXPECT_NE(dynamic_cast<Small*>(c.get()), nullptr);
    Ptr s(AbstractData::create(&IA5String::theInfo));
    EXPECT_NE(dynamic_cast<IA5String*>(s.get()), nullptr);

    struct Case {
        void const* info;
        unsigned tag;
    } const cases[] = {{&Null::theInfo, 5},          {&BOOLEAN::theInfo, 1},
                       {&BIT_STRING::theInfo, 3},    {&OCTET_STRING::theInfo, 4},
                       {&OBJECT_IDENTIFIER::theInfo, 6}, {&GeneralizedTime::theInfo, 24},
                       {&OpenData::theInfo, 0},      {&BMPString::theInfo, 30},
                       {&sparseInfo, 10}};
    for (auto const& k : cases) {
        Ptr v(AbstractData::create(k.info));
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->getTag(), k.tag);
        EXPECT_EQ(v->info(), k.info);
        Ptr copy(v->clone());
        EXPECT_EQ(copy->info(), k.info);
        EXPECT_EQ(typeid(*copy), typeid(*v));
        EXPECT_TRUE(*copy == *v);
    }
}

TEST(Value, BooleanAndNullCompare)
{
    BOOLEAN t(true), f(false);
    EXPECT_LT(f.compare(t), 0);
    EXPECT_GT(t.compare(f), 0);
    Ptr c(t.clone());
    EXPECT_TRUE(static_cast<BOOLEAN&>(*c));
    EXPECT_EQ(Null().compare(Null()), 0);
    // values of different kinds never compare equal
    EXPECT_NE(Null().compare(f), 0);
    EXPECT_TRUE(Null() != f);
}

TEST(Value, IntegerSignednessFollowsTheTable)
{
    Uint32 big;
    big = 4000000000u;
    EXPECT_EQ(big.getValue(), 4000000000u);
    EXPECT_EQ(big.INTEGER::getValue(), -294967296);
    Uint32 one(1u);
    EXPECT_GT(big.compare(one), 0); // unsigned under a 0.. lower bound

    Int8 a(static_cast<unsigned>(-5)), b(3u);
    EXPECT_LT(a.compare(b), 0);
    INTEGER c(-5), d(3); // unconstrained: signed
    EXPECT_LT(c.compare(d), 0);

    // INTEGER equality ignores the tables
    INTEGER x(42), y(42, &Int8::theInfo);
    EXPECT_TRUE(x == y);

    Small n(5u);
    EXPECT_EQ(10u + n, 15u);

    Ptr copy(big.clone());
    auto& typed = dynamic_cast<Uint32&>(*copy);
    EXPECT_EQ(typed.getValue(), 4000000000u);
    typed = 1u;
    EXPECT_EQ(big.getValue(), 4000000000u);
}

TEST(Value, EnumeratedNamesFollowTheNumbering)
{
    ENUMERATED e(&sparseInfo);
    struct {
        int value;
        char const* name;
    } const named[] = {{0, "a"}, {5, "f"}, {13, "g"}, {123, "h"}};
    for (auto const& n : named) {
        e.setFromInt(n.value);
        EXPECT_EQ(e.getName(), n.name) << n.value;
    }
    for (int v : {6, 12, 14, 122, 124, -1, 1000}) {
        e.setFromInt(v);
        EXPECT_TRUE(e.getName().empty()) << v;
    }
    EXPECT_TRUE(e.setFromName("g"));
    EXPECT_EQ(e.asInt(), 13);
    EXPECT_FALSE(e.setFromName("g=13"));
    EXPECT_FALSE(e.setFromName("zz"));
    EXPECT_EQ(e.asInt(), 13);

    ENUMERATED s(&standbyInfo);
    s.setFromInt(-1);
    EXPECT_EQ(s.getName(), "not-use");
    s.setFromInt(0);
    EXPECT_EQ(s.getName(), "active");
    s.setFromInt(1);
    EXPECT_EQ(s.getName(), "standby");

    ENUMERATED err(&errorInfo);
    err.setFromInt(64);
    EXPECT_EQ(err.getName(), "unexpected_command");
    err.setFromInt(33);
    EXPECT_TRUE(err.getName().empty());
    EXPECT_EQ(err.getMaximum(), 128);
    EXPECT_TRUE(err.extendable());

    // assignment copies the value and keeps the table
    ENUMERATED other(&standbyInfo);
    other = err;
    EXPECT_EQ(other.asInt(), 33);
    EXPECT_EQ(other.info(), &standbyInfo);
    EXPECT_GT(other.compare(ENUMERATED(&errorInfo)), 0);
}

TEST(Value, IntegerWithNamedNumberNamesAndVisitsAsItself)
{
    IntegerWithNamedNumber v(7, &namedInfo);
    std::string name;
    ASSERT_TRUE(v.getName(name));
    EXPECT_EQ(name, "seven");
    v.setValue(3);
    EXPECT_FALSE(v.getName(name));
    EXPECT_TRUE(v.setFromName("minus"));
    EXPECT_EQ(v.getValue(), -1);
    EXPECT_FALSE(v.setFromName("eight"));
    Ptr c(v.clone());
    EXPECT_NE(dynamic_cast<IntegerWithNamedNumber*>(c.get()), nullptr);
}

TEST(Value, CountBitsAndByteOrder)
{
    EXPECT_EQ(CountBits(0), 32u);
    EXPECT_EQ(CountBits(1), 0u);
    EXPECT_EQ(CountBits(2), 1u);
    EXPECT_EQ(CountBits(3), 2u);
    EXPECT_EQ(CountBits(256), 8u);
    EXPECT_EQ(CountBits(257), 9u);
    EXPECT_EQ(CountBits(4294967295u), 32u);
    EXPECT_EQ(CountBits(2147483649u), 32u);
    EXPECT_EQ(CountBits(2147483648u), 31u);

    char const ab[] = "abc";
    EXPECT_EQ(lexicographic_compare_bytes(ab, ab + 2, ab, ab + 3), -1);
    EXPECT_EQ(lexicographic_compare_bytes(ab, ab + 3, ab, ab + 2), 1);
    EXPECT_EQ(lexicographic_compare_bytes(ab, ab, ab, ab), 0);
    char const hi[] = {char(0x80)}, lo[] = {char(0x01)};
    EXPECT_GT(lexicographic_compare_bytes(hi, hi + 1, lo, lo + 1), 0);
}
