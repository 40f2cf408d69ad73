// Values of the test types from their compact text, and coding them under
// one rule from and into buffers of exactly the input's size.
#pragma once

#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "asn1/coder_env.h"
#include "samples/asn1/ber_test_types.h"
#include "samples/asn1/per_test_types.h"
#include "samples/asn1/per_value_text.h"

namespace asn1_test {

using Rule = ASN1::CoderEnv::EncodingRules;
constexpr Rule PER = ASN1::CoderEnv::per_Aligned;
constexpr Rule BER = ASN1::CoderEnv::ber;

inline std::unique_ptr<ASN1::AbstractData> built(std::string const& type, std::string const& text)
{
    auto value = BerTest::make(type);
    EXPECT_TRUE(value && PerTest::build(*value, text)) << type << " " << text;
    return value;
}

// The octets in hex, or "failed"; a failed encode must write nothing.
inline std::string encoded(ASN1::AbstractData const& value, Rule rule = PER)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(rule);
    std::vector<char> out{'x'};
    if (!ASN1::encode(value, &env, std::back_inserter(out)))
        return out.size() == 1 ? "failed" : "failed, but wrote octets";
    return PerTest::toHex(std::vector<char>(out.begin() + 1, out.end()));
}

inline std::string encoded(std::string const& type, std::string const& text, Rule rule = PER)
{
    return encoded(*built(type, text), rule);
}

// Decodes from a copy of exactly the input's size, so that ASan sees any
// read past it.
inline bool decodeInto(ASN1::AbstractData& value, std::string const& hex, Rule rule = PER)
{
    std::vector<char> const octets = PerTest::fromHex(hex);
    std::unique_ptr<char[]> exact(new char[octets.empty() ? 1 : octets.size()]);
    std::copy(octets.begin(), octets.end(), exact.get());
    ASN1::CoderEnv env;
    env.set_encodingRule(rule);
    return ASN1::decode(exact.get(), exact.get() + octets.size(), &env, value, true);
}

// A fresh value decoded from hex; null when the decode fails.
inline std::unique_ptr<ASN1::AbstractData> decoded(std::string const& type, std::string const& hex, Rule rule = PER)
{
    auto value = BerTest::make(type);
    return decodeInto(*value, hex, rule) ? std::move(value) : nullptr;
}

inline bool decodes(std::string const& type, std::string const& hex, Rule rule = PER)
{
    return decoded(type, hex, rule) != nullptr;
}

inline bool decodesTo(std::string const& type, std::string const& hex, std::string const& text, Rule rule = PER)
{
    auto value = decoded(type, hex, rule);
    return value && *value == *built(type, text);
}

} // namespace asn1_test
