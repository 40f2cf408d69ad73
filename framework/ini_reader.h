// Reads the keys of one INI subsection into typed variables and reports
// missing, invalid and repeated keys, one line per finding.
#pragma once

#include "framework/ini_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

namespace IniFile {

// One row of a name table; a table ends with a row whose name is null.
template <class T>
struct Symbol {
    const char* name;
    T value;
};

namespace Private {

class KeyValue {
public:
    virtual ~KeyValue() = default;
    virtual const char* name() const = 0;
    virtual bool do_parse(const char* text) = 0;

    bool parse(const std::string& text)
    {
        mFound = do_parse(text.c_str());
        return mFound;
    }

    bool mFound = false;
};

// Reads a whole text as a number of type T (strtol with base detection).
// Anything left over, or a number that does not fit T, is refused.
template <class T>
bool parse_number(const char* text, T& out)
{
    using U = typename std::conditional_t<std::is_enum<T>::value, std::underlying_type<T>,
                                          std::enable_if<true, T>>::type;
    static_assert(std::is_integral<U>::value, "numbers only");
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(text, &end, 0);
    if (end == text || *end != '\0' || errno == ERANGE)
        return false;
    if (std::is_unsigned<U>::value ? (n < 0 || static_cast<unsigned long long>(n) >
                                                   std::numeric_limits<U>::max())
                                   : (n < static_cast<long long>(std::numeric_limits<U>::min()) ||
                                      n > static_cast<long long>(std::numeric_limits<U>::max())))
        return false;
    out = static_cast<T>(static_cast<U>(n));
    return true;
}

template <class T>
class TKeyValue : public KeyValue {
public:
    TKeyValue(T* target, const char* key, const Symbol<T>* symbols)
        : mTarget(target), mKey(key), mSymbols(symbols)
    {
    }
    const char* name() const override { return mKey; }
    bool do_parse(const char* text) override
    {
        if (mSymbols) {
            for (const Symbol<T>* row = mSymbols; row->name; ++row) {
                if (std::strcmp(row->name, text) == 0) {
                    *mTarget = row->value;
                    return true;
                }
            }
        }
        return parse_number(text, *mTarget);
    }

private:
    T* mTarget;
    const char* mKey;
    const Symbol<T>* mSymbols;
};

template <>
class TKeyValue<bool> : public KeyValue {
public:
    TKeyValue(bool* target, const char* key, const Symbol<bool>*) : mTarget(target), mKey(key) {}
    const char* name() const override { return mKey; }
    bool do_parse(const char* text) override;

private:
    bool* mTarget;
    const char* mKey;
};

template <>
class TKeyValue<std::string> : public KeyValue {
public:
    TKeyValue(std::string* target, const char* key, const Symbol<std::string>*)
        : mTarget(target), mKey(key)
    {
    }
    const char* name() const override { return mKey; }
    bool do_parse(const char* text) override
    {
        *mTarget = text;
        return true;
    }

private:
    std::string* mTarget;
    const char* mKey;
};

} // namespace Private

class Reader {
public:
    class Field {
    public:
        Field() = default;
        Field(const Field&) = delete;
        Field& operator=(const Field&) = delete;

        // Takes ownership of kv; the reference tells later whether the key was taken.
        bool& add(Private::KeyValue* kv)
        {
            mItems.emplace_back(kv);
            return kv->mFound;
        }
        // The key name is not copied: pass a text that outlives the Reader.
        template <class T>
        bool& add(T* target, const char* key, const Symbol<T>* symbols = nullptr)
        {
            return add(new Private::TKeyValue<T>(target, key, symbols));
        }

        using List = std::vector<std::unique_ptr<Private::KeyValue>>;
        List::const_iterator begin() const { return mItems.begin(); }
        List::const_iterator end() const { return mItems.end(); }

    private:
        List mItems;
    };

    Reader(const std::string& prefix, std::ostream& out);

    bool parse(SubSection& sub);
    bool operator()(SubSection& sub) { return parse(sub); }

    Field mRequired;
    Field mOptional;

private:
    // Reports a key that is absent, invalid or repeated; true when it was read.
    bool check(SubSection& sub, Private::KeyValue& kv, bool required);

    std::string mPrefix;
    std::ostream* mOut;
};

} // namespace IniFile
