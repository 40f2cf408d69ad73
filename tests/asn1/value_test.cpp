// Creation, cloning, comparison and visitor dispatch of the kinds through
// their tables.
#include "fixtures.h"

#include <gtest/gtest.h>

#include <memory>

using namespace ASN1;
using namespace fixtures;

namespace {
using Ptr = std::unique_ptr<AbstractData>;

using Uint32 = Constrained_INTEGER<FixedConstraint, 0, 4294967295u>;
using Int8 = Constrained_INTEGER<FixedConstraint, -128, 127>;
using Small = Constrained_INTEGER<FixedConstraint, 0, 127>;

constexpr char const* standbyNames[] = {"not-use=-1", "active", "standby"};
constexpr ENUMERATED::InfoType standbyInfo = {&make<ENUMERATED>, 10, false, 1, standbyNames, 3};
constexpr char const* errorNames[] = {"ok", "fsm=32", "unexpected_command=64", "hardware=128"};
constexpr ENUMERATED::InfoType errorInfo = {&make<ENUMERATED>, 10, true, 128, errorNames, 4};

constexpr TypeConstrainedOpenData::InfoType typedOpen = {&TypeConstrainedOpenData::create, 0, &INTEGER::theInfo};

} // namespace

TEST(Value, EveryKindCreatedClonedComparedAndDispatched)
{
    EXPECT_EQ(AbstractData::create(nullptr), nullptr);
    struct Case {
        void const* info;
        unsigned tag;
        char const *entry, *constEntry;
    } const cases[] = {
        {&Null::theInfo, 5, "null", ""},
        {&BOOLEAN::theInfo, 1, "boolean", ""},
        {&INTEGER::theInfo, 2, "integer", "integer"},
        {&Small::theInfo, 2, "integer", "integer"},
        {&namedInfo, 2, "integer", "integer"},
        {&sparseInfo, 10, "enumerated", ""},
        {&OBJECT_IDENTIFIER::theInfo, 6, "oid", ""},
        {&OCTET_STRING::theInfo, 4, "octets", ""},
        {&BIT_STRING::theInfo, 3, "bits", ""},
        {&IA5String::theInfo, 22, "string", ""},
        {&BMPString::theInfo, 30, "bmp", ""},
        {&GeneralizedTime::theInfo, 24, "time", ""},
        {&pickInfo, 0, "choice", ""},
        {&intsInfo, 16, "list", ""},
        {&OpenData::theInfo, 0, "open", "open"},
        {&typedOpen, 0, "typed-open", "open"},
    };
    for (auto const& k : cases) {
        SCOPED_TRACE(k.entry);
        Ptr v(AbstractData::create(k.info));
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->getTag(), k.tag);
        EXPECT_EQ(v->info(), k.info);
        Ptr copy(v->clone());
        EXPECT_EQ(copy->info(), k.info);
        EXPECT_EQ(typeid(*copy), typeid(*v)); // the table's create word makes the type's own class
        EXPECT_TRUE(*copy == *v);
        Recorder r;
        EXPECT_TRUE(copy->accept(r));
        EXPECT_EQ(r.calls, Calls{k.entry});
        ConstRecorder cr;
        EXPECT_TRUE(static_cast<AbstractData const&>(*v).accept(cr));
        EXPECT_EQ(cr.calls, *k.constEntry ? Calls{k.constEntry} : Calls{});
    }
    Ptr small(AbstractData::create(&Small::theInfo));
    EXPECT_NE(dynamic_cast<Small*>(small.get()), nullptr);
    Ptr text(AbstractData::create(&IA5String::theInfo));
    EXPECT_NE(dynamic_cast<IA5String*>(text.get()), nullptr);

    // values of different kinds never compare equal
    EXPECT_LT(BOOLEAN(false).compare(BOOLEAN(true)), 0);
    EXPECT_NE(Null().compare(BOOLEAN(false)), 0);
    EXPECT_TRUE(Null() != BOOLEAN(false));
}

TEST(Value, IntegerSignednessFollowsTheTable)
{
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

    // INTEGER equality ignores the tables
    EXPECT_TRUE(INTEGER(42) == INTEGER(42, &Int8::theInfo));

    Ptr copy(big.clone());
    auto& typed = dynamic_cast<Uint32&>(*copy);
    EXPECT_EQ(typed.getValue(), 4000000000u);
    typed = 1u;
    EXPECT_EQ(big.getValue(), 4000000000u);
}

TEST(Value, NamesFollowTheNumbering)
{
    ENUMERATED e(&sparseInfo);
    for (auto [value, name] : {std::pair<int, char const*>{0, "a"}, {5, "f"}, {13, "g"}, {123, "h"}, {6, ""},
                               {12, ""}, {14, ""}, {122, ""}, {124, ""}, {-1, ""}, {1000, ""}}) {
        e.setFromInt(value);
        EXPECT_EQ(e.getName(), name) << value;
    }
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

    IntegerWithNamedNumber n(7, &namedInfo);
    std::string name;
    ASSERT_TRUE(n.getName(name));
    EXPECT_EQ(name, "seven");
    n.setValue(3);
    EXPECT_FALSE(n.getName(name));
    EXPECT_TRUE(n.setFromName("minus"));
    EXPECT_EQ(n.getValue(), -1);
    EXPECT_FALSE(n.setFromName("eight"));
}

TEST(Value, OctetsCompareUnsignedThenShorterFirst)
{
    char const ab[] = "ab", abc[] = "abc", high[] = "\x80", low[] = "\x01";
    EXPECT_EQ(lexicographic_compare_bytes(ab, ab + 2, abc, abc + 3), -1);
    EXPECT_EQ(lexicographic_compare_bytes(abc, abc + 3, ab, ab + 2), 1);
    EXPECT_EQ(lexicographic_compare_bytes(ab, ab, abc, abc), 0);
    EXPECT_GT(lexicographic_compare_bytes(high, high + 1, low, low + 1), 0);
}
