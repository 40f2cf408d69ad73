// A media slot as the mixer and RTP slots are, for the receiver tests.
#pragma once

#include "board/dsproc_receiver.h"
#include "board/tonec_receiver.h"
#include "core/slot.h"

namespace boardtest {

class NoFactory : public SlotFactory {
public:
    const char* GetName() const override { return "none"; }
    Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
};

// A media slot as the mixer and RTP slots are: both receivers on its
// channel, every event passed on as the slot's signal.
class MediaSlot : public Slot, public Hardware::TonecReceiver, public Hardware::DSProcReceiver {
public:
    MediaSlot(SlotFactory& factory, int timeslot) : Slot(factory), timeslot(timeslot) {}
    ~MediaSlot() override
    {
        Hardware::TonecReceiver::CleanBeforeDestroy();
        Hardware::DSProcReceiver::CleanBeforeDestroy();
    }
    const char* GetName() const override { return "media"; }

    void tonec_event(Params const& p) override { processTonecEvent(p); }
    int tonec_timeslot() const override { return timeslot; }
    void tone_gen_complete() override { processToneGenEvent(); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { processVADEvent(e); }
    void dsproc_bss_event(::dsproc_bss_event const* e) override { processBSSEvent(e); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { processSDEvent(e); }
    void dsproc_tone_flt_event(::dsproc_tone_event const* e) override { processToneFltEvent(e); }
    void dsproc_flags_event(::dsproc_flags_event const* e) override { processFlagsEvent(e); }
    int dsproc_timeslot() const override { return timeslot; }

    int timeslot;
};

} // namespace boardtest
