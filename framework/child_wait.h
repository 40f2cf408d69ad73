// Watch of child processes: SIGCHLD reaps them and the loop reports each
// exit to the watch of its pid.
#pragma once

#include "framework/event.h"
#include "framework/fd.h"
#include "framework/lists.h"

#include <csignal>
#include <cstddef>
#include <new>

class ChildWait : public F_dual_list_item<ChildWait>
{
public:
    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(ChildWait& watch, int status) = 0;
        // Handlers live inside their ChildWait.
        static void operator delete(void*) {}
        static void* operator new(std::size_t, void* where) { return where; }
    };

    class DummyHandler : public Handler
    {
    public:
        void Invoke(ChildWait&, int) override {}
    };

    template <class T>
    class THandler1 : public Handler
    {
    public:
        THandler1(T& o, void (T::*m)(int)) : object(&o), member(m) {}
        void Invoke(ChildWait&, int status) override { (object->*member)(status); }

    private:
        T* object;
        void (T::*member)(int);
    };

    // Counts the source files that use the watch; the service lives from
    // the first one's static construction to the last one's destruction.
    struct Init
    {
        Init();
        ~Init();
    };

    static unsigned UsageCounter;

    ChildWait() { handler = new (storage) DummyHandler; }
    ChildWait(const ChildWait&) = delete;
    ChildWait& operator=(const ChildWait&) = delete;
    ~ChildWait();

    template <class T>
    void Bind(T* object, void (T::*member)(int)) { rebind<THandler1<T>>(*object, member); }
    template <class T>
    void Bind(void (T::*member)(int), T* object) { rebind<THandler1<T>>(*object, member); }

    void Attach(int pid);
    void Detach();
    int get_pid() const { return pid; }
    // Sends the signal to the watched child while it runs. A child that
    // has ended, or whose end was already told, is left alone: once it is
    // reaped its pid may be another process's. True when it was sent.
    bool Kill(int signal) const;

    static void Initialize();
    static void Cleanup();
    static void Activate();

private:
    friend class ChildWaitService;
    template <class H, class... A>
    void rebind(A&&... args)
    {
        static_assert(sizeof(H) <= sizeof storage, "handler too large for its ChildWait");
        handler->~Handler();
        handler = new (storage) H(args...);
    }

    int pid = -1;
    bool listed = false;
    alignas(std::max_align_t) unsigned char storage[64];
    Handler* handler;
};

static ChildWait::Init child_wait_init;

class ChildWaitService
{
public:
    // One record per ended child: {pid, raw wait status}, host byte order.
    struct Record
    {
        int pid;
        int status;
    };
    // Records reaped while the socket pair was full; reaping stops when
    // this is full too, so no exit is ever lost.
    static constexpr unsigned Backlog = 64;

    static ChildWaitService* childWaitService;

    ChildWaitService() = default;
    ChildWaitService(const ChildWaitService&) = delete;
    ChildWaitService& operator=(const ChildWaitService&) = delete;
    ~ChildWaitService();

    void Activate();
    bool is_active() const { return writer.is_valid(); }
    void Attach(ChildWait* watch);
    void Detach(ChildWait* watch);
    unsigned watch_count() const { return watches.count(); }

    static void SigChldHandlerWrapper(int, siginfo_t*, void*);
    void SigChldHandler();
    void OnChildEvent(int fd, short revents);

private:
    // Sends the backlog, then reaps and sends; true when any record went out.
    bool collect();
    bool send(const Record& r);

    Event event;
    Fd writer;
    F_dual_list<ChildWait> watches;
    Record backlog[Backlog];
    unsigned backlog_head = 0;
    unsigned backlog_count = 0;
};
