#pragma once

#include "core/ctrl_srv.h"
#include "core/slots.h"
#include "framework/dpc.h"

#include <map>

// The slot commands of the controller link, and the slots' signals back.
class SlotsService : public CtrlSrv::Service, public Slots::Notify
{
public:
    SlotsService();
    ~SlotsService() override;

    bool OnCommand(LGCP::Message const& message) override;
    void OnConnect() override;
    void OnDisconnect() override;
    void OnSignal(int slot, LGCP::Signal const& signal) override;

    void OnStream(Slot& slot, bool transmitter, bool active, int channel) override;
    void OnReleased(Slot& slot) override;
    void OnSignal(Slot& slot, LGCP::Signal const& signal) override;

    // Runs every factory's resource query into the inventory.
    static void Query(LGCP::Resources& resources);
    // The `query` command: the inventory goes out as the `resources` signal.
    void SendResources();

private:
    void Reply(Answer::Type answer, int slot);
    void DestroyAll();

    std::map<Slot*, CtrlSrv::Token> mDelayed;
    // The link may drop inside a slot's own report: its slots go from the
    // loop, never under the caller.
    Dpc mDestroyAll;
};
