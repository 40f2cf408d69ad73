#pragma once
// BER decoder for definite lengths. Every length is checked against the
// element that holds it before anything is read or sized from it; nothing
// outside [first, last) is read.

#include <cstdint>
#include <vector>

#include "asn1/asn1.h"

namespace ASN1 {

class BERDecoder : public Visitor {
public:
    struct Header {
        unsigned tag = 0; // class bits << 16 | number; NoTag when the number needs more than 16 bits
        bool primitive = true;
        unsigned length = 0;
        char const* start = nullptr;    // the identifier octet
        char const* contents = nullptr; // the first content octet
        char const* end() const { return contents + length; }
    };
    static constexpr unsigned NoTag = 0xFFFFFFFFu;

    BERDecoder(char const* first, char const* last, CoderEnv* env);

    bool atEnd() const { return cur == end; }
    char const* position() const { return cur; }
    // Reads an identifier and a definite length whose contents lie within
    // the element being decoded; false (position unchanged) otherwise.
    bool decodeHeader(Header& h);

protected:
    ASN1_VISITOR_ENTRIES;
    int preVisitExtensionRoots(SEQUENCE& v) override;
    int visitExtensionRoot(SEQUENCE& v, int index, int optionalId) override;
    int visitKnownExtension(SEQUENCE& v, int index, int optionalIndex) override;
    bool visitUnknownExtensions(SEQUENCE& v) override;

private:
    // The tag the value's header must carry: the pending one, else its own.
    unsigned takeTag(AbstractData const& v);
    // A primitive header with the value's tag; `cur` is then at its contents.
    bool primitiveHeader(AbstractData const& v, Header& h);
    // A constructed header with `tag`; the element's end becomes the limit.
    bool enter(unsigned tag);
    // Back to the enclosing element's limit; false when contents are left.
    bool leave();
    bool readInteger(Header const& h, std::int64_t& v);
    int field(SEQUENCE& v, int index, int optionalId);

    char const* cur;
    char const* end; // end of the innermost element being decoded
    std::vector<char const*> sequenceEnds;
    // Tag of the next header: -1 the value's own, 0 no header.
    std::int64_t pendingTag = -1;
};

} // namespace ASN1
