#include "standin/mcc.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace Standin {

struct Mcc::State : Channel::State {
    int timeslot = -1;
    Allocation allocation;
    std::vector<Frame> written;
    // Frames of our own queued ahead of the daemon's to fill its send
    // buffer; they are dropped as they come out.
    size_t filler = 0;
};

namespace {

constexpr unsigned long kAllocate = 0x40144D00UL;
constexpr unsigned long kTimeslot = 0x20004D02UL;
constexpr unsigned long kResources = 0x80104D03UL;

constexpr uint32_t kKinds = 4;
constexpr size_t kFillerSize = 4096;

int Error(int error)
{
    errno = error;
    return -1;
}

// One of the daemon's descriptors of the channel (a duplicate of it when
// dup is set), or -1.
int DaemonEnd(const Channel& channel, bool dup = true)
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int found = -1;
    int own = ::dirfd(dir);
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        long fd = std::strtol(entry->d_name, &end, 10);
        if (*end || end == entry->d_name || fd == own || fd == channel.fd())
            continue;
        if (channel.Holds(static_cast<int>(fd))) {
            found = dup ? ::fcntl(static_cast<int>(fd), F_DUPFD_CLOEXEC, 0) : static_cast<int>(fd);
            break;
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace

Mcc::Mcc(int firstTimeslot, int channels, bool stream)
    : mResources{static_cast<uint32_t>(channels) / 2, static_cast<uint32_t>(channels) / 4,
                 static_cast<uint32_t>(channels) / 4, 0},
      mStream(stream)
{
    for (int i = 0; i < channels; ++i)
        mPool.push_back(firstTimeslot + i);
}

void Mcc::SetResources(uint32_t data, uint32_t bri, uint32_t transparent)
{
    mResources[0] = data;
    mResources[1] = bri;
    mResources[2] = transparent;
}

Mcc::State* Mcc::StateOf(Channel& channel) const
{
    if (!channel.state)
        channel.state = std::make_unique<State>();
    return static_cast<State*>(channel.state.get());
}

int Mcc::OnRequest(Channel& channel, unsigned long code, void* arg)
{
    State* state = StateOf(channel);
    switch (code) {
    case kAllocate: {
        if (!arg)
            return Error(EFAULT);
        if (state->timeslot >= 0)
            return Error(EBUSY);
        Allocation record;
        std::memcpy(&record, arg, sizeof record);
        if (record.kind >= kKinds || record.packetSize == 0)
            return Error(EINVAL);
        auto it = std::find_if(mPool.begin(), mPool.end(), [&](int t) { return !mUsed.count(t); });
        if (it == mPool.end())
            return Error(ENOSPC);
        state->timeslot = *it;
        state->allocation = record;
        mUsed[*it] = &channel;
        return 0;
    }
    case kTimeslot:
        return state->timeslot >= 0 ? state->timeslot : Error(EINVAL);
    case kResources:
        if (!arg)
            return Error(EFAULT);
        std::memcpy(arg, mResources, sizeof mResources);
        return 0;
    default:
        return Error(ENOTTY);
    }
}

void Mcc::Collect(Channel& channel, const Frame& frame)
{
    State* state = StateOf(channel);
    if (state->filler > 0)
        --state->filler;
    else
        state->written.push_back(frame);
}

void Mcc::OnFrame(Channel& channel, const Frame& frame)
{
    Collect(channel, frame);
}

void Mcc::OnClose(Channel& channel)
{
    State* state = StateOf(channel);
    if (state->timeslot >= 0)
        mUsed.erase(state->timeslot);
    state->timeslot = -1;
}

std::vector<int> Mcc::Timeslots() const
{
    std::vector<int> result;
    for (const auto& used : mUsed)
        result.push_back(used.first);
    return result;
}

Channel* Mcc::Find(int timeslot) const
{
    auto it = mUsed.find(timeslot);
    return it == mUsed.end() ? nullptr : it->second;
}

const Mcc::Allocation* Mcc::At(int timeslot) const
{
    Channel* channel = Find(timeslot);
    return channel ? &StateOf(*channel)->allocation : nullptr;
}

bool Mcc::Inject(int timeslot, const Frame& frame)
{
    Channel* channel = Find(timeslot);
    return channel && channel->Send(frame);
}

std::vector<Frame> Mcc::Written(int timeslot)
{
    Channel* channel = Find(timeslot);
    if (!channel)
        return {};
    Drain(timeslot);
    return std::exchange(StateOf(*channel)->written, {});
}

void Mcc::Drain(int timeslot)
{
    Channel* channel = Find(timeslot);
    if (!channel)
        return;
    Frame frame;
    while (channel->Receive(frame))
        Collect(*channel, frame);
}

bool Mcc::Refuse(int timeslot)
{
    Channel* channel = Find(timeslot);
    if (!channel)
        return false;
    Drain(timeslot); // the daemon's frames so far stay ahead of the filler
    int fd = DaemonEnd(*channel);
    if (fd < 0)
        return false;
    State* state = StateOf(*channel);
    Frame filler(kFillerSize, 0);
    while (::send(fd, filler.data(), filler.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0)
        ++state->filler;
    ::close(fd);
    return state->filler > 0;
}

bool Mcc::Hangup(int timeslot)
{
    Channel* channel = Find(timeslot);
    return channel && ::shutdown(channel->fd(), SHUT_RDWR) == 0;
}

bool Mcc::FailReads(int timeslot)
{
    Channel* channel = Find(timeslot);
    // Reading this process's memory at address 0 fails with EIO, and the
    // descriptor always polls readable.
    int bad = channel ? ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC) : -1;
    if (bad < 0)
        return false;
    int replaced = 0;
    for (int fd; (fd = DaemonEnd(*channel, false)) >= 0 && ::dup2(bad, fd) >= 0;)
        ++replaced;
    ::close(bad);
    return replaced > 0;
}

bool Mcc::BreakWrites(int timeslot)
{
    Channel* channel = Find(timeslot);
    return channel && ::shutdown(channel->fd(), SHUT_RD) == 0;
}

} // namespace Standin
