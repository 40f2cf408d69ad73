// Hand-written tables shared by the tests, over the runtime's own classes.
//
//   Inner ::= SEQUENCE { y BOOLEAN }
//   Pick  ::= CHOICE { a INTEGER, b INTEGER, c NULL, d BOOLEAN, e Inner }
//   Ext   ::= SEQUENCE { m INTEGER, o1 BOOLEAN OPTIONAL, o2 INTEGER OPTIONAL,
//                        ..., x1 INTEGER, x2 Inner, x3 BOOLEAN, x4 NULL }
//   Ints  ::= SEQUENCE OF INTEGER
//   Sparse ::= ENUMERATED { a, b, c, d, e, f, g(13), h(123) }
//   Named  ::= INTEGER { minus(-1), zero(0), seven(7) }
// Sparse and Named are constant expressions, as generated tables must be.
#pragma once

#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "samples/asn1/per_value_text.h"

namespace fixtures {

extern const ASN1::SEQUENCE::InfoType innerInfo;
extern const ASN1::CHOICE::InfoType pickInfo;
extern const ASN1::SEQUENCE::InfoType extInfo;
extern const ASN1::SEQUENCE_OF_Base::InfoType intsInfo;

inline constexpr char const* sparseNames[] = {"a", "b", "c", "d", "e", "f", "g=13", "h=123"};
inline constexpr ASN1::ENUMERATED::InfoType sparseInfo = {&ASN1::make<ASN1::ENUMERATED>, 10, false, 123,
                                                          sparseNames, 8};
inline constexpr ASN1::IntegerWithNamedNumber::NameEntry namedEntries[] = {{-1, "minus"}, {0, "zero"}, {7, "seven"}};
inline constexpr ASN1::IntegerWithNamedNumber::InfoType namedInfo = {
    &ASN1::IntegerWithNamedNumber::create, 2, ASN1::Unconstrained, 0, 4294967295u, namedEntries, 3};

// Ext field indexes and optional indexes.
enum { M = 0, O1 = 1, O2 = 2, X1 = 3, X2 = 4, X3 = 5, X4 = 6 };
enum { OPT_O1 = 0, OPT_O2 = 1, OPT_X1 = 2, OPT_X2 = 3, OPT_X3 = 4, OPT_X4 = 5 };

inline ASN1::INTEGER& integer(ASN1::AbstractData* p) { return dynamic_cast<ASN1::INTEGER&>(*p); }
inline ASN1::BOOLEAN& boolean(ASN1::AbstractData* p) { return dynamic_cast<ASN1::BOOLEAN&>(*p); }

// A list of INTEGERs holding the given values.
ASN1::SEQUENCE_OF_Base ints(std::initializer_list<int> values);

using Calls = std::vector<std::string>;

// Records the entries and hooks it is called with, and answers the SEQUENCE
// hooks with scripted codes.
class Recorder : public ASN1::Visitor {
public:
    int preRoots = CONTINUE, root = CONTINUE, preExt = CONTINUE, known = CONTINUE;
    Calls calls;

protected:
    int note(std::string what, int code = true)
    {
        calls.push_back(what);
        return code;
    }
    bool do_visit(ASN1::Null&) override { return note("null"); }
    bool do_visit(ASN1::BOOLEAN&) override { return note("boolean"); }
    bool do_visit(ASN1::INTEGER&) override { return note("integer"); }
    bool do_visit(ASN1::ENUMERATED&) override { return note("enumerated"); }
    bool do_visit(ASN1::OBJECT_IDENTIFIER&) override { return note("oid"); }
    bool do_visit(ASN1::OCTET_STRING&) override { return note("octets"); }
    bool do_visit(ASN1::BIT_STRING&) override { return note("bits"); }
    bool do_visit(ASN1::AbstractString&) override { return note("string"); }
    bool do_visit(ASN1::BMPString&) override { return note("bmp"); }
    bool do_visit(ASN1::CHOICE&) override { return note("choice"); }
    bool do_visit(ASN1::SEQUENCE_OF_Base&) override { return note("list"); }
    bool do_visit(ASN1::OpenData&) override { return note("open"); }
    bool do_revisit(ASN1::OpenData&) override { return note("reopen"); }
    bool do_visit(ASN1::TypeConstrainedOpenData&) override { return note("typed-open"); }
    bool do_visit(ASN1::GeneralizedTime&) override { return note("time"); }
    int preVisitExtensionRoots(ASN1::SEQUENCE&) override { return note("preRoots", preRoots); }
    int visitExtensionRoot(ASN1::SEQUENCE&, int index, int id) override
    {
        return note("root " + std::to_string(index) + " " + std::to_string(id), root);
    }
    int preVisitExtensions(ASN1::SEQUENCE&) override { return note("preExt", preExt); }
    int visitKnownExtension(ASN1::SEQUENCE&, int index, int opt) override
    {
        return note("known " + std::to_string(index) + " " + std::to_string(opt), known);
    }
    bool visitUnknownExtensions(ASN1::SEQUENCE&) override { return note("unknown"); }
};

// The read-only walk, with entries for numbers and open values only.
class ConstRecorder : public ASN1::ConstVisitor {
public:
    Calls calls;

protected:
    bool note(std::string what)
    {
        calls.push_back(what);
        return true;
    }
    bool do_visit(ASN1::INTEGER const&) override { return note("integer"); }
    bool do_visit(ASN1::OpenData const&) override { return note("open"); }
    bool preVisitExtensions(ASN1::SEQUENCE const&) override { return note("preExt"); }
    bool visitExtensionRoot(ASN1::SEQUENCE const&, int index) override { return note("root " + std::to_string(index)); }
    bool visitKnownExtension(ASN1::SEQUENCE const&, int index) override
    {
        return note("known " + std::to_string(index));
    }
};

} // namespace fixtures
