// The value-notation text of every kind, as the log lines show it.
#include "asn1/avn_decoder.h"
#include "asn1/avn_encoder.h"
#include "fixtures.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <stdexcept>

using namespace ASN1;
using namespace fixtures;

namespace {

using Uint32 = Constrained_INTEGER<FixedConstraint, 0, 4294967295u>;

// A SEQUENCE holding one field of every kind, the last one optional.
void const* const allFields[] = {
    &Null::theInfo,       &BOOLEAN::theInfo,      &INTEGER::theInfo,  &Uint32::theInfo,
    &namedInfo,           &sparseInfo,            &OBJECT_IDENTIFIER::theInfo,
    &BIT_STRING::theInfo, &OCTET_STRING::theInfo, &IA5String::theInfo, &BMPString::theInfo,
    &GeneralizedTime::theInfo, &pickInfo,         &intsInfo,          &OpenData::theInfo,
    &BOOLEAN::theInfo};
int const allIds[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0};
char const* const allNames[] = {"null", "flag",  "num",  "big",  "named", "colour", "oid",  "bits",
                                "octets", "text", "wide", "time", "pick", "list",   "open", "absent"};
const SEQUENCE::InfoType allInfo = {&SEQUENCE::create, 16, false, allFields, allIds, 16, 0, 1, nullptr, nullptr,
                                    allNames};

template <class T>
T& field(SEQUENCE& s, unsigned i)
{
    return dynamic_cast<T&>(*s.getField(i));
}

std::string text(AbstractData const& v)
{
    std::ostringstream o;
    o << v;
    EXPECT_TRUE(o.good());
    return o.str();
}

} // namespace

TEST(Printer, EveryKindNested)
{
    SEQUENCE s(&allInfo);
    field<BOOLEAN>(s, 1) = true;
    field<INTEGER>(s, 2) = -7;
    field<Uint32>(s, 3) = 4000000000u;
    field<INTEGER>(s, 4) = 7;
    field<ENUMERATED>(s, 5).setFromInt(13);
    for (unsigned arc : {1u, 2u, 840u})
        field<OBJECT_IDENTIFIER>(s, 6).append(arc);
    field<BIT_STRING>(s, 7).resize(3);
    field<BIT_STRING>(s, 7).getData()[0] = char(0xA0);
    field<OCTET_STRING>(s, 8) = std::vector<char>{0x0A, char(0xFF)};
    field<AbstractString>(s, 9).assign("a\"b\n");
    field<BMPString>(s, 10) = std::wstring(L"hi");
    field<GeneralizedTime>(s, 11).set("20240131120000Z");
    field<CHOICE>(s, 12).select(4);
    field<SEQUENCE_OF_Base>(s, 13) = ints({1, 2});
    field<OpenData>(s, 14).grab(new std::vector<char>{1});

    char const* expected = "{\n"
                           "  null NULL,\n"
                           "  flag TRUE,\n"
                           "  num -7,\n"
                           "  big 4000000000,\n"
                           "  named seven,\n"
                           "  colour g,\n"
                           "  oid { 1 2 840 },\n"
                           "  bits '101'B,\n"
                           "  octets '0a ff'H,\n"
                           "  text \"a\\\"b\\n\",\n"
                           "  wide \"hi\",\n"
                           "  time \"20240131120000Z\",\n"
                           "  pick e : {\n"
                           "    y FALSE\n"
                           "  },\n"
                           "  list {\n"
                           "    1,\n"
                           "    2\n"
                           "  },\n"
                           "  open '01'H\n"
                           "}";

    // The stream's own formatting does not leak into the text, and is
    // left as it was.
    std::ostringstream o;
    o << std::hex << std::showbase << std::showpos << std::setfill('*');
    auto flags = o.flags();
    o << std::setw(30) << s;
    EXPECT_EQ(o.str(), expected);
    EXPECT_EQ(o.flags(), flags);
    EXPECT_EQ(o.fill(), '*');
    EXPECT_EQ(o.width(), 0);
    EXPECT_EQ(s.asValueNotation(), expected);

    std::ostringstream upper;
    upper << std::uppercase << field<OCTET_STRING>(s, 8);
    EXPECT_EQ(upper.str(), "'0A FF'H");
}

// Empty blocks, and extension additions printed as fields of their own.
TEST(Printer, BlocksAndNumbers)
{
    EXPECT_EQ(text(SEQUENCE_OF_Base(&intsInfo)), "{\n}");
    SEQUENCE ext(&extInfo);
    EXPECT_EQ(text(ext), "{\n  m 0\n}");
    integer(ext.includeOptionalField(OPT_X1, X1)) = 5;
    ext.includeOptionalField(OPT_X4, X4);
    EXPECT_EQ(text(ext), "{\n  m 0,\n  x1 5,\n  x4 NULL\n}");
    static int const optIds[] = {0};
    static const SEQUENCE::InfoType allOptional = {&SEQUENCE::create, 16, false, innerInfo.fieldInfos, optIds, 1, 0, 1,
                                                   nullptr, nullptr, innerInfo.fieldNames};
    EXPECT_EQ(text(SEQUENCE(&allOptional)), "{\n}");

    EXPECT_EQ(text(Uint32(0xFFFFFFFFu)), "4294967295");
    EXPECT_EQ(text(Constrained_INTEGER<FixedConstraint, -128, 127>(static_cast<unsigned>(-128))), "-128");
    ENUMERATED e(&sparseInfo);
    for (auto [v, t] : {std::pair<int, char const*>{0, "a"}, {5, "f"}, {6, "6"}, {12, "12"}, {14, "14"}, {122, "122"},
                        {123, "h"}, {124, "124"}, {-3, "-3"}, {7, "7"}}) {
        e.setFromInt(v);
        EXPECT_EQ(text(e), t);
    }
    EXPECT_EQ(text(IntegerWithNamedNumber(3, &namedInfo)), "3");
    EXPECT_EQ(text(OBJECT_IDENTIFIER()), "{ }");
    EXPECT_EQ(text(OCTET_STRING()), "''H");
    EXPECT_EQ(text(BIT_STRING()), "''B");
}

TEST(Printer, PlaceholdersNeverFailTheStream)
{
    CHOICE none(&pickInfo);
    std::ostringstream o;
    o << none << " after";
    EXPECT_TRUE(o.good());
    EXPECT_EQ(o.str(), std::string(NoSelectionText) + " after");

    CHOICE unknown(&pickInfo);
    unknown.select(9);
    EXPECT_EQ(text(unknown), UnknownSelectionText);
    EXPECT_EQ(unknown.asValueNotation(), UnknownSelectionText);

    // an index stored unchecked is never looked up in the names
    CHOICE stored(&pickInfo);
    stored.setSelection(40, new Null);
    EXPECT_TRUE(stored.isUnknownSelection());
    EXPECT_EQ(text(stored), UnknownSelectionText);
    EXPECT_FALSE(stored.isValid());
    stored.setSelection(1, nullptr);
    EXPECT_EQ(text(stored), NoSelectionText);

    OpenData empty;
    EXPECT_EQ(text(empty), EmptyOpenText);
    OpenData holding(new INTEGER(5), &OpenData::theInfo);
    EXPECT_EQ(text(holding), "5");

    // inside a structure the rest is still printed
    SEQUENCE s(&allInfo);
    std::string all = text(s);
    EXPECT_NE(all.find("  pick <unselected>,\n"), std::string::npos);
    EXPECT_NE(all.find("  open <empty>\n}"), std::string::npos);
    EXPECT_EQ(s.print_on(o), std::ios_base::goodbit);

    // a stream failed before is left alone
    std::ostringstream failed;
    failed.setstate(std::ios_base::failbit);
    failed << INTEGER(5);
    EXPECT_EQ(failed.str(), "");
    EXPECT_TRUE(failed.fail());
}

// A value whose walk throws: printing an allocation failure, reading anything.
struct Throwing : Null {
    bool do_accept(ConstVisitor&) const override { throw std::bad_alloc(); }
    bool do_accept(Visitor&) override { throw std::runtime_error("broken"); }
};

// An exception inside the stream operators becomes the stream's state, and
// goes on only when the stream's exception mask asks for that state.
TEST(Printer, ExceptionsBecomeTheStreamState)
{
    Throwing value;
    std::ostringstream out;
    EXPECT_NO_THROW(out << value);
    EXPECT_TRUE(out.bad());
    std::ostringstream masked;
    masked.exceptions(std::ios_base::badbit);
    EXPECT_THROW(masked << value, std::bad_alloc);
    EXPECT_TRUE(masked.bad());
    std::ostringstream otherMask;
    otherMask.exceptions(std::ios_base::failbit);
    EXPECT_NO_THROW(otherMask << value);
    EXPECT_TRUE(otherMask.bad());

    std::istringstream in("NULL");
    EXPECT_NO_THROW(in >> value);
    EXPECT_TRUE(in.fail() && !in.bad());
    std::istringstream inMasked("NULL");
    inMasked.exceptions(std::ios_base::failbit);
    EXPECT_THROW(inMasked >> value, std::runtime_error);
    EXPECT_TRUE(inMasked.fail());
}

// Escaped so that a printed value stays on one line; the parser tests read
// the escapes back.
TEST(Printer, StringsStayOnOneLine)
{
    std::string raw = std::string("q\"b\\s\nn\r\t\x01\x7f", 11) + "\xc3\xa9";
    EXPECT_EQ(text(IA5String(raw)), "\"q\\\"b\\\\s\\nn\\r\\t\\x01\\x7f\\xc3\\xa9\"");
    // the raw text form for callers that want the characters themselves
    std::ostringstream o;
    o << static_cast<AbstractString const&>(IA5String("a\"b"));
    EXPECT_EQ(o.str(), "a\"b");

    EXPECT_EQ(text(BMPString(L"a\"b")), "\"a\\\"b\"");
    // characters the locale cannot convert: row and cell quadruples
    std::wstring w = L"A";
    w += wchar_t(0x1234);
    EXPECT_EQ(text(BMPString(w)), "{{ 0, 0, 0, 65}, { 0, 0, 18, 52}}");
    // a long string converts whole, never past its buffer
    std::wstring longText(5000, L'x');
    EXPECT_EQ(text(BMPString(longText)), "\"" + std::string(5000, 'x') + "\"");
}
