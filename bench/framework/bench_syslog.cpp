// Log lines through the system-log client against the C library's syslog(3),
// both sending to one socket that this benchmark binds at /dev/log.
//
// syslog(3) always talks to /dev/log, so the benchmark first moves into a
// private mount namespace and mounts an empty tmpfs over /dev there (the
// machine's /dev and its log daemon, if any, are never touched; a few
// device nodes are bound back for the rest of the process). A thread drains
// the socket and counts datagrams; a marker datagram sent after each run
// tells when everything before it has arrived. Needs root (CAP_SYS_ADMIN).
#include "framework/syslog_manager.h"

#include <benchmark/benchmark.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kMarker[] = "end-of-run";

class LogSocket {
public:
    static LogSocket& get()
    {
        static LogSocket s;
        return s;
    }

    const std::string& error() const { return mError; }

    // Datagrams received since the last call, waiting for the marker first.
    long take()
    {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr = address();
        ::sendto(fd, kMarker, sizeof kMarker, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::close(fd);
        std::unique_lock<std::mutex> lock(mMutex);
        mDone.wait(lock, [this] { return mMarkers > 0; });
        --mMarkers;
        long n = mCount;
        mCount = 0;
        return n;
    }

private:
    LogSocket()
    {
        // A private namespace, so the mounts below are seen by no one else.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            mError = std::string("no private mount namespace: ") + std::strerror(errno);
            return;
        }
        char keep[] = "/tmp/bench_syslog_XXXXXX";
        if (!::mkdtemp(keep) || ::mount("/dev", keep, nullptr, MS_BIND, nullptr) != 0 ||
            ::mount("tmpfs", "/dev", "tmpfs", 0, "mode=755") != 0) {
            mError = std::string("cannot mount over /dev: ") + std::strerror(errno);
            return;
        }
        for (const char* node : {"null", "zero", "random", "urandom"}) {
            const std::string to = std::string("/dev/") + node;
            const std::string from = std::string(keep) + "/" + node;
            if (FILE* f = std::fopen(to.c_str(), "w"))
                std::fclose(f);
            ::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr);
        }
        ::umount2(keep, MNT_DETACH);
        ::rmdir(keep);

        mFd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr = address();
        if (::bind(mFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            mError = std::string("cannot bind /dev/log: ") + std::strerror(errno);
            return;
        }
        int size = 4 << 20;
        ::setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        std::thread([this] { drain(); }).detach();
    }

    static sockaddr_un address()
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, "/dev/log");
        return addr;
    }

    void drain()
    {
        std::vector<char> buf(1 << 17);
        for (;;) {
            ssize_t n = ::recv(mFd, buf.data(), buf.size(), 0);
            if (n < 0)
                continue;
            std::lock_guard<std::mutex> lock(mMutex);
            if (static_cast<size_t>(n) == sizeof kMarker && std::memcmp(buf.data(), kMarker, n) == 0) {
                ++mMarkers;
                mDone.notify_all();
            } else {
                ++mCount;
            }
        }
    }

    int mFd = -1;
    std::string mError;
    std::mutex mMutex;
    std::condition_variable mDone;
    long mCount = 0;
    int mMarkers = 0;
};

const std::string kLine = "ctrl [connected]: command create seq=1234 slot=17 rtp 10.1.2.3:4000 ok";

bool ready(benchmark::State& state)
{
    LogSocket& sock = LogSocket::get();
    if (!sock.error().empty()) {
        state.SkipWithError(sock.error().c_str());
        return false;
    }
    sock.take();
    return true;
}

void finish(benchmark::State& state, long lines)
{
    const long datagrams = LogSocket::get().take();
    state.SetItemsProcessed(lines);
    state.counters["dgrams_per_1000_lines"] =
        benchmark::Counter(lines ? 1000.0 * static_cast<double>(datagrams) / static_cast<double>(lines) : 0);
}

// Lines written to a stream on the client's stream buffer, flushed every
// 'per_flush' lines (1: each line ended with std::endl, as log lines are).
void BM_ClientStream(benchmark::State& state)
{
    if (!ready(state))
        return;
    const long per_flush = state.range(0);
    syslogManager.openlog("kmx-bench", SysLogManager::OptNDelay, LOG_DAEMON);
    long lines = 0;
    {
        ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_NOTICE);
        std::ostream os(&buf);
        for (auto _ : state) {
            for (long i = 0; i < per_flush; ++i)
                os << kLine << '\n';
            os.flush();
            lines += per_flush;
        }
    }
    syslogManager.closelog();
    finish(state, lines);
}
BENCHMARK(BM_ClientStream)->Arg(1)->Arg(16)->Arg(256);

// The C library's syslog(3): one datagram per line.
void BM_GlibcSyslog(benchmark::State& state)
{
    if (!ready(state))
        return;
    const long per_flush = state.range(0);
    ::openlog("kmx-bench", LOG_NDELAY, LOG_DAEMON);
    long lines = 0;
    for (auto _ : state) {
        for (long i = 0; i < per_flush; ++i)
            ::syslog(LOG_NOTICE, "%s", kLine.c_str());
        lines += per_flush;
    }
    ::closelog();
    finish(state, lines);
}
BENCHMARK(BM_GlibcSyslog)->Arg(1)->Arg(16)->Arg(256);

} // namespace
