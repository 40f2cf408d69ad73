// Every generated type of the four modules, filled with values that reach
// its constraints, encodes in aligned PER and decodes to an equal value.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "codec.h"
#include "protocol/lgcp.h"

namespace {

using namespace ASN1;

struct TypeEntry {
    char const* name;
    void const* info;
};

TypeEntry const allTypes[] = {
#include "protocol/all_types.inc"
};

// Fills a value from its table. `variant` picks the CHOICE alternatives
// and whether optional fields are present, so successive variants reach
// every alternative and both presence states.
class Filler {
public:
    explicit Filler(unsigned variant) : variant_(variant) {}

    void fill(AbstractData& v, unsigned depth = 0)
    {
        if (auto* s = dynamic_cast<SEQUENCE*>(&v))
            fillSequence(*s, depth);
        else if (auto* c = dynamic_cast<CHOICE*>(&v))
            fillChoice(*c, depth);
        else if (auto* l = dynamic_cast<SEQUENCE_OF_Base*>(&v))
            fillList(*l, depth);
        else if (auto* i = dynamic_cast<INTEGER*>(&v))
            fillInteger(*i);
        else if (auto* e = dynamic_cast<ENUMERATED*>(&v))
            fillEnumerated(*e);
        else if (auto* b = dynamic_cast<BOOLEAN*>(&v))
            *b = (variant_ % 2) == 0;
        else if (auto* o = dynamic_cast<OCTET_STRING*>(&v))
            *o = std::vector<char>(variant_ % 3 ? 3 : 200, '\xa5');
        else if (auto* str = dynamic_cast<AbstractString*>(&v))
            fillString(*str);
    }

private:
    // the smallest named value that is not negative, the greatest, or (when
    // the type is extensible) one beyond the names
    void fillEnumerated(ENUMERATED& e)
    {
        if (variant_ % 4 == 3 && e.extendable()) {
            e.setFromInt(e.getMaximum() + 5);
            return;
        }
        if (variant_ % 2) {
            e.setFromInt(e.getMaximum());
            return;
        }
        int value = -1, smallest = e.getMaximum();
        for (unsigned k = 0; k < e.info()->numNames; ++k) {
            std::string name = e.info()->names[k];
            auto eq = name.find('=');
            value = eq == std::string::npos ? value + 1 : std::stoi(name.substr(eq + 1));
            if (value >= 0)
                smallest = std::min(smallest, value);
        }
        e.setFromInt(smallest);
    }

    void fillSequence(SEQUENCE& s, unsigned depth)
    {
        auto const* info = s.info();
        for (unsigned i = 0; i < info->numRootFields; ++i) {
            int id = info->fieldIds[i];
            if (id >= 0 && (variant_ + i) % 2 != 0 && depth > 0)
                continue;
            AbstractData* f = id < 0 ? s.getField(i) : s.includeOptionalField(unsigned(id), i);
            fill(*f, depth + 1);
        }
        for (unsigned k = 0; k < info->numExtensions; ++k) {
            if ((variant_ + k) % 2 == 0)
                fill(*s.includeOptionalField(info->numOptional + k, info->numRootFields + k), depth + 1);
        }
    }

    void fillChoice(CHOICE& c, unsigned depth)
    {
        unsigned n = c.info()->totalChoices;
        unsigned pick = depth == 0 ? variant_ % n : (variant_ + depth) % n;
        ASSERT_TRUE(c.select(int(pick)));
        fill(*c.getSelection(), depth + 1);
    }

    void fillList(SEQUENCE_OF_Base& l, unsigned depth)
    {
        unsigned n = std::max<unsigned>(l.getLowerLimit(), depth > 3 ? 0 : 2);
        n = std::min(n, l.getUpperLimit());
        for (unsigned k = 0; k < n; ++k) {
            AbstractData* e = l.createElement();
            l.push_back(e);
            fill(*e, depth + 1);
        }
    }

    void fillInteger(INTEGER& i)
    {
        if (!i.constrained()) {
            i.setValue(variant_ % 2 ? -100000 : 2147483647);
            return;
        }
        i.setValue(static_cast<int>(variant_ % 2 ? i.getUpperLimit() : unsigned(i.getLowerLimit())));
    }

    void fillString(AbstractString& s)
    {
        unsigned len = std::min<unsigned>(std::max<int>(s.getLowerLimit(), 5), s.getUpperLimit());
        s.assign(std::string(len, variant_ % 2 ? '~' : '\x01'));
    }

    unsigned variant_;
};

TEST(ProtocolRoundTrip, EveryTypeDecodesToAnEqualValue)
{
    ASSERT_GT(std::size(allTypes), 100u);
    for (auto const& t : allTypes) {
        for (unsigned variant = 0; variant < 32; ++variant) {
            std::unique_ptr<AbstractData> value(AbstractData::create(t.info));
            Filler(variant).fill(*value);
            std::vector<char> octets = protocol_test::encode(*value);
            ASSERT_FALSE(octets.empty()) << t.name << " variant " << variant << "\n" << *value;
            auto back = protocol_test::decode(t.info, octets);
            ASSERT_TRUE(back) << t.name << " variant " << variant << " " << protocol_test::toHex(octets);
            EXPECT_TRUE(*back == *value) << t.name << " variant " << variant << "\n"
                                         << *value << "\n"
                                         << *back;
            // a decoded value is of the generated class, as a built one is
            EXPECT_EQ(typeid(*back), typeid(*value)) << t.name;
        }
    }
}

} // namespace
