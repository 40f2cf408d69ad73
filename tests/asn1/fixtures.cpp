#include "fixtures.h"

namespace fixtures {

using namespace ASN1;

namespace {
void const* const innerFields[] = {&BOOLEAN::theInfo};
int const innerIds[] = {-1};
char const* const innerNames[] = {"y"};

void const* const pickAlternatives[] = {&INTEGER::theInfo, &INTEGER::theInfo, &Null::theInfo, &BOOLEAN::theInfo,
                                        &innerInfo};
char const* const pickNames[] = {"a", "b", "c", "d", "e"};

void const* const extFields[] = {&INTEGER::theInfo, &BOOLEAN::theInfo, &INTEGER::theInfo, &INTEGER::theInfo,
                                 &innerInfo,        &BOOLEAN::theInfo, &Null::theInfo};
int const extIds[] = {-1, 0, 1, 0, 0, 0, 0};
char const* const extNames[] = {"m", "o1", "o2", "x1", "x2", "x3", "x4"};
} // namespace

const SEQUENCE::InfoType innerInfo = {&SEQUENCE::create, 16, false, innerFields, innerIds, 1, 0, 0,
                                      nullptr,           nullptr, innerNames};
const CHOICE::InfoType pickInfo = {&CHOICE::create, 0, false, pickAlternatives, 5, 5, nullptr, pickNames};
const SEQUENCE::InfoType extInfo = {&SEQUENCE::create, 16, true, extFields, extIds, 3, 4, 2, nullptr, nullptr, extNames};
const SEQUENCE_OF_Base::InfoType intsInfo = {&SEQUENCE_OF_Base::create, 16, Unconstrained, 0, 4294967295u,
                                             &INTEGER::theInfo};

SEQUENCE_OF_Base ints(std::initializer_list<int> values)
{
    SEQUENCE_OF_Base l(&intsInfo);
    for (int v : values)
        l.push_back(new INTEGER(v));
    return l;
}

} // namespace fixtures
