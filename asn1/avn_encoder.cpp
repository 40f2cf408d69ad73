// Value-notation printer.
#include "asn1/avn_encoder.h"

#include "framework/text.h"

#include <climits>
#include <cwchar>
#include <new>
#include <sstream>

namespace ASN1 {

void escapeString(std::string& out, std::string_view text)
{
    ext::escape(out, text);
}

bool unescapeString(std::string& out, std::string_view text)
{
    auto hexValue = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\':
        case '"':
            out += text[i];
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            int hi = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
            int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

bool AVNEncoder::put(std::string_view text)
{
    strm_.write(text.data(), std::streamsize(text.size()));
    return strm_.good();
}

bool AVNEncoder::blanks(int n)
{
    for (; n > 0; --n)
        strm_.put(' ');
    return strm_.good();
}

bool AVNEncoder::do_visit(Null const&) { return put("NULL"); }

bool AVNEncoder::do_visit(BOOLEAN const& v) { return put(v ? "TRUE" : "FALSE"); }

// Numbers are always decimal, whatever the stream's base.
bool AVNEncoder::do_visit(INTEGER const& v)
{
    return put(v.isUnsigned() ? std::to_string(static_cast<unsigned>(v.getValue())) : std::to_string(v.getValue()));
}

bool AVNEncoder::do_visit(IntegerWithNamedNumber const& v)
{
    std::string name;
    if (v.getName(name))
        return put(name);
    return do_visit(static_cast<INTEGER const&>(v));
}

bool AVNEncoder::do_visit(ENUMERATED const& v)
{
    std::string_view name = v.getName();
    return name.empty() ? put(std::to_string(v.asInt())) : put(name);
}

bool AVNEncoder::do_visit(OBJECT_IDENTIFIER const& v)
{
    if (!put("{ "))
        return false;
    for (unsigned arc : v.getArcs())
        if (!put(std::to_string(arc)) || !put(" "))
            return false;
    return put("}");
}

bool AVNEncoder::do_visit(BIT_STRING const& v)
{
    std::string s(1, '\'');
    for (unsigned i = 0; i < v.size(); ++i)
        s += v[i] ? '1' : '0';
    s += "'B";
    return put(s);
}

bool AVNEncoder::octets(char const* p, std::size_t n)
{
    char const* hex = (strm_.flags() & std::ios_base::uppercase) ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string s(1, '\'');
    for (std::size_t i = 0; i < n; ++i) {
        auto u = static_cast<unsigned char>(p[i]);
        if (i)
            s += ' ';
        s += hex[u >> 4];
        s += hex[u & 15];
    }
    s += "'H";
    return put(s);
}

bool AVNEncoder::do_visit(OCTET_STRING const& v) { return octets(v.data(), v.size()); }

bool AVNEncoder::do_visit(AbstractString const& v)
{
    std::string s(1, '"');
    escapeString(s, v);
    s += '"';
    return put(s);
}

bool AVNEncoder::do_visit(BMPString const& v)
{
    std::string text;
    std::mbstate_t state{};
    char buf[MB_LEN_MAX];
    bool converted = true;
    for (wchar_t c : v) {
        std::size_t n = std::wcrtomb(buf, c, &state);
        if (n == static_cast<std::size_t>(-1)) {
            converted = false;
            break;
        }
        text.append(buf, n);
    }
    if (converted) {
        std::string s(1, '"');
        escapeString(s, text);
        s += '"';
        return put(s);
    }
    std::string s(1, '{');
    for (std::size_t i = 0; i < v.size(); ++i) {
        auto c = static_cast<std::uint32_t>(v[i]);
        if (i)
            s += ", ";
        s += "{ 0, 0, " + std::to_string(int(c >> 8)) + ", " + std::to_string(c & 0xFF) + "}";
    }
    s += '}';
    return put(s);
}

bool AVNEncoder::do_visit(CHOICE const& v)
{
    if (v.isUnknownSelection())
        return put(UnknownSelectionText);
    if (v.currentSelection() < 0 || !v.getSelection())
        return put(NoSelectionText);
    if (!put(v.getSelectionName()) || !put(" : "))
        return false;
    return v.getSelection()->accept(*this);
}

bool AVNEncoder::do_visit(OpenData const& v)
{
    if (v.has_data())
        return v.get_data().accept(*this);
    if (v.has_buf())
        return octets(v.get_buf().data(), v.get_buf().size());
    return put(EmptyOpenText);
}

bool AVNEncoder::do_visit(GeneralizedTime const& v) { return put("\"" + v.get() + "\""); }

bool AVNEncoder::do_visit(SEQUENCE_OF_Base const& v)
{
    if (!put("{\n"))
        return false;
    indent_ += 2;
    for (unsigned i = 0; i < v.size(); ++i) {
        if (!blanks(indent_) || !v.at(i).accept(*this))
            return false;
        if (i + 1 < v.size() && !put(",\n"))
            return false;
    }
    indent_ -= 2;
    if (!v.empty() && !put("\n"))
        return false;
    return blanks(indent_) && put("}");
}

bool AVNEncoder::preVisitExtensionRoots(SEQUENCE const&)
{
    fieldWritten_.push_back(false);
    return put("{\n");
}

bool AVNEncoder::field(SEQUENCE const& v, int index)
{
    if (fieldWritten_.back() && !put(",\n"))
        return false;
    if (!blanks(indent_ + 2) || !put(v.getFieldName(index)) || !put(" "))
        return false;
    indent_ += 2;
    if (!v.getField(unsigned(index))->accept(*this))
        return false;
    indent_ -= 2;
    fieldWritten_.back() = true;
    return true;
}

bool AVNEncoder::visitExtensionRoot(SEQUENCE const& v, int index) { return field(v, index); }

bool AVNEncoder::visitKnownExtension(SEQUENCE const& v, int index) { return field(v, index); }

bool AVNEncoder::afterVisitSequence(SEQUENCE const&)
{
    bool written = fieldWritten_.back();
    fieldWritten_.pop_back();
    if (written && !put("\n"))
        return false;
    return blanks(indent_) && put("}");
}

// ---------------------------------------------------------------- entry points

std::ios_base::iostate AbstractData::print_on(std::ostream& strm) const
{
    AVNEncoder encoder(strm);
    return accept(encoder) ? std::ios_base::goodbit : std::ios_base::failbit;
}

std::string AbstractData::asValueNotation() const
{
    std::ostringstream strm;
    AVNEncoder encoder(strm);
    accept(encoder);
    return strm.str();
}

namespace detail {
void setStreamFailure(std::ios& strm, std::ios_base::iostate state)
{
    bool rethrow = strm.exceptions() & state;
    try {
        strm.setstate(state);
    } catch (std::ios_base::failure const&) {
    }
    if (rethrow)
        throw;
}
} // namespace detail

std::ostream& operator<<(std::ostream& strm, AbstractData const& value)
{
    return detail::guardedStreamIO(strm, [&] {
        strm.width(0);
        return value.print_on(strm);
    });
}

} // namespace ASN1
