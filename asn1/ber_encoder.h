#pragma once
// BER encoder, definite lengths only. Every header is written before its
// contents: content lengths are counted in advance by DataLengthCounter.

#include <cstdint>
#include <vector>

#include "asn1/asn1.h"

namespace ASN1 {

// Content octets (1 to 4) of the shortest two's-complement form of v.
unsigned getIntegerDataLength(int v);
// The same for any 64-bit value (up to 8 octets).
unsigned getIntegerDataLength(std::int64_t v);
// Content length of the value's encoding.
unsigned getDataLength(AbstractData const& value);
// Length of the complete encoding when the value carries `tag` (0: no
// header, the contents alone).
unsigned getObjectLength(AbstractData const& value, unsigned tag);

// Whether an INTEGER goes out as its unsigned 32-bit number: a range that
// starts at 0 or above and has no extension (an extended value may be
// negative).
bool isUnsignedInteger(INTEGER const& v);

// True unless the value's header is constructed (SEQUENCE, SEQUENCE OF and
// the explicit wrapper of a CHOICE or open value).
bool isPrimitive(AbstractData const& value);

class PrimitiveChecker : public ConstVisitor {
public:
    bool isPrimitive() const { return primitive; }

protected:
    bool do_visit(CHOICE const&) override { return primitive = false; }
    bool do_visit(OpenData const&) override { return primitive = false; }
    bool do_visit(SEQUENCE_OF_Base const&) override { return primitive = false; }
    bool preVisitExtensionRoots(SEQUENCE const&) override { return primitive = false; }

private:
    bool primitive = true;
};

class DataLengthCounter : public ConstVisitor {
public:
    unsigned getDataLen() const { return length; }
    unsigned getObjectLen(unsigned tag) const;

protected:
    ASN1_CONST_VISITOR_ENTRIES;
    bool preVisitExtensionRoots(SEQUENCE const&) override { return true; }
    bool visitExtensionRoot(SEQUENCE const& v, int index) override;
    bool visitKnownExtension(SEQUENCE const& v, int index) override;

private:
    void add(std::uint64_t n);
    unsigned length = 0;
};

class BEREncoder : public ConstVisitor {
public:
    // Empties `out` and writes into it.
    explicit BEREncoder(std::vector<char>& out);

    void encodeByte(unsigned value) { out.push_back(static_cast<char>(value)); }
    void encodeBlock(char const* p, unsigned n) { out.insert(out.end(), p, p + n); }
    // Identifier and length octets of the value, with the pending tag.
    void encodeHeader(AbstractData const& value);

protected:
    ASN1_CONST_VISITOR_ENTRIES;
    bool preVisitExtensionRoots(SEQUENCE const& v) override;
    bool visitExtensionRoot(SEQUENCE const& v, int index) override;
    bool visitKnownExtension(SEQUENCE const& v, int index) override;

private:
    void encodeInteger(std::int64_t v);
    bool field(SEQUENCE const& v, int index);

    std::vector<char>& out;
    // Tag of the next header: -1 the value's own, 0 no header.
    int pendingTag = -1;
};

} // namespace ASN1
