#include "board/receiver_signals.h"

#include "protocol/lgcp.h"

namespace Hardware {

LGCP::Signal TonecSignal(TonecReceiver::Params const& event)
{
    LGCP::Signal signal;
    LGCP::TonecEvent& tonec = signal.select_tonec();
    tonec.set_code(event.code);
    tonec.set_timestamp(event.timestamp);
    return signal;
}

LGCP::Signal ToneGenSignal()
{
    LGCP::Signal signal;
    signal.select_toneGenComplete();
    return signal;
}

LGCP::Signal VADSignal(DSProcVADEvent const& event)
{
    LGCP::Signal signal;
    signal.select_vad().set_active(event.active);
    return signal;
}

LGCP::Signal BSSSignal(dsproc_bss_event const& event)
{
    LGCP::Signal signal;
    signal.select_bss().set_score(event.score);
    return signal;
}

LGCP::Signal SDSignal(DSProcSDEvent const& event)
{
    LGCP::Signal signal;
    signal.select_sd().set_code(event.code);
    return signal;
}

LGCP::Signal ToneFilterSignal(dsproc_tone_event const& event)
{
    LGCP::Signal signal;
    LGCP::ToneFilterEvent& tone = signal.select_toneFilter();
    tone.set_freq(event.freq);
    tone.set_detected(event.detected != 0);
    return signal;
}

LGCP::Signal FlagsSignal(dsproc_flags_event const& event)
{
    LGCP::Signal signal;
    signal.select_dspFlags().set_flags(event.flags);
    return signal;
}

} // namespace Hardware
