// Signal installation through sigaction.
#pragma once

#include <csignal>

namespace IPC {

class Signal
{
public:
    typedef void (*Handler)(int);
    typedef void (*InfoHandler)(int, siginfo_t*, void*);

    // A set of signals, empty unless signals are given.
    class Set
    {
    public:
        Set();
        Set(int a, int b);
        Set(int a, int b, int c);

        void add(int sig);
        void copy_to(sigset_t& out) const { out = mSet; }
        // True for a valid signal number.
        static bool is_signal(int sig);

    private:
        sigset_t mSet;
    };

    // Each returns sigaction's result. The one-argument handler form never
    // carries SA_SIGINFO, the three-argument form always does.
    static int handle(int sig, Handler fn, Set const& mask, int flags);
    static int handle(int sig, InfoHandler fn, Set const& mask, int flags);
    static int handle(int sig, Handler fn, int flags);
    static int handle(int sig, InfoHandler fn, int flags);

    static int ignore(int sig);
    // Back to the system's default action.
    static int system(int sig);

    // Calls interrupted by sig are restarted (disable_int) or fail with
    // EINTR (enable_int).
    static int disable_int(int sig);
    static int enable_int(int sig);
};

} // namespace IPC
