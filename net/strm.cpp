#include "net/strm.h"

#include <cerrno>
#include <cstring>
#include <ostream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
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

// The end of the peer's stream is read as such, after what came before it.
const short reading = POLLIN;

} // namespace

StrmProtocol::StrmProtocol(Fd const& socket) : mName("STRM"), mFd(socket)
{
    mFlush.Bind(this, &StrmProtocol::OnFlush);
}

StrmProtocol::~StrmProtocol()
{
    stop(true);
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

void StrmProtocol::stop(bool drain)
{
    mFlush.Deactivate();
    if (drain && mActive && mFd.is_valid()) {
        // What the layers above sent before the end still leaves; what the
        // socket cannot take now is dropped with it.
        int err = 0;
        write_queue(err);
    }
    mDropped += mEnds.size();
    mEnds.clear();
    mActive = false;
    mWaitOut = false;
    mEnded = false;
    mHeld = false;
    if (mEvent.IsActive())
        mEvent.Release();
    mFd.close();
    mQueue.clear();
}

void StrmProtocol::fail(std::string text)
{
    stop(false);
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
        if (!mEvent.Schedule(mFd, reading)) {
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
    stop(true);
    on_deactivate(Protocol_status(new Protocol_status_success(this, "closed")));
}

void StrmProtocol::receive(Packet& p)
{
    if (mActive && !p.empty())
        on_message(p);
}

bool StrmProtocol::enqueue(Packet& p)
{
    // Counted first: one that finds no room goes down with the rest.
    unsigned len = p.length();
    mBytesQueued += len;
    mEnds.push_back(uint32_t(mBytesQueued));
    Packet last;
    if (mQueue.get_last(&last)) {
        if (last.tailroom() >= len) {
            // Read through a const handle: the sender may share the buffer.
            Packet const& from = p;
            std::memcpy(last.put(len), from->fdata, len);
            mQueue.put(last);
            return true;
        }
        mQueue.put(last);
    }
    if (mQueue.count() == queue_size) {
        // The bound is on what the socket leaves: let it take what it can
        // before the peer is judged.
        if (!flush())
            return false;
    }
    if (!mQueue.put(p)) {
        fail("send queue full, the peer does not read");
        return false;
    }
    return true;
}

void StrmProtocol::message(Packet& p)
{
    if (!mActive || p.empty())
        return;
    // Frames sent in one pass leave together before the next poll.
    if (enqueue(p) && !mWaitOut)
        mFlush.Activate();
}

void StrmProtocol::OnFlush()
{
    mFlush.Deactivate();
    if (mActive && !mWaitOut && flush())
        finish();
}

void StrmProtocol::hold(bool held)
{
    mHeld = held;
    // Let go of a link whose answers have all left: it ends from the loop.
    if (!held && mActive && mEnded && !mWaitOut)
        mFlush.Activate();
}

bool StrmProtocol::finish()
{
    if (!mEnded || mQueue.count() || mHeld)
        return false;
    fail("connection closed by peer");
    return true;
}

int StrmProtocol::write_queue(int& err)
{
    Packet waiting[queue_size];
    unsigned n = 0;
    while (n < queue_size && mQueue.get(&waiting[n]))
        ++n;
    iovec iov[queue_size];
    for (unsigned i = 0; i < n; ++i) {
        Packet const& w = waiting[i];
        iov[i].iov_base = w->fdata;
        iov[i].iov_len = w.length();
    }
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = n;
    // No SIGPIPE: a peer that went away is an error of this link only.
    ssize_t sent = n ? ::sendmsg(mFd.lowlevel_fd(), &msg, MSG_NOSIGNAL | MSG_DONTWAIT) : 0;
    if (sent < 0) {
        err = errno;
        if (!would_block(err))
            return -1;
        sent = 0;
    }
    mBytesOut += sent;
    while (!mEnds.empty() && int32_t(uint32_t(mBytesOut) - mEnds.front()) >= 0)
        mEnds.pop_front();
    size_t left = size_t(sent);
    unsigned i = 0;
    for (; i < n && left >= iov[i].iov_len; ++i)
        left -= iov[i].iov_len;
    if (i < n && left)
        waiting[i].pull(unsigned(left));
    for (unsigned k = i; k < n; ++k)
        mQueue.put(waiting[k]);
    return int(n - i);
}

bool StrmProtocol::flush()
{
    int err = 0;
    int left = write_queue(err);
    if (left < 0) {
        fail(error_text("write failed: ", err));
        return false;
    }
    mWaitOut = left > 0;
    mEvent.SetEvents((mEnded ? 0 : reading) | (mWaitOut ? POLLOUT : 0));
    return true;
}

void StrmProtocol::hang_up(int fd)
{
    // Read out only to learn how the peer went.
    Packet sink;
    sink.reserve_head(0);
    ssize_t n;
    while ((n = ::read(fd, sink.data(), sink.tailroom())) > 0) {
    }
    int err = errno;
    if (n == 0)
        fail("connection closed by peer");
    else if (!would_block(err))
        fail(error_text("read failed: ", err));
    else
        fail("connection lost");
}

void StrmProtocol::discard(int fd, unsigned n)
{
    Packet sink;
    sink.reserve_head(0);
    ssize_t got = ::read(fd, sink.data(), n);
    if (got == ssize_t(n))
        mBytesIn += n;
    else
        fail(error_text("read failed: ", got < 0 ? errno : EIO));
}

void StrmProtocol::OnEvent(int fd, short revents)
{
    if (!mActive || revents == 0)
        return;
    if (revents & POLLNVAL) {
        fail("socket invalid");
        return;
    }
    if ((revents & POLLOUT) && (!flush() || finish()))
        return;
    if (revents & (POLLHUP | POLLERR)) {
        // No answer reaches the peer any more: what it sent and is still
        // unread is not acted on.
        hang_up(fd);
        return;
    }
    if (!(revents & POLLIN))
        return;

    // Peeked: what the layers above leave stays in the socket, which is
    // then ready again in the next pass, and the peer is held back by TCP
    // meanwhile.
    Packet p;
    p.reserve_head(0);
    ssize_t n = ::recv(fd, p.data(), p.tailroom(), MSG_PEEK);
    if (n > 0) {
        p.put(unsigned(n));
        // The owner may take the link down from up there; it frees the
        // layers only later.
        on_message(p);
        if (!mActive)
            return;
        // A layer that took none of it never will: it is dropped.
        unsigned left = p.length();
        discard(fd, left < unsigned(n) ? unsigned(n) - left : unsigned(n));
        return;
    }
    if (n == 0) {
        // The peer sends no more but may still read: the answers to what
        // it sent leave first, and nothing is read meanwhile.
        mEnded = true;
        if (!finish())
            mEvent.SetEvents(mWaitOut ? POLLOUT : 0);
        return;
    }
    int err = errno;
    if (!would_block(err))
        fail(error_text("read failed: ", err));
}
