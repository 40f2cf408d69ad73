#pragma once

#include "board/device.h"

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A simulated board behind the device layer. Each open of a simulated device
// hands the caller one end of a SOCK_SEQPACKET socket pair and keeps the
// other; requests on the caller's end (or any duplicate of it) reach the
// simulated driver registered for the device's path.

namespace Standin {

class Driver;

// The path that stands for the IPv4 datagram sockets of interface requests.
constexpr const char* kInetSocket = "socket:inet/dgram";

using Frame = std::vector<unsigned char>;

// The drivers' records of the requests they took are for tests, which read
// only recent ones: once a record holds twice this many, the older half
// goes, so a daemon running on the stand-ins keeps its memory flat.
constexpr size_t kRecentRequests = 4096;

template <class T>
void Note(std::vector<T>& record, typename std::vector<T>::value_type entry)
{
    if (record.size() >= 2 * kRecentRequests)
        record.erase(record.begin(), record.begin() + static_cast<long>(kRecentRequests));
    record.push_back(std::move(entry));
}

// One open of a simulated device, seen from the board's side.
class Channel {
public:
    Channel(Driver& driver, std::string path, int boardFd, dev_t dev, ino_t ino, int flags);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    Driver& driver() const { return mDriver; }
    const std::string& path() const { return mPath; }
    int flags() const { return mFlags; }
    // The board's end of the pair (non-blocking).
    int fd() const { return mFd; }

    // A frame for the daemon to read; false when the daemon's end is gone.
    bool Send(const Frame& frame);
    bool Send(const void* data, size_t size);
    // Takes the next frame the daemon wrote; false when there is none.
    bool Receive(Frame& frame);
    // True once every descriptor of the daemon's end is closed.
    bool IsClosed() const;
    // Whether the descriptor is (a duplicate of) the daemon's end.
    bool Holds(int fd) const;

    // Driver-private state, owned by the channel.
    struct State {
        virtual ~State() = default;
    };
    std::unique_ptr<State> state;

private:
    friend class Board;
    bool Matches(dev_t dev, ino_t ino) const { return mDev == dev && mIno == ino; }

    Driver& mDriver;
    std::string mPath;
    int mFd;
    dev_t mDev;
    ino_t mIno;
    int mFlags;
};

// A simulated device driver. Every hook runs synchronously inside the
// daemon's open or request call.
class Driver {
public:
    virtual ~Driver() = default;
    // Accepts or refuses an open (false with errno set refuses it).
    virtual bool OnOpen(Channel&) { return true; }
    // Answers a request; the result or -1 with errno, as ioctl(2).
    virtual int OnRequest(Channel& channel, unsigned long code, void* arg) = 0;
    // A frame the daemon wrote, taken out by Board::Pump.
    virtual void OnFrame(Channel&, const Frame&) {}
    // The daemon closed its last descriptor of the channel.
    virtual void OnClose(Channel&) {}
    // Whether reads give octets as they come rather than one frame each.
    virtual bool Stream() const { return false; }
};

class Board : public Device::Backend {
public:
    // Installs itself as the device layer's backend; with standard set, the
    // board's simulated devices are registered.
    explicit Board(bool standard = true);
    ~Board() override;
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Registers (or replaces) the simulated driver of a device path.
    Driver& Add(const std::string& path, std::unique_ptr<Driver> driver);
    Driver* Find(const std::string& path) const;
    template <class T> T& Get(const std::string& path) const
    {
        T* driver = dynamic_cast<T*>(Find(path));
        if (!driver)
            Missing(path);
        return *driver;
    }

    // The next `count` opens of the path fail with the error.
    void FailOpen(const std::string& path, int error, int count = 1);
    // The next `count` requests with the code on the path fail with the error.
    void FailRequest(const std::string& path, unsigned long code, int error, int count = 1);
    // From now on every read of the path's open channels fails (EISDIR).
    void FailRead(const std::string& path);

    // The open channels of a path, oldest first (closed ones are dropped).
    std::vector<Channel*> Channels(const std::string& path);
    // Hands every frame the daemon wrote to its driver's OnFrame; returns
    // how many were handed.
    size_t Pump();
    // Drops the channels whose daemon end is closed.
    void Prune();

    // Counters for tests.
    size_t opens() const { return mOpens; }
    size_t requests() const { return mRequests; }

    int Open(const char* path, int flags) override;
    int Request(int fd, unsigned long code, void* arg) override;
    // An IPv4 datagram socket is a channel of the driver at kInetSocket when
    // one is registered; any other socket is the system's.
    int Socket(int domain, int type, int protocol) override;

private:
    struct Failure {
        std::string path;
        bool open;
        unsigned long code;
        int error;
        int count;
    };
    bool TakeFailure(const std::string& path, bool open, unsigned long code);
    Channel* Lookup(dev_t dev, ino_t ino);
    [[noreturn]] static void Missing(const std::string& path);

    Device::Backend* mPrevious;
    std::map<std::string, std::unique_ptr<Driver>> mDrivers;
    std::vector<std::unique_ptr<Channel>> mChannels;
    std::vector<Failure> mFailures;
    size_t mOpens = 0;
    size_t mRequests = 0;
};

// Registers the board's simulated devices; a new simulated device is one
// more line here.
void AddStandardDrivers(Board& board);

} // namespace Standin
