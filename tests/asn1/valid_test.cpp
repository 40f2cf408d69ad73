// Validity checks and the tracer's words, for the kinds the protocol carries.
#include "asn1/valid_checker.h"
#include "tests/asn1/helpers.h"

#include <sstream>

using namespace ASN1;

namespace {

// "" when valid, else the tracer's text
std::string trace(AbstractData const& v)
{
    std::ostringstream o;
    bool ok = trace_invalid(o, "hdr:", v);
    EXPECT_EQ(ok, o.str().empty());
    EXPECT_EQ(ok, v.isValid());
    if (ok)
        return "";
    std::string s = o.str();
    EXPECT_EQ(s.substr(0, 4), "hdr:");
    EXPECT_EQ(s.back(), '\n');
    return s.substr(4, s.size() - 5);
}

// valid, strictly valid
#define EXPECT_VERDICT(value, v, s)                                                                \
    do {                                                                                           \
        EXPECT_EQ((value).isValid(), v);                                                           \
        EXPECT_EQ((value).isStrictlyValid(), s);                                                   \
    } while (0)

using PercentExt = Constrained_INTEGER<ExtendableConstraint, 0, 100>;
using Int8 = Constrained_INTEGER<FixedConstraint, -128, 127>;
using Slot = Constrained_INTEGER<FixedConstraint, 0, 1023>;
using AtLeast5 = Constrained_INTEGER<PartiallyConstrained, 5, 4294967295u>;

const ConstrainedObject::InfoType octets1to4 = {&OCTET_STRING::create, 4, FixedConstraint, 1, 4};
const ConstrainedObject::InfoType bits2to3ext = {&BIT_STRING::create, 3, ExtendableConstraint, 2, 3};
char const* const fiveNames[] = {"a", "b", "c", "d", "e", "f"};
const ENUMERATED::InfoType fixedEnum = {&ENUMERATED::create, 10, false, 5, fiveNames, 6};
const ENUMERATED::InfoType extEnum = {&ENUMERATED::create, 10, true, 5, fiveNames, 6};
const SEQUENCE_OF_Base::InfoType slots1to2ext = {&SEQUENCE_OF_Base::create, 16, ExtendableConstraint, 1, 2,
                                                 &Slot::theInfo};

} // namespace

// The daemon's links never ask for these checks: one case per kind and verdict.
TEST(Validity, EveryKindAndTheTracersPath)
{
    EXPECT_VERDICT(PercentExt(200u), true, false);
    EXPECT_EQ(trace(Int8(static_cast<unsigned>(-129))), " The INTEGER value -129 is smaller than lower bound -128");
    EXPECT_EQ(trace(Slot(static_cast<unsigned>(-1))), " The INTEGER value 4294967295 is greater than upper bound 1023");
    EXPECT_VERDICT(AtLeast5(4000000000u), true, true);
    EXPECT_EQ(trace(OCTET_STRING(5, 'x', &octets1to4)), " This OCTET STRING has size 5 greater than its upper bound 4");
    BIT_STRING b(&bits2to3ext);
    b.resize(4);
    EXPECT_VERDICT(b, true, false); // above an extensible range
    EXPECT_EQ(trace(NumericString("1\n")), " The character '\\n' is not valid for the string");
    ENUMERATED e(&fixedEnum), x(&extEnum);
    e.setFromInt(7);
    x.setFromInt(7);
    EXPECT_EQ(trace(e), " This ENUMERATED has invalid value 7");
    EXPECT_VERDICT(x, true, false);
    OpenData open;
    EXPECT_EQ(trace(open), " This Open Type does not contain any valid data");
    EXPECT_EQ(trace(*BerTest::make("Pick")), " This CHOICE is not selected");
    EXPECT_EQ(trace(*asn1_test::built("Pick", "2:{T,_,s,0}")),
              ".pair.name This AbstractString has size 0 smaller than its lower bound 1");
    EXPECT_VERDICT(*asn1_test::built("PickExt", "2:5"), true, false);
    SEQUENCE_OF_Base l(&slots1to2ext);
    l.resize(3);
    EXPECT_VERDICT(l, true, false);
    l.resize(2);
    static_cast<Slot&>(l.at(1)) = 2000u;
    EXPECT_EQ(trace(l), "[1] The INTEGER value 2000 is greater than upper bound 1023");
}
