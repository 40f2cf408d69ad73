// BER decoder.
#include "asn1/ber_decoder.h"

#include "asn1/ber_encoder.h"

#include <limits>
#include <memory>
#include <string>

namespace ASN1 {

namespace {
unsigned octet(char const* p) { return static_cast<unsigned char>(*p); }
} // namespace

// Selects the alternative that carries the tag (class bits as in the
// identifier octet). An untagged CHOICE among the alternatives is searched
// for the tag in turn. Not found: the selection is unknown (-2).
bool CHOICE::setID(unsigned tagNumber, unsigned tagClass)
{
    InfoType const* i = info();
    unsigned const tag = (tagClass << 16) | tagNumber;
    auto take = [&](unsigned k) {
        setSelection(int(k), AbstractData::create(i->selectionInfos[k]));
        return true;
    };
    if (!i->selectionTags) {
        if (tagClass == 0x80 && tagNumber < i->totalChoices && i->selectionInfos[tagNumber])
            return take(tagNumber);
    } else {
        for (unsigned k = 0; k < i->totalChoices; ++k)
            if (i->selectionTags[k] == tag && i->selectionInfos[k])
                return take(k);
        for (unsigned k = 0; k < i->totalChoices; ++k) {
            if (i->selectionTags[k] != 0 || !i->selectionInfos[k])
                continue;
            std::unique_ptr<AbstractData> alt(AbstractData::create(i->selectionInfos[k]));
            auto nested = dynamic_cast<CHOICE*>(alt.get());
            if (nested && nested->setID(tagNumber, tagClass)) {
                setSelection(int(k), alt.release());
                return true;
            }
        }
    }
    setSelection(unknownSelection_, nullptr);
    return false;
}

BERDecoder::BERDecoder(char const* first, char const* last, CoderEnv* env) : Visitor(env), cur(first), end(last) {}

bool BERDecoder::decodeHeader(Header& h)
{
    char const* p = cur;
    if (p == end)
        return false;
    unsigned const id = octet(p++);
    std::uint32_t number = id & 0x1F;
    if (number == 0x1F) {
        number = 0;
        for (;;) {
            if (p == end || number > (0xFFFFFFFFu >> 7))
                return false;
            unsigned o = octet(p++);
            number = (number << 7) | (o & 0x7F);
            if (!(o & 0x80))
                break;
        }
    }
    if (p == end)
        return false;
    unsigned first = octet(p++);
    std::uint32_t length = first;
    if (first == 0x80 || first == 0xFF) // indefinite form, reserved value
        return false;
    if (first & 0x80) {
        length = 0;
        for (unsigned n = first & 0x7F; n > 0; --n) {
            if (p == end || (length >> 24) != 0)
                return false;
            length = (length << 8) | octet(p++);
        }
    }
    if (length > std::size_t(end - p))
        return false;
    h.tag = number > 0xFFFF ? NoTag : ((id & 0xC0) << 16) | number;
    h.primitive = !(id & 0x20);
    h.length = length;
    h.start = cur;
    h.contents = p;
    cur = p;
    return true;
}

unsigned BERDecoder::takeTag(AbstractData const& v)
{
    std::int64_t t = pendingTag;
    pendingTag = -1;
    return t == -1 ? v.getTag() : unsigned(t);
}

bool BERDecoder::primitiveHeader(AbstractData const& v, Header& h)
{
    unsigned tag = takeTag(v);
    char const* start = cur;
    if (tag == 0 || !decodeHeader(h))
        return false;
    if (h.tag != tag || !h.primitive) {
        cur = start;
        return false;
    }
    return true;
}

bool BERDecoder::enter(unsigned tag)
{
    Header h;
    char const* start = cur;
    if (tag == 0 || !decodeHeader(h))
        return false;
    if (h.tag != tag || h.primitive) {
        cur = start;
        return false;
    }
    sequenceEnds.push_back(end);
    end = h.end();
    return true;
}

bool BERDecoder::leave()
{
    if (cur != end || sequenceEnds.empty())
        return false;
    end = sequenceEnds.back();
    sequenceEnds.pop_back();
    return true;
}

// ---------------------------------------------------------------- primitives

bool BERDecoder::do_visit(Null& v)
{
    Header h;
    if (!primitiveHeader(v, h))
        return false;
    cur = h.end();
    return true;
}

bool BERDecoder::do_visit(BOOLEAN& v)
{
    Header h;
    if (!primitiveHeader(v, h) || h.length == 0)
        return false;
    v = octet(h.end() - 1) != 0;
    cur = h.end();
    return true;
}

bool BERDecoder::readInteger(Header const& h, std::int64_t& v)
{
    if (h.length == 0 || h.length > 8)
        return false;
    std::uint64_t u = octet(h.contents) >= 0x80 ? ~std::uint64_t(0) : 0;
    for (char const* p = h.contents; p != h.end(); ++p)
        u = (u << 8) | octet(p);
    v = static_cast<std::int64_t>(u);
    cur = h.end();
    return true;
}

bool BERDecoder::do_visit(INTEGER& v)
{
    Header h;
    std::int64_t n;
    if (!primitiveHeader(v, h) || !readInteger(h, n))
        return false;
    // A number the type cannot hold is refused, not cut to 32 bits.
    if (isUnsignedInteger(v) ? n < 0 || n > std::numeric_limits<std::uint32_t>::max()
                       : n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return false;
    v.setValue(static_cast<int>(static_cast<std::uint32_t>(n)));
    return true;
}

bool BERDecoder::do_visit(ENUMERATED& v)
{
    Header h;
    std::int64_t n;
    if (!primitiveHeader(v, h) || !readInteger(h, n))
        return false;
    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return false;
    v.setFromInt(static_cast<int>(n));
    return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& v)
{
    Header h;
    if (!primitiveHeader(v, h) || h.length == 0 || !v.decodeCommon(h.contents, h.length))
        return false;
    cur = h.end();
    return true;
}

bool BERDecoder::do_visit(OCTET_STRING& v)
{
    Header h;
    if (!primitiveHeader(v, h))
        return false;
    v.assign(h.contents, h.end());
    cur = h.end();
    return true;
}

bool BERDecoder::do_visit(BIT_STRING& v)
{
    Header h;
    if (!primitiveHeader(v, h) || h.length == 0)
        return false;
    unsigned unused = octet(h.contents);
    // a lone initial octet has no bits to leave unused; the bit count must
    // fit its 32 bits
    if (unused > 7 || (h.length == 1 && unused != 0) || h.length - 1 > 0xFFFFFFFFu / 8)
        return false;
    unsigned bits = 8 * (h.length - 1) - unused;
    v.resize(0);
    v.resize(bits);
    std::vector<char>& data = v.getData();
    data.assign(h.contents + 1, h.end());
    if (unused)
        data.back() = static_cast<char>(octet(&data.back()) & (0xFF00 >> (8 - unused)));
    cur = h.end();
    return true;
}

bool BERDecoder::do_visit(AbstractString& v)
{
    Header h;
    if (!primitiveHeader(v, h))
        return false;
    v.std::string::assign(h.contents, h.length);
    cur = h.end();
    return true;
}

bool BERDecoder::do_visit(BMPString& v)
{
    Header h;
    if (!primitiveHeader(v, h) || h.length % 2)
        return false;
    std::wstring text;
    text.reserve(h.length / 2);
    for (char const* p = h.contents; p != h.end(); p += 2)
        text += static_cast<wchar_t>((octet(p) << 8) | octet(p + 1));
    v.std::wstring::assign(text);
    cur = h.end();
    return true;
}

bool BERDecoder::do_visit(GeneralizedTime& v)
{
    Header h;
    if (!primitiveHeader(v, h))
        return false;
    std::string text(h.contents, h.length);
    v.set(text.c_str());
    cur = h.end();
    return true;
}

// ---------------------------------------------------------------- constructed

bool BERDecoder::do_visit(CHOICE& v)
{
    unsigned tag = takeTag(v);
    bool const wrapped = tag != 0; // a tagged CHOICE wraps its alternative
    if (wrapped && !enter(tag))
        return false;
    Header h;
    char const* start = cur;
    if (!decodeHeader(h))
        return false;
    cur = start;
    bool const known = h.tag != NoTag ? v.setID(h.tag & 0xFFFF, h.tag >> 16)
                                      : (v.setSelection(CHOICE::unknownSelection_, nullptr), false);
    if (!known) {
        if (!v.extendable())
            return false;
        cur = h.end(); // an alternative added after our version of the type
    } else {
        pendingTag = v.getSelectionTag();
        if (!v.getSelection()->accept(*this))
            return false;
    }
    return !wrapped || leave();
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& v)
{
    v.clear();
    if (!enter(takeTag(v)))
        return false;
    while (cur != end) {
        std::unique_ptr<AbstractData> e(v.createElement());
        char const* start = cur;
        pendingTag = -1;
        if (!e || !e->accept(*this) || cur == start)
            return false;
        v.push_back(e.release());
    }
    return leave();
}

// The buffer holds one complete element: the contents of the value's
// explicit tag, or the element itself when the open value has no tag.
bool BERDecoder::do_visit(OpenData& v)
{
    unsigned tag = takeTag(v);
    Header h;
    char const* first;
    char const* last;
    if (tag != 0) {
        if (!enter(tag))
            return false;
        if (!decodeHeader(h) || h.tag == 0 || h.end() != end)
            return false;
        first = h.start;
        last = h.end();
        cur = last;
        if (!leave())
            return false;
    } else {
        // tag 0 is the end-of-contents marker, no element
        if (!decodeHeader(h) || h.tag == 0)
            return false;
        first = h.start;
        last = h.end();
        cur = last;
    }
    if (!v.has_buf())
        v.grab(new std::vector<char>);
    v.get_buf().assign(first, last);
    return true;
}

bool BERDecoder::do_revisit(OpenData& v)
{
    if (!v.has_buf() || !v.has_data())
        return false;
    std::vector<char> const& buf = v.get_buf();
    BERDecoder inner(buf.data(), buf.data() + buf.size(), get_env());
    return v.get_data().accept(inner) && inner.atEnd();
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& v)
{
    unsigned tag = takeTag(v);
    if (!v.has_data())
        return false;
    if (tag != 0 && !enter(tag))
        return false;
    pendingTag = -1;
    if (!v.get_data().accept(*this))
        return false;
    return tag == 0 || leave();
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& v)
{
    if (!enter(takeTag(v)))
        return FAIL;
    // what the input does not hold is absent
    unsigned const optional = v.info()->numOptional + v.extensionMap().size();
    for (unsigned k = 0; k < optional; ++k)
        v.removeOptionalField(k);
    return CONTINUE;
}

int BERDecoder::field(SEQUENCE& v, int index, int optionalId)
{
    bool const optional = optionalId != -1;
    if (cur == end)
        return optional ? CONTINUE : FAIL;
    unsigned const tag = v.getFieldTag(index);
    Header h;
    char const* start = cur;
    if (!decodeHeader(h))
        return FAIL;
    cur = start;
    if (tag != 0) {
        if (h.tag != tag)
            return optional ? CONTINUE : FAIL;
    } else if (optional) {
        // an untagged CHOICE is present when one of its alternatives has the tag
        std::unique_ptr<AbstractData> probe(AbstractData::create(v.info()->fieldInfos[index]));
        auto choice = dynamic_cast<CHOICE*>(probe.get());
        if (choice && (h.tag == NoTag || !choice->setID(h.tag & 0xFFFF, h.tag >> 16)))
            return CONTINUE;
    }
    AbstractData* f = optional ? v.includeOptionalField(unsigned(optionalId), unsigned(index))
                               : v.createField(unsigned(index));
    if (!f)
        return FAIL;
    pendingTag = tag;
    return f->accept(*this) ? CONTINUE : FAIL;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optionalId) { return field(v, index, optionalId); }

int BERDecoder::visitKnownExtension(SEQUENCE& v, int index, int optionalIndex)
{
    return field(v, index, optionalIndex);
}

bool BERDecoder::visitUnknownExtensions(SEQUENCE& v)
{
    // additions our version of the type does not know are skipped
    if (cur != end) {
        if (!v.extendable())
            return false;
        cur = end;
    }
    return leave();
}

} // namespace ASN1
