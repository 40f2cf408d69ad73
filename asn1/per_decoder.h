#pragma once
// Aligned-PER decoder: fills a value tree from octets received on a link.
// Every read is checked against the input; nothing is read or pointed to
// outside [first, last).

#include <cstddef>
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
    bool atEnd() const { return position >= size; }
    // Unread bits of the input.
    std::size_t getBitsLeft() const { return (size - position) * 8 + bitsLeft - 8; }
    // Offset of the octet holding the next unread bit.
    std::size_t getPosition() const { return position; }
    // True when nothing but the padding of the last octet is left.
    bool finished() const { return getBitsLeft() < 8; }

    bool decodeSingleBit(bool& bit);
    bool decodeMultiBit(unsigned nBits, unsigned& value);
    bool decodeBitMap(unsigned char* octets, unsigned nBits);
    unsigned decodeBlock(char* p, unsigned n);
    bool decodeSmallUnsigned(unsigned& value);
    int decodeUnsigned(unsigned lower, unsigned upper, unsigned& value);
    int decodeLength(unsigned lower, unsigned upper, unsigned& value);
    int decodeConstrainedLength(ConstrainedObject& object, unsigned& value);
    void byteAlign();
    // Moves to octet `offset` (at most the end), aligned.
    void setPosition(std::size_t offset);
    void rollback(memento_type const& m);

private:
    bool do_visit(Null&) override;
    bool do_visit(BOOLEAN&) override;
    bool do_visit(INTEGER&) override;
    bool do_visit(ENUMERATED&) override;
    bool do_visit(OBJECT_IDENTIFIER&) override;
    bool do_visit(OCTET_STRING&) override;
    bool do_visit(BIT_STRING&) override;
    bool do_visit(AbstractString&) override;
    bool do_visit(BMPString&) override;
    bool do_visit(CHOICE&) override;
    bool do_visit(SEQUENCE_OF_Base&) override;
    bool do_visit(OpenData&) override;
    bool do_revisit(OpenData&) override;
    bool do_visit(TypeConstrainedOpenData&) override;
    bool do_visit(GeneralizedTime&) override;
    int preVisitExtensionRoots(SEQUENCE&) override;
    int visitExtensionRoot(SEQUENCE&, int index, int optionalId) override;
    int preVisitExtensions(SEQUENCE&) override;
    int visitKnownExtension(SEQUENCE&, int index, int optionalIndex) override;
    bool visitUnknownExtensions(SEQUENCE&) override;

    // A general-form length that the rest of the input (aligned) can hold.
    bool decodeContentsLength(unsigned& length);
    // Decodes `value` from the next `length` octets alone and moves past them.
    bool decodeNested(AbstractData& value, unsigned length);
    bool decodeInteger(INTEGER& value);
    // The length of a string, checked against the limits and the input;
    // sizes the value.
    template <class String>
    bool decodeStringHead(String& value, PerStringLayout const& layout);

    char const* data;
    std::size_t size;
    std::size_t position;
    unsigned short bitsLeft;
    bool aligned_;
};

} // namespace ASN1
