// The typed values of a configuration entry at the ends of their ranges,
// as the tree and the key reader take them, and the tree's dump, every count
// and line number under its own name.

#include "framework/ini_file.h"
#include "framework/ini_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

TEST(IniValues, EveryTruthWordAndTheNumbersAtTheirEnds)
{
    IniFile::SubKey sk("", 1);
    const struct {
        const char* text;
        bool value;
    } words[] = {{"true", true}, {"false", false}, {"yes", true}, {"no", false},
                 {"1", true},    {"0", false},     {"on", true},  {"off", false}};
    for (const auto& w : words) {
        sk.GetStr() = w.text;
        EXPECT_EQ(sk.GetBool(!w.value), w.value) << w.text;
    }
    for (const char* other : {"TRUE", "Yes", "2", " on", "off ", "enabled", ""}) {
        sk.GetStr() = other;
        EXPECT_TRUE(sk.GetBool(true)) << other;
        EXPECT_FALSE(sk.GetBool(false)) << other;
    }
    sk.SetBool(true);
    EXPECT_EQ(sk.GetStr(), "yes");
    sk.SetBool(false);
    EXPECT_EQ(sk.GetStr(), "no");

    const struct {
        const char* text;
        int value;
    } ints[] = {{"2147483647", 2147483647}, {"2147483648", -5}, {"-2147483649", -5}, {"  -7", -7},
                {"+12abc", 12},             {"abc", -5},         {"", -5},           {"0x10", 0}};
    for (const auto& i : ints) {
        sk.GetStr() = i.text;
        EXPECT_EQ(sk.GetInt(-5), i.value) << i.text;
    }
    sk.SetInt(-2147483647);
    EXPECT_EQ(sk.GetStr(), "-2147483647");
    sk.SetInt(0);
    EXPECT_EQ(sk.GetStr(), "0");

    sk.GetStr() = "2.5e3x";
    EXPECT_FLOAT_EQ(sk.GetFloat(1), 2500.0f);
    for (const char* bad : {"1e99", "-1e99", "x1", ""}) {
        sk.GetStr() = bad;
        EXPECT_FLOAT_EQ(sk.GetFloat(3), 3.0f) << bad;
    }
    sk.SetFloat(3.14159265f);
    EXPECT_EQ(sk.GetStr(), "3.14159");
    sk.SetFloat(-0.5f);
    EXPECT_EQ(sk.GetStr(), "-0.5");
}

TEST(IniValues, DumpNamesEveryLevelsCountsAndLines)
{
    IniFile::File file;
    std::istringstream in("\n[alpha]\nk = v1\n\nk = v2\nj = w\n[beta]\n[alpha]\n");
    in >> file;
    std::ostringstream out;
    file.Dump(out);
    EXPECT_EQ(out.str(), "dumping IniFile::File\nmFileName=\"\"\n\nmSectionCount=2\n"
                         "dumping IniFile::Section\nmName=\"alpha\"\nmSubSectionCount=2\n"
                         "dumping IniFile::SubSection\nmLineNo=\"2\"\nmKeyCount=2\n"
                         "dumping IniFile::Key\nmName=\"k\"\nmSubKeyCount=2\n"
                         "dumping IniFile::SubKey\nmValue=\"v1\"\nmLineNo=3\n"
                         "dumping IniFile::SubKey\nmValue=\"v2\"\nmLineNo=5\n"
                         "dumping IniFile::Key\nmName=\"j\"\nmSubKeyCount=1\n"
                         "dumping IniFile::SubKey\nmValue=\"w\"\nmLineNo=6\n"
                         "dumping IniFile::SubSection\nmLineNo=\"8\"\nmKeyCount=0\n"
                         "dumping IniFile::Section\nmName=\"beta\"\nmSubSectionCount=1\n"
                         "dumping IniFile::SubSection\nmLineNo=\"7\"\nmKeyCount=0\n");
}

enum class Octet : unsigned char {};
enum class Small : signed char {};

// Reads one key's text into the variable through a reader.
template <class T>
bool Take(const std::string& text, T& target)
{
    IniFile::File file;
    std::istringstream in("[s]\nk = " + text + "\n");
    in >> file;
    std::ostringstream out;
    IniFile::Reader reader("", out);
    reader.mRequired.add(&target, "k");
    return reader(*file["s"].begin());
}

TEST(IniValues, TheReadersWordsAndEachTypesRange)
{
    // A key not looked at is not found: the first missing required key ends the reading.
    {
        IniFile::File file;
        std::istringstream in("[s]\nsecond = 2\n");
        in >> file;
        std::ostringstream out;
        IniFile::Reader reader("", out);
        int first = 0, second = 0;
        bool& firstFound = reader.mRequired.add(&first, "first");
        bool& secondFound = reader.mRequired.add(&second, "second");
        EXPECT_FALSE(firstFound || secondFound);
        EXPECT_FALSE(reader(*file["s"].begin()));
        EXPECT_FALSE(firstFound || secondFound);
        EXPECT_EQ(second, 0);
    }

    const struct {
        const char* text;
        bool value;
    } words[] = {{"true", true},   {"false", false},   {"yes", true},   {"no", false}, {"enabled", true},
                 {"disabled", false}, {"enable", true}, {"disable", false}, {"1", true}, {"0", false}};
    for (const auto& w : words) {
        bool b = !w.value;
        EXPECT_TRUE(Take(w.text, b)) << w.text;
        EXPECT_EQ(b, w.value) << w.text;
    }
    for (const char* other : {"on", "off", "True", "2", "enabled!"}) {
        bool b = true;
        EXPECT_FALSE(Take(other, b)) << other;
        EXPECT_TRUE(b) << other;
    }

    Octet o = Octet(9);
    EXPECT_TRUE(Take("0", o));
    EXPECT_EQ(int(o), 0);
    EXPECT_TRUE(Take("0xFF", o));
    EXPECT_EQ(int(o), 255);
    EXPECT_FALSE(Take("256", o));
    EXPECT_FALSE(Take("-1", o));
    EXPECT_EQ(int(o), 255);
    Small sm = Small(9);
    EXPECT_TRUE(Take("-128", sm));
    EXPECT_EQ(int(sm), -128);
    EXPECT_TRUE(Take("127", sm));
    EXPECT_EQ(int(sm), 127);
    EXPECT_FALSE(Take("128", sm));
    EXPECT_FALSE(Take("-129", sm));
    EXPECT_EQ(int(sm), 127);
    int i = 0;
    EXPECT_TRUE(Take("2147483647", i));
    EXPECT_EQ(i, 2147483647);
    EXPECT_FALSE(Take("2147483648", i));
    EXPECT_EQ(i, 2147483647);
}

} // namespace
