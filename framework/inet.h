// IPv4 socket addresses, the host name and the interface address list.
#pragma once

#include <cstdint>
#include <list>
#include <netinet/in.h>
#include <iosfwd>
#include <string>
#include <vector>

namespace INet4 {

// Exactly one sockaddr_in, so it can go to socket calls unchanged.
class Addr
{
public:
    Addr() { Reset(); }
    explicit Addr(sockaddr_in const& sa) : mAddr(sa) {}
    explicit Addr(std::string const& text);

    // A text without a port keeps the current port.
    Addr& operator=(std::string const& text);

    void Reset();
    // "a.b.c.d[:port]". *port gets the port given, or -1 when the text has
    // none. True when the address part parsed; the port may be stored even
    // when it did not.
    bool Assign(char const* text, int* port);
    // A text with a NUL in it is refused, not read up to the NUL.
    bool Assign(std::string const& text, int* port);
    // The address field, already in network byte order.
    void Assign(unsigned long a);

    unsigned short port() const;
    void port(unsigned short p);

    bool IsEqual(Addr const& o) const;
    bool operator==(Addr const& o) const { return IsEqual(o); }
    bool operator!=(Addr const& o) const { return !IsEqual(o); }

    operator sockaddr*() { return reinterpret_cast<sockaddr*>(&mAddr); }
    operator sockaddr const*() const { return reinterpret_cast<sockaddr const*>(&mAddr); }
    socklen_t size() const { return sizeof(mAddr); }

    // Dotted address in a static area that the next call overwrites.
    char const* GetStrAddr() const;
    // Dotted address, ':', decimal port.
    std::string GetString() const;
    // The four address bytes in network order.
    std::vector<unsigned char> GetVector() const;

    void Put(std::ostream& os) const;

private:
    sockaddr_in mAddr;
};

std::ostream& operator<<(std::ostream& os, Addr const& a);

// Exactly four dotted decimals and nothing after them, not even behind a
// NUL; `address` in network byte order.
bool ParseDotted(std::string const& text, uint32_t& address);

} // namespace INet4

namespace Net {

// Interface selection: 0 takes every IPv4 interface, otherwise an interface
// is taken when any set bit matches.
typedef unsigned ifconfig_mode_t;
enum : ifconfig_mode_t {
    IF_NOT_LOOPBACK = 1, // name other than "lo", in any case
    IF_LINK_LOCAL = 2,   // 169.254.0.0/16
    IF_PRIVATE = 4,      // 10/8, 172.16/12, 192.168/16
};

// Whether an interface with this name and address (host byte order) is
// taken under mode.
bool ifconfig_selects(char const* name, unsigned long addr, ifconfig_mode_t mode);

// "" when the name cannot be read.
std::string hostname();
int hostname(std::string const& name);

// Append the selected interfaces' addresses (or names: only interfaces with
// every bit of flags set) to out; the count appended, or -1 when the
// interface list cannot be read. At most 16 interfaces are looked at.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned flags);

} // namespace Net
