// Hand-written tables shared by the tests, over the runtime's own classes.
//
//   Inner ::= SEQUENCE { y BOOLEAN }
//   Pick  ::= CHOICE { a INTEGER, b INTEGER, c NULL, d BOOLEAN, e Inner }
//   Ext   ::= SEQUENCE { m INTEGER, o1 BOOLEAN OPTIONAL, o2 INTEGER OPTIONAL,
//                        ..., x1 INTEGER, x2 Inner, x3 BOOLEAN, x4 NULL }
//   Ints  ::= SEQUENCE OF INTEGER
#pragma once

#include "asn1/asn1.h"

namespace fixtures {

extern const ASN1::SEQUENCE::InfoType innerInfo;
extern const ASN1::CHOICE::InfoType pickInfo;
extern const ASN1::SEQUENCE::InfoType extInfo;
extern const ASN1::SEQUENCE_OF_Base::InfoType intsInfo;

// Ext field indexes and optional indexes.
enum { M = 0, O1 = 1, O2 = 2, X1 = 3, X2 = 4, X3 = 5, X4 = 6 };
enum { OPT_O1 = 0, OPT_O2 = 1, OPT_X1 = 2, OPT_X2 = 3, OPT_X3 = 4, OPT_X4 = 5 };

inline ASN1::INTEGER& integer(ASN1::AbstractData* p) { return dynamic_cast<ASN1::INTEGER&>(*p); }
inline ASN1::BOOLEAN& boolean(ASN1::AbstractData* p) { return dynamic_cast<ASN1::BOOLEAN&>(*p); }

// A list of INTEGERs holding the given values.
ASN1::SEQUENCE_OF_Base ints(std::initializer_list<int> values);

} // namespace fixtures
