#include "core/slots_service.h"

#include "protocol/lgcp.h"

#include <iostream>

SlotsService::SlotsService()
{
    Slots::instance().SetNotify(this);
    mDestroyAll.Bind(this, &SlotsService::DestroyAll);
}

SlotsService::~SlotsService()
{
    if (Slots::instance().GetNotify() == this)
        Slots::instance().SetNotify(nullptr);
}

void SlotsService::Reply(Answer::Type answer, int slot)
{
    if (answer == Answer::success) {
        Success();
        return;
    }
    Slot* found = Slots::instance().Find(slot);
    std::cerr << "slots: command on ";
    if (found)
        std::cerr << *found;
    else
        std::cerr << slot;
    std::cerr << " refused: " << LGCP::ErrorCause(static_cast<LGCP::ErrorCause::NamedNumber>(answer)) << std::endl;
    Error(answer);
}

bool SlotsService::OnCommand(LGCP::Message const& message)
{
    Slots& slots = Slots::instance();
    const LGCP::Command& command = message.get_pdu().get_command();
    int id = message.slot_isPresent() ? static_cast<int>(message.get_slot().getValue()) : -1;
    switch (command.currentSelection()) {
    case LGCP::Command::query_chosen:
        SendResources();
        Success();
        return true;
    case LGCP::Command::connect_chosen: {
        std::vector<int> receivers;
        for (const auto& receiver : command.get_connect())
            receivers.push_back(static_cast<int>(receiver.getValue()));
        Reply(slots.Connect(id, receivers), id);
        return true;
    }
    case LGCP::Command::disconnect_chosen:
        Reply(slots.Disconnect(id), id);
        return true;
    case LGCP::Command::create_chosen: {
        Slot* made = nullptr;
        Answer::Type answer = slots.Create(id, command.get_create(), made);
        Reply(answer, id);
        if (made)
            made->IAfterCreate();
        return true;
    }
    case LGCP::Command::destroy_chosen: {
        Slot* slot = slots.Find(id);
        Answer::Type answer = slots.Destroy(id);
        if (answer == Answer::delayed)
            mDelayed[slot] = Delay();
        else
            Reply(answer, id);
        return true;
    }
    case LGCP::Command::activate_chosen:
        Reply(slots.Activate(id, command.get_activate()), id);
        return true;
    case LGCP::Command::deactivate_chosen:
        Reply(slots.Deactivate(id), id);
        return true;
    case LGCP::Command::userData_chosen: {
        const auto& octets = command.get_userData();
        std::vector<char> data(octets.begin(), octets.end());
        Reply(slots.UserData(id, data), id);
        return true;
    }
    case LGCP::Command::ioctl_chosen:
        Reply(slots.Ioctl(id, command.get_ioctl()), id);
        return true;
    default:
        return false;
    }
}

void SlotsService::OnConnect()
{
    // A new controller never meets the slots of the last one.
    if (mDestroyAll.is_active())
        DestroyAll();
}

void SlotsService::OnDisconnect()
{
    // The answers of deferred destroys went with the connection.
    mDelayed.clear();
    mDestroyAll.Activate();
}

void SlotsService::DestroyAll()
{
    mDestroyAll.Deactivate();
    Slots::instance().DestroyAll();
}

void SlotsService::OnSignal(int, LGCP::Signal const& signal)
{
    if (!signal.trunkStatus_isSelected())
        return;
    for (SlotFactory* factory = SlotFactory::first(); factory; factory = factory->next())
        factory->SelfSignal(signal);
}

void SlotsService::OnStream(Slot& slot, bool transmitter, bool active, int channel)
{
    LGCP::Signal signal;
    LGCP::StreamState& state = transmitter ? signal.select_transmitter() : signal.select_receiver();
    state.set_active(active);
    state.set_channel(channel);
    SendSignal(slot.GetId(), signal);
}

void SlotsService::OnReleased(Slot& slot)
{
    auto it = mDelayed.find(&slot);
    if (it == mDelayed.end())
        return;
    CtrlSrv::Token token = it->second;
    mDelayed.erase(it);
    Success(token);
}

void SlotsService::OnSignal(Slot& slot, LGCP::Signal const& signal)
{
    SendSignal(slot.GetId(), signal);
}

void SlotsService::Query(LGCP::Resources& resources)
{
    for (SlotFactory* factory = SlotFactory::first(); factory; factory = factory->next())
        factory->Query(resources);
}

void SlotsService::SendResources()
{
    LGCP::Signal signal;
    Query(signal.select_resources());
    SendSignal(-1, signal);
}
