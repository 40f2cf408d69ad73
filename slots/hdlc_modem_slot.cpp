#include "slots/hdlc_modem_slot.h"

#include "board/device.h"
#include "core/slots.h"
#include "framework/fd.h"
#include "slots/modem_factory.h"

#include <linux/if.h> // before the hdlc settings, which need its sizes
#include <linux/hdlc/ioctl.h>
#include <linux/sockios.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>

namespace {

ifreq Request(const std::string& name)
{
    ifreq request;
    std::memset(&request, 0, sizeof request);
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    return request;
}

} // namespace

HdlcModemSlot::HdlcModemSlot(const TERM::ModemParams& params, const std::string& name)
    : ModemSlot(params), mName(name)
{
}

HdlcModemSlot::~HdlcModemSlot()
{
    pppd_kill();
    unbind();
    TearDown();
}

void HdlcModemSlot::unbind()
{
    factory().ReleaseModemSlot(this);
}

bool HdlcModemSlot::IOnOutputStream()
{
    initModem();
    return mChannel >= 0;
}

bool HdlcModemSlot::IOnInputStream()
{
    initModem();
    return mChannel >= 0;
}

void HdlcModemSlot::initModem()
{
    if (pppd_executing())
        return;
    Fd sock(Device::Socket(AF_INET, SOCK_DGRAM));
    if (!sock)
        return;
    unsigned char settings[128] = {};
    ifreq request = Request(mName);
    request.ifr_settings.type = IF_GET_IFACE;
    request.ifr_settings.size = sizeof settings;
    request.ifr_settings.ifs_ifsu.te1 = reinterpret_cast<te1_settings*>(settings);
    if (Device::Request(sock.lowlevel_fd(), SIOCWANDEV, &request) < 0) {
        Head(std::cerr) << "SIOCWANDEV/IF_GET_IFACE fail!" << std::endl;
        return;
    }
    // The slot-map word of the E1 settings names the switch channel.
    uint32_t word;
    std::memcpy(&word, settings + 3 * sizeof word, sizeof word);
    const int channel = static_cast<int>(word);
    // One slot per switch channel, as at create.
    if (Slot* holder = Slots::instance().Holding(*this, channel, channel)) {
        Head(std::cerr) << "switch channel " << channel << " is held by slot " << *holder << std::endl;
        return;
    }
    mChannel = channel;

    unsigned char none[4] = {};
    request = Request(mName);
    request.ifr_settings.type = IF_PROTO_PPP;
    request.ifr_settings.size = sizeof none;
    request.ifr_settings.ifs_ifsu.sync = reinterpret_cast<sync_serial_settings*>(none);
    if (Device::Request(sock.lowlevel_fd(), SIOCWANDEV, &request) < 0) {
        Head(std::cerr) << "SIOCWANDEV/IF_PROTO_PPP fail!" << std::endl;
        return;
    }
    pppd_exec(mName, kOptions);
}

void HdlcModemSlot::TearDown()
{
    Fd sock(Device::Socket(AF_INET, SOCK_DGRAM));
    if (!sock)
        return;
    ifreq request = Request(mName);
    if (Device::Request(sock.lowlevel_fd(), SIOCGIFFLAGS, &request) < 0) {
        Head(std::cerr) << "SIOCGIFFLAGS fail!!!" << std::endl;
        return;
    }
    request.ifr_flags = static_cast<short>(request.ifr_flags & ~IFF_UP);
    if (Device::Request(sock.lowlevel_fd(), SIOCSIFFLAGS, &request) < 0) {
        Head(std::cerr) << "SIOCSIFFLAGS fail!!!" << std::endl;
        return;
    }
    raw_hdlc_proto raw{};
    request = Request(mName);
    request.ifr_settings.type = IF_PROTO_HDLC;
    request.ifr_settings.size = sizeof raw;
    request.ifr_settings.ifs_ifsu.raw_hdlc = &raw;
    if (Device::Request(sock.lowlevel_fd(), SIOCWANDEV, &request) < 0)
        Head(std::cerr) << "SIOCWANDEV/IF_PROTO_HDLC fail!" << std::endl;
}
