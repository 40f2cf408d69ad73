#include "signalling/isdn_slot.h"

#include "board/device.h"
#include "board/dsp_data.h"
#include "board/mcc.h"
#include "core/slots.h"
#include "protocol/lgcp.h"
#include "signalling/lapd_frame.h"
#include "signalling/lapd_nt.h"
#include "signalling/slot_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

// ---- the D channel ----

IsdnSlot::IsdnSlot(SlotFactory& factory, Fd const& device, int channel, Protocol* engine, const char* eventName)
    : Slot(factory), mChannel(channel), mName("ISDN/HDLC")
{
    mLapd = dynamic_cast<ISDN::LAPD*>(engine);
    mLapdNt = dynamic_cast<ISDN::LAPD_NT*>(engine);
    if (mLapd) {
        mLapd->BindNotify(this);
        mLapd->hdlc(this);
    }
    if (mLapdNt)
        mLapdNt->hdlc(this);
    mEvent.Bind(eventName, &IsdnSlot::OnEvent, this);
    mWriteFailed.Bind(this, &IsdnSlot::OnWriteFailed);
    mEvent.Schedule(device, POLLIN | POLLOUT);
    add_protocol_tail(engine);
}

IsdnSlot::~IsdnSlot()
{
    // The engine sends through this slot: it goes first.
    delete_protocols();
}

void IsdnSlot::PutHeader(std::ostream& os) const
{
    os << "isdn[" << GetId() << "]: ";
}

bool IsdnSlot::IActivate(TERM::TermActivateParams const&)
{
    if (mLost) {
        Answer::Refuse(Answer::busError); // the device is gone, as for user data
        return false;
    }
    activate();
    return true;
}

bool IsdnSlot::IDeactivate()
{
    deactivate();
    return true;
}

bool IsdnSlot::IUserData(std::vector<char> const& data)
{
    // Longer than any frame of the link: the layer would only drop it.
    if (data.size() > ISDN::N201) {
        PutHeader(std::cerr);
        std::cerr << "user data of " << data.size() << " octets refused: too long" << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return false;
    }
    // The user side would queue it for ever, the network side find no
    // terminal: the device is never used again.
    if (mLost) {
        ++mUnsent;
        PutHeader(std::cerr);
        std::cerr << "user data refused: device released" << std::endl;
        return UserDataTaken(Refusal::gone);
    }
    UserDataDown(*this, data);
    return UserDataTaken(mLapd ? mLapd->refusal() : mLapdNt->refusal());
}

void IsdnSlot::on_message(Packet& p)
{
    UserDataUp(*this, p);
}

void IsdnSlot::on_activated(Protocol*)
{
    UpdateISDN_Statistics();
    OnActivated();
}

void IsdnSlot::on_deactivated(Protocol*, Protocol_status)
{
    UpdateISDN_Statistics();
    if (!mLost) // already told when the device went
        OnDeactivated();
}

void IsdnSlot::UpdateISDN_Statistics()
{
    if (!mLapd)
        return;
    LGCP::IoctlResponse response;
    if (mLapd->GetInfo(response.select_isdnLinkInfo()))
        OnIoctlResponse(response);
}

bool IsdnSlot::hdlc_transmit(Packet& frame)
{
    if (frame.empty())
        return true;
    if (!mEvent.IsActive())
        return false;
    ssize_t n;
    do
        n = ::write(mEvent.lowlevel_fd(), frame.data(), frame.length());
    while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(frame.length()))
        return true;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        mReady = false;
        mEvent.SetEvents(POLLIN | POLLOUT);
        return false;
    }
    // A frame cut short is as lost as one refused. Nothing would ever
    // retry it (only a blocked write waits for the device), so the device
    // counts as broken, as on a read error.
    Errno error;
    ++mWriteErrors;
    PutHeader(std::cerr);
    if (n < 0)
        std::cerr << "write failed: " << error << std::endl;
    else
        std::cerr << "device took " << n << " of " << frame.length() << " octets" << std::endl;
    mWriteFailed.Activate();
    return false;
}

void IsdnSlot::OnWriteFailed()
{
    mWriteFailed.Deactivate();
    if (!mLost && mEvent.IsActive())
        Lost("write error");
}

void IsdnSlot::OnEvent(int fd, short revents)
{
    if (revents & POLLIN) {
        Packet p;
        p.reserve_head(0);
        ssize_t n = ::read(fd, p.tail(), p.tailroom());
        if (n > 0) {
            p.put(static_cast<unsigned>(n));
            receive(p);
            if (mLost || !mEvent.IsActive())
                return;
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            Errno error;
            PutHeader(std::cerr);
            std::cerr << "read failed: " << error << std::endl;
            Lost("read error");
            return;
        }
        // An empty frame is dropped; room that came with it is still taken.
    }
    // A broken device stays readable or in error: polling it again would
    // spin the loop.
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
        Lost(revents & POLLHUP ? "device hung up" : "device error");
        return;
    }
    if ((revents & POLLOUT) && !mReady) {
        mReady = true;
        mEvent.SetEvents(POLLIN);
        if (mLapd)
            mLapd->on_hdlc_ready();
        if (mLapdNt)
            mLapdNt->on_hdlc_ready();
    }
}

void IsdnSlot::Lost(const char* why)
{
    PutHeader(std::cerr);
    std::cerr << why << ", device released" << std::endl;
    mLost = true;
    mReady = false;
    mEvent.Release();
    deactivate();
    OnDeactivated();
}

// ---- QSIG ----

AtsQsigSlot::AtsQsigSlot(SlotFactory& factory, Fd const& device, int channel, ISDN::LAPD* engine)
    : IsdnSlot(factory, device, channel, engine, "AtsQsigSlot::OnEvent")
{
}

void AtsQsigSlot::PutHeader(std::ostream& os) const
{
    os << "ats-qsig: ";
}

bool AtsQsigSlot::IBeforeDestroy()
{
    mEvent.Release();
    return true;
}

Slot* AtsQsigSlot::NewBChannel(SlotFactory& factory, unsigned index)
{
    DspData::BChannel record{index, -1};
    if (!mEvent.IsActive() || Device::Request(mEvent.lowlevel_fd(), DspData::kAddB, &record) < 0) {
        PutHeader(std::cerr);
        std::cerr << "add B channel fail !!!" << std::endl;
        return nullptr;
    }
    return new AtsQsigBSlot(factory, static_cast<unsigned>(GetId()), index, record.channel);
}

namespace {

// Gives a B channel of the link back, on a descriptor of its own when the
// link's is gone: the channel is the driver's until removed.
int RemoveBChannel(int fd, unsigned index)
{
    uint32_t i = index;
    if (fd >= 0)
        return Device::Request(fd, DspData::kRemoveB, &i);
    Fd own(Device::Open(DspData::kDevice, O_RDWR | O_NONBLOCK));
    return own ? Device::Request(own.lowlevel_fd(), DspData::kRemoveB, &i) : -1;
}

} // namespace

int AtsQsigSlot::DestroyBChannel(unsigned index)
{
    return RemoveBChannel(mEvent.IsActive() ? mEvent.lowlevel_fd() : -1, index);
}

AtsQsigBSlot::AtsQsigBSlot(SlotFactory& factory, unsigned signallingSlot, unsigned index, int channel)
    : Slot(factory), mSignallingSlot(signallingSlot), mIndex(index), mChannel(channel)
{
}

void AtsQsigBSlot::PutHeader(std::ostream& os) const
{
    os << "ats-qsig-b: ";
}

bool AtsQsigBSlot::IBeforeDestroy()
{
    Slot* slot = IsdnFactory::instance().FindSlot(mSignallingSlot);
    auto* qsig = dynamic_cast<AtsQsigSlot*>(slot);
    if (!slot)
        std::clog << "Can't find signalling slot" << std::endl;
    // Whichever goes first, the B channel goes back with its slot.
    if ((qsig ? qsig->DestroyBChannel(mIndex) : RemoveBChannel(-1, mIndex)) < 0) {
        Errno error;
        PutHeader(std::cerr);
        std::cerr << "remove B channel " << mIndex << " fail: " << error << std::endl;
    }
    return true;
}

// ---- the factory ----

IsdnFactory& IsdnFactory::instance()
{
    static IsdnFactory factory;
    return factory;
}

void IsdnFactory::PutHeader(std::ostream& os) const
{
    os << "mcc/isdn: ";
}

Slot* IsdnFactory::FindSlot(unsigned number) const
{
    for (Slot* slot : slots())
        if (slot->GetId() == static_cast<int>(number))
            return slot;
    return nullptr;
}

Slot* IsdnFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (params.isdn_isSelected())
        return NewIsdnSlot(params.get_isdn());
    if (params.ats_qsig_isSelected())
        return NewAtsQsigSlot(params.get_ats_qsig());
    if (params.ats_qsig_b_isSelected())
        return NewAtsQsigBSlot(params.get_ats_qsig_b());
    return nullptr;
}

Slot* IsdnFactory::NewIsdnSlot(LGCP::IsdnParams const& params)
{
    const bool bri = params.get_type().asInt() == 0;
    const bool network = params.get_side().network_isSelected();
    Mcc::Channel channel = Mcc::Allocate(O_RDWR | O_NONBLOCK, {bri ? Mcc::kBri : Mcc::kData, 512, 0, 1, 1});
    if (channel.failed != Mcc::Channel::ok) {
        PutHeader(std::cerr);
        std::cerr << Mcc::FailureText(channel.failed) << Errno(channel.error) << std::endl;
        return nullptr;
    }
    const unsigned log = static_cast<unsigned>(params.get_log().getValue());
    Protocol* engine;
    if (bri && network) {
        // The network side of a BRI answers its terminals' TEI procedures.
        auto* nt = new ISDN::LAPD_NT;
        nt->set_log(log);
        engine = nt;
    } else {
        auto* lapd = new ISDN::LAPD(ISDN::Side::user, 0);
        if (bri)
            lapd->change_to_bri();
        lapd->set_linkno(static_cast<unsigned>(params.get_trunk().getValue()));
        lapd->set_log(log);
        lapd->set_side(network ? ISDN::Side::network : ISDN::Side::user);
        engine = lapd;
    }
    return new IsdnSlot(*this, channel.fd, channel.timeslot, engine, "IsdnSlot::OnEvent");
}

Slot* IsdnFactory::NewAtsQsigSlot(LGCP::AtsQsigParams const& params)
{
    Fd fd(Device::Open(DspData::kDevice, O_RDWR | O_NONBLOCK));
    if (!fd) {
        Errno error;
        PutHeader(std::cerr);
        std::cerr << "fail to open dsp-data device: " << error << std::endl;
        return nullptr;
    }
    int channel = Device::Request(fd.lowlevel_fd(), DspData::kDTimeslot);
    if (channel < 0) {
        Errno error;
        PutHeader(std::cerr);
        std::cerr << "QSIG D time slot fail: " << error << std::endl;
        return nullptr;
    }
    auto* lapd = new ISDN::LAPD(ISDN::Side::user, 0);
    lapd->set_log(0);
    lapd->set_side(params.get_side().network_isSelected() ? ISDN::Side::network : ISDN::Side::user);
    auto* slot = new AtsQsigSlot(*this, fd, channel, lapd);
    lapd->set_linkno(static_cast<unsigned>(slot->GetTimeslot()));
    return slot;
}

Slot* IsdnFactory::NewAtsQsigBSlot(LGCP::AtsQsigBParams const& params)
{
    auto* qsig = dynamic_cast<AtsQsigSlot*>(FindSlot(static_cast<unsigned>(params.get_slot().getValue())));
    const unsigned subslot = static_cast<unsigned>(params.get_subslot().getValue());
    if (!qsig || subslot == 0) {
        // The controller named no QSIG link: nothing is missing on the board.
        Answer::Refuse(Answer::invalidParams);
        return nullptr;
    }
    return qsig->NewBChannel(*this, subslot - 1);
}
