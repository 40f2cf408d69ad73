// Aligned-PER helpers shared by the protocol tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/coder_env.h"
#include "samples/asn1/per_value_text.h"

namespace protocol_test {

using PerTest::fromHex;
using PerTest::toHex;

// The octets of a value; empty when the encoder refuses it.
inline std::vector<char> encode(ASN1::AbstractData const& value)
{
    ASN1::CoderEnv env;
    std::vector<char> octets;
    if (!env.encodePER(value, octets))
        octets.clear();
    return octets;
}

// A fresh value of the table's type decoded from the octets, or null.
inline std::unique_ptr<ASN1::AbstractData> decode(void const* info, std::vector<char> const& octets)
{
    std::unique_ptr<ASN1::AbstractData> value(ASN1::AbstractData::create(info));
    ASN1::CoderEnv env;
    if (!env.decode(octets.data(), octets.data() + octets.size(), *value))
        return nullptr;
    return value;
}

} // namespace protocol_test
