#include "standin/modem.h"

#include "board/modem_requests.h"

#include <linux/if.h> // before the hdlc settings, which need its sizes
#include <linux/hdlc/ioctl.h>
#include <linux/sockios.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace Standin {

namespace {

struct Held : Channel::State {
    int modem = -1;
};

int HeldModem(Channel& channel)
{
    auto* held = dynamic_cast<Held*>(channel.state.get());
    return held ? held->modem : -1;
}

std::string Line(const char* what, unsigned long a)
{
    return std::string(what) + " " + std::to_string(a);
}

} // namespace

void ModemControl::SetModems(int count)
{
    mBusy.assign(static_cast<size_t>(count), false);
}

bool ModemControl::IsAllocated(int modem) const
{
    return modem >= 0 && modem < modems() && mBusy[static_cast<size_t>(modem)];
}

int ModemControl::OnRequest(Channel& channel, unsigned long code, void* arg)
{
    using namespace ModemRequest;
    const int held = HeldModem(channel);
    switch (code) {
    case 0xBB0CUL: { // enumerate: the argument is the previous number
        if (!mScript.empty()) {
            if (mScripted >= mScript.size()) {
                errno = ENODEV;
                return -1;
            }
            return mScript[mScripted++];
        }
        long previous = static_cast<long>(reinterpret_cast<intptr_t>(arg));
        if (previous + 1 >= modems()) {
            errno = ENODEV;
            return -1;
        }
        return static_cast<int>(previous + 1);
    }
    case 0xBB0BUL: // allocate
        if (held >= 0) {
            errno = EBUSY;
            return -1;
        }
        for (int m = 0; m < modems(); ++m) {
            if (!mBusy[static_cast<size_t>(m)]) {
                mBusy[static_cast<size_t>(m)] = true;
                auto state = std::make_unique<Held>();
                state->modem = m;
                channel.state = std::move(state);
                Note(trace, Line("allocate", static_cast<unsigned long>(m)));
                return m;
            }
        }
        errno = EBUSY;
        return -1;
    case 0xBB15UL: // time slot
        if (held < 0) {
            errno = EINVAL;
            return -1;
        }
        Note(trace, Line("timeslot", static_cast<unsigned long>(held)));
        return Timeslot(held);
    case 0xBB16UL:
    case 0xBB3AUL:
    case 0xBB03UL:
    case 0xBB04UL:
    case 0xBB40UL: {
        ModemWord word;
        std::memcpy(&word, arg, sizeof word);
        if (held < 0 || word.modem != static_cast<uint32_t>(held)) {
            errno = EINVAL;
            return -1;
        }
        char text[64];
        const char* name = code == 0xBB16UL ? "ddm" : code == 0xBB3AUL ? "reset-dmp" : code == 0xBB03UL ? "answer"
                         : code == 0xBB04UL ? "originate" : "fax-originate";
        if (code == 0xBB16UL)
            std::snprintf(text, sizeof text, "ddm %u 0x%X", word.modem, word.value);
        else if (word.value != kAll)
            std::snprintf(text, sizeof text, "%s %u 0x%X", name, word.modem, word.value);
        else
            std::snprintf(text, sizeof text, "%s %u", name, word.modem);
        Note(trace, text);
        return 0;
    }
    case 0xBB38UL: {
        DmpParam param;
        std::memcpy(&param, arg, sizeof param);
        if (held < 0 || param.modem != static_cast<uint32_t>(held)) {
            errno = EINVAL;
            return -1;
        }
        Note(trace, "dmp " + std::to_string(param.modem) + " " + std::to_string(static_cast<int32_t>(param.offset))
                        + " " + std::to_string(static_cast<int32_t>(param.value)));
        return 0;
    }
    default:
        errno = ENOTTY;
        return -1;
    }
}

void ModemControl::OnClose(Channel& channel)
{
    // The daemon's hold on a modem is its control descriptor.
    int held = HeldModem(channel);
    if (held >= 0 && held < modems())
        mBusy[static_cast<size_t>(held)] = false;
}

NetInterfaces::NetInterfaces()
{
    Set("hdlc0", IFF_POINTOPOINT | IFF_NOARP, Channel(0));
    Set("hdlc1", IFF_POINTOPOINT | IFF_NOARP, Channel(1));
}

void NetInterfaces::Set(const std::string& name, short flags, int channel)
{
    auto it = mInterfaces.find(name);
    int index = it != mInterfaces.end() ? it->second.index : mNextIndex++;
    mInterfaces[name] = Interface{index, flags, 0, channel};
}

void NetInterfaces::Remove(const std::string& name)
{
    mInterfaces.erase(name);
}

const NetInterfaces::Interface* NetInterfaces::Find(const std::string& name) const
{
    auto it = mInterfaces.find(name);
    return it == mInterfaces.end() ? nullptr : &it->second;
}

int NetInterfaces::OnRequest(Standin::Channel&, unsigned long code, void* arg)
{
    auto* request = static_cast<ifreq*>(arg);
    char name[IFNAMSIZ + 1] = {};
    std::memcpy(name, request->ifr_name, IFNAMSIZ);
    auto it = mInterfaces.find(name);
    if (it == mInterfaces.end()) {
        errno = ENODEV;
        return -1;
    }
    Interface& iface = it->second;
    char text[96];
    switch (code) {
    case SIOCGIFINDEX:
        request->ifr_ifindex = iface.index;
        return 0;
    case SIOCGIFFLAGS:
        Note(trace, std::string("SIOCGIFFLAGS ") + name);
        request->ifr_flags = iface.flags;
        return 0;
    case SIOCSIFFLAGS:
        std::snprintf(text, sizeof text, "SIOCSIFFLAGS %s 0x%X", name, static_cast<unsigned short>(request->ifr_flags));
        Note(trace, text);
        iface.flags = request->ifr_flags;
        return 0;
    case SIOCWANDEV:
        break;
    default:
        errno = ENOTTY;
        return -1;
    }
    if_settings& settings = request->ifr_settings;
    if (refuseType != 0 && settings.type == static_cast<unsigned>(refuseType)) {
        errno = EINVAL;
        return -1;
    }
    switch (settings.type) {
    case IF_GET_IFACE: {
        Note(trace, std::string("SIOCWANDEV ") + name + " get-iface");
        te1_settings te1{};
        te1.clock_rate = 2048000;
        te1.slot_map = static_cast<unsigned>(iface.channel);
        settings.type = IF_IFACE_E1;
        if (settings.size < sizeof te1) {
            settings.size = sizeof te1;
            errno = ENOBUFS;
            return -1;
        }
        settings.size = sizeof te1;
        std::memcpy(settings.ifs_ifsu.te1, &te1, sizeof te1);
        return 0;
    }
    case IF_PROTO_PPP:
        Note(trace, std::string("SIOCWANDEV ") + name + " ppp");
        iface.proto = IF_PROTO_PPP;
        return 0;
    case IF_PROTO_HDLC: {
        raw_hdlc_proto raw{};
        if (settings.size < sizeof raw) {
            errno = EINVAL;
            return -1;
        }
        std::memcpy(&raw, settings.ifs_ifsu.raw_hdlc, sizeof raw);
        std::snprintf(text, sizeof text, "SIOCWANDEV %s hdlc %u %u", name, raw.encoding, raw.parity);
        Note(trace, text);
        iface.proto = IF_PROTO_HDLC;
        return 0;
    }
    default:
        errno = EINVAL;
        return -1;
    }
}

} // namespace Standin
