#include "standin/maintenance.h"

#include "standin/event_driver.h"

#include <cerrno>
#include <cstring>

namespace Standin {

int MaintenanceDevice::OnRequest(Channel&, unsigned long code, void* arg)
{
    if (code != Maintenance::kTrunkAlarms)
        return Refuse(ENOTTY);
    if (!arg)
        return Refuse(EFAULT);
    ++mReads;
    std::memcpy(arg, &mRecord, sizeof mRecord);
    return 0;
}

void MaintenanceDevice::SetAlarms(unsigned trunk, uint32_t alarms)
{
    if (trunk < Maintenance::kMaxTrunks)
        mRecord.alarms[trunk] = alarms;
}

} // namespace Standin
