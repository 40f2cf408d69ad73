#pragma once

#include "rtp/ed137_control.h"
#include "rtp/rtp_ext_slot.h"
#include "rtp/rtp_factory.h"

#include <memory>

// RTP slots with EUROCAE ED-137 R2S radio signalling.
class RtpED137Slot : public RtpExtSlot
{
public:
    using RtpExtSlot::RtpExtSlot;
    const char* GetName() const override { return "rtp ext ed137"; }
};

// The radio end of the R2S session, on the slot's own extension session
// attached to its live RTP session; keep-alives and link supervision run
// from creation.
class RtpED137RadioGWSlot : public RtpED137Slot
{
public:
    RtpED137RadioGWSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss,
                        rtp_ext_init_params const& init, RTPSignalling::ED137RadioParams const& radio);
    ~RtpED137RadioGWSlot() override;

    const char* GetName() const override { return "rtp ext ED137 (GW)"; }
    RTPSignalling::ED137RadioGWControl& ed137() { return *mControl; }

private:
    std::unique_ptr<RTPSignalling::ED137RadioGWControl> mControl;
};

// The extension session's init record for the given settings and packet
// factor (0: the driver's default of 2).
rtp_ext_init_params ED137InitParams(RTPSignalling::ED137RadioParams const& radio, uint32_t packet_factor);

class RtpED137Factory : public RtpCodecFactory
{
public:
    static RtpED137Factory& instance();

    const char* GetName() const override { return "RTP Ext ED137"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;

private:
    RtpED137Factory() : RtpCodecFactory("rtp ext ED137") {}
};
