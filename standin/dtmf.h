#pragma once

#include "board/dsp_requests.h"
#include "standin/event_driver.h"

#include <map>
#include <string>

// The tone device behind /dev/dtmf: it keeps what each time slot was told
// and raises detector and tone-done events for the tests.

namespace Standin {

class Dtmf : public EventDriver {
public:
    struct Line {
        int32_t echo = 0; // the switches keep the word written: 1 is on
        int32_t detect = 0;
        int32_t reject = 0;
        int32_t iva = 0;
        int32_t audible = 0;
        int ivaLevel = 0;
        Tonec::DtmfConfig config{};
        Tonec::Tone tone{};
        bool generating = false;
        bool sendingDigits = false;
        std::string digits; // every digit sent, in order
        std::string selcal;
        int silences = 0;
        int stops = 0;
        int32_t forced = 0; // the last stop was forced
        int releases = 0;
    };

    // The state of a time slot (a fresh one when never told anything).
    const Line& At(int timeslot) { return mLines[timeslot]; }

    // A detected digit or tone on the time slot.
    size_t Detect(int timeslot, int code, uint32_t timestamp);
    // The digits or tone of the time slot are done.
    size_t Finish(int timeslot);

protected:
    int Answer(unsigned long code, int32_t timeslot, void* arg) override;

private:
    std::map<int, Line> mLines;
};

} // namespace Standin
