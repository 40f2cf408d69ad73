#include "board/dsproc_receiver.h"

#include "protocol/lgcp.h"

#include <cstring>
#include <iostream>

namespace Hardware {

DSProcService::DSProcService()
    : ReceiverService<DSProcReceiver>(Dsp::kDevice, "dsproc")
{
}

DSProcService& DSProcService::instance()
{
    static DSProcService service;
    return service;
}

template <class T>
bool DSProcService::Take(const unsigned char* data, size_t size, T& record)
{
    if (size != sizeof record) {
        dsproc_event_header header;
        std::memcpy(&header, data, sizeof header);
        PutHeader(std::cerr);
        std::cerr << "record of " << size << " octets (type " << header.type << ") dropped" << std::endl;
        return false;
    }
    std::memcpy(&record, data, sizeof record);
    return true;
}

void DSProcService::OnRecord(const unsigned char* data, size_t size)
{
    dsproc_event_header header;
    if (size < sizeof header) {
        PutHeader(std::cerr);
        std::cerr << "record of " << size << " octets dropped" << std::endl;
        return;
    }
    std::memcpy(&header, data, sizeof header);
    int timeslot = header.timeslot;
    switch (header.type) {
    case Dsp::kVadEvent: {
        dsproc_vad_event record;
        if (Take(data, size, record)) {
            DSProcVADEvent event{timeslot, record.active != 0};
            Route(timeslot, header.type, [&](DSProcReceiver& r) { r.dsproc_vad_event(event); });
        }
        break;
    }
    case Dsp::kBssEvent: {
        dsproc_bss_event record;
        if (Take(data, size, record))
            Route(timeslot, header.type, [&](DSProcReceiver& r) { r.dsproc_bss_event(&record); });
        break;
    }
    case Dsp::kSdEvent: {
        dsproc_sd_event record;
        if (Take(data, size, record)) {
            DSProcSDEvent event{timeslot, record.code};
            Route(timeslot, header.type, [&](DSProcReceiver& r) { r.dsproc_sd_event(event); });
        }
        break;
    }
    case Dsp::kToneEvent: {
        dsproc_tone_event record;
        if (Take(data, size, record))
            Route(timeslot, header.type, [&](DSProcReceiver& r) { r.dsproc_tone_flt_event(&record); });
        break;
    }
    case Dsp::kFlagsEvent: {
        dsproc_flags_event record;
        if (Take(data, size, record))
            Route(timeslot, header.type, [&](DSProcReceiver& r) { r.dsproc_flags_event(&record); });
        break;
    }
    default:
        Dropped("unknown event", timeslot, header.type);
    }
}

DSProcReceiver::DSProcReceiver()
{
    DSProcService::instance().Attach(this);
}

DSProcReceiver::~DSProcReceiver()
{
    DSProcService::instance().Detach(this);
}

bool DSProcReceiver::Switch(unsigned long code, bool on)
{
    Dsp::Switch record{dsproc_timeslot(), on ? 1 : 0};
    return DSProcService::instance().Request(code, &record, record.timeslot);
}

bool DSProcReceiver::enableVAD(bool on)
{
    return Switch(Dsp::kVad, on);
}

bool DSProcReceiver::disableVAD()
{
    return Switch(Dsp::kVad, false);
}

bool DSProcReceiver::configureVAD(LGCP::VADParams const& params)
{
    Dsp::VadConfig record{dsproc_timeslot(), params.get_threshold().getValue(), params.get_hangover().getValue()};
    return DSProcService::instance().Request(Dsp::kVadConfig, &record, record.timeslot);
}

bool DSProcReceiver::enableSD(bool on)
{
    return Switch(Dsp::kSd, on);
}

bool DSProcReceiver::disableSD()
{
    return Switch(Dsp::kSd, false);
}

bool DSProcReceiver::configureSD()
{
    Dsp::Timeslot record{dsproc_timeslot()};
    return DSProcService::instance().Request(Dsp::kSdDefaults, &record, record.timeslot);
}

bool DSProcReceiver::configureRxGain(signed char gain)
{
    Dsp::RxGain record{dsproc_timeslot(), gain};
    return DSProcService::instance().Request(Dsp::kRxGain, &record, record.timeslot);
}

bool DSProcReceiver::configureToneFilter(int freq, bool enable, int durationMs, int levelDb)
{
    Dsp::ToneFilter record{dsproc_timeslot(), freq, enable ? 1 : 0, durationMs, levelDb};
    return DSProcService::instance().Request(Dsp::kToneFilter, &record, record.timeslot);
}

bool DSProcReceiver::configureDelays(int rx, int tx)
{
    Dsp::Delays record{dsproc_timeslot(), rx, tx};
    return DSProcService::instance().Request(Dsp::kDelays, &record, record.timeslot);
}

bool DSProcReceiver::enableBSS(bool on)
{
    return Switch(Dsp::kBss, on);
}

bool DSProcReceiver::enableNG(bool on)
{
    return Switch(Dsp::kNoiseGate, on);
}

void DSProcReceiver::CleanBeforeDestroy()
{
    int timeslot = dsproc_timeslot();
    if (timeslot < 0)
        return;
    Dsp::Timeslot record{timeslot};
    DSProcService::instance().Request(Dsp::kRelease, &record, timeslot);
}

} // namespace Hardware
