// The recording slot: what reaches its time slot goes over TCP to a host.
#pragma once

#include "protocol/lgcp.h"
#include "slots/voice.h"

class RecordSlot : public VoiceSlot
{
public:
    RecordSlot(SlotFactory& factory, std::string const& host, int timeslot, Fd channel);
    ~RecordSlot() override;

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnInputStream() override;
    int IGetReceiveChannel() override { return mTimeslot; }
    const char* GetName() const override { return "recorder"; }

    void StopRecording(LGCP::StopRecordingCause::NamedNumber cause);
    void PutHeader(std::ostream& os) const;
    void PutAddr(std::ostream& os) const;

private:
    void OnConnect(ASync::Connect::Status::Type status, Fd socket);
    void OnRecordComplete(ASync::Copy::Status::Type status);

    int mTimeslot;
    Fd mDevice;
    std::string mHost;
    std::unique_ptr<ASync::Copy> mCopy;
    std::unique_ptr<ASync::Connect> mConnect;
};
