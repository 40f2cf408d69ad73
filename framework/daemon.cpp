#include "framework/daemon.h"

#include "framework/syslog_manager.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <iostream>
#include <syslog.h>
#include <unistd.h>

namespace Daemon {

Sentry::Sentry(const Params& params) : mMode(params.mMode), mLogFile(nullptr)
{
    if (::daemon(params.mNochdir ? 1 : 0, 0) < 0) {
        std::cerr << "daemon() fail!" << std::endl;
        std::exit(2);
    }

    if (mMode == 0) {
        // The identity is cut at 79 characters.
        static char ident[80];
        std::snprintf(ident, sizeof ident, "%s", params.mName.c_str());
        syslogManager.openlog(ident, SysLogManager::OptNDelay, 0);
        std::cout.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_NOTICE));
        std::cerr.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_ERR));
        std::clog.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_DEBUG));
        std::cin.tie(&std::cout);
        // Raw writes to the standard descriptors reach the log too. They are
        // close-on-exec like every descriptor the daemon opens: whoever
        // starts a program chooses what it gets on 0, 1 and 2.
        const int fd = syslogManager.fd();
        if (fd >= 0) {
            for (int target : {STDOUT_FILENO, STDERR_FILENO}) {
                if (fd == target)
                    SetCloexec(target, true);
                else
                    ::dup3(fd, target, O_CLOEXEC);
            }
        }
    } else if (mMode == 1) {
        mLogFile = new LogFileStreamBuf(params.mName);
        std::cout.rdbuf(mLogFile);
        std::cerr.rdbuf(mLogFile);
        std::clog.rdbuf(mLogFile);
    }
}

Sentry::~Sentry()
{
    if (mMode == 1) {
        std::cout.rdbuf(nullptr);
        std::cerr.rdbuf(nullptr);
        std::clog.rdbuf(nullptr);
        delete mLogFile;
    }
}

void Init(const Params& params)
{
    static Sentry sentry(params);
}

} // namespace Daemon

// ---- hourly log files -----------------------------------------------------

namespace {
const size_t kLogPutArea = 16;
}

LogFileStreamBuf::LogFileStreamBuf(const std::string& dir)
    : mFile(nullptr), mDir(dir), mHour(-1), mMidLine(false)
{
    install(new char[kLogPutArea], kLogPutArea, true);
    NewFile();
}

LogFileStreamBuf::~LogFileStreamBuf()
{
    sync();
    delete mFile;
}

int LogFileStreamBuf::NewFile()
{
    delete mFile; // closes the file of the previous hour
    mFile = nullptr;
    const time_t now = ::time(nullptr);
    struct tm tm;
    ::localtime_r(&now, &tm);
    mHour = tm.tm_hour;
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y_%m_%d-%H", &tm);
    const std::string name = mDir + "/" + stamp + ".log";
    // Opened here rather than by the file buffer, so that programs the
    // daemon starts do not inherit it.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    mFile = new __gnu_cxx::stdio_filebuf<char>(fd, std::ios::out | std::ios::app);
    if (mFile->is_open())
        return 1;
    if (fd >= 0)
        ::close(fd);
    return 0;
}

std::streambuf* LogFileStreamBuf::setbuf(char* buffer, std::streamsize n)
{
    if (!buffer || n < 2)
        return this;
    sync();
    free_buffer();
    install(buffer, static_cast<size_t>(n), false);
    return this;
}

int LogFileStreamBuf::sync()
{
    if (!mBuffer)
        return 0;
    const char* p = pbase();
    const char* const end = pptr();
    setp(pbase(), epptr());
    if (p == end)
        return 0;

    if (mMidLine) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (!nl) {
            write(p, end - p);
            return 0;
        }
        write(p, nl + 1 - p);
        mMidLine = false;
        p = nl + 1;
        if (p == end)
            return 0;
    }

    timeval tv;
    ::gettimeofday(&tv, nullptr);
    struct tm tm;
    ::localtime_r(&tv.tv_sec, &tm);
    if (tm.tm_hour != mHour)
        NewFile();
    char prefix[32];
    const int plen = std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", tm.tm_min, tm.tm_sec,
                                   static_cast<long>(tv.tv_usec));

    while (p < end) {
        write(prefix, static_cast<size_t>(plen));
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (!nl) {
            write(p, end - p);
            mMidLine = true;
            return 0;
        }
        write(p, nl + 1 - p);
        p = nl + 1;
    }
    return 0;
}

// ---- processes by name ----------------------------------------------------

namespace {

// The command name of a process, as its stat file gives it.
bool proc_name(int pid, char* name, size_t size)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[256];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    text[n] = '\0';
    char* close = std::strrchr(text, ')');
    if (!close)
        return false;
    *close = '\0';
    const char* open = std::strchr(text, '(');
    if (!open)
        return false;
    std::snprintf(name, size, "%s", open + 1);
    return true;
}

bool proc_has_name(int pid, const char* name)
{
    char found[64];
    return proc_name(pid, found, sizeof found) && std::strcmp(found, name) == 0;
}

int entry_number(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || n <= 0 || n > INT_MAX)
        return 0;
    return static_cast<int>(n);
}

} // namespace

// ---- pid file -------------------------------------------------------------

namespace Linux {

namespace {
std::string& pid_dir()
{
    static std::string dir = "/var/run/";
    return dir;
}
} // namespace

void Run::set_dir_for_test(const std::string& dir)
{
    pid_dir() = dir.empty() || dir.back() == '/' ? dir : dir + "/";
}

Run::Run(const char* name) : mPath(pid_dir() + name + ".pid"), mOwner(::getpid()), mHolder(Holder(name))
{
    if (mHolder > 0)
        return;
    mFd = Fd(::open(mPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644));
    if (!mFd) {
        const Errno cause;
        std::cerr << "pid file " << mPath << " not written: " << cause << std::endl;
        return;
    }
    // The mode must not depend on the umask of whoever started the daemon.
    ::fchmod(mFd.lowlevel_fd(), 0644);
    char text[24];
    const int n = std::snprintf(text, sizeof text, "%d", static_cast<int>(mOwner));
    if (::write(mFd.lowlevel_fd(), text, static_cast<size_t>(n)) == n && ::fsync(mFd.lowlevel_fd()) == 0)
        return;
    const Errno cause;
    std::cerr << "pid file " << mPath << " not written: " << cause << std::endl;
}

pid_t Run::Holder(const char* name)
{
    const std::string path = pid_dir() + name + ".pid";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[24];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    const int pid = entry_number(text);
    char own[64];
    if (pid <= 0 || pid == ::getpid() || !proc_name(::getpid(), own, sizeof own))
        return 0;
    return proc_has_name(pid, own) ? pid : 0;
}

Run::~Run()
{
    if (!mFd)
        return;
    mFd.close();
    // A forked child that runs destructors must not take the parent's file away.
    if (::getpid() == mOwner)
        ::unlink(mPath.c_str());
}

} // namespace Linux

int find_proc_by_name(const char* name, int hint)
{
    if (hint > 0 && proc_has_name(hint, name))
        return hint;
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return -1;
    int found = -1;
    while (const dirent* entry = ::readdir(dir)) {
        const int pid = entry_number(entry->d_name);
        if (pid > 0 && proc_has_name(pid, name)) {
            found = pid;
            break;
        }
    }
    ::closedir(dir);
    return found;
}
