#include "slots/voice_record.h"

#include "framework/text.h"

#include <iostream>

namespace {
constexpr unsigned kConnectTimeoutMs = 5000;
}

RecordSlot::RecordSlot(SlotFactory& factory, std::string const& host, int timeslot, Fd channel)
    : VoiceSlot(factory), mTimeslot(timeslot), mDevice(std::move(channel)), mHost(host)
{
}

RecordSlot::~RecordSlot()
{
    static_cast<VoiceFactory*>(GetSlotFactory())->OnDestroy(this);
}

void RecordSlot::PutHeader(std::ostream& os) const
{
    os << GetName() << "[" << mTimeslot << "]: ";
}

void RecordSlot::PutAddr(std::ostream& os) const
{
    os << ext::escaped(mHost);
}

void RecordSlot::IAfterCreate()
{
    OnChangeInputStream(true);
}

bool RecordSlot::IBeforeDestroy()
{
    static_cast<VoiceFactory*>(GetSlotFactory())->OnDestroy(this);
    return true;
}

bool RecordSlot::IOnInputStream()
{
    // Every new source gets a connection of its own.
    mConnect = std::make_unique<ASync::Connect>();
    mConnect->Bind(&RecordSlot::OnConnect, this);
    mConnect->Start(mHost, kConnectTimeoutMs);
    return true;
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd socket)
{
    if (status != ASync::Connect::Status::connected) {
        std::clog << ext::header(this) << "connection to " << host(this) << " fail." << std::endl;
        StopRecording(LGCP::StopRecordingCause::connectionFail);
        return;
    }
    std::clog << ext::header(this) << "connected to " << host(this) << "." << std::endl;
    mConnect.reset();
    // The recording of an earlier source ends here, with its connection.
    mCopy = std::make_unique<ASync::Copy>();
    mCopy->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, 0));
    mCopy->Bind(&RecordSlot::OnRecordComplete, this);
    mCopy->Start(mDevice, std::move(socket));
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status)
{
    if (status == ASync::Copy::Status::done) {
        std::clog << ext::header(this) << "connection to " << host(this) << " closed." << std::endl;
        StopRecording(LGCP::StopRecordingCause::userRequest);
    } else {
        std::cerr << ext::header(this) << "record aborted" << std::endl;
        StopRecording(LGCP::StopRecordingCause::connectionAborted);
    }
}

void RecordSlot::StopRecording(LGCP::StopRecordingCause::NamedNumber cause)
{
    mCopy.reset();
    mConnect.reset();
    LGCP::IoctlResponse response;
    response.select_stopRecording() = cause;
    OnIoctlResponse(response);
}
