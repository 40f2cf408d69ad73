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

std::vector<char> fromHex(std::string const& hex);
std::string toHex(std::vector<char> const& octets);

} // namespace PerTest
