#include "standin/board.h"

#include "standin/dsp.h"
#include "standin/dsp_data.h"
#include "standin/dtmf.h"
#include "standin/maintenance.h"
#include "standin/mcc.h"
#include "standin/mixer.h"
#include "standin/modem.h"
#include "standin/rtp.h"
#include "standin/rtp_ext.h"
#include "standin/switch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>

namespace Standin {

// Larger than any record a simulated driver passes.
static constexpr size_t kMaxFrame = 65536;

Channel::Channel(Driver& driver, std::string path, int boardFd, dev_t dev, ino_t ino, int flags)
    : mDriver(driver), mPath(std::move(path)), mFd(boardFd), mDev(dev), mIno(ino), mFlags(flags)
{
}

Channel::~Channel()
{
    ::close(mFd);
}

bool Channel::Send(const Frame& frame)
{
    return Send(frame.data(), frame.size());
}

bool Channel::Send(const void* data, size_t size)
{
    ssize_t n = ::send(mFd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    return n == static_cast<ssize_t>(size);
}

bool Channel::Receive(Frame& frame)
{
    frame.resize(kMaxFrame);
    ssize_t n = ::recv(mFd, frame.data(), frame.size(), MSG_DONTWAIT);
    if (n < 0) {
        frame.clear();
        return false;
    }
    frame.resize(static_cast<size_t>(n));
    // A zero-length read is the peer's end of file unless a frame is pending.
    return n > 0 || !IsClosed();
}

bool Channel::IsClosed() const
{
    pollfd p{mFd, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR));
}

bool Channel::Holds(int fd) const
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && Matches(st.st_dev, st.st_ino);
}

Board::Board(bool standard)
    : mPrevious(Device::Install(this))
{
    if (standard)
        AddStandardDrivers(*this);
}

Board::~Board()
{
    mChannels.clear();
    Device::Install(mPrevious);
}

Driver& Board::Add(const std::string& path, std::unique_ptr<Driver> driver)
{
    // Channels of a replaced driver would point at a dead object.
    mChannels.erase(std::remove_if(mChannels.begin(), mChannels.end(),
                                   [&](const std::unique_ptr<Channel>& c) { return c->path() == path; }),
                    mChannels.end());
    auto& slot = mDrivers[path];
    slot = std::move(driver);
    return *slot;
}

Driver* Board::Find(const std::string& path) const
{
    auto it = mDrivers.find(path);
    return it == mDrivers.end() ? nullptr : it->second.get();
}

void Board::Missing(const std::string& path)
{
    std::cerr << "standin: no simulated driver of that kind at " << path << std::endl;
    std::abort();
}

void Board::FailOpen(const std::string& path, int error, int count)
{
    mFailures.push_back({path, true, 0, error, count});
}

void Board::FailRequest(const std::string& path, unsigned long code, int error, int count)
{
    mFailures.push_back({path, false, code, error, count});
}

void Board::FailRead(const std::string& path)
{
    // A directory in place of the daemon's end: always readable, never read.
    int dir = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int fd = 0; dir >= 0 && fd < 1024; ++fd)
        for (auto& channel : mChannels)
            if (fd != dir && channel->path() == path && channel->Holds(fd))
                ::dup3(dir, fd, O_CLOEXEC);
    if (dir >= 0)
        ::close(dir);
}

bool Board::TakeFailure(const std::string& path, bool open, unsigned long code)
{
    for (auto it = mFailures.begin(); it != mFailures.end(); ++it) {
        if (it->path != path || it->open != open || (!open && it->code != code))
            continue;
        errno = it->error;
        if (--it->count <= 0)
            mFailures.erase(it);
        return true;
    }
    return false;
}

std::vector<Channel*> Board::Channels(const std::string& path)
{
    Prune();
    std::vector<Channel*> result;
    for (auto& channel : mChannels)
        if (channel->path() == path)
            result.push_back(channel.get());
    return result;
}

size_t Board::Pump()
{
    size_t handed = 0;
    Frame frame;
    // A driver may open or close channels from OnFrame: walk by index.
    for (size_t i = 0; i < mChannels.size(); ++i) {
        while (i < mChannels.size() && mChannels[i]->Receive(frame)) {
            Channel& channel = *mChannels[i];
            channel.driver().OnFrame(channel, frame);
            ++handed;
        }
    }
    Prune();
    return handed;
}

void Board::Prune()
{
    for (size_t i = 0; i < mChannels.size();) {
        if (mChannels[i]->IsClosed()) {
            std::unique_ptr<Channel> channel = std::move(mChannels[i]);
            mChannels.erase(mChannels.begin() + static_cast<long>(i));
            channel->driver().OnClose(*channel);
        } else {
            ++i;
        }
    }
}

int Board::Open(const char* path, int flags)
{
    Prune();
    Driver* driver = path ? Find(path) : nullptr;
    if (!driver) {
        errno = ENOENT;
        return -1;
    }
    if (TakeFailure(path, true, 0))
        return -1;

    int pair[2];
    if (::socketpair(AF_UNIX, (driver->Stream() ? SOCK_STREAM : SOCK_SEQPACKET) | SOCK_CLOEXEC, 0, pair) < 0)
        return -1;
    struct stat st {};
    if (::fstat(pair[0], &st) < 0 || ::fcntl(pair[1], F_SETFL, O_NONBLOCK) < 0
        || ((flags & O_NONBLOCK) && ::fcntl(pair[0], F_SETFL, O_NONBLOCK) < 0)) {
        int error = errno;
        ::close(pair[0]);
        ::close(pair[1]);
        errno = error;
        return -1;
    }
    auto channel = std::make_unique<Channel>(*driver, path, pair[1], st.st_dev, st.st_ino, flags);
    if (!driver->OnOpen(*channel)) {
        int error = errno ? errno : ENODEV;
        ::close(pair[0]);
        errno = error;
        return -1;
    }
    mChannels.push_back(std::move(channel));
    ++mOpens;
    return pair[0];
}

Channel* Board::Lookup(dev_t dev, ino_t ino)
{
    for (auto& channel : mChannels)
        if (channel->Matches(dev, ino))
            return channel.get();
    return nullptr;
}

int Board::Request(int fd, unsigned long code, void* arg)
{
    struct stat st {};
    if (::fstat(fd, &st) < 0)
        return -1; // EBADF, as ioctl(2)
    Channel* channel = Lookup(st.st_dev, st.st_ino);
    if (!channel) {
        errno = ENOTTY;
        return -1;
    }
    ++mRequests;
    if (TakeFailure(channel->path(), false, code))
        return -1;
    errno = 0;
    return channel->driver().OnRequest(*channel, code, arg);
}

int Board::Socket(int domain, int type, int protocol)
{
    if (domain == AF_INET && (type & ~(SOCK_CLOEXEC | SOCK_NONBLOCK)) == SOCK_DGRAM && Find(kInetSocket))
        return Open(kInetSocket, O_RDWR | ((type & SOCK_NONBLOCK) ? O_NONBLOCK : 0));
    return Device::Backend::Socket(domain, type, protocol);
}

void AddStandardDrivers(Board& board)
{
    board.Add("/dev/hal", std::make_unique<Switch>());
    board.Add("/dev/mcc/ctl", std::make_unique<Mcc>());
    board.Add("/dev/mixer", std::make_unique<Mixer>());
    board.Add("/dev/dtmf", std::make_unique<Dtmf>());
    board.Add("/dev/dsp", std::make_unique<Dsproc>());
    board.Add("/dev/dsp-data", std::make_unique<DspData>());
    board.Add("/dev/maintenance", std::make_unique<MaintenanceDevice>());
    board.Add("/dev/rtp", std::make_unique<Rtp>());
    board.Add("/dev/voice", std::make_unique<Voice>());
    board.Add("/dev/rtp_ext", std::make_unique<RtpExt>());
    board.Add("/dev/mctl", std::make_unique<ModemControl>());
    board.Add(kInetSocket, std::make_unique<NetInterfaces>());
}

} // namespace Standin
