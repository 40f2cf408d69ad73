#pragma once
// Aligned-PER encoder: writes a value tree as the links carry it.

#include <cstddef>
#include <vector>

#include "asn1/asn1.h"

namespace ASN1 {

class PEREncoder : public ConstVisitor {
public:
    // Empties `out` and writes into it.
    PEREncoder(std::vector<char>& out, bool aligned = true);
    // Appends to `out` after its present octets.
    struct Append {};
    PEREncoder(std::vector<char>& out, Append, bool aligned = true);
    ~PEREncoder() override;

    bool aligned() const { return aligned_; }

    void encodeSingleBit(bool bit)
    {
        if (bitsLeft == 8)
            out.push_back(0);
        --bitsLeft;
        if (bit)
            out.back() = char(out.back() | (1u << bitsLeft));
        if (bitsLeft == 0)
            bitsLeft = 8;
    }
    // The low nBits (0 to 32) of value.
    void encodeMultiBit(unsigned value, unsigned nBits)
    {
        if (nBits < 32)
            value &= (1u << nBits) - 1;
        if (nBits < bitsLeft && bitsLeft != 8) { // within the last octet
            bitsLeft = static_cast<unsigned short>(bitsLeft - nBits);
            out.back() = char(out.back() | (value << bitsLeft));
        } else if (nBits != 0) {
            encodeSpanningBits(value, nBits);
        }
    }
    void byteAlign() { bitsLeft = 8; }
    void encodeByte(unsigned value);
    void encodeBlock(char const* p, unsigned n);
    void encodeBitMap(std::vector<char> const& octets, unsigned nBits);
    void encodeBitMap(unsigned char const* octets, unsigned nBits);
    void encodeSmallUnsigned(unsigned n);
    // False when the value is outside lower..upper.
    bool encodeUnsigned(unsigned value, unsigned lower, unsigned upper)
    {
        unsigned const offset = value - lower;
        unsigned const span = upper - lower;
        if (offset > span)
            return false;
        if (span < 255) { // a bit field
            if (span != 0)
                encodeMultiBit(offset, CountBits(span + 1));
        } else if (span <= 0xFFFF) { // one octet for a range of 256, else two, aligned
            byteAlign();
            if (span > 0xFF)
                out.push_back(char(offset >> 8));
            out.push_back(char(offset));
        } else {
            return encodeCountedUnsigned(offset, span);
        }
        return true;
    }
    bool encodeLength(unsigned length, unsigned lower, unsigned upper);
    // Writes the extension bit of an extensible constraint; true when the
    // value or length takes the unconstrained form.
    bool encodeConstraint(ConstrainedObject const& object, unsigned value);
    bool encodeConstrainedLength(ConstrainedObject const& object, unsigned length);
    // An open type: the value's own complete encoding behind a length.
    bool encodeAnyType(AbstractData const* value);

private:
    ASN1_CONST_VISITOR_ENTRIES;
    bool do_visit(SEQUENCE const&) override;

    bool encodeOctets(char const* p, unsigned n);
    // The length of a string of n units, unless it cannot be written.
    bool encodeSize(ConstrainedObject const& object, std::size_t n);
    // An offset of a range above 65536: a count of octets, then the octets.
    bool encodeCountedUnsigned(unsigned offset, unsigned span);
    void encodeSpanningBits(unsigned value, unsigned nBits);

    std::vector<char>& out;
    unsigned short bitsLeft;
    bool aligned_;
};

} // namespace ASN1
