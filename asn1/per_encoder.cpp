#include "asn1/per_encoder.h"

#include "asn1/per_layout.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace ASN1 {

namespace {

// Octet count of the general length form: lengths this encoder can write.
constexpr unsigned MaxGeneralLength = 8191;

unsigned extensionCount(SEQUENCE const& s) { return s.info()->numExtensions; }

// Extension additions the encoder can write whole: the known ones the
// value's map holds. Bits of additions the type does not know (kept from a
// decode) have no contents here and are not written.
unsigned writableExtensions(SEQUENCE const& s)
{
    unsigned const held = s.extensionMap().size();
    unsigned const known = extensionCount(s);
    return held < known ? held : known;
}

bool anyWritableExtension(SEQUENCE const& s)
{
    unsigned const n = writableExtensions(s);
    for (unsigned k = 0; k < n; ++k)
        if (s.extensionMap()[k])
            return true;
    return false;
}

} // namespace

PEREncoder::PEREncoder(std::vector<char>& o, bool a) : out(o), bitsLeft(8), aligned_(a)
{
    out.clear();
    out.reserve(256);
}

PEREncoder::PEREncoder(std::vector<char>& o, Append, bool a) : out(o), bitsLeft(8), aligned_(a)
{
    out.reserve(out.size() + 256);
}

PEREncoder::~PEREncoder() = default;

void PEREncoder::encodeSpanningBits(unsigned value, unsigned n)
{
    // The new bits after those in use of the last octet, as a big-endian word.
    unsigned const used = 8u - bitsLeft;
    unsigned const total = used + n; // at most 7 + 32
    uint64_t const word = uint64_t(value) << (64 - total);
    if (used != 0)
        out.back() = char(out.back() | char(word >> 56));
    else
        out.push_back(char(word >> 56));
    for (unsigned k = 1; k < (total + 7) / 8; ++k)
        out.push_back(char(word >> (56 - 8 * k)));
    bitsLeft = static_cast<unsigned short>(total % 8 ? 8 - total % 8 : 8);
}

void PEREncoder::encodeByte(unsigned value)
{
    byteAlign();
    out.push_back(char(value));
}

void PEREncoder::encodeBlock(char const* p, unsigned n)
{
    if (n == 0)
        return;
    byteAlign();
    out.insert(out.end(), p, p + n);
}

void PEREncoder::encodeBitMap(unsigned char const* octets, unsigned nBits)
{
    unsigned i = 0;
    for (; nBits >= 8; nBits -= 8)
        encodeMultiBit(octets[i++], 8);
    if (nBits != 0)
        encodeMultiBit(unsigned(octets[i]) >> (8 - nBits), nBits);
}

void PEREncoder::encodeBitMap(std::vector<char> const& octets, unsigned nBits)
{
    encodeBitMap(reinterpret_cast<unsigned char const*>(octets.data()), nBits);
}

void PEREncoder::encodeSmallUnsigned(unsigned n)
{
    if (n <= 63) {
        encodeMultiBit(n, 7);
        return;
    }
    encodeSingleBit(true);
    unsigned const c = n < 0x100 ? 1 : n < 0x10000 ? 2 : n <= 0xFFFFFF ? 3 : 4;
    encodeLength(c, 0, 0x7FFFFFFF);
    byteAlign();
    encodeMultiBit(n, c * 8);
}

bool PEREncoder::encodeCountedUnsigned(unsigned offset, unsigned span)
{
    unsigned const octets = offset == 0 ? 1 : (CountBits(offset + 1) + 7) / 8;
    if (!encodeLength(octets, 1, (CountBits(span + 1) + 7) / 8)) // span + 1 == 0 stands for 2^32
        return false;
    byteAlign();
    encodeMultiBit(offset, octets * 8);
    return true;
}

bool PEREncoder::encodeLength(unsigned n, unsigned lower, unsigned upper)
{
    if (n < lower || n > upper)
        return false;
    if (upper <= 65535)
        return encodeUnsigned(n, lower, upper);
    if (n > MaxGeneralLength)
        return false;
    byteAlign();
    if (n < 128)
        encodeMultiBit(n, 8);
    else
        encodeMultiBit(0x8000 | n, 16);
    return true;
}

bool PEREncoder::encodeConstraint(ConstrainedObject const& object, unsigned v)
{
    switch (object.getConstraintType()) {
    case ExtendableConstraint: {
        int const lower = object.getLowerLimit();
        unsigned const upper = object.getUpperLimit();
        bool outside;
        if (lower < 0) // a signed range: compare both ends as signed numbers
            outside = int(v) < lower || int(v) > int(upper);
        else
            outside = v < unsigned(lower) || v > upper;
        encodeSingleBit(outside);
        return outside;
    }
    case FixedConstraint:
        return false;
    default:
        return true;
    }
}

bool PEREncoder::encodeConstrainedLength(ConstrainedObject const& object, unsigned n)
{
    if (!encodeConstraint(object, n))
        return encodeLength(n, unsigned(object.getLowerLimit()), object.getUpperLimit());
    return encodeLength(n, 0, 0x7FFFFFFF);
}

bool PEREncoder::encodeSize(ConstrainedObject const& object, std::size_t n)
{
    return n <= 0xFFFFFFFFu && encodeConstrainedLength(object, unsigned(n));
}

bool PEREncoder::encodeAnyType(AbstractData const* value)
{
    std::vector<char> inner;
    if (value) {
        PEREncoder nested(inner, aligned_);
        if (!value->accept(nested))
            return false;
    }
    if (inner.empty())
        inner.push_back(0);
    return encodeOctets(inner.data(), unsigned(inner.size()));
}

bool PEREncoder::encodeOctets(char const* p, unsigned n)
{
    if (!encodeLength(n, 0, 0x7FFFFFFF))
        return false;
    encodeBlock(p, n);
    return true;
}

bool PEREncoder::do_visit(Null const&)
{
    return true;
}

bool PEREncoder::do_visit(BOOLEAN const& value)
{
    encodeSingleBit(bool(value));
    return true;
}

bool PEREncoder::do_visit(INTEGER const& value)
{
    int const v = value.getValue();
    if (value.getConstraintType() == FixedConstraint) // the common case, first
        return encodeUnsigned(unsigned(v), unsigned(value.getLowerLimit()), value.getUpperLimit());
    if (!encodeConstraint(value, unsigned(v)))
        return encodeUnsigned(unsigned(v), unsigned(value.getLowerLimit()), value.getUpperLimit());
    // Written signed: a number above the int range would come back negative.
    if (!value.holds(value.numericValue()))
        return false;
    // Two's complement in as few octets as the value needs, sign bit included.
    unsigned nBits;
    if (v == 0)
        nBits = 1;
    else if (v > 0)
        nBits = CountBits(unsigned(v) + 1) + 1;
    else
        nBits = CountBits(0u - unsigned(v)) + 1;
    unsigned const octets = (nBits + 7) / 8;
    encodeLength(octets, 0, 0x7FFFFFFF);
    encodeMultiBit(unsigned(v), octets * 8);
    return true;
}

bool PEREncoder::do_visit(ENUMERATED const& value)
{
    int const v = value.asInt();
    int const maximum = value.getMaximum();
    if (value.extendable()) {
        bool const extension = v > maximum;
        encodeSingleBit(extension);
        if (extension) {
            encodeSmallUnsigned(unsigned(v) + 1);
            return encodeUnsigned(unsigned(v), 0, unsigned(v));
        }
    }
    return encodeUnsigned(unsigned(v), 0, unsigned(maximum));
}

bool PEREncoder::do_visit(OBJECT_IDENTIFIER const& value)
{
    std::vector<char> contents;
    value.encodeCommon(contents);
    if (!encodeLength(unsigned(contents.size() > 0xFFFF ? 0xFFFF : contents.size()), 0, 255))
        return false;
    encodeBlock(contents.data(), unsigned(contents.size()));
    return true;
}

bool PEREncoder::do_visit(BIT_STRING const& value)
{
    unsigned const n = value.size();
    if (!encodeConstrainedLength(value, n))
        return false;
    if (n > 16)
        encodeBlock(value.getData().data(), (n + 7) / 8);
    else if (n != 0)
        encodeBitMap(value.getData(), n);
    return true;
}

bool PEREncoder::do_visit(OCTET_STRING const& value)
{
    if (!encodeSize(value, value.size()))
        return false;
    unsigned const n = unsigned(value.size());
    if (n <= 2) {
        for (unsigned i = 0; i < n; ++i)
            encodeMultiBit(static_cast<unsigned char>(value[i]), 8);
    } else {
        encodeBlock(value.data(), n);
    }
    return true;
}

bool PEREncoder::do_visit(AbstractString const& value)
{
    if (!encodeSize(value, value.size()))
        return false;
    unsigned const n = unsigned(value.size());
    PerStringLayout const layout(value);
    if (layout.aligned) {
        if (layout.bits == 8) {
            encodeBlock(value.data(), n);
            return true;
        }
        byteAlign();
    }
    for (char c : value) {
        unsigned index = static_cast<unsigned char>(c);
        if (!layout.byCode) {
            index = 0;
            while (index < layout.setSize && layout.set[index] != c)
                ++index;
            if (index == layout.setSize)
                return false;
        }
        encodeMultiBit(index, layout.bits);
    }
    return true;
}

bool PEREncoder::do_visit(BMPString const& value)
{
    if (!encodeSize(value, value.size()))
        return false;
    PerStringLayout const layout(value);
    if (layout.aligned)
        byteAlign();
    uint32_t const first = uint32_t(value.getFirstChar());
    uint32_t const last = uint32_t(value.getLastChar());
    for (wchar_t c : value) {
        uint32_t const code = uint32_t(c);
        // A character the type cannot carry is refused, never cut.
        if (code < first || code > last || (layout.bits < 32 && code - first >= (1u << layout.bits)))
            return false;
        encodeMultiBit(code - first, layout.bits);
    }
    return true;
}

bool PEREncoder::do_visit(CHOICE const& value)
{
    int const selection = value.currentSelection();
    AbstractData const* selected = value.getSelection();
    if (selection < 0 || unsigned(selection) >= value.info()->totalChoices || !selected)
        return false;
    unsigned const roots = value.getNumChoices();
    if (value.extendable()) {
        bool const extension = unsigned(selection) >= roots;
        encodeSingleBit(extension);
        if (extension) {
            encodeSmallUnsigned(unsigned(selection) - roots);
            return encodeAnyType(selected);
        }
    } else if (unsigned(selection) >= roots) {
        return false;
    }
    if (roots > 1 && !encodeUnsigned(unsigned(selection), 0, roots - 1))
        return false;
    return selected->accept(*this);
}

bool PEREncoder::do_visit(OpenData const& value)
{
    if (value.has_data())
        return encodeAnyType(&value.get_data());
    if (value.has_buf() && !value.get_buf().empty())
        return encodeOctets(value.get_buf().data(), unsigned(value.get_buf().size()));
    return encodeAnyType(nullptr);
}

bool PEREncoder::do_visit(GeneralizedTime const& value)
{
    std::string const text = value.get();
    return encodeOctets(text.data(), unsigned(text.size()));
}

bool PEREncoder::do_visit(SEQUENCE_OF_Base const& value)
{
    if (!encodeConstrainedLength(value, value.size()))
        return false;
    for (auto it = value.begin(); it != value.end(); ++it)
        if (!(*it)->accept(*this))
            return false;
    return true;
}

bool PEREncoder::do_visit(SEQUENCE const& value)
{
    SEQUENCE::InfoType const* info = value.info();
    bool const extensions = info->extendable && anyWritableExtension(value);
    if (info->extendable)
        encodeSingleBit(extensions);
    auto const& optional = value.optionalMap();
    encodeBitMap(reinterpret_cast<unsigned char const*>(optional.getData().data()), optional.size());
    for (unsigned i = 0; i < info->numRootFields; ++i) {
        int const id = info->fieldIds[i];
        if (id != -1 && !value.hasOptionalField(unsigned(id)))
            continue;
        AbstractData const* field = value.getField(i);
        if (!field || !field->accept(*this)) // present without an object: broken value
            return false;
    }
    auto const& map = value.extensionMap();
    if (map.size() == 0)
        return true;
    if (extensions) {
        unsigned const n = writableExtensions(value);
        encodeSmallUnsigned(n - 1);
        encodeBitMap(reinterpret_cast<unsigned char const*>(map.getData().data()), n);
    }
    for (unsigned k = 0; k < info->numExtensions; ++k) {
        if (!map[k])
            continue;
        AbstractData const* field = value.getField(info->numRootFields + k);
        if (!field || (extensions && !encodeAnyType(field)))
            return false;
    }
    return true;
}

} // namespace ASN1
