#include "framework/inet.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <ostream>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "framework/fd.h"

static_assert(sizeof(INet4::Addr) == sizeof(sockaddr_in), "Addr must stay a bare sockaddr_in");

namespace INet4 {

Addr::Addr(std::string const& text)
{
    Reset();
    Assign(text, nullptr);
}

Addr& Addr::operator=(std::string const& text)
{
    Assign(text, nullptr);
    return *this;
}

void Addr::Reset()
{
    std::memset(&mAddr, 0, sizeof(mAddr));
    mAddr.sin_family = AF_INET;
}

bool Addr::Assign(char const* text, int* port)
{
    std::string host(text);
    std::string::size_type colon = host.find(':');
    if (colon != std::string::npos) {
        // atoi's reading without its overflow hazard.
        long v = std::strtol(host.c_str() + colon + 1, nullptr, 10);
        unsigned short p = static_cast<unsigned short>(v);
        mAddr.sin_port = htons(p);
        if (port)
            *port = p;
        host.erase(colon);
    } else if (port) {
        *port = -1;
    }
    in_addr a;
    if (!inet_aton(host.c_str(), &a))
        return false;
    mAddr.sin_addr = a;
    return true;
}

bool Addr::Assign(std::string const& text, int* port)
{
    return text.find('\0') == std::string::npos && Assign(text.c_str(), port);
}

bool ParseDotted(std::string const& text, uint32_t& address)
{
    in_addr a{};
    if (text.find('\0') != std::string::npos || ::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    address = a.s_addr;
    return true;
}

void Addr::Assign(unsigned long a)
{
    mAddr.sin_addr.s_addr = static_cast<in_addr_t>(a);
}

unsigned short Addr::port() const
{
    return ntohs(mAddr.sin_port);
}

void Addr::port(unsigned short p)
{
    mAddr.sin_port = htons(p);
}

bool Addr::IsEqual(Addr const& o) const
{
    return mAddr.sin_addr.s_addr == o.mAddr.sin_addr.s_addr && mAddr.sin_port == o.mAddr.sin_port;
}

char const* Addr::GetStrAddr() const
{
    return inet_ntoa(mAddr.sin_addr);
}

std::string Addr::GetString() const
{
    return std::string(GetStrAddr()) + ":" + std::to_string(port());
}

std::vector<unsigned char> Addr::GetVector() const
{
    unsigned char const* p = reinterpret_cast<unsigned char const*>(&mAddr.sin_addr.s_addr);
    return std::vector<unsigned char>(p, p + 4);
}

void Addr::Put(std::ostream& os) const
{
    os << std::dec << GetStrAddr() << ':' << port();
}

std::ostream& operator<<(std::ostream& os, Addr const& a)
{
    a.Put(os);
    return os;
}

} // namespace INet4

namespace Net {

static bool in_net(unsigned long addr, unsigned long net, unsigned bits)
{
    unsigned long mask = (0xFFFFFFFFul << (32 - bits)) & 0xFFFFFFFFul;
    return (addr & mask) == net;
}

bool ifconfig_selects(char const* name, unsigned long addr, ifconfig_mode_t mode)
{
    if (mode == 0)
        return true;
    if ((mode & IF_NOT_LOOPBACK) && strcasecmp(name, "lo") != 0)
        return true;
    if ((mode & IF_LINK_LOCAL) && in_net(addr, 0xA9FE0000ul, 16))
        return true;
    if ((mode & IF_PRIVATE)
        && (in_net(addr, 0xC0A80000ul, 16) || in_net(addr, 0xAC100000ul, 12) || in_net(addr, 0x0A000000ul, 8)))
        return true;
    return false;
}

std::string hostname()
{
    char buf[512];
    if (gethostname(buf, sizeof(buf)) != 0)
        return std::string();
    buf[sizeof(buf) - 1] = '\0';
    return buf;
}

int hostname(std::string const& name)
{
    return sethostname(name.data(), name.size());
}

// Walks the selected interfaces; take(sock, req) appends and says whether it did.
template <class Take>
static int walk_interfaces(ifconfig_mode_t mode, Take take)
{
    Fd sock(::socket(AF_INET, SOCK_DGRAM, 0));
    if (!sock)
        return -1;
    ifreq reqs[16];
    std::memset(reqs, 0, sizeof(reqs));
    ifconf conf;
    conf.ifc_len = sizeof(reqs);
    conf.ifc_req = reqs;
    if (::ioctl(sock.lowlevel_fd(), SIOCGIFCONF, &conf) < 0)
        return -1;
    int found = 0;
    int n = conf.ifc_len / static_cast<int>(sizeof(ifreq));
    for (int i = 0; i < n; ++i) {
        ifreq& r = reqs[i];
        if (r.ifr_addr.sa_family != AF_INET)
            continue;
        sockaddr_in sin;
        std::memcpy(&sin, &r.ifr_addr, sizeof(sin));
        char name[IFNAMSIZ + 1] = {};
        std::memcpy(name, r.ifr_name, IFNAMSIZ);
        if (!ifconfig_selects(name, ntohl(sin.sin_addr.s_addr), mode))
            continue;
        ifreq q;
        std::memset(&q, 0, sizeof(q));
        std::memcpy(q.ifr_name, r.ifr_name, IFNAMSIZ);
        if (::ioctl(sock.lowlevel_fd(), SIOCGIFADDR, &q) < 0)
            continue;
        if (take(sock.lowlevel_fd(), q))
            ++found;
    }
    return found;
}

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode)
{
    return walk_interfaces(mode, [&out](int, ifreq& q) {
        sockaddr_in sin;
        std::memcpy(&sin, &q.ifr_addr, sizeof(sin));
        out.push_back(INet4::Addr(sin));
        return true;
    });
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned flags)
{
    return walk_interfaces(mode, [&out, flags](int sock, ifreq& q) {
        if (::ioctl(sock, SIOCGIFFLAGS, &q) < 0)
            return false;
        if ((static_cast<unsigned>(static_cast<unsigned short>(q.ifr_flags)) & flags) != flags)
            return false;
        char name[IFNAMSIZ + 1] = {};
        std::memcpy(name, q.ifr_name, IFNAMSIZ);
        out.push_back(name);
        return true;
    });
}

} // namespace Net
