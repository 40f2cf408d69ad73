// Validity checks and the tracer's words.
#include "asn1/valid_checker.h"
#include "tests/asn1/helpers.h"

#include <sstream>

using namespace ASN1;

namespace {

// "" when valid, else the tracer's text
std::string trace(AbstractData const& v)
{
    std::ostringstream o;
    bool ok = trace_invalid(o, "hdr:", v);
    EXPECT_EQ(ok, o.str().empty());
    EXPECT_EQ(ok, v.isValid());
    if (ok)
        return "";
    std::string s = o.str();
    EXPECT_EQ(s.substr(0, 4), "hdr:");
    EXPECT_EQ(s.back(), '\n');
    return s.substr(4, s.size() - 5);
}

// valid, strictly valid
#define EXPECT_VERDICT(value, v, s)                                                                \
    do {                                                                                           \
        EXPECT_EQ((value).isValid(), v);                                                           \
        EXPECT_EQ((value).isStrictlyValid(), s);                                                   \
    } while (0)

using Percent = Constrained_INTEGER<FixedConstraint, 0, 100>;
using PercentExt = Constrained_INTEGER<ExtendableConstraint, 0, 100>;
using Int8 = Constrained_INTEGER<FixedConstraint, -128, 127>;
using Slot = Constrained_INTEGER<FixedConstraint, 0, 1023>;
using AtLeast5 = Constrained_INTEGER<PartiallyConstrained, 5, 4294967295u>;

const ConstrainedObject::InfoType octets1to4 = {&OCTET_STRING::create, 4, FixedConstraint, 1, 4};
const ConstrainedObject::InfoType bits2to3ext = {&BIT_STRING::create, 3, ExtendableConstraint, 2, 3};
const BMPString::InfoType latin = {&BMPString::create, 30, FixedConstraint, 1, 3, 32, 255, 8, 8};
char const* const fiveNames[] = {"a", "b", "c", "d", "e", "f"};
const ENUMERATED::InfoType fixedEnum = {&ENUMERATED::create, 10, false, 5, fiveNames, 6};
const ENUMERATED::InfoType extEnum = {&ENUMERATED::create, 10, true, 5, fiveNames, 6};
const SEQUENCE_OF_Base::InfoType slots1to2 = {&SEQUENCE_OF_Base::create, 16, FixedConstraint, 1, 2, &Slot::theInfo};
const SEQUENCE_OF_Base::InfoType slots1to2ext = {&SEQUENCE_OF_Base::create, 16, ExtendableConstraint, 1, 2,
                                                 &Slot::theInfo};

} // namespace

TEST(Validity, Integers)
{
    EXPECT_VERDICT(PercentExt(200u), true, false);
    EXPECT_EQ(trace(PercentExt(200u)), "");
    EXPECT_VERDICT(Percent(200u), false, false);
    EXPECT_EQ(trace(Percent(200u)), " The INTEGER value 200 is greater than upper bound 100");
    EXPECT_VERDICT(Percent(100u), true, true);

    // negative values of signed ranges and of unconstrained types
    EXPECT_VERDICT(Int8(static_cast<unsigned>(-5)), true, true);
    EXPECT_VERDICT(Int8(static_cast<unsigned>(-128)), true, true);
    EXPECT_EQ(trace(Int8(static_cast<unsigned>(-129))), " The INTEGER value -129 is smaller than lower bound -128");
    EXPECT_EQ(trace(Int8(128u)), " The INTEGER value 128 is greater than upper bound 127");
    EXPECT_VERDICT(INTEGER(-5), true, true);
    EXPECT_VERDICT(INTEGER(-2147483647 - 1), true, true);

    // ranges from 0 hold unsigned numbers
    EXPECT_VERDICT((Constrained_INTEGER<FixedConstraint, 0, 4294967295u>(4000000000u)), true, true);
    EXPECT_EQ(trace(Slot(static_cast<unsigned>(-1))), " The INTEGER value 4294967295 is greater than upper bound 1023");
    EXPECT_EQ(trace(AtLeast5(4u)), " The INTEGER value 4 is smaller than lower bound 5");
    EXPECT_VERDICT(AtLeast5(4000000000u), true, true);
}

TEST(Validity, SizesAndAlphabets)
{
    OCTET_STRING o(5, 'x', &octets1to4);
    EXPECT_EQ(trace(o), " This OCTET STRING has size 5 greater than its upper bound 4");
    o.clear();
    EXPECT_EQ(trace(o), " This OCTET STRING has size 0 smaller than its lower bound 1");
    o.resize(4);
    EXPECT_VERDICT(o, true, true);

    BIT_STRING b(&bits2to3ext);
    b.resize(4);
    EXPECT_VERDICT(b, true, false); // above an extensible range
    b.resize(1);
    EXPECT_EQ(trace(b), " This BIT STRING has size 1 smaller than its lower bound 2");

    EXPECT_VERDICT(NumericString("12 3"), true, true);
    EXPECT_EQ(trace(NumericString("12a")), " The character 'a' is not valid for the string");
    EXPECT_EQ(trace(NumericString("1\n")), " The character '\\n' is not valid for the string");
    EXPECT_EQ(trace(*asn1_test::built("Name", "s")), " This AbstractString has size 0 smaller than its lower bound 1");
    EXPECT_EQ(trace(*asn1_test::built("Name", "s" + std::string(130, '6'))),
              " This AbstractString has size 65 greater than its upper bound 64");

    BMPString w(L"ab", &latin);
    EXPECT_VERDICT(w, true, true);
    w[1] = wchar_t(300);
    EXPECT_EQ(trace(w), " The character '300' is not valid for the string");
    w = std::wstring(L"abcd");
    EXPECT_EQ(trace(w), " This BMPString has size 4 greater than its upper bound 3");
}

TEST(Validity, OtherKinds)
{
    EXPECT_VERDICT(Null(), true, true);
    EXPECT_VERDICT(BOOLEAN(true), true, true);

    ENUMERATED e(&fixedEnum);
    e.setFromInt(7);
    EXPECT_VERDICT(e, false, false);
    EXPECT_EQ(trace(e), " This ENUMERATED has invalid value 7");
    e.setFromInt(-1);
    EXPECT_VERDICT(e, false, false);
    ENUMERATED x(&extEnum);
    x.setFromInt(7);
    EXPECT_VERDICT(x, true, false);

    OBJECT_IDENTIFIER oid;
    EXPECT_EQ(trace(oid), " This OBJECT IDENTIFIER is not assigned");
    oid.append(1);
    EXPECT_VERDICT(oid, true, true);

    GeneralizedTime t("20240131240000Z");
    EXPECT_VERDICT(t, true, true);
    t.setMonth(13);
    EXPECT_EQ(trace(t), " This GeneralizedTime is not valid");
    t = GeneralizedTime(2024, 1, 1, 0, 0, 0, 0, 721, false);
    EXPECT_VERDICT(t, false, false);

    OpenData open;
    EXPECT_EQ(trace(open), " This Open Type does not contain any valid data");
    open.grab(new std::vector<char>{1});
    EXPECT_VERDICT(open, true, true);
    open.set_data(new Percent(101u));
    EXPECT_EQ(trace(open), " The INTEGER value 101 is greater than upper bound 100");
}

TEST(Validity, ChoicesSequencesAndPaths)
{
    auto pick = BerTest::make("Pick");
    auto& c = static_cast<CHOICE&>(*pick);
    EXPECT_EQ(trace(c), " This CHOICE is not selected");
    c.select(7);
    EXPECT_EQ(trace(c), " This selection is not understood by this decoder");
    // the path names the alternative and the field
    EXPECT_EQ(trace(*asn1_test::built("Pick", "2:{T,_,s,0}")),
              ".pair.name This AbstractString has size 0 smaller than its lower bound 1");
    EXPECT_VERDICT(*asn1_test::built("Pick", "2:{T,_,s61,0}"), true, true);
    // the first alternative is a selection like the others
    EXPECT_EQ(trace(*asn1_test::built("Pick", "0:1023")), "");
    EXPECT_EQ(trace(*asn1_test::built("Pick", "0:1024")), ".slot The INTEGER value 1024 is greater than upper bound 1023");
    // an extension alternative is valid but not strictly valid
    EXPECT_VERDICT(*asn1_test::built("PickExt", "2:5"), true, false);

    auto pair = asn1_test::built("Pair", "{T,2000,s,0}");
    EXPECT_EQ(trace(*pair), ".slot The INTEGER value 2000 is greater than upper bound 1023");
    // an invalid field left out is not judged
    static_cast<SEQUENCE&>(*pair).removeOptionalField(0);
    static_cast<SEQUENCE&>(*pair).removeOptionalField(1);
    EXPECT_VERDICT(*pair, true, true);
    EXPECT_EQ(trace(*asn1_test::built("Pair", "{T,_,s6180,0}")),
              ".name The character '\\x80' is not valid for the string");
}

TEST(Validity, ListSizesAndElements)
{
    SEQUENCE_OF_Base l(&slots1to2);
    EXPECT_EQ(trace(l), " This SEQUENCE OF has size 0 smaller than its lower bound 1");
    l.resize(3);
    EXPECT_VERDICT(l, false, false);
    EXPECT_EQ(trace(l), " This SEQUENCE OF has size 3 greater than its upper bound 2");
    SEQUENCE_OF_Base e(&slots1to2ext);
    e.resize(3);
    EXPECT_VERDICT(e, true, false);
    e.resize(2);
    static_cast<Slot&>(e.at(1)) = 2000u;
    EXPECT_VERDICT(e, false, false);
    EXPECT_EQ(trace(e), "[1] The INTEGER value 2000 is greater than upper bound 1023");

    InvalidTracer tracer;
    EXPECT_FALSE(static_cast<AbstractData const&>(e).accept(tracer));
    std::ostringstream o;
    o << tracer;
    EXPECT_EQ(o.str(), "[1] The INTEGER value 2000 is greater than upper bound 1023");
}

// A valid value of each kind at the ends of its range: nothing traced, and
// valid and strictly valid alike.
TEST(Validity, ValuesAtTheirLimitsTraceNothing)
{
    auto clean = [](AbstractData const& v) {
        EXPECT_EQ(trace(v), "");
        EXPECT_TRUE(v.isStrictlyValid());
    };
    for (unsigned n : {0u, 100u})
        clean(Percent(n));
    for (int n : {-128, 127})
        clean(Int8(static_cast<unsigned>(n)));
    clean(AtLeast5(5u));
    clean(INTEGER(-5));
    clean(Null());
    clean(BOOLEAN(false));
    for (unsigned n : {1u, 4u})
        clean(OCTET_STRING(n, 'x', &octets1to4));
    BIT_STRING b(&bits2to3ext);
    for (unsigned n : {2u, 3u}) {
        b.resize(n);
        clean(b);
    }
    clean(NumericString("0123456789 "));
    clean(*asn1_test::built("Name", "s61"));
    clean(*asn1_test::built("Name", "s" + std::string(128, '6')));
    clean(BMPString(std::wstring{wchar_t(32), wchar_t(255), L'a'}, &latin));
    ENUMERATED e(&fixedEnum);
    for (int v : {0, 5}) {
        e.setFromInt(v);
        clean(e);
    }
    OBJECT_IDENTIFIER oid;
    oid.append(0);
    clean(oid);
    for (char const* t : {"00010101000000", "20241231245959+1200", "20240131000000-1200"})
        clean(GeneralizedTime(t));
    clean(OpenData(new Percent(100u), &OpenData::theInfo));
    clean(*asn1_test::built("Pick", "2:{T,1023,s61,0}"));
    clean(*asn1_test::built("Pair", "{T,0,s61,0}"));
    SEQUENCE_OF_Base l(&slots1to2);
    for (unsigned n : {1u, 2u}) {
        l.resize(n);
        static_cast<Slot&>(l.at(n - 1)) = 1023u;
        clean(l);
    }
}

// Every field of a time at both ends of its range, and one past each.
TEST(Validity, TimeFieldLimits)
{
    struct Case {
        int year, month, day, hour, minute, second, mindiff;
        bool valid;
    } const cases[] = {
        {1, 1, 1, 0, 0, 0, -720, true},    {9999, 12, 31, 24, 59, 59, 720, true},
        {0, 1, 1, 0, 0, 0, 0, false},      {2024, 0, 1, 0, 0, 0, 0, false},
        {2024, 13, 1, 0, 0, 0, 0, false},  {2024, 1, 0, 0, 0, 0, 0, false},
        {2024, 1, 32, 0, 0, 0, 0, false},  {2024, 1, 1, -1, 0, 0, 0, false},
        {2024, 1, 1, 25, 0, 0, 0, false},  {2024, 1, 1, 0, -1, 0, 0, false},
        {2024, 1, 1, 0, 60, 0, 0, false},  {2024, 1, 1, 0, 0, -1, 0, false},
        {2024, 1, 1, 0, 0, 60, 0, false},  {2024, 1, 1, 0, 0, 0, -721, false},
        {2024, 1, 1, 0, 0, 0, 721, false},
    };
    for (auto const& c : cases) {
        GeneralizedTime t(c.year, c.month, c.day, c.hour, c.minute, c.second, 0, c.mindiff, false);
        SCOPED_TRACE(t.get());
        EXPECT_VERDICT(t, c.valid, c.valid);
        EXPECT_EQ(trace(t), c.valid ? "" : " This GeneralizedTime is not valid");
    }
}

// Sizes at both ends of each range and one past, and the characters at the
// ends of a BMP range.
TEST(Validity, SizeLimitsOfEachKind)
{
    OCTET_STRING o(&octets1to4);
    for (unsigned n : {0u, 1u, 4u, 5u}) {
        o.resize(n);
        EXPECT_VERDICT(o, n >= 1 && n <= 4, n >= 1 && n <= 4);
    }
    BIT_STRING b(&bits2to3ext);
    for (unsigned n : {1u, 2u, 3u, 4u}) {
        b.resize(n);
        EXPECT_VERDICT(b, n >= 2, n >= 2 && n <= 3);
    }
    EXPECT_EQ(trace(b), "");
    for (unsigned n : {0u, 1u, 64u, 65u}) {
        auto name = asn1_test::built("Name", "s" + std::string(2 * n, '6'));
        EXPECT_VERDICT(*name, n >= 1 && n <= 64, n >= 1 && n <= 64);
    }
    BMPString w(L"a", &latin);
    for (unsigned c : {31u, 32u, 255u, 256u}) {
        w[0] = wchar_t(c);
        EXPECT_VERDICT(w, c >= 32 && c <= 255, c >= 32 && c <= 255);
        EXPECT_EQ(w.first_illegal_at(), c >= 32 && c <= 255 ? 1u : 0u);
    }
    w = std::wstring(L"abc");
    EXPECT_VERDICT(w, true, true);
    // at either end of the size range the bad character is what is wrong
    for (std::wstring text : {std::wstring{wchar_t(300)}, std::wstring{L'a', L'b', wchar_t(300)}}) {
        w = text;
        EXPECT_EQ(trace(w), " The character '300' is not valid for the string");
    }
    EXPECT_EQ(trace(*asn1_test::built("Name", "s80")), " The character '\\x80' is not valid for the string");
    EXPECT_EQ(trace(*asn1_test::built("Name", "s" + std::string(126, '6') + "80")),
              " The character '\\x80' is not valid for the string");
    EXPECT_EQ(trace(*asn1_test::built("Digits", "s3132333435363761")), " The character 'a' is not valid for the string");
    w = std::wstring();
    EXPECT_EQ(trace(w), " This BMPString has size 0 smaller than its lower bound 1");
    SEQUENCE_OF_Base l(&slots1to2), e(&slots1to2ext);
    for (unsigned n : {0u, 1u, 2u, 3u}) {
        l.resize(n);
        e.resize(n);
        EXPECT_VERDICT(l, n >= 1 && n <= 2, n >= 1 && n <= 2);
        EXPECT_VERDICT(e, n >= 1, n >= 1 && n <= 2);
    }
    ENUMERATED x(&extEnum);
    for (int v : {5, 6}) {
        x.setFromInt(v);
        EXPECT_VERDICT(x, true, v <= 5);
    }
    for (unsigned v : {100u, 101u}) {
        EXPECT_VERDICT(PercentExt(v), true, v <= 100);
        EXPECT_VERDICT(Percent(v), v <= 100, v <= 100);
    }
    EXPECT_VERDICT(AtLeast5(4u), false, false);
    // an upper bound above the int range is written as the unsigned number it is
    using Big = Constrained_INTEGER<FixedConstraint, 0, 3000000000u>;
    EXPECT_VERDICT(Big(3000000000u), true, true);
    EXPECT_EQ(trace(Big(3000000001u)), " The INTEGER value 3000000001 is greater than upper bound 3000000000");
    EXPECT_VERDICT(AtLeast5(5u), true, true);
}
