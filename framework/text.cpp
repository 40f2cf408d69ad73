#include "framework/text.h"

#include <ctime>
#include <iomanip>

namespace ext {

void Table::row(std::ostream& os, std::string const& text)
{
    if (column >= widths.size())
        return;
    in_row = true;
    std::size_t w = widths[column] > 0 ? std::size_t(widths[column]) : 0;
    std::size_t len = text.size() < w ? text.size() : w;
    os << '|' << std::string((w - len) / 2, ' ') << text << std::string((w - len + 1) / 2, ' ');
    if (++column == widths.size()) {
        os << '|' << std::endl;
        in_row = false;
    }
}

void Table::finalize(std::ostream& os)
{
    while (in_row && column < widths.size())
        row(os, std::string());
}

void Table::line(std::ostream& os, char edge, char fill)
{
    finalize(os);
    if (widths.empty())
        return;
    for (int w : widths)
        os << edge << std::string(w > 0 ? std::size_t(w) : 0, fill);
    os << edge << std::endl;
}

void Table::delimeter(std::ostream& os)
{
    line(os, '+', '-');
}

void Table::gap(std::ostream& os)
{
    line(os, '|', ' ');
}

Table::Sentry const& nextrow(Table::Sentry const& s)
{
    s.table.row(s.os, s.cell.str());
    s.cell.str(std::string());
    return s;
}

Table::Sentry const& beginrow(Table::Sentry const& s)
{
    s.table.resetrow();
    return s;
}

Table::Sentry const& delimeter(Table::Sentry const& s)
{
    s.table.delimeter(s.os);
    return s;
}

namespace {

// Upper-case, zero-filled hex while alive; the old flags and a blank fill after.
class HexFlags
{
public:
    explicit HexFlags(std::ostream& os) : os(os), saved(os.flags())
    {
        os.flags(std::ios::uppercase | std::ios::hex | std::ios::right);
        os.fill('0');
    }
    ~HexFlags()
    {
        os.flags(saved);
        os.fill(' ');
    }

private:
    std::ostream& os;
    std::ios::fmtflags saved;
};

} // namespace

void OutBufInHex::put(std::ostream& os) const
{
    HexFlags flags(os);
    for (unsigned char const* p = begin; p < end; ++p)
        os << std::setw(2) << unsigned(*p) << ' ';
}

void OutUnsignedInHex::put(std::ostream& os) const
{
    HexFlags flags(os);
    os << "0x" << std::setw(int(digits)) << value;
}

void escape(std::string& out, std::string_view text)
{
    static char const digits[] = "0123456789abcdef";
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            // Octets above 0x7E too: read as UTF-8 or Latin-1 they can be
            // line separators (E2 80 A8, C2 85) or a terminal's CSI (9B).
            if (u < 0x20 || u > 0x7E) {
                out += "\\x";
                out += digits[u >> 4];
                out += digits[u & 15];
            } else {
                out += c;
            }
        }
    }
}

void OutEscaped::put(std::ostream& os) const
{
    std::string text = quotes ? "\"" : "";
    escape(text, v);
    if (quotes)
        text += '"';
    os << text;
}

std::ostream& operator<<(std::ostream& os, OutEscaped const& e)
{
    e.put(os);
    return os;
}

std::ostream& operator<<(std::ostream& os, OutBufInHex const& h)
{
    h.put(os);
    return os;
}

std::ostream& operator<<(std::ostream& os, OutUnsignedInHex const& h)
{
    h.put(os);
    return os;
}

} // namespace ext

std::ostream& timestamp(std::ostream& os)
{
    std::time_t now = std::time(nullptr);
    if (now == std::time_t(-1))
        return os;
    std::tm local;
    if (!localtime_r(&now, &local))
        return os;
    char buf[256];
    if (std::strftime(buf, sizeof(buf), "%d/%m %H:%M:%S", &local) > 0)
        os << buf;
    return os;
}
