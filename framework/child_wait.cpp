#include "framework/child_wait.h"

#include "framework/signals.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>

#include <cerrno>
#include <iostream>

unsigned ChildWait::UsageCounter = 0;
ChildWaitService* ChildWaitService::childWaitService = nullptr;

ChildWait::Init::Init()
{
    if (++UsageCounter == 1)
        ChildWait::Initialize();
}

ChildWait::Init::~Init()
{
    if (--UsageCounter == 0)
        ChildWait::Cleanup();
}

ChildWait::~ChildWait()
{
    handler->~Handler();
    Detach();
}

void ChildWait::Attach(int child)
{
    pid = child;
    if (ChildWaitService::childWaitService)
        ChildWaitService::childWaitService->Attach(this);
}

void ChildWait::Detach()
{
    if (ChildWaitService::childWaitService)
        ChildWaitService::childWaitService->Detach(this);
}

bool ChildWait::Kill(int signal) const
{
    if (!listed || pid <= 0)
        return false;
    // SIGCHLD held: the service cannot reap the child between the look and
    // the signal.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    siginfo_t info;
    info.si_pid = 0;
    const bool running = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0
                         && info.si_pid == 0;
    const bool sent = running && ::kill(pid, signal) == 0;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return sent;
}

void ChildWait::Initialize()
{
    ChildWaitService::childWaitService = new ChildWaitService;
}

void ChildWait::Cleanup()
{
    ChildWaitService* s = ChildWaitService::childWaitService;
    ChildWaitService::childWaitService = nullptr;
    delete s;
}

void ChildWait::Activate()
{
    if (ChildWaitService::childWaitService)
        ChildWaitService::childWaitService->Activate();
}

ChildWaitService::~ChildWaitService()
{
    event.Release();
    writer.close();
}

void ChildWaitService::Activate()
{
    if (writer.is_valid())
        return;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0) {
        std::cerr << "ChildWaitService: initialize fails" << std::endl;
        return;
    }
    // Both ends non-blocking: the signal handler must never wait for room.
    writer = Fd(pair[0]);
    writer.NonBlock();
    event.Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, this);
    Fd reader(pair[1]);
    reader.NonBlock();
    if (!event.Schedule(reader, POLLIN)) {
        const Errno cause;
        std::cerr << "child watch not started: " << cause << std::endl;
    }
    IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, IPC::Signal::Set(), SA_RESTART);
}

void ChildWaitService::Attach(ChildWait* watch)
{
    if (watch->listed)
        watches.remove(watch);
    watches.insert_to_tail(watch);
    watch->listed = true;
}

void ChildWaitService::Detach(ChildWait* watch)
{
    if (!watch->listed)
        return;
    watches.remove(watch);
    watch->listed = false;
}

void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*)
{
    const int saved = errno;
    if (childWaitService)
        childWaitService->SigChldHandler();
    errno = saved;
}

void ChildWaitService::SigChldHandler()
{
    collect();
}

bool ChildWaitService::send(const Record& r)
{
    if (!writer.is_valid())
        return true; // nobody to tell: dropped as before activation
    Record copy = r;
    iovec parts[2] = {{&copy.pid, sizeof copy.pid}, {&copy.status, sizeof copy.status}};
    return ::writev(writer.lowlevel_fd(), parts, 2) == static_cast<ssize_t>(sizeof(Record));
}

bool ChildWaitService::collect()
{
    bool sent = false;
    while (backlog_count > 0 && send(backlog[backlog_head])) {
        backlog_head = (backlog_head + 1) % Backlog;
        --backlog_count;
        sent = true;
    }
    while (backlog_count < Backlog) {
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, WNOHANG);
        if (pid <= 0)
            break;
        const Record r{pid, status};
        if (backlog_count == 0 && send(r)) {
            sent = true;
            continue;
        }
        backlog[(backlog_head + backlog_count) % Backlog] = r;
        ++backlog_count;
    }
    return sent;
}

void ChildWaitService::OnChildEvent(int fd, short revents)
{
    if (!(revents & POLLIN))
        return;
    for (;;) {
        Record r;
        iovec parts[2] = {{&r.pid, sizeof r.pid}, {&r.status, sizeof r.status}};
        if (::readv(fd, parts, 2) == static_cast<ssize_t>(sizeof(Record))) {
            std::clog << "terminate child process, pid=" << r.pid << " status=" << r.status << std::endl;
            ChildWait* match = nullptr;
            for (auto it = watches.begin(); it != watches.end(); ++it)
                if ((*it)->pid == r.pid) {
                    match = *it;
                    break;
                }
            if (match) {
                Detach(match);
                match->handler->Invoke(*match, r.status);
            }
            continue;
        }
        // Drained: move what the signal handler could not send (or did not
        // reap) into the now empty pair, with SIGCHLD held off meanwhile.
        sigset_t block, old;
        sigemptyset(&block);
        sigaddset(&block, SIGCHLD);
        pthread_sigmask(SIG_BLOCK, &block, &old);
        const bool more = collect();
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        if (!more)
            return;
    }
}
