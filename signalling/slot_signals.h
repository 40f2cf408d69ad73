#pragma once

#include "board/hdlc.h"
#include "core/slot.h"
#include "core/slots.h"
#include "net/protocol.h"
#include "protocol/lgcp.h"
#include "signalling/refusal.h"

#include <vector>

// A trunk report of the E1 service to every slot of the factory; other
// signals are not theirs.
inline void PassTrunkStatus(SlotFactory& factory, LGCP::Signal const& signal)
{
    if (!signal.trunkStatus_isSelected())
        return;
    const ACP::TrunkStatus& status = signal.get_trunkStatus();
    auto state = status.get_state().asNamedNumber();
    // A slot may leave the list meanwhile: walk a copy.
    std::vector<Slot*> slots = factory.slots();
    for (Slot* slot : slots)
        slot->OnTrunkStatus(static_cast<unsigned>(status.get_trunk().getValue()), state);
}

// The channel's counters to the controller as an ioctl response.
inline void SendHdlcReport(Slot& slot, HDLC::Statistics const& s)
{
    LGCP::IoctlResponse response;
    LGCP::HdlcLinkInfo& info = response.select_hdlcLinkInfo();
    info.set_txSU(s.sent);
    info.set_txDiscard(s.discarded);
    info.set_txError(s.errors);
    info.set_txOverflow(s.overflows);
    info.set_rxSU(s.received);
    slot.OnIoctlResponse(response);
}

// The controller's user data down a slot's protocol family, with the head
// room of its layers.
inline void UserDataDown(Protocol& family, std::vector<char> const& data)
{
    Packet p;
    family.prepare_head(p);
    if (!data.empty())
        std::copy(data.begin(), data.end(), p.put(static_cast<unsigned>(data.size())));
    family.message(p);
}

// The answer to user data its link did not take (the link has logged and
// counted it): a full queue or a link out of service may take it later; a
// message for a call no terminal holds names the wrong call, and one no
// frame can carry is the controller's error on any link. A channel or
// device that is gone is the board's failure, not the controller's, and
// nothing is waited for: the control protocol's busError, for every kind.
inline bool UserDataTaken(Refusal why)
{
    switch (why) {
    case Refusal::none:
        return true;
    case Refusal::full:
    case Refusal::out_of_service:
        Answer::Refuse(Answer::insufficientResources);
        return false;
    case Refusal::unrouted:
    case Refusal::invalid:
        Answer::Refuse(Answer::invalidParams);
        return false;
    case Refusal::gone:
        Answer::Refuse(Answer::busError);
        return false;
    }
    return false;
}

// A payload leaving the family upward, as the slot's user data.
inline void UserDataUp(Slot& slot, Packet& p)
{
    const unsigned char* d = p.length() ? p.data() : nullptr;
    slot.OnUserData(std::vector<char>(d, d + p.length()));
}
