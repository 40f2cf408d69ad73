#include "framework/version.h"

#include <ostream>

// The build fills these in; a plain compile still links.
#ifndef VERSION_BUILDER
#define VERSION_BUILDER "unknown"
#endif
#ifndef VERSION_DATE
#define VERSION_DATE "unknown"
#endif
#ifndef VERSION_TAG
#define VERSION_TAG "unknown"
#endif
#ifndef VERSION_ARCH
#define VERSION_ARCH "unknown"
#endif

Version::Version(Type type, int number, const char* extra, const char* builder, const char* date,
                 const char* tag, const char* arch)
    : mType(type), mNumber(number), mExtra(extra), mBuilder(builder), mDate(date), mTag(tag),
      mArch(arch)
{
    update();
}

const Version Version::current(Version::Snapshot, 0, "", VERSION_BUILDER, VERSION_DATE, VERSION_TAG,
                               VERSION_ARCH);

void Version::put(std::ostream& out) const
{
    out << mTag;
}

std::ostream& operator<<(std::ostream& out, const Version& v)
{
    v.put(out);
    return out;
}

std::ostream& operator<<(std::ostream& out, Version::Type type)
{
    return out << version_string(type);
}

const char* version_string(Version::Type type)
{
    switch (type) {
    case Version::Snapshot: return "snapshot";
    case Version::Test: return "test";
    case Version::Release: return "release";
    case Version::UnitTest: return "unit-test";
    }
    return "unknown";
}

const char* version_suffix(Version::Type type)
{
    switch (type) {
    case Version::Snapshot: return "S";
    case Version::Test: return "T";
    case Version::Release: return "R";
    case Version::UnitTest: return "T";
    }
    return "U";
}
