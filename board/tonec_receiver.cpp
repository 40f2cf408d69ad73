#include "board/tonec_receiver.h"

#include "board/dsp_requests.h"
#include "framework/text.h"
#include "protocol/lgcp.h"

#include <cstring>
#include <iostream>

namespace Hardware {

TonecService::TonecService()
    : ReceiverService<TonecReceiver>(Tonec::kDevice, "tonec")
{
}

TonecService& TonecService::instance()
{
    static TonecService service;
    return service;
}

void TonecService::OnRecord(const unsigned char* data, size_t size)
{
    Tonec::EventRecord record;
    if (size != sizeof record) {
        PutHeader(std::cerr);
        std::cerr << "record of " << size << " octets dropped" << std::endl;
        return;
    }
    std::memcpy(&record, data, sizeof record);
    switch (record.type) {
    case Tonec::kDetected: {
        TonecReceiver::Params params{record.timeslot, record.code, record.timestamp};
        Route(record.timeslot, record.type, [&](TonecReceiver& r) { r.tonec_event(params); });
        break;
    }
    case Tonec::kToneDone:
        Route(record.timeslot, record.type, [](TonecReceiver& r) { r.tone_gen_complete(); });
        break;
    default:
        Dropped("unknown event", record.timeslot, record.type);
    }
}

TonecReceiver::TonecReceiver()
{
    TonecService::instance().Attach(this);
}

TonecReceiver::~TonecReceiver()
{
    TonecService::instance().Detach(this);
}

void TonecReceiver::tone_gen_complete() {}

bool TonecReceiver::Switch(unsigned long code, bool on)
{
    Tonec::Switch record{tonec_timeslot(), on ? 1 : 0};
    return TonecService::instance().Request(code, &record, record.timeslot);
}

bool TonecReceiver::SendDigits(unsigned long code, std::string const& digits, const char* allowed)
{
    Tonec::Digits record{tonec_timeslot(), 0, {}};
    if (digits.empty() || digits.size() > Tonec::kMaxDigits
        || digits.find_first_not_of(allowed) != std::string::npos) {
        TonecService::instance().PutHeader(std::cerr);
        std::cerr << "digits " << ext::quoted(digits) << " refused on time slot " << record.timeslot << std::endl;
        return false;
    }
    record.count = static_cast<uint32_t>(digits.size());
    std::memcpy(record.digits, digits.data(), digits.size());
    return TonecService::instance().Request(code, &record, record.timeslot);
}

bool TonecReceiver::echoCancel(bool on)
{
    return Switch(Tonec::kEchoCancel, on);
}

bool TonecReceiver::enableDTMF(bool on)
{
    return Switch(Tonec::kDtmfDetect, on);
}

bool TonecReceiver::enableDTMFReject(bool on)
{
    return Switch(Tonec::kDtmfReject, on);
}

bool TonecReceiver::translateDTMF(LGCP::TranslateDtmfParams const& params)
{
    return SendDigits(Tonec::kSendDigits, params.get_digits(), "0123456789*#ABCD");
}

bool TonecReceiver::configureDTMF(LGCP::DTMFParams const& params)
{
    Tonec::DtmfConfig record{tonec_timeslot(), params.get_on_time().getValue(), params.get_off_time().getValue(),
                             params.get_level().getValue()};
    return TonecService::instance().Request(Tonec::kDtmfConfig, &record, record.timeslot);
}

bool TonecReceiver::enableIVA(bool on)
{
    return Switch(Tonec::kIva, on);
}

bool TonecReceiver::configureIVA(LGCP::IVAParams const& params)
{
    Tonec::IvaConfig record{tonec_timeslot(), params.get_level().getValue()};
    return TonecService::instance().Request(Tonec::kIvaConfig, &record, record.timeslot);
}

bool TonecReceiver::enableToneGenerator(unsigned short freq1, unsigned short freq2, unsigned short amp1,
                                        unsigned short amp2)
{
    Tonec::Tone record{tonec_timeslot(), freq1, freq2, amp1, amp2};
    return TonecService::instance().Request(Tonec::kToneStart, &record, record.timeslot);
}

bool TonecReceiver::disableToneGenerator(bool force)
{
    return Switch(Tonec::kToneStop, force);
}

bool TonecReceiver::enableSilence()
{
    Tonec::Timeslot record{tonec_timeslot()};
    return TonecService::instance().Request(Tonec::kSilence, &record, record.timeslot);
}

bool TonecReceiver::is_inDTMFTransmit()
{
    Tonec::Status record{tonec_timeslot(), 0};
    return TonecService::instance().Request(Tonec::kStatus, &record, record.timeslot)
           && (record.flags & Tonec::kSendingDigits);
}

bool TonecReceiver::activateAudibleCall()
{
    return Switch(Tonec::kAudibleCall, true);
}

bool TonecReceiver::cancelAudibleCall()
{
    return Switch(Tonec::kAudibleCall, false);
}

bool TonecReceiver::translateSelcal(std::string const& code)
{
    return SendDigits(Tonec::kSendSelcal, code, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

void TonecReceiver::CleanBeforeDestroy()
{
    int timeslot = tonec_timeslot();
    if (timeslot < 0)
        return;
    Tonec::Timeslot record{timeslot};
    TonecService::instance().Request(Tonec::kRelease, &record, timeslot);
}

} // namespace Hardware
