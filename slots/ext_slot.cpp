#include "slots/ext_slot.h"

#include "board/hal.h"
#include "board/hw_mux.h"
#include "core/slots.h"
#include "protocol/lgcp.h"

#include <iostream>

void ExtSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
}

bool ExtSlot::IActivate(TERM::TermActivateParams const&)
{
    // Already active: a source may feed the output, and keeps doing so.
    if (GetInputStream())
        return true;
    OnChangeInputStream(true);
    // The output carries the idle byte until a source is connected.
    HwMux::instance().Disconnect(IGetReceiveChannel());
    return true;
}

bool ExtSlot::IDeactivate()
{
    OnChangeInputStream(false);
    HwMux::instance().Disable(IGetReceiveChannel());
    return true;
}

bool ExtSlot::IBeforeDestroy()
{
    HwMux::instance().Disable(IGetReceiveChannel());
    return true;
}

ExtFactory& ExtFactory::instance()
{
    static ExtFactory factory;
    return factory;
}

Slot* ExtFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.ext_isSelected())
        return nullptr;
    const LGCP::ExtParams& ext = params.get_ext();
    int transmit = ext.get_transmitter().getValue();
    int receive = ext.get_receiver().getValue();
    // Only channels the switch has: any other would reach outputs that
    // belong to no one, or to another slot.
    constexpr int kChannels = Hal::kBuses * Hal::kTimeSlots;
    if (transmit < 0 || transmit >= kChannels || receive < 0 || receive >= kChannels) {
        std::cerr << "ext: " << transmit << "/" << receive << " are not switch channels" << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return nullptr;
    }
    return new ExtSlot(static_cast<uint32_t>(Hal::kFirstChannel + transmit), static_cast<uint32_t>(Hal::kFirstChannel + receive));
}
