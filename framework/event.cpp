#include "framework/event.h"

#include <cerrno>

EventHandler::~EventHandler()
{
    if (multiplexer.event_exists(this))
        multiplexer.detach(this);
}

void EventHandler::entry_changed()
{
    if (entry >= 0)
        multiplexer.refill(entry);
}

void EventHandler::mux_attach()
{
    if (attached)
        return;
    multiplexer.attach(this);
    attached = true;
}

void EventHandler::mux_detach()
{
    if (!attached)
        return;
    multiplexer.detach(this);
    attached = false;
}

Event::~Event()
{
    delete handler_;
    handler_ = nullptr;
    if (fd_.is_valid())
        mux_detach();
}

bool Event::Schedule(const Fd& fd, short events)
{
    if (fd_.is_valid())
        mux_detach();
    fd_ = fd;
    events_ = events;
    if (fd_.is_valid()) {
        mux_attach();
        return true;
    }
    return !fd.is_valid();
}

int Event::Release()
{
    if (!fd_.is_valid()) {
        errno = EBADF;
        return -1;
    }
    mux_detach();
    return fd_.close();
}

void Event::Bind(Handler* h)
{
    delete handler_;
    handler_ = h;
}

void Event::shedule_event(pollfd& entry)
{
    entry.fd = fd_.lowlevel_fd();
    entry.events = events_;
}
