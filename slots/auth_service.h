#pragma once

// The local TCP service through which the modem peers (the pppd processes
// of the modem slots, with their authentication plug-in) exchange
// authentication and accounting records with the daemon.

#include "framework/event.h"
#include "framework/fd.h"
#include "framework/inet.h"
#include "framework/timer.h"
#include "slots/modem_auth_record.h"

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

class AuthService;

// A share of the log: so many lines at once, then lines are only counted,
// with one count a period while they go on. Each period gives some lines
// back, a quiet one (nothing counted) perhaps more.
class LogShare {
public:
    // counted: writes how many lines were not.
    LogShare(unsigned lines, unsigned back, unsigned quietBack, unsigned periodMs,
             std::function<void(uint64_t)> counted)
        : mLines(lines), mBack(back), mQuietBack(quietBack), mPeriodMs(periodMs), mCounted(std::move(counted))
    {
    }
    // True when a line may be written; else it is counted.
    bool Take();
    // Has the count written now, if any.
    void Count();
    // The whole share back, nothing counted.
    void Reset();

private:
    void OnTick(Timer*);

    const unsigned mLines;
    const unsigned mBack;
    const unsigned mQuietBack;
    const unsigned mPeriodMs;
    std::function<void(uint64_t)> mCounted;
    Timer mTick;
    unsigned mLogged = 0;
    uint64_t mUnlogged = 0;
};

// One accepted connection.
class AuthClient {
public:
    AuthClient(AuthService& service, Fd socket, const INet4::Addr& peer, uint64_t serial);
    ~AuthClient();
    AuthClient(const AuthClient&) = delete;
    AuthClient& operator=(const AuthClient&) = delete;

    // Starts watching the socket and the wait for a first record; false,
    // with errno, when the socket cannot be watched.
    bool Activate();
    // Writes the whole record; false when it could not, and the connection
    // has then ended.
    bool Send(const std::vector<uint8_t>& record);

    const INet4::Addr& GetAddr() const { return mPeer; }
    // The session of the last complete record, -1 before the first.
    int GetSessionId() const { return mSessionId; }
    bool IsOpen() const { return mSocket.is_valid(); }

    // What this connection speaks for (set by whoever routes its records),
    // and when it last spoke: a stamp of the service's record count.
    const void* owner() const { return mOwner; }
    void owner(const void* owner) { mOwner = owner; }
    uint64_t lastSpoke() const { return mLastSpoke; }

private:
    friend class AuthService;
    // Counts the running methods of this client; the last one out deletes
    // a closed client, so none is deleted under its own call stack.
    struct Guard {
        explicit Guard(AuthClient& c) : client(c) { ++client.mRecursionLevel; }
        ~Guard();
        AuthClient& client;
    };

    void OnSocketEvent(int fd, short events);
    void OnDisconnect();
    void OnSilent(Timer*);
    // Logs a record's fault line (empty: none) while the connection's
    // share of the log lasts, else only counts it.
    void Report(const std::string& fault);

    AuthService& mService;
    Event mEvent;
    Timer mSilent;
    Fd mSocket;
    INet4::Addr mPeer;
    int mRecursionLevel = 0;
    LogShare mFaults;
    ModemAuth::Reader mReader;
    int mSessionId = -1;
    const void* mOwner = nullptr;
    uint64_t mLastSpoke;
};

class AuthService {
public:
    class Notify {
    public:
        virtual ~Notify() = default;
        // A complete record of at least a header; what is to be logged of
        // it (a fault or a note, header included), empty when it was taken
        // as it stands. Whoever takes it sets the client's owner.
        virtual std::string OnAuthRecord(AuthClient& client, const ModemAuth::Record& record) = 0;
        virtual void PutHeader(std::ostream& os) const = 0;
    };

    static constexpr uint16_t kPort = 52000;
    static constexpr int kBacklog = 64;
    // Connections beyond this are closed at once.
    static constexpr size_t kMaxClients = 32;
    // Listening pauses this long after an accept failure such as EMFILE,
    // which would otherwise wake the loop on every pass.
    static constexpr unsigned kAcceptPauseMs = 1000;
    // A connection none of whose records has reached a modem this long
    // after its accept is closed, so idle or babbling ones cannot hold
    // every place.
    static constexpr unsigned kFirstRecordMs = 10000;
    // Fault lines one connection writes before its faults are only counted;
    // while they go on, one count line per period. A quiet period gives the
    // lines back.
    static constexpr unsigned kFaultLines = 4;
    static constexpr unsigned kFaultPeriodMs = 1000;
    // The same for every line about the peers, all of them together,
    // connections and their ends included, so peers that keep
    // reconnecting cannot flood the log either. At once, every place may
    // connect, say its share of faults and leave, and one more be refused,
    // line by line: 32 * (1 + 4 + 1) + 1 = 193 lines. After that, one
    // place's worth comes back a period, 6 lines, quiet or not: a full
    // house again every second writes 193 + 30 * (6 + 1 count) = 403
    // lines of some 58 bytes, 23 KB, in 30 s (the whole share back each
    // second wrote 326 KB), and half a minute's quiet refills the share.
    static constexpr unsigned kLogLines = unsigned(kMaxClients) * (kFaultLines + 2) + 1;
    static constexpr unsigned kLogLinesBack = kFaultLines + 2;
    // Records taken from one connection per wake-up, so a flooding peer
    // cannot starve the loop; the rest wakes the next pass.
    static constexpr int kRecordsPerEvent = 32;

    explicit AuthService(Notify& notify);
    ~AuthService();
    AuthService(const AuthService&) = delete;
    AuthService& operator=(const AuthService&) = delete;

    // Listens on 127.0.0.1:port (0: any free port); false, logged, when the
    // service stays closed.
    bool Open(uint16_t port);
    bool IsOpen() const { return mListen.is_valid(); }
    uint16_t port() const;

    // To the client that spoke last for the owner; false when none did.
    bool Send(const void* owner, const std::vector<uint8_t>& record);
    // The owner is gone: no client speaks for it any more.
    void Forget(const void* owner);
    // The open client that speaks for the owner, null when none.
    AuthClient* SpeakerFor(const void* owner) const;

    // Test-only: the accept4(2) the service calls; null restores it.
    using AcceptFn = int (*)(int fd, sockaddr* address, socklen_t* size, int flags);
    static void SetAccept(AcceptFn accept);
    // Test-only: the send(2) a client calls; null restores it.
    using SendFn = ssize_t (*)(int fd, const void* data, size_t size, int flags);
    static void SetSend(SendFn send);

    // Test-only: the whole share of the log back, nothing counted, as at
    // the start of the process the service lives for.
    void ForgetLog() { mLog.Reset(); }

    size_t clients() const { return mClients.size(); }
    const std::vector<std::unique_ptr<AuthClient>>& clientList() const { return mClients; }
    bool IsListening() const { return mEvent.IsActive() && mEvent.events() != 0; }

private:
    friend class AuthClient;
    void OnSocketEvent(int fd, short events);
    // False when nothing more is to be taken now.
    bool AcceptOne(int fd);
    void OnResume(Timer*);
    void OnRecord(AuthClient& client, const ModemAuth::Record& record);
    void OnAuthSocketDisconnect(AuthClient* client);
    void PutHeader(std::ostream& os) const { mNotify.PutHeader(os); }
    // Writes a line about a peer, header included, while the service's
    // share of the log lasts; else only counts it.
    void Log(std::ostream& os, const std::string& line);
    // The same for a line that text(std::ostream&) writes behind the
    // service's header; a line past the share is never formatted.
    template <class Text>
    void Log(std::ostream& os, Text const& text)
    {
        if (!mLog.Take())
            return;
        std::ostringstream line;
        PutHeader(line);
        text(line);
        os << line.str() << std::endl;
    }

    Notify& mNotify;
    Fd mListen;
    Event mEvent;
    Timer mResume;
    LogShare mLog;
    std::vector<std::unique_ptr<AuthClient>> mClients;
    uint64_t mRecords = 0;
};
