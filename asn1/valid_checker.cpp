// Validity checks and the constraint tracer.
#include "asn1/valid_checker.h"

#include "asn1/avn_encoder.h"

namespace ASN1 {

bool AbstractData::isValid() const
{
    ValidChecker checker;
    return accept(checker);
}

bool AbstractData::isStrictlyValid() const
{
    StrictlyValidChecker checker;
    return accept(checker);
}

std::ostream& operator<<(std::ostream& strm, InvalidTracer const& tracer) { return strm << tracer.text(); }

bool trace_invalid(std::ostream& strm, char const* header, AbstractData const& value)
{
    InvalidTracer tracer;
    if (value.accept(tracer))
        return true;
    strm << header << tracer << '\n';
    return false;
}

bool InvalidTracer::do_visit(INTEGER const& v)
{
    if (v.isValid())
        return true;
    std::int64_t n = v.numericValue();
    if (n < v.getLowerLimit()) {
        strm_ << " The INTEGER value " << n << " is smaller than lower bound " << v.getLowerLimit();
    } else {
        strm_ << " The INTEGER value " << n << " is greater than upper bound ";
        if (v.getLowerLimit() >= 0)
            strm_ << v.getUpperLimit();
        else
            strm_ << static_cast<int>(v.getUpperLimit());
    }
    return false;
}

bool InvalidTracer::do_visit(ENUMERATED const& v)
{
    if (v.isValid())
        return true;
    strm_ << " This ENUMERATED has invalid value " << v.asInt();
    return false;
}

bool InvalidTracer::do_visit(OBJECT_IDENTIFIER const& v)
{
    if (v.isValid())
        return true;
    strm_ << " This OBJECT IDENTIFIER is not assigned";
    return false;
}

bool InvalidTracer::sizeFault(char const* what, ConstrainedObject const& v, std::size_t n)
{
    if (n < static_cast<unsigned>(v.getLowerLimit()))
        strm_ << " This " << what << " has size " << n << " smaller than its lower bound " << v.getLowerLimit();
    else if (n > v.getUpperLimit())
        strm_ << " This " << what << " has size " << n << " greater than its upper bound " << v.getUpperLimit();
    else
        return false;
    return true;
}

bool InvalidTracer::do_visit(BIT_STRING const& v)
{
    if (v.isValid())
        return true;
    sizeFault("BIT STRING", v, v.size());
    return false;
}

bool InvalidTracer::do_visit(OCTET_STRING const& v)
{
    if (v.isValid())
        return true;
    sizeFault("OCTET STRING", v, v.size());
    return false;
}

bool InvalidTracer::do_visit(AbstractString const& v)
{
    if (v.isValid())
        return true;
    if (!sizeFault("AbstractString", v, v.size())) {
        auto at = v.find_first_invalid();
        std::string c;
        if (at != std::string::npos)
            escapeString(c, std::string_view(&v[at], 1));
        strm_ << " The character '" << c << "' is not valid for the string";
    }
    return false;
}

bool InvalidTracer::do_visit(BMPString const& v)
{
    if (v.isValid())
        return true;
    if (!sizeFault("BMPString", v, v.size())) {
        auto at = v.first_illegal_at();
        strm_ << " The character '" << (at < v.size() ? static_cast<std::uint32_t>(v[at]) : 0u)
              << "' is not valid for the string";
    }
    return false;
}

bool InvalidTracer::nested(char const* prefix, std::string const& name, AbstractData const& v)
{
    InvalidTracer inner;
    if (v.accept(inner))
        return true;
    strm_ << prefix << name << inner.text();
    return false;
}

bool InvalidTracer::do_visit(CHOICE const& v)
{
    if (v.isUnknownSelection()) {
        strm_ << " This selection is not understood by this decoder";
        return false;
    }
    if (v.currentSelection() < 0 || !v.getSelection()) {
        strm_ << " This CHOICE is not selected";
        return false;
    }
    return nested(".", v.getSelectionName(), *v.getSelection());
}

bool InvalidTracer::do_visit(OpenData const& v)
{
    if (v.has_data())
        return v.get_data().accept(*this);
    if (v.has_buf())
        return true;
    strm_ << " This Open Type does not contain any valid data";
    return false;
}

bool InvalidTracer::do_visit(GeneralizedTime const& v)
{
    if (v.isValid())
        return true;
    strm_ << " This GeneralizedTime is not valid";
    return false;
}

bool InvalidTracer::do_visit(SEQUENCE_OF_Base const& v)
{
    std::size_t n = v.size();
    if (!v.sizeValid(n)) {
        sizeFault("SEQUENCE OF", v, n);
        return false;
    }
    for (unsigned i = 0; i < n; ++i)
        if (!nested("[", std::to_string(i) + "]", v.at(i)))
            return false;
    return true;
}

bool InvalidTracer::visitExtensionRoot(SEQUENCE const& s, int index)
{
    return nested(".", s.getFieldName(index), *s.getField(unsigned(index)));
}

bool InvalidTracer::visitKnownExtension(SEQUENCE const& s, int index)
{
    return nested(".", s.getFieldName(index), *s.getField(unsigned(index)));
}

} // namespace ASN1
