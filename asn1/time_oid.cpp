// GeneralizedTime and OBJECT IDENTIFIER.
#include "asn1/asn1.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>

namespace ASN1 {

const GeneralizedTime::InfoType GeneralizedTime::theInfo = {&GeneralizedTime::create, 24};
const OBJECT_IDENTIFIER::InfoType OBJECT_IDENTIFIER::theInfo = {&OBJECT_IDENTIFIER::create, 6};

// ---------------------------------------------------------------- GeneralizedTime

GeneralizedTime::GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec,
                                 int mindiff, bool utc)
    : AbstractData(&theInfo), year_(year), month_(month), day_(day), hour_(hour), minute_(minute),
      second_(second), millisec_(millisec), mindiff_(mindiff), utc_(utc)
{
}

void GeneralizedTime::swap(GeneralizedTime& other)
{
    GeneralizedTime tmp(*this);
    *this = other;
    other = tmp;
}

void GeneralizedTime::set(char const* text)
{
    if (!text)
        return;
    int f[6] = {year_, month_, day_, hour_, minute_, second_};
    int r = std::sscanf(text, "%4d%2d%2d%2d%2d%2d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
    (void)r; // fields not read keep their values
    year_ = f[0];
    month_ = f[1];
    day_ = f[2];
    hour_ = f[3];
    minute_ = f[4];
    second_ = f[5];

    std::size_t len = std::strlen(text);
    if (len > 14 && text[14] == '.') {
        // whole milliseconds, truncated
        int ms = 0, weight = 100;
        for (char const* p = text + 15; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
            ms += (*p - '0') * weight;
            weight /= 10;
        }
        millisec_ = ms;
    }
    if (len > 0 && text[len - 1] == 'Z') {
        utc_ = true;
    } else if (len >= 5 && (text[len - 5] == '+' || text[len - 5] == '-')) {
        char const* d = text + len - 4;
        bool digits = true;
        for (int i = 0; i < 4; ++i)
            digits = digits && std::isdigit(static_cast<unsigned char>(d[i]));
        // minutes of 60 or more would not print back as written
        if (digits && d[2] < '6') {
            int minutes = ((d[0] - '0') * 10 + (d[1] - '0')) * 60 + (d[2] - '0') * 10 + (d[3] - '0');
            mindiff_ = text[len - 5] == '-' ? -minutes : minutes;
        }
    }
}

std::string GeneralizedTime::get() const
{
    char buf[160];
    int n = std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", year_, month_, day_, hour_, minute_, second_);
    std::string s(buf, static_cast<std::size_t>(n));
    if (millisec_ != 0) {
        n = std::snprintf(buf, sizeof buf, ".%03d", millisec_);
        s.append(buf, static_cast<std::size_t>(n));
    }
    if (utc_) {
        s += 'Z';
    } else if (mindiff_ != 0) {
        long a = mindiff_ < 0 ? -long(mindiff_) : long(mindiff_);
        n = std::snprintf(buf, sizeof buf, "%c%02ld%02ld", mindiff_ < 0 ? '-' : '+', a / 60, a % 60);
        s.append(buf, static_cast<std::size_t>(n));
    }
    return s;
}

std::time_t GeneralizedTime::get_time_t() const
{
    std::tm t{};
    t.tm_year = year_ - 1900;
    t.tm_mon = month_ - 1;
    t.tm_mday = day_;
    t.tm_hour = hour_;
    t.tm_min = minute_;
    t.tm_sec = second_;
    t.tm_isdst = -1; // let the library decide
    return std::mktime(&t);
}

void GeneralizedTime::set_time_t(std::time_t tt)
{
    std::tm t{};
    if (!gmtime_r(&tt, &t))
        return;
    year_ = t.tm_year + 1900;
    month_ = t.tm_mon + 1;
    day_ = t.tm_mday;
    hour_ = t.tm_hour;
    minute_ = t.tm_min;
    second_ = t.tm_sec;
}

bool GeneralizedTime::isStrictlyValid() const
{
    return year_ > 0 && month_ >= 1 && month_ <= 12 && day_ >= 1 && day_ <= 31 && hour_ >= 0 && hour_ <= 24 &&
           minute_ >= 0 && minute_ <= 59 && second_ >= 0 && second_ <= 59 && millisec_ >= 0 && millisec_ <= 999 &&
           mindiff_ >= -720 && mindiff_ <= 720;
}

int GeneralizedTime::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<GeneralizedTime const*>(&other);
    if (!o)
        return foreignCompare(other);
    int const a[] = {year_, month_, day_, hour_, minute_, second_, millisec_};
    int const b[] = {o->year_, o->month_, o->day_, o->hour_, o->minute_, o->second_, o->millisec_};
    for (int i = 0; i < 7; ++i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return int(utc_) - int(o->utc_);
}

AbstractData* GeneralizedTime::do_clone() const { return cloneAs(*this); }

// ---------------------------------------------------------------- OBJECT IDENTIFIER

namespace {
void putSubidentifier(std::vector<char>& out, std::uint64_t v)
{
    char groups[10];
    int n = 0;
    do {
        groups[n++] = static_cast<char>(v & 0x7F);
        v >>= 7;
    } while (v);
    while (n > 1)
        out.push_back(static_cast<char>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}
} // namespace

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const
{
    if (arcs_.size() < 2)
        return;
    // The first subidentifier may exceed 32 bits (2.4294967295).
    putSubidentifier(out, std::uint64_t(arcs_[0]) * 40 + arcs_[1]);
    for (std::size_t i = 2; i < arcs_.size(); ++i)
        putSubidentifier(out, arcs_[i]);
}

bool OBJECT_IDENTIFIER::decodeCommon(char const* p, unsigned n)
{
    constexpr std::uint64_t arcMax = std::numeric_limits<unsigned>::max();
    arcs_.clear();
    std::uint64_t v = 0;
    bool inSub = false;
    for (unsigned i = 0; i < n; ++i) {
        auto octet = static_cast<unsigned char>(p[i]);
        v = (v << 7) | (octet & 0x7F);
        inSub = true;
        if (v > arcMax + 80) { // no arc can hold it
            arcs_.clear();
            return false;
        }
        if (octet & 0x80)
            continue;
        inSub = false;
        if (arcs_.empty()) {
            if (v < 40) {
                arcs_.push_back(0);
                arcs_.push_back(static_cast<unsigned>(v));
            } else if (v < 80) {
                arcs_.push_back(1);
                arcs_.push_back(static_cast<unsigned>(v - 40));
            } else {
                arcs_.push_back(2);
                arcs_.push_back(static_cast<unsigned>(v - 80));
            }
        } else {
            if (v > arcMax) {
                arcs_.clear();
                return false;
            }
            arcs_.push_back(static_cast<unsigned>(v));
        }
        v = 0;
    }
    if (inSub) {
        arcs_.clear();
        return false;
    }
    return true;
}

int OBJECT_IDENTIFIER::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<OBJECT_IDENTIFIER const*>(&other);
    if (!o)
        return foreignCompare(other);
    std::size_t n = std::min(arcs_.size(), o->arcs_.size());
    for (std::size_t i = 0; i < n; ++i)
        if (arcs_[i] != o->arcs_[i])
            return arcs_[i] < o->arcs_[i] ? -1 : 1;
    return arcs_.size() < o->arcs_.size() ? -1 : arcs_.size() > o->arcs_.size() ? 1 : 0;
}

AbstractData* OBJECT_IDENTIFIER::do_clone() const { return cloneAs(*this); }

} // namespace ASN1
