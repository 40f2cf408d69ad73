"""Reader of ASN.1 module text in the subset the generator supports.

The subset: DEFINITIONS AUTOMATIC TAGS, IMPORTS, comments, NULL, BOOLEAN,
INTEGER with a value range, ENUMERATED with numbered items and an extension
marker, OCTET STRING and IA5String with SIZE, SEQUENCE (OPTIONAL, extension
marker and additions), CHOICE (extension marker and additions), SEQUENCE OF
and inline nested types. Anything else raises Asn1Error naming the file, the
line and the construct.
"""

import re

INT32_MIN = -(2 ** 31)
INT32_MAX = 2 ** 31 - 1
UINT32_MAX = 2 ** 32 - 1


class Asn1Error(Exception):
    def __init__(self, file, line, message):
        super().__init__("%s:%d: %s" % (file, line, message))
        self.file = file
        self.line = line


# ---------------------------------------------------------------- model

class Type:
    line = 0


class Null(Type):
    kind = "NULL"


class Boolean(Type):
    kind = "BOOLEAN"


class Integer(Type):
    kind = "INTEGER"

    def __init__(self, bounds=None):
        self.bounds = bounds          # (lower, upper) or None


class Enumerated(Type):
    kind = "ENUMERATED"

    def __init__(self, items, extendable):
        self.items = items            # [(name, value)] in definition order
        self.extendable = extendable


class OctetString(Type):
    kind = "OCTET STRING"

    def __init__(self, size=None):
        self.size = size


class IA5String(Type):
    kind = "IA5String"

    def __init__(self, size=None):
        self.size = size


class Component:
    def __init__(self, name, type, optional, line):
        self.name = name
        self.type = type
        self.optional = optional
        self.line = line


class Constructed(Type):
    """Root components, extension additions and whether '...' was written."""

    def __init__(self, root, additions, extendable):
        self.root = root
        self.additions = additions
        self.extendable = extendable


class Sequence(Constructed):
    kind = "SEQUENCE"


class Choice(Constructed):
    kind = "CHOICE"


class SequenceOf(Type):
    kind = "SEQUENCE OF"

    def __init__(self, element, size=None):
        self.element = element
        self.size = size


class Reference(Type):
    kind = "reference"

    def __init__(self, name):
        self.name = name
        self.target = None            # the Assignment, once resolved


class Assignment:
    def __init__(self, module, name, type, line):
        self.module = module
        self.name = name
        self.type = type
        self.line = line


class Module:
    def __init__(self, name, file):
        self.name = name
        self.file = file
        self.imports = []             # [(symbol, module name, line)]
        self.assignments = []

    def lookup(self, name):
        for a in self.assignments:
            if a.name == name:
                return a
        return None


# ---------------------------------------------------------------- tokens

_TOKEN = re.compile(r"""
    (?P<space>[ \t\r\f\v]+)
  | (?P<newline>\n)
  | (?P<comment>--)
  | (?P<block>/\*)
  | (?P<punct>::=|\.\.\.|\.\.|\[\[|\]\]|[{}(),;.\[\]|<>@!^:&*=])
  | (?P<number>-?[0-9]+)
  | (?P<word>[A-Za-z](?:[A-Za-z0-9]|-(?=[A-Za-z0-9]))*)
  | (?P<string>"[^"]*")
""", re.VERBOSE)


class Token:
    def __init__(self, kind, text, line):
        self.kind = kind
        self.text = text
        self.line = line

    def __repr__(self):
        return "%s %r" % (self.kind, self.text)


def tokenize(text, file):
    tokens = []
    pos = 0
    line = 1
    while pos < len(text):
        m = _TOKEN.match(text, pos)
        if not m:
            raise Asn1Error(file, line, "unsupported construct: character %r" % text[pos])
        kind = m.lastgroup
        pos = m.end()
        if kind == "space":
            continue
        if kind == "newline":
            line += 1
            continue
        if kind == "comment":
            # ends at the next "--" or at the end of the line
            while pos < len(text) and text[pos] != "\n":
                if text.startswith("--", pos):
                    pos += 2
                    break
                pos += 1
            continue
        if kind == "block":
            depth = 1
            start = line
            while depth:
                if pos >= len(text):
                    raise Asn1Error(file, start, "unterminated comment")
                if text.startswith("/*", pos):
                    depth += 1
                    pos += 2
                elif text.startswith("*/", pos):
                    depth -= 1
                    pos += 2
                else:
                    if text[pos] == "\n":
                        line += 1
                    pos += 1
            continue
        if kind == "word" and m.group().endswith("-"):
            raise Asn1Error(file, line, "identifier ending in a hyphen")
        tokens.append(Token(kind, m.group(), line))
    tokens.append(Token("end", "", line))
    return tokens


# ---------------------------------------------------------------- parser

# Built-in types and other reserved words outside the subset, named when met.
_UNSUPPORTED_TYPES = {
    "BIT": "BIT STRING", "SET": "SET", "REAL": "REAL", "OBJECT": "OBJECT IDENTIFIER",
    "RELATIVE-OID": "RELATIVE-OID", "EXTERNAL": "EXTERNAL", "EMBEDDED": "EMBEDDED PDV",
    "CHARACTER": "CHARACTER STRING", "ANY": "ANY", "INSTANCE": "INSTANCE OF",
    "GeneralizedTime": "GeneralizedTime", "UTCTime": "UTCTime",
    "BMPString": "BMPString", "UTF8String": "UTF8String",
    "PrintableString": "PrintableString", "NumericString": "NumericString",
    "VisibleString": "VisibleString", "GeneralString": "GeneralString",
    "GraphicString": "GraphicString", "TeletexString": "TeletexString",
    "T61String": "T61String", "VideotexString": "VideotexString",
    "UniversalString": "UniversalString", "ISO646String": "ISO646String",
    "ObjectDescriptor": "ObjectDescriptor", "DATE": "DATE", "TIME": "TIME",
    "DATE-TIME": "DATE-TIME", "DURATION": "DURATION", "TIME-OF-DAY": "TIME-OF-DAY",
    "CLASS": "information object class", "TYPE-IDENTIFIER": "TYPE-IDENTIFIER",
    "ABSTRACT-SYNTAX": "ABSTRACT-SYNTAX",
}

_RESERVED = set("""ABSENT ABSTRACT-SYNTAX ALL APPLICATION AUTOMATIC BEGIN BIT BMPString
BOOLEAN BY CHARACTER CHOICE CLASS COMPONENT COMPONENTS CONSTRAINED CONTAINING DATE
DATE-TIME DEFAULT DEFINITIONS DURATION EMBEDDED ENCODED ENCODING-CONTROL END ENUMERATED
EXCEPT EXPLICIT EXPORTS EXTENSIBILITY EXTERNAL FALSE FROM GeneralizedTime GeneralString
GraphicString IA5String IDENTIFIER IMPLICIT IMPLIED IMPORTS INCLUDES INSTANCE INSTRUCTIONS
INTEGER INTERSECTION ISO646String MAX MIN MINUS-INFINITY NOT-A-NUMBER NULL NumericString
OBJECT ObjectDescriptor OCTET OF OID-IRI OPTIONAL PATTERN PDV PLUS-INFINITY PRESENT
PrintableString PRIVATE REAL RELATIVE-OID RELATIVE-OID-IRI SEQUENCE SET SETTINGS SIZE
STRING SYNTAX T61String TAGS TeletexString TIME TIME-OF-DAY TRUE TYPE-IDENTIFIER UNION
UNIQUE UNIVERSAL UniversalString UTCTime UTF8String VideotexString VisibleString
WITH""".split())


class Parser:
    def __init__(self, text, file):
        self.file = file
        self.tokens = tokenize(text, file)
        self.pos = 0

    # -- token helpers

    def peek(self, ahead=0):
        return self.tokens[min(self.pos + ahead, len(self.tokens) - 1)]

    def next(self):
        tok = self.peek()
        if tok.kind != "end":
            self.pos += 1
        return tok

    def at(self, text):
        return self.peek().text == text and self.peek().kind != "string"

    def accept(self, text):
        if self.at(text):
            return self.next()
        return None

    def fail(self, message, tok=None):
        tok = tok or self.peek()
        raise Asn1Error(self.file, tok.line, message)

    def unsupported(self, construct, tok=None):
        self.fail("unsupported construct: %s" % construct, tok)

    def expect(self, text, what=None):
        tok = self.peek()
        if not self.at(text):
            found = "end of file" if tok.kind == "end" else repr(tok.text)
            self.fail("expected %s, found %s" % (what or repr(text), found))
        return self.next()

    def typeref(self):
        tok = self.next()
        if tok.kind != "word" or not tok.text[0].isupper() or tok.text in _RESERVED:
            self.fail("expected a type name, found %r" % tok.text, tok)
        return tok

    def identifier(self):
        tok = self.next()
        if tok.kind != "word" or not tok.text[0].islower():
            self.fail("expected an identifier, found %r" % tok.text, tok)
        return tok

    def number(self, lo=None, hi=None):
        tok = self.peek()
        if tok.kind == "word" and tok.text in ("MIN", "MAX"):
            self.unsupported("%s in a range" % tok.text)
        if tok.kind == "word" and tok.text[0].islower():
            self.unsupported("value reference %r" % tok.text)
        if tok.kind != "number":
            self.fail("expected a number, found %r" % tok.text)
        self.next()
        value = int(tok.text)
        if (lo is not None and value < lo) or (hi is not None and value > hi):
            self.fail("number %d out of range" % value, tok)
        return value

    # -- module

    def module(self):
        name = self.typeref()
        mod = Module(name.text, self.file)
        if self.at("{"):
            self.unsupported("module identifier")
        self.expect("DEFINITIONS")
        if self.at("EXPLICIT") or self.at("IMPLICIT"):
            self.unsupported("%s TAGS (only AUTOMATIC TAGS)" % self.peek().text)
        if not self.at("AUTOMATIC"):
            self.unsupported("module without AUTOMATIC TAGS")
        self.next()
        self.expect("TAGS")
        if self.at("EXTENSIBILITY"):
            self.unsupported("EXTENSIBILITY IMPLIED")
        self.expect("::=")
        self.expect("BEGIN")
        if self.at("EXPORTS"):
            self.unsupported("EXPORTS")
        if self.accept("IMPORTS"):
            self.imports(mod)
        while not self.at("END"):
            if self.peek().kind == "end":
                self.fail("expected END, found end of file")
            mod.assignments.append(self.assignment(mod))
        self.expect("END")
        if self.peek().kind != "end":
            self.unsupported("text after END")
        return mod

    def imports(self, mod):
        symbols = []
        while not self.accept(";"):
            if self.accept("FROM"):
                source = self.typeref()
                if not symbols:
                    self.fail("FROM without imported names", source)
                if self.at("{"):
                    self.unsupported("module identifier in IMPORTS")
                for sym in symbols:
                    mod.imports.append((sym.text, source.text, sym.line))
                symbols = []
                continue
            tok = self.peek()
            if tok.kind == "word" and tok.text[0].islower():
                self.unsupported("imported value %r" % tok.text)
            symbols.append(self.typeref())
            if self.at("{"):
                self.unsupported("parameterized type")
            if not self.accept(","):
                if not self.at("FROM"):
                    self.expect("FROM")
        if symbols:
            self.fail("imported names without FROM")

    def assignment(self, mod):
        tok = self.peek()
        if tok.kind == "word" and tok.text[0].islower():
            self.unsupported("value assignment %r" % tok.text)
        name = self.typeref()
        if self.at("{"):
            self.unsupported("parameterized type %r" % name.text)
        if not self.at("::="):
            self.unsupported("assignment of %r other than a type" % name.text)
        self.next()
        if mod.lookup(name.text):
            self.fail("type %r defined twice" % name.text, name)
        return Assignment(mod, name.text, self.type(), name.line)

    # -- types

    def type(self):
        tok = self.peek()
        line = tok.line
        t = self.builtin_or_reference()
        t.line = line
        if self.at("("):
            self.unsupported("constraint on %s" % t.kind)
        return t

    def builtin_or_reference(self):
        tok = self.next()
        text = tok.text
        if tok.kind == "punct" and text == "[":
            self.unsupported("tag", tok)
        if tok.kind != "word":
            self.fail("expected a type, found %r" % text, tok)
        if text == "NULL":
            return Null()
        if text == "BOOLEAN":
            return Boolean()
        if text == "INTEGER":
            if self.at("{"):
                self.unsupported("INTEGER with named numbers")
            return Integer(self.value_range())
        if text == "ENUMERATED":
            return self.enumerated()
        if text == "OCTET":
            self.expect("STRING")
            size = None
            if self.accept("("):
                size = self.size_constraint()
                self.expect(")")
            return OctetString(size)
        if text == "IA5String":
            size = None
            if self.accept("("):
                size = self.size_constraint()
                self.expect(")")
            return IA5String(size)
        if text == "SEQUENCE":
            if self.at("{"):
                root, additions, ext = self.components(True)
                return Sequence(root, additions, ext)
            size = None
            if self.accept("("):
                size = self.size_constraint()
                self.expect(")")
            elif self.at("SIZE"):
                size = self.size_constraint()
            self.expect("OF", "'{' or OF after SEQUENCE")
            if self.peek().kind == "word" and self.peek().text[0].islower():
                self.unsupported("named element type in SEQUENCE OF")
            return SequenceOf(self.type(), size)
        if text == "CHOICE":
            root, additions, ext = self.components(False)
            return Choice(root, additions, ext)
        if text in _UNSUPPORTED_TYPES:
            self.unsupported(_UNSUPPORTED_TYPES[text], tok)
        if text in _RESERVED or not text[0].isupper():
            self.fail("expected a type, found %r" % text, tok)
        if self.at("."):
            self.unsupported("external type reference %s.%s" % (text, self.peek(1).text))
        if self.at("{"):
            self.unsupported("parameterized type %r" % text)
        return Reference(text)

    def value_range(self):
        if not self.accept("("):
            return None
        if self.at("SIZE"):
            self.unsupported("SIZE on INTEGER")
        lo = self.number(INT32_MIN, UINT32_MAX)
        if not self.at(".."):
            if self.at(")"):
                self.unsupported("single-value constraint")
            self.unsupported("constraint form %r" % self.peek().text)
        self.next()
        hi = self.number(INT32_MIN, UINT32_MAX)
        if self.at(","):
            self.unsupported("extensible constraint")
        self.expect(")")
        if lo > hi:
            self.fail("empty range %d..%d" % (lo, hi))
        if lo > INT32_MAX:
            self.fail("lower bound %d too large" % lo)
        if lo < 0 and hi > INT32_MAX:
            self.fail("range %d..%d wider than 32 bits" % (lo, hi))
        return (lo, hi)

    def size_constraint(self):
        if not self.at("SIZE"):
            self.unsupported("constraint other than SIZE")
        self.next()
        self.expect("(")
        lo = self.number(0, UINT32_MAX)
        if not self.at(".."):
            self.unsupported("single-value SIZE")
        self.next()
        hi = self.number(0, UINT32_MAX)
        if self.at(","):
            self.unsupported("extensible SIZE")
        self.expect(")")
        if self.at("^") or self.at("|"):
            self.unsupported("combined constraint")
        if lo > hi:
            self.fail("empty SIZE %d..%d" % (lo, hi))
        if lo > INT32_MAX:
            self.fail("SIZE lower bound %d too large" % lo)
        return (lo, hi)

    def enumerated(self):
        self.expect("{")
        items = []
        extendable = False
        numbered = None
        while True:
            tok = self.peek()
            if self.accept("..."):
                if extendable:
                    self.unsupported("second extension marker", tok)
                extendable = True
            else:
                if extendable:
                    self.unsupported("ENUMERATED extension addition", tok)
                name = self.identifier()
                has_number = self.accept("(") is not None
                if has_number:
                    value = self.number(INT32_MIN, INT32_MAX)
                    self.expect(")")
                else:
                    value = len(items)
                if numbered is None:
                    numbered = has_number
                elif numbered != has_number:
                    self.unsupported("ENUMERATED mixing numbered and unnumbered items", name)
                for other, v in items:
                    if other == name.text:
                        self.fail("item %r named twice" % other, name)
                    if v == value:
                        self.fail("items %r and %r share the number %d" % (other, name.text, v), name)
                items.append((name.text, value))
            if self.accept("}"):
                break
            self.expect(",", "',' or '}'")
        if not items:
            self.fail("ENUMERATED without items")
        return Enumerated(items, extendable)

    def components(self, in_sequence):
        """Root components, extension additions, and whether a marker was met."""
        self.expect("{")
        root, additions = [], []
        extendable = False
        names = set()
        if self.accept("}"):
            if not in_sequence:
                self.fail("CHOICE without alternatives")
            return root, additions, extendable
        while True:
            tok = self.peek()
            if self.accept("..."):
                if extendable:
                    self.unsupported("second extension marker", tok)
                extendable = True
                if self.at("!"):
                    self.unsupported("exception marker '!'")
            elif self.at("[["):
                self.unsupported("version brackets")
            elif self.at("COMPONENTS"):
                self.unsupported("COMPONENTS OF")
            else:
                name = self.identifier()
                if name.text in names:
                    self.fail("%r named twice" % name.text, name)
                names.add(name.text)
                t = self.type()
                optional = False
                if self.at("DEFAULT"):
                    self.unsupported("DEFAULT")
                if self.at("OPTIONAL"):
                    if not in_sequence:
                        self.unsupported("OPTIONAL in CHOICE")
                    self.next()
                    optional = True
                comp = Component(name.text, t, optional, name.line)
                (additions if extendable else root).append(comp)
            if self.accept("}"):
                break
            self.expect(",", "',' or '}'")
        if not in_sequence and not root:
            self.fail("CHOICE without root alternatives")
        return root, additions, extendable


def parse_file(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return Parser(text, path).module()


def walk(t):
    """Every type node inside t, t included."""
    yield t
    if isinstance(t, (Sequence, Choice)):
        for c in t.root + t.additions:
            yield from walk(c.type)
    elif isinstance(t, SequenceOf):
        yield from walk(t.element)


def resolve(modules):
    """Binds every reference to its assignment, across the imports."""
    by_name = {}
    for m in modules:
        if m.name in by_name:
            raise Asn1Error(m.file, 1, "module %s given twice" % m.name)
        by_name[m.name] = m
    for m in modules:
        visible = {}
        for sym, source, line in m.imports:
            src = by_name.get(source)
            if src is None:
                raise Asn1Error(m.file, line, "module %s of imported %s not given" % (source, sym))
            target = src.lookup(sym)
            if target is None:
                raise Asn1Error(m.file, line, "module %s defines no %s" % (source, sym))
            if sym in visible or m.lookup(sym):
                raise Asn1Error(m.file, line, "%s imported twice or also defined here" % sym)
            visible[sym] = target
        for a in m.assignments:
            for t in walk(a.type):
                if isinstance(t, Reference):
                    t.target = m.lookup(t.name) or visible.get(t.name)
                    if t.target is None:
                        raise Asn1Error(m.file, t.line, "undefined type %s" % t.name)
    for m in modules:
        for a in m.assignments:
            seen = set()
            t = a.type
            while isinstance(t, Reference):
                if id(t) in seen:
                    raise Asn1Error(m.file, a.line, "type %s is defined by itself" % a.name)
                seen.add(id(t))
                t = t.target.type
    return by_name
