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

// The read-only walk of a SEQUENCE.
class ConstRecorder : public ASN1::ConstVisitor {
public:
    Calls calls;

protected:
    bool note(std::string what)
    {
        calls.push_back(what);
        return true;
    }
    bool preVisitExtensions(ASN1::SEQUENCE const&) override { return note("preExt"); }
    bool visitExtensionRoot(ASN1::SEQUENCE const&, int index) override { return note("root " + std::to_string(index)); }
    bool visitKnownExtension(ASN1::SEQUENCE const&, int index) override
    {
        return note("known " + std::to_string(index));
    }
};

} // namespace fixtures
