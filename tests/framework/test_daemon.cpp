#include "framework/daemon.h"
#include "framework/syslog_manager.h"
#include "framework/version.h"

#include "files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string hour_file_name()
{
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    char name[32];
    strftime(name, sizeof name, "%Y_%m_%d-%H.log", &tm);
    return name;
}

// Checks the "mm:ss:uuuuu: " prefix of each line and returns the lines' texts.
std::vector<std::string> strip_prefixes(const std::string& content)
{
    std::vector<std::string> texts;
    std::istringstream in(content);
    std::string line;
    while (std::getline(in, line)) {
        const size_t end = line.find(": ");
        bool ok = end == 11 || end == 12;
        for (size_t i = 0; ok && i < end; ++i)
            ok = (i == 2 || i == 5) ? line[i] == ':' : (line[i] >= '0' && line[i] <= '9');
        if (!ok) {
            ADD_FAILURE() << "bad prefix: " << line;
            continue;
        }
        texts.push_back(line.substr(end + 2));
    }
    return texts;
}

// True when this process holds the file open and only close-on-exec.
bool held_close_on_exec(const std::string& path)
{
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real))
        return false;
    bool held = false;
    for (const std::string& fd : dir_entries("/proc/self/fd")) {
        char target[PATH_MAX];
        const ssize_t n = readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target);
        if (n <= 0 || std::string(target, static_cast<size_t>(n)) != real)
            continue;
        held = true;
        if (!(fcntl(std::stoi(fd), F_GETFD) & FD_CLOEXEC))
            return false;
    }
    return held;
}

// Waits (bounded) until every holder of the pipe's write end has gone.
bool wait_eof(int fd, int timeout_ms)
{
    pollfd p{fd, POLLIN, 0};
    char c;
    while (poll(&p, 1, timeout_ms) == 1) {
        if (read(fd, &c, 1) <= 0)
            return true;
    }
    return false;
}

TEST(PidFile, WrittenAndRemoved)
{
    TempDir dir;
    Linux::Run::set_dir_for_test(dir.path);
    const mode_t oldMask = umask(077);
    const std::string path = dir.path + "/server.pid";
    auto exists = [&] { return access(path.c_str(), F_OK) == 0; };
    {
        Linux::Run run("server");
        EXPECT_EQ(run.path(), path);
        EXPECT_EQ(read_file(path), std::to_string(getpid()));
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u);

        // A forked child running the destructor leaves the file in place.
        pid_t child = fork();
        if (child == 0) {
            run.~Run();
            _exit(exists() ? 0 : 1);
        }
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(exists());
    }
    umask(oldMask);
    EXPECT_FALSE(exists());

    // An older file is overwritten.
    {
        std::ofstream(path) << "999999999\n";
        Linux::Run run("server");
        EXPECT_EQ(read_file(path), std::to_string(getpid()));
    }
    EXPECT_FALSE(exists());

    // So is one naming a live process of another program (our parent).
    {
        std::ofstream(path) << getppid();
        EXPECT_EQ(Linux::Run::Holder("server"), 0);
        Linux::Run run("server");
        EXPECT_FALSE(run.refused());
        EXPECT_EQ(read_file(path), std::to_string(getpid()));
    }

    // One naming another live process of this program refuses this one and
    // stays as it was, also when the refused instance goes.
    pid_t twin = fork();
    if (twin == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(twin, 0);
    std::ofstream(path) << twin;
    {
        EXPECT_EQ(Linux::Run::Holder("server"), twin);
        Linux::Run run("server");
        EXPECT_TRUE(run.refused());
        EXPECT_EQ(run.holder(), twin);
    }
    EXPECT_EQ(read_file(path), std::to_string(twin));
    kill(twin, SIGKILL);
    waitpid(twin, nullptr, 0);
    // Once it has gone, the file is stale and taken over.
    EXPECT_EQ(Linux::Run::Holder("server"), 0);
    unlink(path.c_str());

    // A directory that cannot take the file: reported, nothing written,
    // nothing removed.
    Linux::Run::set_dir_for_test(dir.path + "/missing");
    {
        std::ostringstream errors;
        std::streambuf* old = std::cerr.rdbuf(errors.rdbuf());
        { Linux::Run run("server"); }
        std::cerr.rdbuf(old);
        EXPECT_EQ(errors.str(), "pid file " + dir.path + "/missing/server.pid not written: " + strerror(ENOENT) + "\n");
    }
    Linux::Run::set_dir_for_test("/var/run");
    EXPECT_TRUE(dir_entries(dir.path).empty());
}

TEST(LogFileStreamBuf, HourlyFileLinePrefixAndCallersBuffer)
{
    TempDir dir;
    const std::string name = hour_file_name();
    // A restart within the hour keeps the lines already there.
    std::ofstream(dir.path + "/" + name) << "earlier run\n";
    char own[8];
    {
        LogFileStreamBuf buf(dir.path);
        // Programs the daemon starts do not inherit the log file.
        EXPECT_TRUE(held_close_on_exec(dir.path + "/" + name));
        std::ostream os(&buf);
        os << "abc" << std::flush << "def" << std::flush << "\n" << std::flush;
        os << "two\nlines past the put area\n" << std::flush;
        // Pending text survives a change to a caller's buffer, which is
        // not freed; the destructor writes what is left.
        os << "unfl";
        buf.pubsetbuf(own, sizeof own);
        os << "ushed and longer";
    }
    if (name != hour_file_name())
        GTEST_SKIP() << "the hour changed meanwhile";
    EXPECT_EQ(dir_entries(dir.path), std::vector<std::string>{name});
    const std::string content = read_file(dir.path + "/" + name);
    ASSERT_EQ(content.compare(0, 12, "earlier run\n"), 0) << content;
    EXPECT_EQ(strip_prefixes(content.substr(12)),
              (std::vector<std::string>{"abcdef", "two", "lines past the put area", "unflushed and longer"}));
}

TEST(FindProcByName, FindsAStartedProcess)
{
    // Parentheses and blanks in the name must not confuse the stat parser.
    const std::string name = "fp) (" + std::to_string(getpid() % 100000);
    int ready[2], hold[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(hold), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        close(hold[1]);
        prctl(PR_SET_NAME, name.c_str());
        if (write(ready[1], "x", 1) != 1)
            _exit(1);
        pollfd p{hold[0], POLLIN, 0};
        poll(&p, 1, 60000);
        _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    pollfd p{ready[0], POLLIN, 0};
    char c;
    ASSERT_EQ(poll(&p, 1, 10000), 1);
    ASSERT_EQ(read(ready[0], &c, 1), 1);

    EXPECT_EQ(find_proc_by_name(name.c_str(), 0), child);
    EXPECT_EQ(find_proc_by_name(name.c_str(), child), child);
    EXPECT_EQ(find_proc_by_name(name.c_str(), getpid()), child);
    EXPECT_EQ(find_proc_by_name(name.c_str(), 999999999), child);
    EXPECT_EQ(find_proc_by_name((name + "x").c_str(), child), -1);
    EXPECT_EQ(find_proc_by_name(name.substr(0, 3).c_str(), 0), -1);

    close(hold[1]);
    close(ready[0]);
    int status;
    waitpid(child, &status, 0);
}

// Runs body in a detached grandchild; returns when it has ended.
template <class Body>
void run_detached(Body body)
{
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(done[0]);
        body();
        _exit(3);
    }
    close(done[1]);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // The detaching parent leaves with 0.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(wait_eof(done[0], 20000));
    close(done[0]);
}

TEST(DaemonInit, SystemLogMode)
{
    LogSink sink;
    ASSERT_GE(sink.fd, 0);
    run_detached([&] {
        syslogManager.set_path_for_test(sink.path.c_str());
        Daemon::Params params;
        params.mName = "kmx-" + std::string(Version::current.tag());
        Daemon::Init(params);
        const int first = getpid();
        Daemon::Init(params);
        std::cout << "pid " << first << " " << getpid() << std::endl;
        std::cerr << "error %s %n" << std::endl;
        std::clog << "debug" << std::endl;
        std::cout << "cloexec " << (fcntl(1, F_GETFD) & FD_CLOEXEC) << " "
                  << (fcntl(2, F_GETFD) & FD_CLOEXEC) << " "
                  << (fcntl(syslogManager.fd(), F_GETFD) & FD_CLOEXEC) << std::endl;
        if (write(1, "raw", 3) != 3)
            _exit(4);
        _exit(0);
    });

    std::vector<std::string> got = sink.all();
    ASSERT_EQ(got.size(), 5u);
    const std::string ident = "kmx-" + std::string(Version::current.tag()) + ": ";
    auto text_of = [&](const std::string& d, const char* pri) {
        EXPECT_EQ(d.compare(0, strlen(pri), pri), 0) << d;
        EXPECT_EQ(d.back(), '\0');
        size_t at = d.find(ident);
        return at == std::string::npos ? d : d.substr(at + ident.size(), d.size() - at - ident.size() - 1);
    };
    std::istringstream pids(text_of(got[0], "<29>"));
    std::string word;
    int first = 0, second = -1;
    pids >> word >> first >> second;
    EXPECT_EQ(word, "pid");
    EXPECT_EQ(first, second) << "detached twice";
    EXPECT_EQ(text_of(got[1], "<27>"), "error %s %n");
    EXPECT_EQ(text_of(got[2], "<31>"), "debug");
    EXPECT_EQ(text_of(got[3], "<29>"), "cloexec 1 1 1");
    EXPECT_EQ(got[4], "raw");
}

TEST(DaemonInit, HourlyFileMode)
{
    TempDir dir;
    run_detached([&] {
        Daemon::Params params;
        params.mMode = 1;
        params.mName = dir.path;
        Daemon::Init(params);
        std::cout << "out" << std::endl;
        std::cerr << "err" << std::endl;
        std::clog << "log" << std::endl;
        // Static destruction closes the file.
        std::exit(0);
    });
    const std::vector<std::string> names = dir_entries(dir.path);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(strip_prefixes(read_file(dir.path + "/" + names[0])), (std::vector<std::string>{"out", "err", "log"}));
}

} // namespace
