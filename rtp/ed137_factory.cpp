#include "rtp/ed137_factory.h"

#include "core/slots.h"
#include "framework/text.h"
#include "protocol/lgcp.h"

#include <iostream>

namespace {

// The RTP header-extension profile and the payload type of R2S packets
// (ED-137B).
constexpr uint16_t kED137Extension = 0x0167;
constexpr uint32_t kR2sPayloadType = 123;

} // namespace

rtp_ext_init_params ED137InitParams(RTPSignalling::ED137RadioParams const& radio, uint32_t packet_factor)
{
    rtp_ext_init_params init{};
    init.etype = kED137Extension;
    init.eparam = 1;
    init.payload_type = kR2sPayloadType;
    uint32_t pf = packet_factor ? packet_factor : 2;
    // Keep-alive periods counted in voice packets of 10 ms per frame.
    init.keepalive_count = radio.r2s_keepalive_period / (pf * 10);
    init.sigtime_factor = 1;
    if (radio.sigtime) {
        init.keepalive_count *= radio.sigtime;
        init.sigtime_factor *= radio.sigtime;
    }
    return init;
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss,
                                         rtp_ext_init_params const& init,
                                         RTPSignalling::ED137RadioParams const& radio)
    : RtpED137Slot(tdm, std::move(session), params, bss)
{
    setTransmissionDependOnSQU(radio.transmission_depend_on_squ);
    // Attached to the slot's own, live session, for no other process.
    rtp_ext_attach_session_params attach{this->session().lowlevel_fd(), -1};
    mControl = std::make_unique<RTPSignalling::ED137RadioGWControl>(tdm, attach, init);
    SetControl(mControl.get());
    mControl->SetParams(radio);
    mControl->Bind(this);
    mControl->SetDebug(false);
    mControl->SetTimerInterval(radio.r2s_keepalive_period * radio.r2s_keepalive_multiplier / 2);
    mControl->SetTimerEnable(true);
    mControl->SetRadioControlMode(RTPSignalling::kRadioModeGateway);
}

RtpED137RadioGWSlot::~RtpED137RadioGWSlot()
{
    mControl->UnBind();
    mControl->SetTimerEnable(false);
    SetControl(nullptr);
}

RtpED137Factory& RtpED137Factory::instance()
{
    static RtpED137Factory factory;
    return factory;
}

Slot* RtpED137Factory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.rtp_isSelected())
        return nullptr;
    const LGCP::CreateRtpParams& create = params.get_rtp();
    const TERM::RtpParams& rtp = create.get_codecRTP();
    if (!rtp.radio_isPresent() || !rtp.get_radio().get_status().ed_137_isSelected())
        return nullptr;
    const TERM::RtpRadioRequest& radio = rtp.get_radio();
    std::clog << ext::header(this) << "do create rtp ext ED137: " << rtp << std::endl;

    uint32_t bss = radio.bss_enable_isPresent() && radio.get_bss_enable() ? 1 : 0;
    RtpSession s;
    if (!SetUpRtpSession(create, bss, [this](std::ostream& os) { PutHeader(os); }, s))
        return nullptr;

    RTPSignalling::ED137RadioParams settings;
    const TERM::ED137RadioStatus& status = radio.get_status().get_ed_137();
    if (status.radio_response_isPresent())
        settings.Init(status.get_radio_response());
    // Whatever rtp-e2m says, R2S runs on the slot's own extension session.
    rtp_ext_init_params init = ED137InitParams(settings, s.params.packet_factor);
    auto* slot = new RtpED137RadioGWSlot(s.tdm, std::move(s.session), s.params, bss, init, settings);
    // A radio slot without its signalling would look alive and carry none.
    if (!slot->ed137().is_started()) {
        std::cerr << ext::header(this) << "rtp ext ED137 do not created: no radio signalling session" << std::endl;
        slot->IBeforeDestroy();
        delete slot;
        Answer::Refuse(Answer::insufficientResources);
        return nullptr;
    }
    if (!slot->ed137().Fits(status)) {
        std::cerr << ext::header(this) << "rtp ext ED137 do not created: a radio value does not fit its packet field"
                  << std::endl;
        slot->IBeforeDestroy();
        delete slot;
        Answer::Refuse(Answer::invalidParams);
        return nullptr;
    }
    slot->ApplyCreate(rtp, s.socket, s.peer);
    return slot;
}
