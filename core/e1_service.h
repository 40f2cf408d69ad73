#pragma once

#include "core/ctrl_srv.h"
#include "framework/fd.h"
#include "framework/timer.h"

#include <cstdint>
#include <iosfwd>

// Watches the E1 trunks' alarms on the maintenance device while a
// controller is connected, and reports each trunk's state as a
// `trunkStatus` signal whenever it changes; a new controller hears of the
// trunks that are not normal. The signal reaches the slot factories
// before the controller.
class E1Service : public CtrlSrv::Service
{
public:
    static constexpr unsigned kPeriodMs = 1000;

    explicit E1Service(unsigned periodMs = kPeriodMs);
    ~E1Service() override;

    void OnConnect() override;
    void OnDisconnect() override;
    // Takes no command.
    bool OnCommand(LGCP::Message const& message) override;

    // Reads the alarms now and reports the changes.
    void Poll();
    bool is_running() const { return mTimer.is_running(); }
    // The last state reported for a trunk (counted from 0).
    int State(unsigned trunk) const;

    // The trunk state that a set of alarm bits means.
    static int StateOf(uint32_t alarms);

    void PutHeader(std::ostream& os) const;

private:
    void OnTimer();
    bool Read(uint32_t& count, uint32_t* alarms);

    unsigned mPeriodMs;
    Timer mTimer;
    Fd mFd;
    int mStates[4]; // as reported, counted from trunk 0
    bool mConnected = false;
    bool mFailing = false; // the failure is logged once
};
