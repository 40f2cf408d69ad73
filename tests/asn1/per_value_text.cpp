#include "tests/asn1/per_value_text.h"

#include <cstdlib>

namespace PerTest {

namespace {

using namespace ASN1;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Reader {
public:
    explicit Reader(std::string const& t) : text(t) {}

    bool value(AbstractData& v);
    bool done() const { return pos == text.size(); }

private:
    bool eat(char c)
    {
        if (pos < text.size() && text[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool number(long long& n)
    {
        char const* start = text.c_str() + pos;
        char* end;
        n = std::strtoll(start, &end, 10);
        if (end == start)
            return false;
        pos += std::size_t(end - start);
        return true;
    }
    std::string octets()
    {
        std::string out;
        while (pos + 1 < text.size() && hexDigit(text[pos]) >= 0 && hexDigit(text[pos + 1]) >= 0) {
            out += char(hexDigit(text[pos]) * 16 + hexDigit(text[pos + 1]));
            pos += 2;
        }
        return out;
    }
    bool sequence(SEQUENCE& s);

    std::string const& text;
    std::size_t pos = 0;
};

bool Reader::sequence(SEQUENCE& s)
{
    auto const* info = s.info();
    unsigned const total = info->numRootFields + info->numExtensions;
    if (!eat('{'))
        return false;
    for (unsigned i = 0; i < total; ++i) {
        if (i != 0 && !eat(','))
            return false;
        if (eat('_'))
            continue;
        AbstractData* field;
        if (i >= info->numRootFields)
            field = s.includeOptionalField(info->numOptional + (i - info->numRootFields), i);
        else if (info->fieldIds[i] >= 0)
            field = s.includeOptionalField(unsigned(info->fieldIds[i]), i);
        else
            field = s.getField(i);
        if (!field || !value(*field))
            return false;
    }
    return eat('}');
}

bool Reader::value(AbstractData& v)
{
    if (auto* s = dynamic_cast<SEQUENCE*>(&v))
        return sequence(*s);
    if (auto* c = dynamic_cast<CHOICE*>(&v)) {
        long long index;
        return number(index) && eat(':') && c->select(int(index)) && value(*c->getSelection());
    }
    if (auto* list = dynamic_cast<SEQUENCE_OF_Base*>(&v)) {
        if (!eat('['))
            return false;
        if (eat(']'))
            return true;
        do {
            AbstractData* element = list->createElement();
            list->push_back(element);
            if (!value(*element))
                return false;
        } while (eat(','));
        return eat(']');
    }
    if (dynamic_cast<Null*>(&v))
        return eat('N');
    if (auto* b = dynamic_cast<BOOLEAN*>(&v)) {
        if (eat('T'))
            *b = true;
        else if (eat('F'))
            *b = false;
        else
            return false;
        return true;
    }
    if (auto* i = dynamic_cast<INTEGER*>(&v)) {
        long long n;
        if (!number(n))
            return false;
        i->setValue(int(static_cast<unsigned>(n)));
        return true;
    }
    if (auto* e = dynamic_cast<ENUMERATED*>(&v)) {
        long long n;
        if (!number(n))
            return false;
        e->setFromInt(int(n));
        return true;
    }
    if (auto* o = dynamic_cast<OCTET_STRING*>(&v)) {
        if (!eat('x'))
            return false;
        std::string const bytes = octets();
        o->assign(bytes.begin(), bytes.end());
        return true;
    }
    if (auto* open = dynamic_cast<OpenData*>(&v)) {
        if (!eat('x'))
            return false;
        std::string const bytes = octets();
        open->grab(new std::vector<char>(bytes.begin(), bytes.end()));
        return true;
    }
    if (auto* str = dynamic_cast<AbstractString*>(&v)) {
        if (!eat('s'))
            return false;
        str->assign(octets());
        return true;
    }
    if (auto* t = dynamic_cast<GeneralizedTime*>(&v)) {
        if (!eat('s'))
            return false;
        t->set(octets().c_str());
        return true;
    }
    if (auto* w = dynamic_cast<BMPString*>(&v)) {
        if (!eat('w'))
            return false;
        std::wstring chars;
        std::string const bytes = octets();
        for (std::size_t k = 0; k + 1 < bytes.size(); k += 2)
            chars += wchar_t(static_cast<unsigned char>(bytes[k]) << 8 | static_cast<unsigned char>(bytes[k + 1]));
        w->assign(chars.data(), unsigned(chars.size()));
        return true;
    }
    if (auto* bits = dynamic_cast<BIT_STRING*>(&v)) {
        if (!eat('b'))
            return false;
        std::vector<bool> read;
        while (pos < text.size() && (text[pos] == '0' || text[pos] == '1'))
            read.push_back(text[pos++] == '1');
        bits->resize(unsigned(read.size()));
        for (unsigned k = 0; k < read.size(); ++k)
            bits->set(k, read[k]);
        return true;
    }
    if (auto* oid = dynamic_cast<OBJECT_IDENTIFIER*>(&v)) {
        if (!eat('o'))
            return false;
        do {
            long long arc;
            if (!number(arc))
                return false;
            oid->append(unsigned(arc));
        } while (eat('.'));
        return true;
    }
    return false;
}

} // namespace

bool build(ASN1::AbstractData& value, std::string const& text)
{
    Reader reader(text);
    return reader.value(value) && reader.done();
}

} // namespace PerTest
