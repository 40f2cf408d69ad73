#pragma once

#include "board/dsproc_receiver.h"
#include "board/tonec_receiver.h"

namespace LGCP {
class Signal;
}

// The controller's signals for the receivers' events.
namespace Hardware {

LGCP::Signal TonecSignal(TonecReceiver::Params const& event);
LGCP::Signal ToneGenSignal();
LGCP::Signal VADSignal(DSProcVADEvent const& event);
LGCP::Signal BSSSignal(dsproc_bss_event const& event);
LGCP::Signal SDSignal(DSProcSDEvent const& event);
LGCP::Signal ToneFilterSignal(dsproc_tone_event const& event);
LGCP::Signal FlagsSignal(dsproc_flags_event const& event);

} // namespace Hardware
