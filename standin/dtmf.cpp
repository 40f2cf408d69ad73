#include "standin/dtmf.h"

#include <cerrno>
#include <cstring>

namespace Standin {

size_t Dtmf::Detect(int timeslot, int code, uint32_t timestamp)
{
    return Raise(Tonec::EventRecord{Tonec::kDetected, timeslot, code, timestamp});
}

size_t Dtmf::Finish(int timeslot)
{
    Line& line = mLines[timeslot];
    line.generating = line.sendingDigits = false;
    return Raise(Tonec::EventRecord{2, timeslot, 0, 0});
}

int Dtmf::Answer(unsigned long code, int32_t timeslot, void* arg)
{
    Line& line = mLines[timeslot];
    switch (code) {
    case Tonec::kEchoCancel:
        line.echo = Record<Tonec::Switch>(arg).on;
        return 0;
    case Tonec::kDtmfDetect:
        line.detect = Record<Tonec::Switch>(arg).on;
        return 0;
    case Tonec::kDtmfReject:
        line.reject = Record<Tonec::Switch>(arg).on;
        return 0;
    case Tonec::kIva:
        line.iva = Record<Tonec::Switch>(arg).on;
        return 0;
    case Tonec::kAudibleCall:
        line.audible = Record<Tonec::Switch>(arg).on;
        return 0;
    case Tonec::kIvaConfig:
        line.ivaLevel = Record<Tonec::IvaConfig>(arg).level;
        return 0;
    case Tonec::kDtmfConfig:
        line.config = Record<Tonec::DtmfConfig>(arg);
        return 0;
    case Tonec::kSendDigits:
    case Tonec::kSendSelcal: {
        auto record = Record<Tonec::Digits>(arg);
        if (record.count == 0 || record.count > Tonec::kMaxDigits)
            return Refuse(EINVAL);
        std::string digits(record.digits, record.count);
        if (code == Tonec::kSendSelcal) {
            line.selcal = digits;
        } else {
            line.digits += digits;
            line.sendingDigits = true;
        }
        return 0;
    }
    case Tonec::kToneStart:
        line.tone = Record<Tonec::Tone>(arg);
        line.generating = true;
        return 0;
    case Tonec::kToneStop:
        line.generating = line.sendingDigits = false;
        line.forced = Record<Tonec::Switch>(arg).on;
        ++line.stops;
        return 0;
    case Tonec::kSilence:
        ++line.silences;
        return 0;
    case Tonec::kStatus: {
        Tonec::Status status{timeslot, (line.sendingDigits ? 1u : 0u)
                                           | (line.generating ? 2u : 0u)};
        std::memcpy(arg, &status, sizeof status);
        return 0;
    }
    case Tonec::kRelease:
        Release(line);
        return 0;
    default:
        return Refuse(ENOTTY);
    }
}

} // namespace Standin
