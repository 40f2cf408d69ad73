// Stand-in for the programs the daemon starts (pppd, fax): records what it
// was given and ends as the environment tells it.
//   STANDIN_CHILD_RECORD  file to write: one "arg: " line per argument, then
//                         "fd0: ", "fd1: ", "fd2: " with what each names, and
//                         "other: " with any further open descriptor
//   STANDIN_CHILD_EXIT    exit code (default 0)
//   STANDIN_CHILD_HUP     "ignore": SIGHUP is ignored; "wait": waits for a signal

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Target(const std::string& link)
{
    char buf[512];
    ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return "closed";
    buf[n] = 0;
    return buf;
}

void Record(const char* path, int argc, char** argv)
{
    std::string tmp = std::string(path) + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return;
    for (int i = 0; i < argc; ++i)
        std::fprintf(f, "arg: %s\n", argv[i]);
    for (int fd = 0; fd < 3; ++fd)
        std::fprintf(f, "fd%d: %s\n", fd, Target("/proc/self/fd/" + std::to_string(fd)).c_str());
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        const int own[] = {::dirfd(dir), ::fileno(f)};
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            int fd = std::atoi(entry->d_name);
            if (fd > 2 && fd != own[0] && fd != own[1])
                std::fprintf(f, "other: %d %s\n", fd, Target(std::string("/proc/self/fd/") + entry->d_name).c_str());
        }
        ::closedir(dir);
    }
    std::fclose(f);
    std::rename(tmp.c_str(), path);
}

} // namespace

int main(int argc, char** argv)
{
    const char* hup = std::getenv("STANDIN_CHILD_HUP");
    if (hup && std::strcmp(hup, "ignore") == 0)
        ::signal(SIGHUP, SIG_IGN);
    if (const char* record = std::getenv("STANDIN_CHILD_RECORD"))
        Record(record, argc, argv);
    if (hup)
        for (;;)
            ::pause();
    const char* code = std::getenv("STANDIN_CHILD_EXIT");
    return code ? std::atoi(code) : 0;
}
