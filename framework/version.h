// The build's version record; its tag is what log lines and the daemon's
// system-log identity show.
#pragma once

#include <iosfwd>

class Version {
public:
    enum Type : int { Snapshot = 0, Test = 1, Release = 2, UnitTest = 3 };

    Version(Type type, int number, const char* extra, const char* builder, const char* date,
            const char* tag, const char* arch);

    void update() {}
    void put(std::ostream& out) const;
    const char* tag() const { return mTag; }

    static const Version current;

    Type mType;
    int mNumber;
    const char* mExtra;
    const char* mBuilder;
    const char* mDate;
    const char* mTag;
    const char* mArch;
};

std::ostream& operator<<(std::ostream& out, const Version& v);
std::ostream& operator<<(std::ostream& out, Version::Type type);
const char* version_string(Version::Type type);
const char* version_suffix(Version::Type type);
