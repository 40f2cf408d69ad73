// Our codecs against the octets Erlang/OTP's asn1 encoded: per/per_vectors.txt
// and ber/ber_vectors.txt, made by the gen_vectors.escript beside each from
// the module there. The printer and parser go over the same values.
#include <fstream>
#include <sstream>

#include "asn1/avn_decoder.h"
#include "asn1/per_encoder.h"
#include "tests/asn1/helpers.h"

namespace {

using namespace asn1_test;

struct Vector {
    std::string where, type, mode, hex;
    std::vector<char> octets;
    std::unique_ptr<ASN1::AbstractData> value; // null when the text does not fit the type
};

std::vector<Vector> load(char const* file)
{
    std::vector<Vector> all;
    std::ifstream in(std::string(TEST_SOURCE_DIR "/") + file);
    std::string line, text;
    for (int n = 1; std::getline(in, line); ++n) {
        Vector v;
        std::istringstream(line) >> v.type >> v.mode >> v.hex >> text;
        v.where = std::string(file) + ":" + std::to_string(n) + " " + v.type + " " + text.substr(0, 80);
        v.octets = PerTest::fromHex(v.hex);
        v.value = BerTest::make(v.type);
        if (v.value && !PerTest::build(*v.value, text))
            v.value.reset();
        all.push_back(std::move(v));
    }
    return all;
}

std::vector<Vector> const& vectors(Rule rule)
{
    static std::vector<Vector> const per = load("per/per_vectors.txt"), ber = load("ber/ber_vectors.txt");
    return rule == PER ? per : ber;
}

class ErlangVectors : public ::testing::TestWithParam<Rule> {};

INSTANTIATE_TEST_SUITE_P(Rules, ErlangVectors, ::testing::Values(PER, BER),
                         [](auto const& info) { return info.param == PER ? "Per" : "Ber"; });

// Values that hold extension additions without the last one are only
// decoded ("dec"): our PER encoder sizes the extension map to the additions
// the value holds (see PerDepartures.ExtensionMapCoversHeldAdditions).
TEST_P(ErlangVectors, EncoderGivesErlangOctets)
{
    ASSERT_GT(vectors(GetParam()).size(), 500u);
    for (auto const& v : vectors(GetParam())) {
        ASSERT_TRUE(v.value) << v.where;
        if (v.mode == "both") {
            EXPECT_EQ(encoded(*v.value, GetParam()), v.hex) << v.where;
        }
    }
}

TEST_P(ErlangVectors, DecoderGivesTheValueBackAndReencodesIt)
{
    for (auto const& v : vectors(GetParam())) {
        auto value = decoded(v.type, v.hex, GetParam());
        ASSERT_TRUE(value) << v.where;
        EXPECT_TRUE(*value == *v.value) << v.where << "\n" << value->asValueNotation();
        EXPECT_EQ(encoded(*value, GetParam()), v.hex) << v.where;
    }
}

// Cut anywhere, a message fails cleanly; followed by one more octet, it
// decodes as without it. The buffers are of the input's own size so ASan
// sees any read past them.
TEST_P(ErlangVectors, EveryTruncationFailsAndTrailingOctetsAreIgnored)
{
    for (auto const& v : vectors(GetParam())) {
        // a PER value of no bits is one octet of padding, or none
        std::vector<char> bits;
        ASN1::PEREncoder encoder(bits, true);
        if (GetParam() == BER || (v.value->accept(encoder) && !bits.empty())) {
            for (std::size_t n = 0; n < v.hex.size(); n += 2)
                EXPECT_FALSE(decodes(v.type, v.hex.substr(0, n), GetParam())) << v.where << " cut to " << n / 2;
        }
        auto longer = decoded(v.type, v.hex + "00", GetParam());
        EXPECT_TRUE(longer && *longer == *v.value) << v.where;
    }
}

// The printer's text of every value reads back into an equal value, through
// the stream operator and through the coding environment's rule 0.
TEST(ValueNotationRoundTrip, EveryVectorValue)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::avn);
    for (auto const& v : vectors(BER)) {
        std::string const text = v.value->asValueNotation();
        auto parsed = BerTest::make(v.type);
        std::istringstream in(text);
        ASSERT_TRUE(in >> *parsed) << v.where << "\n" << text;
        EXPECT_TRUE(*parsed == *v.value) << v.where << "\n" << text << "\n" << parsed->asValueNotation();

        std::string encoded;
        ASSERT_TRUE(ASN1::encode(*v.value, &env, std::back_inserter(encoded))) << v.where;
        EXPECT_EQ(encoded, text);
        auto again = BerTest::make(v.type);
        ASSERT_TRUE(ASN1::decode(encoded.data(), encoded.data() + encoded.size(), &env, *again, true)) << v.where;
        EXPECT_TRUE(*again == *v.value) << v.where;
    }
}

} // namespace
