#include "core/e1_service.h"

#include "board/device.h"
#include "board/maintenance.h"
#include "protocol/acp.h"
#include "protocol/lgcp.h"

#include <fcntl.h>

#include <iostream>

E1Service::E1Service(unsigned periodMs)
    : mPeriodMs(periodMs)
{
    for (int& state : mStates)
        state = ACP::TrunkState::unknown;
}

E1Service::~E1Service() = default;

void E1Service::PutHeader(std::ostream& os) const
{
    os << "e1: ";
}

int E1Service::StateOf(uint32_t alarms)
{
    // The most basic failure names the state.
    if (alarms & Maintenance::kDisabled)
        return ACP::TrunkState::disabled;
    if (alarms & Maintenance::kLossOfSignal)
        return ACP::TrunkState::lossCarrier;
    if (alarms & Maintenance::kLossOfFrame)
        return ACP::TrunkState::lossBF;
    if (alarms & Maintenance::kAis)
        return ACP::TrunkState::ais;
    if (alarms & Maintenance::kRai)
        return ACP::TrunkState::rai;
    return ACP::TrunkState::normal;
}

int E1Service::State(unsigned trunk) const
{
    return trunk < Maintenance::kMaxTrunks ? mStates[trunk] : ACP::TrunkState::unknown;
}

void E1Service::OnConnect()
{
    // A new controller takes the trunks as normal and hears of those that
    // are not.
    for (int& state : mStates)
        state = ACP::TrunkState::normal;
    mFailing = false;
    mConnected = true;
    Poll();
}

void E1Service::OnDisconnect()
{
    mConnected = false;
    mTimer.reset();
    mFd.close();
}

bool E1Service::OnCommand(LGCP::Message const&)
{
    return false;
}

void E1Service::OnTimer()
{
    Poll();
}

bool E1Service::Read(uint32_t& count, uint32_t* alarms)
{
    Maintenance::TrunkAlarms record{};
    // The cause is taken right after the failing call: anything later (a
    // close, a log write) may change errno.
    int cause = 0;
    if (!mFd.is_valid()) {
        const int fd = Device::Open(Maintenance::kDevice, O_RDONLY);
        cause = errno;
        mFd = Fd(fd);
    }
    bool ok = mFd.is_valid();
    if (ok && Device::Request(mFd.lowlevel_fd(), Maintenance::kTrunkAlarms, &record) < 0) {
        cause = errno;
        ok = false;
    }
    if (!ok) {
        const Errno error(cause);
        if (!mFailing) {
            PutHeader(std::cerr);
            std::cerr << "can't read the trunks' alarms: " << error << std::endl;
        }
        mFailing = true;
        mFd.close();
        return false;
    }
    if (mFailing) {
        PutHeader(std::cout);
        std::cout << "trunks' alarms readable again" << std::endl;
    }
    mFailing = false;
    count = record.count < Maintenance::kMaxTrunks ? record.count : Maintenance::kMaxTrunks;
    for (unsigned i = 0; i < count; ++i)
        alarms[i] = record.alarms[i];
    return true;
}

void E1Service::Poll()
{
    if (mConnected)
        mTimer.set(mPeriodMs, &E1Service::OnTimer, this);
    uint32_t count = 0;
    uint32_t alarms[Maintenance::kMaxTrunks];
    if (!Read(count, alarms))
        return;
    for (unsigned trunk = 0; trunk < count; ++trunk) {
        int state = StateOf(alarms[trunk]);
        if (state == mStates[trunk])
            continue;
        mStates[trunk] = state;
        LGCP::Signal signal;
        ACP::TrunkStatus& status = signal.select_trunkStatus();
        status.set_trunk(static_cast<int>(trunk));
        status.set_state(ACP::TrunkState(static_cast<ACP::TrunkState::NamedNumber>(state)));
        SendSignal(-1, signal);
    }
}
