// Double dispatch of every value class and the two SEQUENCE walks.
#include "asn1/asn1.h"

namespace ASN1 {

#define ASN1_ACCEPT(Class)                                                                         \
    bool Class::do_accept(Visitor& v) { return v.visit(*this); }                                   \
    bool Class::do_accept(ConstVisitor& v) const { return v.visit(*this); }

ASN1_ACCEPT(Null)
ASN1_ACCEPT(BOOLEAN)
ASN1_ACCEPT(INTEGER)
ASN1_ACCEPT(IntegerWithNamedNumber)
ASN1_ACCEPT(ENUMERATED)
ASN1_ACCEPT(OBJECT_IDENTIFIER)
ASN1_ACCEPT(BIT_STRING)
ASN1_ACCEPT(OCTET_STRING)
ASN1_ACCEPT(AbstractString)
ASN1_ACCEPT(BMPString)
ASN1_ACCEPT(GeneralizedTime)
ASN1_ACCEPT(CHOICE)
ASN1_ACCEPT(SEQUENCE)
ASN1_ACCEPT(SEQUENCE_OF_Base)
ASN1_ACCEPT(OpenData)
#undef ASN1_ACCEPT

// A read-only visitor sees it as a plain open value.
bool TypeConstrainedOpenData::do_accept(Visitor& v) { return v.visit(*this); }

bool Visitor::do_visit(IntegerWithNamedNumber& v) { return visit(static_cast<INTEGER&>(v)); }

bool Visitor::do_visit(SEQUENCE& s)
{
    SEQUENCE::InfoType const* info = s.info();
    int r = preVisitExtensionRoots(s);
    if (r < NO_EXTENSION)
        return r == STOP;
    for (unsigned i = 0; i < info->numRootFields; ++i) {
        int c = visitExtensionRoot(s, int(i), info->fieldIds[i]);
        if (c < NO_EXTENSION)
            return c == STOP;
    }
    if (r != CONTINUE)
        return true;
    int e = preVisitExtensions(s);
    if (e != CONTINUE)
        return e != FAIL;
    for (unsigned i = info->numRootFields; i < s.fieldCount(); ++i) {
        int c = visitKnownExtension(s, int(i), int(info->numOptional + (i - info->numRootFields)));
        if (c != CONTINUE)
            return c != FAIL;
    }
    return visitUnknownExtensions(s);
}

bool ConstVisitor::do_visit(Null const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BOOLEAN const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(INTEGER const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(IntegerWithNamedNumber const& v) { return do_visit(static_cast<INTEGER const&>(v)); }
bool ConstVisitor::do_visit(ENUMERATED const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OBJECT_IDENTIFIER const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BIT_STRING const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OCTET_STRING const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(AbstractString const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BMPString const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(CHOICE const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OpenData const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(GeneralizedTime const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(SEQUENCE_OF_Base const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::preVisitExtensionRoots(SEQUENCE const& v) { return do_visit(static_cast<AbstractData const&>(v)); }

bool ConstVisitor::do_visit(SEQUENCE const& s)
{
    SEQUENCE::InfoType const* info = s.info();
    if (!preVisitExtensionRoots(s))
        return false;
    for (unsigned i = 0; i < info->numRootFields; ++i) {
        int id = info->fieldIds[i];
        if (id != -1 && !s.hasOptionalField(unsigned(id)))
            continue;
        if (!s.getField(i) || !visitExtensionRoot(s, int(i))) // present without an object: broken value
            return false;
    }
    if (s.extensionMap().size() != 0) {
        if (!preVisitExtensions(s))
            return false;
        for (unsigned i = info->numRootFields; i < s.fieldCount(); ++i) {
            unsigned opt = info->numOptional + (i - info->numRootFields);
            if (s.hasOptionalField(opt) && (!s.getField(i) || !visitKnownExtension(s, int(i))))
                return false;
        }
    }
    return afterVisitSequence(s);
}

} // namespace ASN1
