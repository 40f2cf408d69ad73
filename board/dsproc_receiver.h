#pragma once

#include "board/dsp_requests.h"
#include "board/receiver_device.h"

namespace LGCP {
class VADParams;
}

namespace Hardware {

struct DSProcVADEvent {
    int timeslot;
    bool active;
};

struct DSProcSDEvent {
    int timeslot;
    int code;
};

// The DSP functions of one time slot on the DSP processing device: voice
// activity, signal detection, gain, tone filter, delays, best-signal
// scoring and noise gate. A media slot inherits it, names its time slot
// and gets the DSP events of that slot.
class DSProcReceiver
{
public:
    DSProcReceiver();
    virtual ~DSProcReceiver();
    DSProcReceiver(const DSProcReceiver&) = delete;
    DSProcReceiver& operator=(const DSProcReceiver&) = delete;

    bool enableVAD(bool on);
    bool disableVAD();
    bool configureVAD(LGCP::VADParams const& params);
    bool enableSD(bool on);
    bool disableSD();
    // Loads the detector's default settings.
    bool configureSD();
    bool configureRxGain(signed char gain);
    bool configureToneFilter(int freq, bool enable, int durationMs, int levelDb);
    bool configureDelays(int rx, int tx);
    bool enableBSS(bool on);
    bool enableNG(bool on);
    // Turns off everything of the time slot; called before the slot goes.
    void CleanBeforeDestroy();

    virtual void dsproc_vad_event(DSProcVADEvent const& event) = 0;
    virtual void dsproc_bss_event(::dsproc_bss_event const* event) = 0;
    virtual void dsproc_sd_event(DSProcSDEvent const& event) = 0;
    virtual void dsproc_tone_flt_event(::dsproc_tone_event const* event) = 0;
    virtual void dsproc_flags_event(::dsproc_flags_event const* event) = 0;
    virtual int dsproc_timeslot() const = 0;

private:
    bool Switch(unsigned long code, bool on);
};

// The DSP processing device and its receivers.
class DSProcService : public ReceiverService<DSProcReceiver>
{
public:
    static DSProcService& instance();

protected:
    int TimeslotOf(const DSProcReceiver& receiver) const override { return receiver.dsproc_timeslot(); }
    void OnRecord(const unsigned char* data, size_t size) override;

private:
    DSProcService();
    // The record its type names; false, logged, when the size is wrong.
    template <class T>
    bool Take(const unsigned char* data, size_t size, T& record);
};

} // namespace Hardware
