#!/usr/bin/env python3
"""Writes copies of the control-protocol modules for a standard ASN.1 toolkit.

usage: toolkit_copy.py [--by-value] OUTDIR MODULE.asn...

Each module is written as OUTDIR/<module name>.asn (OUTDIR is made when it
is missing), the name toolkits such as Erlang's asn1 look for when they
resolve IMPORTS. With --by-value the enumerations are written so that X.691
gives the octets of the link (protocol/README.md): one whose values are not
0..n-1 becomes INTEGER (0..maximum), since the link sends it by its value;
an extensible one becomes a CHOICE of its named numbers and `beyond`, which
spells out how the link sends a number beyond the names. A controller built
from the copies encodes and decodes these fields as the daemon does.
"""
import os
import re
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "generator"))
import asn1_parser  # noqa: E402


def alternatives(count, kind):
    return ",\n    ".join("%s%d %s" % (kind[0], n, kind[1](n)) for n in range(count))


# The link sends a number v beyond the names as v+1, a normally small
# number, then v in 0..v. Each alternative below is one v+1, so the number
# is written twice: v+1 in the alternative's name, v in its value.
BEYOND = """
-- A number v beyond the names of an extensible enumeration: v up to 62 as
-- small : k<v+1> : v, up to 254 as large : c1 : k<v+1> : v, 255 as
-- large : c2 : { k 256, v 255 }. Copied for toolkits, not sent otherwise.
ByValueBeyond ::= CHOICE { small ByValueSmall, large ByValueLarge }

ByValueSmall ::= CHOICE {
    %s
}

ByValueLarge ::= CHOICE {
    %s
}

ByValueOneOctet ::= CHOICE {
    %s
}

ByValueTwoOctets ::= SEQUENCE { k INTEGER (0..65535), v INTEGER (0..255) }
""" % (
    alternatives(64, ("k", lambda n: "INTEGER (0..%d)" % (n - 1) if n else "NULL")),
    alternatives(256, ("c", lambda n: {1: "ByValueOneOctet", 2: "ByValueTwoOctets"}.get(n, "NULL"))),
    alternatives(256, ("k", lambda n: "INTEGER (0..%d)" % (n - 1) if n >= 64 else "NULL")),
)


def by_value(text, module):
    beyond = False
    for a in module.assignments:
        t = a.type
        if not isinstance(t, asn1_parser.Enumerated):
            continue
        values = [v for _, v in t.items]
        top = max(values)
        if t.extendable:
            # A negative number (not-use) has no encoding on the link.
            names = ", ".join("%s(%d)" % (n, v) for n, v in t.items if v >= 0)
            new = "CHOICE { named INTEGER { %s } (0..%d), beyond ByValueBeyond }" % (names, top)
            beyond = True
        elif values != list(range(len(values))):
            new = "INTEGER (0..%d)" % top
        else:
            continue
        pattern = re.compile(r"(\b%s\s*::=\s*)ENUMERATED\s*\{[^}]*\}" % re.escape(a.name))
        text, n = pattern.subn(lambda m: m.group(1) + new, text)
        if n != 1:
            sys.exit("%s: cannot rewrite %s" % (module.file, a.name))
    if beyond:
        end = text.rindex("END")
        text = text[:end] + BEYOND.lstrip("\n") + "\n" + text[end:]
    return text


def main(argv):
    convert = argv and argv[0] == "--by-value"
    if convert:
        argv = argv[1:]
    if len(argv) < 2:
        sys.exit(__doc__)
    outdir, files = argv[0], argv[1:]
    os.makedirs(outdir, exist_ok=True)
    for path in files:
        module = asn1_parser.parse_file(path)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        if convert:
            text = by_value(text, module)
        with open(os.path.join(outdir, module.name + ".asn"), "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main(sys.argv[1:])
