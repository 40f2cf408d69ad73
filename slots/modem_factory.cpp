#include "slots/modem_factory.h"

#include "board/device.h"
#include "board/device_names.h"
#include "board/modem_requests.h"
#include "protocol/lgcp.h"
#include "slots/dsp_modem_slot.h"
#include "slots/hdlc_modem_slot.h"

#include <fcntl.h>
#include <linux/if.h>
#include <linux/sockios.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>

namespace {

uint16_t gAuthPort = AuthService::kPort;

template <class T>
void Drop(std::vector<T*>& list, const void* item)
{
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

} // namespace

void ModemFactory::SetAuthPort(uint16_t port)
{
    gAuthPort = port;
}

ModemFactory& ModemFactory::instance()
{
    static ModemFactory factory;
    return factory;
}

ModemFactory::ModemFactory()
    : mAuth(*this)
{
    update_modemDevices();
    update_hdlcDevices();
    mAuth.Open(gAuthPort);
}

ModemFactory::~ModemFactory() = default;

void ModemFactory::PutHeader(std::ostream& os) const
{
    os << "modem[" << mModems << "," << mAll.size() << "]: ";
}

Slot* ModemFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.modem_isSelected())
        return nullptr;
    const TERM::ModemParams& modem = params.get_modem();
    if (modem.ddm_isPresent() && modem.get_ddm().size() > 0 && !mFreeHdlc.empty()) {
        std::string name = mFreeHdlc.front();
        mFreeHdlc.erase(mFreeHdlc.begin());
        auto* slot = new HdlcModemSlot(modem, name);
        mAll.push_back(slot);
        mHdlc.push_back(slot);
        return slot;
    }
    auto* slot = new DspModemSlot(modem);
    mAll.push_back(slot);
    mDsp.push_back(slot);
    return slot;
}

void ModemFactory::Query(LGCP::Resources& resources)
{
    update_modemDevices();
    update_hdlcDevices();
    resources.set_modem(mModems);
    resources.set_digital_modems(static_cast<int>(mFreeHdlc.size()));
}

void ModemFactory::update_modemDevices()
{
    mModems = 0;
    Fd control(Device::Open(GetModemDevName(), O_RDWR));
    if (!control) {
        Errno error;
        PutHeader(std::cerr);
        std::cerr << "fail to open \"" << GetModemDevName() << "\" : " << error << std::endl;
        return;
    }
    // Bounded, and ended by a number given twice: a driver that repeats
    // itself would keep the walk going for ever.
    std::set<int> seen;
    intptr_t previous = -1;
    while (seen.size() < kMaxModems) {
        const int next = Device::Request(control.lowlevel_fd(), ModemRequest::kEnumerate,
                                         reinterpret_cast<void*>(previous));
        if (next < 0) {
            Errno error;
            if (error.value() != ENODEV) {
                PutHeader(std::cerr);
                std::cerr << "enum fail: " << error << std::endl;
            }
            return;
        }
        if (!seen.insert(next).second) {
            PutHeader(std::cerr);
            std::cerr << "modem " << next << " reported twice, no more modems asked for" << std::endl;
            return;
        }
        ++mModems;
        previous = next;
    }
}

bool ModemFactory::Held(const std::string& name) const
{
    for (HdlcModemSlot* slot : mHdlc)
        if (slot->deviceName() == name)
            return true;
    return false;
}

void ModemFactory::update_hdlcDevices()
{
    mFreeHdlc.clear();
    Fd sock(Device::Socket(AF_INET, SOCK_DGRAM));
    if (!sock)
        return;
    for (int n = 0; n < 256; ++n) {
        const std::string name = "hdlc" + std::to_string(n);
        ifreq request;
        std::memset(&request, 0, sizeof request);
        std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
        if (Device::Request(sock.lowlevel_fd(), SIOCGIFINDEX, &request) < 0
            || Device::Request(sock.lowlevel_fd(), SIOCGIFFLAGS, &request) < 0)
            break;
        // An interface a live slot holds is not free, whatever its state.
        if (!(request.ifr_flags & IFF_LOOPBACK) && (request.ifr_flags & IFF_POINTOPOINT) && !Held(name))
            mFreeHdlc.push_back(name);
    }
    if (mFreeHdlc.empty())
        return;
    PutHeader(std::clog);
    std::clog << "found point-o-point devices:";
    for (const std::string& name : mFreeHdlc)
        std::clog << " " << name;
    std::clog << std::endl;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot)
{
    Drop(mAll, slot);
    Drop(mDsp, slot);
    mAuth.Forget(static_cast<ModemSlot*>(slot));
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot)
{
    if (std::find(mHdlc.begin(), mHdlc.end(), slot) == mHdlc.end())
        return;
    Drop(mAll, slot);
    Drop(mHdlc, slot);
    mAuth.Forget(static_cast<ModemSlot*>(slot));
    mFreeHdlc.push_back(slot->deviceName());
}

ModemSlot* ModemFactory::FindModemByDsp(int id) const
{
    for (ModemSlot* slot : mAll)
        if (slot->modem_id() == id)
            return slot;
    return nullptr;
}

ModemSlot* ModemFactory::Route(AuthClient& client, uint32_t session) const
{
    if (session != ModemAuth::kDigitalSession) {
        // DSP modem numbers are unique among the live slots.
        ModemSlot* slot = FindModemByDsp(static_cast<int>(session));
        return slot && slot->modem_id() >= 0 ? slot : nullptr;
    }
    // Digital modems share one session id: a connection keeps the modem it
    // first spoke for; a new one takes the one running pppd that no other
    // connection speaks for, and only when that choice is unique.
    for (HdlcModemSlot* slot : mHdlc)
        if (client.owner() == static_cast<ModemSlot*>(slot))
            return slot;
    ModemSlot* found = nullptr;
    for (HdlcModemSlot* slot : mHdlc) {
        ModemSlot* modem = slot;
        if (!modem->pppd_executing() || mAuth.SpeakerFor(modem))
            continue;
        if (found)
            return nullptr;
        found = modem;
    }
    return found;
}

std::string ModemFactory::OnAuthRecord(AuthClient& client, const ModemAuth::Record& record)
{
    const uint32_t session = record.session();
    ModemSlot* slot = Route(client, session);
    if (!slot) {
        std::ostringstream fault;
        PutHeader(fault);
        fault << "receive auth request for unknown session " << session;
        return fault.str();
    }
    client.owner(slot);
    return slot->OnAuth(record);
}

void ModemFactory::SendAuth(ModemSlot& slot, const std::vector<uint8_t>& record)
{
    if (mAuth.Send(&slot, record))
        return;
    uint32_t session = 0;
    std::memcpy(&session, record.data() + 8, sizeof session);
    PutHeader(std::clog);
    std::clog << "send error: unknown auth " << static_cast<int>(session) << " session." << std::endl;
}
