#pragma once
// Builds a value from the compact description written beside each test
// vector by tests/asn1/per/gen_vectors.escript.

#include <string>
#include <vector>

#include "asn1/asn1.h"

namespace PerTest {

// Fills `value` (fresh, of the described type) from `text`; false when the
// text does not fit the type.
bool build(ASN1::AbstractData& value, std::string const& text);

inline std::vector<char> fromHex(std::string const& hex)
{
    std::vector<char> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string toHex(std::vector<char> const& octets)
{
    static char const digits[] = "0123456789abcdef";
    std::string out;
    for (char c : octets) {
        out += digits[static_cast<unsigned char>(c) >> 4];
        out += digits[static_cast<unsigned char>(c) & 15];
    }
    return out;
}

} // namespace PerTest
