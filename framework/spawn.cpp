#include "framework/spawn.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace Spawn {

namespace {

// Runs in the child only: nothing here may return into the daemon's code.
[[noreturn]] void run_child(const char* path, char* const* argv, const Stdio& stdio, int failStatus)
{
    // Signals are held since the fork: a handler of the daemon run here
    // would take the signal meant to end the child, which would then run
    // the program regardless. Back to the defaults first, then let them in.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction action;
        if (::sigaction(sig, nullptr, &action) != 0)
            continue;
        if ((action.sa_flags & SA_SIGINFO) || (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN)) {
            action = {};
            action.sa_handler = SIG_DFL;
            ::sigaction(sig, &action, nullptr);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    // Each source is first moved above 2, so that one target never
    // overwrites a source that another target still needs (a channel that
    // is itself descriptor 0 or 1, say). The copies are close-on-exec; the
    // descriptors dup2 makes from them are not.
    const int sources[3] = {stdio.in, stdio.out, stdio.err};
    int moved[3];
    for (int i = 0; i < 3; ++i) {
        moved[i] = sources[i] >= 0 ? ::fcntl(sources[i], F_DUPFD_CLOEXEC, 3)
                                   : ::open("/dev/null", i == 0 ? O_RDONLY | O_CLOEXEC : O_WRONLY | O_CLOEXEC);
        if (moved[i] < 0)
            ::_exit(failStatus);
    }
    // Descriptors someone opened without close-on-exec do not reach the
    // program either (an older kernel without the flag leaves them as they are).
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    for (int i = 0; i < 3; ++i)
        if (::dup2(moved[i], i) < 0)
            ::_exit(failStatus);
    ::execv(path, argv);
    ::_exit(failStatus);
}

} // namespace

pid_t Start(const std::string& path, const std::vector<std::string>& argv, const Stdio& stdio, int failStatus)
{
    // Built before the fork: the child only makes system calls.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::fork();
    if (pid == 0)
        run_child(path.c_str(), args.data(), stdio, failStatus);
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return pid;
}

} // namespace Spawn
