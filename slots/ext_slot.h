#pragma once

#include "core/slot.h"

#include <cstdint>

// A pair of switch channels that lead to equipment outside the board's own
// resources: the transmit channel is offered as a source at once; the
// receive channel's output is fed only while the slot is active.
class ExtSlot : public Slot
{
public:
    ExtSlot(unsigned transmit, unsigned receive) : mTransmit(transmit), mReceive(receive) {}

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool IOnOutputStream() override { return true; }
    // A source is taken only while the slot is active.
    bool IOnInputStream() override { return GetInputStream(); }
    int IGetTransmitChannel() override { return static_cast<int>(mTransmit); }
    int IGetReceiveChannel() override { return static_cast<int>(mReceive); }
    const char* GetName() const override { return "bri"; }

private:
    uint32_t mTransmit;
    uint32_t mReceive;
};

class ExtFactory : public SlotFactory
{
public:
    static ExtFactory& instance();

    const char* GetName() const override { return "Ext"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;

private:
    ExtFactory() = default;
};
