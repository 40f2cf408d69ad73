#pragma once

#include "core/slot.h"
#include "framework/event.h"

#include <iosfwd>

// A raw data channel of the MCC controller: what the channel gives goes up
// as the slot's user data, and the controller's user data is written to it.
// The event holds the channel's descriptor, the daemon's only hold on it.
class MccSlot : public Slot
{
public:
    // The channel must have its time slot (TimeslotOf).
    MccSlot(Fd const& channel, int timeslot);

    bool IUserData(std::vector<char> const& data) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return mTimeslot; }
    int IGetReceiveChannel() override { return mTimeslot; }
    const char* GetName() const override { return "MCC"; }

    // Octets of the largest user data sent up in one signal.
    static constexpr size_t kBlock = 1024;

private:
    enum Drain { Drained, More, Gone };
    void OnEvent(int fd, short revents);
    // Sends up what the channel holds, up to a cap per call.
    Drain DoRead(int fd);
    void Lost(const char* why);

    int mTimeslot;
    Event mEvent;
};

class MccFactory : public SlotFactory
{
public:
    static MccFactory& instance();

    const char* GetName() const override { return "MCC"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;

    void PutHeader(std::ostream& os) const;

private:
    MccFactory() = default;
};
