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
        int32_t vad = 0; // the switches keep the word written: 1 is on
        int vadThreshold = 0;
        int vadHangover = 0;
        int32_t sd = 0;
        int sdDefaults = 0; // times the defaults were loaded
        int rxGain = 0;
        Dsp::ToneFilter filter{};
        int rxDelay = 0;
        int txDelay = 0;
        int32_t bss = 0;
        int32_t noiseGate = 0;
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
