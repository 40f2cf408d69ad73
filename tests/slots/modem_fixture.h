#pragma once

// Modem slots on a fresh stand-in board, with the stand-in child program
// in place of pppd and the fax programs, and the controller's side of the
// slot table caught.

#include "board/hw_mux.h"
#include "core/slots.h"
#include "core/trunk_slot.h"
#include "framework/child_wait.h"
#include "framework/mux_time.h"
#include "protocol/lgcp.h"
#include "slots/dsp_modem_slot.h"
#include "slots/hdlc_modem_slot.h"
#include "slots/modem_factory.h"
#include "standin/board.h"
#include "standin/modem.h"
#include "samples/link/loop_driver.h"
#include "tests/framework/files.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace test {

// What the slot table tells the controller.
class Controller : public Slots::Notify {
public:
    void OnStream(Slot& slot, bool transmitter, bool active, int channel) override
    {
        lines.push_back(std::to_string(slot.GetId()) + (transmitter ? ".tx " : ".rx ") + (active ? "on " : "off ")
                        + std::to_string(channel));
    }
    void OnReleased(Slot& slot) override { lines.push_back(std::to_string(slot.GetId()) + ".released"); }
    void OnSignal(Slot& slot, LGCP::Signal const& signal) override
    {
        ids.push_back(slot.GetId());
        signals.push_back(signal);
    }
    // The causes of the abort signals so far.
    std::vector<int> Aborts() const
    {
        std::vector<int> causes;
        for (const LGCP::Signal& s : signals)
            if (s.abort_isSelected())
                causes.push_back(s.get_abort().getValue());
        return causes;
    }
    std::vector<const TERM::ModemProceeding*> Modem() const
    {
        std::vector<const TERM::ModemProceeding*> found;
        for (const LGCP::Signal& s : signals)
            if (s.modemProceeding_isSelected())
                found.push_back(&s.get_modemProceeding());
        return found;
    }
    std::vector<std::string> lines;
    std::vector<int> ids;
    std::vector<LGCP::Signal> signals;
};

// The service never takes the daemon's port: parallel runs and a running
// daemon keep theirs. Set before any test builds the factory.
inline const bool kAnyAuthPort = (ModemFactory::SetAuthPort(0), true);

// Modem parameters: further fields in value notation after the numbers.
inline TERM::ModemParams Params(const std::string& more = "", const std::string& cid = "5551234")
{
    TERM::ModemParams p;
    const std::string text = "{cid \"" + cid + "\", cdid \"100\"" + more + "}";
    EXPECT_TRUE(p.setFromValueNotation(text)) << text;
    return p;
}

class ModemFixture : public ::testing::Test {
protected:
    static constexpr int kMap = 900; // a map slot to connect modems to

    void SetUp() override
    {
        ::signal(SIGPIPE, SIG_IGN);
        ASSERT_TRUE(HwMux::instance().Open());
        Slots::instance().SetNotify(&controller);
        MapFactory::instance();
        factory.update_modemDevices();
        factory.update_hdlcDevices();
        factory.auth().ForgetLog(); // the service outlives the tests
        ChildWait::Activate();
        for (const char* program : {ModemSlot::kPppd, DspModemSlot::kFaxSender, DspModemSlot::kFaxReceiver})
            ModemSlot::RedirectProgram(program, STANDIN_CHILD);
        record = dir.path + "/record";
        ::setenv("STANDIN_CHILD_RECORD", record.c_str(), 1);
        ::unsetenv("STANDIN_CHILD_EXIT");
        ::unsetenv("STANDIN_CHILD_HUP");
        ASSERT_TRUE(CreateMap(kMap, 1000));
    }
    bool CreateMap(int id, int channel)
    {
        LGCP::CreateParams map;
        map.select_map().set_channel(channel);
        Slot* made = nullptr;
        return Slots::instance().Create(id, map, made) == Answer::success;
    }
    // No interface: digital data modes stay on a DSP modem.
    void NoInterfaces()
    {
        nets.Remove("hdlc0");
        nets.Remove("hdlc1");
        factory.update_hdlcDevices();
    }
    void TearDown() override
    {
        Slots::instance().Clear();
        Slots::instance().SetNotify(nullptr);
        HwMux::instance().Close();
        ModemSlot::RedirectProgram("", "");
        Mux::mux_cleartimeofday();
    }

    ModemSlot* Create(int id, const TERM::ModemParams& p)
    {
        LGCP::CreateParams params;
        params.select_modem(p);
        Slot* made = nullptr;
        EXPECT_EQ(Slots::instance().Create(id, params, made), Answer::success);
        if (made)
            made->IAfterCreate();
        return dynamic_cast<ModemSlot*>(made);
    }
    Answer::Type Connect(int modem) { return Slots::instance().Connect(modem, {kMap}); }

    // The stand-in child's record, lines that begin with the prefix (taken
    // off): "arg: " its arguments, "fd" its descriptors 0 to 2, "other: "
    // any further one. The record is used up.
    std::vector<std::string> Record(const std::string& prefix = "arg: ")
    {
        EXPECT_TRUE(loop.RunUntil([&] { return ::access(record.c_str(), F_OK) == 0; })) << "no child ran";
        std::vector<std::string> found;
        std::ifstream in(record);
        recordLines.clear();
        for (std::string line; std::getline(in, line);) {
            recordLines.push_back(line);
            if (line.compare(0, prefix.size(), prefix) == 0)
                found.push_back(line.substr(prefix.size()));
        }
        ::unlink(record.c_str());
        return found;
    }
    void WaitChildEnd(ModemSlot& slot) { EXPECT_TRUE(loop.RunUntil([&] { return slot.child() < 0; })); }

    Standin::Board board;
    Standin::ModemControl& mctl = board.Get<Standin::ModemControl>("/dev/mctl");
    Standin::NetInterfaces& nets = board.Get<Standin::NetInterfaces>(Standin::kInetSocket);
    ModemFactory& factory = ModemFactory::instance();
    Controller controller;
    LoopDriver loop;
    TempDir dir;
    std::string record;
    std::vector<std::string> recordLines;
};

// A local peer of the authentication service.
class Peer {
public:
    // Waiting: the connect blocks until the service takes it; else it
    // returns at once and `connected` tells nothing.
    explicit Peer(uint16_t port, bool waiting = true)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (waiting ? 0 : SOCK_NONBLOCK), 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Peer() { Close(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    void Close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    bool Send(const std::vector<uint8_t>& bytes)
    {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    uint16_t LocalPort() const
    {
        sockaddr_in a{};
        socklen_t size = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
        return ntohs(a.sin_port);
    }
    // What has arrived so far.
    std::vector<uint8_t> Take()
    {
        std::vector<uint8_t> got;
        uint8_t buf[1024];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
            got.insert(got.end(), buf, buf + n);
        return got;
    }
    // True once the service has closed this connection.
    bool IsClosedByService()
    {
        uint8_t b;
        return ::recv(fd, &b, 1, MSG_DONTWAIT | MSG_PEEK) == 0;
    }
    int fd = -1;
    bool connected = false;
};

// A peer the service has taken.
inline std::unique_ptr<Peer> Join(AuthService& service, LoopDriver& loop)
{
    auto peer = std::make_unique<Peer>(service.port());
    EXPECT_TRUE(peer->connected);
    const uint16_t port = peer->LocalPort();
    EXPECT_TRUE(loop.RunUntil([&] {
        for (const auto& client : service.clientList())
            if (client->GetAddr().port() == port)
                return true;
        return false;
    }));
    return peer;
}

// Records built as the peers build them: host-order words.
inline void PutWord(std::vector<uint8_t>& r, uint32_t w)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&w);
    r.insert(r.end(), p, p + 4);
}

inline std::vector<uint8_t> RawRecord(uint32_t length, uint32_t type, uint32_t session)
{
    std::vector<uint8_t> r;
    PutWord(r, length);
    PutWord(r, type);
    PutWord(r, session);
    r.resize(std::max<size_t>(length, 12), 0);
    r.resize(length);
    return r;
}

// An activate with modem user parameters.
inline TERM::TermActivateParams UserParams(const char* remote, const char* netmask, const char* gateway,
                                           const char* dns, int mtu)
{
    TERM::TermActivateParams activate;
    TERM::ModemUserParameters& user = activate.select_modem();
    user.set_remoteAddr(remote);
    user.set_netmask(netmask);
    user.set_gateway(gateway);
    user.set_dns(dns);
    user.set_mtu(mtu);
    return activate;
}

// What an activate sends the peer: auth accept, then auth ip with the
// octets of the four addresses and the MTU.
inline std::vector<uint8_t> Answers(uint32_t session, const std::vector<uint8_t>& addresses, uint32_t mtu)
{
    std::vector<uint8_t> r;
    for (uint32_t word : {16u, 2u, session, 1u, 36u, 3u, session, 0u})
        PutWord(r, word);
    r.insert(r.end(), addresses.begin(), addresses.end());
    PutWord(r, mtu);
    return r;
}

inline std::vector<uint8_t> AuthRequest(uint32_t session, const std::string& user, const std::string& password)
{
    std::vector<uint8_t> r = RawRecord(140, 1, session);
    std::copy(user.begin(), user.end(), r.begin() + 12);
    std::copy(password.begin(), password.end(), r.begin() + 76);
    return r;
}

} // namespace test
