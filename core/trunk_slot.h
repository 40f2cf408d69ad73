#pragma once

#include "core/slot.h"

// One switch channel used both ways, with both streams announced at once:
// the time slots of the E1 and BRI trunks, and mapped switch channels.
class ChannelSlot : public Slot
{
public:
    ChannelSlot(SlotFactory& factory, const char* name, int channel, int trunk = -1, int timeSlot = -1);

    int GetTrunk() override { return mTrunk; }
    int GetTrunkTimeSlot() override { return mTimeSlot; }
    void IAfterCreate() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return mChannel; }
    int IGetReceiveChannel() override { return mChannel; }
    const char* GetName() const override { return mName; }

private:
    const char* mName;
    int mChannel;
    int mTrunk;
    int mTimeSlot;
};

// The slots of one trunk. The four E1 and eight BRI factories are static
// objects, so they sit behind every factory made at start-up.
class TrunkFactory : public SlotFactory
{
public:
    enum Kind { E1, BRI };
    static constexpr int kE1Trunks = 4;
    static constexpr int kBriTrunks = 8;

    TrunkFactory(Kind kind, int trunk);

    static TrunkFactory& e1(int trunk);
    static TrunkFactory& bri(int trunk);

    const char* GetName() const override { return mName; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;
    void SelfSignal(LGCP::Signal const& signal) override;

    Kind kind() const { return mKind; }
    int trunk() const { return mTrunk; }
    // The switch channel of a time slot (E1, 1..31) or B channel (BRI, 1..2);
    // -1 outside the trunk.
    int Channel(int index) const;
    // A slot on the time slot or B channel; null when it is outside the
    // trunk or already has a slot.
    Slot* Make(int index);

private:
    Kind mKind;
    int mTrunk; // from 0
    char mName[16];
};

// Switch channels taken as they are: channel N of the create parameters is
// switch channel 8192 + N.
class MapFactory : public SlotFactory
{
public:
    static MapFactory& instance();

    const char* GetName() const override { return "map"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    Slot* Make(int channel);

private:
    MapFactory() = default;
};
