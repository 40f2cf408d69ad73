// String kinds, bit strings, times and object identifiers.
#include "asn1/asn1.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using namespace ASN1;

namespace {
std::vector<char> bytes(std::initializer_list<int> l)
{
    std::vector<char> v;
    for (int b : l)
        v.push_back(static_cast<char>(b));
    return v;
}
} // namespace

TEST(Strings, AlphabetsAndWidthsOfEachKind)
{
    struct Kind {
        AbstractString::InfoType const& info;
        unsigned tag;
        std::string set;
        unsigned canonical, unaligned, aligned;
    };
    std::string visible, ia5, general;
    for (int c = 32; c <= 126; ++c)
        visible += char(c);
    for (int c = 0; c <= 127; ++c)
        ia5 += char(c);
    for (int c = 0; c <= 255; ++c)
        general += char(c);
    Kind const kinds[] = {
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
        EXPECT_EQ(s.getConstraintType(), Unconstrained);
        EXPECT_EQ(s.getLowerLimit(), 0);
        EXPECT_EQ(s.getUpperLimit(), 4294967295u);
        ASSERT_EQ(s.getCharacterSetSize(), k.set.size());
        EXPECT_EQ(std::string(s.getCharacterSet(), s.getCharacterSetSize()), k.set);
        EXPECT_EQ(s.getCharacterSet()[s.getCharacterSetSize()], '\0');
        EXPECT_EQ(s.getCanonicalSetBits(), k.canonical);
        EXPECT_EQ(s.getNumBits(false), k.unaligned);
        EXPECT_EQ(s.getNumBits(true), k.aligned);
    }
    BMPString b;
    EXPECT_EQ(b.getTag(), 30u);
    EXPECT_EQ(b.getFirstChar(), 0);
    EXPECT_EQ(b.getLastChar(), 65535);
    EXPECT_EQ(b.getNumBits(true), 16u);
    EXPECT_EQ(b.getNumBits(false), 16u);
    EXPECT_EQ(MaximumStringSize, 16384u);
    EXPECT_EQ(MaximumArraySize, 128u);
}

TEST(Strings, FirstInvalidCharacter)
{
    EXPECT_EQ(NumericString("12 34").find_first_invalid(), std::string::npos);
    EXPECT_EQ(NumericString("12a").find_first_invalid(), 2u);
    EXPECT_EQ(PrintableString("a*b").find_first_invalid(), 1u);
    EXPECT_EQ(IA5String(std::string("x\x80", 2)).find_first_invalid(), 1u);
    EXPECT_EQ(IA5String(std::string("\0a", 2)).find_first_invalid(), std::string::npos);
    static const AbstractString::InfoType anything = {&make<IA5String>, 22, Unconstrained, 0, 4294967295u,
                                                       IA5StringSet, 0, 7, 7, 8};
    EXPECT_EQ(IA5String("\x80\xff", &anything).find_first_invalid(), std::string::npos);

    BMPString w(L"ab");
    EXPECT_EQ(w.first_illegal_at(), 2u);
    w.push_back(wchar_t(0x10000));
    EXPECT_EQ(w.first_illegal_at(), 2u);
}

TEST(Strings, OrderingAndCopies)
{
    OCTET_STRING ab(bytes({'a', 'b'})), abc(bytes({'a', 'b', 'c'}));
    EXPECT_LT(ab.compare(abc), 0);
    EXPECT_LT(OCTET_STRING(bytes({0x7F})).compare(OCTET_STRING(bytes({0x80}))), 0);
    EXPECT_EQ(std::string(OCTET_STRING(bytes({'x', 0, 'y'}))), std::string("x\0y", 3));

    IA5String s("abc"), t("abd");
    EXPECT_LT(s.compare(t), 0);
    EXPECT_LT(IA5String("ab").compare(s), 0);
    EXPECT_GT(IA5String("\xe9").compare(IA5String("z")), 0); // characters unsigned
    std::unique_ptr<AbstractData> c(s.clone());
    auto& copy = dynamic_cast<IA5String&>(*c);
    copy = std::string("zz");
    EXPECT_EQ(s, "abc");

    BMPString w1(L"a"), w2(L"b");
    w2[0] = wchar_t(0xFFFF);
    EXPECT_LT(w1.compare(w2), 0);
}

TEST(Strings, BitStringBitsAndOrder)
{
    BIT_STRING b;
    b.resize(3);
    b.getData()[0] = char(0xA0);
    EXPECT_TRUE(b[0]);
    EXPECT_FALSE(b[1]);
    EXPECT_TRUE(b[2]);
    EXPECT_FALSE(b[3]);
    b.resize(9);
    ASSERT_EQ(b.getData().size(), 2u);
    EXPECT_EQ(b.getData()[1], 0);
    b.set(8);
    EXPECT_EQ(static_cast<unsigned char>(b.getData()[1]), 0x80);
    b.set(9); // beyond the size: ignored
    EXPECT_EQ(static_cast<unsigned char>(b.getData()[1]), 0x80);
    b.set(0, false);
    EXPECT_FALSE(b[0]);

    BIT_STRING shorter;
    shorter.resize(8);
    shorter.getData()[0] = b.getData()[0];
    EXPECT_LT(shorter.compare(b), 0);
    EXPECT_GT(b.compare(shorter), 0);
    std::unique_ptr<AbstractData> c(b.clone());
    EXPECT_EQ(c->compare(b), 0);
}

TEST(Strings, GeneralizedTimeText)
{
    EXPECT_EQ(GeneralizedTime("20240131120000Z").get(), "20240131120000Z");
    GeneralizedTime t("20240131120000.5+0130");
    EXPECT_EQ(t.getMillisec(), 500);
    EXPECT_EQ(t.getMindiff(), 90);
    EXPECT_EQ(t.get(), "20240131120000.500+0130");
    EXPECT_EQ(GeneralizedTime("20240131120000-0030").get(), "20240131120000-0030");
    // a zone whose minutes reach 60 is not taken, so what is kept prints back
    EXPECT_EQ(GeneralizedTime("20240131120000+9999").get(), "20240131120000");
    EXPECT_EQ(GeneralizedTime("20240131120000+9959").get(), "20240131120000+9959");
    EXPECT_EQ(GeneralizedTime("20240131120000.009").getMillisec(), 9);
    EXPECT_EQ(GeneralizedTime("20240131120000.0005").getMillisec(), 0);
    EXPECT_EQ(GeneralizedTime("20240131120000.25").getMillisec(), 250);
    EXPECT_EQ(GeneralizedTime().get(), "00010101000000");
    EXPECT_EQ(GeneralizedTime(2024, 1, 31, 12, 0, 0, 250, 0, true).get(), "20240131120000.250Z");

    GeneralizedTime u("20240131120000Z");
    u.set("20240131120000");
    EXPECT_TRUE(u.getUtc()); // set never clears it
    u.set("1999");           // fields not read keep their values
    EXPECT_EQ(u.getYear(), 1999);
    EXPECT_EQ(u.getMonth(), 1);
    EXPECT_EQ(u.getDay(), 31);

    GeneralizedTime a("20240131120000+0100"), b("20240131120000-0200");
    EXPECT_EQ(a.compare(b), 0); // the differential takes no part
    GeneralizedTime z("20240131120000Z");
    EXPECT_LT(a.compare(z), 0); // local before UTC
    EXPECT_LT(GeneralizedTime("20240131120000").compare(GeneralizedTime("20240131120001")), 0);

    GeneralizedTime fromT;
    fromT.set_time_t(86400 + 3661);
    EXPECT_EQ(fromT.get(), "19700102010101");

    GeneralizedTime x, y("20200101000000Z");
    x.swap(y);
    EXPECT_EQ(x.get(), "20200101000000Z");
    EXPECT_EQ(y.get(), "00010101000000");
    EXPECT_EQ(x.info(), &GeneralizedTime::theInfo);
}

TEST(Strings, ObjectIdentifierContents)
{
    OBJECT_IDENTIFIER one;
    one.append(1);
    std::vector<char> out;
    one.encodeCommon(out);
    EXPECT_TRUE(out.empty());

    OBJECT_IDENTIFIER rsa;
    for (unsigned a : {1u, 2u, 840u})
        rsa.append(a);
    rsa.encodeCommon(out);
    EXPECT_EQ(out, bytes({0x2A, 0x86, 0x48}));

    OBJECT_IDENTIFIER o;
    out.clear();
    for (unsigned a : {2u, 999u, 3u})
        o.append(a);
    o.encodeCommon(out);
    EXPECT_EQ(out, bytes({0x88, 0x37, 0x03}));

    OBJECT_IDENTIFIER d;
    auto b = bytes({0x2A, 0x86});
    EXPECT_FALSE(d.decodeCommon(b.data(), 2));
    b = bytes({0x50});
    ASSERT_TRUE(d.decodeCommon(b.data(), 1));
    EXPECT_EQ(d.getArcs(), (std::vector<unsigned>{2, 0}));
    b = bytes({0x78});
    ASSERT_TRUE(d.decodeCommon(b.data(), 1));
    EXPECT_EQ(d.getArcs(), (std::vector<unsigned>{2, 40}));
    EXPECT_TRUE(d.decodeCommon(nullptr, 0));
    EXPECT_EQ(d.levels(), 0u);

    // Subidentifiers too large for an arc fail instead of wrapping.
    b = bytes({0x2A, 0x90, 0x80, 0x80, 0x80, 0x00}); // 1.2.2^32
    EXPECT_FALSE(d.decodeCommon(b.data(), unsigned(b.size())));
    b = bytes({0x2A, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}); // 1.2.4294967295
    ASSERT_TRUE(d.decodeCommon(b.data(), unsigned(b.size())));
    EXPECT_EQ(d[2], 4294967295u);
    b = bytes({0x2A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    EXPECT_FALSE(d.decodeCommon(b.data(), unsigned(b.size())));

    // 2.4294967295 needs a first subidentifier above 32 bits; it reads back.
    OBJECT_IDENTIFIER wide;
    wide.append(2);
    wide.append(4294967295u);
    out.clear();
    wide.encodeCommon(out);
    ASSERT_TRUE(d.decodeCommon(out.data(), unsigned(out.size())));
    EXPECT_EQ(d.compare(wide), 0);

    EXPECT_LT(one.compare(rsa), 0);
    EXPECT_GT(o.compare(rsa), 0);
}
