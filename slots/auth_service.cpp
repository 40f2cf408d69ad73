#include "slots/auth_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <sstream>

namespace {

AuthService::AcceptFn gAccept = ::accept4;
AuthService::SendFn gSend = ::send;

} // namespace

void AuthService::SetAccept(AcceptFn accept)
{
    gAccept = accept ? accept : ::accept4;
}

bool LogShare::Take()
{
    if (!mTick.is_running())
        mTick.set(mPeriodMs, &LogShare::OnTick, this);
    if (mLogged < mLines) {
        ++mLogged;
        return true;
    }
    ++mUnlogged;
    return false;
}

void LogShare::OnTick(Timer*)
{
    const unsigned back = mUnlogged ? mBack : mQuietBack;
    Count();
    mLogged -= std::min(mLogged, back);
    // Ticks while anything is to come back.
    if (mLogged)
        mTick.set(mPeriodMs, &LogShare::OnTick, this);
}

void LogShare::Count()
{
    if (!mUnlogged)
        return;
    const uint64_t n = mUnlogged;
    mUnlogged = 0;
    mCounted(n);
}

void LogShare::Reset()
{
    mTick.reset();
    mLogged = 0;
    mUnlogged = 0;
}

void AuthService::SetSend(SendFn send)
{
    gSend = send ? send : ::send;
}

AuthClient::AuthClient(AuthService& service, Fd socket, const INet4::Addr& peer, uint64_t serial)
    : mService(service), mSocket(std::move(socket)), mPeer(peer),
      mFaults(AuthService::kFaultLines, 0, AuthService::kFaultLines, AuthService::kFaultPeriodMs,
              [this](uint64_t n) {
                  mService.Log(std::cerr, [&](std::ostream& line) {
                      line << "auth client " << mPeer << ": " << n << " more faults not logged";
                  });
              }),
      mLastSpoke(serial)
{
    mEvent.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

AuthClient::~AuthClient()
{
    mFaults.Count();
    mEvent.Release();
}

AuthClient::Guard::~Guard()
{
    if (--client.mRecursionLevel == 0 && !client.mSocket.is_valid())
        client.mService.OnAuthSocketDisconnect(&client); // deletes the client
}

bool AuthClient::Activate()
{
    if (!mEvent.Schedule(mSocket, POLLIN))
        return false;
    mSilent.set(AuthService::kFirstRecordMs, &AuthClient::OnSilent, this);
    return true;
}

void AuthClient::OnDisconnect()
{
    mFaults.Count();
    mFaults.Reset();
    mSilent.reset();
    mSocket.close();
    mEvent.Release();
}

void AuthClient::OnSilent(Timer*)
{
    Guard guard(*this);
    mService.Log(std::cerr, [&](std::ostream& line) {
        line << "auth client " << mPeer << ": no record for a modem within " << AuthService::kFirstRecordMs / 1000
             << " s, closed";
    });
    OnDisconnect();
}

void AuthClient::Report(const std::string& fault)
{
    if (fault.empty())
        return;
    // A few lines say what is wrong; more of them, whatever they hold,
    // would only let one peer flood the log.
    if (mFaults.Take())
        mService.Log(std::cerr, fault);
}

bool AuthClient::Send(const std::vector<uint8_t>& record)
{
    Guard guard(*this);
    if (!mSocket.is_valid())
        return false;
    size_t done = 0;
    while (done < record.size()) {
        ssize_t n = gSend(mSocket.lowlevel_fd(), record.data() + done, record.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            OnDisconnect();
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void AuthClient::OnSocketEvent(int fd, short events)
{
    Guard guard(*this);
    if (events & (POLLERR | POLLHUP | POLLNVAL)) {
        OnDisconnect();
        return;
    }
    if (!(events & POLLIN))
        return;
    auto read = [fd](void* buffer, size_t size) { return ::recv(fd, buffer, size, MSG_DONTWAIT); };
    int taken = 0;
    auto sink = [this, &taken](const ModemAuth::Record& record) {
        mService.OnRecord(*this, record);
        return mSocket.is_valid() && ++taken < AuthService::kRecordsPerEvent;
    };
    ModemAuth::Reader::Stop stop = mReader.Pump(read, sink);
    switch (stop) {
    case ModemAuth::Reader::Drained:
    case ModemAuth::Reader::Stopped:
        return;
    case ModemAuth::Reader::BadLength:
        mService.Log(std::cerr, [&](std::ostream& line) {
            line << "auth client " << mPeer << ": record length " << mReader.badLength() << " refused";
        });
        break;
    case ModemAuth::Reader::Failed: {
        Errno error;
        mService.Log(std::cerr,
                     [&](std::ostream& line) { line << "auth client " << mPeer << ": read failed: " << error; });
        break;
    }
    case ModemAuth::Reader::Ended:
        break;
    }
    OnDisconnect();
}

AuthService::AuthService(Notify& notify)
    : mNotify(notify), mLog(kLogLines, kLogLinesBack, kLogLinesBack, kFaultPeriodMs, [this](uint64_t n) {
          std::ostringstream line;
          PutHeader(line);
          line << n << " more lines about auth clients not logged";
          std::cerr << line.str() << std::endl;
      })
{
}

AuthService::~AuthService()
{
    mEvent.Release();
    mClients.clear();
    // At exit the next period never comes.
    mLog.Count();
}

bool AuthService::Open(uint16_t port)
{
    Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    // A restarted daemon gets its port back while old connections linger.
    if (!sock || ::setsockopt(sock.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0
        || ::bind(sock.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        Errno error;
        PutHeader(std::cerr);
        std::cerr << "fail to bind auth socket: " << error << std::endl;
        return false;
    }
    if (::listen(sock.lowlevel_fd(), kBacklog) < 0) {
        Errno error;
        PutHeader(std::cerr);
        std::cerr << "fail to listen auth socket: " << error << std::endl;
        return false;
    }
    if (!sock.NonBlock()) {
        Errno error;
        PutHeader(std::cerr);
        std::cerr << "can't set socket to non block mode: " << error << std::endl;
        return false;
    }
    mListen = std::move(sock);
    mEvent.Bind("ModemFactory::OnSocketEvent", &AuthService::OnSocketEvent, this);
    mEvent.Schedule(mListen, POLLIN);
    return true;
}

uint16_t AuthService::port() const
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (!mListen || ::getsockname(mListen.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), &size) < 0)
        return 0;
    return ntohs(address.sin_port);
}

void AuthService::OnSocketEvent(int fd, short events)
{
    if (events & (POLLERR | POLLHUP | POLLNVAL)) {
        PutHeader(std::cerr);
        std::cerr << "auth server socket error." << std::endl;
        mResume.reset();
        mEvent.Release();
        mEvent.UnBind();
        mListen.close();
        return;
    }
    if (!(events & POLLIN))
        return;
    // A burst is taken in one pass, so the backlog never fills while the
    // loop is busy elsewhere.
    for (int i = 0; i < kBacklog && AcceptOne(fd); ++i) {
    }
}

bool AuthService::AcceptOne(int fd)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    Fd sock(gAccept(fd, reinterpret_cast<sockaddr*>(&address), &size, SOCK_CLOEXEC | SOCK_NONBLOCK));
    INet4::Addr peer(address);
    if (!sock) {
        Errno error;
        if (error.value() == EAGAIN || error.value() == EWOULDBLOCK || error.value() == EINTR
            || error.value() == ECONNABORTED)
            return false;
        PutHeader(std::cerr);
        std::cerr << "auth accept failed: " << error << std::endl;
        mEvent.SetEvents(0);
        mResume.set(kAcceptPauseMs, &AuthService::OnResume, this);
        return false;
    }
    if (mClients.size() >= kMaxClients) {
        Log(std::cerr, [&](std::ostream& line) { line << "too many auth connections, " << peer << " refused"; });
        return true;
    }
    auto client = std::make_unique<AuthClient>(*this, std::move(sock), peer, mRecords);
    if (!client->Activate()) {
        // Out of descriptors, most likely: a connection never read would
        // keep its descriptor and its place for good.
        Errno error;
        Log(std::cerr, [&](std::ostream& line) {
            line << "auth connection from " << peer << " closed: cannot watch the socket: " << error;
        });
        return false;
    }
    mClients.push_back(std::move(client));
    Log(std::cerr, [&](std::ostream& line) { line << "incoming auth connection from " << peer; });
    return true;
}

void AuthService::OnResume(Timer*)
{
    if (mEvent.IsActive())
        mEvent.SetEvents(POLLIN);
}

void AuthService::OnRecord(AuthClient& client, const ModemAuth::Record& record)
{
    // A record too short for its header holds no session to route by.
    if (record.size < ModemAuth::kHeaderSize) {
        std::ostringstream fault;
        PutHeader(fault);
        fault << "auth client " << client.GetAddr() << ": record of " << record.size << " octets dropped";
        client.Report(fault.str());
        return;
    }
    client.mSessionId = static_cast<int>(record.session());
    client.mLastSpoke = ++mRecords;
    client.Report(mNotify.OnAuthRecord(client, record));
    // Only a connection that speaks for a modem keeps its place.
    if (client.owner())
        client.mSilent.reset();
}

void AuthService::Log(std::ostream& os, const std::string& line)
{
    if (mLog.Take())
        os << line << std::endl;
}

void AuthService::OnAuthSocketDisconnect(AuthClient* client)
{
    Log(std::clog, [&](std::ostream& line) { line << "auth client " << client->GetAddr() << " disconnected."; });
    auto it = std::find_if(mClients.begin(), mClients.end(),
                           [client](const std::unique_ptr<AuthClient>& c) { return c.get() == client; });
    if (it != mClients.end())
        mClients.erase(it);
}

AuthClient* AuthService::SpeakerFor(const void* owner) const
{
    AuthClient* newest = nullptr;
    for (const auto& client : mClients)
        if (owner && client->owner() == owner && client->IsOpen()
            && (!newest || client->lastSpoke() > newest->lastSpoke()))
            newest = client.get();
    return newest;
}

bool AuthService::Send(const void* owner, const std::vector<uint8_t>& record)
{
    AuthClient* client = SpeakerFor(owner);
    return client && client->Send(record);
}

void AuthService::Forget(const void* owner)
{
    for (const auto& client : mClients)
        if (client->owner() == owner)
            client->owner(nullptr);
}
