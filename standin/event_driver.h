#pragma once

#include "standin/board.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// A simulated device that takes requests on time slots and raises event
// records, one per read, on every open descriptor of it.

namespace Standin {

class EventDriver : public Driver {
public:
    bool OnOpen(Channel& channel) override;
    void OnClose(Channel& channel) override;
    int OnRequest(Channel& channel, unsigned long code, void* arg) override;

    // Raises one record; the number of descriptors that got it.
    size_t Raise(const void* record, size_t size);
    template <class T>
    size_t Raise(const T& record)
    {
        return Raise(&record, sizeof record);
    }

    // Every request code taken, in order.
    const std::vector<unsigned long>& codes() const { return mCodes; }
    void ClearCodes() { mCodes.clear(); }
    size_t open() const { return mChannels.size(); }

protected:
    // Answers a request whose argument is present and whose first word is
    // a switch channel.
    virtual int Answer(unsigned long code, int32_t timeslot, void* arg) = 0;

private:
    std::vector<Channel*> mChannels;
    std::vector<unsigned long> mCodes;
};

int Refuse(int error);

// A request's record, copied out of its argument.
template <class T>
T Record(const void* arg)
{
    T record;
    std::memcpy(&record, arg, sizeof record);
    return record;
}

// Forgets what a time slot was told, counting the release.
template <class Line>
void Release(Line& line)
{
    int releases = line.releases + 1;
    line = Line{};
    line.releases = releases;
}

} // namespace Standin
