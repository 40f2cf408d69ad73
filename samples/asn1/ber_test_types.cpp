#include "samples/asn1/ber_test_types.h"

#include <map>

#include "samples/asn1/per_test_types.h"

namespace BerTest {

namespace {

using namespace ASN1;

constexpr unsigned NoUpper = 4294967295u;

INTEGER::InfoType const AppInt = {&INTEGER::create, ApplicationTag + 5, Unconstrained, 0, NoUpper};
BOOLEAN::InfoType const PrivBool = {&BOOLEAN::create, PrivateTag + 31};
OCTET_STRING::InfoType const BigTag = {&OCTET_STRING::create, ContextSpecificTag + 200, Unconstrained, 0, NoUpper};
char const* const SignedNames[] = {"minus=-1", "zero=0", "big=1000"};
ENUMERATED::InfoType const Signed = {&ENUMERATED::create, 10, false, 1000, SignedNames, 3};

void const* const AltInfos[] = {&INTEGER::theInfo, &IA5String::theInfo, &BOOLEAN::theInfo};
unsigned const AltTags[] = {2, 22, ContextSpecificTag + 3};
char const* const AltNames[] = {"num", "text", "flag"};
CHOICE::InfoType const Alt = {&CHOICE::create, 0, false, AltInfos, 3, 3, AltTags, AltNames};

void const* const TaggedInfos[] = {&INTEGER::theInfo, &Null::theInfo};
unsigned const TaggedTags[] = {ContextSpecificTag + 0, ContextSpecificTag + 1};
char const* const TaggedNames[] = {"a", "b"};
CHOICE::InfoType const Tagged = {&CHOICE::create, ApplicationTag + 1, false, TaggedInfos, 2, 2, TaggedTags, TaggedNames};

void const* const NestedInfos[] = {&Alt, &INTEGER::theInfo};
unsigned const NestedTags[] = {0, ContextSpecificTag + 5};
char const* const NestedNames[] = {"inner", "other"};
CHOICE::InfoType const Nested = {&CHOICE::create, 0, false, NestedInfos, 2, 2, NestedTags, NestedNames};

SEQUENCE_OF_Base::InfoType const SetOfInt = {&SEQUENCE_OF_Base::create, 17, Unconstrained, 0, NoUpper, &INTEGER::theInfo};

void const* const RecInfos[] = {&INTEGER::theInfo, &IA5String::theInfo, &Alt, &Alt, &SetOfInt, &AppInt, &BigTag, &PrivBool};
int const RecIds[] = {-1, 0, -1, 1, -1, 2, 3, 4};
unsigned const RecTags[] = {2, ContextSpecificTag + 0, 0, ContextSpecificTag + 1, 17, ApplicationTag + 5,
                            ContextSpecificTag + 200, PrivateTag + 31};
char const* const RecNames[] = {"id", "name", "alt", "opt", "set", "app", "big", "priv"};
SEQUENCE::InfoType const Rec = {&SEQUENCE::create, 16, false, RecInfos, RecIds, 8, 0, 5, nullptr, RecTags, RecNames};

void const* const EmptyInfos[] = {&INTEGER::theInfo, &BOOLEAN::theInfo};
int const EmptyIds[] = {0, 1};
char const* const EmptyNames[] = {"a", "b"};
SEQUENCE::InfoType const Empty = {&SEQUENCE::create, 16, false, EmptyInfos, EmptyIds, 2, 0, 2, nullptr, nullptr, EmptyNames};

// Not in BerTest.asn: shapes the decoder must refuse or survive.
// SEQUENCE OF ANY.
SEQUENCE_OF_Base::InfoType const Anys = {&SEQUENCE_OF_Base::create, 16, Unconstrained, 0, NoUpper, &OpenData::theInfo};
// SEQUENCE { kind [0] INTEGER, body [1] INTEGER-constrained open value }
TypeConstrainedOpenData::InfoType const WrappedInt = {&TypeConstrainedOpenData::create, 0, &INTEGER::theInfo};
void const* const EnvelopeInfos[] = {&INTEGER::theInfo, &WrappedInt};
int const EnvelopeIds[] = {-1, -1};
char const* const EnvelopeNames[] = {"kind", "body"};
SEQUENCE::InfoType const Envelope = {&SEQUENCE::create, 16, false, EnvelopeInfos, EnvelopeIds, 2, 0, 0, nullptr, nullptr, EnvelopeNames};
// SEQUENCE { a [0] INTEGER OPTIONAL, alt Alt OPTIONAL } with own tags for alt
void const* const LooseInfos[] = {&INTEGER::theInfo, &Alt};
int const LooseIds[] = {0, 1};
unsigned const LooseTags[] = {ContextSpecificTag + 0, 0};
char const* const LooseNames[] = {"a", "alt"};
SEQUENCE::InfoType const Loose = {&SEQUENCE::create, 16, true, LooseInfos, LooseIds, 2, 0, 2, nullptr, LooseTags, LooseNames};

std::map<std::string, void const*> const tables = {
    {"AppInt", &AppInt}, {"PrivBool", &PrivBool}, {"BigTag", &BigTag}, {"Signed", &Signed},
    {"Alt", &Alt},       {"Tagged", &Tagged},     {"Nested", &Nested}, {"SetOfInt", &SetOfInt},
    {"Rec", &Rec},       {"Empty", &Empty},       {"Anys", &Anys},     {"Envelope", &Envelope},
    {"Loose", &Loose},
};

} // namespace

void const* info(std::string const& type)
{
    auto it = tables.find(type);
    return it == tables.end() ? PerTest::info(type) : it->second;
}

std::unique_ptr<ASN1::AbstractData> make(std::string const& type)
{
    return std::unique_ptr<ASN1::AbstractData>(ASN1::AbstractData::create(info(type)));
}

} // namespace BerTest
