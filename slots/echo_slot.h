#pragma once

#include "core/slot.h"

#include <array>
#include <cstdint>

// One channel of an echo-canceller bus, named bus * 32 + channel.
class EchoSlot : public Slot
{
public:
    explicit EchoSlot(uint32_t id) : mId(id) {}

    void IAfterCreate() override;
    bool IBeforeDestroy() override { return true; }
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return static_cast<int>(mId); }
    int IGetReceiveChannel() override { return static_cast<int>(mId); }
    const char* GetName() const override { return "echo"; }

private:
    uint32_t mId;
};

// Serves echo creates on the buses found present. The board gives no way
// to find a bus, so the scan finds none and every echo create is refused.
class EchoFactory : public SlotFactory
{
public:
    static constexpr int kBuses = 16;
    static constexpr int kChannels = 32;

    static EchoFactory& instance();

    const char* GetName() const override { return "Echo"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;
    void Scan();

protected:
    EchoFactory();

    std::array<uint8_t, kBuses> mPresent{};
};
