#pragma once

#include "board/maintenance.h"
#include "standin/board.h"

// The maintenance device behind /dev/maintenance: it reports the E1
// framers' alarms that the tests set.

namespace Standin {

class MaintenanceDevice : public Driver {
public:
    int OnRequest(Channel& channel, unsigned long code, void* arg) override;

    void SetAlarms(unsigned trunk, uint32_t alarms);
    // Trunks fitted (4 unless told otherwise).
    void SetTrunks(uint32_t count) { mRecord.count = count; }
    size_t reads() const { return mReads; }

private:
    Maintenance::TrunkAlarms mRecord{Maintenance::kMaxTrunks, {}};
    size_t mReads = 0;
};

} // namespace Standin
