#include "standin/rtp_ext.h"

#include "standin/event_driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Standin {

namespace {

struct ExtState : Channel::State {
    RtpExt::Session session;
};

RtpExt::Session& Of(Channel& channel)
{
    return static_cast<ExtState&>(*channel.state).session;
}

} // namespace

bool RtpExt::OnOpen(Channel& channel)
{
    channel.state = std::make_unique<ExtState>();
    mChannels.push_back(&channel);
    return true;
}

void RtpExt::OnClose(Channel& channel)
{
    mChannels.erase(std::remove(mChannels.begin(), mChannels.end(), &channel), mChannels.end());
}

std::vector<RtpExt::Session*> RtpExt::Sessions() const
{
    std::vector<Session*> sessions;
    for (Channel* channel : mChannels)
        if (!channel->IsClosed())
            sessions.push_back(&Of(*channel));
    return sessions;
}

size_t RtpExt::Receive(const Frame& packet, in_addr from, uint32_t ssrc)
{
    size_t got = 0;
    for (Channel* channel : mChannels) {
        if (channel->IsClosed() || !channel->Send(packet))
            continue;
        Of(*channel).pending.push_back({{ssrc, from.s_addr, static_cast<uint32_t>(packet.size())}});
        ++got;
    }
    return got;
}

void RtpExt::OnFrame(Channel& channel, const Frame& frame)
{
    Of(channel).written.push_back(frame);
}

int RtpExt::OnRequest(Channel& channel, unsigned long code, void* arg)
{
    Session& s = Of(channel);
    switch (code) {
    case 0xC0144500UL:
        if (!arg)
            return Refuse(EFAULT);
        s.init = Record<rtp_ext_init_params>(arg);
        s.inited = true;
        return 0;
    case 0xC0084501UL: {
        if (!arg)
            return Refuse(EFAULT);
        auto attach = Record<rtp_ext_attach_session_params>(arg);
        // A session of this process must name a live descriptor.
        if (!s.inited || (attach.pid_rtp == ::getpid() && ::fcntl(attach.fd_rtp, F_GETFD) < 0))
            return Refuse(EBADF);
        s.attach = attach;
        s.attached = true;
        return 0;
    }
    case 0x20004502UL:
        if (!s.attached)
            return Refuse(EINVAL);
        s.attached = false;
        ++mDetaches;
        return 0;
    case 0xC00C4503UL: {
        if (!arg)
            return Refuse(EFAULT);
        if (s.pending.empty())
            return 0;
        std::memcpy(arg, &s.pending.front(), sizeof(rtp_ext_packet_info));
        s.pending.pop_front();
        return 1;
    }
    case 0xC0084504UL:
        if (!arg)
            return Refuse(EFAULT);
        s.filter = Record<rtp_ext_source_filter>(arg).addr;
        s.filtered = true;
        ++s.filterRequests;
        return 0;
    case 0x20004505UL:
        s.filtered = false;
        ++s.filterRequests;
        return 0;
    default:
        return Refuse(ENOTTY);
    }
}

} // namespace Standin
