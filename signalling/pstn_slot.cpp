#include "signalling/pstn_slot.h"

#include "core/slots.h"
#include "protocol/lgcp.h"
#include "signalling/lapd_frame.h"
#include "signalling/lapd_nt.h"
#include "signalling/slot_signals.h"
#include "signalling/ss7_slc.h"
#include "signalling/ss7_su.h"

#include <iostream>

unsigned PstnSlot::sUpdateMs = 3000;

namespace {

// E1 trunks 0 to 3, time slots 0 to 31.
constexpr int kMaxTrunk = 3;
constexpr int kMaxTimeslot = 31;

} // namespace

PstnSlot::PstnSlot(SlotFactory& factory, LGCP::PstnParams const& params)
    : Slot(factory), mChannel(std::make_unique<HDLC>()), mName("PSTN")
{
    mChannel->bind(this);
    if (params.ss7_isSelected()) {
        const LGCP::SS7Params& p = params.get_ss7();
        const int trunk = static_cast<int>(p.get_trunk().getValue());
        mSlc = new SS7::SLC;
        mHdlcListener = mSlc;
        mSlc->hdlc(mChannel.get());
        mSlc->set_linkno(static_cast<unsigned>(trunk));
        mSlc->set_slc(static_cast<unsigned>(p.get_slc().getValue()));
        mSlc->set_dpc(static_cast<unsigned>(p.get_dpc().getValue()));
        mSlc->set_opc(static_cast<unsigned>(p.get_opc().getValue()));
        mSlc->set_emergency(p.get_emergency());
        add_protocol_tail(mSlc);
        mChannel->trunk(trunk);
        mTrunkIndex = static_cast<unsigned>(trunk) - 1u; // any int, no overflow
        mKind = ss7;
    } else if (params.isdn_isSelected()) {
        const LGCP::IsdnParams& p = params.get_isdn();
        const int trunk = static_cast<int>(p.get_trunk().getValue());
        const unsigned log = static_cast<unsigned>(p.get_log().getValue());
        const bool bri = p.get_type().asInt() == 0;
        const bool network = p.get_side().network_isSelected();
        if (bri && network) {
            // The network side of a BRI serves its terminals on this channel.
            mLapdNt = new ISDN::LAPD_NT;
            mLapdNt->set_log(log);
            mLapdNt->hdlc(mChannel.get());
            mLapdNt->BindNotify(this);
            mHdlcListener = mLapdNt;
            add_protocol_tail(mLapdNt);
            mKind = bri_network;
        } else {
            mLapd = new ISDN::LAPD(ISDN::Side::user, 0);
            mHdlcListener = mLapd;
            mLapd->hdlc(mChannel.get());
            mLapd->set_side(network ? ISDN::Side::network : ISDN::Side::user);
            mLapd->set_linkno(static_cast<unsigned>(trunk));
            mLapd->set_log(log);
            mLapd->BindNotify(this);
            if (bri)
                mLapd->change_to_bri();
            mKind = bri ? bri_user : pri;
            add_protocol_tail(mLapd);
        }
        mChannel->logLevel(static_cast<int>(log));
        mChannel->trunk(trunk);
        mTrunkIndex = static_cast<unsigned>(trunk) - 1u; // any int, no overflow
    } else {
        mKind = ss7; // CAS: a bare channel
    }
    mUpdateTimer.set(sUpdateMs, &PstnSlot::OnUpdateTimer, this);
}

PstnSlot::~PstnSlot()
{
    // The layers send through the channel: they go first.
    delete_protocols();
}

bool PstnSlot::IHwConnectReceiver(Slot& source)
{
    HDLC::Params params = mChannel->params();
    if (mKind == ss7 || mKind == pri) {
        const int trunk = source.GetTrunk();
        if (trunk < 0 || trunk > kMaxTrunk) {
            std::cerr << "pstn-slot: invalid trunk number: " << trunk << std::endl;
            return false;
        }
        const int timeslot = source.GetTrunkTimeSlot();
        if (timeslot < 0 || timeslot > kMaxTimeslot) {
            std::cerr << "pstn-slot: invalid timeslot: " << timeslot << std::endl;
            return false;
        }
        params.trunk = trunk;
        params.timeslot = timeslot;
    }
    params.mode = mKind == ss7 ? HDLC::ss7 : mKind == pri ? HDLC::pri : HDLC::bri;
    params.tdm = source.GetTransmitChannel();
    mChannel->params(params);
    if (mKind == ss7 || mKind == pri || params.tdm2 >= 0)
        return iactivate(); // a channel that cannot open fails the connection too
    return true;
}

bool PstnSlot::IHwConnectTransmitter(Slot& receiver)
{
    if (mKind == ss7 || mKind == pri)
        return true; // the channel connects itself both ways
    HDLC::Params params = mChannel->params();
    params.tdm2 = receiver.GetReceiveChannel();
    mChannel->params(params);
    if (params.tdm >= 0)
        return iactivate(); // a channel that cannot open fails the connection too
    return true;
}

bool PstnSlot::IHwDisconnectTransmitter(Slot&)
{
    if (mKind == ss7 || mKind == pri)
        return true;
    deactivate();
    // Left open, the channel would hold the line's time slot both ways and
    // the far end could align the link again. It idles the switch outputs
    // it fed as it closes.
    mChannel->deactivate();
    HDLC::Params params = mChannel->params();
    params.tdm2 = -1;
    mChannel->params(params);
    return true;
}

bool PstnSlot::IHwDisconnectReceiver(Slot&)
{
    deactivate();
    mChannel->deactivate();
    HDLC::Params params = mChannel->params();
    params.tdm = -1;
    mChannel->params(params);
    return true;
}

bool PstnSlot::iactivate()
{
    if (!mChannel->activate()) {
        OnDeactivated();
        return false;
    }
    activate();
    return true;
}

bool PstnSlot::IActivate(TERM::TermActivateParams const&)
{
    if (iactivate())
        return true;
    Answer::Refuse(Answer::insufficientResources);
    return false;
}

bool PstnSlot::IDeactivate()
{
    deactivate();
    return true;
}

bool PstnSlot::IUserData(std::vector<char> const& data)
{
    // A CAS slot has no link to carry data.
    if (!has_protocols())
        return false;
    // What no frame of the link can carry, the layer would only drop: an
    // MSU holds the SIO and at least two octets of its field.
    const size_t least = mSlc ? size_t(SS7::kMinMsu) : 0;
    const size_t most = mSlc ? size_t(SS7::kMaxMsu) : size_t(ISDN::N201);
    if (data.size() < least || data.size() > most) {
        std::cerr << "pstn-slot: user data of " << data.size() << " octets refused: too "
                  << (data.size() < least ? "short" : "long") << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return false;
    }
    // Its link would queue it, or send it nowhere, until the controller
    // opens the channel again, and nothing else tells it to.
    if (mChannel->lost()) {
        ++mUnsent;
        std::cerr << "pstn-slot: user data refused: channel lost" << std::endl;
        return UserDataTaken(Refusal::gone);
    }
    UserDataDown(*this, data);
    return UserDataTaken(mSlc ? mSlc->refusal() : mLapd ? mLapd->refusal() : mLapdNt->refusal());
}

void PstnSlot::on_message(Packet& p)
{
    UserDataUp(*this, p);
}

void PstnSlot::on_hdlc_receive(Packet& frame)
{
    if (mHdlcListener)
        mHdlcListener->on_hdlc_receive(frame);
}

void PstnSlot::on_hdlc_error(HDLC::Notify::Cause::Type cause)
{
    if (mHdlcListener)
        mHdlcListener->on_hdlc_error(cause);
}

void PstnSlot::on_hdlc_ready()
{
    if (mHdlcListener)
        mHdlcListener->on_hdlc_ready();
}

void PstnSlot::on_activated(Protocol*)
{
    IsdnReport();
    Ss7Report();
    OnActivated();
}

void PstnSlot::on_deactivated(Protocol*, Protocol_status)
{
    IsdnReport();
    Ss7Report();
    OnUpdateTimer();
    OnDeactivated();
}

void PstnSlot::OnLAPD_FlowStatusChange(ISDN::LAPD* lapd)
{
    FlowReport(lapd->GetFlowStatus() == ISDN::LAPD::FlowStatus::congested);
}

void PstnSlot::OnLAPD_NT_FlowStatusChange(ISDN::LAPD_NT* layer)
{
    FlowReport(layer->congested());
}

void PstnSlot::FlowReport(bool congested)
{
    LGCP::IoctlResponse response;
    response.select_isdnLinkStatus() = congested ? LGCP::IsdnLinkStatus::congested : LGCP::IsdnLinkStatus::normal;
    OnIoctlResponse(response);
}

bool PstnSlot::Ioctl(LGCP::IoctlParams const& params)
{
    if (!mSlc)
        return false;
    if (params.ss7RqBSN_isSelected()) {
        LGCP::IoctlResponse response;
        response.select_ss7BSN(static_cast<int>(mSlc->get_bsn()));
        OnIoctlResponse(response);
        return true;
    }
    if (params.ss7Log_isSelected()) {
        const LGCP::SS7L2Log& l = params.get_ss7Log();
        SS7::SLC::Trace& t = mSlc->trace;
        t.state = l.get_state();
        t.raw_receive = l.get_raw_receive();
        t.raw_transmit = l.get_raw_transmit();
        t.mtp_transmit = l.get_mtp_transmit();
        t.mtp_receive = l.get_mtp_receive();
        t.mtp_activate = l.get_mtp_activate();
        t.timers = l.get_timers();
        t.msu_processing = l.get_msu_processing();
        return true;
    }
    return false;
}

void PstnSlot::OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber const& state)
{
    if (trunk != mTrunkIndex || !mSlc || state == mTrunkState)
        return;
    mSlc->OnTrunkHardStatus(state == ACP::TrunkState::normal);
    mTrunkState = state;
}

void PstnSlot::OnUpdateTimer()
{
    mUpdateTimer.set(sUpdateMs, &PstnSlot::OnUpdateTimer, this);
    HdlcReport();
    IsdnReport();
    Ss7Report();
}

void PstnSlot::HdlcReport()
{
    SendHdlcReport(*this, mChannel->statistics());
}

void PstnSlot::IsdnReport()
{
    if (!mLapd)
        return;
    LGCP::IoctlResponse response;
    if (mLapd->GetInfo(response.select_isdnLinkInfo()))
        OnIoctlResponse(response);
}

void PstnSlot::Ss7Report()
{
    if (!mSlc)
        return;
    const SS7::SLC::Statistics& s = *mSlc->statistics();
    LGCP::IoctlResponse response;
    ACP::SS7LinkInfo& info = response.select_ss7LinkInfo();
    info.set_msuTxCount(s.msu_tx);
    info.set_msuRxCount(s.msu_rx);
    info.set_octetsTx(s.octets_tx);
    info.set_octetsRx(s.octets_rx);
    info.set_speedRx(0);
    info.set_speedTx(0);
    info.set_overflowCntr(s.overflow);
    info.set_rtbSize(s.rtb_size);
    info.set_repeatCntr(s.repeat);
    info.set_badSeqCntr(s.bad_seq);
    info.get_ss7state() = static_cast<ACP::SS7State::NamedNumber>(mSlc->get_state_id());
    OnIoctlResponse(response);
}

PstnFactory& PstnFactory::instance()
{
    static PstnFactory factory;
    return factory;
}

Slot* PstnFactory::INewSlot(LGCP::CreateParams const& params)
{
    return params.pstn_isSelected() ? new PstnSlot(*this, params.get_pstn()) : nullptr;
}

void PstnFactory::SelfSignal(LGCP::Signal const& signal)
{
    PassTrunkStatus(*this, signal);
}
