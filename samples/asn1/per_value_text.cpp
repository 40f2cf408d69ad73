#include "samples/asn1/per_value_text.h"

#include <cctype>
#include <cstdlib>

namespace PerTest {

namespace {

using namespace ASN1;

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
        pos += std::size_t(end - start);
        return end != start;
    }
    // The octets after the kind letter `c`, in hex.
    bool octets(char c, std::string& out)
    {
        if (!eat(c))
            return false;
        while (pos + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[pos])) &&
               std::isxdigit(static_cast<unsigned char>(text[pos + 1]))) {
            out += char(std::stoi(text.substr(pos, 2), nullptr, 16));
            pos += 2;
        }
        return true;
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
    long long n;
    std::string bytes;
    if (auto* s = dynamic_cast<SEQUENCE*>(&v))
        return sequence(*s);
    if (auto* c = dynamic_cast<CHOICE*>(&v))
        return number(n) && eat(':') && c->select(int(n)) && value(*c->getSelection());
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
        *b = eat('T');
        return *b || eat('F');
    }
    if (auto* i = dynamic_cast<INTEGER*>(&v))
        return number(n) && (i->setValue(int(static_cast<unsigned>(n))), true);
    if (auto* e = dynamic_cast<ENUMERATED*>(&v))
        return number(n) && (e->setFromInt(int(n)), true);
    if (auto* o = dynamic_cast<OCTET_STRING*>(&v))
        return octets('x', bytes) && (o->assign(bytes.begin(), bytes.end()), true);
    if (auto* open = dynamic_cast<OpenData*>(&v))
        return octets('x', bytes) && (open->grab(new std::vector<char>(bytes.begin(), bytes.end())), true);
    if (auto* str = dynamic_cast<AbstractString*>(&v))
        return octets('s', bytes) && (str->assign(bytes), true);
    if (auto* t = dynamic_cast<GeneralizedTime*>(&v))
        return octets('s', bytes) && (t->set(bytes.c_str()), true);
    if (auto* w = dynamic_cast<BMPString*>(&v)) {
        if (!octets('w', bytes))
            return false;
        std::wstring chars;
        for (std::size_t k = 0; k + 1 < bytes.size(); k += 2)
            chars += wchar_t(static_cast<unsigned char>(bytes[k]) << 8 | static_cast<unsigned char>(bytes[k + 1]));
        w->assign(chars.data(), unsigned(chars.size()));
        return true;
    }
    if (auto* bits = dynamic_cast<BIT_STRING*>(&v)) {
        if (!eat('b'))
            return false;
        unsigned k = 0;
        for (; pos + k < text.size() && (text[pos + k] == '0' || text[pos + k] == '1'); ++k) {
        }
        bits->resize(k);
        for (unsigned j = 0; j < k; ++j)
            bits->set(j, text[pos + j] == '1');
        pos += k;
        return true;
    }
    if (auto* oid = dynamic_cast<OBJECT_IDENTIFIER*>(&v)) {
        if (!eat('o'))
            return false;
        do {
            if (!number(n))
                return false;
            oid->append(unsigned(n));
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
