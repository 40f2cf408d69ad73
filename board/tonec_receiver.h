#pragma once

#include "board/receiver_device.h"

#include <cstdint>
#include <string>

namespace LGCP {
class TranslateDtmfParams;
class DTMFParams;
class IVAParams;
}

namespace Hardware {

// The tone, DTMF and echo functions of one time slot on the tone device.
// A media slot inherits it, names its time slot and gets the detector
// events of that slot.
class TonecReceiver
{
public:
    // One detector event.
    struct Params {
        int timeslot;
        int code;
        uint32_t timestamp;
    };

    TonecReceiver();
    virtual ~TonecReceiver();
    TonecReceiver(const TonecReceiver&) = delete;
    TonecReceiver& operator=(const TonecReceiver&) = delete;

    bool echoCancel(bool on);
    bool enableDTMF(bool on);
    bool enableDTMFReject(bool on);
    // Sends the digits (0-9, *, #, A-D).
    bool translateDTMF(LGCP::TranslateDtmfParams const& params);
    bool configureDTMF(LGCP::DTMFParams const& params);
    bool enableIVA(bool on);
    bool configureIVA(LGCP::IVAParams const& params);
    bool enableToneGenerator(unsigned short freq1, unsigned short freq2, unsigned short amp1, unsigned short amp2);
    bool disableToneGenerator(bool force);
    bool enableSilence();
    bool is_inDTMFTransmit();
    bool activateAudibleCall();
    bool cancelAudibleCall();
    bool translateSelcal(std::string const& code);
    // Turns off everything of the time slot; called before the slot goes.
    void CleanBeforeDestroy();

    virtual void tonec_event(Params const& params) = 0;
    virtual int tonec_timeslot() const = 0;
    virtual void tone_gen_complete();

private:
    bool Switch(unsigned long code, bool on);
    bool SendDigits(unsigned long code, std::string const& digits, const char* allowed);
};

// The tone device and its receivers.
class TonecService : public ReceiverService<TonecReceiver>
{
public:
    static TonecService& instance();

protected:
    int TimeslotOf(const TonecReceiver& receiver) const override { return receiver.tonec_timeslot(); }
    void OnRecord(const unsigned char* data, size_t size) override;

private:
    TonecService();
};

} // namespace Hardware
