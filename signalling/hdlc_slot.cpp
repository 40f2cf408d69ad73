#include "signalling/hdlc_slot.h"

#include "core/slots.h"
#include "core/traces.h"
#include "signalling/hdlc_frame.h"
#include "signalling/slot_signals.h"

#include <iostream>

unsigned HdlcSlot::sUpdateMs = 3000;

HdlcSlot::HdlcSlot(SlotFactory& factory, LGCP::HdlcParams const& params)
    : Slot(factory), mHdlc(std::make_unique<HDLC>())
{
    mHdlc->bind(this);
    int trunk = static_cast<int>(params.get_trunk().getValue());
    mHdlc->trunk(trunk);
    mTrunk = static_cast<unsigned>(trunk) - 1u; // any int, no overflow
    mAddress = static_cast<uint16_t>(params.get_address().getValue());
    mHdlc->logLevel(static_cast<int>(params.get_log().getValue()));
    if (Tracing()) {
        PutHeader(std::clog);
        std::clog << "trunk=" << mTrunk << ", address=" << mAddress << std::endl;
    }
    mUpdateTimer.set(sUpdateMs, &HdlcSlot::OnUpdateTimer, this);
    Reset();
}

HdlcSlot::~HdlcSlot() = default;

bool HdlcSlot::Tracing() const
{
    return Traces::instance().signallingHdlc;
}

void HdlcSlot::PutHeader(std::ostream& os) const
{
    os << "HdlcSlot[" << mTrunk << "/*]: ";
}

bool HdlcSlot::iactivate()
{
    if (Tracing()) {
        PutHeader(std::clog);
        std::clog << "Try to activate HDCL, params.tdm = " << mHdlc->params().tdm << std::endl;
    }
    if (!mHdlc->activate()) {
        OnDeactivated();
        return false;
    }
    if (Tracing()) {
        PutHeader(std::clog);
        std::clog << "HDLC activated successfully" << std::endl;
    }
    if (!mTxQueue.empty() && mHdlc->is_ready())
        on_hdlc_ready();
    return true;
}

bool HdlcSlot::Connect(int tdm, const char* trace)
{
    if (Tracing()) {
        PutHeader(std::clog);
        std::clog << trace << std::endl;
    }
    HDLC::Params params = mHdlc->params();
    params.tdm = tdm;
    params.mode = HDLC::pri;
    mHdlc->params(params);
    if (tdm == -1)
        return true;
    // A channel that could not be opened fails the connection as well as
    // being reported as deactivation.
    return iactivate();
}

bool HdlcSlot::IHwConnectTransmitter(Slot& receiver)
{
    return Connect(receiver.GetReceiveChannel(), "IHwConnectTransmitter");
}

bool HdlcSlot::IHwConnectReceiver(Slot& source)
{
    return Connect(source.GetTransmitChannel(), "IHwConnectReceiver");
}

void HdlcSlot::Disconnect(const char* trace)
{
    if (Tracing()) {
        PutHeader(std::clog);
        std::clog << trace << std::endl;
    }
    // The channel idles the switch outputs it fed when it closes.
    mHdlc->deactivate();
}

bool HdlcSlot::IHwDisconnectTransmitter(Slot&)
{
    Disconnect("IHwDisconnectTransmitter");
    return true;
}

bool HdlcSlot::IHwDisconnectReceiver(Slot&)
{
    Disconnect("IHwDisconnectReceiver");
    return true;
}

bool HdlcSlot::IActivate(TERM::TermActivateParams const&)
{
    if (Tracing()) {
        PutHeader(std::clog);
        std::clog << "IActivate" << std::endl;
    }
    // A channel that cannot open fails the command as well as being
    // reported as deactivation.
    if (!iactivate()) {
        Answer::Refuse(Answer::insufficientResources);
        return false;
    }
    return true;
}

bool HdlcSlot::IDeactivate()
{
    OnUpdateTimer();
    return true;
}

bool HdlcSlot::Ioctl(LGCP::IoctlParams const& params)
{
    if (!params.hdlcPackages_isSelected())
        return false;
    const LGCP::HdlcPackages& packages = params.get_hdlcPackages();
    // They would wait until the controller opens the channel again, and
    // nothing else tells it to.
    if (mHdlc->lost()) {
        PutHeader(std::cerr);
        std::cerr << packages.size() << " packages refused: channel lost" << std::endl;
        return UserDataTaken(Refusal::gone);
    }
    // All or nothing, so that a refused command can be sent again whole.
    if (PacketPoolLow(static_cast<unsigned>(packages.size()))) {
        PutHeader(std::cerr);
        std::cerr << packages.size() << " packages refused: packet pool low" << std::endl;
        Answer::Refuse(Answer::insufficientResources);
        return false;
    }
    // A ready channel with nothing waiting drains a list as it is queued,
    // so any list the module allows is taken; else what waits for the
    // channel stays within the queue's bound.
    const bool draining = mTxQueue.empty() && mHdlc->is_ready();
    if (!draining && mTxQueue.count() + packages.size() > kQueueSize) {
        PutHeader(std::cerr);
        std::cerr << packages.size() << " packages refused: " << mTxQueue.count() << " frames wait already"
                  << std::endl;
        Answer::Refuse(Answer::insufficientResources);
        return false;
    }
    for (const LGCP::HdlcPackage& package : packages) {
        if (package.get_body().size() > HDLC::kPacketSize - HdlcFrame::kHeader) {
            PutHeader(std::cerr);
            std::cerr << "package of " << package.get_body().size() << " octets refused: too long" << std::endl;
            Answer::Refuse(Answer::invalidParams);
            return false;
        }
    }
    for (const LGCP::HdlcPackage& package : packages) {
        Packet frame;
        frame.reserve_head(0);
        frame.put16_b(mAddress);
        frame.put8(HdlcFrame::Sequence(mTxSeq, mRxSeq));
        ++mTxSeq;
        const std::vector<char>& body = package.get_body();
        if (!body.empty())
            std::copy(body.begin(), body.end(), frame.put(static_cast<unsigned>(body.size())));
        if (Tracing()) {
            PutHeader(std::clog);
            std::clog << "enqueue package: " << frame << std::endl;
        }
        transmitPacket(frame);
    }
    return true;
}

void HdlcSlot::transmitPacket(Packet const& frame)
{
    mTxQueue.put(frame); // room was checked by the caller
    if (!mTxQueue.empty() && mHdlc->is_ready())
        on_hdlc_ready();
}

void HdlcSlot::on_hdlc_ready()
{
    Packet frame;
    while (mTxQueue.preview(&frame)) {
        if (!mHdlc->hdlc_transmit(frame))
            return; // stays at the head for the next ready indication
        mTxQueue.get(&frame);
        if (Tracing()) {
            PutHeader(std::clog);
            std::clog << "on_hdlc_ready " << frame << std::endl;
        }
    }
}

void HdlcSlot::on_hdlc_error(HDLC::Notify::Cause::Type)
{
    PutHeader(std::clog);
    std::clog << "on_hdlc_error" << std::endl;
}

void HdlcSlot::on_hdlc_receive(Packet& frame)
{
    if (Tracing()) {
        PutHeader(std::clog);
        std::clog << "on_hdlc_receive " << frame << std::endl;
    }
    enqResponce(frame);
}

void HdlcSlot::enqResponce(Packet& frame)
{
    HdlcFrame::Parsed f;
    if (!HdlcFrame::Parse(frame.length() ? frame.data() : nullptr, frame.length(), f)) {
        ++mShortFrames;
        if (Tracing()) {
            PutHeader(std::clog);
            std::clog << "frame of " << frame.length() << " octets dropped, " << mShortFrames << " so far"
                      << std::endl;
        }
        return;
    }
    if (f.address == mAddress) {
        mRxSeq = f.counter;
        // A peer that keeps marking "more" must not gather past what one
        // signal can carry: the whole list would be lost unencoded.
        LGCP::HdlcPackages& gathered = mResponse.get_hdlcPackages();
        if (gathered.size() >= kMaxPackages || mGatheredOctets + f.length > kMaxGatheredOctets)
            flushResponce();
        mGatheredOctets += f.length;
        LGCP::HdlcPackage package;
        package.set_body(std::vector<char>(f.body, f.body + f.length));
        mResponse.get_hdlcPackages().push_back(package);
    }
    // Frames for other addresses take part in the gathering too.
    if (!f.more) {
        mFlushTimer.reset();
        flushResponce();
    } else if (!mFlushTimer.is_running()) {
        mFlushTimer.set(kGatherMs, &HdlcSlot::flushResponce, this);
    }
}

void HdlcSlot::flushResponce()
{
    size_t count = mResponse.get_hdlcPackages().size();
    if (Tracing()) {
        PutHeader(std::clog);
        std::clog << "flushResponce: " << count << std::endl;
    }
    if (count > 0)
        OnIoctlResponse(mResponse);
    Reset();
}

void HdlcSlot::Reset()
{
    mResponse.select_hdlcPackages();
    mGatheredOctets = 0;
}

void HdlcSlot::OnUpdateTimer()
{
    mUpdateTimer.set(sUpdateMs, &HdlcSlot::OnUpdateTimer, this);
    UpdateHDLC_Statistics();
}

void HdlcSlot::UpdateHDLC_Statistics()
{
    SendHdlcReport(*this, mHdlc->statistics());
}

HdlcSlotFactory& HdlcSlotFactory::instance()
{
    static HdlcSlotFactory factory;
    return factory;
}

Slot* HdlcSlotFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (Traces::instance().signallingHdlc)
        std::clog << "\n\nHdlcSlotFactory.INewSlot\n\n" << std::endl;
    if (!params.hdlcParams_isSelected())
        return nullptr;
    const LGCP::HdlcParams& hdlc = params.get_hdlcParams();
    // Cut to 16 bits, the address would name another one.
    long address = static_cast<long>(hdlc.get_address().getValue());
    if (address < 0 || address > 0xFFFF) {
        std::cerr << "HdlcSlotFactory: address " << address << " does not fit 16 bits" << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return nullptr;
    }
    return new HdlcSlot(*this, hdlc);
}

void HdlcSlotFactory::SelfSignal(LGCP::Signal const& signal)
{
    PassTrunkStatus(*this, signal);
}
