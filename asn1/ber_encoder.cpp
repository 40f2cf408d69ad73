// BER encoder.
#include "asn1/ber_encoder.h"

namespace ASN1 {

namespace {

constexpr unsigned tagNumber(unsigned tag) { return tag & 0xFFFF; }
constexpr unsigned tagClassBits(unsigned tag) { return (tag >> 16) & 0xC0; }

unsigned identifierLength(unsigned tag)
{
    unsigned n = tagNumber(tag);
    if (n < 31)
        return 1;
    unsigned groups = 1;
    while (n >>= 7)
        ++groups;
    return 1 + groups;
}

unsigned lengthLength(unsigned length)
{
    if (length < 128)
        return 1;
    unsigned n = 1;
    while (length >>= 8)
        ++n;
    return 1 + n;
}

// An identifier of two arcs or more whose first subidentifier says what the
// arcs say (X.690 joins the first two arcs).
bool encodableIdentifier(OBJECT_IDENTIFIER const& v)
{
    return v.levels() >= 2 && v[0] <= 2 && (v[0] == 2 || v[1] < 40);
}

bool bmpCharacters(BMPString const& v)
{
    for (wchar_t c : v)
        if (c < 0 || c > 0xFFFF)
            return false;
    return true;
}

// 4294967295 of an INTEGER (0..4294967295) is not sent as -1.
std::int64_t integerNumber(INTEGER const& v)
{
    return isUnsignedInteger(v) ? std::int64_t(static_cast<unsigned>(v.getValue())) : v.getValue();
}

} // namespace

bool isUnsignedInteger(INTEGER const& v) { return v.isUnsigned() && !v.extendable(); }

unsigned getIntegerDataLength(int v) { return getIntegerDataLength(std::int64_t(v)); }

unsigned getIntegerDataLength(std::int64_t v)
{
    unsigned n = 1;
    // another octet while the top nine bits of the form are not all the sign
    while (n < 8 && (v < -(std::int64_t(1) << (8 * n - 1)) || v >= (std::int64_t(1) << (8 * n - 1))))
        ++n;
    return n;
}

unsigned getDataLength(AbstractData const& value)
{
    DataLengthCounter counter;
    value.accept(counter);
    return counter.getDataLen();
}

unsigned getObjectLength(AbstractData const& value, unsigned tag)
{
    DataLengthCounter counter;
    value.accept(counter);
    return tag == 0 ? counter.getDataLen() : counter.getObjectLen(tag);
}

bool isPrimitive(AbstractData const& value)
{
    PrimitiveChecker checker;
    value.accept(checker);
    return checker.isPrimitive();
}

// ---------------------------------------------------------------- lengths

unsigned DataLengthCounter::getObjectLen(unsigned tag) const
{
    return identifierLength(tag) + lengthLength(length) + length;
}

void DataLengthCounter::add(std::uint64_t n) { length += static_cast<unsigned>(n); }

bool DataLengthCounter::do_visit(Null const&) { return true; }

bool DataLengthCounter::do_visit(BOOLEAN const&)
{
    add(1);
    return true;
}

bool DataLengthCounter::do_visit(INTEGER const& v)
{
    add(getIntegerDataLength(integerNumber(v)));
    return true;
}

bool DataLengthCounter::do_visit(ENUMERATED const& v)
{
    add(getIntegerDataLength(v.asInt()));
    return true;
}

bool DataLengthCounter::do_visit(OBJECT_IDENTIFIER const& v)
{
    std::vector<char> contents;
    v.encodeCommon(contents);
    add(contents.size());
    return true;
}

bool DataLengthCounter::do_visit(BIT_STRING const& v)
{
    add((std::uint64_t(v.size()) + 7) / 8 + 1);
    return true;
}

bool DataLengthCounter::do_visit(OCTET_STRING const& v)
{
    add(v.size());
    return true;
}

bool DataLengthCounter::do_visit(AbstractString const& v)
{
    add(v.size());
    return true;
}

bool DataLengthCounter::do_visit(BMPString const& v)
{
    add(2 * std::uint64_t(v.size()));
    return true;
}

bool DataLengthCounter::do_visit(CHOICE const& v)
{
    if (v.currentSelection() >= 0 && v.getSelection() && !v.isUnknownSelection())
        add(getObjectLength(*v.getSelection(), v.getSelectionTag()));
    return true;
}

bool DataLengthCounter::do_visit(OpenData const& v)
{
    if (v.has_data())
        add(getObjectLength(v.get_data(), v.get_data().getTag()));
    else if (v.has_buf())
        add(v.get_buf().size());
    return true;
}

bool DataLengthCounter::do_visit(GeneralizedTime const& v)
{
    add(v.get().size());
    return true;
}

bool DataLengthCounter::do_visit(SEQUENCE_OF_Base const& v)
{
    for (AbstractData const* e : v)
        add(getObjectLength(*e, e->getTag()));
    return true;
}

bool DataLengthCounter::visitExtensionRoot(SEQUENCE const& v, int index)
{
    add(getObjectLength(*v.getField(unsigned(index)), v.getFieldTag(index)));
    return true;
}

bool DataLengthCounter::visitKnownExtension(SEQUENCE const& v, int index) { return visitExtensionRoot(v, index); }

// ---------------------------------------------------------------- encoder

BEREncoder::BEREncoder(std::vector<char>& o) : out(o)
{
    out.clear();
    out.reserve(256);
}

void BEREncoder::encodeHeader(AbstractData const& value)
{
    unsigned tag = pendingTag == -1 ? value.getTag() : unsigned(pendingTag);
    pendingTag = -1;
    unsigned identifier = tagClassBits(tag) | (isPrimitive(value) ? 0 : 0x20);
    unsigned number = tagNumber(tag);
    if (number < 31) {
        encodeByte(identifier | number);
    } else {
        encodeByte(identifier | 0x1F);
        unsigned shift = 7 * (identifierLength(tag) - 2);
        for (; shift > 0; shift -= 7)
            encodeByte(0x80 | ((number >> shift) & 0x7F));
        encodeByte(number & 0x7F);
    }
    unsigned length = getDataLength(value);
    unsigned n = lengthLength(length) - 1;
    if (n == 0) {
        encodeByte(length);
        return;
    }
    encodeByte(0x80 | n);
    while (n--)
        encodeByte(length >> (8 * n));
}

void BEREncoder::encodeInteger(std::int64_t v)
{
    for (unsigned n = getIntegerDataLength(v); n-- > 0;)
        encodeByte(static_cast<unsigned>(static_cast<std::uint64_t>(v) >> (8 * n)));
}

bool BEREncoder::do_visit(Null const& v)
{
    encodeHeader(v);
    return true;
}

bool BEREncoder::do_visit(BOOLEAN const& v)
{
    encodeHeader(v);
    encodeByte(v ? 0xFF : 0x00);
    return true;
}

bool BEREncoder::do_visit(INTEGER const& v)
{
    encodeHeader(v);
    encodeInteger(integerNumber(v));
    return true;
}

bool BEREncoder::do_visit(ENUMERATED const& v)
{
    encodeHeader(v);
    encodeInteger(v.asInt());
    return true;
}

bool BEREncoder::do_visit(OBJECT_IDENTIFIER const& v)
{
    if (!encodableIdentifier(v))
        return false;
    encodeHeader(v);
    std::vector<char> contents;
    v.encodeCommon(contents);
    out.insert(out.end(), contents.begin(), contents.end());
    return true;
}

bool BEREncoder::do_visit(BIT_STRING const& v)
{
    encodeHeader(v);
    encodeByte((8 - v.size() % 8) % 8);
    unsigned n = (v.size() + 7) / 8;
    encodeBlock(v.getData().data(), n);
    if (v.size() % 8) // unused bits go out as zeros
        out.back() = static_cast<char>(static_cast<unsigned char>(out.back()) & (0xFF00 >> (v.size() % 8)));
    return true;
}

bool BEREncoder::do_visit(OCTET_STRING const& v)
{
    encodeHeader(v);
    encodeBlock(v.data(), unsigned(v.size()));
    return true;
}

bool BEREncoder::do_visit(AbstractString const& v)
{
    encodeHeader(v);
    encodeBlock(v.data(), unsigned(v.size()));
    return true;
}

bool BEREncoder::do_visit(BMPString const& v)
{
    if (!bmpCharacters(v))
        return false;
    encodeHeader(v);
    for (wchar_t c : v) {
        encodeByte(unsigned(c) >> 8);
        encodeByte(unsigned(c));
    }
    return true;
}

bool BEREncoder::do_visit(CHOICE const& v)
{
    if (v.currentSelection() < 0 || !v.getSelection() || v.isUnknownSelection())
        return false;
    // a tagged CHOICE wraps its alternative (explicit tagging)
    if (pendingTag > 0 || (pendingTag == -1 && v.getTag() != 0))
        encodeHeader(v);
    pendingTag = int(v.getSelectionTag());
    return v.getSelection()->accept(*this);
}

bool BEREncoder::do_visit(OpenData const& v)
{
    if (pendingTag == -1)
        pendingTag = int(v.getTag());
    if (v.isEmpty())
        return false;
    if (pendingTag != 0)
        encodeHeader(v);
    pendingTag = -1;
    if (v.has_data())
        return v.get_data().accept(*this);
    encodeBlock(v.get_buf().data(), unsigned(v.get_buf().size()));
    return true;
}

bool BEREncoder::do_visit(GeneralizedTime const& v)
{
    encodeHeader(v);
    std::string text = v.get();
    encodeBlock(text.data(), unsigned(text.size()));
    return true;
}

bool BEREncoder::do_visit(SEQUENCE_OF_Base const& v)
{
    encodeHeader(v);
    for (AbstractData const* e : v) {
        pendingTag = -1;
        if (!e->accept(*this))
            return false;
    }
    return true;
}

bool BEREncoder::preVisitExtensionRoots(SEQUENCE const& v)
{
    encodeHeader(v);
    return true;
}

bool BEREncoder::field(SEQUENCE const& v, int index)
{
    pendingTag = int(v.getFieldTag(index));
    return v.getField(unsigned(index))->accept(*this);
}

bool BEREncoder::visitExtensionRoot(SEQUENCE const& v, int index) { return field(v, index); }

bool BEREncoder::visitKnownExtension(SEQUENCE const& v, int index) { return field(v, index); }

} // namespace ASN1
