#include "asn1/per_decoder.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace ASN1 {

PERDecoder::PERDecoder(char const* first, char const* last, CoderEnv* env, bool a)
    : Visitor(env), data(first), size(first && last > first ? std::size_t(last - first) : 0), bitCount(size * 8),
      bit(0), aligned_(a)
{
}

PERDecoder::~PERDecoder() = default;

bool PERDecoder::decodeSingleBit(bool& value)
{
    if (bit >= bitCount)
        return false;
    value = (static_cast<unsigned char>(data[bit >> 3]) >> (7 - (bit & 7))) & 1;
    ++bit;
    return true;
}

bool PERDecoder::decodeMultiBit(unsigned n, unsigned& value)
{
    if (n > 32 || n > bitCount - bit)
        return false;
    value = n == 0 ? 0 : peekBits(n);
    bit += n;
    return true;
}

void PERDecoder::byteAlign()
{
    bit = (bit + 7) & ~std::size_t(7);
}

unsigned PERDecoder::decodeBlock(char* p, unsigned n)
{
    if (n == 0)
        return 0;
    byteAlign();
    std::size_t const left = octetsLeft();
    unsigned const count = n < left ? n : unsigned(left);
    if (count != 0)
        std::memcpy(p, data + getPosition(), count);
    bit += std::size_t(count) * 8;
    return count;
}

bool PERDecoder::decodeBitMap(unsigned char* octets, unsigned nBits)
{
    if (nBits > bitCount - bit)
        return false;
    for (; nBits >= 8; nBits -= 8) {
        *octets++ = static_cast<unsigned char>(peekBits(8));
        bit += 8;
    }
    if (nBits != 0) {
        *octets = static_cast<unsigned char>(peekBits(nBits) << (8 - nBits));
        bit += nBits;
    }
    return true;
}

void PERDecoder::setPosition(std::size_t offset)
{
    bit = offset < size ? offset * 8 : bitCount;
}

void PERDecoder::rollback(memento_type const& m)
{
    if (!m.saved)
        return;
    setPosition(m.position);
    if (m.position < size && m.bitsLeft >= 1 && m.bitsLeft < 8)
        bit += 8 - m.bitsLeft;
}

int PERDecoder::decodeCountedUnsigned(unsigned lower, unsigned upper, unsigned& value)
{
    unsigned const span = upper - lower;
    unsigned octets, offset;
    if (decodeLength(1, (CountBits(span + 1) + 7) / 8, octets) < 0) // span + 1 == 0 stands for 2^32
        return -1;
    byteAlign();
    if (!decodeMultiBit(octets * 8, offset) || offset > span)
        return -1;
    value = offset + lower;
    return 0;
}

int PERDecoder::decodeLength(unsigned lower, unsigned upper, unsigned& value)
{
    if (upper <= 65535)
        return decodeUnsigned(lower, upper, value);
    byteAlign();
    unsigned first;
    if (atEnd() || !decodeMultiBit(8, first))
        return -1;
    unsigned n;
    if ((first & 0x80) == 0) {
        n = first;
    } else if ((first & 0x40) == 0) {
        unsigned second;
        if (!decodeMultiBit(8, second))
            return -1;
        n = ((first & 0x3F) << 8) | second;
    } else {
        return -1; // fragmented lengths are not read
    }
    if (n < lower || n > upper)
        return -1;
    value = n;
    return 0;
}

int PERDecoder::decodeConstrainedLength(ConstrainedObject& object, unsigned& value)
{
    unsigned const lower = unsigned(object.getLowerLimit());
    switch (object.getConstraintType()) {
    case ExtendableConstraint: {
        bool extension;
        if (!decodeSingleBit(extension))
            return -1;
        if (extension)
            return decodeLength(0, 0xFFFFFFFF, value);
        return decodeLength(lower, object.getUpperLimit(), value);
    }
    case FixedConstraint:
        return decodeLength(lower, object.getUpperLimit(), value);
    case PartiallyConstrained:
        // Written in the general form whatever the bound.
        return decodeLength(0, 0xFFFFFFFF, value) < 0 || value < lower ? -1 : 0;
    default:
        return decodeLength(0, 0xFFFFFFFF, value);
    }
}

bool PERDecoder::decodeSmallUnsigned(unsigned& value)
{
    bool large;
    if (!decodeSingleBit(large))
        return false;
    if (!large)
        return decodeMultiBit(6, value);
    unsigned octets;
    if (decodeLength(0, 0xFFFFFFFF, octets) < 0 || octets == 0 || octets > 4)
        return false;
    byteAlign();
    return decodeMultiBit(octets * 8, value);
}

bool PERDecoder::decodeContentsLength(unsigned& length)
{
    if (decodeLength(0, 0xFFFFFFFF, length) < 0)
        return false;
    return length <= octetsLeft(); // the general form leaves the input aligned
}

bool PERDecoder::decodeNested(AbstractData& value, unsigned length)
{
    PERDecoder nested(data + getPosition(), data + getPosition() + length, get_env(), aligned_);
    bool const ok = value.accept(nested);
    setPosition(getPosition() + length);
    return ok;
}

bool PERDecoder::do_visit(Null&)
{
    return true;
}

bool PERDecoder::do_visit(BOOLEAN& value)
{
    bool bit;
    if (!decodeSingleBit(bit))
        return false;
    value = bit;
    return true;
}

bool PERDecoder::decodeInteger(INTEGER& value)
{
    ConstraintType const type = value.getConstraintType();
    bool extension = false;
    if (type == ExtendableConstraint && !decodeSingleBit(extension))
        return false;
    if (extension || type == Unconstrained || type == PartiallyConstrained) {
        // Two's complement in a general-form count of octets.
        unsigned octets = 0;
        if (decodeLength(0, 0xFFFFFFFF, octets) < 0 || octets > 4)
            return false;
        unsigned bits = 0;
        if (octets != 0 && !decodeMultiBit(octets * 8, bits))
            return false;
        if (octets != 0 && octets < 4 && (bits >> (octets * 8 - 1)) != 0)
            bits |= ~0u << (octets * 8);
        int const v = int(bits);
        if (type == PartiallyConstrained && v < value.getLowerLimit())
            return false;
        value.setValue(v);
        return true;
    }
    unsigned v;
    if (decodeUnsigned(unsigned(value.getLowerLimit()), value.getUpperLimit(), v) < 0)
        return false;
    value.setValue(int(v));
    return true;
}

bool PERDecoder::do_visit(INTEGER& value)
{
    return decodeInteger(value);
}

bool PERDecoder::do_visit(ENUMERATED& value)
{
    unsigned v;
    if (value.extendable()) {
        bool extension;
        if (!decodeSingleBit(extension))
            return false;
        if (extension) {
            unsigned k;
            if (!decodeSmallUnsigned(k) || k == 0 || decodeUnsigned(0, k - 1, v) < 0)
                return false;
            value.setFromInt(int(v));
            return true;
        }
    }
    if (value.getMaximum() < 0 || decodeUnsigned(0, unsigned(value.getMaximum()), v) < 0)
        return false;
    value.setFromInt(int(v));
    return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& value)
{
    unsigned n;
    if (decodeLength(0, 255, n) < 0)
        return false;
    byteAlign();
    if (n > octetsLeft())
        return false;
    bool const ok = value.decodeCommon(data + getPosition(), n);
    bit += 8 * std::size_t(n);
    return ok;
}

bool PERDecoder::do_visit(OCTET_STRING& value)
{
    unsigned n;
    if (decodeConstrainedLength(value, n) < 0 || n > MaximumStringSize || uint64_t(n) * 8 > getBitsLeft())
        return false;
    value.resize(n);
    if (n <= 2) {
        for (unsigned i = 0; i < n; ++i) {
            unsigned octet;
            if (!decodeMultiBit(8, octet))
                return false;
            value[i] = char(octet);
        }
        return true;
    }
    if (decodeBlock(value.data(), n) != n) {
        value.clear();
        return false;
    }
    return true;
}

bool PERDecoder::do_visit(BIT_STRING& value)
{
    unsigned n;
    if (decodeConstrainedLength(value, n) < 0 || n > MaximumStringSize || n > getBitsLeft())
        return false;
    value.resize(n);
    if (n == 0)
        return true;
    unsigned char* octets = reinterpret_cast<unsigned char*>(value.getData().data());
    if (n <= 16)
        return decodeBitMap(octets, n);
    unsigned const count = (n + 7) / 8;
    if (decodeBlock(reinterpret_cast<char*>(octets), count) != count)
        return false;
    if (n % 8 != 0) // padding bits are not part of the value
        octets[count - 1] = static_cast<unsigned char>(octets[count - 1] & (0xFF00u >> (n % 8)));
    return true;
}

template <class String>
bool PERDecoder::decodeStringHead(String& value, PerStringLayout const& layout)
{
    unsigned n;
    if (decodeConstrainedLength(value, n) < 0 || n > MaximumStringSize || uint64_t(n) * layout.bits > getBitsLeft())
        return false;
    value.resize(n);
    return true;
}

bool PERDecoder::do_visit(AbstractString& value)
{
    PerStringLayout const layout(value);
    if (!decodeStringHead(value, layout))
        return false;
    unsigned const n = unsigned(value.size());
    if (layout.aligned) {
        if (layout.bits == 8) {
            if (decodeBlock(&value[0], n) != n) {
                value.clear();
                return false;
            }
            return true;
        }
        byteAlign();
    }
    for (unsigned i = 0; i < n; ++i) {
        unsigned v;
        if (!decodeMultiBit(layout.bits, v))
            return false;
        if (!layout.byCode) {
            if (v >= layout.setSize)
                return false;
            v = static_cast<unsigned char>(layout.set[v]);
        }
        value[i] = char(v);
    }
    return true;
}

bool PERDecoder::do_visit(BMPString& value)
{
    PerStringLayout const layout(value);
    if (!decodeStringHead(value, layout))
        return false;
    if (layout.aligned)
        byteAlign();
    uint32_t const first = uint32_t(value.getFirstChar());
    uint32_t const last = uint32_t(value.getLastChar());
    for (auto& c : value) {
        unsigned v;
        if (!decodeMultiBit(layout.bits, v))
            return false;
        uint32_t const code = first + v;
        if (code < first || code > last)
            return false;
        c = wchar_t(code);
    }
    return true;
}

bool PERDecoder::do_visit(CHOICE& value)
{
    // No test of the end here: a lone alternative of no bits may end the input.
    unsigned const roots = value.getNumChoices();
    bool extension = false;
    if (value.extendable() && !decodeSingleBit(extension))
        return false;
    if (extension) {
        unsigned k, length;
        if (!decodeSmallUnsigned(k) || k > 0x7FFFFFFFu - roots || !decodeContentsLength(length))
            return false;
        if (!value.select(int(roots + k))) {
            if (!value.isUnknownSelection())
                return false;
            // An alternative this side does not know: skip its contents.
            setPosition(getPosition() + length);
            return true;
        }
        return decodeNested(*value.getSelection(), length);
    }
    unsigned index = 0;
    if (roots == 0 || (roots > 1 && decodeUnsigned(0, roots - 1, index) < 0))
        return false;
    if (!value.select(int(index)) || !value.getSelection())
        return false;
    return value.getSelection()->accept(*this);
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& value)
{
    unsigned n;
    if (decodeConstrainedLength(value, n) < 0 || n > MaximumArraySize)
        return false;
    // Elements are made one at a time as they are read, so a count that the
    // input cannot back creates no more than the input holds.
    if (value.size() > n)
        value.erase(value.begin() + n, value.end());
    value.reserve(n); // pointers only: at most MaximumArraySize of them
    for (unsigned i = 0; i < n; ++i) {
        if (i == value.size())
            value.push_back(value.createElement());
        if (!(*(value.begin() + i))->accept(*this)) {
            value.erase(value.begin() + i, value.end());
            return false;
        }
    }
    return true;
}

bool PERDecoder::do_visit(OpenData& value)
{
    unsigned length;
    // An open value is never empty on the wire: a value of no bits is one octet.
    if (!decodeContentsLength(length) || length == 0 || length > MaximumStringSize)
        return false;
    auto* octets = new std::vector<char>(data + getPosition(), data + getPosition() + length);
    value.grab(octets);
    bit += 8 * std::size_t(length);
    return true;
}

bool PERDecoder::do_revisit(OpenData& value)
{
    if (!value.has_buf() || !value.has_data())
        return false;
    std::vector<char> const& octets = value.get_buf();
    PERDecoder nested(octets.data(), octets.data() + octets.size(), get_env(), aligned_);
    return value.get_data().accept(nested);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& value)
{
    unsigned length;
    if (!decodeContentsLength(length) || !value.has_data())
        return false;
    return decodeNested(value.get_data(), length);
}

bool PERDecoder::do_visit(GeneralizedTime& value)
{
    unsigned length;
    if (!decodeContentsLength(length) || length == 0)
        return false;
    std::string const text(data + getPosition(), length);
    bit += 8 * std::size_t(length);
    value.set(text.c_str());
    return true;
}

bool PERDecoder::do_visit(SEQUENCE& value)
{
    SEQUENCE::InfoType const* info = value.info();
    bool extension = false;
    if (info->extendable) {
        if (!decodeSingleBit(extension))
            return false;
        if (!extension && value.extensionMap().size() != 0)
            value.extensionMap().resize(0);
    }
    auto& optional = value.optionalMap();
    if (optional.size() != info->numOptional)
        optional.resize(info->numOptional);
    if (!decodeBitMap(reinterpret_cast<unsigned char*>(optional.getData().data()), info->numOptional))
        return false;
    for (unsigned i = 0; i < info->numRootFields; ++i) {
        int const id = info->fieldIds[i];
        if (id != -1 && !optional[unsigned(id)])
            continue;
        AbstractData* field = value.createField(i);
        if (!field || !field->accept(*this))
            return false;
    }
    return !extension || decodeExtensions(value);
}

bool PERDecoder::decodeExtensions(SEQUENCE& value)
{
    SEQUENCE::InfoType const* info = value.info();
    unsigned k;
    // k + 1 bits follow; a count beyond the limit is refused before it can wrap.
    if (!decodeSmallUnsigned(k) || k >= MaximumArraySize || k + 1 > getBitsLeft())
        return false;
    auto& map = value.extensionMap();
    map.resize(k + 1);
    if (!decodeBitMap(reinterpret_cast<unsigned char*>(map.getData().data()), k + 1))
        return false;
    for (unsigned e = 0; e < map.size(); ++e) {
        if (!map[e])
            continue;
        unsigned length;
        if (!decodeContentsLength(length))
            return false;
        if (e >= info->numExtensions) { // an addition this side does not know
            setPosition(getPosition() + length);
            continue;
        }
        AbstractData* field = value.createField(info->numRootFields + e);
        if (!field || !decodeNested(*field, length))
            return false;
    }
    return true;
}

} // namespace ASN1
