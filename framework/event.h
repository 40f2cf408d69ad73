// Descriptor events: participants of the event loop.
#pragma once

#include "framework/fd.h"
#include "framework/lists.h"
#include "framework/multiplexer.h"

#include <poll.h>

#include <cstdint>
#include <string>

// Fills one poll entry per pass and is called with the returned events.
class EventHandler : public F_dual_list_item<EventHandler>
{
public:
    EventHandler() = default;
    EventHandler(const EventHandler&) = delete;
    EventHandler& operator=(const EventHandler&) = delete;
    // A kind detaches itself in its own destructor; this one only makes
    // sure the loop never keeps a destroyed handler.
    virtual ~EventHandler();

    virtual void shedule_event(pollfd& entry) = 0;
    virtual void svc_event(short revents) = 0;
    virtual std::string event_name() const { return "unknown"; }
    virtual bool is_named() const { return false; }

    void mux_attach();
    void mux_detach();
    // The loop's entry point: the stored events to svc_event(short).
    void svc_event() { svc_event(revents); }

    bool is_attached() const { return attached; }
    short returned_events() const { return revents; }

protected:
    // A kind that calls entry_changed() whenever what its shedule_event
    // writes changes has its entry filled only then, not on every pass.
    void reports_entry_changes() { reports_changes = true; }
    void entry_changed();

private:
    friend class Multiplexer;
    friend class Event;
    bool reports_changes = false;
    bool is_event = false; // an Event: the loop calls its final svc_event directly
    bool attached = false;
    short revents = 0;
    unsigned char where = 0; // which of the loop's lists holds it
    int entry = -1;          // its poll entry in the current pass
};

// A handler for one owned descriptor with a bound callback.
class Event : public EventHandler
{
public:
    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(int fd, short revents) = 0;
    };

    template <class T>
    class THandler : public Handler
    {
    public:
        using Action = void (T::*)(int, short);
        THandler(Action a, T* o) : action(a), object(o) {}
        void Invoke(int fd, short revents) override
        {
            if (action)
                (object->*action)(fd, revents);
        }

    private:
        Action action;
        T* object;
    };

    Event()
    {
        reports_entry_changes();
        is_event = true;
    }
    ~Event() override;

    // Arms the event on its own duplicate of fd (the caller keeps and closes
    // its own) and re-appends it to the loop; an invalid fd disarms it.
    // False, with errno set, when the duplicate cannot be made (out of
    // descriptors): the event is then disarmed and the owner must act.
    bool Schedule(const Fd& fd, short events);
    // Detaches and closes; -1 with EBADF when not armed.
    int Release();
    void SetEvents(int events)
    {
        events_ = static_cast<short>(events);
        entry_changed();
    }

    int lowlevel_fd() const { return fd_.lowlevel_fd(); }
    bool IsActive() const { return fd_.is_valid(); }
    short events() const { return events_; }
    uint32_t counter() const { return counter_; }
    bool is_bound() const { return handler_ != nullptr; }

    // Owns the given handler; null unbinds.
    void Bind(Handler* h);
    void UnBind() { Bind(nullptr); }
    template <class T>
    void Bind(const std::string& name, typename THandler<T>::Action action, T* object)
    {
        Handler* h = new THandler<T>(action, object);
        name_ = name;
        Bind(h);
    }

    const Measure& measure() const { return measure_; }

    void shedule_event(pollfd& entry) override;
    using EventHandler::svc_event;
    // Final and inline: the loop calls it for every Event on every pass,
    // mostly with 0, so it must cost no more than its own test.
    void svc_event(short revents) final
    {
        if (revents & events_)
            ++counter_;
        if (handler_)
            handler_->Invoke(fd_.lowlevel_fd(), revents);
    }
    std::string event_name() const override { return name_; }
    bool is_named() const override { return true; }

private:
    Handler* handler_ = nullptr;
    Fd fd_;
    short events_ = 0;
    std::string name_ = "Unknown";
    uint32_t counter_ = 0;
    Measure measure_;
};
