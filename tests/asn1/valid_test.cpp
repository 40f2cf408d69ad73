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

using Percent = Constrained_INTEGER<FixedConstraint, 0, 100>;
using PercentExt = Constrained_INTEGER<ExtendableConstraint, 0, 100>;
using Int8 = Constrained_INTEGER<FixedConstraint, -128, 127>;
using Slot = Constrained_INTEGER<FixedConstraint, 0, 1023>;
using AtLeast5 = Constrained_INTEGER<PartiallyConstrained, 5, 4294967295u>;

const ConstrainedObject::InfoType octets1to4 = {&OCTET_STRING::create, 4, FixedConstraint, 1, 4};
const ConstrainedObject::InfoType bits2to3ext = {&BIT_STRING::create, 3, ExtendableConstraint, 2, 3};
char const* const fiveNames[] = {"a", "b", "c", "d", "e", "f"};
const ENUMERATED::InfoType fixedEnum = {&ENUMERATED::create, 10, false, 5, fiveNames, 6};
const ENUMERATED::InfoType extEnum = {&ENUMERATED::create, 10, true, 5, fiveNames, 6};
const SEQUENCE_OF_Base::InfoType slots1to2 = {&SEQUENCE_OF_Base::create, 16, FixedConstraint, 1, 2, &Slot::theInfo};
const SEQUENCE_OF_Base::InfoType slots1to2ext = {&SEQUENCE_OF_Base::create, 16, ExtendableConstraint, 1, 2,
                                                 &Slot::theInfo};

} // namespace

TEST(Validity, Integers)
{
    EXPECT_VERDICT(PercentExt(200u), true, false);
    EXPECT_EQ(trace(Percent(200u)), " The INTEGER value 200 is greater than upper bound 100");
    EXPECT_VERDICT(Percent(100u), true, true);

    // negative values of signed ranges and of unconstrained types
    EXPECT_VERDICT(Int8(static_cast<unsigned>(-128)), true, true);
    EXPECT_EQ(trace(Int8(static_cast<unsigned>(-129))), " The INTEGER value -129 is smaller than lower bound -128");
    EXPECT_EQ(trace(Int8(128u)), " The INTEGER value 128 is greater than upper bound 127");
    EXPECT_VERDICT(INTEGER(-2147483647 - 1), true, true);

    // ranges from 0 hold unsigned numbers
    EXPECT_EQ(trace(Slot(static_cast<unsigned>(-1))), " The INTEGER value 4294967295 is greater than upper bound 1023");
    EXPECT_EQ(trace(AtLeast5(4u)), " The INTEGER value 4 is smaller than lower bound 5");
    EXPECT_VERDICT(AtLeast5(4000000000u), true, true);
}

TEST(Validity, SizesAndAlphabets)
{
    OCTET_STRING o(5, 'x', &octets1to4);
    EXPECT_EQ(trace(o), " This OCTET STRING has size 5 greater than its upper bound 4");
    o.resize(4);
    EXPECT_VERDICT(o, true, true);

    BIT_STRING b(&bits2to3ext);
    b.resize(4);
    EXPECT_VERDICT(b, true, false); // above an extensible range
    b.resize(1);
    EXPECT_EQ(trace(b), " This BIT STRING has size 1 smaller than its lower bound 2");

    EXPECT_VERDICT(NumericString("12 3"), true, true);
    EXPECT_EQ(trace(NumericString("1\n")), " The character '\\n' is not valid for the string");
    EXPECT_EQ(trace(*asn1_test::built("Name", "s" + std::string(130, '6'))),
              " This AbstractString has size 65 greater than its upper bound 64");
}

TEST(Validity, OtherKinds)
{
    ENUMERATED e(&fixedEnum);
    e.setFromInt(7);
    EXPECT_EQ(trace(e), " This ENUMERATED has invalid value 7");
    e.setFromInt(-1); // below zero without a name
    EXPECT_VERDICT(e, false, false);
    ENUMERATED x(&extEnum);
    x.setFromInt(7);
    EXPECT_VERDICT(x, true, false);

    OpenData open;
    EXPECT_EQ(trace(open), " This Open Type does not contain any valid data");
    open.grab(new std::vector<char>{1});
    EXPECT_VERDICT(open, true, true);
    open.set_data(new Percent(101u));
    EXPECT_EQ(trace(open), " The INTEGER value 101 is greater than upper bound 100");
}

TEST(Validity, ChoicesSequencesAndPaths)
{
    auto pick = BerTest::make("Pick");
    auto& c = static_cast<CHOICE&>(*pick);
    EXPECT_EQ(trace(c), " This CHOICE is not selected");
    c.select(7);
    EXPECT_EQ(trace(c), " This selection is not understood by this decoder");
    // the path names the alternative and the field
    EXPECT_EQ(trace(*asn1_test::built("Pick", "2:{T,_,s,0}")),
              ".pair.name This AbstractString has size 0 smaller than its lower bound 1");
    EXPECT_VERDICT(*asn1_test::built("Pick", "2:{T,_,s61,0}"), true, true);
    // an extension alternative is valid but not strictly valid
    EXPECT_VERDICT(*asn1_test::built("PickExt", "2:5"), true, false);

    auto pair = asn1_test::built("Pair", "{T,2000,s,0}");
    EXPECT_EQ(trace(*pair), ".slot The INTEGER value 2000 is greater than upper bound 1023");
    // an invalid field left out is not judged
    static_cast<SEQUENCE&>(*pair).removeOptionalField(0);
    static_cast<SEQUENCE&>(*pair).removeOptionalField(1);
    EXPECT_VERDICT(*pair, true, true);
    EXPECT_EQ(trace(*asn1_test::built("Pair", "{T,_,s6180,0}")),
              ".name The character '\\x80' is not valid for the string");
}

TEST(Validity, ListSizesAndElements)
{
    SEQUENCE_OF_Base l(&slots1to2);
    EXPECT_EQ(trace(l), " This SEQUENCE OF has size 0 smaller than its lower bound 1");
    l.resize(3);
    EXPECT_EQ(trace(l), " This SEQUENCE OF has size 3 greater than its upper bound 2");
    SEQUENCE_OF_Base e(&slots1to2ext);
    e.resize(3);
    EXPECT_VERDICT(e, true, false);
    e.resize(2);
    static_cast<Slot&>(e.at(1)) = 2000u;
    EXPECT_EQ(trace(e), "[1] The INTEGER value 2000 is greater than upper bound 1023");
}
