// Tables of the Demo module, as the generator emits them.
#include "demo_module.h"

namespace Demo {

namespace {
char const* const Colour_names[] = {"red", "green", "blue=5", "violet"};

void const* const Address_infos[] = {&Address_name::theInfo, &Address_port::theInfo, &ASN1::Null::theInfo};
char const* const Address_names[] = {"name", "port", "none"};

void const* const Record_infos[] = {&Record::Id::theInfo, &Colour::theInfo, &Address::theInfo,
                                    &Record::Aliases::theInfo, &ASN1::IA5String::theInfo};
int const Record_ids[] = {-1, -1, 0, -1, 0};
char const* const Record_names[] = {"id", "colour", "address", "aliases", "comment"};
} // namespace

const Colour::InfoType Colour::theInfo = {&ASN1::make<Colour>, 10, false, 6, Colour_names, 4};

const Address_name::InfoType Address_name::theInfo = {
    &ASN1::make<Address_name>, 22, ASN1::FixedConstraint, 1, 64, ASN1::IA5StringSet, 128, 7, 7, 8};

const Address::InfoType Address::theInfo = {&ASN1::make<Address>, 0, true, Address_infos, 2, 3, nullptr,
                                            Address_names};

const Record::InfoType Record::theInfo = {
    &ASN1::make<Record>, 16, true, Record_infos, Record_ids, 4, 1, 1, nullptr, nullptr, Record_names};

} // namespace Demo
