#pragma once

// The process's open descriptors and resident set, for the checks and
// benchmarks that cycle slots and must leave nothing behind.

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
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

// What `draw` gives in a child forked from this process, as a restarted
// daemon would give it; 0 when the child does not answer within 3 s.
template <class F>
uint32_t InChild(F draw)
{
    int ends[2];
    if (::pipe(ends) != 0)
        return 0;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const uint32_t v = draw();
        _exit(::write(ends[1], &v, sizeof v) == sizeof v ? 0 : 1);
    }
    ::close(ends[1]);
    uint32_t v = 0;
    pollfd p = {ends[0], POLLIN, 0};
    if (pid < 0 || ::poll(&p, 1, 3000) != 1 || ::read(ends[0], &v, sizeof v) != sizeof v)
        v = 0;
    ::close(ends[0]);
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return v;
}

} // namespace test
