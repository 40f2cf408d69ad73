// ASN.1 values as objects driven by static type-information tables.
//
// Every value is a heap object of one of the value classes below; its ASN.1
// type (tag, constraints, names, members) is the table its `info` points to.
// Tables are plain aggregates so that generated modules define them as
// constant-initialised statics (see asn1/README.md).
//
// A table's `create` word builds an object of the class that names the type
// (a generated class, a string kind, a Constrained_INTEGER instance...), so a
// typed accessor may static_cast a member to that class; clones keep the
// dynamic class because they are made through the same word.
#pragma once

#include <boost/iterator/iterator_adaptor.hpp>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "asn1/value_pool.h"

namespace ASN1 {

class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class BIT_STRING;
class OCTET_STRING;
class AbstractString;
class BMPString;
class CHOICE;
class SEQUENCE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;
class GeneralizedTime;
class Visitor;
class ConstVisitor;
class CoderEnv;

// Decoder limits: elements of a SEQUENCE OF and bits of an extension map;
// octets, bits or characters of a string.
inline constexpr unsigned MaximumArraySize = 128;
inline constexpr unsigned MaximumStringSize = 16384;

using CreateFun = AbstractData* (*)(void const* info);

// The `create` word of a table whose values are objects of class T.
template <class T>
AbstractData* make(void const* info)
{
    return new T(info);
}

enum ConstraintType : int {
    Unconstrained = 0,
    PartiallyConstrained = 1, // lower bound only
    FixedConstraint = 2,      // lower..upper
    ExtendableConstraint = 3  // lower..upper, ...
};

// Tag words: class bits of the identifier octet << 16 | number.
inline constexpr unsigned UniversalTag = 0x000000;
inline constexpr unsigned ApplicationTag = 0x400000;
inline constexpr unsigned ContextSpecificTag = 0x800000;
inline constexpr unsigned PrivateTag = 0xC00000;

namespace detail {
// Value objects live on the free lists of asn1/value_pool.h.
template <class T>
struct Allocator {
    static void* operator new(std::size_t n) { return poolAllocate(n); }
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void* p, std::size_t n) noexcept { poolRelease(p, n); }
    static void operator delete(void*, void*) noexcept {}
};
} // namespace detail

// Bits that number the n values 0..n-1; n == 0 stands for 2^32. The codecs
// call it for every number, so it is inline.
inline unsigned CountBits(unsigned n)
{
    if (n <= 1)
        return n == 0 ? 32 : 0;
    return 32 - unsigned(__builtin_clz(n - 1));
}
int lexicographic_compare_bytes(char const* b1, char const* e1, char const* b2, char const* e2);

// ---------------------------------------------------------------- base

class AbstractData {
public:
    struct InfoType {
        CreateFun create;
        unsigned tag;
    };

    explicit AbstractData(void const* info) : info_(info) {}
    AbstractData(AbstractData const&) = default;
    // Assignment copies values only: an object keeps its own table.
    AbstractData& operator=(AbstractData const&) { return *this; }
    virtual ~AbstractData() = default;

    static AbstractData* create(void const* info)
    {
        return info ? static_cast<InfoType const*>(info)->create(info) : nullptr;
    }

    int compare(AbstractData const& other) const { return do_compare(other); }
    bool operator==(AbstractData const& other) const { return compare(other) == 0; }
    bool operator!=(AbstractData const& other) const { return compare(other) != 0; }
    AbstractData* clone() const { return do_clone(); }

    unsigned getTag() const { return static_cast<InfoType const*>(info_)->tag; }
    void const* info() const { return info_; }

    bool accept(Visitor& v) { return do_accept(v); }
    bool accept(ConstVisitor& v) const { return do_accept(v); }

    bool isValid() const;
    bool isStrictlyValid() const;

    std::string asValueNotation() const;
    // 0 on success, failbit when the print stopped.
    std::ios_base::iostate print_on(std::ostream& strm) const;
    // Reads value notation (asn1/avn_decoder.h): 0, or failbit when the text
    // does not fit the type.
    std::ios_base::iostate get_from(std::istream& strm);
    bool setFromValueNotation(std::string const& text);

protected:
    virtual int do_compare(AbstractData const& other) const = 0;
    virtual AbstractData* do_clone() const = 0;
    virtual bool do_accept(Visitor& v) = 0;
    virtual bool do_accept(ConstVisitor& v) const = 0;

    // Ordering of two values of different kinds: never equal.
    int foreignCompare(AbstractData const& other) const;
    // A new object of this value's own class and table.
    AbstractData* createSame() const { return create(info_); }
    // A clone made through the table (so of the type's own class) that
    // receives self's value by K's assignment.
    template <class K>
    static AbstractData* cloneAs(K const& self)
    {
        std::unique_ptr<AbstractData> p(self.createSame());
        static_cast<K&>(*p) = self;
        return p.release();
    }

private:
    void const* info_;
};

std::ostream& operator<<(std::ostream& strm, AbstractData const& value);

// The four operations every value class implements.
#define ASN1_VALUE_OPERATIONS                                                                      \
    int do_compare(AbstractData const& other) const override;                                      \
    AbstractData* do_clone() const override;                                                       \
    bool do_accept(Visitor& v) override;                                                           \
    bool do_accept(ConstVisitor& v) const override

// ---------------------------------------------------------------- NULL, BOOLEAN

class Null : public AbstractData, public detail::Allocator<Null> {
public:
    using InfoType = AbstractData::InfoType;
    static const InfoType theInfo;

    explicit Null(void const* info = &theInfo) : AbstractData(info) {}
    static AbstractData* create(void const* info) { return new Null(info); }

protected:
    ASN1_VALUE_OPERATIONS;
};

class BOOLEAN : public AbstractData, public detail::Allocator<BOOLEAN> {
public:
    using InfoType = AbstractData::InfoType;
    static const InfoType theInfo;

    explicit BOOLEAN(void const* info = &theInfo) : AbstractData(info) {}
    BOOLEAN(bool v, void const* info = &theInfo) : AbstractData(info), value_(v) {}
    static AbstractData* create(void const* info) { return new BOOLEAN(info); }

    BOOLEAN& operator=(bool v)
    {
        value_ = v;
        return *this;
    }
    operator bool() const { return value_; }
    bool getValue() const { return value_; }
    void setValue(bool v) { value_ = v; }

protected:
    ASN1_VALUE_OPERATIONS;

private:
    bool value_ = false;
};

// ---------------------------------------------------------------- constrained kinds

class ConstrainedObject : public AbstractData {
public:
    // Shared by INTEGER, BIT STRING, OCTET STRING (and the head of the
    // string and SEQUENCE OF tables). `upper` is 4294967295 when unbounded.
    struct InfoType {
        CreateFun create;
        unsigned tag;
        ConstraintType type;
        int lower;
        unsigned upper;
    };

    explicit ConstrainedObject(void const* info) : AbstractData(info) {}

    InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
    ConstraintType getConstraintType() const { return info()->type; }
    int getLowerLimit() const { return info()->lower; }
    unsigned getUpperLimit() const { return info()->upper; }
    bool constrained() const { return info()->type != Unconstrained; }
    bool extendable() const { return info()->type == ExtendableConstraint; }

    // Size n against the table: valid tolerates sizes beyond an extensible
    // upper bound, strictly valid does not.
    bool sizeValid(std::size_t n) const;
    bool sizeStrictlyValid(std::size_t n) const;
};

class INTEGER : public ConstrainedObject, public detail::Allocator<INTEGER> {
public:
    using InfoType = ConstrainedObject::InfoType;
    static const InfoType theInfo;

    explicit INTEGER(void const* info = &theInfo) : ConstrainedObject(info) {}
    INTEGER(int v, void const* info = &theInfo) : ConstrainedObject(info), value_(v) {}
    static AbstractData* create(void const* info) { return new INTEGER(info); }

    int getValue() const { return value_; }
    void setValue(int v) { value_ = v; }
    INTEGER& operator=(int v)
    {
        value_ = v;
        return *this;
    }
    using AbstractData::operator==;
    bool operator==(INTEGER const& other) const { return value_ == other.value_; }
    bool operator!=(INTEGER const& other) const { return value_ != other.value_; }
    INTEGER* clone() const { return static_cast<INTEGER*>(do_clone()); }

    // The value as a number: unsigned when the type is constrained with a
    // lower bound of 0 or more, signed otherwise.
    bool isUnsigned() const { return constrained() && getLowerLimit() >= 0; }
    std::int64_t numericValue() const;
    // Whether the 32-bit model can hold n for this type so that the link's
    // codec reads it back: the int range, or 0..4294967295 for an unsigned
    // range, but at most the int range for a semi-constrained number, which
    // the link writes signed and checks against its lower bound.
    bool holds(std::int64_t n) const;
    // Sets n when the model holds it; false leaves the value as it was.
    bool setNumber(std::int64_t n);
    bool isValid() const;
    bool isStrictValid() const;

protected:
    ASN1_VALUE_OPERATIONS;

private:
    int value_ = 0;
};

class IntegerWithNamedNumber : public INTEGER {
public:
    struct NameEntry {
        int value;
        char const* name;
    };
    struct NameEntryCmp {
        bool operator()(NameEntry const& e, int v) const { return e.value < v; }
    };
    // entries sorted by ascending value
    struct InfoType {
        CreateFun create;
        unsigned tag;
        ConstraintType type;
        int lower;
        unsigned upper;
        NameEntry const* nameEntries;
        unsigned entryCount;
    };

    explicit IntegerWithNamedNumber(void const* info) : INTEGER(info) {}
    IntegerWithNamedNumber(int v, void const* info) : INTEGER(v, info) {}
    static AbstractData* create(void const* info) { return new IntegerWithNamedNumber(info); }

    InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
    bool getName(std::string& name) const;
    bool setFromName(std::string const& name);

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

// A typed view on INTEGER for one value range, in the range's own
// signedness; objects made through its table are of this class.
template <ConstraintType Type, int Lower, unsigned Upper>
class Constrained_INTEGER : public INTEGER {
public:
    using value_type = std::conditional_t<(Lower < 0), int, unsigned>;
    static constexpr InfoType theInfo = {&make<Constrained_INTEGER>, 2, Type, Lower, Upper};

    explicit Constrained_INTEGER(void const* info = &theInfo) : INTEGER(info) {}
    Constrained_INTEGER(value_type v, void const* info = &theInfo) : INTEGER(static_cast<int>(v), info) {}

    value_type getValue() const { return static_cast<value_type>(INTEGER::getValue()); }
    Constrained_INTEGER& operator=(value_type v)
    {
        setValue(static_cast<int>(v));
        return *this;
    }
};

template <ConstraintType Type, int Lower, unsigned Upper>
auto operator+(typename Constrained_INTEGER<Type, Lower, Upper>::value_type n,
               Constrained_INTEGER<Type, Lower, Upper> const& x)
{
    return n + x.getValue();
}

class ENUMERATED : public AbstractData, public detail::Allocator<ENUMERATED> {
public:
    // `names` lists the root items in definition order, "name" or
    // "name=N"; an item without "=N" numbers one above the item before it
    // (0 for the first). `numNames` is the number of entries of `names`.
    struct InfoType {
        CreateFun create;
        unsigned tag;
        bool extendable;
        int maximum;
        char const* const* names;
        unsigned numNames;
    };

    explicit ENUMERATED(void const* info) : AbstractData(info) {}
    ENUMERATED(ENUMERATED const&) = default;
    ENUMERATED& operator=(ENUMERATED const& other)
    {
        value_ = other.value_;
        return *this;
    }
    static AbstractData* create(void const* info) { return new ENUMERATED(info); }

    InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
    void setFromInt(int v) { value_ = v; }
    int asInt() const { return value_; }
    int getMaximum() const { return info()->maximum; }
    bool extendable() const { return info()->extendable; }

    // The identifier of the current value (without "=N"); empty when the
    // value has no name.
    std::string_view getName() const;
    // Sets the value named `name`; false (value unchanged) when no item
    // has that identifier.
    bool setFromName(std::string_view name);

    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    ASN1_VALUE_OPERATIONS;

private:
    int value_ = 0;
};

// ---------------------------------------------------------------- strings

class BIT_STRING : public ConstrainedObject, public detail::Allocator<BIT_STRING> {
public:
    using InfoType = ConstrainedObject::InfoType;
    static const InfoType theInfo;

    explicit BIT_STRING(void const* info = &theInfo) : ConstrainedObject(info) {}
    static AbstractData* create(void const* info) { return new BIT_STRING(info); }

    unsigned size() const { return bits_; }
    bool operator[](unsigned i) const;
    void set(unsigned i, bool v = true); // ignored beyond size()
    void resize(unsigned n);
    std::vector<char> const& getData() const { return data_; }
    std::vector<char>& getData() { return data_; }

    bool isValid() const { return sizeValid(bits_); }
    bool isStrictlyValid() const { return sizeStrictlyValid(bits_); }

protected:
    ASN1_VALUE_OPERATIONS;

private:
    unsigned bits_ = 0;
    std::vector<char> data_;
};

class OCTET_STRING : public ConstrainedObject, public std::vector<char>, public detail::Allocator<OCTET_STRING> {
public:
    using InfoType = ConstrainedObject::InfoType;
    static const InfoType theInfo;

    explicit OCTET_STRING(void const* info = &theInfo) : ConstrainedObject(info) {}
    OCTET_STRING(unsigned n, char c, void const* info = &theInfo) : ConstrainedObject(info), std::vector<char>(n, c) {}
    OCTET_STRING(std::vector<char> const& v, void const* info = &theInfo) : ConstrainedObject(info), std::vector<char>(v) {}
    static AbstractData* create(void const* info) { return new OCTET_STRING(info); }

    OCTET_STRING& operator=(std::vector<char> const& v)
    {
        std::vector<char>::operator=(v);
        return *this;
    }
    operator std::string() const { return std::string(data(), size()); }
    using AbstractData::compare;
    bool operator==(OCTET_STRING const& o) const { return compare(o) == 0; }
    bool operator!=(OCTET_STRING const& o) const { return compare(o) != 0; }

    bool isValid() const { return sizeValid(size()); }
    bool isStrictlyValid() const { return sizeStrictlyValid(size()); }

protected:
    ASN1_VALUE_OPERATIONS;
};

// Permitted characters of the string kinds, ascending, then a zero octet
// (not a terminator: the IA5 and General sets begin with code 0).
extern char const NumericStringSet[];
extern char const PrintableStringSet[];
extern char const VisibleStringSet[];
extern char const IA5StringSet[];
extern char const GeneralStringSet[];

class AbstractString : public ConstrainedObject, public std::string, public detail::Allocator<AbstractString> {
public:
    struct InfoType {
        CreateFun create;
        unsigned tag;
        ConstraintType type;
        int lower;
        unsigned upper;
        char const* characterSet;
        unsigned characterSetSize; // 0: every character permitted
        unsigned canonicalSetBits;
        unsigned unalignedBits;
        unsigned alignedBits;
    };

    explicit AbstractString(void const* info) : ConstrainedObject(info) {}
    AbstractString(void const* info, std::string const& s) : ConstrainedObject(info), std::string(s) {}
    AbstractString(void const* info, char const* s) : ConstrainedObject(info), std::string(s) {}
    static AbstractData* create(void const* info) { return new AbstractString(info); }

    AbstractString& assign(std::string const& s)
    {
        std::string::assign(s);
        return *this;
    }
    using AbstractData::compare;
    bool operator==(AbstractString const& o) const { return compare(o) == 0; }
    bool operator!=(AbstractString const& o) const { return compare(o) != 0; }

    InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
    char const* getCharacterSet() const { return info()->characterSet; }
    unsigned getCharacterSetSize() const { return info()->characterSetSize; }
    unsigned getCanonicalSetBits() const { return info()->canonicalSetBits; }
    unsigned getNumBits(bool aligned) const { return aligned ? info()->alignedBits : info()->unalignedBits; }
    size_type find_first_invalid() const;

    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    ASN1_VALUE_OPERATIONS;
};

// Writes the characters as they are, without quotes.
std::ostream& operator<<(std::ostream& strm, AbstractString const& s);

#define ASN1_STRING_KIND(Kind)                                                                    \
    class Kind : public AbstractString {                                                          \
    public:                                                                                       \
        static const InfoType theInfo;                                                            \
        explicit Kind(void const* info = &theInfo) : AbstractString(info) {}                      \
        Kind(std::string const& s, void const* info = &theInfo) : AbstractString(info, s) {}      \
        Kind(char const* s, void const* info = &theInfo) : AbstractString(info, s) {}             \
        Kind& operator=(std::string const& s)                                                     \
        {                                                                                         \
            assign(s);                                                                            \
            return *this;                                                                         \
        }                                                                                         \
        Kind& operator=(char const* s)                                                            \
        {                                                                                         \
            assign(s);                                                                            \
            return *this;                                                                         \
        }                                                                                         \
    }

ASN1_STRING_KIND(NumericString);
ASN1_STRING_KIND(PrintableString);
ASN1_STRING_KIND(VisibleString);
ASN1_STRING_KIND(IA5String);
ASN1_STRING_KIND(GeneralString);
#undef ASN1_STRING_KIND

class BMPString : public ConstrainedObject, public std::wstring {
public:
    struct InfoType {
        CreateFun create;
        unsigned tag;
        ConstraintType type;
        int lower;
        unsigned upper;
        wchar_t firstChar;
        wchar_t lastChar;
        unsigned unalignedBits;
        unsigned alignedBits;
    };
    static const InfoType theInfo;

    explicit BMPString(void const* info = &theInfo) : ConstrainedObject(info) {}
    BMPString(std::wstring const& s, void const* info = &theInfo) : ConstrainedObject(info), std::wstring(s) {}
    BMPString(wchar_t const* s, void const* info = &theInfo) : ConstrainedObject(info), std::wstring(s) {}
    static AbstractData* create(void const* info) { return new BMPString(info); }

    BMPString& assign(wchar_t const* p, unsigned n)
    {
        std::wstring::assign(p, n);
        return *this;
    }
    using AbstractData::compare;
    bool operator==(BMPString const& o) const { return compare(o) == 0; }
    bool operator!=(BMPString const& o) const { return compare(o) != 0; }

    InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
    wchar_t getFirstChar() const { return info()->firstChar; }
    wchar_t getLastChar() const { return info()->lastChar; }
    unsigned getNumBits(bool aligned) const { return aligned ? info()->alignedBits : info()->unalignedBits; }
    bool legalCharacter(wchar_t c) const { return c >= getFirstChar() && c <= getLastChar(); }
    size_type first_illegal_at() const;

    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    ASN1_VALUE_OPERATIONS;
};

// ---------------------------------------------------------------- time, identifier

class GeneralizedTime : public AbstractData, public detail::Allocator<GeneralizedTime> {
public:
    using InfoType = AbstractData::InfoType;
    static const InfoType theInfo;

    explicit GeneralizedTime(void const* info = &theInfo) : AbstractData(info) {}
    explicit GeneralizedTime(char const* text) : AbstractData(&theInfo) { set(text); }
    GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec, int mindiff,
                    bool utc);
    GeneralizedTime(GeneralizedTime const&) = default;
    GeneralizedTime& operator=(GeneralizedTime const&) = default; // the table stays
    static AbstractData* create(void const* info) { return new GeneralizedTime(info); }
    void swap(GeneralizedTime& other);

    void set(char const* text);
    std::string get() const;
    std::time_t get_time_t() const;
    void set_time_t(std::time_t t);

    int getYear() const { return year_; }
    int getMonth() const { return month_; }
    int getDay() const { return day_; }
    int getHour() const { return hour_; }
    int getMinute() const { return minute_; }
    int getSecond() const { return second_; }
    int getMillisec() const { return millisec_; }
    int getMindiff() const { return mindiff_; }
    bool getUtc() const { return utc_; }
    void setYear(int v) { year_ = v; }
    void setMonth(int v) { month_ = v; }
    void setDay(int v) { day_ = v; }
    void setHour(int v) { hour_ = v; }
    void setMinute(int v) { minute_ = v; }
    void setSecond(int v) { second_ = v; }
    void setMillisec(int v) { millisec_ = v; }
    void setMindiff(int v) { mindiff_ = v; }
    void setUtc(bool v) { utc_ = v; }

    bool isValid() const { return isStrictlyValid(); }
    bool isStrictlyValid() const;

protected:
    ASN1_VALUE_OPERATIONS;

private:
    int year_ = 1, month_ = 1, day_ = 1, hour_ = 0, minute_ = 0, second_ = 0, millisec_ = 0, mindiff_ = 0;
    bool utc_ = false;
};

class OBJECT_IDENTIFIER : public AbstractData, public detail::Allocator<OBJECT_IDENTIFIER> {
public:
    using InfoType = AbstractData::InfoType;
    static const InfoType theInfo;

    explicit OBJECT_IDENTIFIER(void const* info = &theInfo) : AbstractData(info) {}
    static AbstractData* create(void const* info) { return new OBJECT_IDENTIFIER(info); }

    unsigned levels() const { return static_cast<unsigned>(arcs_.size()); }
    unsigned operator[](unsigned i) const { return arcs_[i]; }
    void append(unsigned arc) { arcs_.push_back(arc); }
    void clear() { arcs_.clear(); }
    std::vector<unsigned> const& getArcs() const { return arcs_; }

    // Contents octets. `out` receives nothing when there are fewer than two
    // arcs. decodeCommon fails on a truncated subidentifier or on one that
    // does not fit its arc.
    void encodeCommon(std::vector<char>& out) const;
    bool decodeCommon(char const* p, unsigned n);

    bool isValid() const { return !arcs_.empty(); }
    bool isStrictlyValid() const { return !arcs_.empty(); }

protected:
    ASN1_VALUE_OPERATIONS;

private:
    std::vector<unsigned> arcs_;
};

// ---------------------------------------------------------------- CHOICE

class CHOICE : public AbstractData, public detail::Allocator<CHOICE> {
public:
    struct InfoType {
        CreateFun create;
        unsigned tag;
        bool extendable;
        void const* const* selectionInfos; // totalChoices tables
        unsigned numChoices;               // root alternatives
        unsigned totalChoices;             // root + known extension additions
        unsigned const* selectionTags;     // null: [i] automatic tags
        char const* const* selectionNames;
    };
    enum { unselected_ = -1, unknownSelection_ = -2 };

    explicit CHOICE(void const* info, int selection = -1, AbstractData* value = nullptr)
        : AbstractData(info), value_(value), selection_(selection)
    {
    }
    CHOICE(CHOICE const& other);
    CHOICE& operator=(CHOICE const& other);
    ~CHOICE() override = default;
    static AbstractData* create(void const* info) { return new CHOICE(info); }
    void swap(CHOICE& other);

    bool select(int index);
    // Selects the alternative that carries a BER tag (asn1/ber_decoder.cpp).
    bool setID(unsigned tagNumber, unsigned tagClass);
    bool createSelection();
    AbstractData* setSelection(int index, AbstractData* value);
    AbstractData* getSelection() { return value_.get(); }
    AbstractData const* getSelection() const { return value_.get(); }
    int currentSelection() const { return selection_; }
    // -2, or an index the type does not have (stored by setSelection).
    bool isUnknownSelection() const
    {
        return selection_ < unselected_ || (selection_ >= 0 && unsigned(selection_) >= info()->totalChoices);
    }
    unsigned getSelectionTag() const;
    char const* getSelectionName() const;
    unsigned getNumChoices() const { return info()->numChoices; }
    bool extendable() const { return info()->extendable; }
    InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }

    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    // Typed helpers for the generated accessors: a fresh value of
    // alternative `index` made from its table, and the current value.
    template <class T>
    T& selectAs(int index)
    {
        return static_cast<T&>(*setSelection(index, AbstractData::create(info()->selectionInfos[index])));
    }
    template <class T>
    T& getAs()
    {
        return static_cast<T&>(*value_);
    }
    template <class T>
    T const& getAs() const
    {
        return static_cast<T const&>(*value_);
    }

    ASN1_VALUE_OPERATIONS;

private:
    std::unique_ptr<AbstractData> value_;
    int selection_;
};

// ---------------------------------------------------------------- SEQUENCE

class SEQUENCE : public AbstractData, public detail::Allocator<SEQUENCE> {
public:
    struct InfoType {
        CreateFun create;
        unsigned tag;
        bool extendable;
        void const* const* fieldInfos; // numRootFields + numExtensions tables
        int const* fieldIds;           // root field: -1 mandatory, else optional index
        unsigned numRootFields;
        unsigned numExtensions;
        unsigned numOptional;
        unsigned char const* defaultExtensions; // null, or numExtensions bytes
        unsigned const* fieldTags;              // null: [i]; &defaultTag: own tags
        char const* const* fieldNames;
    };
    static const unsigned defaultTag;

    // Presence bits, the first bit being the top bit of the first byte.
    class BitMap {
    public:
        // The map's octets; maps of up to 64 bits need no heap block.
        class Bytes {
        public:
            Bytes() noexcept : store_() {}
            Bytes(Bytes const& other);
            Bytes& operator=(Bytes const& other);
            ~Bytes()
            {
                if (capacity_ > Local)
                    detail::poolRelease(store_.heap, capacity_);
            }
            void swap(Bytes& other) noexcept;

            std::size_t size() const { return size_; }
            bool empty() const { return size_ == 0; }
            char* data() { return capacity_ > Local ? store_.heap : store_.local; }
            char const* data() const { return capacity_ > Local ? store_.heap : store_.local; }
            char& operator[](std::size_t i) { return data()[i]; }
            char operator[](std::size_t i) const { return data()[i]; }
            char* begin() { return data(); }
            char* end() { return data() + size_; }
            char const* begin() const { return data(); }
            char const* end() const { return data() + size_; }
            // A copy for code that takes the octets as a vector.
            operator std::vector<char>() const { return std::vector<char>(begin(), end()); }
            // New octets are 0.
            void resize(std::size_t n)
            {
                if (n > capacity_)
                    grow(n);
                else if (n < size_)
                    std::memset(data() + n, 0, size_ - n); // octets past the end stay 0
                size_ = unsigned(n);
            }

        private:
            static constexpr unsigned Local = 8;
            union Store {
                char local[Local];
                char* heap;
            };
            void grow(std::size_t n);

            unsigned size_ = 0;
            unsigned capacity_ = Local;
            Store store_;
        };

        BitMap() = default;
        void resize(unsigned n)
        {
            bytes_.resize((std::size_t(n) + 7) / 8);
            if (n % 8) // bits past a shrunk end must not come back on a later grow
                bytes_[n / 8] = static_cast<char>(static_cast<unsigned char>(bytes_[n / 8]) & (0xFF00 >> (n % 8)));
            bitCount_ = n;
        }
        bool operator[](unsigned i) const
        {
            return i < bitCount_ && (static_cast<unsigned char>(bytes_[i / 8]) >> (7 - i % 8)) & 1;
        }
        void set(unsigned i);
        void clear(unsigned i);
        unsigned size() const { return bitCount_; }
        void swap(BitMap& other) noexcept;
        bool any() const;
        Bytes const& getData() const { return bytes_; }
        Bytes& getData() { return bytes_; }

    private:
        unsigned bitCount_ = 0;
        Bytes bytes_;
    };

    // Owned field objects; null for a field never created. The count is the
    // type's; most types have a handful of fields, held in the value itself.
    class FieldVector {
    public:
        using value_type = AbstractData*;
        using iterator = AbstractData**;
        using const_iterator = AbstractData* const*;

        FieldVector() noexcept : local_() {}
        explicit FieldVector(std::size_t n); // null entries
        FieldVector(FieldVector const& other);
        FieldVector& operator=(FieldVector const&) = delete;
        ~FieldVector();
        void swap(FieldVector& other) noexcept;

        std::size_t size() const { return size_; }
        bool empty() const { return size_ == 0; }
        AbstractData** data() { return heap_ ? heap_ : local_; }
        AbstractData* const* data() const { return heap_ ? heap_ : local_; }
        AbstractData*& operator[](std::size_t i) { return data()[i]; }
        AbstractData* operator[](std::size_t i) const { return data()[i]; }
        iterator begin() { return data(); }
        iterator end() { return data() + size_; }
        const_iterator begin() const { return data(); }
        const_iterator end() const { return data() + size_; }

    private:
        static constexpr std::size_t Local = 4;
        AbstractData** heap_ = nullptr; // null: the entries are local_
        std::size_t size_ = 0;
        AbstractData* local_[Local];
    };

    explicit SEQUENCE(void const* info);
    SEQUENCE(SEQUENCE const& other);
    SEQUENCE& operator=(SEQUENCE const& other);
    ~SEQUENCE() override = default;
    static AbstractData* create(void const* info) { return new SEQUENCE(info); }
    void swap(SEQUENCE& other);

    // Presence by optional index: optional root fields first, then the
    // extension additions.
    bool hasOptionalField(unsigned opt) const
    {
        return opt < optionalMap_.size() ? optionalMap_[opt] : extensionMap_[opt - optionalMap_.size()];
    }
    AbstractData*& includeOptionalField(unsigned opt, unsigned index);
    void removeOptionalField(unsigned opt);

    AbstractData* getField(unsigned index) { return fields_[index]; }
    AbstractData const* getField(unsigned index) const { return fields_[index]; }
    // The field object at `index`, created from its table when missing.
    AbstractData* createField(unsigned index)
    {
        AbstractData*& field = fields_[index];
        return field ? field : (field = AbstractData::create(info()->fieldInfos[index]));
    }
    unsigned fieldCount() const { return static_cast<unsigned>(fields_.size()); }
    char const* getFieldName(int index) const { return info()->fieldNames[index]; }
    int tagMode() const;
    unsigned getFieldTag(int index) const;
    bool extendable() const { return info()->extendable; }
    InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }

    // Codecs read and fill the maps directly.
    BitMap const& optionalMap() const { return optionalMap_; }
    BitMap& optionalMap() { return optionalMap_; }
    BitMap const& extensionMap() const { return extensionMap_; }
    BitMap& extensionMap() { return extensionMap_; }

protected:
    // Typed helpers for the generated accessors.
    template <class T>
    T& fieldAs(unsigned index)
    {
        return static_cast<T&>(*fields_[index]);
    }
    template <class T>
    T const& fieldAs(unsigned index) const
    {
        return static_cast<T const&>(*fields_[index]);
    }
    template <class T>
    T& includeAs(unsigned opt, unsigned index)
    {
        return static_cast<T&>(*includeOptionalField(opt, index));
    }

    ASN1_VALUE_OPERATIONS;

private:
    FieldVector fields_;
    BitMap optionalMap_;
    BitMap extensionMap_;
};

// ---------------------------------------------------------------- SEQUENCE OF

struct EmptyConstraint {
    static constexpr ConstraintType type = Unconstrained;
    static constexpr int lower = 0;
    static constexpr unsigned upper = 4294967295u;
};

template <ConstraintType Type, int Lower, unsigned Upper>
struct SizeConstraint {
    static constexpr ConstraintType type = Type;
    static constexpr int lower = Lower;
    static constexpr unsigned upper = Upper;
};

class SEQUENCE_OF_Base : public ConstrainedObject, public detail::Allocator<SEQUENCE_OF_Base> {
public:
    struct InfoType {
        CreateFun create;
        unsigned tag;
        ConstraintType type;
        int lower;
        unsigned upper;
        void const* elementInfo;
    };
    using Container = std::vector<AbstractData*, detail::PoolAllocator<AbstractData*>>;
    using iterator = Container::iterator;
    using const_iterator = Container::const_iterator;

    explicit SEQUENCE_OF_Base(void const* info) : ConstrainedObject(info) {}
    SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other);
    SEQUENCE_OF_Base& operator=(SEQUENCE_OF_Base const& other);
    ~SEQUENCE_OF_Base() override;
    static AbstractData* create(void const* info) { return new SEQUENCE_OF_Base(info); }
    void swap(SEQUENCE_OF_Base& other) { elements_.swap(other.elements_); }

    InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
    unsigned size() const { return static_cast<unsigned>(elements_.size()); }
    bool empty() const { return elements_.empty(); }
    void reserve(unsigned n) { elements_.reserve(n); }
    iterator begin() { return elements_.begin(); }
    iterator end() { return elements_.end(); }
    const_iterator begin() const { return elements_.begin(); }
    const_iterator end() const { return elements_.end(); }
    AbstractData& at(unsigned i) { return *elements_[i]; }
    AbstractData const& at(unsigned i) const { return *elements_[i]; }

    void clear();
    AbstractData* createElement() const;
    void push_back(AbstractData* value); // takes ownership; a null pointer adds nothing
    // Clones for the two insert forms: of one value, and of an element.
    struct create_from0 {
        AbstractData const& x;
        AbstractData* operator()() const { return x.clone(); }
    };
    struct create_from_ptr {
        AbstractData* operator()(AbstractData const* e) const { return e->clone(); }
    };
    // Inserts n clones at pos, all or none.
    void insert(iterator pos, unsigned n, AbstractData const& x);
    void insert(iterator pos, const_iterator first, const_iterator last);
    iterator erase(iterator first, iterator last);
    iterator erase(iterator pos) { return erase(pos, pos + 1); }
    void resize(unsigned n);

    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    ASN1_VALUE_OPERATIONS;

private:
    // Inserts at pos the n values make(0)..make(n-1).
    template <class Make>
    void insertMade(iterator pos, std::size_t n, Make make);

    Container elements_;
};

namespace detail {
template <class T, class Base>
class TypedIterator : public boost::iterator_adaptor<TypedIterator<T, Base>, Base, T, boost::use_default, T&> {
    using super = boost::iterator_adaptor<TypedIterator<T, Base>, Base, T, boost::use_default, T&>;

public:
    TypedIterator() = default;
    explicit TypedIterator(Base b) : super(b) {}
    template <class U, class B2>
    TypedIterator(TypedIterator<U, B2> const& o) : super(o.base())
    {
    }

private:
    friend class boost::iterator_core_access;
    T& dereference() const { return static_cast<T&>(**this->base()); }
};
} // namespace detail

template <class T, class Constraint = EmptyConstraint, unsigned Tag = 16>
class SEQUENCE_OF : public SEQUENCE_OF_Base {
public:
    static const InfoType theInfo;
    using iterator = detail::TypedIterator<T, SEQUENCE_OF_Base::iterator>;
    using const_iterator = detail::TypedIterator<T const, SEQUENCE_OF_Base::const_iterator>;

    explicit SEQUENCE_OF(void const* info = &theInfo) : SEQUENCE_OF_Base(info) {}

    iterator begin() { return iterator(SEQUENCE_OF_Base::begin()); }
    iterator end() { return iterator(SEQUENCE_OF_Base::end()); }
    const_iterator begin() const { return const_iterator(SEQUENCE_OF_Base::begin()); }
    const_iterator end() const { return const_iterator(SEQUENCE_OF_Base::end()); }
    T& operator[](unsigned i) { return static_cast<T&>(at(i)); }
    T const& operator[](unsigned i) const { return static_cast<T const&>(at(i)); }

    using SEQUENCE_OF_Base::push_back;
    // Appends a copy of x's value as a fresh element of the element table.
    void push_back(T const& x)
    {
        std::unique_ptr<AbstractData> e(createElement());
        static_cast<T&>(*e) = x;
        SEQUENCE_OF_Base::push_back(e.release());
    }
    // Replaces the element at `it` with a fresh element.
    void clean(iterator it)
    {
        AbstractData*& slot = *it.base();
        AbstractData* fresh = createElement();
        delete slot;
        slot = fresh;
    }
    using SEQUENCE_OF_Base::erase;
    iterator erase(iterator it) { return iterator(SEQUENCE_OF_Base::erase(it.base())); }
};

template <class T, class Constraint, unsigned Tag>
const typename SEQUENCE_OF<T, Constraint, Tag>::InfoType SEQUENCE_OF<T, Constraint, Tag>::theInfo = {
    &make<SEQUENCE_OF<T, Constraint, Tag>>, Tag, Constraint::type, Constraint::lower, Constraint::upper, &T::theInfo};

template <class T, class Constraint = EmptyConstraint>
using SET_OF = SEQUENCE_OF<T, Constraint, 17>;

// ---------------------------------------------------------------- open types

class OpenData : public AbstractData, public detail::Allocator<OpenData> {
public:
    using InfoType = AbstractData::InfoType;
    static const InfoType theInfo;

    explicit OpenData(void const* info = &theInfo) : AbstractData(info) {}
    OpenData(AbstractData* data, void const* info) : AbstractData(info), data_(data) {}
    OpenData(OpenData const& other);
    OpenData& operator=(OpenData const& other);
    ~OpenData() override;
    static AbstractData* create(void const* info) { return new OpenData(info); }
    void swap(OpenData& other);

    bool has_data() const { return data_ != nullptr; }
    bool has_buf() const { return buf_ != nullptr; }
    AbstractData& get_data() { return *data_; }
    AbstractData const& get_data() const { return *data_; }
    std::vector<char>& get_buf() { return *buf_; }
    std::vector<char> const& get_buf() const { return *buf_; }
    void set_data(AbstractData* data) { data_.reset(data); }
    void grab(std::vector<char>* octets) { buf_.reset(octets); }
    bool isEmpty() const { return !data_ && !buf_; }

    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    ASN1_VALUE_OPERATIONS;

private:
    std::unique_ptr<AbstractData> data_;
    std::unique_ptr<std::vector<char>> buf_;
};

class TypeConstrainedOpenData : public OpenData {
public:
    struct InfoType {
        CreateFun create;
        unsigned tag;
        void const* contentInfo;
    };

    TypeConstrainedOpenData(AbstractData* data, void const* info) : OpenData(data, info) {}
    static AbstractData* create(void const* info);
    InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }

protected:
    bool do_accept(Visitor& v) override;
};

// ---------------------------------------------------------------- visitors

// For algorithms that change the value (decoders, parsers).
class Visitor {
public:
    // SEQUENCE hook codes.
    enum { FAIL = 0, STOP = 1, NO_EXTENSION = 2, CONTINUE = 3 };

    explicit Visitor(CoderEnv* env = nullptr) : env_(env) {}
    virtual ~Visitor() = default;
    CoderEnv* get_env() const { return env_; }

    bool visit(Null& v) { return do_visit(v); }
    bool visit(BOOLEAN& v) { return do_visit(v); }
    bool visit(INTEGER& v) { return do_visit(v); }
    bool visit(IntegerWithNamedNumber& v) { return do_visit(v); }
    bool visit(ENUMERATED& v) { return do_visit(v); }
    bool visit(OBJECT_IDENTIFIER& v) { return do_visit(v); }
    bool visit(OCTET_STRING& v) { return do_visit(v); }
    bool visit(BIT_STRING& v) { return do_visit(v); }
    bool visit(AbstractString& v) { return do_visit(v); }
    bool visit(BMPString& v) { return do_visit(v); }
    bool visit(CHOICE& v) { return do_visit(v); }
    bool visit(SEQUENCE_OF_Base& v) { return do_visit(v); }
    bool visit(OpenData& v) { return do_visit(v); }
    bool revisit(OpenData& v) { return do_revisit(v); }
    bool visit(TypeConstrainedOpenData& v) { return do_visit(v); }
    bool visit(GeneralizedTime& v) { return do_visit(v); }
    bool visit(SEQUENCE& v) { return do_visit(v); }

protected:
    virtual bool do_visit(Null&) = 0;
    virtual bool do_visit(BOOLEAN&) = 0;
    virtual bool do_visit(INTEGER&) = 0;
    virtual bool do_visit(IntegerWithNamedNumber& v);
    virtual bool do_visit(ENUMERATED&) = 0;
    virtual bool do_visit(OBJECT_IDENTIFIER&) = 0;
    virtual bool do_visit(OCTET_STRING&) = 0;
    virtual bool do_visit(BIT_STRING&) = 0;
    virtual bool do_visit(AbstractString&) = 0;
    virtual bool do_visit(BMPString&) = 0;
    virtual bool do_visit(CHOICE&) = 0;
    virtual bool do_visit(SEQUENCE_OF_Base&) = 0;
    virtual bool do_visit(OpenData&) = 0;
    virtual bool do_revisit(OpenData&) = 0;
    virtual bool do_visit(TypeConstrainedOpenData&) = 0;
    virtual bool do_visit(GeneralizedTime&) = 0;
    // The field walk driven by the hooks below; a codec may walk on its own.
    virtual bool do_visit(SEQUENCE& v);
    virtual int preVisitExtensionRoots(SEQUENCE&) { return CONTINUE; }
    virtual int visitExtensionRoot(SEQUENCE&, int /*index*/, int /*optionalId*/) { return FAIL; }
    virtual int preVisitExtensions(SEQUENCE&) { return CONTINUE; }
    virtual int visitKnownExtension(SEQUENCE&, int /*index*/, int /*optionalIndex*/) { return FAIL; }
    virtual bool visitUnknownExtensions(SEQUENCE&) { return true; }

private:
    CoderEnv* env_;
};

// For algorithms that only read the value (encoders, printer, checks).
class ConstVisitor {
public:
    ConstVisitor() = default;
    virtual ~ConstVisitor() = default;

    bool visit(Null const& v) { return do_visit(v); }
    bool visit(BOOLEAN const& v) { return do_visit(v); }
    bool visit(INTEGER const& v) { return do_visit(v); }
    bool visit(IntegerWithNamedNumber const& v) { return do_visit(v); }
    bool visit(ENUMERATED const& v) { return do_visit(v); }
    bool visit(OBJECT_IDENTIFIER const& v) { return do_visit(v); }
    bool visit(BIT_STRING const& v) { return do_visit(v); }
    bool visit(OCTET_STRING const& v) { return do_visit(v); }
    bool visit(AbstractString const& v) { return do_visit(v); }
    bool visit(BMPString const& v) { return do_visit(v); }
    bool visit(CHOICE const& v) { return do_visit(v); }
    bool visit(OpenData const& v) { return do_visit(v); }
    bool visit(GeneralizedTime const& v) { return do_visit(v); }
    bool visit(SEQUENCE_OF_Base const& v) { return do_visit(v); }
    bool visit(SEQUENCE const& v) { return do_visit(v); }

protected:
    virtual bool do_visit(AbstractData const&) { return true; }
    virtual bool do_visit(Null const& v);
    virtual bool do_visit(BOOLEAN const& v);
    virtual bool do_visit(INTEGER const& v);
    virtual bool do_visit(IntegerWithNamedNumber const& v);
    virtual bool do_visit(ENUMERATED const& v);
    virtual bool do_visit(OBJECT_IDENTIFIER const& v);
    virtual bool do_visit(BIT_STRING const& v);
    virtual bool do_visit(OCTET_STRING const& v);
    virtual bool do_visit(AbstractString const& v);
    virtual bool do_visit(BMPString const& v);
    virtual bool do_visit(CHOICE const& v);
    virtual bool do_visit(OpenData const& v);
    virtual bool do_visit(GeneralizedTime const& v);
    virtual bool do_visit(SEQUENCE_OF_Base const& v);
    // The walk over present fields, driven by the hooks below; a codec may
    // walk on its own.
    virtual bool do_visit(SEQUENCE const& v);
    virtual bool preVisitExtensionRoots(SEQUENCE const& v);
    virtual bool visitExtensionRoot(SEQUENCE const&, int /*index*/) { return false; }
    virtual bool preVisitExtensions(SEQUENCE const&) { return true; }
    virtual bool visitKnownExtension(SEQUENCE const&, int /*index*/) { return false; }
    virtual bool afterVisitSequence(SEQUENCE const&) { return true; }
};

// Declare in a concrete Visitor every type entry the interface leaves pure.
#define ASN1_VISITOR_ENTRIES                                                                       \
    bool do_visit(Null& v) override;                                                               \
    bool do_visit(BOOLEAN& v) override;                                                            \
    bool do_visit(INTEGER& v) override;                                                            \
    bool do_visit(ENUMERATED& v) override;                                                         \
    bool do_visit(OBJECT_IDENTIFIER& v) override;                                                  \
    bool do_visit(OCTET_STRING& v) override;                                                       \
    bool do_visit(BIT_STRING& v) override;                                                         \
    bool do_visit(AbstractString& v) override;                                                     \
    bool do_visit(BMPString& v) override;                                                          \
    bool do_visit(CHOICE& v) override;                                                             \
    bool do_visit(SEQUENCE_OF_Base& v) override;                                                   \
    bool do_visit(OpenData& v) override;                                                           \
    bool do_revisit(OpenData& v) override;                                                         \
    bool do_visit(TypeConstrainedOpenData& v) override;                                            \
    bool do_visit(GeneralizedTime& v) override

// Declare in a ConstVisitor that writes every value (an encoder, a
// printer, a length counter) the entry of each value class.
#define ASN1_CONST_VISITOR_ENTRIES                                                                 \
    bool do_visit(Null const& v) override;                                                         \
    bool do_visit(BOOLEAN const& v) override;                                                      \
    bool do_visit(INTEGER const& v) override;                                                      \
    bool do_visit(ENUMERATED const& v) override;                                                   \
    bool do_visit(OBJECT_IDENTIFIER const& v) override;                                            \
    bool do_visit(BIT_STRING const& v) override;                                                   \
    bool do_visit(OCTET_STRING const& v) override;                                                 \
    bool do_visit(AbstractString const& v) override;                                               \
    bool do_visit(BMPString const& v) override;                                                    \
    bool do_visit(CHOICE const& v) override;                                                       \
    bool do_visit(OpenData const& v) override;                                                     \
    bool do_visit(GeneralizedTime const& v) override;                                              \
    bool do_visit(SEQUENCE_OF_Base const& v) override

// ---------------------------------------------------------------- checks

// True when the value is valid (nothing written); else writes the header,
// the path to the offending component with the reason, and a line end.
bool trace_invalid(std::ostream& strm, char const* header, AbstractData const& value);

} // namespace ASN1
