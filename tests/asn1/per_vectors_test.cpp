// Our codec against the vectors Erlang/OTP's asn1 encoded (per/per_vectors.txt,
// made by per/gen_vectors.escript from per/PerTest.asn).
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "asn1/coder_env.h"
#include "tests/asn1/per_test_types.h"
#include "tests/asn1/per_value_text.h"

namespace {

struct Vector {
    int line;
    std::string type, mode, hex, text;
};

std::vector<Vector> const& vectors()
{
    static std::vector<Vector> all = [] {
        std::vector<Vector> v;
        std::ifstream in(TEST_SOURCE_DIR "/per/per_vectors.txt");
        std::string line;
        for (int n = 1; std::getline(in, line); ++n) {
            std::istringstream fields(line);
            Vector vec{n, {}, {}, {}, {}};
            fields >> vec.type >> vec.mode >> vec.hex >> vec.text;
            v.push_back(vec);
        }
        return v;
    }();
    return all;
}

std::unique_ptr<ASN1::AbstractData> built(Vector const& v)
{
    auto value = PerTest::make(v.type);
    if (!value || !PerTest::build(*value, v.text))
        return nullptr;
    return value;
}

std::string where(Vector const& v)
{
    return "per_vectors.txt:" + std::to_string(v.line) + " " + v.type + " " + v.text.substr(0, 80);
}

TEST(PerErlangVectors, FileCoversEveryTestType)
{
    ASSERT_GT(vectors().size(), 500u);
    for (auto const& v : vectors())
        ASSERT_NE(PerTest::info(v.type), nullptr) << where(v);
}

// Vectors whose values hold extension additions without the last one are
// left out: our encoder sizes the extension map to the additions the value
// holds (see PerDepartures.ExtensionMapCoversHeldAdditions).
TEST(PerErlangVectors, EncoderGivesErlangOctets)
{
    ASN1::CoderEnv env;
    int compared = 0;
    for (auto const& v : vectors()) {
        if (v.mode != "both")
            continue;
        auto value = built(v);
        ASSERT_TRUE(value) << where(v);
        std::vector<char> octets;
        ASSERT_TRUE(ASN1::encode(*value, &env, std::back_inserter(octets))) << where(v);
        EXPECT_EQ(PerTest::toHex(octets), v.hex) << where(v);
        ++compared;
    }
    EXPECT_GT(compared, 500);
}

TEST(PerErlangVectors, DecoderGivesTheValueBackAndReencodesIt)
{
    ASN1::CoderEnv env;
    for (auto const& v : vectors()) {
        auto expected = built(v);
        ASSERT_TRUE(expected) << where(v);
        std::vector<char> const octets = PerTest::fromHex(v.hex);
        auto value = PerTest::make(v.type);
        ASSERT_TRUE(ASN1::decode(octets.data(), octets.data() + octets.size(), &env, *value, true)) << where(v);
        EXPECT_TRUE(*value == *expected) << where(v);
        std::vector<char> again;
        ASSERT_TRUE(ASN1::encode(*value, &env, std::back_inserter(again))) << where(v);
        EXPECT_EQ(PerTest::toHex(again), v.hex) << where(v);
    }
}

// A message cut anywhere fails to decode, cleanly (run under ASan).
TEST(PerErlangVectors, EveryPrefixFails)
{
    ASN1::CoderEnv env;
    for (auto const& v : vectors()) {
        std::vector<char> const octets = PerTest::fromHex(v.hex);
        auto probe = built(v);
        std::vector<char> raw;
        ASN1::PEREncoder encoder(raw, true);
        ASSERT_TRUE(probe->accept(encoder));
        if (raw.empty())
            continue; // a value of no bits: its one octet is padding
        for (std::size_t n = 0; n < octets.size(); ++n) {
            // Exactly the octets of the prefix, so ASan sees any read past it.
            std::unique_ptr<char[]> cut(new char[n ? n : 1]);
            std::copy(octets.begin(), octets.begin() + long(n), cut.get());
            auto value = PerTest::make(v.type);
            EXPECT_FALSE(ASN1::decode(cut.get(), cut.get() + n, &env, *value, true))
                << where(v) << " cut to " << n << " octets";
        }
    }
}

} // namespace
