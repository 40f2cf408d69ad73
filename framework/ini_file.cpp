#include "framework/ini_file.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

namespace IniFile {

// ---- SubKey ---------------------------------------------------------------

SubKey::SubKey(const std::string& value, int line) : mValue(value), mLineNo(line) {}

bool SubKey::GetBool(bool def) const
{
    static const struct {
        const char* text;
        bool value;
    } table[] = {{"true", true}, {"false", false}, {"yes", true}, {"no", false},
                 {"1", true},    {"0", false},     {"on", true},  {"off", false}};
    for (const auto& row : table)
        if (mValue == row.text)
            return row.value;
    return def;
}

void SubKey::SetBool(bool value)
{
    mValue = value ? "yes" : "no";
}

int SubKey::GetInt(int def) const
{
    // Like "%d": leading white space, a sign, decimal digits; text after the
    // number is ignored. Unlike sscanf, an out-of-range number is refused.
    const char* text = mValue.c_str();
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || n < INT_MIN || n > INT_MAX)
        return def;
    return static_cast<int>(n);
}

void SubKey::SetInt(int value)
{
    mValue = std::to_string(value);
}

float SubKey::GetFloat(float def) const
{
    const char* text = mValue.c_str();
    char* end = nullptr;
    errno = 0;
    float f = std::strtof(text, &end);
    if (end == text || (errno == ERANGE && std::isinf(f)))
        return def;
    return f;
}

void SubKey::SetFloat(float value)
{
    std::ostringstream out;
    out << value;
    mValue = out.str();
}

void SubKey::Dump(std::ostream& out) const
{
    out << "dumping IniFile::SubKey\n"
        << "mValue=\"" << mValue << "\"\n"
        << "mLineNo=" << mLineNo << "\n";
}

// ---- Key ------------------------------------------------------------------

Key::Key(const std::string& name) : mName(name) {}

Key::~Key()
{
    CleanSubKeys();
}

SubKey* Key::NewSubKey(const std::string& value, int line)
{
    SubKey* sk = new SubKey(value, line);
    Private::append(mFirst, mLast, mSubKeyCount, sk);
    return sk;
}

void Key::CleanSubKeys()
{
    Private::free_all(mFirst, mLast, mSubKeyCount);
}

void Key::CheckEmpty()
{
    if (!mFirst)
        NewSubKey(std::string(), -1);
}

SubKey* Key::GetFirstSubKey()
{
    CheckEmpty();
    return mFirst;
}

SubKey* Key::GetLastSubKey()
{
    CheckEmpty();
    return mLast;
}

std::string& Key::GetStr()
{
    return GetFirstSubKey()->GetStr();
}

void Key::Dump(std::ostream& out) const
{
    out << "dumping IniFile::Key\n"
        << "mName=\"" << mName << "\"\n"
        << "mSubKeyCount=" << mSubKeyCount << "\n";
    for (const SubKey& sk : *this)
        sk.Dump(out);
}

// ---- SubSection -----------------------------------------------------------

SubSection::SubSection(int line) : mLineNo(line) {}

SubSection::~SubSection()
{
    CleanKeys();
}

Key& SubSection::operator[](const std::string& name)
{
    auto it = mIndex.find(name);
    if (it != mIndex.end())
        return *it->second;
    return *NewKey(name);
}

Key* SubSection::NewKey(const std::string& name)
{
    Key* key = new Key(name);
    Private::append(mFirst, mLast, mKeyCount, key);
    mIndex[name] = key;
    return key;
}

SubKey* SubSection::NewSubKey(const std::string& key, const std::string& value, int line)
{
    return (*this)[key].NewSubKey(value, line);
}

void SubSection::CleanKeys()
{
    Private::free_all(mFirst, mLast, mKeyCount);
    mIndex.clear();
}

void SubSection::Dump(std::ostream& out) const
{
    out << "dumping IniFile::SubSection\n"
        << "mLineNo=\"" << mLineNo << "\"\n"
        << "mKeyCount=" << mKeyCount << "\n";
    for (const Key& key : *this)
        key.Dump(out);
}

// ---- Section --------------------------------------------------------------

Section::Section(const std::string& name) : mName(name) {}

Section::~Section()
{
    CleanSubSections();
}

SubSection* Section::NewSubSection(int line)
{
    SubSection* ss = new SubSection(line);
    Private::append(mFirst, mLast, mSubSectionCount, ss);
    return ss;
}

void Section::CleanSubSections()
{
    Private::free_all(mFirst, mLast, mSubSectionCount);
}

void Section::CheckEmpty()
{
    if (!mFirst)
        NewSubSection(-1);
}

void Section::Dump(std::ostream& out) const
{
    out << "dumping IniFile::Section\n"
        << "mName=\"" << mName << "\"\n"
        << "mSubSectionCount=" << mSubSectionCount << "\n";
    for (const SubSection& ss : *this)
        ss.Dump(out);
}

// ---- File -----------------------------------------------------------------

File::File() = default;

File::File(const std::string& path)
{
    Open(path);
}

File::~File()
{
    Close();
}

bool File::Open(const std::string& path)
{
    Close();
    mFileName = path;
    IntOpen();
    return mOpen;
}

void File::IntOpen()
{
    std::ifstream in(mFileName, std::ios::in | std::ios::binary);
    if (in.is_open())
        IntOpenStream(in);
}

void File::Close()
{
    CleanSections();
    mOpen = false;
}

Section& File::operator[](const std::string& name)
{
    auto it = mIndex.find(name);
    if (it != mIndex.end())
        return *it->second;
    Section* s = NewSection(name);
    mIndex[name] = s;
    return *s;
}

Section* File::NewSection(const std::string& name)
{
    Section* s = new Section(name);
    Private::append(mFirst, mLast, mSectionCount, s);
    return s;
}

SubSection* File::NewSubSection(const std::string& name, int line)
{
    return (*this)[name].NewSubSection(line);
}

void File::CleanSections()
{
    Private::free_all(mFirst, mLast, mSectionCount);
    mIndex.clear();
}

void File::Dump(std::ostream& out) const
{
    out << "dumping IniFile::File\n"
        << "mFileName=\"" << mFileName << "\"\n"
        << "\n"
        << "mSectionCount=" << mSectionCount << "\n";
    for (const Section& s : *this)
        s.Dump(out);
}

namespace {

enum class State { Outside, InHeader, AfterHeader, LineStart, InKey, BeforeValue, InValue };

} // namespace

void File::IntOpenStream(std::istream& in)
{
    mOpen = true;

    State state = State::Outside;
    int line = 1;
    std::string section, key, value;
    int blanks = 0;
    SubSection* current = nullptr;
    bool comment = false;

    auto store = [&] {
        if (current)
            current->NewSubKey(key, value, line);
        key.clear();
        blanks = 0;
    };

    std::streambuf* sb = in.rdbuf();
    for (int ch = sb ? sb->sbumpc() : EOF; ch != EOF; ch = sb->sbumpc()) {
        const char c = static_cast<char>(ch);
        if (c == '\r')
            continue;
        if (comment) {
            if (c != '\n')
                continue;
            comment = false;
        }

        switch (state) {
        case State::Outside:
            if (c == '#') {
                comment = true;
            } else if (c == '[') {
                section.clear();
                state = State::InHeader;
            }
            break;
        case State::InHeader:
            if (c == '\n') {
                state = State::Outside;
            } else if (c == ']') {
                current = NewSubSection(section, line);
                state = State::AfterHeader;
            } else {
                section += c;
            }
            break;
        case State::AfterHeader:
            if (c == '\n')
                state = State::LineStart;
            else if (c == '#')
                comment = true;
            break;
        case State::LineStart:
            if (c == '#') {
                comment = true;
            } else if (c == '[') {
                section.clear();
                state = State::InHeader;
            } else if (c != ' ' && c != '\t' && c != '\n') {
                key.assign(1, c);
                blanks = 0;
                state = State::InKey;
            }
            break;
        case State::InKey:
            if (c == ' ') {
                ++blanks;
            } else if (c == '=') {
                value.clear();
                blanks = 0;
                state = State::BeforeValue;
            } else if (c == '\n') {
                key.clear();
                blanks = 0;
                state = State::LineStart;
            } else {
                key.append(blanks, ' ');
                blanks = 0;
                key += c;
            }
            break;
        case State::BeforeValue:
            if (c == '#') {
                comment = true;
            } else if (c == '\n') {
                store();
                state = State::LineStart;
            } else if (c != ' ') {
                value.assign(1, c);
                blanks = 0;
                state = State::InValue;
            }
            break;
        case State::InValue:
            if (c == ' ') {
                ++blanks;
            } else if (c == '#' && blanks > 0) {
                blanks = 0;
                comment = true;
            } else if (c == '\n') {
                store();
                state = State::LineStart;
            } else {
                value.append(blanks, ' ');
                blanks = 0;
                value += c;
            }
            break;
        }

        if (c == '\n')
            ++line;
    }

    if (state == State::BeforeValue || state == State::InValue)
        store();
    in.setstate(std::ios::eofbit);
}

std::istream& operator>>(std::istream& in, File& file)
{
    file.Close();
    file.mFileName.clear();
    file.IntOpenStream(in);
    return in;
}

} // namespace IniFile
