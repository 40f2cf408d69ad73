// String alphabets, bit strings and times (object identifiers: BerDecoder).
#include "asn1/asn1.h"
#include "samples/asn1/per_value_text.h"

#include <gtest/gtest.h>

#include <string>

using namespace ASN1;

// The alphabets' widths are the Erlang vectors' (Digits, Text, Name).
TEST(Strings, AlphabetChecks)
{
    EXPECT_EQ(IA5String(std::string("\0a", 2)).find_first_invalid(), std::string::npos);
    static const AbstractString::InfoType anything = {&make<IA5String>, 22, Unconstrained, 0, 4294967295u,
                                                       IA5StringSet, 0, 7, 7, 8};
    EXPECT_EQ(IA5String("\x80\xff", &anything).find_first_invalid(), std::string::npos);
}

TEST(Strings, Ordering)
{
    auto octets = [](std::string const& s) { return OCTET_STRING(std::vector<char>(s.begin(), s.end())); };
    EXPECT_LT(octets("ab").compare(octets("abc")), 0);
    EXPECT_EQ(std::string(octets(std::string("x\0y", 3))), std::string("x\0y", 3));
    EXPECT_LT(IA5String("ab").compare(IA5String("abc")), 0);

    BIT_STRING b;
    b.resize(9);
    b.set(0);
    b.set(8);
    b.set(9); // beyond the size: ignored
    EXPECT_EQ(PerTest::toHex(b.getData()), "8080");
    EXPECT_TRUE(b[8]);
    EXPECT_FALSE(b[9]);
    BIT_STRING shorter;
    shorter.resize(8);
    shorter.set(0);
    EXPECT_LT(shorter.compare(b), 0);
}

// The forms the Erlang vectors leave out.
TEST(Strings, GeneralizedTimeText)
{
    for (auto [in, out] : {std::pair<char const*, char const*>{"20240131120000.5+0130", "20240131120000.500+0130"},
                           {"20240131120000.0005", "20240131120000"},
                           {"20240131120000.25", "20240131120000.250"},
                           // a zone whose minutes reach 60 is not taken
                           {"20240131120000+9999", "20240131120000"},
                           {"20240131120000+9959", "20240131120000+9959"}})
        EXPECT_EQ(GeneralizedTime(in).get(), out) << in;
    EXPECT_EQ(GeneralizedTime().get(), "00010101000000");
}
