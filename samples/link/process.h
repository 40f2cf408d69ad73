#pragma once

// The process's open descriptors and resident set, for the checks and
// benchmarks that cycle slots and must leave nothing behind.

#include <dirent.h>

#include <cstddef>
#include <cstdio>

namespace test {

inline size_t OpenDescriptors()
{
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

// -1 when the kernel does not say.
inline long RssKiB()
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    std::fclose(f);
    return kib;
}

} // namespace test
