#pragma once
// How the aligned-PER encoder and decoder lay out the characters of a string.

#include <cstdint>

#include "asn1/asn1.h"

namespace ASN1 {

struct PerStringLayout {
    unsigned bits;       // per character
    bool aligned;        // characters start on an octet
    bool byCode;         // a character is its own code, else its index in `set`
    char const* set;
    unsigned setSize;

    PerStringLayout(ConstrainedObject const& s, unsigned nBits, unsigned canonicalBits = 16,
                    char const* characters = nullptr, unsigned characterCount = 0)
        : bits(nBits), aligned(!s.constrained() || uint64_t(s.getUpperLimit()) * nBits >= 17),
          byCode(canonicalBits <= nBits && canonicalBits > 4), set(characters), setSize(characterCount)
    {
    }
    explicit PerStringLayout(AbstractString const& s)
        : PerStringLayout(s, s.getNumBits(true), s.getCanonicalSetBits(), s.getCharacterSet(),
                          s.getCharacterSetSize())
    {
    }
    explicit PerStringLayout(BMPString const& s) : PerStringLayout(s, s.getNumBits(true)) {}
};

} // namespace ASN1
