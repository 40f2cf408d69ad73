#pragma once

// The voice and T.38 slots driven through the controller link, with the
// MCC channels of the simulated board and loopback TCP hosts.

#include "tests/core/link_fixture.h"
#include "tests/framework/files.h"
#include "standin/mcc.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>

namespace test {

// The signal a message carries for the slot, or null.
inline const LGCP::Signal* SignalOf(LGCP::Message const& m, int slot)
{
    if (!m.get_pdu().signal_isSelected() || !m.slot_isPresent() || static_cast<int>(m.get_slot().getValue()) != slot)
        return nullptr;
    return &m.get_pdu().get_signal();
}

// The switch channel of a stream signal.
inline int StreamChannel(LGCP::Message const& m)
{
    if (!m.get_pdu().signal_isSelected())
        return -1; // it did not come: the test fails, not the binary
    const LGCP::Signal& s = m.get_pdu().get_signal();
    const LGCP::StreamState& state = s.transmitter_isSelected() ? s.get_transmitter() : s.get_receiver();
    return static_cast<int>(state.get_channel().getValue());
}

inline LGCP::Message Destroy(unsigned seq, int slot)
{
    LGCP::Message m = Command(seq, slot);
    Body(m).select_destroy();
    return m;
}

inline TERM::HostAddress Address(std::string const& iaddr, unsigned port)
{
    TERM::HostAddress a;
    a.set_iaddr(iaddr);
    a.set_port(port);
    return a;
}

// This process's children that have not been reaped.
inline std::string Children()
{
    std::string all;
    for (const auto& task : dir_entries("/proc/self/task")) {
        std::ifstream in("/proc/self/task/" + task + "/children");
        all += std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
}

inline std::string FdTarget(int fd)
{
    char target[256];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    return n < 0 ? "-" : std::string(target, static_cast<size_t>(n));
}

// The open descriptors and what they lead to (the listing's own is closed).
inline std::map<int, std::string> OpenDescriptors()
{
    std::map<int, std::string> open;
    for (const auto& name : dir_entries("/proc/self/fd"))
        if (FdTarget(std::stoi(name)) != "-")
            open[std::stoi(name)] = FdTarget(std::stoi(name));
    return open;
}

// A loopback TCP listener standing for the network host.
class Listener {
public:
    Listener()
    {
        mFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(mFd, 4), 0);
        socklen_t len = sizeof a;
        ::getsockname(mFd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(mFd); }
    // A connection waiting to be accepted (non-blocking), else -1.
    int Accept() { return ::accept4(mFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }
    unsigned port = 0;

private:
    int mFd;
};

// Everything readable on a non-blocking socket; eof tells whether it ended.
inline std::string ReadSome(int fd, bool* eof = nullptr)
{
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    if (eof)
        *eof = n == 0;
    return text;
}

class SlotLink : public LinkFixture {
protected:
    // Runs the loop, collecting what the controller gets, until done holds.
    bool RunUntil(std::function<bool()> done, unsigned boundMs = 10000)
    {
        return loop.RunUntil(
            [&] {
                Octets payload;
                while (client.Take(payload))
                    inbox.push_back(Decode(payload));
                return done();
            },
            boundMs);
    }
    // The slot's signals so far that satisfy the test.
    size_t Count(int slot, std::function<bool(LGCP::Signal const&)> test) const
    {
        size_t n = 0;
        for (const auto& m : inbox)
            if (const LGCP::Signal* s = SignalOf(m, slot))
                n += test(*s) ? 1 : 0;
        return n;
    }
    size_t Aborts(int slot, int cause) const
    {
        return Count(slot, [cause](LGCP::Signal const& s) { return s.abort_isSelected() && s.get_abort().getValue() == cause; });
    }
    // The create's answer, then the stream signals it brings.
    std::vector<LGCP::Message> Create(LGCP::Message const& m, size_t streams)
    {
        auto got = Exchange(m, 1 + streams);
        ExpectAnswer(got[0], m.get_seq().getValue(), static_cast<int>(m.get_slot().getValue()));
        return got;
    }

    // The five words the channel on the time slot was allocated with.
    std::vector<uint32_t> Allocation(int timeslot) const
    {
        const Standin::Mcc::Allocation* a = mcc.At(timeslot);
        return a ? std::vector<uint32_t>{a->kind, a->packetSize, a->reserved, a->rxThreshold, a->txThreshold}
                 : std::vector<uint32_t>{};
    }

    Standin::Mcc& mcc = board.Get<Standin::Mcc>("/dev/mcc/ctl");
    std::vector<LGCP::Message> inbox;
    TempDir tmp; // files the test's programs and players use
    const std::string dir = tmp.path;
};

} // namespace test
