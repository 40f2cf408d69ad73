// Our BER codec against the octets Erlang/OTP's asn1 encoded
// (ber/ber_vectors.txt, made by ber/gen_vectors.escript), and the printer and
// parser over the same values.
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "asn1/avn_decoder.h"
#include "asn1/coder_env.h"
#include "tests/asn1/ber_test_types.h"
#include "tests/asn1/per_value_text.h"

namespace {

struct Vector {
    int line;
    std::string type, hex, text;
    std::vector<char> octets;
    std::unique_ptr<ASN1::AbstractData> value;

    std::string where() const
    {
        return "ber_vectors.txt:" + std::to_string(line) + " " + type + " " + text.substr(0, 80);
    }
};

std::vector<Vector> const& vectors()
{
    static std::vector<Vector> const all = [] {
        std::vector<Vector> v;
        std::ifstream in(TEST_SOURCE_DIR "/ber/ber_vectors.txt");
        std::string line, mode;
        for (int n = 1; std::getline(in, line); ++n) {
            Vector vec{n, {}, {}, {}, {}, {}};
            std::istringstream(line) >> vec.type >> mode >> vec.hex >> vec.text;
            vec.octets = PerTest::fromHex(vec.hex);
            vec.value = BerTest::make(vec.type);
            if (vec.value && !PerTest::build(*vec.value, vec.text))
                vec.value.reset();
            v.push_back(std::move(vec));
        }
        return v;
    }();
    return all;
}

ASN1::CoderEnv berEnv()
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    return env;
}

TEST(BerErlangVectors, EveryVectorDescribesAValue)
{
    ASSERT_GT(vectors().size(), 600u);
    for (auto const& v : vectors())
        ASSERT_TRUE(v.value) << v.where();
}

TEST(BerErlangVectors, EncoderGivesErlangOctets)
{
    ASN1::CoderEnv env = berEnv();
    for (auto const& v : vectors()) {
        std::vector<char> octets;
        ASSERT_TRUE(ASN1::encode(*v.value, &env, std::back_inserter(octets))) << v.where();
        EXPECT_EQ(PerTest::toHex(octets), v.hex) << v.where();
    }
}

TEST(BerErlangVectors, DecoderGivesTheValueBack)
{
    ASN1::CoderEnv env = berEnv();
    for (auto const& v : vectors()) {
        auto value = BerTest::make(v.type);
        ASSERT_TRUE(ASN1::decode(v.octets.data(), v.octets.data() + v.octets.size(), &env, *value, true))
            << v.where();
        EXPECT_TRUE(*value == *v.value) << v.where() << "\n" << value->asValueNotation();
    }
}

// Cut anywhere, or followed by one more octet, a message fails cleanly; the
// prefixes sit in buffers of their own size so ASan sees any read past them.
TEST(BerErlangVectors, EveryTruncationAndTrailingOctetFails)
{
    ASN1::CoderEnv env = berEnv();
    for (auto const& v : vectors()) {
        for (std::size_t n = 0; n < v.octets.size(); ++n) {
            std::unique_ptr<char[]> cut(new char[n ? n : 1]);
            std::copy(v.octets.begin(), v.octets.begin() + long(n), cut.get());
            auto value = BerTest::make(v.type);
            EXPECT_FALSE(ASN1::decode(cut.get(), cut.get() + n, &env, *value, true))
                << v.where() << " cut to " << n << " octets";
        }
        std::vector<char> longer = v.octets;
        longer.push_back(0);
        auto value = BerTest::make(v.type);
        EXPECT_FALSE(ASN1::decode(longer.data(), longer.data() + longer.size(), &env, *value, true)) << v.where();
    }
}

// The printer's text of every value reads back into an equal value, through
// the stream operator and through the coding environment's rule 0.
TEST(ValueNotationRoundTrip, EveryVectorValue)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::avn);
    for (auto const& v : vectors()) {
        std::string const text = v.value->asValueNotation();
        auto parsed = BerTest::make(v.type);
        std::istringstream in(text);
        ASSERT_TRUE(in >> *parsed) << v.where() << "\n" << text;
        EXPECT_TRUE(*parsed == *v.value) << v.where() << "\n" << text << "\n" << parsed->asValueNotation();

        std::string encoded;
        ASSERT_TRUE(ASN1::encode(*v.value, &env, std::back_inserter(encoded))) << v.where();
        EXPECT_EQ(encoded, text);
        auto again = BerTest::make(v.type);
        ASSERT_TRUE(ASN1::decode(encoded.data(), encoded.data() + encoded.size(), &env, *again, true)) << v.where();
        EXPECT_TRUE(*again == *v.value) << v.where();
    }
}

} // namespace
