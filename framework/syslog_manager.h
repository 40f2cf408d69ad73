// Client of the local system-log socket. Records are formatted as the C
// library's syslog formats them, collected in one batch and sent together,
// one gathered send per stream flush. The socket never blocks: a batch the
// log reader has no room for is dropped and counted, and the next batch
// that leaves starts with a record saying how many lines were lost.
#pragma once

#include "framework/put_area.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <cstdarg>
#include <cstddef>
#include <streambuf>

class SysLogManager {
public:
    // Option bits as openlog takes them.
    enum { OptPid = 0x01, OptCons = 0x02, OptNDelay = 0x08, OptPerror = 0x20 };
    enum { LineSize = 1024, BatchSize = 16384, BatchLimit = BatchSize / 4 * 3, MaxRecords = 256 };

    SysLogManager();
    // Nothing to release: the manager stays usable by stream buffers that are
    // flushed after static destruction (the standard streams at exit).
    ~SysLogManager() = default;
    SysLogManager(const SysLogManager&) = delete;
    SysLogManager& operator=(const SysLogManager&) = delete;

    int fd() const { return mSock; }
    bool connected() const { return mConnected; }

    void openlog(const char* ident, int option, int facility);
    void closelog();
    // printf-style message.
    void syslog(int priority, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // The message as given ('%' is an ordinary character), up to a NUL.
    void log_text(int priority, const char* text, size_t length);
    // Bit n set: level n is logged. 0 leaves the mask; returns the old one.
    int setlogmask(int mask);
    // Sends the waiting records; the send's result, 0 when nothing was sent
    // or the reader had no room (the records are then counted as dropped).
    int sendmsg();
    // Lines dropped since the last batch that left.
    unsigned long dropped() const { return mDropped; }

    // For tests only: the socket path used from the next connection on. The
    // daemon always talks to /dev/log. False when the path does not fit.
    bool set_path_for_test(const char* path);

private:
    void openlog_internal(const char* ident, int option, int facility);
    void closelog_internal();
    void syslog_internal(int priority, const char* format, va_list ap);
    int sendmsg_internal(void* record, unsigned length);
    // Starts a record in mLine: priority, time stamp, identity; its length.
    // False when the level is masked out.
    bool begin_record(char* line, int& priority, size_t& length);
    // Queues the record of that length (body starting at mBodyStart).
    void deliver(size_t length);
    // Puts the count of dropped lines in the batch's first slot; false when
    // the warning level is masked out.
    bool add_notice();

    int mSockType;
    int mSock;
    bool mConnected;
    int mLogStat;
    char mIdent[256];
    int mFacility;
    int mMask;
    sockaddr_un mAddr;
    char mPath[sizeof(sockaddr_un::sun_path)];
    char mLine[LineSize];
    char mBatch[BatchSize];
    unsigned mBatchBytes;
    msghdr mHeader;
    // Slot 0 holds the count of dropped lines when there is one to report.
    iovec mIov[MaxRecords + 1];
    char mNotice[LineSize];
    unsigned long mDropped;
    int mIovCount;
    size_t mBodyStart;
    // The formatted time stamp of one second, reused within it.
    long mStampSecond;
    char mStamp[32];
    size_t mStampLength;
};

extern SysLogManager syslogManager;

// Cuts stream text into lines; each line becomes one record of the C
// library's syslog.
class SysLogStreamBuf : public PutAreaStreamBuf {
public:
    SysLogStreamBuf(int facility, int level);
    // Pending text, also a line without its newline, is logged first.
    ~SysLogStreamBuf() override;

protected:
    SysLogStreamBuf(int facility, int level, size_t size);

    // A buffer given here stays the caller's; only the own one is freed. The
    // text pending in the old one is logged first.
    std::streambuf* setbuf(char* buffer, std::streamsize n) override;
    int sync() override;

    // Logs every complete line, and with 'all' or a full put area also the
    // text after the last newline.
    virtual void flush(bool all);
    // Hands those lines to emit(text, length); true when anything was
    // handed on (the put area is then empty).
    template <class Emit>
    bool drain(bool all, Emit emit);

    int mPriority;
};

class ManagedSysLogStreamBuf : public SysLogStreamBuf {
public:
    ManagedSysLogStreamBuf(int facility, int level);
    ~ManagedSysLogStreamBuf() override;

protected:
    void flush(bool all) override;
};
