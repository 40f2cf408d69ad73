#include "framework/fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <unistd.h>

Errno::Errno() : mValue(errno) {}

void Errno::Put(std::ostream& os) const
{
    os << std::strerror(mValue);
}

std::ostream& operator<<(std::ostream& os, Errno const& e)
{
    e.Put(os);
    return os;
}

static bool set_status_flag(int fd, int flag, bool on)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    flags = on ? (flags | flag) : (flags & ~flag);
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

bool NonBlockMode(int fd)
{
    return set_status_flag(fd, O_NONBLOCK, true);
}

bool BlockMode(int fd)
{
    return set_status_flag(fd, O_NONBLOCK, false);
}

bool SetCloexec(int fd, bool on)
{
    int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0)
        return false;
    flags = on ? (flags | FD_CLOEXEC) : (flags & ~FD_CLOEXEC);
    return ::fcntl(fd, F_SETFD, flags) == 0;
}

Fd::Fd(int fd) : mFd(fd)
{
    if (mFd >= 0)
        SetCloexec(mFd, true);
}

Fd::~Fd()
{
    if (mFd >= 0) {
        int saved = errno;
        ::close(mFd);
        errno = saved;
    }
}

Fd& Fd::operator=(Fd const& o)
{
    if (this != &o) {
        close();
        mFd = o.dup();
    }
    return *this;
}

Fd& Fd::operator=(Fd&& o) noexcept
{
    if (this != &o) {
        // Taking over a descriptor leaves errno alone: callers read the
        // cause of a failed open after assigning its result.
        if (mFd >= 0)
            close();
        mFd = o.mFd;
        o.mFd = -1;
    }
    return *this;
}

int Fd::dup() const
{
    if (mFd < 0)
        return -1;
    // Duplicated and marked in one step: no window for a fork to inherit it.
    return ::fcntl(mFd, F_DUPFD_CLOEXEC, 0);
}

int Fd::close()
{
    if (mFd < 0) {
        errno = EBADF;
        return -1;
    }
    int r = ::close(mFd);
    mFd = -1;
    return r;
}

bool Fd::open(char const* path, int flags)
{
    close();
    mFd = ::open(path, flags | O_CLOEXEC);
    return mFd >= 0;
}

bool Fd::NonBlock()
{
    return mFd >= 0 && NonBlockMode(mFd);
}

int close(Fd& fd)
{
    return fd.close();
}

int write(Fd& fd, void const* buf, unsigned len)
{
    return ::write(fd.lowlevel_fd(), buf, len);
}
