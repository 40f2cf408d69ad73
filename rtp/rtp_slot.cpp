#include "rtp/rtp_slot.h"

#include "board/device.h"
#include "board/device_names.h"
#include "board/hw_mux.h"
#include "core/slots.h"
#include "framework/text.h"
#include "protocol/lgcp.h"
#include "rtp/rtcp.h"
#include "rtp/rtp_factory.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>
#include <sstream>

namespace {

// Contact items of the start-of-session announcement.
const char* const kCname = "Murvane Solvatrix";
const char* const kContactEmail = "support@murvane-solvatrix.example";
const char* const kContactPhone = "+00 000 000 0000";

// Session events read in one pass of the loop at most, so a chatty driver
// cannot hold the loop.
constexpr int kEventBurst = 16;
// The record's type, value and timeout words.
constexpr ssize_t kEventUsed = 12;

// The error as the packet-detector lines quote it.
struct QuotedErrno {
    Errno e;
};

std::ostream& operator<<(std::ostream& os, QuotedErrno const& q)
{
    return os << " errno=\"" << std::strerror(q.e.value()) << '"';
}

// Digits the tone generator refused were not sent: the controller's error.
bool Digits(bool sent)
{
    if (!sent)
        Answer::Refuse(Answer::invalidParams);
    return sent;
}

} // namespace

RtpSlot::RtpSlot(int tdm, Fd session, rtp_connection_params const& params, uint32_t bss)
    : mTdm(tdm), mSession(std::move(session)), mParams(params), mFallbackPt(params.rx_pt), mBss(bss)
{
    mEvent.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
    mEvent.Schedule(mSession, POLLIN);
}

RtpSlot::~RtpSlot()
{
    // A slot the core refused was never destroyed: its session still ends
    // in order, but the switch channel is another slot's.
    if (mSession)
        EndSession();
    // The far end never heard of a slot the controller never got.
    if (mAnnounced)
        send(RTPC::BYE(mParams.ssrc, "session end"));
    mRtcp.close();
    Hardware::TonecReceiver::CleanBeforeDestroy();
    Hardware::DSProcReceiver::CleanBeforeDestroy();
}

void RtpSlot::PutHeader(std::ostream& os) const
{
    os << "rtp[" << mTdm << "]: ";
}

void RtpSlot::startRTPC(Fd& socket, sockaddr_in const& peer)
{
    mPeer = peer;
    mRtcp = socket;
}

void RtpSlot::IAfterCreate()
{
    // Announced only once the core has taken the slot.
    mAnnounced = true;
    RTPC::SDES sdes(mParams.ssrc);
    sdes.add(RTPC::SDES::Item::CNAME, kCname);
    sdes.add(RTPC::SDES::Item::EMAIL, kContactEmail);
    sdes.add(RTPC::SDES::Item::PHONE, kContactPhone);
    send(sdes);
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

int RtpSlot::send(RTPC::Msg const& msg)
{
    char buf[1024];
    unsigned length = msg.encode(buf, sizeof buf);
    if (length == 0 || !mRtcp)
        return 0;
    return static_cast<int>(::sendto(mRtcp.lowlevel_fd(), buf, length, MSG_DONTWAIT,
                                     reinterpret_cast<const sockaddr*>(&mPeer), sizeof mPeer));
}

bool RtpSlot::Request(unsigned long code, void* arg, const char* what)
{
    if (Device::Request(mSession.lowlevel_fd(), code, arg) >= 0)
        return true;
    Errno e;
    std::cerr << ext::header(this) << what << " fail: " << e << std::endl;
    return false;
}

bool RtpSlot::Transmit(bool on)
{
    // What the slot asked for: a restart brings back what was wanted, and
    // a refused stop is not restarted on a slot that let its source go.
    mTransmitting = on;
    return Request(on ? RtpRequest::kStartTransmit : RtpRequest::kStopTransmit, nullptr,
                   on ? "start transmission" : "stop transmission");
}

bool RtpSlot::IOnInputStream()
{
    // A radio slot switches transmission by its squelch.
    if (mDependOnSqu)
        return true;
    // Refused, the connection is not made: nothing to transmit for.
    if (!Transmit(true))
        mTransmitting = false;
    return mTransmitting;
}

void RtpSlot::IOnInputRelease()
{
    Transmit(false);
}

void RtpSlot::EndSession()
{
    if (mSession) {
        uint32_t one = 1;
        Request(RtpRequest::kTeardown1, nullptr, "tear-down 1");
        Request(RtpRequest::kTeardown2, nullptr, "tear-down 2");
        Request(RtpRequest::kTeardown3, nullptr, "tear-down 3");
        Request(RtpRequest::kResetPD, &one, "RTP RESET EVENT PD");
    }
    mTransmitting = false;
    mPd = false;
    mEvent.Release();
    mSession.close();
}

bool RtpSlot::IBeforeDestroy()
{
    EndSession();
    HwMux::instance().Disable(mTdm);
    return true;
}

void RtpSlot::OnRtpEvent(int, short events)
{
    if (!(events & (POLLIN | POLLHUP | POLLERR)))
        return;
    for (int n = 0; n < kEventBurst; ++n) {
        // A short record leaves zeros, never the previous record's words.
        rtp_event event{};
        ssize_t got = ::read(mSession.lowlevel_fd(), &event, sizeof event);
        if (got < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                Errno e;
                std::cerr << ext::header(this) << "fail to read from rtp: " << e << std::endl;
            }
            return;
        }
        if (got == 0) {
            // Nothing more; a hung-up session would wake the loop for ever.
            if (events & (POLLHUP | POLLERR)) {
                std::cerr << ext::header(this) << "rtp session closed by the driver" << std::endl;
                mEvent.Release();
            }
            return;
        }
        if (got < kEventUsed) {
            std::cerr << ext::header(this) << "rtp event of " << got << " octets dropped" << std::endl;
            continue;
        }
        std::clog << ext::header(this) << "rtp event: " << " type=" << event.type << std::endl;
        processRtpEvent(event);
    }
}

bool RtpSlot::enablePD(LGCP::PDParams const& params)
{
    uint32_t t = static_cast<uint32_t>(params.get_timeout().getValue());
    rtp_pd_params record{{1, 0, t, 0, 0, t, 0, 0, 0}};
    if (Device::Request(mSession.lowlevel_fd(), RtpRequest::kSetPD, &record) < 0) {
        QuotedErrno e;
        std::cerr << ext::header(this) << "RTP SET EVENT PD fail:" << e << std::endl;
        return false;
    }
    mPd = true;
    mPdTimeout = t;
    std::clog << ext::header(this) << "RTP SET EVENT PD " << "timeout=" << t << std::endl;
    return true;
}

bool RtpSlot::disablePD()
{
    uint32_t one = 1;
    if (Device::Request(mSession.lowlevel_fd(), RtpRequest::kResetPD, &one) < 0) {
        QuotedErrno e;
        std::cerr << ext::header(this) << "RTP RESET EVENT PD fail:" << e << std::endl;
        return false;
    }
    mPd = false;
    std::clog << ext::header(this) << "RTP RESET EVENT PD" << std::endl;
    return true;
}

uint16_t RtpSlot::translate_payload(LGCP::CodecMode const& mode) const
{
    switch (mode.asNamedNumber()) {
    case LGCP::CodecMode::alaw:
        return 8;
    case LGCP::CodecMode::ulaw:
        return 0;
    default:
        return mFallbackPt;
    }
}

bool RtpSlot::ChangeCodec(LGCP::CodecMode const& mode, bool encoder)
{
    std::ostringstream line;
    line << ext::header(this) << "do restart RTP session (change tx payload):" << mode;
    uint16_t code = translate_payload(mode);
    uint16_t& pt = encoder ? mParams.tx_pt : mParams.rx_pt;
    // After a failed restart (no session, or transmission or the detector
    // not back on) the same codec asks for a real one.
    if (code == pt && mSession && !mRestartDue) {
        std::clog << line.str() << " - Nothing to do" << std::endl;
        return true;
    }
    uint16_t old = pt;
    pt = code;
    mRestartDue = !restart();
    if (mRestartDue) {
        std::clog << line.str() << std::endl;
        std::cerr << ext::header(this) << "fail to restart RTP session!" << std::endl;
        // The record keeps the codec of the last session that ran, and the
        // controller learns that the slot has lost its session.
        if (!mSession) {
            pt = old;
            Answer::Refuse(Answer::insufficientResources);
        }
        return false;
    }
    std::clog << line.str() << " - OK" << std::endl;
    return true;
}

bool RtpSlot::restart()
{
    // The watch holds a duplicate: both go, or the old session stays open.
    mEvent.Release();
    mSession.close();

    Fd session;
    int tdm = mTdm;
    if (!BeginRtpSession(mParams, tdm, mBss, [this](std::ostream& os) { PutHeader(os); }, session))
        return false;
    if (tdm != mTdm) {
        std::cerr << ext::header(this) << "add channel gave channel " << tdm << std::endl;
        return false;
    }
    mSession = std::move(session);
    mEvent.Schedule(mSession, POLLIN);

    bool ok = true;
    if (mTransmitting)
        ok = Transmit(true) && ok;
    if (mPd) {
        LGCP::PDParams params;
        params.set_timeout(static_cast<int>(mPdTimeout));
        // A refused detector is still wanted by the next restart.
        ok = enablePD(params) && ok;
        mPd = true;
    }
    return ok;
}

bool RtpSlot::Ioctl(LGCP::IoctlParams const& p)
{
    using Tonec = Hardware::TonecReceiver;
    using Dsp = Hardware::DSProcReceiver;
    if (p.echoSuppressor_isSelected())
        return Tonec::echoCancel(p.get_echoSuppressor());
    if (p.dtmf_enable_isSelected())
        return enableDTMF(p.get_dtmf_enable());
    if (p.dtmf_reject_enable_isSelected())
        return enableDTMFReject(p.get_dtmf_reject_enable());
    if (p.activateWaitTone_isSelected()) {
        activateAudibleCall();
        return true;
    }
    if (p.deactivateWaitTone_isSelected()) {
        cancelAudibleCall();
        return true;
    }
    if (p.translateDTMF_isSelected())
        return Digits(translateDTMF(p.get_translateDTMF()));
    if (p.dtmf_params_isSelected())
        return configureDTMF(p.get_dtmf_params());
    if (p.vad_enable_isSelected())
        return Dsp::enableVAD(p.get_vad_enable());
    if (p.vad_disable_isSelected())
        return disableVAD();
    if (p.vad_params_isSelected())
        return configureVAD(p.get_vad_params());
    if (p.sd_enable_isSelected())
        return enableSD(p.get_sd_enable());
    if (p.sd_disable_isSelected())
        return disableSD();
    if (p.sd_params_isSelected())
        return configureSD();
    if (p.pd_enable_isSelected()) {
        // The driver takes the timeout unsigned: a negative one is refused, not wrapped.
        if (p.get_pd_enable().get_timeout().getValue() < 0) {
            std::cerr << ext::header(this) << "packet detector timeout " << p.get_pd_enable().get_timeout().getValue()
                      << " refused" << std::endl;
            Answer::Refuse(Answer::invalidParams);
            return false;
        }
        return enablePD(p.get_pd_enable());
    }
    if (p.pd_disable_isSelected())
        return disablePD();
    if (p.encoder_mode_isSelected())
        return ChangeCodec(p.get_encoder_mode(), true);
    if (p.decoder_mode_isSelected())
        return ChangeCodec(p.get_decoder_mode(), false);
    if (p.rx_gain_isSelected()) {
        // The driver takes a signed octet: a gain past it is refused, not cut.
        int gain = p.get_rx_gain().get_gainDB().getValue();
        if (gain < SCHAR_MIN || gain > SCHAR_MAX) {
            std::cerr << ext::header(this) << "gain " << gain << " is outside " << SCHAR_MIN << ".." << SCHAR_MAX
                      << std::endl;
            Answer::Refuse(Answer::invalidParams);
            return false;
        }
        configureRxGain(static_cast<signed char>(gain));
        return true;
    }
    if (p.tone_filter_isSelected()) {
        const LGCP::ToneFilter& f = p.get_tone_filter();
        configureToneFilter(f.get_freq().getValue(), f.get_enable(), f.get_duration_th_msec().getValue(),
                            f.get_det_level_dB().getValue());
        return true;
    }
    if (p.selcal_isSelected())
        return Digits(Tonec::translateSelcal(p.get_selcal()));
    return false;
}
