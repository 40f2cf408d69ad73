// Value-notation parser: the printer's forms read back, and text that does
// not fit the type refused.
#include <sstream>

#include "asn1/avn_decoder.h"
#include "tests/asn1/helpers.h"

namespace {

using namespace ASN1;
using asn1_test::built;

std::unique_ptr<AbstractData> parsed(std::string const& type, std::string const& text)
{
    auto value = BerTest::make(type);
    return value->setFromValueNotation(text) ? std::move(value) : nullptr;
}

bool parses(std::string const& type, std::string const& text) { return parsed(type, text) != nullptr; }

bool parsesTo(std::string const& type, std::string const& text, std::string const& described)
{
    auto value = parsed(type, text);
    return value && *value == *built(type, described);
}

// print, parse, compare
void roundTrip(AbstractData const& value)
{
    std::unique_ptr<AbstractData> back(AbstractData::create(value.info()));
    std::string const text = value.asValueNotation();
    ASSERT_TRUE(back->setFromValueNotation(text)) << text;
    EXPECT_TRUE(*back == value) << text << "\nread back as\n" << back->asValueNotation();
}

TEST(ValueParser, DigitStrings)
{
    auto octets = parsed("Octets", "'0A FF'H");
    ASSERT_TRUE(octets);
    EXPECT_EQ(PerTest::toHex(static_cast<OCTET_STRING&>(*octets)), "0aff");
    auto bits = parsed("Bits", "'ABC'H");
    ASSERT_TRUE(bits);
    EXPECT_EQ(static_cast<BIT_STRING&>(*bits).size(), 12u);
    EXPECT_EQ(PerTest::toHex(static_cast<BIT_STRING&>(*bits).getData()), "abc0");
    EXPECT_TRUE(parsesTo("Octets", "'ABC'H", "xabc0"));
    EXPECT_TRUE(parsesTo("Octets", "'1 0\n1'B", "xa0"));
    EXPECT_TRUE(parsesTo("Octets", "''H", "x"));
    EXPECT_FALSE(parses("Octets", "'0G'H"));
    EXPECT_FALSE(parses("Bits", "'102'B"));
    EXPECT_FALSE(parses("Octets", "'0A'X"));
    EXPECT_FALSE(parses("Octets", "'0A"));
    // read into a value that held octets: the text replaces them
    auto value = built("Octets", "x0102");
    ASSERT_TRUE(value->setFromValueNotation("'03'H"));
    EXPECT_TRUE(*value == *built("Octets", "x03"));
}

TEST(ValueParser, NumbersNamesAndWords)
{
    EXPECT_TRUE(parsesTo("Plain", " -2147483648", "-2147483648"));
    EXPECT_FALSE(parses("Plain", "2147483648"));
    EXPECT_TRUE(parsesTo("Word", "4294967295", "4294967295"));
    EXPECT_FALSE(parses("Word", "-1"));
    EXPECT_FALSE(parses("Word", "4294967296"));
    // A semi-constrained number, written signed on the link, stops at the
    // int range: past it, it would come back negative and be refused.
    EXPECT_TRUE(parsesTo("LowOnly", "2147483647", "2147483647"));
    EXPECT_FALSE(parses("LowOnly", "4294967295"));
    EXPECT_FALSE(parses("LowOnly", "2147483648"));
    EXPECT_FALSE(parses("Plain", "99999999999999999999999"));
    // up to 18 digits are read, leading zeros too; a sign or letters alone are no number
    EXPECT_TRUE(parsesTo("Word", "000000004294967295", "4294967295"));
    EXPECT_FALSE(parses("Word", "0000000004294967295"));
    for (char const* text : {"-", "x", "- 1", ""})
        EXPECT_FALSE(parses("Plain", text)) << text;
    EXPECT_FALSE(parses("Plain", "9999999999999999999")); // past 64 bits: refused, not thrown
    EXPECT_FALSE(parses("Plain", "-999999999999999999"));
    EXPECT_FALSE(parses("Plain", "-"));
    EXPECT_FALSE(parses("Flag", "true"));
    EXPECT_FALSE(parses("Nothing", "NUL"));
    EXPECT_TRUE(parsesTo("Colour", "7", "7")); // printed as a number, having no name
    EXPECT_FALSE(parses("Colour", "purple"));
    // names end at the comma and brace the printer puts after them
    EXPECT_TRUE(parsesTo("Pair", "{ flag FALSE, colour green}", "{F,_,_,1}"));
    EXPECT_TRUE(parsesTo("Picks", "{ small : 3,flag : TRUE}", "[0:3,1:T]"));
    EXPECT_FALSE(parses("Picks", "{ small 3 }"));
    EXPECT_FALSE(parses("Picks", "{ tiny : 3 }")); // no such alternative
    EXPECT_FALSE(parses("Picks", "small : 3"));    // a list without its braces
}

TEST(ValueParser, IdentifierForms)
{
    auto oid = parsed("Oid", "{ iso(1) member-body (2) 840 113549 }");
    ASSERT_TRUE(oid);
    EXPECT_EQ(static_cast<OBJECT_IDENTIFIER&>(*oid).getArcs(), (std::vector<unsigned>{1, 2, 840, 113549}));
    EXPECT_TRUE(parsesTo("Oid", "{ iso(1) 2 }", "o1.2"));
    EXPECT_TRUE(parsesTo("Oid", "{ 1 iso(2) }", "o1.2"));
    EXPECT_TRUE(parsesTo("Oid", "{ iso (1) 2 }", "o1.2"));
    EXPECT_TRUE(parsesTo("Oid", "{ 2 4294967295 }", "o2.4294967295"));
    EXPECT_FALSE(parses("Oid", "{ 2 4294967296 }"));
    EXPECT_FALSE(parses("Oid", "{ iso 2 }"));
    EXPECT_FALSE(parses("Oid", "{ 1 2x }"));
    EXPECT_FALSE(parses("Oid", "{ 1 2"));
    EXPECT_FALSE(parses("Oid", "1 2 }"));
    // read into a value that holds arcs, the text replaces them, as a decode
    // into a reused value does under every rule
    auto value = built("Oid", "o1.2.3");
    ASSERT_TRUE(value->setFromValueNotation("{ 0 9 }"));
    EXPECT_TRUE(*value == *built("Oid", "o0.9"));
}

// Quotes, backslashes and control characters are escaped by the printer and
// undone here; BMP text outside the locale comes as quadruples.
TEST(ValueParser, EscapedAndWideStrings)
{
    roundTrip(IA5String(std::string("a\"b\\c\nd\te\rf\x01g\x7fh", 15)));
    roundTrip(IA5String(std::string("\0", 1)));
    roundTrip(BMPString(L"a\"\\"));
    roundTrip(BMPString(std::wstring(L"\u0430\uffff\u0000x", 4)));
    roundTrip(BMPString(std::wstring(L"a\0b", 3))); // a NUL inside quoted text
    EXPECT_FALSE(parses("Wide16", "\"a\\xff\"")); // no character of the locale
    EXPECT_TRUE(parsesTo("Wide16", "{{ 0, 0, 4, 48}, { 0, 0, 0, 65}}", "w04300041"));
    EXPECT_FALSE(parses("Wide16", "{{ 0, 1, 4, 48}}"));
    EXPECT_FALSE(parses("Wide16", "{{ 0, 0, 256, 0}}"));
    EXPECT_FALSE(parses("Wide16", "{{ 0, 0, 0, -1}}"));
    EXPECT_FALSE(parses("Wide16", "{{ 0, 0, 4, 48}"));
    EXPECT_FALSE(parses("Text", "\"a\\q\""));
    EXPECT_FALSE(parses("Text", "\"a\\x4\""));
    EXPECT_FALSE(parses("Text", "\"a\\xg1\""));
    EXPECT_FALSE(parses("Text", "\"open"));
}

TEST(ValueParser, SequencesChoicesAndLists)
{
    EXPECT_TRUE(parsesTo("Empty", "{ }", "{_,_}"));
    EXPECT_TRUE(parsesTo("Names", "{ }", "[]"));
    EXPECT_TRUE(parsesTo("Empty", "{ b TRUE }", "{_,T}"));
    EXPECT_FALSE(parses("Pair", "{ flag TRUE, slot 3, }"));
    EXPECT_TRUE(parsesTo("Pair", "{ flag TRUE, slot 3, colour red, }", "{T,3,_,0}"));
    EXPECT_TRUE(parsesTo("Alt", "flag : TRUE", "2:T"));
    EXPECT_TRUE(parsesTo("Nested", "inner : text : \"\"", "0:1:s"));
    EXPECT_TRUE(parsesTo("PickExt", "grown : { id 1 }", "3:{1,_,_,_}"));
    EXPECT_FALSE(parses("Grown", "{ id 1, count x }"));
    EXPECT_FALSE(parses("Alt", "flag:TRUE"));
    EXPECT_FALSE(parses("Alt", "none : NULL"));
    // the text says which fields are present; a mandatory one must be there
    EXPECT_FALSE(parses("Pair", "{ }"));
    EXPECT_FALSE(parses("Pair", "{ flag TRUE }"));
    EXPECT_FALSE(parses("Pair", "{ colour red, flag TRUE }"));
    EXPECT_FALSE(parses("Pair", "{ flag TRUE, colour red, extra 1 }"));
    EXPECT_FALSE(parses("Pair", "{ flag TRUE colour red }"));
    auto pair = built("Pair", "{T,3,s61,0}");
    ASSERT_TRUE(pair->setFromValueNotation("{ flag FALSE, colour red }"));
    EXPECT_TRUE(*pair == *built("Pair", "{F,_,_,0}"));
    EXPECT_TRUE(parsesTo("Bytes", "{ 1, 2,3 }", "[1,2,3]"));
    EXPECT_FALSE(parses("Bytes", "{ 1; 2 }"));
    EXPECT_FALSE(parses("Bytes", "{ 1, }"));
    EXPECT_FALSE(parses("Bytes", "{ 1"));
    EXPECT_TRUE(parsesTo("Holder", "{ body '0401AA'H, tail TRUE }", "{x0401aa,T}"));
    EXPECT_FALSE(parses("Holder", "{ body 5, tail TRUE }"));
    EXPECT_FALSE(parses("Holder", "{ body '0G'H, tail TRUE }"));
    EXPECT_FALSE(parses("Holder", "{ body '0A'X, tail TRUE }"));
}

TEST(ValueParser, StreamOperator)
{
    std::istringstream in("  {\n  flag TRUE,\n  colour red\n} rest");
    auto pair = BerTest::make("Pair");
    ASSERT_TRUE(in >> *pair);
    EXPECT_TRUE(*pair == *built("Pair", "{T,_,_,0}"));
    std::string rest;
    EXPECT_TRUE(in >> rest);
    EXPECT_EQ(rest, "rest");

    std::istringstream bad("{ flag maybe }");
    EXPECT_FALSE(bad >> *pair);
    EXPECT_TRUE(bad.fail());
    std::istringstream failed("{ }");
    failed.setstate(std::ios_base::failbit);
    EXPECT_FALSE(failed >> *pair);
    EXPECT_EQ(failed.tellg(), -1);
    failed.clear();
    EXPECT_EQ(failed.tellg(), 0); // nothing was taken

    std::istringstream throwing("{ flag maybe }");
    throwing.exceptions(std::ios_base::failbit);
    EXPECT_THROW(throwing >> *pair, std::ios_base::failure);
}

// The kinds the vectors' values do not hold, through print and parse (the
// rest go through ValueNotationRoundTrip.EveryVectorValue).
TEST(ValueParser, OtherKindsRoundTrip)
{
    auto envelope = BerTest::make("Envelope");
    auto& seq = static_cast<SEQUENCE&>(*envelope);
    static_cast<INTEGER&>(*seq.getField(0)) = 1;
    static_cast<INTEGER&>(static_cast<OpenData&>(*seq.getField(1)).get_data()) = 5;
    EXPECT_EQ(envelope->asValueNotation(), "{\n  kind 1,\n  body 5\n}");
    roundTrip(*envelope);
    IntegerWithNamedNumber::NameEntry const entries[] = {{-1, "low"}, {4, "four"}};
    IntegerWithNamedNumber::InfoType const named = {&IntegerWithNamedNumber::create, 2, Unconstrained, 0, 4294967295u,
                                                     entries, 2};
    for (int v : {4, -1, 5, -7})
        roundTrip(IntegerWithNamedNumber(v, &named));
    roundTrip(*built("Colour", "9"));
    roundTrip(*built("Oid", "o0.0"));
    roundTrip(OBJECT_IDENTIFIER());
}

} // namespace
