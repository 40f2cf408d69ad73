#pragma once

#include "rtp/lemz_control.h"
#include "rtp/rtp_ext_slot.h"
#include "rtp/rtp_factory.h"

#include <memory>

// RTP slots with LEMZ radio signalling.
class RtpLEMZSlot : public RtpExtSlot
{
public:
    using RtpExtSlot::RtpExtSlot;
    const char* GetName() const override { return "rtp ext LEMZ"; }
};

// The gateway end of the LEMZ protocol, on the slot's own extension session
// or attached through /dev/rtp to another process's session.
class RtpLEMZRadioGWSlot : public RtpLEMZSlot
{
public:
    // Own extension session: attached to this slot's live RTP session.
    RtpLEMZRadioGWSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss,
                       rtp_ext_init_params const& init, bool timer);
    RtpLEMZRadioGWSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss,
                       rtp_attach_session_params const& attach);
    ~RtpLEMZRadioGWSlot() override;

    const char* GetName() const override { return "rtp ext LEMZ (GW)"; }
    RTPSignalling::LemzRadioGWControl& lemz() { return *mLemz; }

private:
    void Adopt(bool timer);

    std::unique_ptr<RTPSignalling::LemzRadioGWControl> mLemz;
};

class RtpLEMZFactory : public RtpCodecFactory
{
public:
    static RtpLEMZFactory& instance();

    const char* GetName() const override { return "RTP Ext LEMZ"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;

private:
    RtpLEMZFactory() : RtpCodecFactory("rtp ext LEMZ") {}
};
