#pragma once

#include "core/ctrl_srv.h"
#include "framework/timer.h"

namespace CtrlSrv {

// Cuts off a controller that sends no command for a whole period, and
// answers `ping`. Bound first, it sees every command.
class Heartbeat : public Service
{
public:
    static constexpr unsigned kPeriodMs = 120000;

    explicit Heartbeat(unsigned periodMs = kPeriodMs) : mPeriodMs(periodMs) {}

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(LGCP::Message const& message) override;

    bool is_running() const { return mTimer.is_running(); }

private:
    void OnExpiry(Timer*);

    unsigned mPeriodMs;
    Timer mTimer;
};

} // namespace CtrlSrv
