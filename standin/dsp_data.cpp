#include "standin/dsp_data.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace Standin {

namespace {

int Error(int error)
{
    errno = error;
    return -1;
}

} // namespace

int DspData::OnRequest(Channel&, unsigned long code, void* arg)
{
    switch (code) {
    case 0x40044211UL:
        return mDTimeslot;
    case 0x8008420FUL: {
        if (!arg)
            return Error(EFAULT);
        struct {
            uint32_t index;
            int32_t channel;
        } record;
        std::memcpy(&record, arg, sizeof record);
        if (record.index >= mHeld.size())
            return Error(EINVAL);
        if (mHeld[record.index])
            return Error(EBUSY);
        mHeld[record.index] = true;
        ++mAdds;
        record.channel = BChannel(record.index);
        std::memcpy(arg, &record, sizeof record);
        return 0;
    }
    case 0x80044210UL: {
        if (!arg)
            return Error(EFAULT);
        uint32_t index;
        std::memcpy(&index, arg, sizeof index);
        if (index >= mHeld.size() || !mHeld[index])
            return Error(EINVAL);
        mHeld[index] = false;
        ++mRemoves;
        return 0;
    }
    default:
        return Error(ENOTTY);
    }
}

} // namespace Standin
