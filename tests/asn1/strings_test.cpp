// String alphabets, bit strings and times (object identifiers: BerDecoder).
#include "asn1/asn1.h"
#include "samples/asn1/per_value_text.h"

#include <gtest/gtest.h>

#include <array>
#include <ctime>
#include <memory>
#include <string>

using namespace ASN1;

TEST(Strings, AlphabetsAndWidthsOfEachKind)
{
    std::string visible, ia5, general;
    for (int c = 0; c <= 255; ++c) {
        if (c >= 32 && c <= 126)
            visible += char(c);
        if (c <= 127)
            ia5 += char(c);
        general += char(c);
    }
    struct Kind {
        AbstractString::InfoType const& info;
        unsigned tag;
        std::string set;
        unsigned canonical, unaligned, aligned;
    } const kinds[] = {
        {NumericString::theInfo, 18, " 0123456789", 4, 4, 4},
        {PrintableString::theInfo, 19,
         " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 7, 7, 8},
        {VisibleString::theInfo, 26, visible, 7, 7, 8},
        {IA5String::theInfo, 22, ia5, 7, 7, 8},
        {GeneralString::theInfo, 27, general, 8, 8, 8},
    };
    for (auto const& k : kinds) {
        SCOPED_TRACE(k.tag);
        std::unique_ptr<AbstractData> v(AbstractData::create(&k.info));
        auto& s = dynamic_cast<AbstractString&>(*v);
        EXPECT_EQ(s.getTag(), k.tag);
        // no size constraint: an empty string is as valid as any
        EXPECT_EQ(s.getConstraintType(), Unconstrained);
        EXPECT_EQ(s.getLowerLimit(), 0);
        EXPECT_EQ(s.getUpperLimit(), 4294967295u);
        EXPECT_TRUE(s.isStrictlyValid());
        ASSERT_EQ(s.getCharacterSetSize(), k.set.size());
        EXPECT_EQ(std::string(s.getCharacterSet(), s.getCharacterSetSize()), k.set);
        EXPECT_EQ(s.getCharacterSet()[s.getCharacterSetSize()], '\0');
        EXPECT_EQ(s.getCanonicalSetBits(), k.canonical);
        EXPECT_EQ(s.getNumBits(false), k.unaligned);
        EXPECT_EQ(s.getNumBits(true), k.aligned);
    }
    BMPString b;
    EXPECT_EQ(b.getTag(), 30u);
    EXPECT_EQ(b.getLowerLimit(), 0);
    EXPECT_EQ(b.getUpperLimit(), 4294967295u);
    EXPECT_TRUE(b.isStrictlyValid());
    for (void const* info : {&BIT_STRING::theInfo, &OCTET_STRING::theInfo}) {
        std::unique_ptr<AbstractData> v(AbstractData::create(info));
        auto& c = dynamic_cast<ConstrainedObject&>(*v);
        EXPECT_EQ(c.getConstraintType(), Unconstrained);
        EXPECT_EQ(c.getLowerLimit(), 0);
        EXPECT_EQ(c.getUpperLimit(), 4294967295u);
        EXPECT_TRUE(v->isStrictlyValid());
    }
    EXPECT_EQ(b.getFirstChar(), 0);
    EXPECT_EQ(b.getLastChar(), 65535);
    EXPECT_EQ(b.getNumBits(true), 16u);
    EXPECT_EQ(b.getNumBits(false), 16u);

    // the validity tests take the other kinds' first invalid characters
    EXPECT_EQ(PrintableString("a*b").find_first_invalid(), 1u);
    EXPECT_EQ(IA5String(std::string("\0a", 2)).find_first_invalid(), std::string::npos);
    static const AbstractString::InfoType anything = {&make<IA5String>, 22, Unconstrained, 0, 4294967295u,
                                                       IA5StringSet, 0, 7, 7, 8};
    EXPECT_EQ(IA5String("\x80\xff", &anything).find_first_invalid(), std::string::npos);
    BMPString w(L"ab");
    EXPECT_EQ(w.first_illegal_at(), 2u);
    w.push_back(wchar_t(0x10000));
    EXPECT_EQ(w.first_illegal_at(), 2u);
}

TEST(Strings, Ordering)
{
    auto octets = [](std::string const& s) { return OCTET_STRING(std::vector<char>(s.begin(), s.end())); };
    EXPECT_LT(octets("ab").compare(octets("abc")), 0);
    EXPECT_LT(octets("\x7f").compare(octets("\x80")), 0);
    EXPECT_EQ(std::string(octets(std::string("x\0y", 3))), std::string("x\0y", 3));
    EXPECT_LT(IA5String("abc").compare(IA5String("abd")), 0);
    EXPECT_LT(IA5String("ab").compare(IA5String("abc")), 0);
    EXPECT_GT(IA5String("\xe9").compare(IA5String("z")), 0); // characters unsigned
    EXPECT_LT(BMPString(L"a").compare(BMPString(L"\uffff")), 0);

    // identifiers arc by arc, unsigned, then the shorter first
    auto oid = [](std::initializer_list<unsigned> arcs) {
        OBJECT_IDENTIFIER o;
        for (unsigned a : arcs)
            o.append(a);
        return o;
    };
    EXPECT_LT(oid({1}).compare(oid({1, 2, 840})), 0);
    EXPECT_GT(oid({1, 2, 840}).compare(oid({1})), 0);
    EXPECT_LT(oid({1, 2, 840}).compare(oid({1, 3})), 0);
    EXPECT_LT(oid({2, 5}).compare(oid({2, 4294967295u})), 0);
    EXPECT_EQ(oid({0, 9}).compare(oid({0, 9})), 0);

    BIT_STRING b;
    b.resize(9);
    b.set(0);
    b.set(8);
    b.set(9); // beyond the size: ignored
    EXPECT_EQ(PerTest::toHex(b.getData()), "8080");
    EXPECT_TRUE(b[8]);
    EXPECT_FALSE(b[9]);
    // A bit set at or past the size is not there when the string grows, nor
    // is one that a shrink cut off.
    BIT_STRING grown;
    grown.resize(3);
    grown.set(3);
    grown.set(2);
    grown.resize(4);
    EXPECT_FALSE(grown[3]);
    EXPECT_TRUE(grown[2]);
    grown.set(3);
    grown.resize(3);
    grown.resize(8);
    EXPECT_FALSE(grown[3]);
    EXPECT_EQ(PerTest::toHex(grown.getData()), "20");
    grown.resize(16);
    grown.set(15);
    grown.set(16);
    EXPECT_EQ(PerTest::toHex(grown.getData()), "2001");
    BIT_STRING first = b;
    first.getData()[0] = 0;
    EXPECT_GT(b.compare(first), 0); // the first octet decides too
    EXPECT_FALSE(b == first);
    BIT_STRING shorter;
    shorter.resize(8);
    shorter.set(0);
    EXPECT_LT(shorter.compare(b), 0);
    EXPECT_GT(b.compare(shorter), 0);
}

TEST(Strings, GeneralizedTimeText)
{
    for (auto [in, out] : {std::pair<char const*, char const*>{"20240131120000Z", "20240131120000Z"},
                           {"20240131120000.5+0130", "20240131120000.500+0130"},
                           {"20240131120000-0030", "20240131120000-0030"},
                           {"20240131120000.009", "20240131120000.009"},
                           {"20240131120000.0005", "20240131120000"},
                           {"20240131120000.25", "20240131120000.250"},
                           // a zone whose minutes reach 60 is not taken
                           {"20240131120000+9999", "20240131120000"},
                           {"20240131120000+9959", "20240131120000+9959"}})
        EXPECT_EQ(GeneralizedTime(in).get(), out) << in;
    GeneralizedTime t("20240131120000.5+0130");
    EXPECT_EQ(t.getMillisec(), 500);
    EXPECT_EQ(t.getMindiff(), 90);
    EXPECT_EQ(GeneralizedTime().get(), "00010101000000");
    EXPECT_EQ(GeneralizedTime(2024, 1, 31, 12, 0, 0, 250, 0, true).get(), "20240131120000.250Z");

    GeneralizedTime u("20240131120000Z");
    u.set("20240131120000");
    EXPECT_TRUE(u.getUtc()); // set never clears it
    u.set("1999");           // fields not read keep their values
    EXPECT_EQ(u.get(), "19990131120000Z");

    // the differential takes no part; local before UTC
    EXPECT_EQ(GeneralizedTime("20240131120000+0100").compare(GeneralizedTime("20240131120000-0200")), 0);
    EXPECT_LT(GeneralizedTime("20240131120000+0100").compare(GeneralizedTime("20240131120000Z")), 0);
    EXPECT_LT(GeneralizedTime("20240131120000").compare(GeneralizedTime("20240131120001")), 0);
    // every field takes part, from the year down to the milliseconds
    for (char const* later : {"20250131120000.500", "20240231120000.500", "20240201120000.500", "20240131130000.500",
                              "20240131120100.500", "20240131120001.500", "20240131120000.501"}) {
        GeneralizedTime const base("20240131120000.500"), other(later);
        EXPECT_LT(base.compare(other), 0) << later;
        EXPECT_GT(other.compare(base), 0) << later;
    }

    GeneralizedTime fromT;
    fromT.set_time_t(86400 + 3661);
    EXPECT_EQ(fromT.get(), "19700102010101");
    // to a time_t as a local time, each field in its place
    for (auto [text, fields] : {std::pair<char const*, std::array<int, 6>>{"20240131120000", {2024, 1, 31, 12, 0, 0}},
                                {"19991231235958.5Z", {1999, 12, 31, 23, 59, 58}}}) {
        std::tm t{};
        t.tm_year = fields[0] - 1900;
        t.tm_mon = fields[1] - 1;
        t.tm_mday = fields[2];
        t.tm_hour = fields[3];
        t.tm_min = fields[4];
        t.tm_sec = fields[5];
        t.tm_isdst = -1;
        EXPECT_EQ(GeneralizedTime(text).get_time_t(), std::mktime(&t)) << text;
    }
}
