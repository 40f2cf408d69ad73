#include "standin/dsp.h"

#include <cerrno>
#include <cstring>

namespace Standin {

namespace {

dsproc_event_header Header(uint32_t type, int timeslot)
{
    return dsproc_event_header{type, timeslot};
}

} // namespace

// The device's event types, written out: 1 VAD, 2 BSS, 3 SD, 4 tone, 5 flags.
size_t Dsproc::Vad(int timeslot, bool active)
{
    return Raise(dsproc_vad_event{Header(1, timeslot), active ? 1 : 0});
}

size_t Dsproc::Bss(int timeslot, int score)
{
    return Raise(dsproc_bss_event{Header(2, timeslot), score});
}

size_t Dsproc::Sd(int timeslot, int code)
{
    return Raise(dsproc_sd_event{Header(3, timeslot), code});
}

size_t Dsproc::Tone(int timeslot, int freq, bool detected)
{
    return Raise(dsproc_tone_event{Header(4, timeslot), freq, detected ? 1 : 0});
}

size_t Dsproc::Flags(int timeslot, uint32_t flags)
{
    return Raise(dsproc_flags_event{Header(5, timeslot), flags});
}

int Dsproc::Answer(unsigned long code, int32_t timeslot, void* arg)
{
    Line& line = mLines[timeslot];
    switch (code) {
    case Dsp::kVad:
        line.vad = Record<Dsp::Switch>(arg).on;
        return 0;
    case Dsp::kVadConfig: {
        auto record = Record<Dsp::VadConfig>(arg);
        line.vadThreshold = record.threshold;
        line.vadHangover = record.hangover;
        return 0;
    }
    case Dsp::kSd:
        line.sd = Record<Dsp::Switch>(arg).on;
        return 0;
    case Dsp::kSdDefaults:
        ++line.sdDefaults;
        return 0;
    case Dsp::kRxGain: {
        auto record = Record<Dsp::RxGain>(arg);
        if (record.gain < -128 || record.gain > 127)
            return Refuse(EINVAL);
        line.rxGain = record.gain;
        return 0;
    }
    case Dsp::kToneFilter:
        line.filter = Record<Dsp::ToneFilter>(arg);
        return 0;
    case Dsp::kDelays: {
        auto record = Record<Dsp::Delays>(arg);
        line.rxDelay = record.rx;
        line.txDelay = record.tx;
        return 0;
    }
    case Dsp::kBss:
        line.bss = Record<Dsp::Switch>(arg).on;
        return 0;
    case Dsp::kNoiseGate:
        line.noiseGate = Record<Dsp::Switch>(arg).on;
        return 0;
    case Dsp::kRelease:
        Release(line);
        return 0;
    default:
        return Refuse(ENOTTY);
    }
}

} // namespace Standin
