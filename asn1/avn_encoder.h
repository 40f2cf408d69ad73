// Value-notation printer: the text of every value in the log lines.
#pragma once

#include "asn1/asn1.h"

#include <new>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ASN1 {

// Printed in place of a CHOICE without a usable selection and of an open
// value that holds nothing.
inline constexpr char const NoSelectionText[] = "<unselected>";
inline constexpr char const UnknownSelectionText[] = "<unknown>";
inline constexpr char const EmptyOpenText[] = "<empty>";

class AVNEncoder : public ConstVisitor {
public:
    explicit AVNEncoder(std::ostream& strm, int indent = 0) : strm_(strm), indent_(indent) {}

protected:
    ASN1_CONST_VISITOR_ENTRIES;
    bool do_visit(IntegerWithNamedNumber const& v) override;
    bool preVisitExtensionRoots(SEQUENCE const& v) override;
    bool visitExtensionRoot(SEQUENCE const& v, int index) override;
    bool visitKnownExtension(SEQUENCE const& v, int index) override;
    bool afterVisitSequence(SEQUENCE const& v) override;

private:
    bool put(std::string_view text);
    bool blanks(int n);
    bool octets(char const* p, std::size_t n);
    bool field(SEQUENCE const& v, int index);

    std::ostream& strm_;
    int indent_;
    std::vector<bool> fieldWritten_;
};

// Appends text in the quoted form of a character string: backslash, double
// quote and control characters are escaped (\\, \", \n, \r, \t, \xHH), so a
// printed value stays on one line; other octets are kept.
void escapeString(std::string& out, std::string_view text);
// The reverse of escapeString for the text between the quotes; false on a
// malformed escape.
bool unescapeString(std::string& out, std::string_view text);

namespace detail {
// Inside a handler: sets `state` on the stream and throws the exception on
// when the stream's exception mask asks for that state.
void setStreamFailure(std::ios& strm, std::ios_base::iostate state);

// The error rules of the value stream operators: `io` runs behind a sentry
// and returns the state to set; an allocation failure sets badbit, any other
// exception failbit, each thrown on only when the mask asks for it.
template <class Stream, class IO>
Stream& guardedStreamIO(Stream& strm, IO io)
{
    if (!strm.good())
        return strm;
    std::ios_base::iostate state = std::ios_base::goodbit;
    try {
        typename Stream::sentry ok(strm);
        if (!ok)
            return strm;
        state = io();
    } catch (std::bad_alloc const&) {
        setStreamFailure(strm, std::ios_base::badbit);
    } catch (...) {
        setStreamFailure(strm, std::ios_base::failbit);
    }
    if (state)
        strm.setstate(state);
    return strm;
}
} // namespace detail

} // namespace ASN1
