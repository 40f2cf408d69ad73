#pragma once
// Aligned-PER decoder: fills a value tree from octets received on a link.
// Every read is checked against the input; nothing is read or pointed to
// outside [first, last).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/per_layout.h"

namespace ASN1 {

class PERDecoder : public Visitor {
public:
    struct memento_type {
        std::size_t position;
        unsigned bitsLeft;
        bool saved;
    };

    PERDecoder(char const* first, char const* last, CoderEnv* env, bool aligned = true);
    ~PERDecoder() override;

    bool aligned() const { return aligned_; }
    bool atEnd() const { return bit >= bitCount; }
    // Unread bits of the input.
    std::size_t getBitsLeft() const { return bitCount - bit; }
    // Offset of the octet holding the next unread bit.
    std::size_t getPosition() const { return bit >> 3; }

    bool decodeSingleBit(bool& bit);
    bool decodeMultiBit(unsigned nBits, unsigned& value);
    bool decodeBitMap(unsigned char* octets, unsigned nBits);
    unsigned decodeBlock(char* p, unsigned n);
    bool decodeSmallUnsigned(unsigned& value);
    // A number in lower..upper: 0, or -1 when the input does not hold one.
    int decodeUnsigned(unsigned lower, unsigned upper, unsigned& value)
    {
        unsigned const span = upper - lower;
        unsigned offset;
        if (span == 0) {
            offset = 0;
        } else if (span < 255) { // a bit field
            unsigned const n = CountBits(span + 1);
            if (n > getBitsLeft())
                return -1;
            offset = peekBits(n);
            bit += n;
        } else if (span <= 0xFFFF) { // one octet for a range of 256, else two, aligned
            byteAlign();
            unsigned const octets = span <= 0xFF ? 1 : 2;
            if (octetsLeft() < octets)
                return -1;
            auto const* p = reinterpret_cast<unsigned char const*>(data) + getPosition();
            offset = octets == 1 ? p[0] : unsigned(p[0]) << 8 | p[1];
            bit += 8 * octets;
        } else {
            return decodeCountedUnsigned(lower, upper, value);
        }
        // A field wider than the range can carry numbers beyond its upper bound.
        if (offset > span)
            return -1;
        value = lower + offset;
        return 0;
    }
    int decodeLength(unsigned lower, unsigned upper, unsigned& value);
    int decodeConstrainedLength(ConstrainedObject& object, unsigned& value);
    void byteAlign();
    // Moves to octet `offset` (at most the end), aligned.
    void setPosition(std::size_t offset);
    void rollback(memento_type const& m);

private:
    ASN1_VISITOR_ENTRIES;
    bool do_visit(SEQUENCE&) override;

    // The extension additions of a SEQUENCE whose extension bit is set.
    bool decodeExtensions(SEQUENCE& value);
    // A number of a range above 65536: a count of octets, then the octets.
    int decodeCountedUnsigned(unsigned lower, unsigned upper, unsigned& value);
    // A general-form length that the rest of the input (aligned) can hold.
    bool decodeContentsLength(unsigned& length);
    // Decodes `value` from the next `length` octets alone and moves past them.
    bool decodeNested(AbstractData& value, unsigned length);
    bool decodeInteger(INTEGER& value);
    // The length of a string, checked against the limits and the input;
    // sizes the value.
    template <class String>
    bool decodeStringHead(String& value, PerStringLayout const& layout);

    // The next n bits (1 to 32), which the input holds.
    unsigned peekBits(unsigned n) const
    {
        // The octets from the one holding the next bit, as a big-endian
        // word: at most 7 + 32 bits of it are wanted.
        std::size_t const octet = bit >> 3;
        uint64_t word = 0;
        if (size - octet >= 8) {
            std::memcpy(&word, data + octet, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            word = __builtin_bswap64(word);
#endif
        } else {
            unsigned const octets = ((bit & 7) + n + 7) / 8;
            for (unsigned k = 0; k < octets; ++k)
                word |= uint64_t(static_cast<unsigned char>(data[octet + k])) << (56 - 8 * k);
        }
        return uint32_t((word << (bit & 7)) >> (64 - n));
    }
    std::size_t octetsLeft() const { return size - getPosition(); }

    char const* data;
    std::size_t size;
    std::size_t bitCount; // of the input
    std::size_t bit;      // offset of the next unread bit
    bool aligned_;
};

} // namespace ASN1
