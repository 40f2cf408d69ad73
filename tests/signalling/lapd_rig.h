// A LAPD link in a test: its channel records what it sends, its owner what
// it reports, and the loop's clock is driven by hand.
#pragma once

#include "signalling/lapd.h"
#include "signalling/lapd_nt.h"

#include "framework/multiplexer.h"
#include "samples/lapd/wire.h"
#include "tests/framework/loop_helpers.h"

#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace lapdtest {

typedef std::vector<unsigned char> Bytes;

inline Bytes bytes(Packet const& p)
{
    return p.length() ? Bytes(&p[0], &p[0] + p.length()) : Bytes();
}

inline std::string hex(Bytes const& b)
{
    std::string s;
    char x[4];
    for (unsigned char c : b) {
        std::snprintf(x, sizeof x, s.empty() ? "%02X" : " %02X", c);
        s += x;
    }
    return s;
}

inline Bytes unhex(std::string const& s)
{
    Bytes b;
    for (size_t i = 0; i + 1 < s.size(); i += s[i] == ' ' ? 1 : 2)
        if (s[i] != ' ')
            b.push_back((unsigned char)std::stoul(s.substr(i, 2), nullptr, 16));
    return b;
}

// A TEI management frame from the network to the group TEI (C/R = 1).
inline std::string network_mgmt(unsigned ri, unsigned type, unsigned ai)
{
    return "FE FF 03 0F " + hex({uint8_t(ri), uint8_t(ri >> 8), uint8_t(type), uint8_t(ai << 1 | 1)});
}

inline Packet packet(Bytes const& b, unsigned head = ISDN::lapd_head_room)
{
    Packet p;
    p.reserve_head(head);
    for (unsigned char c : b)
        p.put8(c);
    return p;
}

struct Channel : GenericHDLC
{
    bool hdlc_transmit(Packet& f) override
    {
        if (full)
            return false;
        sent.push_back(bytes(f));
        return true;
    }
    bool is_open() const override { return true; }
    bool is_ready() const override { return !full; }

    std::vector<Bytes> sent;
    bool full = false;
};

// A layer under test as its owner: what it sends goes to a recording
// channel, what it hands up is kept.
struct Endpoint : ProtocolsList, lapdwire::End
{
    virtual void receive(Bytes const& frame) = 0;
    virtual void send(Bytes const& message) = 0;
    void on_frame(Bytes const& frame) override { receive(frame); }
    void offer(Bytes const& message) override { send(message); }
    std::vector<Bytes> take_frames() override { return std::exchange(channel.sent, {}); }

    void on_activated(Protocol*) override { events.push_back("up"); }
    void on_deactivated(Protocol*, Protocol_status s) override { events.push_back("down:" + s->text()); }
    void list_on_message(Packet& p) override { messages.push_back(bytes(p)); }
    void list_on_status(Protocol*, Protocol_status s) override { events.push_back("error:" + s->text()); }

    void inject(std::string const& frame) { receive(unhex(frame)); }
    // What was sent since the last call, as hex.
    std::vector<std::string> out()
    {
        std::vector<std::string> o;
        for (Bytes const& b : take_frames())
            o.push_back(hex(b));
        return o;
    }
    std::vector<std::string> reports() { return std::exchange(events, {}); }

    Channel channel;
    std::vector<std::string> events;
};

// Owns the link as its protocol list and keeps what the link reports.
struct Rig : Endpoint, ISDN::LAPD::Notify
{
    explicit Rig(ISDN::Side::type side = ISDN::Side::user, bool bri = false, unsigned log = 0)
        : link(new ISDN::LAPD(ISDN::Side::user, 0))
    {
        link->set_side(side);
        link->set_log(log);
        if (bri)
            link->change_to_bri();
        link->BindNotify(this);
        link->hdlc(&channel);
        add_protocol_tail(link);
    }

    void OnLAPD_FlowStatusChange(ISDN::LAPD* l) override { flows.push_back(l->GetFlowStatus()); }

    void receive(Bytes const& frame) override
    {
        Packet p = packet(frame);
        link->receive(p);
    }
    void send(Bytes const& message) override
    {
        Packet p = packet(message);
        link->message(p);
    }
    unsigned waiting() const override { return link->queued(); }
    unsigned outstanding() const override { return link->unacknowledged(); }
    // The timers whose flags are set.
    std::string timers() const
    {
        ISDN::LAPDFullState const& v = link->variables();
        std::string t = std::string(v.t200_running ? " T200" : "") + (v.t202_running ? " T202" : "")
                        + (v.t203_running ? " T203" : "");
        return t.empty() ? "-" : t.substr(1);
    }

    ISDN::LAPD* link;
    std::vector<ISDN::LAPD::FlowStatus::Type> flows;
};

// The network side of a BRI as the only layer of its list.
struct NtRig : Endpoint, ISDN::LAPD_NT::Notify
{
    NtRig() : nt(new ISDN::LAPD_NT)
    {
        nt->hdlc(&channel);
        nt->BindNotify(this);
        add_protocol_tail(nt);
    }
    void OnLAPD_NT_FlowStatusChange(ISDN::LAPD_NT* l) override { flows.push_back(l->congested()); }

    void receive(Bytes const& frame) override
    {
        Packet p = packet(frame, 0);
        nt->receive(p);
    }
    void send(Bytes const& message) override
    {
        Packet p = packet(message);
        nt->message(p);
    }
    unsigned waiting() const override { return sum(&ISDN::LAPD_NT_user::waiting); }
    unsigned outstanding() const override { return sum(&ISDN::LAPD_NT_user::outstanding); }
    unsigned sum(unsigned (ISDN::LAPD_NT_user::*count)() const) const
    {
        unsigned n = 0;
        for (unsigned i = 0; i < ISDN::LAPD_NT::users; ++i)
            n += (nt->user(i).*count)();
        return n;
    }
    const ISDN::LAPD_NT_user* link(unsigned tei) const
    {
        for (unsigned i = 0; i < ISDN::LAPD_NT::users; ++i)
            if (nt->user(i).get_Tei() == tei && (nt->user(i).is_assigned() || nt->user(i).is_reserved()))
                return &nt->user(i);
        return nullptr;
    }

    ISDN::LAPD_NT* nt;
    std::vector<bool> flows; // congested or not, as reported
};

// The loop's clock by hand; every test starts at the same time.
class Clocked : public looptest::LoopTest
{
protected:
    void SetUp() override
    {
        looptest::LoopTest::SetUp();
        looptest::set_clock(base);
    }
    void advance(unsigned ms)
    {
        // Step by step, so each expiry sees the clock of its own time.
        for (unsigned i = 0; i < ms; i += 50) {
            now += ms - i < 50 ? ms - i : 50;
            looptest::set_clock(base + now);
            multiplexer.timers_schedule();
        }
    }
    uint64_t base = 1000000;
    uint64_t now = 0;
};

} // namespace lapdtest
