// Stand-in for the board's T.38 program. It answers the instance query and,
// started for a slot, records how it was started and ends as the test that
// started it says, through its environment:
//   T38_STANDIN_COUNT  the line "--num-of-instances" prints; unset prints
//                      nothing, "hang" never answers
//   T38_STANDIN_LINGER set: it stays after printing the line
//   T38_STANDIN_DIR    where a slot's child writes the file named by its pid:
//                      "arg <text>" per argument, then "fd<n> <target>" for
//                      descriptors 1 to 3 ("-" when closed); it also writes
//                      "t38 <pid>" as one frame on its standard input, the
//                      channel
//   T38_STANDIN_EXIT   a slot's child ends at once: "N" exits with code N,
//                      "-N" kills itself with signal N; unset waits for a
//                      signal
//   T38_STANDIN_TERM   "ignore": a slot's child ignores SIGTERM, as a hung
//                      program does, from before it says hello

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string fd_target(int fd)
{
    char path[32];
    char target[256];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(path, target, sizeof target - 1);
    return n < 0 ? "-" : std::string(target, static_cast<size_t>(n));
}

void record(const char* dir, int argc, char** argv)
{
    std::string text;
    for (int i = 0; i < argc; ++i)
        text += std::string("arg ") + argv[i] + "\n";
    for (int fd = 1; fd <= 3; ++fd)
        text += "fd" + std::to_string(fd) + " " + fd_target(fd) + "\n";
    // Written under a temporary name and renamed: a reader sees all or nothing.
    const std::string name = std::string(dir) + "/" + std::to_string(::getpid());
    const std::string temp = name + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f)
        return;
    std::fputs(text.c_str(), f);
    std::fclose(f);
    std::rename(temp.c_str(), name.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--num-of-instances") == 0) {
        const char* count = std::getenv("T38_STANDIN_COUNT");
        if (count && std::strcmp(count, "hang") == 0)
            for (;;)
                ::pause();
        if (count)
            std::printf("%s\n", count);
        if (std::getenv("T38_STANDIN_LINGER")) {
            std::fflush(stdout);
            for (;;)
                ::pause();
        }
        return 0;
    }
    const char* term = std::getenv("T38_STANDIN_TERM");
    if (term && std::strcmp(term, "ignore") == 0)
        ::signal(SIGTERM, SIG_IGN);
    const std::string hello = "t38 " + std::to_string(::getpid());
    if (::write(0, hello.data(), hello.size()) < 0)
        std::perror("t38 stand-in: channel");
    if (const char* dir = std::getenv("T38_STANDIN_DIR"))
        record(dir, argc, argv);
    if (const char* end = std::getenv("T38_STANDIN_EXIT")) {
        const int n = std::atoi(end);
        if (n < 0)
            ::kill(::getpid(), -n);
        return n;
    }
    for (;;)
        ::pause();
}
