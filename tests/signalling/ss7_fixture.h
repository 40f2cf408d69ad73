// A link under test on a manual clock: the SS7 link control over a channel
// that keeps what it takes, in a layer list that records what comes up.
#pragma once

#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "signalling/ss7_slc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ss7test {

using Bytes = std::vector<unsigned char>;
using S = SS7::SLC::State;

// The loop's clock moved by hand a millisecond at a time: each timer fires on time.
struct Clock {
    Clock() { advance(0); }
    ~Clock() { Mux::mux_cleartimeofday(); }
    void advance(unsigned ms)
    {
        for (unsigned i = 0; i <= ms; ++i, ++now) {
            Mux::g_tv_mono = Mux::timeval(int(now / 1000), int(now % 1000 * 1000));
            multiplexer.timers_schedule();
        }
        --now;
    }
    uint64_t now = 5000000;
};

inline Bytes bytes(const Packet& p)
{
    return p.empty() ? Bytes() : Bytes(&p[0], &p[0] + p.length());
}

inline Packet packet(const Bytes& b, unsigned head)
{
    Packet p;
    p.reserve_head(head);
    if (!b.empty())
        std::memcpy(p.put(unsigned(b.size())), b.data(), b.size());
    return p;
}

class Wire : public GenericHDLC {
public:
    bool hdlc_transmit(Packet& frame) override
    {
        if (refuse || refuse_next) {
            refuse_next -= refuse_next > 0;
            return false;
        }
        frames.push_back(bytes(frame));
        return true;
    }
    bool is_open() const override { return true; }
    bool is_ready() const override { return !refuse; }
    std::vector<Bytes> take() { return std::exchange(frames, {}); }
    std::vector<Bytes> frames;
    bool refuse = false;
    unsigned refuse_next = 0;
};

class Owner : public ProtocolsList {
public:
    void on_activated(Protocol*) override { reports.push_back("up"); }
    void on_deactivated(Protocol*, Protocol_status s) override { reports.push_back("down: " + s->text()); }
    void list_on_message(Packet& p) override { delivered.push_back(bytes(p)); }
    std::vector<std::string> reports;
    std::vector<Bytes> delivered;
};

// dpc 12, slc 0, trunk 1.
struct Link {
    explicit Link(bool emergency = false)
    {
        owner.add_protocol_tail(slc);
        slc->hdlc(&wire);
        slc->set_linkno(1);
        slc->set_dpc(12);
        slc->set_emergency(emergency);
    }
    void rx(const Bytes& b)
    {
        Packet p = packet(b, 0);
        slc->receive(p);
    }
    void send(const Bytes& payload)
    {
        Packet p = packet(payload, 8);
        slc->message(p);
    }
    int state() const { return slc->get_state_id(); }

    Wire wire;
    Owner owner;
    SS7::SLC* slc = new SS7::SLC; // owned by `owner`
};

inline Bytes lssu(unsigned status) { return {0xFF, 0xFF, 0x01, static_cast<unsigned char>(status)}; }

inline Bytes su(unsigned bsn, bool bib, unsigned fsn, bool fib, const Bytes& payload = {})
{
    Bytes b;
    b.push_back(static_cast<unsigned char>(bsn | (bib ? 0x80 : 0)));
    b.push_back(static_cast<unsigned char>(fsn | (fib ? 0x80 : 0)));
    b.push_back(static_cast<unsigned char>(payload.size() < 63 ? payload.size() : 63));
    // Octet by octet: gcc 12 warns falsely on a block copy behind 3 octets.
    for (unsigned char octet : payload)
        b.push_back(octet);
    return b;
}

// SIO 0x03 and a numbered signalling information field.
inline Bytes msu_payload(unsigned n, unsigned size = 6)
{
    Bytes b(size, static_cast<unsigned char>(n));
    b[0] = 0x03;
    b[1] = static_cast<unsigned char>(n >> 8);
    return b;
}

inline std::vector<std::string> kinds(const std::vector<Bytes>& units)
{
    static const char* const status[] = {"SIO", "SIN", "SIE", "SIOS", "SIPO", "SIB", "?", "?"};
    std::vector<std::string> out;
    for (const Bytes& u : units)
        out.push_back((u[2] & 0x3F) == 0 ? "FISU" : (u[2] & 0x3F) > 2 ? "MSU" : status[u[3] & 7]);
    return out;
}

// Puts the link in a state by the events that lead there from idle.
inline void reach(Link& l, Clock& clock, int state)
{
    if (state == S::not_aligned)
        l.slc->local_activate();
    else if (state == S::aligned)
        l.rx(lssu(SS7::SIO));
    else if (state != S::idle)
        l.rx(lssu(SS7::SIN));
    if (state == S::aligned_ready)
        clock.advance(SS7::SLC::T4n.period);
    if (state == S::worked)
        l.rx(su(127, true, 127, true));
    ASSERT_EQ(l.state(), state);
    l.wire.take();
    l.owner.reports.clear();
}

} // namespace ss7test
