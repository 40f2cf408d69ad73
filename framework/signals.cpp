#include "framework/signals.h"

namespace IPC {

Signal::Set::Set()
{
    sigemptyset(&mSet);
}

Signal::Set::Set(int a, int b) : Set()
{
    add(a);
    add(b);
}

Signal::Set::Set(int a, int b, int c) : Set(a, b)
{
    add(c);
}

void Signal::Set::add(int sig)
{
    sigaddset(&mSet, sig);
}

bool Signal::Set::is_signal(int sig)
{
    sigset_t empty;
    sigemptyset(&empty);
    return sigismember(&empty, sig) >= 0;
}

static int install(int sig, struct sigaction& sa, Signal::Set const& mask, int flags)
{
    mask.copy_to(sa.sa_mask);
    sa.sa_flags = flags;
    return sigaction(sig, &sa, nullptr);
}

int Signal::handle(int sig, Handler fn, Set const& mask, int flags)
{
    struct sigaction sa = {};
    sa.sa_handler = fn;
    return install(sig, sa, mask, flags & ~SA_SIGINFO);
}

int Signal::handle(int sig, InfoHandler fn, Set const& mask, int flags)
{
    struct sigaction sa = {};
    sa.sa_sigaction = fn;
    return install(sig, sa, mask, flags | SA_SIGINFO);
}

int Signal::handle(int sig, Handler fn, int flags)
{
    return handle(sig, fn, Set(), flags);
}

int Signal::handle(int sig, InfoHandler fn, int flags)
{
    return handle(sig, fn, Set(), flags);
}

int Signal::ignore(int sig)
{
    return handle(sig, SIG_IGN, 0);
}

int Signal::system(int sig)
{
    return handle(sig, SIG_DFL, 0);
}

// What siginterrupt does, without the deprecated call: toggle SA_RESTART
// on the installed action.
static int set_restart(int sig, bool restart)
{
    struct sigaction sa;
    if (sigaction(sig, nullptr, &sa) < 0)
        return -1;
    if (restart)
        sa.sa_flags |= SA_RESTART;
    else
        sa.sa_flags &= ~SA_RESTART;
    return sigaction(sig, &sa, nullptr);
}

int Signal::disable_int(int sig)
{
    return set_restart(sig, true);
}

int Signal::enable_int(int sig)
{
    return set_restart(sig, false);
}

} // namespace IPC
