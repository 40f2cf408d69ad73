// Aligned-PER helpers shared by the protocol tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/coder_env.h"

namespace protocol_test {

inline std::string toHex(std::vector<char> const& octets)
{
    static char const digits[] = "0123456789abcdef";
    std::string s;
    for (char c : octets) {
        s += digits[(static_cast<unsigned char>(c) >> 4) & 15];
        s += digits[static_cast<unsigned char>(c) & 15];
    }
    return s;
}

inline std::vector<char> fromHex(std::string const& hex)
{
    std::vector<char> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

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
