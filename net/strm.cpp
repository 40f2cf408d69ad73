#include "net/strm.h"

#include <cerrno>
#include <cstring>
#include <ostream>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string error_text(char const* what, int err)
{
    return what + std::string(std::strerror(err));
}

bool would_block(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

} // namespace

StrmProtocol::StrmProtocol(Fd const& socket) : mName("STRM"), mFd(socket)
{
}

StrmProtocol::~StrmProtocol()
{
    stop();
}

void StrmProtocol::PutHeader(std::ostream& os) const
{
    os << "strm[" << mFd.lowlevel_fd() << "]: ";
}

void StrmProtocol::protocol_info(std::ostream& os) const
{
    os << name() << " fd=" << mFd.lowlevel_fd() << " in=" << mBytesIn << " out=" << mBytesOut
       << " queued=" << mQueue.count();
}

void StrmProtocol::stop()
{
    mActive = false;
    if (mEvent.IsActive())
        mEvent.Release();
    mFd.close();
    mQueue.clear();
}

void StrmProtocol::fail(std::string text)
{
    stop();
    on_deactivate(Protocol_status(new Protocol_status_error(this, std::move(text))));
}

void StrmProtocol::local_activate()
{
    if (!mFd.is_valid()) {
        fail("no socket");
        return;
    }
    if (!mActive) {
        mFd.NonBlock();
        mEvent.Bind("StrmProtocol::OnEvent", &StrmProtocol::OnEvent, this);
        if (!mEvent.Schedule(mFd, POLLIN)) {
            // Up but never read would leave the peer talking to nobody.
            fail(error_text("cannot watch the socket: ", errno));
            return;
        }
        mActive = true;
    }
    on_activate();
}

void StrmProtocol::local_deactivate()
{
    stop();
    on_deactivate(Protocol_status(new Protocol_status_success(this, "closed")));
}

void StrmProtocol::receive(Packet& p)
{
    if (mActive && !p.empty())
        on_message(p);
}

void StrmProtocol::enqueue(Packet& p)
{
    Packet last;
    if (mQueue.get_last(&last)) {
        unsigned len = p.length();
        if (last.tailroom() >= len) {
            std::memcpy(last.put(len), p.data(), len);
            mQueue.put(last);
            return;
        }
        mQueue.put(last);
    }
    if (!mQueue.put(p)) {
        fail("send queue full, the peer does not read");
        return;
    }
    mEvent.SetEvents(POLLIN | POLLOUT);
}

void StrmProtocol::message(Packet& p)
{
    if (!mActive || p.empty())
        return;
    if (mQueue.empty()) {
        int n = write_some(p);
        if (n < 0 || unsigned(n) == p.length())
            return;
        // Only the rest waits; the sender's own copy stays as it was.
        Packet rest = p;
        rest.pull(unsigned(n));
        enqueue(rest);
        return;
    }
    enqueue(p);
}

int StrmProtocol::write_some(Packet& p)
{
    // No SIGPIPE: a peer that went away is an error of this link only.
    ssize_t n = ::send(mFd.lowlevel_fd(), p.data(), p.length(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
        int err = errno;
        if (!would_block(err)) {
            fail(error_text("write failed: ", err));
            return -1;
        }
        n = 0;
    }
    mBytesOut += n;
    return int(n);
}

bool StrmProtocol::flush()
{
    Packet p;
    while (mQueue.get(&p)) {
        int n = write_some(p);
        if (n < 0)
            return false;
        if (unsigned(n) < p.length()) {
            p.pull(unsigned(n));
            mQueue.append(p);
            return true;
        }
    }
    mEvent.SetEvents(POLLIN);
    return true;
}

void StrmProtocol::OnEvent(int fd, short revents)
{
    if (!mActive || revents == 0)
        return;
    if (revents & POLLNVAL) {
        fail("socket invalid");
        return;
    }
    if ((revents & POLLOUT) && !flush())
        return;
    if (!(revents & (POLLIN | POLLHUP | POLLERR)))
        return;

    Packet p;
    p.reserve_head(0);
    ssize_t n = ::read(fd, p.data(), p.tailroom());
    if (n > 0) {
        p.put(unsigned(n));
        mBytesIn += n;
        // Nothing of this layer is touched after the climb: the owner may
        // take the link down from up there.
        on_message(p);
        return;
    }
    if (n == 0) {
        fail("connection closed by peer");
        return;
    }
    int err = errno;
    if (!would_block(err)) {
        fail(error_text("read failed: ", err));
        return;
    }
    if (revents & (POLLERR | POLLHUP)) {
        int soerr = 0;
        socklen_t len = sizeof(soerr);
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
        fail(soerr ? error_text("connection lost: ", soerr) : std::string("connection lost"));
    }
}
