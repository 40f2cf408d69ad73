// Validity checks against the constraints of the type tables, and the
// tracer that says in words why a value is not valid.
#pragma once

#include "asn1/asn1.h"

#include <ostream>
#include <sstream>

namespace ASN1 {

namespace detail {
// Strict: every value inside its root; else extensible constraints
// tolerate values outside the root.
template <bool Strict>
class ValidCheck : public ConstVisitor {
protected:
    template <class T>
    static bool check(T const& v)
    {
        return Strict ? v.isStrictlyValid() : v.isValid();
    }
    bool do_visit(Null const&) override { return true; }
    bool do_visit(BOOLEAN const&) override { return true; }
    bool do_visit(INTEGER const& v) override { return Strict ? v.isStrictValid() : v.isValid(); }
    bool do_visit(ENUMERATED const& v) override { return check(v); }
    bool do_visit(OBJECT_IDENTIFIER const& v) override { return check(v); }
    bool do_visit(BIT_STRING const& v) override { return check(v); }
    bool do_visit(OCTET_STRING const& v) override { return check(v); }
    bool do_visit(AbstractString const& v) override { return check(v); }
    bool do_visit(BMPString const& v) override { return check(v); }
    bool do_visit(CHOICE const& v) override { return check(v); }
    bool do_visit(OpenData const& v) override { return check(v); }
    bool do_visit(GeneralizedTime const& v) override { return check(v); }
    bool do_visit(SEQUENCE_OF_Base const& v) override { return check(v); }
    bool visitExtensionRoot(SEQUENCE const& s, int index) override { return s.getField(index)->accept(*this); }
    bool visitKnownExtension(SEQUENCE const& s, int index) override { return s.getField(index)->accept(*this); }
};
} // namespace detail

class ValidChecker : public detail::ValidCheck<false> {};
class StrictlyValidChecker : public detail::ValidCheck<true> {};

class InvalidTracer : public ConstVisitor {
public:
    InvalidTracer() : strm_(std::ios_base::in | std::ios_base::out) {}
    std::string text() const { return strm_.str(); }

protected:
    bool do_visit(INTEGER const& v) override;
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
    bool visitExtensionRoot(SEQUENCE const& s, int index) override;
    bool visitKnownExtension(SEQUENCE const& s, int index) override;

private:
    bool sizeFault(char const* what, ConstrainedObject const& v, std::size_t n);
    bool nested(char const* prefix, std::string const& name, AbstractData const& v);

    std::stringstream strm_;
};

std::ostream& operator<<(std::ostream& strm, InvalidTracer const& tracer);

} // namespace ASN1
