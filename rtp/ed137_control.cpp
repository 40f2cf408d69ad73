#include "rtp/ed137_control.h"

#include "board/device.h"
#include "core/slots.h"
#include "framework/mux_time.h"
#include "protocol/term.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace RTPSignalling {

namespace {

void HeaderFrom(TERM::ED137RadioHeader const& h, ED137RadioState& s)
{
    s.ptt = static_cast<uint32_t>(h.get_ptt().asInt());
    s.squ = static_cast<uint32_t>(h.get_squ().asInt());
    s.ptt_id = h.get_ptt_id().getValue();
    s.ptt_mute = h.get_ptt_mute() ? 1 : 0;
    s.ptt_summation = h.get_ptt_summation() ? 1 : 0;
    s.sct = h.get_sct() ? 1 : 0;
}

void SqiFrom(TERM::ED137RadioExtensionSQI const& q, ED137RadioState& s)
{
    s.command |= ED137RadioState::kSqi;
    s.bss_method = static_cast<uint32_t>(q.get_bss_method().asInt());
    s.bss_quality = q.get_bss_quality().getValue();
}

// The PTT type and BSS method are three bits on the wire: values beyond
// the named ones travel through the extensible enumerations.
void Header(ED137RadioState const& s, TERM::ED137RadioHeader& h)
{
    h.get_ptt().setFromInt(static_cast<int>(s.ptt & 7));
    h.get_squ().setFromInt(s.squ ? 1 : 0);
    h.set_ptt_id(s.ptt_id & 63);
    h.set_ptt_mute(s.ptt_mute != 0);
    h.set_ptt_summation(s.ptt_summation != 0);
    h.set_sct(s.sct != 0);
}

void Sqi(ED137RadioState const& s, TERM::ED137RadioExtensionSQI& q)
{
    q.get_bss_method().setFromInt(static_cast<int>(s.bss_method & 7));
    q.set_bss_quality(s.bss_quality & 31);
}

// The header words and, when the state carries it, the signal quality.
void CopyState(ED137RadioState const& from, ED137RadioState& to)
{
    uint32_t method = to.bss_method, quality = to.bss_quality;
    to = from;
    if (!from.HasSqi()) {
        to.bss_method = method;
        to.bss_quality = quality;
    }
}

} // namespace

void ED137RadioParams::Init(TERM::ED137RadioResponse const& r)
{
    if (r.transmission_depend_on_squ_isPresent())
        transmission_depend_on_squ = r.get_transmission_depend_on_squ();
    if (r.sigtime_isPresent())
        sigtime = r.get_sigtime().getValue();
    if (r.r2s_keepalive_period_isPresent())
        r2s_keepalive_period = r.get_r2s_keepalive_period().getValue();
    if (r.r2s_keepalive_multiplier_isPresent())
        r2s_keepalive_multiplier = r.get_r2s_keepalive_multiplier().getValue();
    type = static_cast<uint32_t>(r.get_type().asInt());
    txrxmode = static_cast<uint32_t>(r.get_txrxmode().asInt());
}

bool ED137RadioState::IsEqual(ED137RadioState const& o) const
{
    return command == o.command && ptt == o.ptt && squ == o.squ && ptt_id == o.ptt_id && ptt_mute == o.ptt_mute
        && ptt_summation == o.ptt_summation && sct == o.sct && bss_method == o.bss_method
        && bss_quality == o.bss_quality && session_addr == o.session_addr && session_ssrc == o.session_ssrc;
}

int ED137RadioState::EncodeASN(TERM::ED137RadioModifierParams& params) const
{
    if (Class() == kRx) {
        auto& rx = params.select_rx();
        Header(*this, rx.get_header());
        if (HasSqi())
            Sqi(*this, rx.set_sqi());
    } else if (Class() == kTx) {
        Header(*this, params.select_tx().get_header());
    }
    return 0;
}

ED137RadioControl::ED137RadioControl(int slot, rtp_ext_attach_session_params const& attach,
                                     rtp_ext_init_params const& init)
    : RadioControl(slot, attach, init)
{
    Init();
}

ED137RadioControl::ED137RadioControl(rtp_ext_init_params const& init) : RadioControl(init)
{
    Init();
}

ED137RadioControl::ED137RadioControl(int slot, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(slot, std::move(rtp), attach)
{
    Init();
}

void ED137RadioControl::Init()
{
    mLastProcess = Mux::milliseconds();
    mLastKeepalive = mLastNotify = mLastReceive = mLastProcess;
    r2s_proto_init(&mRx, 0);
    r2s_proto_init(&mPrevRx, 0);
}

bool ED137RadioControl::SendASNToChan(TERM::RadioStatus const& status)
{
    if (!status.ed_137_isSelected() || !CanSend("status"))
        return false;
    ED137RadioState state = mSent;
    DecodeASN(status.get_ed_137(), state);
    if (!Fits(state)) {
        std::cerr << GetPrefix() << "radio status refused: a value does not fit its packet field" << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return false;
    }
    return SendRadioStateToChan(state) == 0;
}

bool ED137RadioControl::SendASNToChan(TERM::RadioModifier const& modifier)
{
    if (!modifier.ed_137_isSelected() || !CanSend("command"))
        return false;
    ED137RadioState state = mSent;
    DecodeASN(modifier.get_ed_137(), state);
    // A NUL would cut the address short and name another one.
    if (!Fits(state) || modifier.get_ed_137().get_addr().get_session_addr().find('\0') != std::string::npos) {
        std::cerr << GetPrefix() << "radio command refused: a value does not fit its packet field" << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return false;
    }
    return SendRadioStateToChan(state) == 0;
}

bool ED137RadioControl::Fits(ED137RadioState const& s)
{
    // Three bits on the wire: a wider value would go out as another one.
    return s.ptt <= 7 && s.bss_method <= 7;
}

bool ED137RadioControl::Fits(TERM::ED137RadioStatus const& status) const
{
    ED137RadioState state = mSent;
    DecodeASN(status, state);
    return Fits(state);
}

void ED137RadioControl::OnRtpExtEvent(int, short events)
{
    if (!(events & (POLLIN | POLLHUP | POLLERR)))
        return;
    if (mDebug)
        std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
    mLastProcess = Mux::milliseconds();
    r2s_proto_init(&mPrevRx, 0);
    ReceiveBurst(
        events, mRx, mPrevRx,
        [this](const unsigned char* buf, size_t octets) {
            r2s_proto_init(&mRx, 0);
            int32_t result = r2s_proto_unpack_tx(&mRx, buf, octets);
            // What does not unpack is no sign of life either.
            if (result == 0)
                mLastReceive = mLastProcess;
            return result;
        },
        [](r2s_proto const& a, r2s_proto const& b) { return cmp_r2s_proto_source(&a, &b) != 0; },
        [this](r2s_proto const& record) { OnRtpProtoRXEvent(record); });
}

void ED137RadioControl::DecodeProto(r2s_proto const& p, ED137RadioState& s)
{
    s.session_addr = p.source_addr;
    s.session_ssrc = p.source_ssrc;
    s.ptt = p.ptt;
    s.ptt_id = p.ptt_id;
    s.ptt_mute = p.ptt_mute;
    s.ptt_summation = p.ptt_summation;
    if (p.type == kR2sTx) {
        s.command |= ED137RadioState::kTx | ED137RadioState::kHeader;
        return;
    }
    if (p.type != kR2sRx)
        return;
    s.command |= ED137RadioState::kRx | ED137RadioState::kHeader;
    s.squ = p.squ;
    s.sct = p.sct;
    for (uint32_t i = 0; i < p.additional_count && i < kR2sMaxAdditionals; ++i) {
        if (p.additionals[i].kind != kR2sFeatureSqi)
            continue;
        s.command |= ED137RadioState::kSqi;
        s.bss_quality = p.additionals[i].sqi.quality_index;
        s.bss_method = p.additionals[i].sqi.method;
    }
}

int ED137RadioControl::OnRtpProtoRXEvent(r2s_proto const& record)
{
    ED137RadioState state;
    DecodeProto(record, state);
    if (!AccessFormChanToRadio(state))
        return 0;
    // An unchanged state reaches the controller at most once an interval.
    if (state.IsEqual(mReceived) && ClockAge(mLastNotify, mLastProcess) < mInterval)
        return 0;
    PutProtoFromChanToRadio(state);
    TERM::RtpRadioRequest request;
    EncodeASN(mSent, state, request);
    mLastNotify = mLastProcess;
    return Report(request, " command=0x", state.command) ? 0 : -1;
}

bool ED137RadioControl::NeedSendProto(ED137RadioState const& state) const
{
    if (mInit.sigtime_factor < 1)
        return true;
    // With keep-alives running, a repeated state waits for the next one.
    if (mInit.keepalive_count > 0)
        return !state.IsEqual(mSent);
    return true;
}

int ED137RadioControl::SendRadioStateToChan(ED137RadioState const& state)
{
    ED137RadioState before = mSent;
    r2s_proto record;
    if (NeedSendProto(state) && PutProtoFromRadioToChan(state) == 0 && EncodeProto(state, record) == 0) {
        // A command the far end never got changes nothing here either.
        if (SendProtoToChan(record) <= 0) {
            mSent = before;
            return Unwritten(static_cast<uint32_t>(state.command));
        }
        mLastProcess = Mux::milliseconds();
        // What the radio says itself restarts the keep-alive clock.
        if (mMode == kRadioModeGateway && state.Class() == ED137RadioState::kRx)
            mLastKeepalive = mLastProcess;
    }
    if (mDebug) {
        TERM::RtpRadioRequest report;
        EncodeStatusASN(mSent, report);
        std::clog << GetPrefix() << "command=0x" << std::hex << state.command << std::dec
                  << " receive extension from controller: " << report << std::endl;
    }
    // The source filter follows the PTT.
    in_addr holder{};
    holder.s_addr = mSent.session_addr;
    UpdateAccess(mSent.ptt != 0, holder);
    return 0;
}

int ED137RadioControl::SendProtoToChan(r2s_proto const& record)
{
    unsigned char buf[RtpExtRequest::kPacketBuffer];
    return WriteExtPacket(buf, r2s_proto_pack(&record, buf, sizeof buf));
}

void ED137RadioControl::DecodeASN(TERM::ED137RadioModifier const& m, ED137RadioState& s)
{
    s.command = 0;
    in_addr a{};
    ::inet_pton(AF_INET, m.get_addr().get_session_addr().c_str(), &a);
    s.session_addr = a.s_addr;
    s.session_ssrc = m.get_addr().get_session_ssrc().getValue();
    const TERM::ED137RadioModifierParams& p = m.get_params();
    if (p.rx_isSelected()) {
        s.command |= ED137RadioState::kRx | ED137RadioState::kHeader;
        HeaderFrom(p.get_rx().get_header(), s);
        if (p.get_rx().sqi_isPresent())
            SqiFrom(p.get_rx().get_sqi(), s);
    } else if (p.tx_isSelected()) {
        s.command |= ED137RadioState::kTx | ED137RadioState::kHeader;
        HeaderFrom(p.get_tx().get_header(), s);
    }
}

void ED137RadioControl::DecodeASN(TERM::ED137RadioStatus const& status, ED137RadioState& s)
{
    s.command = ED137RadioState::kRx | ED137RadioState::kHeader;
    HeaderFrom(status.get_header(), s);
    if (status.sqi_isPresent())
        SqiFrom(status.get_sqi(), s);
}

void ED137RadioControl::EncodeStatusASN(ED137RadioState const& s, TERM::RtpRadioRequest& request)
{
    TERM::ED137RadioStatus& status = request.get_status().select_ed_137();
    Header(s, status.get_header());
    Sqi(s, status.set_sqi());
}

void ED137RadioControl::EncodeASN(ED137RadioState const& sent, ED137RadioState const& received,
                                  TERM::RtpRadioRequest& request)
{
    EncodeStatusASN(sent, request);
    TERM::ED137RadioModifier& m = request.set_request().select_ed_137();
    m.get_addr().set_session_addr(DottedAddress(received.session_addr));
    m.get_addr().set_session_ssrc(received.session_ssrc);
    received.EncodeASN(m.get_params());
}

// Gateway side.

unsigned long ED137RadioGWControl::ProcessRadioStatus(unsigned long now, unsigned long interval)
{
    uint32_t t = static_cast<uint32_t>(now);
    uint32_t limit = mParams.r2s_keepalive_period * mParams.r2s_keepalive_multiplier;
    // By signed difference, so the 32-bit clock's wrap neither raises nor
    // hides a loss; repeated while the silence lasts.
    if (limit != 0 && ClockAge(mLastReceive, t) >= limit && mNotify)
        mNotify->RadioControlNotify(kR2sLinkLost);
    if (ClockAge(mLastKeepalive, t) >= interval) {
        // The keep-alive is the radio's own RX header; a copy, so a TX
        // command stored as sent neither stops it nor is changed by it.
        ED137RadioState keepalive = mSent;
        keepalive.command = ED137RadioState::kRx | ED137RadioState::kHeader | (mSent.command & ED137RadioState::kSqi);
        r2s_proto record;
        if (EncodeProto(keepalive, record) == 0) {
            SendProtoToChan(record);
            mLastKeepalive = t;
        }
    }
    uint32_t elapsed = ClockAge(mLastKeepalive, t);
    return elapsed != 0 && elapsed < interval ? interval - elapsed + 10 : interval;
}

int ED137RadioGWControl::PutProtoFromRadioToChan(ED137RadioState const& s)
{
    CopyState(s, mSent);
    return 0;
}

int ED137RadioGWControl::PutProtoFromChanToRadio(ED137RadioState const& s)
{
    CopyState(s, mReceived);
    return 0;
}

bool ED137RadioGWControl::AccessFormChanToRadio(ED137RadioState const&)
{
    // The far end's PTT matters only to a radio that may transmit.
    bool kind = mParams.type == 2 || mParams.type == 3 || mParams.type == 4;
    bool mode = mParams.txrxmode == 0 || mParams.txrxmode == 2;
    return kind && mode;
}

int ED137RadioGWControl::EncodeProto(ED137RadioState const& s, r2s_proto& record)
{
    switch (s.Class()) {
    case ED137RadioState::kRx:
        r2s_proto_init(&record, kR2sRx);
        r2s_proto_set_rx_header(&record, s.ptt, s.squ, s.ptt_id, s.ptt_mute, s.ptt_summation, s.sct);
        if (s.HasSqi())
            r2s_proto_add_rx_sqi(&record, s.bss_quality, s.bss_method);
        return 0;
    case ED137RadioState::kTx:
        r2s_proto_init(&record, kR2sTx);
        r2s_proto_set_tx_header(&record, s.ptt, s.ptt_id, s.ptt_mute, s.ptt_summation);
        return 0;
    default:
        return -1;
    }
}

} // namespace RTPSignalling
