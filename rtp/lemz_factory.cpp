#include "rtp/lemz_factory.h"

#include "core/slots.h"
#include "framework/text.h"
#include "protocol/lgcp.h"

#include <unistd.h>

#include <iostream>

namespace {

constexpr uint16_t kLemzExtension = 4919;

} // namespace

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss,
                                       rtp_ext_init_params const& init, bool timer)
    : RtpLEMZSlot(tdm, std::move(session), params, bss)
{
    rtp_ext_attach_session_params attach{this->session().lowlevel_fd(), static_cast<int32_t>(::getpid())};
    mLemz = std::make_unique<RTPSignalling::LemzRadioGWControl>(tdm, attach, init);
    Adopt(timer);
}

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss,
                                       rtp_attach_session_params const& attach)
    : RtpLEMZSlot(tdm, std::move(session), params, bss)
{
    mLemz = std::make_unique<RTPSignalling::LemzRadioGWControl>(tdm, this->session(), attach);
    Adopt(false);
}

void RtpLEMZRadioGWSlot::Adopt(bool timer)
{
    SetControl(mLemz.get());
    mLemz->Bind(this);
    mLemz->SetDebug(false);
    mLemz->SetTimerEnable(timer);
    mLemz->SetRadioControlMode(RTPSignalling::kRadioModeGateway);
}

RtpLEMZRadioGWSlot::~RtpLEMZRadioGWSlot()
{
    mLemz->UnBind();
    mLemz->SetTimerEnable(false);
    SetControl(nullptr);
}

RtpLEMZFactory& RtpLEMZFactory::instance()
{
    static RtpLEMZFactory factory;
    return factory;
}

Slot* RtpLEMZFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.rtp_isSelected())
        return nullptr;
    const LGCP::CreateRtpParams& create = params.get_rtp();
    const TERM::RtpParams& rtp = create.get_codecRTP();
    if (!rtp.radio_isPresent() || !rtp.get_radio().get_status().lemz_isSelected())
        return nullptr;
    const TERM::RtpRadioRequest& radio = rtp.get_radio();
    std::clog << ext::header(this) << "do create rtp ext LEMZ: " << rtp << std::endl;

    uint32_t bss = radio.bss_enable_isPresent() && radio.get_bss_enable() ? 1 : 0;
    RtpSession s;
    if (!SetUpRtpSession(create, bss, [this](std::ostream& os) { PutHeader(os); }, s))
        return nullptr;

    RtpLEMZRadioGWSlot* slot;
    if (rtp.rtp_e2m_isPresent() && rtp.get_rtp_e2m().mode_isPresent()
        && rtp.get_rtp_e2m().get_mode().only_rtp_isSelected()) {
        const TERM::RtpExtDescription& only = rtp.get_rtp_e2m().get_mode().get_only_rtp();
        rtp_attach_session_params attach{only.get_fd().getValue(), only.get_pid().getValue()};
        slot = new RtpLEMZRadioGWSlot(s.tdm, std::move(s.session), s.params, bss, attach);
    } else {
        rtp_ext_init_params init{};
        init.etype = kLemzExtension;
        slot = new RtpLEMZRadioGWSlot(s.tdm, std::move(s.session), s.params, bss, init, true);
    }
    // A radio slot without its signalling would look alive and carry none.
    if (!slot->lemz().is_started()) {
        std::cerr << ext::header(this) << "rtp ext LEMZ do not created: no radio signalling session" << std::endl;
        slot->IBeforeDestroy();
        delete slot;
        return nullptr;
    }
    if (!slot->lemz().Fits(radio.get_status().get_lemz())) {
        std::cerr << ext::header(this) << "rtp ext LEMZ do not created: a radio value does not fit its packet field"
                  << std::endl;
        slot->IBeforeDestroy();
        delete slot;
        Answer::Refuse(Answer::invalidParams);
        return nullptr;
    }
    slot->ApplyCreate(rtp, s.socket, s.peer);
    return slot;
}
