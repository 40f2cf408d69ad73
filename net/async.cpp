#include "net/async.h"

#include "framework/inet.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ASync {

namespace {

bool would_block(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

// "a.b.c.d:port" with the port all digits in 1..65535: a port text that
// the address reader would cut to 16 bits must not reach another port.
bool parse_address(std::string const& text, INet4::Addr& addr)
{
    std::string::size_type colon = text.find(':');
    if (colon == std::string::npos || colon + 1 == text.size() || text.size() - colon > 6)
        return false;
    unsigned port = 0;
    for (std::string::size_type i = colon + 1; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        port = port * 10 + unsigned(text[i] - '0');
    }
    if (port == 0 || port > 0xFFFF)
        return false;
    int parsed = -1;
    return addr.Assign(text, &parsed) && parsed == int(port);
}

} // namespace

// ------------------------------------------------------------------ Connect

Connect::Connect()
{
    mDeferred.Bind(this, &Connect::OnDeferred);
}

Connect::~Connect() = default;

bool Connect::Start(std::string const& address, unsigned timeoutMs)
{
    if (mStatus == Status::connecting)
        return false;
    mStatus = Status::connecting;
    mSock.close();

    INet4::Addr addr;
    if (!parse_address(address, addr)) {
        mDeferredStatus = Status::failed;
        mDeferred.Activate();
        return true;
    }
    mSock = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!mSock) {
        mDeferredStatus = Status::failed;
        mDeferred.Activate();
        return true;
    }
    if (::connect(mSock.lowlevel_fd(), addr, addr.size()) == 0) {
        mDeferredStatus = Status::connected;
        mDeferred.Activate();
        return true;
    }
    if (errno != EINPROGRESS) {
        mDeferredStatus = Status::failed;
        mDeferred.Activate();
        return true;
    }
    mEvent.Bind("ASync::Connect::OnEvent", &Connect::OnEvent, this);
    if (!mEvent.Schedule(mSock, POLLOUT)) {
        mDeferredStatus = Status::failed;
        mDeferred.Activate();
        return true;
    }
    mTimer.set(timeoutMs, &Connect::OnTimeout, this);
    return true;
}

void Connect::OnEvent(int fd, short revents)
{
    if (revents == 0 || mStatus != Status::connecting)
        return;
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    bool ok = err == 0 && (revents & POLLOUT) && !(revents & (POLLERR | POLLHUP | POLLNVAL));
    complete(ok ? Status::connected : Status::failed);
}

void Connect::OnTimeout(Timer*)
{
    complete(Status::failed);
}

void Connect::OnDeferred()
{
    mDeferred.Deactivate();
    complete(mDeferredStatus);
}

void Connect::complete(Status::Type s)
{
    if (mEvent.IsActive())
        mEvent.Release();
    mTimer.reset();
    mDeferred.Deactivate();
    Fd out;
    if (s == Status::connected)
        out = std::move(mSock);
    mSock.close();
    mStatus = s;
    // The handler may delete this object: call a copy, touch nothing after.
    auto handler = mHandler;
    if (handler)
        handler(s, std::move(out));
}

// --------------------------------------------------------------------- Copy

Copy::Copy()
{
    mDeferred.Bind(this, &Copy::OnDeferred);
}

Copy::~Copy() = default;

bool Copy::Start(Fd source, Fd destination)
{
    if (mStatus == Status::reading || mStatus == Status::writing || mStatus == Status::flushing)
        return false;
    mSource = std::move(source);
    mDest = std::move(destination);
    mFill = mOffset = 0;
    mCopied = 0;
    mStatus = Status::reading;
    if (!mSource || !mDest) {
        mDeferred.Activate();
        return true;
    }
    mSource.NonBlock();
    mDest.NonBlock();
    struct stat st;
    mDestSocket = ::fstat(mDest.lowlevel_fd(), &st) == 0 && S_ISSOCK(st.st_mode);
    mBuf.assign(mBufsize, 0);

    mSourceEvent.Bind("ASync::Copy::OnSource", &Copy::OnSource, this);
    mDestEvent.Bind("ASync::Copy::OnDestination", &Copy::OnDestination, this);
    // Watched from the start, so a destination that hangs up ends the copy
    // even while the source is quiet.
    if (!mSourceEvent.Schedule(mSource, mEvents.source) || !mDestEvent.Schedule(mDest, 0)) {
        if (mSourceEvent.IsActive())
            mSourceEvent.Release();
        mDeferred.Activate();
    }
    return true;
}

void Copy::OnDeferred()
{
    mDeferred.Deactivate();
    complete(Status::failed);
}

void Copy::OnSource(int fd, short revents)
{
    if (mStatus != Status::reading)
        return;
    if (revents & POLLNVAL) {
        complete(Status::failed);
        return;
    }
    if (!(revents & (mEvents.source | POLLHUP | POLLERR)))
        return;
    ssize_t n = ::read(fd, mBuf.data(), mBuf.size());
    if (n > 0) {
        mFill = unsigned(n);
        mOffset = 0;
        write_out();
        return;
    }
    if (n == 0) {
        source_done();
        return;
    }
    if (!would_block(errno) || (revents & POLLERR))
        complete(Status::failed);
}

bool Copy::write_out()
{
    int fd = mDest.lowlevel_fd();
    while (mOffset < mFill) {
        ssize_t n = mDestSocket ? ::send(fd, mBuf.data() + mOffset, mFill - mOffset, MSG_NOSIGNAL)
                                : ::write(fd, mBuf.data() + mOffset, mFill - mOffset);
        if (n < 0) {
            if (!would_block(errno)) {
                complete(Status::failed);
                return false;
            }
            // Wait for the destination with the source out of the poll
            // set, so a source that keeps reporting cannot spin the loop.
            if (mStatus == Status::reading) {
                mStatus = Status::writing;
                mSourceEvent.Release();
                mDestEvent.SetEvents(mEvents.destination);
            }
            return true;
        }
        mOffset += unsigned(n);
        mCopied += n;
    }
    mFill = mOffset = 0;
    if (mStatus == Status::writing) {
        mStatus = Status::reading;
        mDestEvent.SetEvents(0);
        if (!mSourceEvent.Schedule(mSource, mEvents.source)) {
            complete(Status::failed);
            return false;
        }
    }
    return true;
}

void Copy::source_done()
{
    if (mEvents.flush == 0) {
        complete(Status::done);
        return;
    }
    mStatus = Status::flushing;
    if (mSourceEvent.IsActive())
        mSourceEvent.Release();
    mDestEvent.SetEvents(mEvents.flush);
}

void Copy::OnDestination(int, short revents)
{
    if (revents == 0)
        return;
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
        complete(Status::failed);
        return;
    }
    if (mStatus == Status::writing && (revents & mEvents.destination))
        write_out();
    else if (mStatus == Status::flushing && (revents & mEvents.flush))
        complete(Status::done);
}

void Copy::complete(Status::Type s)
{
    if (mSourceEvent.IsActive())
        mSourceEvent.Release();
    if (mDestEvent.IsActive())
        mDestEvent.Release();
    mDeferred.Deactivate();
    mSource.close();
    mDest.close();
    mFill = mOffset = 0;
    mStatus = s;
    auto handler = mHandler;
    if (handler)
        handler(s);
}

} // namespace ASync
