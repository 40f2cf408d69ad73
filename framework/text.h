// Stream formatters of the log lines and status dumps: text tables, hex,
// quoting, object prefixes.
#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace ext {

// A text table of fixed-width columns. Cells are centred, the odd blank on
// the right; a cell wider than its column is written whole.
class Table
{
public:
    class Sentry;

    Table() { init(); }
    template <class... W>
    explicit Table(int w1, W... more) : widths{w1, int(more)...}
    {
        static_assert(sizeof...(W) < 7, "at most 7 columns at construction");
        init();
    }

    void add(int w) { widths.push_back(w); }
    void init() { resetrow(); }
    void resetrow()
    {
        column = 0;
        in_row = false;
    }

    // Writes the next cell; ignored once every column of the row is written.
    void row(std::ostream& os, std::string const& text);
    void delimeter(std::ostream& os);
    void gap(std::ostream& os);
    // Completes a started row with empty cells.
    void finalize(std::ostream& os);

private:
    void line(std::ostream& os, char edge, char fill);

    std::vector<int> widths;
    uint32_t column;
    bool in_row;
};

// One output statement on a table: values collect into the current cell
// (with default formatting, whatever the target stream's flags), nextrow
// writes it. The end of the statement completes a started row.
class Table::Sentry
{
public:
    Sentry(std::ostream& os, Table& table) : os(os), table(table) {}
    Sentry(Sentry const&) = delete;
    Sentry& operator=(Sentry const&) = delete;
    ~Sentry() { table.finalize(os); }

    std::ostream& os;
    Table& table;
    mutable std::ostringstream cell;
};

inline Table::Sentry operator<<(std::ostream& os, Table& table)
{
    return Table::Sentry(os, table);
}

typedef Table::Sentry const& (*TableManipulator)(Table::Sentry const&);

// Ends a cell (not a row).
Table::Sentry const& nextrow(Table::Sentry const& s);
// Starts the row afresh at its first column.
Table::Sentry const& beginrow(Table::Sentry const& s);
Table::Sentry const& delimeter(Table::Sentry const& s);

inline Table::Sentry const& operator<<(Table::Sentry const& s, TableManipulator m)
{
    return m(s);
}

template <class V>
Table::Sentry const& operator<<(Table::Sentry const& s, V const& v)
{
    s.cell << v;
    return s;
}

// Bytes as upper-case hex pairs, each followed by a blank.
class OutBufInHex
{
public:
    OutBufInHex(unsigned char const* begin, unsigned char const* end) : begin(begin), end(end) {}
    void put(std::ostream& os) const;

private:
    unsigned char const* begin;
    unsigned char const* end;
};

// "0x" and the value in upper-case hex, zero-filled to at least `digits`.
class OutUnsignedInHex
{
public:
    OutUnsignedInHex(unsigned value, unsigned digits) : value(value), digits(digits) {}
    void put(std::ostream& os) const;

private:
    unsigned value;
    unsigned digits;
};

std::ostream& operator<<(std::ostream& os, OutBufInHex const& h);
std::ostream& operator<<(std::ostream& os, OutUnsignedInHex const& h);

inline OutBufInHex hex(char const* p, unsigned n)
{
    unsigned char const* b = reinterpret_cast<unsigned char const*>(p);
    return OutBufInHex(b, b + n);
}

inline OutBufInHex hex(unsigned char const* begin, unsigned char const* end)
{
    return OutBufInHex(begin, end);
}

// Any integer; a template so that a literal 0 is not taken for a pointer.
template <class I, typename std::enable_if<std::is_integral<I>::value, int>::type = 0>
OutUnsignedInHex hex(I value, unsigned digits)
{
    return OutUnsignedInHex(static_cast<unsigned>(value), digits);
}

// Appends text so that it stays on one line of the log whatever the
// controller, a peer or a line put into it: backslash, double quote and
// control characters (NUL included) and every octet above 0x7E as \\, \",
// \n, \r, \t or \xHH.
void escape(std::string& out, std::string_view text);

// A text from outside written escaped (escape above), bare or between
// double quotes.
class OutEscaped
{
public:
    OutEscaped(std::string_view v, bool quotes) : v(v), quotes(quotes) {}
    void put(std::ostream& os) const;

private:
    std::string_view v;
    bool quotes;
};

std::ostream& operator<<(std::ostream& os, OutEscaped const& e);

inline OutEscaped escaped(std::string_view v)
{
    return OutEscaped(v, false);
}

// What quoted() gives: the escaped text between double quotes.
class OutQuoted : public OutEscaped
{
public:
    explicit OutQuoted(std::string_view v) : OutEscaped(v, true) {}
};

inline OutQuoted quoted(std::string_view v)
{
    return OutQuoted(v);
}

// The log-line prefix of an object: its PutHeader(std::ostream&) const.
template <class T>
class OutObjHeader
{
public:
    explicit OutObjHeader(T const& obj) : obj(obj) {}
    void put(std::ostream& os) const { obj.PutHeader(os); }

private:
    T const& obj;
};

// The one-line summary of an object: its PutShortInfo(std::ostream&) const.
template <class T>
class OutShortInfo
{
public:
    explicit OutShortInfo(T const& obj) : obj(obj) {}
    void put(std::ostream& os) const { obj.PutShortInfo(os); }

private:
    T const& obj;
};

template <class T>
std::ostream& operator<<(std::ostream& os, OutObjHeader<T> const& h)
{
    h.put(os);
    return os;
}

template <class T>
std::ostream& operator<<(std::ostream& os, OutShortInfo<T> const& s)
{
    s.put(os);
    return os;
}

template <class T>
OutObjHeader<T> header(T const* p)
{
    return OutObjHeader<T>(*p);
}

template <class T>
OutShortInfo<T> shortinfo(T const* p)
{
    return OutShortInfo<T>(*p);
}

} // namespace ext

// The local time as "%d/%m %H:%M:%S"; nothing when the clock cannot be read.
std::ostream& timestamp(std::ostream& os);
