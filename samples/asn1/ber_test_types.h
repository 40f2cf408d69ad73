#pragma once
// Type tables of the BerTest module (tests/asn1/ber/BerTest.asn), written by
// hand as a generated module would define them, plus a few types of our own
// for the decoder's failure cases.

#include <memory>
#include <string>

#include "asn1/asn1.h"

namespace BerTest {

// The table of a BerTest type, else of the PerTest type of that name; null
// for an unknown name.
void const* info(std::string const& type);
std::unique_ptr<ASN1::AbstractData> make(std::string const& type);

} // namespace BerTest
