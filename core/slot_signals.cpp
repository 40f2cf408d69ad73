#include "core/slot.h"

#include "board/receiver_signals.h"
#include "board/rtp_driver.h"
#include "protocol/lgcp.h"
#include "protocol/term.h"

void Slot::OnModem(TERM::ModemProceeding const& proceeding)
{
    LGCP::Signal signal;
    signal.select_modemProceeding() = proceeding;
    SendSignal(signal);
}

void Slot::OnActivated()
{
    LGCP::Signal signal;
    signal.select_activated();
    SendSignal(signal);
}

void Slot::OnDeactivated()
{
    LGCP::Signal signal;
    signal.select_deactivated();
    SendSignal(signal);
}

void Slot::OnAbort(int cause)
{
    LGCP::Signal signal;
    signal.select_abort() = cause;
    SendSignal(signal);
}

void Slot::OnAbort(Slot* slot, int cause)
{
    if (slot)
        slot->OnAbort(cause);
}

void Slot::OnUserData(std::vector<char> const& data)
{
    LGCP::Signal signal;
    signal.select_userData() = data;
    SendSignal(signal);
}

void Slot::OnIoctlResponse(LGCP::IoctlResponse const& response)
{
    LGCP::Signal signal;
    signal.select_ioctl() = response;
    SendSignal(signal);
}

void Slot::OnRtpRadioEvent(TERM::RtpRadioRequest const& request)
{
    LGCP::Signal signal;
    signal.select_rtpExt() = request;
    SendSignal(signal);
}

void Slot::processTonecEvent(Hardware::TonecReceiver::Params const& event)
{
    SendSignal(Hardware::TonecSignal(event));
}

void Slot::processToneGenEvent()
{
    SendSignal(Hardware::ToneGenSignal());
}

void Slot::processVADEvent(Hardware::DSProcVADEvent const& event)
{
    SendSignal(Hardware::VADSignal(event));
}

void Slot::processBSSEvent(dsproc_bss_event const* event)
{
    if (event)
        SendSignal(Hardware::BSSSignal(*event));
}

void Slot::processSDEvent(Hardware::DSProcSDEvent const& event)
{
    SendSignal(Hardware::SDSignal(event));
}

void Slot::processToneFltEvent(dsproc_tone_event const* event)
{
    if (event)
        SendSignal(Hardware::ToneFilterSignal(*event));
}

void Slot::processFlagsEvent(dsproc_flags_event const* event)
{
    if (event)
        SendSignal(Hardware::FlagsSignal(*event));
}

void Slot::processRtpEvent(uint32_t type, uint32_t value, uint32_t timeout)
{
    if (type != RtpRequest::kPacketDetector)
        return;
    LGCP::Signal signal;
    LGCP::RtpPDEvent& pd = signal.select_rtp().select_pd();
    pd.set_value(static_cast<int>(value));
    pd.set_timeout(static_cast<int>(timeout));
    SendSignal(signal);
}

void Slot::processRtpEvent(rtp_event const& event)
{
    processRtpEvent(event.type, event.value, event.timeout);
}
