#include "core/heartbeat.h"

#include "protocol/lgcp.h"

#include <iostream>

namespace CtrlSrv {

void Heartbeat::OnConnect()
{
    mTimer.set(mPeriodMs, &Heartbeat::OnExpiry, this);
}

void Heartbeat::OnDisconnect()
{
    mTimer.reset();
}

bool Heartbeat::OnCommand(LGCP::Message const& message)
{
    mTimer.set(mPeriodMs, &Heartbeat::OnExpiry, this);
    if (!message.get_pdu().get_command().ping_isSelected())
        return false;
    Success();
    return true;
}

void Heartbeat::OnExpiry(Timer*)
{
    if (!server())
        return;
    server()->PutHeader(std::cerr);
    std::cerr << "heartbeat: no command for " << mPeriodMs << " ms" << std::endl;
    server()->Disconnect("heartbeat time-out");
}

} // namespace CtrlSrv
