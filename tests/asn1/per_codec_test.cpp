// Aligned-PER wire cases that Erlang cannot check for us: where our links
// depart from X.691, the decoder's limits, and input a peer must not get
// past.
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "asn1/coder_env.h"
#include "tests/asn1/per_test_types.h"
#include "tests/asn1/per_value_text.h"

namespace {

using PerTest::fromHex;
using PerTest::toHex;

std::unique_ptr<ASN1::AbstractData> value(std::string const& type, std::string const& text)
{
    auto v = PerTest::make(type);
    EXPECT_TRUE(v && PerTest::build(*v, text)) << type << " " << text;
    return v;
}

std::string encoded(ASN1::AbstractData const& v)
{
    ASN1::CoderEnv env;
    std::vector<char> octets;
    if (!ASN1::encode(v, &env, std::back_inserter(octets)))
        return "failed";
    return toHex(octets);
}

bool decodes(std::string const& type, std::string const& hex, std::unique_ptr<ASN1::AbstractData>* out = nullptr)
{
    ASN1::CoderEnv env;
    std::vector<char> const octets = fromHex(hex);
    // An exact-size copy, so that ASan sees any read beyond the input.
    std::unique_ptr<char[]> input(new char[octets.size() + 1]);
    std::copy(octets.begin(), octets.end(), input.get());
    auto v = PerTest::make(type);
    bool const ok = ASN1::decode(input.get(), input.get() + octets.size(), &env, *v, true);
    if (out)
        *out = std::move(v);
    return ok;
}

struct Case {
    char const* type;
    char const* text;
    char const* hex;
    char const* why;
};

// Each of these differs from what X.691 ALIGNED (and Erlang) would send; the
// controller relies on these forms.
TEST(PerDepartures, WorkedVectorsBothWays)
{
    std::string oid = "o1.2";
    std::string oidHex = "802a";
    for (int i = 0; i < 127; ++i) {
        oid += ".1";
        oidHex += "01";
    }
    Case const cases[] = {
        {"Sparse", "5", "50", "ENUMERATED sent by value: 5 in 0..10, not index 1 of 3"},
        {"Sparse", "10", "a0", "value 10 in 4 bits"},
        {"Mode", "3", "84c0", "extension value: small number v+1 = 4, then 3 in 0..3"},
        {"Mode", "4", "8580", "small number 5, then 4 in 0..4 (3 bits)"},
        {"Octets10", "xab", "1ab0", "one octet after a 4-bit length, unaligned"},
        {"Octets10", "xabcd", "2abcd0", "two octets unaligned"},
        {"Tail", "{x,T}", "08", "no octets after the length: no padding to the octet"},
        {"OctetsExt", "xab", "1560", "extension bit, 2-bit length, one octet unaligned"},
        {"Bits20", "b10110", "2d80", "bits up to 16 follow the length unaligned"},
        {"Bits20", "b1111111111111111", "87fff8", "16 bits unaligned"},
        {"Short", "s7a", "5e80", "upper bound x 8 bits <= 16: characters unaligned after the length"},
        {"Short", "s657a", "995e80", "two characters unaligned"},
        {"LowOnly", "200", "0200c8", "lower bound only: two's complement of the value itself"},
        {"LowOnly", "5", "0105", "the lower bound is not subtracted"},
        {"Grown", "{5,_,1,_}", "828080020101", "extension map of one bit: the additions the value holds"},
        {"Oid", oid.c_str(), oidHex.c_str(), "128 contents octets behind a one-octet length"},
    };
    for (auto const& c : cases) {
        auto v = value(c.type, c.text);
        EXPECT_EQ(encoded(*v), c.hex) << c.type << " " << c.why;
        std::unique_ptr<ASN1::AbstractData> back;
        EXPECT_TRUE(decodes(c.type, c.hex, &back)) << c.type << " " << c.why;
        EXPECT_TRUE(back && *back == *v) << c.type << " " << c.why;
    }
}

// Lengths of 8192 to 16383 have a two-octet form that the encoder does not
// write; the decoder still reads them.
TEST(PerDepartures, LengthsAbove8191AreReadButNotWritten)
{
    auto v = value("Octets", "x" + std::string(2 * 8191, 'a'));
    EXPECT_EQ(encoded(*v).substr(0, 6), "9fffaa");
    v = value("Octets", "x" + std::string(2 * 8192, 'a'));
    EXPECT_EQ(encoded(*v), "failed");

    std::unique_ptr<ASN1::AbstractData> back;
    ASSERT_TRUE(decodes("Octets", "bfff" + std::string(2 * 16383, '5'), &back));
    EXPECT_TRUE(*back == *value("Octets", "x" + std::string(2 * 16383, '5')));
    EXPECT_FALSE(decodes("Octets", "c001" + std::string(2 * 16384, '5'))); // fragmented form
}

TEST(PerDepartures, ExtensionMapCoversHeldAdditions)
{
    // Erlang sends a two-bit map for the same value; both decode alike, and
    // what is decoded is sent again with the map it came with.
    std::unique_ptr<ASN1::AbstractData> fromErlang;
    ASSERT_TRUE(decodes("Grown", "828180020101", &fromErlang));
    EXPECT_TRUE(*fromErlang == *value("Grown", "{5,_,1,_}"));
    EXPECT_EQ(encoded(*fromErlang), "828180020101");
    // A map with entries but none set sends no extension part.
    auto none = value("Grown", "{5,_,1,_}");
    static_cast<ASN1::SEQUENCE&>(*none).removeOptionalField(1 + 0);
    EXPECT_EQ(encoded(*none), "0280");
}

// A constrained number beyond its bounds fails the decode: a field that can
// carry more than the range holds is checked.
TEST(PerDecoderFaults, NumbersBeyondTheirBoundsFail)
{
    EXPECT_TRUE(decodes("Int1024", "03ff"));
    EXPECT_FALSE(decodes("Int1024", "0400"));
    EXPECT_FALSE(decodes("Int1024", "ffff"));
    auto kept = value("Int1024", "7");            // a failed read leaves the number as it was
    ASN1::CoderEnv env;
    char const half = 0x03;
    EXPECT_FALSE(env.decode(&half, &half + 1, *kept, true));
    EXPECT_TRUE(*kept == *value("Int1024", "7"));
    EXPECT_FALSE(decodes("Int255", "ff"));        // offset 255 in 1..255
    EXPECT_FALSE(decodes("Colour", "a0"));        // 5 > maximum 4
    EXPECT_FALSE(decodes("Mode", "60"));          // root value 3 > maximum 2
    EXPECT_FALSE(decodes("Pick", "c0"));          // root index 3 of 3
    EXPECT_FALSE(decodes("Wide", "80ffffff"));    // 3 octets holding more than the range
    EXPECT_FALSE(decodes("Wide", "c0ffffff"));    // a count of 4 octets where 3 is the most
    EXPECT_TRUE(decodes("Wide", "800464e7"));     // 399975: offset 287975
    EXPECT_FALSE(decodes("Digits", "1bb0"));      // index 11 of 11 characters
    EXPECT_FALSE(decodes("LowOnly", "0104"));     // below the lower bound
}

// Every length is checked against the input left before it is used.
TEST(PerDecoderFaults, LengthsBeyondTheInputFail)
{
    EXPECT_FALSE(decodes("Flag", ""));            // one bit past the end
    EXPECT_FALSE(decodes("Octets", "0a010203"));
    EXPECT_FALSE(decodes("Text", "7f41"));
    EXPECT_FALSE(decodes("Name", "fc41"));        // 64 characters announced
    EXPECT_FALSE(decodes("Wide16", "030041004200"));
    EXPECT_FALSE(decodes("Bits", "2001"));
    EXPECT_FALSE(decodes("Oid", "052a"));
    EXPECT_FALSE(decodes("Time", "0f3230"));
    EXPECT_FALSE(decodes("Time", "00"));          // no characters at all
    EXPECT_FALSE(decodes("Bytes", "050102"));
    EXPECT_FALSE(decodes("Holder", "c8010203"));  // open type of 200 octets
    EXPECT_FALSE(decodes("Holder", "0080"));      // an open type is at least one octet
    EXPECT_FALSE(decodes("PickExt", "8005aa"));   // extension alternative of 5 octets
    EXPECT_FALSE(decodes("Grown", "828180090101"));  // extension addition of 9 octets
    EXPECT_FALSE(decodes("Plain", "05"));         // more octets than a number holds
    // A known extension addition must fit in its own length.
    EXPECT_FALSE(decodes("Grown", "8281800102" "01"));
}

// Elements of a list are made one at a time as they are read.
TEST(PerDecoderFaults, ListCountsCreateOnlyWhatIsRead)
{
    std::unique_ptr<ASN1::AbstractData> list;
    EXPECT_FALSE(decodes("Bytes", "8080" "0102", &list)); // 128 announced, 2 sent
    EXPECT_EQ(static_cast<ASN1::SEQUENCE_OF_Base&>(*list).size(), 2u);
    PerTest::resetCreated();
    EXPECT_FALSE(decodes("Counted", "8080" "0102"));
    EXPECT_EQ(PerTest::created(), 3u); // two read, the third failed
    EXPECT_TRUE(decodes("Bytes", "8080" + std::string(256, '0')));
    EXPECT_FALSE(decodes("Bytes", "8081" + std::string(258, '0'))); // above MaximumArraySize
}

TEST(PerDecoderFaults, ExtensionMapCountCannotWrap)
{
    // Grown: extension bit, no optional field, id 0, then a small number
    // whose four octets hold 2^32 - 1: a map of 2^32 bits.
    EXPECT_FALSE(decodes("Grown", "8040" "04ffffffff" + std::string(64, 'f')));
    // 128 bits is the largest map.
    EXPECT_TRUE(decodes("Grown", "8040" "017f" + std::string(32, '0')));
    EXPECT_FALSE(decodes("Grown", "8040" "0180" + std::string(34, '0')));
}

// Additions the type does not know are skipped on reading and never sent on
// without their contents.
TEST(PerDecoderFaults, UnknownAdditionsAreNotSentHalfWritten)
{
    std::unique_ptr<ASN1::AbstractData> v;
    // Map of three: count present, pair absent, a third addition unknown here.
    ASSERT_TRUE(decodes("Grown", "8282a0" "020101" "0100", &v));
    EXPECT_TRUE(*v == *value("Grown", "{5,_,1,_}"));
    EXPECT_EQ(encoded(*v), "828180020101");
    // Only the unknown addition: no extension part is sent at all.
    ASSERT_TRUE(decodes("Grown", "8282" "20" "0100", &v));
    EXPECT_EQ(encoded(*v), "0280");
    // An unknown CHOICE alternative is skipped; such a value is not sent.
    ASSERT_TRUE(decodes("PickExt", "8502" "abcd", &v));
    EXPECT_TRUE(static_cast<ASN1::CHOICE&>(*v).isUnknownSelection());
    EXPECT_EQ(encoded(*v), "failed");
    // The decode goes on after an unknown alternative.
    ASSERT_TRUE(decodes("Picks", "02" "8502abcd" "0007", &v));
    auto const& list = static_cast<ASN1::SEQUENCE_OF_Base&>(*v);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(static_cast<ASN1::CHOICE const&>(list.at(0)).isUnknownSelection());
    EXPECT_TRUE(list.at(1) == *value("PickExt", "0:7"));
}

TEST(PerEncoderFaults, OpenValueOfOctetsIsSentWithItsOctets)
{
    EXPECT_EQ(encoded(*value("Holder", "{xa1b2,T}")), "02a1b280");
    EXPECT_EQ(encoded(*value("Holder", "{x,F}")), "010000");
}

TEST(PerEncoderFaults, BmpCharacterBeyondTheTypeFails)
{
    auto v = value("Wide16", "wffff");
    EXPECT_EQ(encoded(*v), "01ffff");
    static_cast<ASN1::BMPString&>(*v).assign(L"\U00010000", 1);
    EXPECT_EQ(encoded(*v), "failed");
}

TEST(PerEncoderFaults, ValueOutsideItsRangeFailsAndWritesNothing)
{
    ASN1::CoderEnv env;
    std::vector<char> out = {'z'};
    auto fixed = value("Fixed", "8");          // 7..7 cannot carry 8
    EXPECT_FALSE(ASN1::encode(*fixed, &env, std::back_inserter(out)));
    auto deep = value("Pair", "{T,1024,_,0}");
    EXPECT_FALSE(ASN1::encode(*deep, &env, std::back_inserter(out)));
    auto name = value("Name", "s");            // SIZE (1..64)
    EXPECT_FALSE(ASN1::encode(*name, &env, std::back_inserter(out)));
    EXPECT_EQ(out, std::vector<char>{'z'});
    auto digits = value("Digits", "s3161");    // 'a' is no digit
    EXPECT_FALSE(ASN1::encode(*digits, &env, std::back_inserter(out)));
    auto pick = PerTest::make("Pick");         // nothing selected
    EXPECT_FALSE(ASN1::encode(*pick, &env, std::back_inserter(out)));
    EXPECT_EQ(out, std::vector<char>{'z'});
}

TEST(PerDecoderFaults, TrailingOctetsFail)
{
    EXPECT_TRUE(decodes("Pair", "a0000500"));
    EXPECT_FALSE(decodes("Pair", "a000050000"));
    EXPECT_FALSE(decodes("Flag", "8000"));
    EXPECT_TRUE(decodes("Flag", "80"));
    EXPECT_TRUE(decodes("Nothing", "00"));        // a value of no bits is one octet
    EXPECT_TRUE(decodes("Nothing", ""));
    EXPECT_FALSE(decodes("Nothing", "0000"));
    EXPECT_FALSE(decodes("Nothing", "01"));
    // A CHOICE of one alternative of no bits may end the input.
    EXPECT_TRUE(decodes("Ping", ""));
    EXPECT_TRUE(decodes("Ping", "00"));
    EXPECT_EQ(encoded(*value("Ping", "0:N")), "00");
}

TEST(PerCoderEnv, RulesAndEntryPoints)
{
    ASN1::CoderEnv env;
    EXPECT_EQ(env.get_encodingRule(), ASN1::CoderEnv::per_Aligned);
    auto v = value("Int1024", "5");
    std::vector<char> out;
    ASSERT_TRUE(env.encode(*v, std::back_inserter(out)));
    EXPECT_EQ(toHex(out), "0005");

    env.set_encodingRule(ASN1::CoderEnv::EncodingRules(3));
    out.clear();
    EXPECT_FALSE(env.encode(*v, std::back_inserter(out)));
    EXPECT_TRUE(out.empty());
    std::vector<char> const in = fromHex("0009");
    EXPECT_FALSE(env.decode(in.data(), in.data() + in.size(), *v, true));
    EXPECT_TRUE(*v == *value("Int1024", "5"));

    env.set_encodingRule(ASN1::CoderEnv::avn);
    ASSERT_TRUE(env.encode(*v, std::back_inserter(out)));
    EXPECT_EQ(std::string(out.begin(), out.end()), "5");
    EXPECT_FALSE(env.decode(in.data(), in.data() + in.size(), *v, true));
}

TEST(PerCoderEnv, TypeConstrainedOpenValue)
{
    auto v = PerTest::make("Wrapped");
    auto& open = static_cast<ASN1::OpenData&>(*v);
    ASSERT_TRUE(open.has_data());
    static_cast<ASN1::INTEGER&>(open.get_data()).setValue(5);
    EXPECT_EQ(encoded(*v), "020005");
    std::unique_ptr<ASN1::AbstractData> back;
    ASSERT_TRUE(decodes("Wrapped", "020009", &back));
    EXPECT_EQ(static_cast<ASN1::INTEGER&>(static_cast<ASN1::OpenData&>(*back).get_data()).getValue(), 9);
    EXPECT_FALSE(decodes("Wrapped", "010009"));

    // Octets kept by an open value are decoded once the contained type is known.
    ASN1::OpenData held;
    held.set_data(PerTest::make("Int1024").release());
    held.grab(new std::vector<char>(fromHex("0009")));
    std::vector<char> none;
    ASN1::PERDecoder decoder(none.data(), none.data(), nullptr, true);
    ASSERT_TRUE(decoder.revisit(held));
    EXPECT_EQ(static_cast<ASN1::INTEGER&>(held.get_data()).getValue(), 9);
    held.get_buf() = fromHex("04");
    EXPECT_FALSE(decoder.revisit(held));
}

} // namespace
