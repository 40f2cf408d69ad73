// Base class, NULL, BOOLEAN, INTEGER kinds and ENUMERATED.
#include "asn1/asn1.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace ASN1 {

int lexicographic_compare_bytes(char const* b1, char const* e1, char const* b2, char const* e2)
{
    for (; b1 != e1 && b2 != e2; ++b1, ++b2) {
        int d = int(static_cast<unsigned char>(*b1)) - int(static_cast<unsigned char>(*b2));
        if (d != 0)
            return d;
    }
    if (b1 == e1 && b2 == e2)
        return 0;
    return b1 == e1 ? -1 : 1;
}

int AbstractData::foreignCompare(AbstractData const& other) const
{
    return std::less<void const*>()(info_, other.info_) ? -1 : 1;
}

// ---------------------------------------------------------------- NULL, BOOLEAN

const Null::InfoType Null::theInfo = {&Null::create, 5};
const BOOLEAN::InfoType BOOLEAN::theInfo = {&BOOLEAN::create, 1};

int Null::do_compare(AbstractData const& other) const
{
    return dynamic_cast<Null const*>(&other) ? 0 : foreignCompare(other);
}

AbstractData* Null::do_clone() const { return cloneAs(*this); }

int BOOLEAN::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<BOOLEAN const*>(&other);
    if (!o)
        return foreignCompare(other);
    return int(value_) - int(o->value_);
}

AbstractData* BOOLEAN::do_clone() const { return cloneAs(*this); }

// ---------------------------------------------------------------- constrained kinds

bool ConstrainedObject::sizeValid(std::size_t n) const
{
    return n >= static_cast<unsigned>(getLowerLimit()) && (extendable() || n <= getUpperLimit());
}

bool ConstrainedObject::sizeStrictlyValid(std::size_t n) const
{
    return n >= static_cast<unsigned>(getLowerLimit()) && n <= getUpperLimit();
}

const INTEGER::InfoType INTEGER::theInfo = {&INTEGER::create, 2, Unconstrained, 0, 4294967295u};

std::int64_t INTEGER::numericValue() const
{
    return isUnsigned() ? std::int64_t(static_cast<unsigned>(value_)) : std::int64_t(value_);
}

bool INTEGER::holds(std::int64_t n) const
{
    constexpr std::int64_t intMin = INT32_MIN, intMax = INT32_MAX, uintMax = UINT32_MAX;
    if (!isUnsigned())
        return n >= intMin && n <= intMax;
    if (n < 0 || n > uintMax)
        return false;
    return getConstraintType() != PartiallyConstrained || n <= intMax;
}

bool INTEGER::setNumber(std::int64_t n)
{
    if (!holds(n))
        return false;
    value_ = static_cast<int>(static_cast<std::uint32_t>(n));
    return true;
}

bool INTEGER::isStrictValid() const
{
    switch (getConstraintType()) {
    case Unconstrained:
        return true;
    case PartiallyConstrained:
        return numericValue() >= getLowerLimit();
    default: {
        std::int64_t v = numericValue();
        // A range with a negative lower bound holds a signed upper bound.
        std::int64_t upper = getLowerLimit() >= 0 ? std::int64_t(getUpperLimit())
                                                  : std::int64_t(static_cast<int>(getUpperLimit()));
        return v >= getLowerLimit() && v <= upper;
    }
    }
}

bool INTEGER::isValid() const { return extendable() || isStrictValid(); }

int INTEGER::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<INTEGER const*>(&other);
    if (!o)
        return foreignCompare(other);
    if (isUnsigned()) {
        unsigned a = static_cast<unsigned>(value_), b = static_cast<unsigned>(o->value_);
        return a < b ? -1 : a > b ? 1 : 0;
    }
    return value_ < o->value_ ? -1 : value_ > o->value_ ? 1 : 0;
}

AbstractData* INTEGER::do_clone() const { return cloneAs(*this); }

bool IntegerWithNamedNumber::getName(std::string& name) const
{
    InfoType const* i = info();
    if (!i->nameEntries)
        return false;
    NameEntry const* end = i->nameEntries + i->entryCount;
    NameEntry const* e = std::lower_bound(i->nameEntries, end, getValue(), NameEntryCmp());
    if (e == end || e->value != getValue())
        return false;
    name = e->name;
    return true;
}

bool IntegerWithNamedNumber::setFromName(std::string const& name)
{
    InfoType const* i = info();
    for (unsigned k = 0; i->nameEntries && k < i->entryCount; ++k)
        if (name == i->nameEntries[k].name) {
            setValue(i->nameEntries[k].value);
            return true;
        }
    return false;
}

AbstractData* IntegerWithNamedNumber::do_clone() const { return cloneAs(*this); }

// ---------------------------------------------------------------- ENUMERATED

namespace {
// Calls f(identifier, value) for each names-table entry until f returns true.
template <class F>
bool forEachName(ENUMERATED::InfoType const* info, F f)
{
    if (!info->names)
        return false;
    int v = -1;
    for (unsigned k = 0; k < info->numNames; ++k) {
        char const* entry = info->names[k];
        char const* eq = std::strchr(entry, '=');
        std::string_view id(entry);
        if (eq) {
            errno = 0;
            char* end = nullptr;
            long n = std::strtol(eq + 1, &end, 10);
            v = (end != eq + 1 && errno == 0) ? static_cast<int>(n) : v + 1;
            id = std::string_view(entry, std::size_t(eq - entry));
        } else {
            ++v;
        }
        if (f(id, v))
            return true;
    }
    return false;
}
} // namespace

std::string_view ENUMERATED::getName() const
{
    std::string_view found;
    forEachName(info(), [&](std::string_view id, int v) {
        if (v != value_)
            return false;
        found = id;
        return true;
    });
    return found;
}

bool ENUMERATED::setFromName(std::string_view name)
{
    return forEachName(info(), [&](std::string_view id, int v) {
        if (id != name)
            return false;
        value_ = v;
        return true;
    });
}

bool ENUMERATED::isStrictlyValid() const
{
    if (value_ > getMaximum())
        return false;
    return value_ >= 0 || !getName().empty();
}

bool ENUMERATED::isValid() const { return extendable() || isStrictlyValid(); }

int ENUMERATED::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<ENUMERATED const*>(&other);
    if (!o)
        return foreignCompare(other);
    return value_ < o->value_ ? -1 : value_ > o->value_ ? 1 : 0;
}

AbstractData* ENUMERATED::do_clone() const { return cloneAs(*this); }

} // namespace ASN1
