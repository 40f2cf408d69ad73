#!/usr/bin/env python3
"""Writes copies of the control-protocol modules for a standard ASN.1 toolkit.

usage: toolkit_copy.py [--by-value] OUTDIR MODULE.asn...

Each module is written as OUTDIR/<module name>.asn, the name toolkits such
as Erlang's asn1 look for when they resolve IMPORTS. With --by-value every
ENUMERATED whose values are not 0..n-1 in order becomes INTEGER
(0..maximum), extensible when the enumeration is: the link sends such an
enumeration by its value, X.691 by its index (protocol/README.md). A
controller built from the copies encodes and decodes these fields as the
daemon does.
"""
import os
import re
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "generator"))
import asn1_parser  # noqa: E402


def by_value(text, module):
    for a in module.assignments:
        t = a.type
        if not isinstance(t, asn1_parser.Enumerated):
            continue
        values = [v for _, v in t.items]
        if values == list(range(len(values))):
            continue
        top = max(values)
        bound = "(0..%d%s)" % (top, ", ..." if t.extendable else "")
        pattern = re.compile(r"(\b%s\s*::=\s*)ENUMERATED\s*\{[^}]*\}" % re.escape(a.name))
        text, n = pattern.subn(lambda m: m.group(1) + "INTEGER " + bound, text)
        if n != 1:
            sys.exit("%s: cannot rewrite %s" % (module.file, a.name))
    return text


def main(argv):
    convert = argv and argv[0] == "--by-value"
    if convert:
        argv = argv[1:]
    if len(argv) < 2:
        sys.exit(__doc__)
    outdir, files = argv[0], argv[1:]
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
