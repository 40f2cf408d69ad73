#include "framework/syslog_manager.h"

#include "framework/mux_time.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

SysLogManager syslogManager;

namespace {

const char kDefaultIdent[] = "syslog-sx";
const char kDefaultPath[] = "/dev/log";
const int kFacilityMask = 0x3F8;

void copy_cut(char* to, size_t size, const char* from)
{
    size_t n = std::strlen(from);
    if (n >= size)
        n = size - 1;
    std::memmove(to, from, n);
    to[n] = '\0';
}

} // namespace

SysLogManager::SysLogManager()
    : mSockType(SOCK_DGRAM), mSock(-1), mConnected(false), mLogStat(0), mFacility(LOG_USER),
      mMask(0xFF), mAddr(), mBatchBytes(0), mHeader(), mDropped(0), mIovCount(0), mBodyStart(0),
      mStampSecond(-1), mStampLength(0)
{
    copy_cut(mIdent, sizeof mIdent, kDefaultIdent);
    copy_cut(mPath, sizeof mPath, kDefaultPath);
    mAddr.sun_family = AF_UNIX;
    copy_cut(mAddr.sun_path, sizeof mAddr.sun_path, mPath);
    mLine[0] = '\0';
    mStamp[0] = '\0';
}

bool SysLogManager::set_path_for_test(const char* path)
{
    if (!path || std::strlen(path) >= sizeof mPath)
        return false;
    copy_cut(mPath, sizeof mPath, path);
    return true;
}

void SysLogManager::openlog(const char* ident, int option, int facility)
{
    openlog_internal(ident, option, facility);
}

void SysLogManager::closelog()
{
    closelog_internal();
    copy_cut(mIdent, sizeof mIdent, kDefaultIdent);
    mSockType = SOCK_DGRAM;
    mBatchBytes = 0;
    mIovCount = 0;
}

int SysLogManager::setlogmask(int mask)
{
    int old = mMask;
    if (mask != 0)
        mMask = mask;
    return old;
}

void SysLogManager::openlog_internal(const char* ident, int option, int facility)
{
    if (ident && ident != mIdent)
        copy_cut(mIdent, sizeof mIdent, ident);
    mLogStat = option;
    if (facility != 0 && (facility & ~kFacilityMask) == 0)
        mFacility = facility;

    for (int attempt = 0; attempt < 2; ++attempt) {
        if (mSock < 0) {
            mAddr = sockaddr_un();
            mAddr.sun_family = AF_UNIX;
            copy_cut(mAddr.sun_path, sizeof mAddr.sun_path, mPath);
            if (option & OptNDelay) {
                // A slow or stopped log reader must never stall the loop.
                mSock = ::socket(AF_UNIX, mSockType | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
                if (mSock < 0)
                    return;
            }
        }
        // Descriptor 0 is as good as any other.
        if (mSock < 0 || mConnected)
            return;
        if (::connect(mSock, reinterpret_cast<const sockaddr*>(&mAddr), sizeof mAddr) == 0) {
            mConnected = true;
            return;
        }
        const int err = errno;
        ::close(mSock);
        mSock = -1;
        if (err != EPROTOTYPE)
            return;
        mSockType = mSockType == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
    }
}

void SysLogManager::closelog_internal()
{
    if (!mConnected)
        return;
    ::close(mSock);
    mSock = -1;
    mConnected = false;
}

bool SysLogManager::begin_record(char* line, int& priority, size_t& length)
{
    if (!(mMask & (1 << (priority & 7))))
        return false;
    if ((priority & kFacilityMask) == 0)
        priority |= mFacility;

    int n = std::snprintf(line, LineSize, "<%d>", priority);
    length = n > 0 ? static_cast<size_t>(n) : 0;

    const long now = Mux::seconds();
    if (now != mStampSecond) {
        const time_t t = now;
        struct tm tm;
        mStampLength = 0;
        if (::localtime_r(&t, &tm))
            mStampLength = std::strftime(mStamp, sizeof mStamp, "%h %e %T ", &tm);
        mStampSecond = now;
    }

    auto append = [&](const char* text, size_t n) {
        if (n > LineSize - 1 - length)
            n = LineSize - 1 - length;
        std::memcpy(line + length, text, n);
        length += n;
    };
    append(mStamp, mStampLength);
    mBodyStart = length;
    if (mIdent[0])
        append(mIdent, std::strlen(mIdent));
    if (mLogStat & OptPid) {
        char pid[24];
        int k = std::snprintf(pid, sizeof pid, "[%d]", static_cast<int>(::getpid()));
        append(pid, static_cast<size_t>(k));
    }
    if (mIdent[0])
        append(": ", 2);
    line[length] = '\0';
    return true;
}

void SysLogManager::syslog(int priority, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    syslog_internal(priority, format, ap);
    va_end(ap);
}

void SysLogManager::syslog_internal(int priority, const char* format, va_list ap)
{
    size_t length;
    if (!begin_record(mLine, priority, length))
        return;
    int n = std::vsnprintf(mLine + length, LineSize - length, format, ap);
    if (n > 0)
        length += static_cast<size_t>(n);
    if (length > LineSize - 1)
        length = LineSize - 1;
    mLine[length] = '\0';
    deliver(length);
}

void SysLogManager::log_text(int priority, const char* text, size_t n)
{
    size_t length;
    if (!begin_record(mLine, priority, length))
        return;
    // A NUL ends a record: text after one would pass for a record of its own.
    if (const void* nul = std::memchr(text, '\0', n))
        n = static_cast<size_t>(static_cast<const char*>(nul) - text);
    if (n > LineSize - 1 - length)
        n = LineSize - 1 - length;
    std::memcpy(mLine + length, text, n);
    length += n;
    mLine[length] = '\0';
    deliver(length);
}

void SysLogManager::deliver(size_t length)
{
    if (mLogStat & OptPerror) {
        iovec iov[2];
        iov[0].iov_base = mLine + mBodyStart;
        iov[0].iov_len = length - mBodyStart;
        iov[1].iov_base = const_cast<char*>("\n");
        iov[1].iov_len = 1;
        const bool newline = length > mBodyStart && mLine[length - 1] == '\n';
        ssize_t ignored = ::writev(STDERR_FILENO, iov, newline ? 1 : 2);
        (void)ignored;
    }

    if (!mConnected)
        openlog_internal(mIdent, mLogStat | OptNDelay, 0);

    const unsigned record = static_cast<unsigned>(length + 1);
    if (mConnected && sendmsg_internal(mLine, record) >= 0)
        return;
    if (mConnected) {
        closelog_internal();
        openlog_internal(mIdent, mLogStat | OptNDelay, 0);
        if (mConnected && sendmsg_internal(mLine, record) >= 0)
            return;
    }
    closelog_internal();
    if (mLogStat & OptCons) {
        int fd = ::open("/dev/console", O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            ::dprintf(fd, "%s\r\n", mLine + mBodyStart);
            ::close(fd);
        }
    }
}

int SysLogManager::sendmsg_internal(void* record, unsigned length)
{
    if (!record || length == 0)
        return 0;
    if (mBatchBytes + length > BatchSize) {
        // Cannot happen with records of at most LineSize bytes; kept as a guard.
        int r = sendmsg();
        if (r < 0)
            return r;
    }
    char* at = mBatch + mBatchBytes;
    std::memcpy(at, record, length);
    mIov[mIovCount + 1].iov_base = at;
    mIov[mIovCount + 1].iov_len = length;
    ++mIovCount;
    mBatchBytes += length;
    if (mIovCount >= MaxRecords || mBatchBytes > BatchLimit)
        return sendmsg();
    return 0;
}

int SysLogManager::sendmsg()
{
    if (mBatchBytes == 0 || mIovCount == 0)
        return 0;
    int result = 0;
    if (mSock >= 0) {
        mHeader = msghdr();
        // A connected stream socket refuses a destination address.
        if (mSockType == SOCK_DGRAM) {
            mHeader.msg_name = &mAddr;
            mHeader.msg_namelen = sizeof mAddr;
        }
        const bool notice = mDropped > 0 && add_notice();
        mHeader.msg_iov = notice ? mIov : mIov + 1;
        mHeader.msg_iovlen = static_cast<size_t>(mIovCount + (notice ? 1 : 0));
        ssize_t r;
        do
            r = ::sendmsg(mSock, &mHeader, MSG_NOSIGNAL | MSG_DONTWAIT);
        while (r < 0 && errno == EINTR);
        result = static_cast<int>(r);
        if (r >= 0) {
            mDropped = 0;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
            // The reader is behind: these lines are lost, the link is not.
            mDropped += static_cast<unsigned>(mIovCount);
            result = 0;
        }
    }
    mBatchBytes = 0;
    mIovCount = 0;
    return result;
}

bool SysLogManager::add_notice()
{
    int priority = LOG_WARNING;
    size_t length;
    const size_t bodyStart = mBodyStart;
    const bool made = begin_record(mNotice, priority, length);
    mBodyStart = bodyStart;
    if (!made)
        return false;
    const int n = std::snprintf(mNotice + length, LineSize - length, "%lu log lines dropped", mDropped);
    if (n > 0)
        length += static_cast<size_t>(n);
    if (length > LineSize - 1)
        length = LineSize - 1;
    mNotice[length] = '\0';
    mIov[0].iov_base = mNotice;
    mIov[0].iov_len = length + 1;
    return true;
}

// ---- stream buffers -------------------------------------------------------

SysLogStreamBuf::SysLogStreamBuf(int facility, int level) : SysLogStreamBuf(facility, level, 1024) {}

SysLogStreamBuf::SysLogStreamBuf(int facility, int level, size_t size) : mPriority(facility | level)
{
    // The last byte is kept for the terminating NUL.
    install(new char[size], size, true, 1);
}

SysLogStreamBuf::~SysLogStreamBuf()
{
    SysLogStreamBuf::flush(true);
}

std::streambuf* SysLogStreamBuf::setbuf(char* buffer, std::streamsize n)
{
    if (!buffer || n < 2)
        return this;
    flush(true);
    free_buffer();
    install(buffer, static_cast<size_t>(n), false, 1);
    return this;
}

template <class Emit>
bool SysLogStreamBuf::drain(bool all, Emit emit)
{
    if (!mBuffer)
        return false;
    char* const begin = pbase();
    char* const end = pptr();
    if (end == begin)
        return false;
    *end = '\0';
    const char* p = begin;
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (!nl && !all && end != epptr())
        return false;
    for (; nl; nl = static_cast<const char*>(std::memchr(p, '\n', end - p))) {
        emit(p, static_cast<size_t>(nl - p));
        p = nl + 1;
    }
    if (p < end)
        emit(p, static_cast<size_t>(end - p));
    setp(begin, epptr());
    return true;
}

void SysLogStreamBuf::flush(bool all)
{
    drain(all, [this](const char* text, size_t n) {
        ::syslog(mPriority, "%.*s", static_cast<int>(n), text);
    });
}

int SysLogStreamBuf::sync()
{
    flush(false);
    return 0;
}

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int level)
    : SysLogStreamBuf(facility, level, SysLogManager::BatchSize)
{
}

ManagedSysLogStreamBuf::~ManagedSysLogStreamBuf()
{
    flush(true);
}

void ManagedSysLogStreamBuf::flush(bool all)
{
    if (drain(all, [this](const char* text, size_t n) { syslogManager.log_text(mPriority, text, n); }))
        syslogManager.sendmsg();
}
