#include "daemon_process.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace test {

namespace {

constexpr int kNoNamespace = 77;
// Bounds of the waits: 10 ms steps, 20 s at most.
constexpr int kStepUs = 10000;
constexpr int kSteps = 2000;

void BindOver(std::string const& from, char const* onto)
{
    struct stat st {};
    if (::stat(onto, &st) < 0 && ::mkdir(onto, 0755) < 0)
        _exit(kNoNamespace);
    if (::mount(from.c_str(), onto, nullptr, MS_BIND, nullptr) < 0)
        _exit(kNoNamespace);
}

} // namespace

DaemonProcess::DaemonProcess()
{
    char root[] = "/tmp/daemonXXXXXX";
    if (::mkdtemp(root))
        mRoot = root;
    for (char const* dir : {"/run", "/log", "/etc"})
        ::mkdir((mRoot + dir).c_str(), 0755);
}

DaemonProcess::~DaemonProcess()
{
    if (mPid > 0) {
        ::kill(mPid, SIGKILL);
        ::waitpid(mPid, nullptr, 0);
    }
    std::string cmd = "rm -rf '" + mRoot + "'";
    if (!mRoot.empty() && std::system(cmd.c_str()) != 0)
        return;
}

bool DaemonProcess::Start(std::vector<std::string> args, std::string const& config)
{
    if (!config.empty())
        std::ofstream(mRoot + "/etc/server.conf") << config;
    mPid = ::fork();
    if (mPid < 0)
        return false;
    if (mPid == 0) {
        if (::unshare(CLONE_NEWNS) < 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) < 0)
            _exit(kNoNamespace);
        BindOver(mRoot + "/run", "/var/run");
        BindOver(mRoot + "/log", "/var/log");
        BindOver(mRoot + "/etc", "/usr/local/etc");
        int out = ::open((mRoot + "/output").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> argv{const_cast<char*>(SERVER_BINARY)};
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(SERVER_BINARY, argv.data());
        _exit(127);
    }
    return true;
}

int DaemonProcess::Wait()
{
    for (int i = 0; i < kSteps && mPid > 0; ++i) {
        int status = 0;
        if (::waitpid(mPid, &status, WNOHANG) == mPid) {
            mPid = -1;
            return status;
        }
        ::usleep(kStepUs);
    }
    return -1;
}

bool DaemonProcess::WaitFor(std::string const& path)
{
    for (int i = 0; i < kSteps && mPid > 0; ++i) {
        if (::access(Path(path).c_str(), F_OK) == 0)
            return true;
        // A child that could not make its namespace ends at once.
        int status = 0;
        if (::waitpid(mPid, &status, WNOHANG) == mPid) {
            mPid = -1;
            mNoNamespace = WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace;
            return false;
        }
        ::usleep(kStepUs);
    }
    return false;
}

std::string DaemonProcess::Read(std::string const& path) const
{
    std::ifstream in(Path(path));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

unsigned short FreePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    unsigned short port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

} // namespace test
