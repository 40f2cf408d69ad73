#pragma once
// Type tables of the PerTest module (tests/asn1/per/PerTest.asn), written by
// hand as a generated module would define them, and a few of the tests' own:
// Counted (a list whose elements count their creation), Wrapped (a
// type-constrained open value of INTEGER (0..1023)), Ping (a CHOICE of one
// NULL) and Extras (what Deep lacks, for the fuzz target).

#include <memory>
#include <string>

#include "asn1/asn1.h"

namespace PerTest {

// The table of a PerTest type by its name; null for an unknown name.
void const* info(std::string const& type);
// A fresh value of a PerTest type.
std::unique_ptr<ASN1::AbstractData> make(std::string const& type);

} // namespace PerTest

namespace PerTest {

// Elements of the "Counted" list made since the last reset.
void resetCreated();
unsigned created();

} // namespace PerTest
