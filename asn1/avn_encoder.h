// Value-notation printer: the text of every value in the log lines.
#pragma once

#include "asn1/asn1.h"

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
    bool do_visit(Null const& v) override;
    bool do_visit(BOOLEAN const& v) override;
    bool do_visit(INTEGER const& v) override;
    bool do_visit(IntegerWithNamedNumber const& v) override;
    bool do_visit(ENUMERATED const& v) override;
    bool do_visit(OBJECT_IDENTIFIER const& v) override;
    bool do_visit(BIT_STRING const& v) override;
    bool do_visit(OCTET_STRING const& v) override;
    bool do_visit(AbstractString const& v) override;
    bool do_visit(BMPString const& v) override;
    bool do_visit(CHOICE const& v) override;
    bool do_visit(OpenData const& v) override;
    bool do_visit(GeneralizedTime const& v) override;
    bool do_visit(SEQUENCE_OF_Base const& v) override;
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

} // namespace ASN1
