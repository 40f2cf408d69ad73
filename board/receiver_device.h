#pragma once

#include "framework/event.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

namespace Hardware {

// Whether a descriptor that read 0 octets has lost its far end.
bool HungUp(int fd);

// An event device shared by the receivers of one kind: requests name a time
// slot, and each read gives one event record for a time slot. The device is
// open while receivers exist; one that fails or hangs up is closed and
// opened again by the next request.
class ReceiverDevice
{
public:
    ReceiverDevice(const char* path, const char* name);
    virtual ~ReceiverDevice();
    ReceiverDevice(const ReceiverDevice&) = delete;
    ReceiverDevice& operator=(const ReceiverDevice&) = delete;

    bool Open();
    void Close();
    bool is_open() const { return mEvent.IsActive(); }
    // The request with its record; false, logged, on failure.
    bool Request(unsigned long code, void* record, int timeslot);

    void PutHeader(std::ostream& os) const;
    unsigned long unrouted() const { return mUnrouted; }

protected:
    // One record as read from the device.
    virtual void OnRecord(const unsigned char* data, size_t size) = 0;
    void Dropped(const char* what, int timeslot, uint32_t type);
    void Unrouted(int timeslot, uint32_t type);

private:
    void OnEvent(int fd, short revents);

    const char* mPath;
    const char* mName;
    Event mEvent;
    unsigned long mUnrouted = 0;
};

// The registry of one kind of receiver on its device. Events go to the
// receivers whose time slot is the event's.
template <class R>
class ReceiverService : public ReceiverDevice
{
public:
    using ReceiverDevice::ReceiverDevice;

    void Attach(R* receiver)
    {
        mReceivers.push_back(receiver);
        if (!is_open())
            Open();
    }
    void Detach(R* receiver)
    {
        mReceivers.erase(std::remove(mReceivers.begin(), mReceivers.end(), receiver), mReceivers.end());
        if (mReceivers.empty())
            Close();
    }
    size_t count() const { return mReceivers.size(); }

protected:
    virtual int TimeslotOf(const R& receiver) const = 0;

    // Hands the event to every receiver of the time slot; a receiver that
    // goes away meanwhile is skipped. Logged when nobody holds the slot.
    template <class Deliver>
    void Route(int timeslot, uint32_t type, Deliver deliver)
    {
        bool taken = false;
        std::vector<R*> now = mReceivers;
        for (R* receiver : now) {
            if (std::find(mReceivers.begin(), mReceivers.end(), receiver) == mReceivers.end())
                continue;
            if (timeslot >= 0 && TimeslotOf(*receiver) == timeslot) {
                taken = true;
                deliver(*receiver);
            }
        }
        if (!taken)
            Unrouted(timeslot, type);
    }

private:
    std::vector<R*> mReceivers;
};

} // namespace Hardware
