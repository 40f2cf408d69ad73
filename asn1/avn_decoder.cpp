// Value-notation parser.
#include "asn1/avn_decoder.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <limits>
#include <memory>
#include <new>
#include <sstream>

#include "asn1/avn_encoder.h"

namespace ASN1 {

namespace {

bool isDigit(int c) { return c >= '0' && c <= '9'; }

int digitValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseUnsigned(std::string const& text, unsigned& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (!isDigit(c))
            return false;
        v = v * 10 + unsigned(c - '0');
    }
    if (v > std::numeric_limits<unsigned>::max())
        return false;
    value = unsigned(v);
    return true;
}

// True when a mandatory root field follows field `index`.
bool mandatoryAfter(SEQUENCE const& v, int index)
{
    for (unsigned k = unsigned(index + 1); k < v.info()->numRootFields; ++k)
        if (v.info()->fieldIds[k] == -1)
            return true;
    return false;
}

} // namespace

bool is_space_or_newline(char c) { return c == ' ' || c == '\n'; }

AVNDecoder::AVNDecoder(std::istream& s, CoderEnv* env) : Visitor(env), strm(s) {}

// ---------------------------------------------------------------- tokens

int AVNDecoder::skipSpace()
{
    int c;
    while ((c = strm.peek()) != EOF && std::isspace(c))
        strm.get();
    return c;
}

bool AVNDecoder::readChar(char& c)
{
    int n = skipSpace();
    if (n == EOF)
        return false;
    c = static_cast<char>(strm.get());
    return true;
}

bool AVNDecoder::expect(char c)
{
    char got;
    return readChar(got) && got == c;
}

bool AVNDecoder::readWord(std::string& word)
{
    word.clear();
    for (int c = skipSpace(); c != EOF && !std::isspace(c) && c != ',' && c != '}'; c = strm.peek())
        word += static_cast<char>(strm.get());
    return !word.empty();
}

bool AVNDecoder::readLetters(std::string& word)
{
    word.clear();
    for (int c = skipSpace(); c != EOF && std::isalpha(c); c = strm.peek())
        word += static_cast<char>(strm.get());
    return !word.empty();
}

bool AVNDecoder::readNumber(long long& n)
{
    n = 0; // defined even when no number is there
    bool const negative = skipSpace() == '-';
    if (negative)
        strm.get();
    // 18 digits always fit; no number of a value needs more
    std::string digits;
    for (int c; isDigit(c = strm.peek()) && digits.size() <= 18;)
        digits += static_cast<char>(strm.get());
    if (digits.empty() || digits.size() > 18)
        return false;
    n = std::stoll(digits);
    if (negative)
        n = -n;
    return true;
}

bool AVNDecoder::readString(std::string& text)
{
    if (!expect('"'))
        return false;
    std::string raw;
    for (;;) {
        int c = strm.get();
        if (c == EOF)
            return false;
        if (c == '"')
            break;
        raw += static_cast<char>(c);
        if (c == '\\') {
            if ((c = strm.get()) == EOF)
                return false;
            raw += static_cast<char>(c);
        }
    }
    text.clear();
    return unescapeString(text, raw);
}

bool AVNDecoder::readDigitString(std::vector<char>& octets, unsigned& digits, bool& hex)
{
    if (!expect('\''))
        return false;
    std::string text;
    for (int c; (c = strm.get()) != '\'';) {
        if (c == EOF)
            return false;
        if (!is_space_or_newline(static_cast<char>(c)))
            text += static_cast<char>(c);
    }
    char base;
    if (!readChar(base) || (base != 'B' && base != 'H'))
        return false;
    hex = base == 'H';
    unsigned const perOctet = hex ? 2 : 8;
    octets.assign((text.size() + perOctet - 1) / perOctet, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        int d = digitValue(text[i]);
        if (d < 0 || (!hex && d > 1))
            return false;
        unsigned shift = hex ? 4 * (1 - i % 2) : 7 - i % 8;
        octets[i / perOctet] = static_cast<char>(static_cast<unsigned char>(octets[i / perOctet]) | (d << shift));
    }
    digits = unsigned(text.size());
    return true;
}

// ---------------------------------------------------------------- values

bool AVNDecoder::do_visit(Null&)
{
    std::string word;
    return readLetters(word) && word == "NULL";
}

bool AVNDecoder::do_visit(BOOLEAN& v)
{
    std::string word;
    if (!readLetters(word))
        return false;
    if (word == "TRUE")
        v = true;
    else if (word == "FALSE")
        v = false;
    else
        return false;
    return true;
}

bool AVNDecoder::do_visit(INTEGER& v)
{
    long long n;
    return readNumber(n) && v.setNumber(n);
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& v)
{
    int c = skipSpace();
    if (isDigit(c) || c == '-')
        return do_visit(static_cast<INTEGER&>(v));
    std::string name;
    return readWord(name) && v.setFromName(name);
}

// A name, or the number the printer writes for a value without one.
bool AVNDecoder::do_visit(ENUMERATED& v)
{
    int c = skipSpace();
    if (isDigit(c) || c == '-') {
        long long n;
        if (!readNumber(n) || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
            return false;
        v.setFromInt(int(n));
        return true;
    }
    std::string name;
    return readWord(name) && v.setFromName(name);
}

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& v)
{
    if (!expect('{'))
        return false;
    std::string text;
    for (int c; (c = strm.get()) != '}';) {
        if (c == EOF)
            return false;
        text += static_cast<char>(c);
    }
    std::istringstream words(text);
    std::vector<unsigned> arcs;
    bool named = false; // a name read, its "(n)" comes next
    for (std::string w; words >> w;) {
        std::size_t open = w.find('(');
        if (open == std::string::npos && !isDigit(w[0])) {
            if (named)
                return false;
            named = true;
            continue;
        }
        if (open != std::string::npos) {
            if ((open == 0) != named)
                return false;
            w = w.substr(open + 1);
            if (!w.empty() && w.back() == ')')
                w.pop_back();
        } else if (named) {
            return false;
        }
        named = false;
        unsigned arc;
        if (!parseUnsigned(w, arc))
            return false;
        arcs.push_back(arc);
    }
    if (named)
        return false;
    v.clear();
    for (unsigned arc : arcs)
        v.append(arc);
    return true;
}

bool AVNDecoder::do_visit(OCTET_STRING& v)
{
    std::vector<char> octets;
    unsigned digits;
    bool hex;
    if (!readDigitString(octets, digits, hex))
        return false;
    v.assign(octets.begin(), octets.end());
    return true;
}

bool AVNDecoder::do_visit(BIT_STRING& v)
{
    std::vector<char> octets;
    unsigned digits;
    bool hex;
    if (!readDigitString(octets, digits, hex))
        return false;
    v.resize(0);
    v.resize(hex ? 4 * digits : digits);
    v.getData() = octets;
    return true;
}

bool AVNDecoder::do_visit(AbstractString& v)
{
    std::string text;
    if (!readString(text))
        return false;
    v.assign(text);
    return true;
}

// Quoted text in the locale's multibyte form, or the printer's list of
// { group, plane, row, cell } quadruples.
bool AVNDecoder::do_visit(BMPString& v)
{
    std::wstring out;
    if (skipSpace() == '"') {
        std::string text;
        if (!readString(text))
            return false;
        std::mbstate_t state{};
        for (std::size_t i = 0; i < text.size();) {
            wchar_t c;
            std::size_t n = std::mbrtowc(&c, text.data() + i, text.size() - i, &state);
            if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2))
                return false;
            if (n == 0) // an embedded NUL
                n = 1;
            out += c;
            i += n;
        }
    } else {
        if (!expect('{'))
            return false;
        for (char sep = ','; sep == ',';) {
            long long q[4];
            if (!expect('{'))
                return false;
            for (int k = 0; k < 4; ++k)
                if (!readNumber(q[k]) || !expect(k < 3 ? ',' : '}'))
                    return false;
            if (q[0] != 0 || q[1] != 0 || q[2] < 0 || q[2] > 255 || q[3] < 0 || q[3] > 255)
                return false;
            out += static_cast<wchar_t>(q[2] * 256 + q[3]);
            if (!readChar(sep) || (sep != ',' && sep != '}'))
                return false;
        }
    }
    v.std::wstring::assign(out);
    return true;
}

bool AVNDecoder::do_visit(CHOICE& v)
{
    std::string name;
    if (!readWord(name) || !expect(':'))
        return false;
    CHOICE::InfoType const* info = v.info();
    for (unsigned k = 0; k < info->totalChoices; ++k) {
        if (!info->selectionInfos[k] || name != info->selectionNames[k])
            continue;
        return v.setSelection(int(k), AbstractData::create(info->selectionInfos[k]))->accept(*this);
    }
    return false;
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& v)
{
    if (!expect('{'))
        return false;
    v.clear();
    if (skipSpace() == '}') {
        strm.get();
        return true;
    }
    for (;;) {
        std::unique_ptr<AbstractData> e(v.createElement());
        if (!e || !e->accept(*this))
            return false;
        v.push_back(e.release());
        char sep;
        if (!readChar(sep) || (sep != ',' && sep != '}'))
            return false;
        if (sep == '}')
            return true;
    }
}

// Undecoded octets print as an octet string and read back the same way.
bool AVNDecoder::do_visit(OpenData& v)
{
    if (v.has_data())
        return v.get_data().accept(*this);
    if (skipSpace() != '\'')
        return false;
    std::vector<char> octets;
    unsigned digits;
    bool hex;
    if (!readDigitString(octets, digits, hex))
        return false;
    if (!v.has_buf())
        v.grab(new std::vector<char>);
    v.get_buf().swap(octets);
    return true;
}

bool AVNDecoder::do_revisit(OpenData&) { return false; }

bool AVNDecoder::do_visit(TypeConstrainedOpenData& v) { return v.has_data() && v.get_data().accept(*this); }

bool AVNDecoder::do_visit(GeneralizedTime& v)
{
    std::string text;
    if (!readString(text))
        return false;
    v.set(text.c_str());
    return true;
}

// ---------------------------------------------------------------- SEQUENCE

// The text says which fields are present: the others are absent, and a
// mandatory one missing fails.
int AVNDecoder::preVisitExtensionRoots(SEQUENCE& v)
{
    if (!expect('{'))
        return FAIL;
    unsigned const optional = v.info()->numOptional + v.extensionMap().size();
    for (unsigned k = 0; k < optional; ++k)
        v.removeOptionalField(k);
    if (skipSpace() == '}') {
        strm.get();
        return mandatoryAfter(v, -1) ? FAIL : STOP;
    }
    std::string name;
    if (!readWord(name))
        return FAIL;
    pendingNames.push_back(name);
    return CONTINUE;
}

int AVNDecoder::field(SEQUENCE& v, int index, int optionalId)
{
    if (pendingNames.back() != v.getFieldName(index))
        return optionalId == -1 ? FAIL : CONTINUE;
    AbstractData* f = optionalId == -1 ? v.createField(unsigned(index))
                                       : v.includeOptionalField(unsigned(optionalId), unsigned(index));
    if (!f || !f->accept(*this))
        return FAIL;
    char sep;
    if (!readChar(sep))
        return FAIL;
    if (sep == '}') {
        pendingNames.pop_back();
        return mandatoryAfter(v, index) ? FAIL : STOP;
    }
    if (sep != ',')
        return FAIL;
    if (skipSpace() == '}') { // a comma before the closing brace
        strm.get();
        pendingNames.back() = "}";
        return CONTINUE;
    }
    return readWord(pendingNames.back()) ? CONTINUE : FAIL;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optionalId) { return field(v, index, optionalId); }

int AVNDecoder::visitKnownExtension(SEQUENCE& v, int index, int optionalIndex)
{
    return field(v, index, optionalIndex);
}

// Reached when the pending name matched no field: only the closing brace
// after a trailing comma is accepted.
bool AVNDecoder::visitUnknownExtensions(SEQUENCE&)
{
    bool closed = pendingNames.back() == "}";
    pendingNames.pop_back();
    return closed;
}

// ---------------------------------------------------------------- entry points

std::ios_base::iostate AbstractData::get_from(std::istream& strm)
{
    AVNDecoder decoder(strm, nullptr);
    return accept(decoder) ? std::ios_base::goodbit : std::ios_base::failbit;
}

bool AbstractData::setFromValueNotation(std::string const& text)
{
    std::istringstream strm(text);
    return get_from(strm) == std::ios_base::goodbit;
}

std::istream& operator>>(std::istream& strm, AbstractData& value)
{
    return detail::guardedStreamIO(strm, [&] { return value.get_from(strm); });
}

} // namespace ASN1
