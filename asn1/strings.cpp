// BIT STRING, OCTET STRING, the character-string kinds and BMPString.
#include "asn1/asn1.h"

#include <algorithm>
#include <cstring>
#include <ostream>

namespace ASN1 {

// Each set is followed by the zero octet of its literal.
char const NumericStringSet[] = " 0123456789";
char const PrintableStringSet[] = " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
char const VisibleStringSet[] =
    " !\042#$%&'()*+,-./0123456789:;<=>\077@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\134]^_`abcdefghijklmnopqrstuvwxy"
    "z{|}~";
char const IA5StringSet[] =
    "\000\001\002\003\004\005\006\007\010\011\012\013\014\015\016\017\020\021\022\023\024\025\026\027"
    "\030\031\032\033\034\035\036\037 !\042#$%&'()*+,-./0123456789:;<=>\077@ABCDEFGHIJKLMNOPQRSTUVWX"
    "YZ[\134]^_`abcdefghijklmnopqrstuvwxyz{|}~\177";
char const GeneralStringSet[] =
    "\000\001\002\003\004\005\006\007\010\011\012\013\014\015\016\017\020\021\022\023\024\025\026\027"
    "\030\031\032\033\034\035\036\037 !\042#$%&'()*+,-./0123456789:;<=>\077@ABCDEFGHIJKLMNOPQRSTUVWX"
    "YZ[\134]^_`abcdefghijklmnopqrstuvwxyz{|}~\177\200\201\202\203\204\205\206\207\210\211\212\213"
    "\214\215\216\217\220\221\222\223\224\225\226\227\230\231\232\233\234\235\236\237\240\241\242"
    "\243\244\245\246\247\250\251\252\253\254\255\256\257\260\261\262\263\264\265\266\267\270\271"
    "\272\273\274\275\276\277\300\301\302\303\304\305\306\307\310\311\312\313\314\315\316\317\320"
    "\321\322\323\324\325\326\327\330\331\332\333\334\335\336\337\340\341\342\343\344\345\346\347"
    "\350\351\352\353\354\355\356\357\360\361\362\363\364\365\366\367\370\371\372\373\374\375\376"
    "\377";

const BIT_STRING::InfoType BIT_STRING::theInfo = {&BIT_STRING::create, 3, Unconstrained, 0, 4294967295u};
const OCTET_STRING::InfoType OCTET_STRING::theInfo = {&OCTET_STRING::create, 4, Unconstrained, 0, 4294967295u};

const AbstractString::InfoType NumericString::theInfo = {
    &make<NumericString>, 18, Unconstrained, 0, 4294967295u, NumericStringSet, 11, 4, 4, 4};
const AbstractString::InfoType PrintableString::theInfo = {
    &make<PrintableString>, 19, Unconstrained, 0, 4294967295u, PrintableStringSet, 74, 7, 7, 8};
const AbstractString::InfoType VisibleString::theInfo = {
    &make<VisibleString>, 26, Unconstrained, 0, 4294967295u, VisibleStringSet, 95, 7, 7, 8};
const AbstractString::InfoType IA5String::theInfo = {
    &make<IA5String>, 22, Unconstrained, 0, 4294967295u, IA5StringSet, 128, 7, 7, 8};
const AbstractString::InfoType GeneralString::theInfo = {
    &make<GeneralString>, 27, Unconstrained, 0, 4294967295u, GeneralStringSet, 256, 8, 8, 8};

const BMPString::InfoType BMPString::theInfo = {
    &BMPString::create, 30, Unconstrained, 0, 4294967295u, 0, 65535, 16, 16};

// ---------------------------------------------------------------- BIT STRING

bool BIT_STRING::operator[](unsigned i) const
{
    if (i >= bits_)
        return false;
    return (static_cast<unsigned char>(data_[i / 8]) >> (7 - i % 8)) & 1;
}

void BIT_STRING::set(unsigned i, bool v)
{
    if (i >= bits_)
        return;
    unsigned char mask = static_cast<unsigned char>(0x80 >> (i % 8));
    unsigned char& b = reinterpret_cast<unsigned char&>(data_[i / 8]);
    b = v ? (b | mask) : (b & ~mask);
}

void BIT_STRING::resize(unsigned n)
{
    data_.resize((std::size_t(n) + 7) / 8, 0);
    // Bits a shrink cut off must not come back with the next grow.
    if (n % 8)
        data_.back() = char(static_cast<unsigned char>(data_.back()) & (0xFF00 >> (n % 8)));
    bits_ = n;
}

int BIT_STRING::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<BIT_STRING const*>(&other);
    if (!o)
        return foreignCompare(other);
    std::size_t n = std::min(data_.size(), o->data_.size());
    for (std::size_t i = 0; i < n; ++i) {
        int d = int(static_cast<unsigned char>(data_[i])) - int(static_cast<unsigned char>(o->data_[i]));
        if (d != 0)
            return d;
    }
    return bits_ < o->bits_ ? -1 : bits_ > o->bits_ ? 1 : 0;
}

AbstractData* BIT_STRING::do_clone() const { return cloneAs(*this); }

// ---------------------------------------------------------------- OCTET STRING

int OCTET_STRING::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<OCTET_STRING const*>(&other);
    if (!o)
        return foreignCompare(other);
    return lexicographic_compare_bytes(data(), data() + size(), o->data(), o->data() + o->size());
}

AbstractData* OCTET_STRING::do_clone() const { return cloneAs(*this); }

// ---------------------------------------------------------------- character strings

AbstractString::size_type AbstractString::find_first_invalid() const
{
    unsigned n = getCharacterSetSize();
    if (n == 0 || !getCharacterSet())
        return npos;
    char const* set = getCharacterSet();
    for (size_type i = 0; i < size(); ++i)
        if (!std::memchr(set, (*this)[i], n))
            return i;
    return npos;
}

bool AbstractString::isValid() const { return sizeValid(size()) && find_first_invalid() == npos; }

bool AbstractString::isStrictlyValid() const { return sizeStrictlyValid(size()) && find_first_invalid() == npos; }

int AbstractString::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<AbstractString const*>(&other);
    if (!o)
        return foreignCompare(other);
    int c = std::string::compare(*o);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

AbstractData* AbstractString::do_clone() const { return cloneAs(*this); }

std::ostream& operator<<(std::ostream& strm, AbstractString const& s)
{
    return strm << static_cast<std::string const&>(s);
}

// ---------------------------------------------------------------- BMPString

BMPString::size_type BMPString::first_illegal_at() const
{
    for (size_type i = 0; i < size(); ++i)
        if (!legalCharacter((*this)[i]))
            return i;
    return size();
}

bool BMPString::isValid() const { return sizeValid(size()) && first_illegal_at() == size(); }

bool BMPString::isStrictlyValid() const { return sizeStrictlyValid(size()) && first_illegal_at() == size(); }

int BMPString::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<BMPString const*>(&other);
    if (!o)
        return foreignCompare(other);
    std::size_t n = std::min(size(), o->size());
    for (std::size_t i = 0; i < n; ++i) {
        auto a = static_cast<std::uint32_t>((*this)[i]), b = static_cast<std::uint32_t>((*o)[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return size() < o->size() ? -1 : size() > o->size() ? 1 : 0;
}

AbstractData* BMPString::do_clone() const { return cloneAs(*this); }

} // namespace ASN1
