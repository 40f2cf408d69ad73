#include "slots/echo_slot.h"

#include "protocol/lgcp.h"

#include <iostream>

void EchoSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

EchoFactory& EchoFactory::instance()
{
    static EchoFactory factory;
    return factory;
}

EchoFactory::EchoFactory()
{
    Scan();
}

void EchoFactory::Scan()
{
    mPresent.fill(0);
    std::clog << "Scanning echo channels ..." << std::endl;
}

Slot* EchoFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.echo_isSelected())
        return nullptr;
    const LGCP::EchoParams& echo = params.get_echo();
    int bus = echo.get_bus().getValue();
    int channel = echo.get_channel().getValue();
    // Only channels a present bus has; a bus or channel outside them is
    // no resource of this board.
    if (bus < 0 || bus >= kBuses || !mPresent[static_cast<size_t>(bus)] || channel < 0 || channel >= kChannels)
        return nullptr;
    return new EchoSlot(static_cast<uint32_t>(bus * kChannels + channel));
}

void EchoFactory::Query(LGCP::Resources& resources)
{
    auto& buses = resources.set_echoBus();
    for (int bus = 0; bus < kBuses; ++bus) {
        if (mPresent[static_cast<size_t>(bus)]) {
            ASN1::INTEGER number;
            number.setValue(bus);
            buses.push_back(number);
        }
    }
}
