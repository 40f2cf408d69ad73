// In-memory tree of an INI-syntax configuration text and its parser.
//
// File -> Section (all blocks of one header name) -> SubSection (one header
// line) -> Key (all entries of one name) -> SubKey (one entry line).
// Every object owns its children; lookups by name create what is missing.
#pragma once

#include <iosfwd>
#include <map>
#include <string>

namespace IniFile {

class File;
class Section;
class SubSection;
class Key;
class SubKey;

template <class T>
class GenericIterator {
public:
    GenericIterator() = default;
    explicit GenericIterator(T* item) : mItem(item) {}

    bool operator!=(const GenericIterator& other) const { return mItem != other.mItem; }
    bool operator==(const GenericIterator& other) const { return mItem == other.mItem; }
    GenericIterator& operator++()
    {
        if (mItem)
            mItem = mItem->mNext;
        return *this;
    }
    GenericIterator operator++(int)
    {
        GenericIterator old(*this);
        ++*this;
        return old;
    }
    T& operator*() const { return *mItem; }
    T* operator->() const { return mItem; }

private:
    T* mItem = nullptr;
};

namespace Private {

// Links of one child in its parent's list; the parent owns the child.
template <class T>
class Linked {
public:
    Linked() = default;
    Linked(const Linked&) = delete;
    Linked& operator=(const Linked&) = delete;

protected:
    friend class GenericIterator<T>;
    template <class U> friend void append(U*&, U*&, int&, U*);
    template <class U> friend void free_all(U*&, U*&, int&);
    T* mNext = nullptr;
    T* mPrev = nullptr;
};

template <class T>
void append(T*& first, T*& last, int& count, T* item)
{
    item->mPrev = last;
    item->mNext = nullptr;
    if (last)
        last->mNext = item;
    else
        first = item;
    last = item;
    ++count;
}

template <class T>
void free_all(T*& first, T*& last, int& count)
{
    while (first) {
        T* next = first->mNext;
        delete first;
        first = next;
    }
    last = nullptr;
    count = 0;
}

} // namespace Private

class SubKey : public Private::Linked<SubKey> {
public:
    SubKey(const std::string& value, int line);

    std::string& GetStr() { return mValue; }
    int GetLineNo() const { return mLineNo; }

    bool GetBool(bool def) const;
    void SetBool(bool value);
    // A value outside the range of int is not a number: the default is returned.
    int GetInt(int def) const;
    void SetInt(int value);
    float GetFloat(float def) const;
    void SetFloat(float value);

    void Dump(std::ostream& out) const;

private:
    std::string mValue;
    int mLineNo;
};

class Key : public Private::Linked<Key> {
public:
    explicit Key(const std::string& name);
    ~Key();

    const std::string& GetName() const { return mName; }
    SubKey* NewSubKey(const std::string& value, int line);
    void CleanSubKeys();
    void CheckEmpty();
    SubKey* GetFirstSubKey();
    SubKey* GetLastSubKey();
    std::string& GetStr();
    int GetCount() const { return mSubKeyCount; }

    GenericIterator<SubKey> begin() const { return GenericIterator<SubKey>(mFirst); }
    GenericIterator<SubKey> end() const { return GenericIterator<SubKey>(); }
    void Dump(std::ostream& out) const;

private:
    std::string mName;
    int mSubKeyCount = 0;
    SubKey* mFirst = nullptr;
    SubKey* mLast = nullptr;
};

class SubSection : public Private::Linked<SubSection> {
public:
    explicit SubSection(int line);
    ~SubSection();

    Key& operator[](const std::string& name);
    Key* NewKey(const std::string& name);
    SubKey* NewSubKey(const std::string& key, const std::string& value, int line);
    void CleanKeys();
    int GetLineNo() const { return mLineNo; }
    int GetKeyCount() const { return mKeyCount; }

    GenericIterator<Key> begin() const { return GenericIterator<Key>(mFirst); }
    GenericIterator<Key> end() const { return GenericIterator<Key>(); }
    void Dump(std::ostream& out) const;

private:
    int mLineNo;
    int mKeyCount = 0;
    Key* mFirst = nullptr;
    Key* mLast = nullptr;
    std::map<std::string, Key*> mIndex;
};

class Section : public Private::Linked<Section> {
public:
    explicit Section(const std::string& name);
    ~Section();

    const std::string& GetName() const { return mName; }
    SubSection* NewSubSection(int line);
    void CleanSubSections();
    void CheckEmpty();
    int GetSubSectionCount() const { return mSubSectionCount; }

    GenericIterator<SubSection> begin() const { return GenericIterator<SubSection>(mFirst); }
    GenericIterator<SubSection> end() const { return GenericIterator<SubSection>(); }
    void Dump(std::ostream& out) const;

private:
    std::string mName;
    int mSubSectionCount = 0;
    SubSection* mFirst = nullptr;
    SubSection* mLast = nullptr;
};

class File {
public:
    File();
    explicit File(const std::string& path);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool Open(const std::string& path);
    void IntOpen();
    void IntOpenStream(std::istream& in);
    void Close();
    void Sync() {}

    bool IsOpen() const { return mOpen; }
    const std::string& GetFileName() const { return mFileName; }
    int GetSectionCount() const { return mSectionCount; }

    Section& operator[](const std::string& name);
    Section* NewSection(const std::string& name);
    SubSection* NewSubSection(const std::string& name, int line);
    void CleanSections();

    GenericIterator<Section> begin() const { return GenericIterator<Section>(mFirst); }
    GenericIterator<Section> end() const { return GenericIterator<Section>(); }
    void Dump(std::ostream& out) const;

    friend std::istream& operator>>(std::istream& in, File& file);

private:
    std::string mFileName;
    bool mOpen = false;
    int mSectionCount = 0;
    Section* mFirst = nullptr;
    Section* mLast = nullptr;
    std::map<std::string, Section*> mIndex;
};

std::istream& operator>>(std::istream& in, File& file);

} // namespace IniFile
