#include "framework/ini_reader.h"

namespace IniFile {

namespace Private {

bool TKeyValue<bool>::do_parse(const char* text)
{
    static const Symbol<bool> table[] = {
        {"true", true},     {"false", false},     {"yes", true},    {"no", false},
        {"enabled", true},  {"disabled", false},  {"enable", true}, {"disable", false},
        {"1", true},        {"0", false},         {nullptr, false},
    };
    for (const Symbol<bool>* row = table; row->name; ++row) {
        if (std::strcmp(row->name, text) == 0) {
            *mTarget = row->value;
            return true;
        }
    }
    return false;
}

} // namespace Private

Reader::Reader(const std::string& prefix, std::ostream& out) : mPrefix(prefix), mOut(&out) {}

bool Reader::check(SubSection& sub, Private::KeyValue& kv, bool required)
{
    Key& key = sub[kv.name()];
    const int n = key.GetCount();
    std::ostream& out = *mOut;
    const char* kind = required ? "required key \"" : "optional key \"";
    if (!required)
        kv.mFound = false;

    if (n == 0) {
        if (!required)
            return true;
        out << mPrefix << kind << kv.name() << "\" not present, line " << sub.GetLineNo() << std::endl;
        return false;
    }
    if (n == 1) {
        if (kv.parse(key.GetStr()))
            return true;
        out << mPrefix << kind << kv.name() << "\" has invalid value=\"" << key.GetStr()
            << "\", line " << key.GetFirstSubKey()->GetLineNo()
            << (required ? "" : ". Key will be ignored.") << std::endl;
        return false;
    }
    if (n == 2) {
        out << mPrefix << kind << kv.name() << "\" is duplicated!" << std::endl;
        out << mPrefix << " first occurence at " << key.GetFirstSubKey()->GetLineNo() << " line."
            << std::endl;
        out << mPrefix << " second occurence at " << key.GetLastSubKey()->GetLineNo() << " line."
            << (required ? "" : " Both keys will be ignored.") << std::endl;
        return false;
    }
    out << mPrefix << kind << kv.name() << "\" specified more than once:";
    for (const SubKey& sk : key)
        out << " " << sk.GetLineNo();
    out << " lines" << (required ? "" : ". All keys will be ignored.") << std::endl;
    return false;
}

bool Reader::parse(SubSection& sub)
{
    for (const auto& kv : mRequired)
        if (!check(sub, *kv, true))
            return false;
    for (const auto& kv : mOptional)
        check(sub, *kv, false);
    return true;
}

} // namespace IniFile
