// A module written the way the generator emits one, from:
//
//   Demo DEFINITIONS AUTOMATIC TAGS ::= BEGIN
//   Colour  ::= ENUMERATED { red, green, blue(5), violet }
//   Address ::= CHOICE { name IA5String (SIZE (1..64)), port INTEGER (0..65535), ..., none NULL }
//   Record  ::= SEQUENCE {
//       id      INTEGER (0..1023),
//       colour  Colour,
//       address Address OPTIONAL,
//       aliases SEQUENCE OF IA5String,
//       ...,
//       comment IA5String
//   }
//   END
#pragma once

#include "asn1/asn1.h"

namespace Demo {

class Colour : public ASN1::ENUMERATED {
public:
    enum NamedNumber { red = 0, green = 1, blue = 5, violet = 6 };
    static const InfoType theInfo;

    explicit Colour(void const* info = &theInfo) : ENUMERATED(info) {}
    Colour(NamedNumber v, void const* info = &theInfo) : ENUMERATED(info) { setFromInt(v); }
    Colour& operator=(NamedNumber v)
    {
        setFromInt(v);
        return *this;
    }
    NamedNumber asNamedNumber() const { return NamedNumber(asInt()); }
};

// IA5String (SIZE (1..64))
class Address_name : public ASN1::IA5String {
public:
    static const InfoType theInfo;

    explicit Address_name(void const* info = &theInfo) : IA5String(info) {}
    Address_name(std::string const& s, void const* info = &theInfo) : IA5String(s, info) {}
    using IA5String::operator=;
};

using Address_port = ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 65535>;

class Address : public ASN1::CHOICE {
public:
    enum Choice_Ids { name_chosen = 0, port_chosen = 1, none_chosen = 2 };
    static const InfoType theInfo;

    explicit Address(void const* info = &theInfo) : CHOICE(info) {}
    // alternative constructors: a fresh value of the alternative's table
    // receives the argument's value
    Address(Address_name const& v) : CHOICE(&theInfo) { select_name() = v; }
    Address(Address_port const& v) : CHOICE(&theInfo) { select_port() = v; }

    bool name_isSelected() const { return currentSelection() == name_chosen; }
    Address_name& get_name() { return getAs<Address_name>(); }
    Address_name const& get_name() const { return getAs<Address_name>(); }
    Address_name& select_name() { return selectAs<Address_name>(name_chosen); }
    Address_name& select_name(std::string const& v)
    {
        Address_name& x = select_name();
        x = v;
        return x;
    }

    bool port_isSelected() const { return currentSelection() == port_chosen; }
    Address_port& get_port() { return getAs<Address_port>(); }
    Address_port const& get_port() const { return getAs<Address_port>(); }
    Address_port& select_port() { return selectAs<Address_port>(port_chosen); }
    Address_port& select_port(unsigned v) { return select_port() = v; }

    bool none_isSelected() const { return currentSelection() == none_chosen; }
    ASN1::Null& select_none() { return selectAs<ASN1::Null>(none_chosen); }
};

class Record : public ASN1::SEQUENCE {
public:
    using Id = ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>;
    using Aliases = ASN1::SEQUENCE_OF<ASN1::IA5String>;
    static const InfoType theInfo;

    explicit Record(void const* info = &theInfo) : SEQUENCE(info) {}

    Id& get_id() { return fieldAs<Id>(0); }
    Id const& get_id() const { return fieldAs<Id>(0); }
    void set_id(unsigned v) { fieldAs<Id>(0) = v; }

    Colour& get_colour() { return fieldAs<Colour>(1); }
    Colour const& get_colour() const { return fieldAs<Colour>(1); }
    void set_colour(Colour const& v) { fieldAs<Colour>(1) = v; }

    // optional index 0, field index 2
    bool address_isPresent() const { return hasOptionalField(0); }
    Address& get_address() { return fieldAs<Address>(2); }
    Address const& get_address() const { return fieldAs<Address>(2); }
    Address& set_address() { return includeAs<Address>(0, 2); }
    void set_address(Address const& v) { includeAs<Address>(0, 2) = v; }
    void omit_address() { removeOptionalField(0); }

    Aliases& get_aliases() { return fieldAs<Aliases>(3); }
    Aliases const& get_aliases() const { return fieldAs<Aliases>(3); }

    // extension addition 0: optional index numOptional + 0 = 1, field index 4
    bool comment_isPresent() const { return hasOptionalField(1); }
    ASN1::IA5String& get_comment() { return fieldAs<ASN1::IA5String>(4); }
    ASN1::IA5String const& get_comment() const { return fieldAs<ASN1::IA5String>(4); }
    void set_comment(std::string const& v) { includeAs<ASN1::IA5String>(1, 4) = v; }
    void omit_comment() { removeOptionalField(1); }
};

} // namespace Demo
