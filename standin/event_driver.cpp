#include "standin/event_driver.h"

#include "board/hal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Standin {

int Refuse(int error)
{
    errno = error;
    return -1;
}

bool EventDriver::OnOpen(Channel& channel)
{
    mChannels.push_back(&channel);
    return true;
}

void EventDriver::OnClose(Channel& channel)
{
    mChannels.erase(std::remove(mChannels.begin(), mChannels.end(), &channel), mChannels.end());
}

int EventDriver::OnRequest(Channel&, unsigned long code, void* arg)
{
    Note(mCodes, code);
    if (!arg)
        return Refuse(EFAULT);
    int32_t timeslot;
    std::memcpy(&timeslot, arg, sizeof timeslot);
    if (!Hal::IsChannel(timeslot))
        return Refuse(EINVAL);
    return Answer(code, timeslot, arg);
}

size_t EventDriver::Raise(const void* record, size_t size)
{
    size_t sent = 0;
    for (Channel* channel : mChannels)
        sent += channel->Send(record, size);
    return sent;
}

} // namespace Standin
