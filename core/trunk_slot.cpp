#include "core/trunk_slot.h"

#include "board/hal.h"
#include "protocol/lgcp.h"

#include <cstdio>

ChannelSlot::ChannelSlot(SlotFactory& factory, const char* name, int channel, int trunk, int timeSlot)
    : Slot(factory), mName(name), mChannel(channel), mTrunk(trunk), mTimeSlot(timeSlot)
{
}

void ChannelSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

namespace {

TrunkFactory gE1[TrunkFactory::kE1Trunks] = {
    {TrunkFactory::E1, 0}, {TrunkFactory::E1, 1}, {TrunkFactory::E1, 2}, {TrunkFactory::E1, 3}};
TrunkFactory gBri[TrunkFactory::kBriTrunks] = {
    {TrunkFactory::BRI, 0}, {TrunkFactory::BRI, 1}, {TrunkFactory::BRI, 2}, {TrunkFactory::BRI, 3},
    {TrunkFactory::BRI, 4}, {TrunkFactory::BRI, 5}, {TrunkFactory::BRI, 6}, {TrunkFactory::BRI, 7}};

// E1 trunk t runs on bus t, its time slots on the same numbers; the BRI
// B channels share bus 4, two time slots per trunk.
constexpr int kBriBus = 4;

bool Taken(const SlotFactory& factory, int channel)
{
    for (Slot* slot : factory.slots())
        if (slot->GetTransmitChannel() == channel)
            return true;
    return false;
}

} // namespace

TrunkFactory::TrunkFactory(Kind kind, int trunk)
    : mKind(kind), mTrunk(trunk)
{
    std::snprintf(mName, sizeof mName, "%s%d", kind == E1 ? "e1-" : "bri-", trunk + 1);
}

TrunkFactory& TrunkFactory::e1(int trunk)
{
    return gE1[trunk];
}

TrunkFactory& TrunkFactory::bri(int trunk)
{
    return gBri[trunk];
}

int TrunkFactory::Channel(int index) const
{
    if (mKind == E1)
        return index >= 1 && index <= 31 ? Hal::Channel(mTrunk, index) : -1;
    return index >= 1 && index <= 2 ? Hal::Channel(kBriBus, mTrunk * 2 + index - 1) : -1;
}

Slot* TrunkFactory::Make(int index)
{
    int channel = Channel(index);
    if (channel < 0 || Taken(*this, channel))
        return nullptr;
    return new ChannelSlot(*this, mKind == E1 ? "e1" : "bri", channel, mTrunk, index);
}

Slot* TrunkFactory::INewSlot(LGCP::CreateParams const& params)
{
    // Trunks count from 1 in the create parameters.
    if (mKind == E1 && params.e1_isSelected()) {
        const LGCP::E1Params& e1 = params.get_e1();
        if (static_cast<int>(e1.get_trunk().getValue()) == mTrunk + 1)
            return Make(static_cast<int>(e1.get_timeslot().getValue()));
    }
    if (mKind == BRI && params.bri_isSelected()) {
        const LGCP::BriParams& bri = params.get_bri();
        if (static_cast<int>(bri.get_trunk().getValue()) == mTrunk + 1)
            return Make(static_cast<int>(bri.get_channel().getValue()));
    }
    return nullptr;
}

void TrunkFactory::Query(LGCP::Resources& resources)
{
    ASN1::INTEGER number;
    number.setValue(mTrunk + 1);
    if (mKind == E1)
        resources.get_e1().push_back(number);
    else
        resources.get_bri().push_back(number);
}

void TrunkFactory::SelfSignal(LGCP::Signal const& signal)
{
    if (!signal.trunkStatus_isSelected())
        return;
    const ACP::TrunkStatus& status = signal.get_trunkStatus();
    // Trunk status from the E1 service counts trunks from 0.
    if (mKind != E1 || status.get_trunk().getValue() != mTrunk)
        return;
    auto state = status.get_state().asNamedNumber();
    std::vector<Slot*> slots = this->slots();
    for (Slot* slot : slots)
        slot->OnTrunkStatus(static_cast<unsigned>(mTrunk), state);
}

MapFactory& MapFactory::instance()
{
    static MapFactory factory;
    return factory;
}

Slot* MapFactory::INewSlot(LGCP::CreateParams const& params)
{
    return params.map_isSelected() ? Make(static_cast<int>(params.get_map().get_channel().getValue())) : nullptr;
}

Slot* MapFactory::Make(int channel)
{
    int switchChannel = Hal::kFirstChannel + channel;
    if (!Hal::IsChannel(switchChannel) || Taken(*this, switchChannel))
        return nullptr;
    return new ChannelSlot(*this, "map", switchChannel);
}
