"""The generator reads its ASN.1 subset and refuses everything else with the
file, the line and the construct named."""
import io
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stderr

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "protocol", "generator"))
import asn1_parser  # noqa: E402
import asn1gen  # noqa: E402

HEAD = "M DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n"


def parse(body, head=HEAD, name="m.asn"):
    return asn1_parser.Parser(head + body + "\nEND\n", name).module()


class Refusals(unittest.TestCase):
    def refused(self, body, construct, line=2, head=HEAD):
        with self.assertRaises(asn1_parser.Asn1Error) as cm:
            parse(body, head)
        text = str(cm.exception)
        self.assertTrue(text.startswith("m.asn:%d: " % line), text)
        self.assertIn(construct, text)

    def test_unsupported_constructs_are_named(self):
        cases = [
            ("A ::= SEQUENCE { a INTEGER DEFAULT 3 }", "DEFAULT"),
            ("A ::= BIT STRING", "BIT STRING"),
            ("A ::= SET { a INTEGER }", "SET"),
            ("A ::= UTF8String", "UTF8String"),
            ("A ::= OBJECT IDENTIFIER", "OBJECT IDENTIFIER"),
            ("A ::= SEQUENCE { a [3] INTEGER }", "tag"),
            ("A ::= INTEGER { one(1) }", "INTEGER with named numbers"),
            ("A ::= INTEGER (0..10, ...)", "extensible constraint"),
            ("A ::= INTEGER (MIN..10)", "MIN"),
            ("A ::= INTEGER (5)", "single-value"),
            ("A ::= OCTET STRING (SIZE (4))", "single-value SIZE"),
            ("A ::= BOOLEAN (TRUE)", "constraint on BOOLEAN"),
            ("A ::= IA5String (FROM (\"a\"))", "constraint other than SIZE"),
            ("A ::= CHOICE { a NULL OPTIONAL }", "OPTIONAL in CHOICE"),
            ("A ::= SEQUENCE { a NULL, ..., [[ b NULL ]] }", "version brackets"),
            ("A ::= SEQUENCE { COMPONENTS OF B }", "COMPONENTS OF"),
            ("A ::= SEQUENCE { a NULL, ..., b NULL, ... }", "second extension marker"),
            ("A ::= ENUMERATED { a, ..., b }", "ENUMERATED extension addition"),
            ("A ::= ENUMERATED { a(0), b }", "ENUMERATED mixing numbered and unnumbered"),
            ("a INTEGER ::= 5", "value assignment"),
            ("A ::= B.C", "external type reference"),
            ("A { T } ::= SEQUENCE { a T }", "parameterized type"),
            ("A ::= SEQUENCE OF b INTEGER", "named element type"),
        ]
        for body, construct in cases:
            with self.subTest(body=body):
                self.refused(body, "unsupported construct: " + construct)

    def test_line_of_the_construct(self):
        self.refused("A ::= NULL\n\n-- comment\nB ::= SEQUENCE {\n  a REAL\n}", "REAL", line=6)

    def test_module_header(self):
        self.refused("", "EXPLICIT TAGS", line=1,
                     head="M DEFINITIONS EXPLICIT TAGS ::= BEGIN\n")
        self.refused("", "without AUTOMATIC TAGS", line=1, head="M DEFINITIONS ::= BEGIN\n")
        self.refused("", "EXPORTS", line=2, head=HEAD + "EXPORTS ALL;\n")

    def test_bad_definitions(self):
        cases = [
            ("A ::= INTEGER (5..1)", "empty range"),
            ("A ::= INTEGER (-1..4294967295)", "wider than 32 bits"),
            ("A ::= INTEGER (0..4294967296)", "out of range"),
            ("A ::= ENUMERATED { a(1), b(1) }", "share the number 1"),
            ("A ::= ENUMERATED { a, a }", "named twice"),
            ("A ::= SEQUENCE { a NULL, a BOOLEAN }", "named twice"),
            ("A ::= CHOICE { }", "without alternatives"),
            ("A ::= NULL\nA ::= NULL", "defined twice"),
            ("A ::= SEQUENCE { a INTEGER", "expected ',' or '}'"),
            ("A ::= SEQUENCE { a INTEGER } $", "character '$'"),
        ]
        for body, message in cases:
            with self.subTest(body=body):
                with self.assertRaises(asn1_parser.Asn1Error) as cm:
                    parse(body)
                self.assertIn(message, str(cm.exception))

    def test_unterminated_comment_names_its_start(self):
        with self.assertRaises(asn1_parser.Asn1Error) as cm:
            parse("A ::= NULL\n/* open\n\n")
        self.assertIn("m.asn:3: unterminated comment", str(cm.exception))


class Resolution(unittest.TestCase):
    def modules(self, *texts):
        return [asn1_parser.Parser(t, "f%d.asn" % i).module() for i, t in enumerate(texts)]

    def test_references_across_imports(self):
        a = "A DEFINITIONS AUTOMATIC TAGS ::= BEGIN X ::= INTEGER END"
        b = "B DEFINITIONS AUTOMATIC TAGS ::= BEGIN IMPORTS X FROM A; Y ::= SEQUENCE { x X } END"
        ms = self.modules(a, b)
        asn1_parser.resolve(ms)
        ref = ms[1].assignments[0].type.root[0].type
        self.assertIs(ref.target, ms[0].assignments[0])

    def test_unresolved_names(self):
        cases = [
            (["A DEFINITIONS AUTOMATIC TAGS ::= BEGIN Y ::= SEQUENCE { x X } END"], "undefined type X"),
            (["B DEFINITIONS AUTOMATIC TAGS ::= BEGIN IMPORTS X FROM A; END"], "module A of imported X"),
            (["A DEFINITIONS AUTOMATIC TAGS ::= BEGIN Z ::= NULL END",
              "B DEFINITIONS AUTOMATIC TAGS ::= BEGIN IMPORTS X FROM A; END"], "module A defines no X"),
            (["A DEFINITIONS AUTOMATIC TAGS ::= BEGIN X ::= Y\nY ::= X END"], "defined by itself"),
        ]
        for texts, message in cases:
            with self.subTest(message=message):
                with self.assertRaises(asn1_parser.Asn1Error) as cm:
                    asn1_parser.resolve(self.modules(*texts))
                self.assertIn(message, str(cm.exception))


class CommandLine(unittest.TestCase):
    def test_refusal_exits_1_with_the_place(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "bad.asn")
            with open(path, "w") as f:
                f.write(HEAD + "A ::= SEQUENCE {\n  a REAL\n}\nEND\n")
            err = io.StringIO()
            with redirect_stderr(err):
                status = asn1gen.main(["-o", d, path])
            self.assertEqual(status, 1)
            self.assertIn("bad.asn:3: unsupported construct: REAL", err.getvalue())
            self.assertEqual(sorted(os.listdir(d)), ["bad.asn"])

    def test_writes_one_header_and_source_per_module(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "mod.asn")
            with open(path, "w") as f:
                f.write("My-Mod DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n"
                        "A-B ::= SEQUENCE { c-d INTEGER (0..3) OPTIONAL }\nEND\n")
            self.assertEqual(asn1gen.main(["-o", d, "-I", "gen", path]), 0)
            self.assertEqual(sorted(os.listdir(d)), ["mod.asn", "my_mod.cpp", "my_mod.h"])
            with open(os.path.join(d, "my_mod.h")) as f:
                header = f.read()
            self.assertIn("namespace My_Mod {", header)
            self.assertIn("class A_B : public ASN1::SEQUENCE {", header)
            self.assertIn("bool c_d_isPresent() const", header)
            with open(os.path.join(d, "my_mod.cpp")) as f:
                self.assertIn('#include "gen/my_mod.h"', f.read())

    def test_sizes_beyond_the_runtime_are_refused_where_written(self):
        cases = [
            ("A ::= SEQUENCE {\n  a SEQUENCE (SIZE (1..1024)) OF INTEGER\n}", 3,
             "SIZE upper bound 1024 of SEQUENCE OF above the runtime's 128 elements"),
            ("A ::= SEQUENCE (SIZE (0..129)) OF NULL", 2, "SIZE upper bound 129 of SEQUENCE OF"),
            ("A ::= CHOICE {\n  a NULL,\n  b OCTET STRING (SIZE (0..16385))\n}", 4,
             "SIZE upper bound 16385 of OCTET STRING above the runtime's 16384 units"),
            ("A ::= SEQUENCE OF IA5String (SIZE (1..20000))", 2, "SIZE upper bound 20000 of IA5String"),
        ]
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "big.asn")
            for body, line, message in cases:
                with self.subTest(body=body):
                    with open(path, "w") as f:
                        f.write(HEAD + body + "\nEND\n")
                    for args in (["-o", d], ["--check"]):
                        err = io.StringIO()
                        with redirect_stderr(err):
                            self.assertEqual(asn1gen.main(args + [path]), 1)
                        self.assertIn("big.asn:%d: %s" % (line, message), err.getvalue())
            # The runtime's own limits are fine.
            with open(path, "w") as f:
                f.write(HEAD + "A ::= SEQUENCE (SIZE (1..128)) OF OCTET STRING (SIZE (0..16384))\nEND\n")
            self.assertEqual(asn1gen.main(["-o", d, path]), 0)
            with open(os.path.join(d, "m.cpp")) as f:
                source = f.read()
            self.assertIn("{&ASN1::make<A_subtype>, 4, ASN1::FixedConstraint, 0, 16384u}", source)
            self.assertIn("ASN1::FixedConstraint, 1, 128u, &A_subtype::theInfo}", source)

    def test_check_only_writes_nothing(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "mod.asn")
            with open(path, "w") as f:
                f.write(HEAD + "A ::= NULL\nEND\n")
            self.assertEqual(asn1gen.main(["--check", "-o", d, path]), 0)
            self.assertEqual(os.listdir(d), ["mod.asn"])


if __name__ == "__main__":
    unittest.main()


class ToolkitCopy(unittest.TestCase):
    # The octets a controller built from the copies sends are checked against
    # the daemon's in erlang_vectors_test.cpp; here the folder and the text.
    def test_writes_a_new_folder_and_every_radio_value(self):
        sys.path.insert(0, os.path.join(here, "..", "..", "protocol"))
        import toolkit_copy
        term = os.path.join(here, "..", "..", "protocol", "term", "term.asn")
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "not", "yet")
            toolkit_copy.main(["--by-value", out, term])
            with open(os.path.join(out, "TERM.asn")) as f:
                text = f.read()
        self.assertIn("RadioStandby ::= CHOICE { named INTEGER { active(0), standby(1) } (0..1), "
                      "beyond ByValueBeyond }", text)
        self.assertIn("DSCP ::= INTEGER (0..56)", text)
        self.assertIn("k63 INTEGER (0..62)\n}", text)
        self.assertIn("k255 INTEGER (0..254)\n}", text)
        self.assertEqual(text.count("ByValueBeyond ::="), 1)
