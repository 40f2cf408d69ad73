#include "samples/asn1/per_test_types.h"

#include <map>

namespace PerTest {

namespace {

using namespace ASN1;

constexpr unsigned NoUpper = 4294967295u;

using Bit1 = Constrained_INTEGER<FixedConstraint, 0, 1>;
using Int7 = Constrained_INTEGER<FixedConstraint, 0, 127>;
using Int255 = Constrained_INTEGER<FixedConstraint, 1, 255>;
using Int256 = Constrained_INTEGER<FixedConstraint, 0, 255>;
using Signed8 = Constrained_INTEGER<FixedConstraint, -128, 127>;
using Int1024 = Constrained_INTEGER<FixedConstraint, 0, 1023>;
using Int65536 = Constrained_INTEGER<FixedConstraint, 0, 65535>;
using Int65537 = Constrained_INTEGER<FixedConstraint, 0, 65536>;
using Wide = Constrained_INTEGER<FixedConstraint, 112000, 399975>;
using Word = Constrained_INTEGER<FixedConstraint, 0, NoUpper>;
using Fixed = Constrained_INTEGER<FixedConstraint, 7, 7>;

INTEGER::InfoType const ExtInt = {&INTEGER::create, 2, ExtendableConstraint, 0, 100};
INTEGER::InfoType const ExtNeg = {&INTEGER::create, 2, ExtendableConstraint, -10, 10};
INTEGER::InfoType const LowOnly = {&INTEGER::create, 2, PartiallyConstrained, 5, NoUpper};

char const* const ColourNames[] = {"red", "green", "blue", "cyan", "magenta"};
ENUMERATED::InfoType const Colour = {&ENUMERATED::create, 10, false, 4, ColourNames, 5};
char const* const ModeNames[] = {"off", "on", "auto"};
ENUMERATED::InfoType const Mode = {&ENUMERATED::create, 10, true, 2, ModeNames, 3};
char const* const SparseNames[] = {"lo", "mid=5", "hi=10"};
ENUMERATED::InfoType const Sparse = {&ENUMERATED::create, 10, false, 10, SparseNames, 3};

OCTET_STRING::InfoType const Octets10 = {&OCTET_STRING::create, 4, FixedConstraint, 0, 10};
OCTET_STRING::InfoType const Octets3 = {&OCTET_STRING::create, 4, FixedConstraint, 3, 3};
OCTET_STRING::InfoType const OctetsExt = {&OCTET_STRING::create, 4, ExtendableConstraint, 1, 4};
OCTET_STRING::InfoType const Octets64K = {&OCTET_STRING::create, 4, FixedConstraint, 0, 65535};
OCTET_STRING::InfoType const Octets64K1 = {&OCTET_STRING::create, 4, FixedConstraint, 0, 65536};

AbstractString::InfoType const Name = {&AbstractString::create, 22, FixedConstraint, 1, 64, IA5StringSet, 128, 7, 7, 8};
AbstractString::InfoType const Short = {&AbstractString::create, 22, FixedConstraint, 0, 2, IA5StringSet, 128, 7, 7, 8};
AbstractString::InfoType const Digits = {
    &AbstractString::create, 18, FixedConstraint, 0, 8, NumericStringSet, 11, 4, 4, 4};

BIT_STRING::InfoType const Bits12 = {&BIT_STRING::create, 3, FixedConstraint, 12, 12};
BIT_STRING::InfoType const Bits24 = {&BIT_STRING::create, 3, FixedConstraint, 24, 24};
BIT_STRING::InfoType const Bits20 = {&BIT_STRING::create, 3, FixedConstraint, 0, 20};

SEQUENCE_OF_Base::InfoType const Bytes = {&SEQUENCE_OF_Base::create, 16, Unconstrained, 0, NoUpper, &Int256::theInfo};
SEQUENCE_OF_Base::InfoType const Names = {&SEQUENCE_OF_Base::create, 16, FixedConstraint, 0, 8, &Name};
SEQUENCE_OF_Base::InfoType const Bytes64K = {&SEQUENCE_OF_Base::create, 16, FixedConstraint, 0, 65535, &Int256::theInfo};

void const* const PairInfos[] = {&BOOLEAN::theInfo, &Int1024::theInfo, &Name, &Colour};
int const PairIds[] = {-1, 0, 1, -1};
char const* const PairNames[] = {"flag", "slot", "name", "colour"};
SEQUENCE::InfoType const Pair = {
    &SEQUENCE::create, 16, false, PairInfos, PairIds, 4, 0, 2, nullptr, nullptr, PairNames};

void const* const GrownInfos[] = {&Int7::theInfo, &BOOLEAN::theInfo, &INTEGER::theInfo, &Pair};
int const GrownIds[] = {-1, 0, 0, 0};
char const* const GrownNames[] = {"id", "on", "count", "pair"};
SEQUENCE::InfoType const Grown = {
    &SEQUENCE::create, 16, true, GrownInfos, GrownIds, 2, 2, 1, nullptr, nullptr, GrownNames};

void const* const PickInfos[] = {&Int1024::theInfo, &IA5String::theInfo, &Pair};
char const* const PickNames[] = {"slot", "text", "pair"};
CHOICE::InfoType const Pick = {&CHOICE::create, 0, false, PickInfos, 3, 3, nullptr, PickNames};

void const* const PickExtInfos[] = {&Int256::theInfo, &BOOLEAN::theInfo, &INTEGER::theInfo, &Grown};
char const* const PickExtNames[] = {"small", "flag", "big", "grown"};
CHOICE::InfoType const PickExt = {&CHOICE::create, 0, true, PickExtInfos, 2, 4, nullptr, PickExtNames};

void const* const SingleInfos[] = {&Int7::theInfo};
char const* const SingleNames[] = {"only"};
CHOICE::InfoType const Single = {&CHOICE::create, 0, false, SingleInfos, 1, 1, nullptr, SingleNames};

void const* const HolderInfos[] = {&OpenData::theInfo, &BOOLEAN::theInfo};
int const HolderIds[] = {-1, -1};
char const* const HolderNames[] = {"body", "tail"};
SEQUENCE::InfoType const Holder = {
    &SEQUENCE::create, 16, false, HolderInfos, HolderIds, 2, 0, 0, nullptr, nullptr, HolderNames};

SEQUENCE_OF_Base::InfoType const Picks = {&SEQUENCE_OF_Base::create, 16, Unconstrained, 0, NoUpper, &PickExt};

void const* const DeepInfos[] = {
    &Null::theInfo, &BOOLEAN::theInfo, &Int7::theInfo, &Int1024::theInfo, &Word::theInfo, &INTEGER::theInfo,
    &ExtInt, &Signed8::theInfo, &Colour, &Mode, &OCTET_STRING::theInfo, &Octets10, &IA5String::theInfo, &Name,
    &Digits, &BMPString::theInfo, &BIT_STRING::theInfo, &OBJECT_IDENTIFIER::theInfo, &GeneralizedTime::theInfo,
    &Picks, &Pick, &Grown, &Names, &Holder,
    &Grown, &PickExt};
int const DeepIds[] = {-1, -1, -1, -1, -1, -1, 0, -1, -1, 1, 2, -1, 3, -1, 4, 5, 6, 7, 8, -1, -1, 9, -1, 10, 0, 0};
char const* const DeepNames[] = {"none", "flag", "small", "slot", "word", "plain", "ext", "signed", "colour",
                                 "mode", "octets", "oct10", "text", "name", "digits", "wide", "bits", "oid",
                                 "time", "picks", "pick", "grown", "names", "open", "more", "last"};
SEQUENCE::InfoType const Deep = {
    &SEQUENCE::create, 16, true, DeepInfos, DeepIds, 24, 2, 11, nullptr, nullptr, DeepNames};

// Elements that count their own creation.
unsigned createdCount = 0;
AbstractData* countedCreate(void const* info)
{
    ++createdCount;
    return INTEGER::create(info);
}
INTEGER::InfoType const CountedElement = {&countedCreate, 2, FixedConstraint, 0, 255};
SEQUENCE_OF_Base::InfoType const Counted = {&SEQUENCE_OF_Base::create, 16, Unconstrained, 0, NoUpper, &CountedElement};

TypeConstrainedOpenData::InfoType const Wrapped = {&TypeConstrainedOpenData::create, 0, &Int1024::theInfo};

void const* const TailInfos[] = {&Octets10, &BOOLEAN::theInfo};
int const TailIds[] = {-1, -1};
char const* const TailNames[] = {"octets", "flag"};
SEQUENCE::InfoType const Tail = {&SEQUENCE::create, 16, false, TailInfos, TailIds, 2, 0, 0, nullptr, nullptr, TailNames};

void const* const PingInfos[] = {&Null::theInfo};
char const* const PingNames[] = {"ping"};
CHOICE::InfoType const Ping = {&CHOICE::create, 0, false, PingInfos, 1, 1, nullptr, PingNames};

// The constraint forms and kinds the Erlang module cannot give to Deep, and
// Deep itself inside an extension addition.
void const* const ExtrasInfos[] = {&Wrapped, &LowOnly, &Sparse, &Short, &OctetsExt, &Bits20, &ExtNeg, &Single,
                                   &Octets3, &Bits12, &Int255::theInfo, &Int65537::theInfo, &Wide::theInfo,
                                   &Ping, &Deep};
int const ExtrasIds[] = {-1, 0, -1, 1, -1, -1, 2, -1, -1, -1, -1, 3, -1, -1, 0};
char const* const ExtrasNames[] = {"wrapped", "low", "sparse", "short", "octx", "bits20", "extneg", "single",
                                   "octets3", "bits12", "int255", "int65537", "wide", "ping", "deep"};
SEQUENCE::InfoType const Extras = {
    &SEQUENCE::create, 16, true, ExtrasInfos, ExtrasIds, 14, 1, 4, nullptr, nullptr, ExtrasNames};

std::map<std::string, void const*> const tables = {
    {"Bit1", &Bit1::theInfo}, {"Int7", &Int7::theInfo}, {"Int255", &Int255::theInfo}, {"Int256", &Int256::theInfo},
    {"Signed8", &Signed8::theInfo}, {"Int1024", &Int1024::theInfo}, {"Int65536", &Int65536::theInfo},
    {"Int65537", &Int65537::theInfo}, {"Wide", &Wide::theInfo}, {"Word", &Word::theInfo}, {"Fixed", &Fixed::theInfo},
    {"Plain", &INTEGER::theInfo}, {"ExtInt", &ExtInt}, {"ExtNeg", &ExtNeg}, {"LowOnly", &LowOnly},
    {"Flag", &BOOLEAN::theInfo}, {"Nothing", &Null::theInfo}, {"Colour", &Colour}, {"Mode", &Mode},
    {"Sparse", &Sparse}, {"Octets", &OCTET_STRING::theInfo}, {"Octets10", &Octets10}, {"Octets3", &Octets3},
    {"OctetsExt", &OctetsExt}, {"Text", &IA5String::theInfo}, {"Name", &Name}, {"Short", &Short}, {"Digits", &Digits},
    {"Wide16", &BMPString::theInfo}, {"Bits", &BIT_STRING::theInfo}, {"Bits12", &Bits12}, {"Bits24", &Bits24},
    {"Bits20", &Bits20}, {"Oid", &OBJECT_IDENTIFIER::theInfo}, {"Time", &GeneralizedTime::theInfo}, {"Bytes", &Bytes},
    {"Names", &Names}, {"Pair", &Pair}, {"Grown", &Grown}, {"Pick", &Pick}, {"PickExt", &PickExt},
    {"Single", &Single}, {"Holder", &Holder}, {"Picks", &Picks}, {"Deep", &Deep}, {"Counted", &Counted},
    {"Wrapped", &Wrapped}, {"Ping", &Ping}, {"Tail", &Tail}, {"Extras", &Extras},
    {"Octets64K", &Octets64K}, {"Octets64K1", &Octets64K1}, {"Bytes64K", &Bytes64K}, {"WideEnds", &BMPString::theInfo},
};

} // namespace

void const* info(std::string const& type)
{
    auto it = tables.find(type);
    return it == tables.end() ? nullptr : it->second;
}

std::unique_ptr<ASN1::AbstractData> make(std::string const& type)
{
    return std::unique_ptr<ASN1::AbstractData>(ASN1::AbstractData::create(info(type)));
}

void resetCreated()
{
    createdCount = 0;
}

unsigned created()
{
    return createdCount;
}

} // namespace PerTest
