#include "framework/ini_file.h"
#include "framework/ini_reader.h"

#include "files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

// One line per SubKey ("section#headerline key=value@line"), and one per
// SubSection without keys ("section#headerline").
std::string flatten(const IniFile::File& file)
{
    std::ostringstream out;
    for (const IniFile::Section& s : file) {
        for (const IniFile::SubSection& ss : s) {
            if (ss.GetKeyCount() == 0)
                out << s.GetName() << "#" << ss.GetLineNo() << "\n";
            for (const IniFile::Key& k : ss)
                for (IniFile::SubKey& sk : k)
                    out << s.GetName() << "#" << ss.GetLineNo() << " " << k.GetName() << "="
                        << sk.GetStr() << "@" << sk.GetLineNo() << "\n";
        }
    }
    return out.str();
}

std::string parse(const std::string& text)
{
    IniFile::File file;
    std::istringstream in(text);
    in >> file;
    EXPECT_TRUE(file.IsOpen());
    return flatten(file);
}

struct ParseCase {
    const char* what;
    const char* text;
    const char* tree;
};

const ParseCase kParseCases[] = {
    {"empty input", "", ""},
    {"comments only", "# one\n   # k=1\n#three", ""},
    {"text before the first header", "k=v\nx = y\n[a]\nz=1\n", "a#3 z=1@4\n"},
    {"repeated header opens a numbered subsection", "[a]\nk=1\n[b]\n[a]\nk=2\n",
     "a#1 k=1@2\na#4 k=2@5\nb#3\n"},
    {"repeated key adds subkeys", "[s]\nk = 1\nk = 2\n", "s#1 k=1@2\ns#1 k=2@3\n"},
    {"inner blank runs kept, outer dropped", "[s]\n  k   x  =   a  b   \n", "s#1 k   x=a  b@2\n"},
    {"hash without a blank before it stays", "[s]\nk = a#b\n", "s#1 k=a#b@2\n"},
    {"hash after a blank starts a comment", "[s]\nk = a #b\n", "s#1 k=a@2\n"},
    {"doubled hash inside a value", "[s]\nk = a##\n", "s#1 k=a##@2\n"},
    {"comment right after the equals sign", "[s]\nk = # note\n", "s#1 k=@2\n"},
    {"last line without newline", "[s]\nk = v", "s#1 k=v@2\n"},
    {"input ends right after the equals sign", "[s]\nk =", "s#1 k=@2\n"},
    {"input ends inside a key", "[s]\nk", "s#1\n"},
    {"line without equals is dropped", "[s]\nnoequals\n[t]\nk=1\n", "s#1\nt#3 k=1@4\n"},
    {"header without bracket skips to the next bracket",
     "[s]\nk=1\n[abc\nx=1\n# [u]\ny=2 [t] z\nw=3\n", "s#1 k=1@2\nt#6 w=3@7\n"},
    {"header broken by a newline", "[ab\ncd]\n[e]\nk=v\n", "e#3 k=v@4\n"},
    {"CR dropped everywhere", "[s]\r\nk = v\r\n\r\n[t]\r\nx=y\r\n", "s#1 k=v@2\nt#4 x=y@5\n"},
    {"tabs are ordinary inside keys and values", "[s]\n\tk\t=\tv\t\n", "s#1 k\t=\tv\t@2\n"},
    {"section name kept with blanks, tail ignored", "[ my sec ] tail = x\nk=v\n", " my sec #1 k=v@2\n"},
    {"comment after header", "[s] # note [x]\nk=v\n", "s#1 k=v@2\n"},
    {"empty section name", "[]\nk=v\n", "#1 k=v@2\n"},
    {"key may start with equals or contain hash", "[s]\n==x\nk#y=1\n", "s#1 ==x@2\ns#1 k#y=1@3\n"},
    {"bracket in the middle of a key is part of it", "[s]\na[b]=c\n", "s#1 a[b]=c@2\n"},
    {"header on a line start after entries", "[s]\nk=1\n  [t]\nk=2\n", "s#1 k=1@2\nt#3 k=2@4\n"},
    {"high bytes are kept", "[s]\nk=\xc3\xa9\xff\n", "s#1 k=\xc3\xa9\xff@2\n"},
};

TEST(IniFile, ParserFollowsTheGrammar)
{
    for (const ParseCase& c : kParseCases)
        EXPECT_EQ(parse(c.text), c.tree) << c.what;
}

TEST(IniFile, LookupsOpenAndReopen)
{
    TempDir dir;
    const std::string path = dir.path + "/server.conf";
    std::ofstream(path) << "[a]\nk=1\nk=2\n";
    IniFile::File file(path);
    EXPECT_TRUE(file.IsOpen());

    // Lookups create what is missing.
    EXPECT_EQ(file["nope"].begin(), file["nope"].end());
    EXPECT_EQ(file.GetSectionCount(), 2);
    IniFile::SubSection& sub = *file["a"].begin();
    EXPECT_EQ(sub["k"].GetCount(), 2);
    EXPECT_EQ(sub["k"].GetLastSubKey()->GetStr(), "2");
    EXPECT_EQ(sub["k"].GetLastSubKey()->GetLineNo(), 3);
    IniFile::Key& fresh = sub["fresh"];
    EXPECT_EQ(fresh.GetStr(), "");
    EXPECT_EQ(fresh.GetFirstSubKey()->GetLineNo(), -1);
    file["empty"].CheckEmpty();
    file["empty"].CheckEmpty();
    EXPECT_EQ(file["empty"].GetSubSectionCount(), 1);

    // A second parse replaces the first; a failed open leaves nothing.
    std::istringstream again("[z]\n");
    again >> file;
    EXPECT_EQ(flatten(file), "z#1\n");
    EXPECT_FALSE(file.Open(dir.path + "/absent.conf"));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.begin(), file.end());
}

TEST(IniFile, TypedAccessors)
{
    IniFile::SubKey sk("on", 1);
    EXPECT_TRUE(sk.GetBool(false));
    sk.GetStr() = "YES"; // comparisons are exact
    EXPECT_FALSE(sk.GetBool(false));
    sk.SetBool(false);
    EXPECT_EQ(sk.GetStr(), "no");

    const struct {
        const char* text;
        int want;
    } ints[] = {{"  -7", -7},         {"12abc", 12},           {"abc", -1},
                {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
                {"2147483648", -1}, {"-2147483649", -1}, {"99999999999999999999999", -1}};
    for (const auto& i : ints) {
        sk.GetStr() = i.text;
        EXPECT_EQ(sk.GetInt(-1), i.want) << i.text;
    }
    sk.GetStr() = "1e99";
    EXPECT_FLOAT_EQ(sk.GetFloat(3), 3.0f);
    sk.SetFloat(3.14159265f);
    EXPECT_EQ(sk.GetStr(), "3.14159");
}

// ---- key reader -----------------------------------------------------------

enum class AddrType { ipv4 = 1, ipv6 = 2, dns = 16 };
const IniFile::Symbol<AddrType> kAddrTypes[] = {
    {"ipv4", AddrType::ipv4}, {"ipv6", AddrType::ipv6}, {nullptr, AddrType::ipv4}};

enum Small : signed char { small_zero = 0 };

struct IniReader : ::testing::Test {
    IniFile::File file;
    std::ostringstream out;

    IniFile::SubSection& load(const std::string& text)
    {
        std::istringstream in(text);
        in >> file;
        return *file["s"].begin();
    }
};

TEST_F(IniReader, RequiredKeyMessages)
{
    struct Case {
        const char* text;
        const char* messages;
    } cases[] = {
        {"\n\n[s]\n", "p: required key \"host\" not present, line 3\n"},
        {"[s]\nhost = a\nhost = b\n",
         "p: required key \"host\" is duplicated!\np:  first occurence at 2 line.\n"
         "p:  second occurence at 3 line.\n"},
        {"[s]\nhost=a\n\nhost=b\nhost=c\n",
         "p: required key \"host\" specified more than once: 2 4 5 lines\n"},
        {"[s]\nhost=h\nkind = 12abc\n", "p: required key \"kind\" has invalid value=\"12abc\", line 3\n"},
        // Only the first failing required key is reported.
        {"[s]\nport=1\n", "p: required key \"host\" not present, line 1\n"},
    };
    for (const Case& c : cases) {
        out.str("");
        IniFile::SubSection& sub = load(c.text);
        std::string host = "keep";
        AddrType kind = AddrType::ipv6;
        IniFile::Reader reader("p: ", out);
        reader.mRequired.add(&host, "host");
        reader.mRequired.add(&kind, "kind", kAddrTypes);
        EXPECT_FALSE(reader(sub)) << c.text;
        EXPECT_EQ(out.str(), c.messages) << c.text;
        EXPECT_EQ(kind, AddrType::ipv6) << c.text;
    }
}

TEST_F(IniReader, OptionalKeyMessagesLeaveTheVariable)
{
    IniFile::SubSection& sub = load(
        "[s]\nname = x\ndebug = on\nasn = yes\n"
        "lapd = 1\nlapd = 0\nrtp=1\n\nrtp=0\n\n\nrtp=1\n");
    bool debug = false, asn = false, lapd = true, rtp = true, absent = true;
    std::string name;
    IniFile::Reader reader("traces: ", out);
    reader.mRequired.add(&name, "name");
    bool& debugFound = reader.mOptional.add(&debug, "debug");
    bool& asnFound = reader.mOptional.add(&asn, "asn");
    bool& lapdFound = reader.mOptional.add(&lapd, "lapd");
    reader.mOptional.add(&rtp, "rtp");
    bool& absentFound = reader.mOptional.add(&absent, "absent");
    EXPECT_TRUE(reader.parse(sub));
    EXPECT_EQ(out.str(),
              "traces: optional key \"debug\" has invalid value=\"on\", line 3. Key will be ignored.\n"
              "traces: optional key \"lapd\" is duplicated!\n"
              "traces:  first occurence at 5 line.\n"
              "traces:  second occurence at 6 line. Both keys will be ignored.\n"
              "traces: optional key \"rtp\" specified more than once: 7 9 12 lines. All keys will "
              "be ignored.\n");
    EXPECT_EQ(name, "x");
    EXPECT_FALSE(debug);
    EXPECT_FALSE(debugFound);
    EXPECT_TRUE(asn);
    EXPECT_TRUE(asnFound);
    EXPECT_TRUE(lapd);
    EXPECT_FALSE(lapdFound);
    EXPECT_TRUE(rtp);
    EXPECT_TRUE(absent);
    EXPECT_FALSE(absentFound);
}

TEST_F(IniReader, ConversionsByType)
{
    IniFile::SubSection& sub = load(
        "[s]\nb1 = enabled\nb2 = disable\nt =\nsym = ipv6\nhex = 0x10\noct = 010\n"
        "neg = -3\nbig = 99999999999\nsmall = 200\nspace = 12 x\nsigned = -128\n");
    bool b1 = false, b2 = true;
    std::string t = "old";
    AddrType sym = AddrType::ipv4, hex = AddrType::ipv4;
    int oct = 0, neg = 0, big = 5, space = 5;
    Small small = small_zero, sgn = small_zero;
    IniFile::Reader reader("", out);
    reader.mRequired.add(&b1, "b1");
    reader.mRequired.add(&b2, "b2");
    reader.mRequired.add(&t, "t");
    reader.mRequired.add(&sym, "sym", kAddrTypes);
    reader.mRequired.add(&hex, "hex", kAddrTypes);
    reader.mRequired.add(&oct, "oct");
    reader.mRequired.add(&neg, "neg");
    reader.mRequired.add(&sgn, "signed");
    reader.mOptional.add(&big, "big");
    reader.mOptional.add(&small, "small");
    reader.mOptional.add(&space, "space");
    EXPECT_TRUE(reader.parse(sub));
    EXPECT_TRUE(b1);
    EXPECT_FALSE(b2);
    EXPECT_EQ(t, "");
    EXPECT_EQ(sym, AddrType::ipv6);
    EXPECT_EQ(hex, AddrType::dns);
    EXPECT_EQ(oct, 8);
    EXPECT_EQ(neg, -3);
    EXPECT_EQ(static_cast<int>(sgn), -128);
    // Out of range for the target type: refused, not wrapped.
    EXPECT_EQ(big, 5);
    EXPECT_EQ(small, small_zero);
    EXPECT_EQ(space, 5);
    EXPECT_EQ(out.str(),
              "optional key \"big\" has invalid value=\"99999999999\", line 9. Key will be ignored.\n"
              "optional key \"small\" has invalid value=\"200\", line 10. Key will be ignored.\n"
              "optional key \"space\" has invalid value=\"12 x\", line 11. Key will be ignored.\n");
}

} // namespace
