#include "standin/rtp.h"

#include <sys/socket.h>

#include "standin/event_driver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Standin {

namespace {

struct SessionState : Channel::State {
    Rtp::Session session;
};

size_t RecordSize(unsigned long code)
{
    return (code >> 16) & 0x1FFF;
}

} // namespace

bool Rtp::OnOpen(Channel& channel)
{
    auto state = std::make_unique<SessionState>();
    state->session.open = ++mOpens;
    channel.state = std::move(state);
    mChannels.push_back(&channel);
    return true;
}

void Rtp::OnClose(Channel& channel)
{
    mChannels.erase(std::remove(mChannels.begin(), mChannels.end(), &channel), mChannels.end());
}

Rtp::Session& Rtp::Of(Channel& channel)
{
    return static_cast<SessionState&>(*channel.state).session;
}

Channel* Rtp::ChannelOf(int tdm) const
{
    for (Channel* channel : mChannels)
        if (!channel->IsClosed() && static_cast<SessionState&>(*channel->state).session.tdm == tdm)
            return channel;
    return nullptr;
}

bool Rtp::Hangup(int tdm)
{
    Channel* channel = ChannelOf(tdm);
    return channel && ::shutdown(channel->fd(), SHUT_RDWR) == 0;
}

const Rtp::Session* Rtp::At(int tdm) const
{
    Channel* channel = ChannelOf(tdm);
    return channel ? &static_cast<SessionState&>(*channel->state).session : nullptr;
}

std::vector<unsigned long> Rtp::codes() const
{
    std::vector<unsigned long> codes;
    for (const Logged& l : mLog)
        codes.push_back(l.code);
    return codes;
}

bool Rtp::Raise(int tdm, const void* data, size_t size)
{
    Channel* channel = ChannelOf(tdm);
    return channel && channel->Send(data, size);
}

int Rtp::OnRequest(Channel& channel, unsigned long code, void* arg)
{
    Session& s = Of(channel);
    size_t size = RecordSize(code);
    if (size && !arg)
        return Refuse(EFAULT);
    const auto* bytes = static_cast<const unsigned char*>(arg);
    Note(mLog, {s.open, code, std::vector<unsigned char>(bytes, bytes + (arg ? size : 0))});

    switch (code) {
    case 0xC02C5200UL: // begin session
        if (s.begun)
            return Refuse(EBUSY);
        s.params = Record<rtp_connection_params>(arg);
        s.begun = true;
        return 0;
    case 0xC0105202UL: { // add channel
        auto add = Record<rtp_add_channel>(arg);
        if (!s.begun || s.tdm >= 0)
            return Refuse(EINVAL);
        int tdm = add.info.tdm;
        if (tdm < 0) {
            for (tdm = kFirstChannel; tdm < kFirstChannel + kChannels && ChannelOf(tdm); ++tdm) {
            }
            if (tdm == kFirstChannel + kChannels)
                return Refuse(ENOSPC);
        } else if (ChannelOf(tdm)) {
            return Refuse(EBUSY);
        }
        s.tdm = tdm;
        s.bss = add.bss;
        add.info = {tdm, 0, tdm - kFirstChannel};
        std::memcpy(arg, &add, sizeof add);
        return 0;
    }
    case 0x2000520AUL:
    case 0x20005203UL:
    case 0x2000520BUL:
        ++s.teardowns;
        s.transmitting = false;
        return 0;
    case 0x20005204UL:
    case 0x20005205UL:
        if (s.tdm < 0)
            return Refuse(EINVAL);
        s.transmitting = code == 0x20005204UL;
        return 0;
    case 0xC024520CUL: {
        auto pd = Record<rtp_pd_params>(arg);
        if (pd.word[0] != 1 || pd.word[2] != pd.word[5])
            return Refuse(EINVAL);
        s.pd = true;
        s.pdTimeout = pd.word[2];
        return 0;
    }
    case 0x8004520DUL:
        if (Record<uint32_t>(arg) != 1)
            return Refuse(EINVAL);
        s.pd = false;
        return 0;
    case 0xC0085209UL: // attach: taken as is
        return 0;
    default:
        return Refuse(ENOTTY);
    }
}

Voice::Voice()
    : mCounts{{4, 8}, {2, 8}, {1, 30}, {8, 30}, {0x41, 30}}
{
}

int Voice::OnRequest(Channel&, unsigned long code, void* arg)
{
    if (!arg)
        return Refuse(EFAULT);
    if (code == 0x4014560AUL) { // version
        std::memcpy(arg, mVersion.data(), sizeof mVersion);
        return 0;
    }
    if (code != 0x40045602UL)
        return Refuse(ENOTTY);
    uint32_t mask = Record<uint32_t>(arg);
    Note(mMasks, mask);
    auto it = mCounts.find(mask);
    return it == mCounts.end() ? 0 : it->second;
}

} // namespace Standin
