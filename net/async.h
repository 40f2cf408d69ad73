// Descriptor work driven by the event loop: a non-blocking TCP connect and
// a copy from one descriptor to another. Each reports once, through the
// bound handler, which may delete the object from inside the call.
#pragma once

#include "framework/dpc.h"
#include "framework/event.h"
#include "framework/fd.h"
#include "framework/timer.h"

#include <functional>
#include <poll.h>
#include <string>
#include <vector>

namespace ASync {

class Connect
{
public:
    struct Status
    {
        enum Type { idle = 0, connecting = 1, failed = 2, connected = 3 };
    };

    Connect();
    ~Connect();
    Connect(Connect const&) = delete;
    Connect& operator=(Connect const&) = delete;

    // The handler gets the connected socket, or an invalid Fd on failure.
    template <class T>
    void Bind(void (T::*member)(Status::Type, Fd), T* object)
    {
        mHandler = [member, object](Status::Type s, Fd fd) { (object->*member)(s, std::move(fd)); };
    }

    // address: "a.b.c.d:port". Never reports from inside Start: a failure
    // found at once is reported from the loop's next pass. False when a
    // connect is already running.
    bool Start(std::string const& address, unsigned timeoutMs);

    Status::Type status() const { return mStatus; }

private:
    void OnEvent(int fd, short revents);
    void OnTimeout(Timer*);
    void OnDeferred();
    void complete(Status::Type s);

    std::function<void(Status::Type, Fd)> mHandler;
    Event mEvent;
    Timer mTimer;
    Dpc mDeferred;
    Fd mSock;
    Status::Type mStatus = Status::idle;
    Status::Type mDeferredStatus = Status::failed;
};

class Copy
{
public:
    struct Status
    {
        enum Type { idle = 0, reading = 1, writing = 2, flushing = 3, failed = 4, done = 5 };
    };

    // Poll masks: the source is readable, the destination writable, and
    // the destination has flushed (0: do not wait for it).
    struct EventsParams
    {
        EventsParams(short s = POLLIN, short d = POLLOUT, short f = POLLWRNORM)
            : source(s), destination(d), flush(f) {}
        short source;
        short destination;
        short flush;
    };

    enum { default_bufsize = 1024 };

    Copy();
    ~Copy();
    Copy(Copy const&) = delete;
    Copy& operator=(Copy const&) = delete;

    template <class T>
    void Bind(void (T::*member)(Status::Type), T* object)
    {
        mHandler = [member, object](Status::Type s) { (object->*member)(s); };
    }

    void set_bufsize(unsigned size) { mBufsize = size ? size : 1; }
    void set_events(EventsParams const& e) { mEvents = e; }

    // Copies until the source ends and everything is written, then waits
    // for the flush mask; both descriptors (its own duplicates, made
    // non-blocking) are closed when it reports. False when already running.
    bool Start(Fd source, Fd destination);

    Status::Type status() const { return mStatus; }
    unsigned long long copied() const { return mCopied; }

private:
    void OnSource(int fd, short revents);
    void OnDestination(int fd, short revents);
    void OnDeferred();
    // Writes what the buffer holds; false when the copy ended.
    bool write_out();
    void source_done();
    void complete(Status::Type s);

    std::function<void(Status::Type)> mHandler;
    EventsParams mEvents;
    unsigned mBufsize = default_bufsize;
    std::vector<char> mBuf;
    unsigned mFill = 0;
    unsigned mOffset = 0;
    bool mDestSocket = false;
    Fd mSource;
    Fd mDest;
    Event mSourceEvent;
    Event mDestEvent;
    Dpc mDeferred;
    Status::Type mStatus = Status::idle;
    unsigned long long mCopied = 0;
};

} // namespace ASync
