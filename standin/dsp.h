#pragma once

#include "board/dsp_requests.h"
#include "standin/event_driver.h"

#include <map>

// The DSP processing device behind /dev/dsp: it keeps what each time slot
// was told and raises its events for the tests.

namespace Standin {

class Dsproc : public EventDriver {
public:
    struct Line {
        bool vad = false;
        int vadThreshold = 0;
        int vadHangover = 0;
        bool sd = false;
        int sdDefaults = 0; // times the defaults were loaded
        int rxGain = 0;
        Dsp::ToneFilter filter{};
        int rxDelay = 0;
        int txDelay = 0;
        bool bss = false;
        bool noiseGate = false;
        int releases = 0;
    };

    const Line& At(int timeslot) { return mLines[timeslot]; }

    size_t Vad(int timeslot, bool active);
    size_t Bss(int timeslot, int score);
    size_t Sd(int timeslot, int code);
    size_t Tone(int timeslot, int freq, bool detected);
    size_t Flags(int timeslot, uint32_t flags);

protected:
    int Answer(unsigned long code, int32_t timeslot, void* arg) override;

private:
    std::map<int, Line> mLines;
};

} // namespace Standin
