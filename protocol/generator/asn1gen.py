#!/usr/bin/env python3
"""Generates C++ value classes from ASN.1 modules (see README.md)."""

import argparse
import os
import sys

from asn1_parser import (Asn1Error, Boolean, Choice, Enumerated, IA5String, Integer, Null,
                         OctetString, Reference, Sequence, SequenceOf, parse_file, resolve, walk)

UINT32_MAX = 2 ** 32 - 1

RUNTIME_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "asn1", "asn1.h")


def runtime_limits():
    """The runtime's most elements of a list and units of a string, as its
    header defines them."""
    import re
    with open(RUNTIME_HEADER, encoding="utf-8") as f:
        text = f.read()
    found = {}
    for name in ("MaximumArraySize", "MaximumStringSize"):
        m = re.search(r"\b%s\s*=\s*(\d+)" % name, text)
        if not m:
            raise OSError("%s: no %s" % (RUNTIME_HEADER, name))
        found[name] = int(m.group(1))
    return found["MaximumArraySize"], found["MaximumStringSize"]


def check_limits(modules):
    """A declared size the runtime cannot carry is refused where it is written:
    the daemon would encode values it cannot read back."""
    max_elements, max_units = runtime_limits()
    for m in modules:
        for a in m.assignments:
            for t in walk(a.type):
                size = getattr(t, "size", None)
                if not size:
                    continue
                limit, what = (max_elements, "elements") if isinstance(t, SequenceOf) else (max_units, "units")
                if size[1] > limit:
                    fail(m.file, t.line, "SIZE upper bound %d of %s above the runtime's %d %s"
                         % (size[1], t.kind, limit, what))

CPP_KEYWORDS = set("""alignas alignof and and_eq asm auto bitand bitor bool break case catch char
char8_t char16_t char32_t class compl concept const consteval constexpr constinit const_cast
continue co_await co_return co_yield decltype default delete do double dynamic_cast else enum
explicit export extern false float for friend goto if inline int long mutable namespace new
noexcept not not_eq nullptr operator or or_eq private protected public register
reinterpret_cast requires return short signed sizeof static static_assert static_cast struct
switch template this thread_local throw true try typedef typeid typename union unsigned using
virtual void volatile wchar_t while xor xor_eq NULL errno assert stdin stdout stderr major
minor EOF""".split())

# Members an ENUMERATED class already has; an item named so gets a "_".
ENUM_MEMBERS = set("""InfoType theInfo info create compare clone accept getTag setFromInt asInt
getMaximum extendable getName setFromName asNamedNumber isValid isStrictlyValid print_on
asValueNotation NamedNumber""".split())


def cpp_id(name):
    return name.replace("-", "_")


def fail(file, line, message):
    raise Asn1Error(file, line, message)


class Unit:
    """One generated class (or alias) of a module."""

    def __init__(self, name, type, file):
        self.name = name          # C++ name inside the module namespace
        self.type = type
        self.file = file
        self.members = []         # [(component, C++ type, info expression)] for SEQUENCE/CHOICE
        self.element = None       # (C++ type, info expression) for SEQUENCE OF


class ModuleGen:
    def __init__(self, module, modules, include_prefix):
        self.module = module
        self.modules = modules
        self.ns = cpp_id(module.name)
        self.include_prefix = include_prefix
        self.units = []
        self.unit_names = {}
        self.aliases = []         # [(name, target C++ type)]
        self.plan()

    # ------------------------------------------------------------ planning

    def add_unit(self, name, t, line):
        if name in self.unit_names:
            fail(self.module.file, line, "generated name %s::%s used twice" % (self.ns, name))
        u = Unit(name, t, self.module.file)
        self.unit_names[name] = u
        self.units.append(u)
        return u

    def qualified(self, assignment):
        name = cpp_id(assignment.name)
        if assignment.module is self.module:
            return name
        return cpp_id(assignment.module.name) + "::" + name

    def plan(self):
        for a in self.module.assignments:
            name = cpp_id(a.name)
            t = a.type
            if isinstance(t, Reference):
                self.aliases.append((name, self.ref_type(t.target)[0]))
            elif is_builtin(t):
                self.aliases.append((name, self.builtin(t)[0]))
            else:
                self.plan_unit(name, t, a.line)

    def ref_type(self, a):
        """C++ class and table of a named type, through any chain of aliases."""
        while isinstance(a.type, Reference):
            a = a.type.target
        if is_builtin(a.type):
            return self.builtin(a.type)
        q = self.qualified(a)
        return q, "&%s::theInfo" % q

    def plan_unit(self, name, t, line):
        u = self.add_unit(name, t, line)
        if isinstance(t, (Sequence, Choice)):
            for c in t.root + t.additions:
                ctype, info = self.member_type(name + "_" + cpp_id(c.name), c.type, c.line)
                u.members.append((c, ctype, info))
        elif isinstance(t, SequenceOf):
            u.element = self.member_type(name + "_subtype", t.element, t.line)
        return u

    def builtin(self, t):
        """(C++ class, table expression) of a type needing no class of its own."""
        if isinstance(t, Null):
            return "ASN1::Null", "&ASN1::Null::theInfo"
        if isinstance(t, Boolean):
            return "ASN1::BOOLEAN", "&ASN1::BOOLEAN::theInfo"
        if isinstance(t, OctetString):
            return "ASN1::OCTET_STRING", "&ASN1::OCTET_STRING::theInfo"
        if isinstance(t, IA5String):
            return "ASN1::IA5String", "&ASN1::IA5String::theInfo"
        if isinstance(t, Integer):
            if t.bounds is None:
                return "ASN1::INTEGER", "&ASN1::INTEGER::theInfo"
            cls = "ASN1::Constrained_INTEGER<ASN1::FixedConstraint, %d, %du>" % t.bounds
            return cls, "&" + cls + "::theInfo"
        raise AssertionError(t)

    def member_type(self, inline_name, t, line):
        """C++ class and table of a member; inline types get classes of their own."""
        if isinstance(t, Reference):
            return self.ref_type(t.target)
        if is_builtin(t):
            return self.builtin(t)
        self.plan_unit(inline_name, t, line)
        return inline_name, "&%s::theInfo" % inline_name

    # ------------------------------------------------------------ helpers

    def resolved(self, t):
        while isinstance(t, Reference):
            t = t.target.type
        return t

    def setter(self, ctype, t):
        """Parameter and assignment of a value setter, or None for NULL."""
        r = self.resolved(t)
        if isinstance(r, Null):
            return None
        if isinstance(r, Boolean):
            return "bool v", "= v"
        if isinstance(r, Integer):
            if r.bounds is None:
                return "int v", "= v"
            if r.bounds[0] >= 0:
                return "unsigned v", "= v"
            return "int v", ".setValue(v)"
        if isinstance(r, IA5String):
            return "std::string const& v", "= v"
        if isinstance(r, OctetString):
            return "std::vector<char> const& v", "= v"
        return "%s const& v" % ctype, "= v"

    # ------------------------------------------------------------ header

    def header(self, deps):
        out = []
        w = out.append
        w("// Generated from ASN.1 module %s by protocol/generator/asn1gen.py; do not edit." % self.module.name)
        w("#pragma once")
        w("")
        w("#include <cstdlib>")
        w("#include <iostream>")
        w("#include <string>")
        w("#include <vector>")
        w("")
        w('#include "asn1/asn1.h"')
        for d in deps:
            w('#include "%s"' % self.include_path(d))
        w("")
        w("namespace %s {" % self.ns)
        w("")
        w("namespace detail {")
        w("// Reading an alternative that is not selected or a field that does not exist.")
        w("[[noreturn]] inline void badAccess(char const* what, int selection)")
        w("{")
        w('    std::cerr << what << ": no such value (selection " << selection << ")" << std::endl;')
        w("    std::abort();")
        w("}")
        w("} // namespace detail")
        w("")
        for u in self.units:
            w("class %s;" % u.name)
        if self.units:
            w("")
        for name, target in self.aliases:
            w("using %s = %s;" % (name, target))
        if self.aliases:
            w("")
        for u in self.units:
            self.class_decl(u, w)
        for u in self.units:
            self.inline_defs(u, w)
        w("} // namespace %s" % self.ns)
        return "\n".join(out) + "\n"

    def include_path(self, module_name):
        base = cpp_id(module_name).lower() + ".h"
        return self.include_prefix + "/" + base if self.include_prefix else base

    def class_decl(self, u, w):
        t = u.type
        if isinstance(t, Enumerated):
            self.enum_decl(u, w)
        elif isinstance(t, (IA5String, OctetString)):
            base = "IA5String" if isinstance(t, IA5String) else "OCTET_STRING"
            values = ["std::string const& s", "char const* s"] if base == "IA5String" else ["std::vector<char> const& s"]
            w("// %s (SIZE (%d..%d))" % ((t.kind,) + t.size))
            w("class %s : public ASN1::%s {" % (u.name, base))
            w("public:")
            w("    static const InfoType theInfo;")
            w("")
            w("    explicit %s(void const* info = &theInfo) : %s(info) {}" % (u.name, base))
            for v in values:
                w("    %s(%s, void const* info = &theInfo) : %s(s, info) {}" % (u.name, v, base))
            w("    using %s::operator=;" % base)
            w("};")
        elif isinstance(t, SequenceOf):
            ctype = u.element[0]
            w("class %s : public ASN1::SEQUENCE_OF<%s> {" % (u.name, ctype))
            w("public:")
            w("    static const InfoType theInfo;")
            w("")
            w("    explicit %s(void const* info = &theInfo) : SEQUENCE_OF(info) {}" % u.name)
            w("};")
        elif isinstance(t, Choice):
            self.choice_decl(u, w)
        elif isinstance(t, Sequence):
            self.sequence_decl(u, w)
        w("")

    def enum_items(self, u):
        names = []
        for item, value in u.type.items:
            n = cpp_id(item)
            if n in CPP_KEYWORDS or n in ENUM_MEMBERS:
                n += "_"
            names.append((n, value))
        return names

    def enum_decl(self, u, w):
        items = self.enum_items(u)
        w("class %s : public ASN1::ENUMERATED {" % u.name)
        w("public:")
        w("    enum NamedNumber {")
        for n, v in items:
            w("        %s = %d," % (n, v))
        w("    };")
        w("    static const InfoType theInfo;")
        w("")
        w("    explicit %s(void const* info = &theInfo) : ENUMERATED(info) {}" % u.name)
        w("    %s(NamedNumber v, void const* info = &theInfo) : ENUMERATED(info) { setFromInt(v); }" % u.name)
        w("    %s& operator=(NamedNumber v)" % u.name)
        w("    {")
        w("        setFromInt(v);")
        w("        return *this;")
        w("    }")
        w("    NamedNumber asNamedNumber() const { return NamedNumber(asInt()); }")
        for n, _ in items:
            w("    void set_%s() { setFromInt(%s); }" % (n.rstrip("_"), n))
        w("};")

    def choice_members(self, u):
        """Declarations in the class and definitions after all classes."""
        m = Members(u.name)
        by_type = {}
        for c, ctype, _ in u.members:
            by_type.setdefault(ctype, []).append(c)
        for ctype, alts in by_type.items():
            if isinstance(self.resolved(alts[0].type), Null):
                continue
            body = ["switch (id) {"]
            for c in alts:
                body += ["case %s_chosen:" % cpp_id(c.name),
                         "    select_%s() = v;" % cpp_id(c.name),
                         "    return;"]
            body += ["default:",
                     '    detail::badAccess("%s::%s", id);' % (self.ns, u.name),
                     "}"]
            m.ctor("// alternative `id` with a copy of v's value", "",
                   "Choice_Ids id, %s const& v" % ctype, "CHOICE(&theInfo)", body)
            if len(alts) == 1 and not is_builtin(self.resolved(alts[0].type)):
                m.ctor(None, "explicit ", "%s const& v" % ctype, "CHOICE(&theInfo)",
                       ["select_%s() = v;" % cpp_id(alts[0].name)])
        for c, ctype, _ in u.members:
            n = cpp_id(c.name)
            m.blank()
            m.inline("bool %s_isSelected() const { return currentSelection() == %s_chosen; }" % (n, n))
            for const in ("", " const"):
                m.method("%s%s&" % (ctype, const), "get_%s" % n, "", const,
                         ["if (currentSelection() != %s_chosen)" % n,
                          '    detail::badAccess("%s::%s::get_%s", currentSelection());' % (self.ns, u.name, n),
                          "return getAs<%s>();" % ctype])
            m.method("%s&" % ctype, "select_%s" % n, "", "",
                     ["return selectAs<%s>(%s_chosen);" % (ctype, n)])
            s = self.setter(ctype, c.type)
            if s:
                param, assign = s
                m.method("%s&" % ctype, "select_%s" % n, param, "",
                         ["%s& x = select_%s();" % (ctype, n), "x%s;" % spaced(assign), "return x;"])
        return m

    def choice_decl(self, u, w):
        w("class %s : public ASN1::CHOICE {" % u.name)
        w("public:")
        w("    enum Choice_Ids {")
        for i, (c, _, _) in enumerate(u.members):
            w("        %s_chosen = %d," % (cpp_id(c.name), i))
        w("    };")
        w("    static const InfoType theInfo;")
        w("")
        w("    explicit %s(void const* info = &theInfo) : CHOICE(info) {}" % u.name)
        w("    // a fresh value of alternative `id`")
        w("    explicit %s(Choice_Ids id) : CHOICE(&theInfo) { select(id); }" % u.name)
        for line in self.choice_members(u).decls:
            w(line)
        w("};")

    def sequence_members(self, u):
        m = Members(u.name)
        for index, opt, c, ctype in self.fields(u):
            n = cpp_id(c.name)
            s = self.setter(ctype, c.type)
            m.blank()
            if opt is None:
                for const in ("", " const"):
                    m.method("%s%s&" % (ctype, const), "get_%s" % n, "", const,
                             ["return fieldAs<%s>(%d);" % (ctype, index)])
                if s:
                    m.method("void", "set_%s" % n, s[0], "",
                             ["fieldAs<%s>(%d)%s;" % (ctype, index, spaced(s[1]))])
            else:
                m.comment("// optional index %d, field index %d" % (opt, index))
                m.inline("bool %s_isPresent() const { return hasOptionalField(%d); }" % (n, opt))
                for const in ("", " const"):
                    m.method("%s%s&" % (ctype, const), "get_%s" % n, "", const,
                             ["if (!getField(%d))" % index,
                              '    detail::badAccess("%s::%s::get_%s", -1);' % (self.ns, u.name, n),
                              "return fieldAs<%s>(%d);" % (ctype, index)])
                m.method("%s&" % ctype, "set_%s" % n, "", "",
                         ["return includeAs<%s>(%d, %d);" % (ctype, opt, index)])
                if s:
                    m.method("void", "set_%s" % n, s[0], "", ["set_%s()%s;" % (n, spaced(s[1]))])
                m.inline("void omit_%s() { removeOptionalField(%d); }" % (n, opt))
        return m

    def sequence_decl(self, u, w):
        w("class %s : public ASN1::SEQUENCE {" % u.name)
        w("public:")
        w("    static const InfoType theInfo;")
        w("")
        w("    explicit %s(void const* info = &theInfo) : SEQUENCE(info) {}" % u.name)
        for line in self.sequence_members(u).decls:
            w(line)
        w("};")

    def fields(self, u):
        """(field index, optional index or None, component, C++ type) per field."""
        t = u.type
        result = []
        opt = 0
        for i, (c, ctype, _) in enumerate(u.members[:len(t.root)]):
            if c.optional:
                result.append((i, opt, c, ctype))
                opt += 1
            else:
                result.append((i, None, c, ctype))
        for k, (c, ctype, _) in enumerate(u.members[len(t.root):]):
            result.append((len(t.root) + k, opt + k, c, ctype))
        return result

    def inline_defs(self, u, w):
        t = u.type
        if isinstance(t, Choice):
            m = self.choice_members(u)
        elif isinstance(t, Sequence):
            m = self.sequence_members(u)
        else:
            return
        for line in m.defs:
            w(line)

    # ------------------------------------------------------------ tables

    def source(self, header_name):
        out = []
        w = out.append
        w("// Generated from ASN.1 module %s by protocol/generator/asn1gen.py; do not edit." % self.module.name)
        w('#include "%s"' % header_name)
        w("")
        w("namespace %s {" % self.ns)
        w("")
        w("namespace {")
        for u in self.units:
            self.arrays(u, w)
        w("} // namespace")
        w("")
        for u in self.units:
            self.table(u, w)
        w("} // namespace %s" % self.ns)
        return "\n".join(out) + "\n"

    def arrays(self, u, w):
        t = u.type
        if isinstance(t, Enumerated):
            names, prev = [], -1
            for item, value in t.items:
                names.append('"%s"' % item if value == prev + 1 else '"%s=%d"' % (item, value))
                prev = value
            w("char const* const %s_names[] = {%s};" % (u.name, ", ".join(names)))
        elif isinstance(t, (Sequence, Choice)) and u.members:
            w("void const* const %s_infos[] = {%s};" % (u.name, ", ".join(i for _, _, i in u.members)))
            w("char const* const %s_names[] = {%s};"
              % (u.name, ", ".join('"%s"' % c.name for c, _, _ in u.members)))
            if isinstance(t, Sequence):
                ids = []
                for index, opt, c, _ in self.fields(u):
                    ids.append("0" if index >= len(t.root) else ("-1" if opt is None else str(opt)))
                w("int const %s_ids[] = {%s};" % (u.name, ", ".join(ids)))

    def table(self, u, w):
        t = u.type
        make = "&ASN1::make<%s>" % u.name
        if isinstance(t, Enumerated):
            w("const %s::InfoType %s::theInfo = {%s, 10, %s, %d, %s_names, %d};"
              % (u.name, u.name, make, bool_text(t.extendable), max(v for _, v in t.items),
                 u.name, len(t.items)))
        elif isinstance(t, IA5String):
            w("const %s::InfoType %s::theInfo = {%s, 22, ASN1::FixedConstraint, %d, %du, ASN1::IA5StringSet, 128, 7, 7, 8};"
              % ((u.name, u.name, make) + t.size))
        elif isinstance(t, OctetString):
            w("const %s::InfoType %s::theInfo = {%s, 4, ASN1::FixedConstraint, %d, %du};"
              % ((u.name, u.name, make) + t.size))
        elif isinstance(t, SequenceOf):
            if t.size:
                bounds = "ASN1::FixedConstraint, %d, %du" % t.size
            else:
                bounds = "ASN1::Unconstrained, 0, 4294967295u"
            w("const %s::InfoType %s::theInfo = {%s, 16, %s, %s};" % (u.name, u.name, make, bounds, u.element[1]))
        elif isinstance(t, Choice):
            w("const %s::InfoType %s::theInfo = {%s, 0, %s, %s_infos, %d, %d, nullptr, %s_names};"
              % (u.name, u.name, make, bool_text(t.extendable), u.name, len(t.root),
                 len(t.root) + len(t.additions), u.name))
        elif isinstance(t, Sequence):
            noptional = sum(1 for c in t.root if c.optional)
            arr = (lambda s: "%s_%s" % (u.name, s)) if u.members else (lambda s: "nullptr")
            w("const %s::InfoType %s::theInfo = {%s, 16, %s, %s, %s, %d, %d, %d, nullptr, nullptr, %s};"
              % (u.name, u.name, make, bool_text(t.extendable), arr("infos"), arr("ids"),
                 len(t.root), len(t.additions), noptional, arr("names")))
        w("")

    def imported_modules(self):
        names = []
        for _, source, _ in self.module.imports:
            if source not in names:
                names.append(source)
        return names


class Members:
    """Member functions: declarations in the class, bodies after every class
    (member types may be incomplete inside the class)."""

    def __init__(self, cls):
        self.cls = cls
        self.decls = []
        self.defs = []

    def blank(self):
        self.decls.append("")

    def comment(self, text):
        self.decls.append("    " + text)

    def inline(self, text):
        self.decls.append("    " + text)

    def method(self, ret, name, params, const, body):
        self.decls.append("    %s %s(%s)%s;" % (ret, name, params, const))
        self.defs.append("inline %s %s::%s(%s)%s" % (ret, self.cls, name, params, const))
        self.body(body)

    def ctor(self, comment, explicit, params, init, body):
        if comment:
            self.decls.append("    " + comment)
        self.decls.append("    %s%s(%s);" % (explicit, self.cls, params))
        self.defs.append("inline %s::%s(%s) : %s" % (self.cls, self.cls, params, init))
        self.body(body)

    def body(self, lines):
        self.defs.append("{")
        self.defs += ["    " + l for l in lines]
        self.defs.append("}")
        self.defs.append("")


def spaced(assign):
    return " " + assign if assign.startswith("=") else assign


def is_builtin(t):
    """Types served by the runtime's own classes."""
    return isinstance(t, (Null, Boolean, Integer)) or \
        (isinstance(t, (IA5String, OctetString)) and t.size is None)


def bool_text(b):
    return "true" if b else "false"


def generate(paths, outdir, include_prefix, list_types=None):
    modules = [parse_file(p) for p in paths]
    by_name = resolve(modules)
    check_limits(modules)
    written = []
    listing = []
    for m in modules:
        gen = ModuleGen(m, by_name, include_prefix)
        listing += ['{"%s::%s", &%s::%s::theInfo},' % (gen.ns, u.name, gen.ns, u.name) for u in gen.units]
        base = cpp_id(m.name).lower()
        header = gen.header(gen.imported_modules())
        source = gen.source(gen.include_path(m.name))
        for name, text in ((base + ".h", header), (base + ".cpp", source)):
            path = os.path.join(outdir, name)
            write_file(path, text)
            written.append(path)
    if list_types:
        write_file(list_types, "\n".join(listing) + "\n")
    return written


def write_file(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv=None):
    ap = argparse.ArgumentParser(description="Generate C++ classes from ASN.1 modules.")
    ap.add_argument("modules", nargs="+", metavar="MODULE.asn",
                    help="module files; every module named in IMPORTS must be among them")
    ap.add_argument("-o", "--outdir", default=".", help="directory for the .h and .cpp files")
    ap.add_argument("-I", "--include-prefix", default="",
                    help="path in front of the generated headers' names in #include lines")
    ap.add_argument("--check", action="store_true", help="only read and check the modules")
    ap.add_argument("--list-types", metavar="FILE",
                    help='also write FILE: one line {"NS::Class", &NS::Class::theInfo}, per class')
    args = ap.parse_args(argv)
    try:
        if args.check:
            modules = [parse_file(p) for p in args.modules]
            resolve(modules)
            check_limits(modules)
            return 0
        os.makedirs(args.outdir, exist_ok=True)
        generate(args.modules, args.outdir, args.include_prefix, args.list_types)
    except Asn1Error as e:
        print("asn1gen: %s" % e, file=sys.stderr)
        return 1
    except OSError as e:
        print("asn1gen: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
