// A link under test on a manual clock: the SS7 link control over a channel
// that keeps what it is given, inside a layer list that records reports.
#pragma once

#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "signalling/ss7_slc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace ss7test {

using Bytes = std::vector<unsigned char>;

// The loop's millisecond clock, moved by hand; due timers fire on advance.
class Clock {
public:
    Clock() { set(); }
    ~Clock() { Mux::mux_cleartimeofday(); }
    void advance(unsigned ms)
    {
        // Step by step, so each timer fires at its own time.
        for (unsigned i = 0; i < ms; i += step) {
            now += ms - i < step ? ms - i : step;
            set();
            multiplexer.timers_schedule();
        }
    }
    unsigned step = 1;
    uint64_t now = 5000000;

private:
    void set() { Mux::g_tv_mono = Mux::timeval(int(now / 1000), int(now % 1000 * 1000)); }
};

inline Bytes bytes(const Packet& p)
{
    if (p.empty())
        return {};
    const unsigned char* d = &p[0];
    return Bytes(d, d + p.length());
}

inline Packet packet(const Bytes& b, unsigned head = 8)
{
    Packet p;
    p.reserve_head(head);
    if (!b.empty())
        std::memcpy(p.put(unsigned(b.size())), b.data(), b.size());
    return p;
}

// A channel that keeps every frame it takes, or refuses them all.
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
    std::vector<Bytes> take()
    {
        std::vector<Bytes> out;
        out.swap(frames);
        return out;
    }
    std::vector<Bytes> frames;
    bool refuse = false;
    unsigned refuse_next = 0;
};

// Owns the link and records what it reports upward.
class Owner : public ProtocolsList {
public:
    void on_activated(Protocol*) override { reports.push_back("up"); }
    void on_deactivated(Protocol*, Protocol_status s) override
    {
        reports.push_back(s->is_error() ? "down: " + s->text() : "ok: " + s->text());
    }
    void list_on_message(Packet& p) override { delivered.push_back(bytes(p)); }
    std::vector<std::string> reports;
    std::vector<Bytes> delivered;
};

// The link with its channel and owner; dpc 12, slc 0, trunk 1.
struct Link {
    explicit Link(bool emergency = false)
    {
        slc = new SS7::SLC;
        slc->hdlc(&wire);
        slc->set_linkno(1);
        slc->set_slc(0);
        slc->set_dpc(12);
        slc->set_opc(7);
        slc->set_emergency(emergency);
        owner.add_protocol_tail(slc);
    }
    void rx(const Bytes& b)
    {
        Packet p = packet(b);
        slc->receive(p);
    }
    void send(const Bytes& payload)
    {
        Packet p;
        slc->prepare_head(p);
        if (!payload.empty())
            std::memcpy(p.put(unsigned(payload.size())), payload.data(), payload.size());
        slc->message(p);
    }
    int state() const { return slc->get_state_id(); }

    Wire wire;
    Owner owner;
    SS7::SLC* slc; // owned by `owner`
};

inline Bytes lssu(unsigned status) { return {0xFF, 0xFF, 0x01, static_cast<unsigned char>(status)}; }

inline Bytes su(unsigned bsn, bool bib, unsigned fsn, bool fib, const Bytes& payload = {})
{
    Bytes b{static_cast<unsigned char>(bsn | (bib ? 0x80 : 0)), static_cast<unsigned char>(fsn | (fib ? 0x80 : 0)),
            static_cast<unsigned char>(payload.size() < 63 ? payload.size() : 63)};
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

// An MSU payload: SIO 0x03 and a numbered signalling information field.
inline Bytes msu_payload(unsigned n, unsigned size = 6)
{
    Bytes b(size, 0);
    b[0] = 0x03;
    for (unsigned i = 1; i < size; ++i)
        b[i] = static_cast<unsigned char>(n >> (8 * ((i - 1) % 4)));
    return b;
}

// The kind of a unit as the tests name them: "FISU", "MSU", "SIO", ...
inline std::string kind(const Bytes& u)
{
    if (u.size() < 3)
        return "short";
    unsigned li = u[2] & 0x3F;
    if (li == 0)
        return "FISU";
    if (li > 2)
        return "MSU";
    static const char* const names[] = {"SIO", "SIN", "SIE", "SIOS", "SIPO", "SIB", "LSSU6", "LSSU7"};
    return names[u[3] & 7];
}

inline std::vector<std::string> kinds(const std::vector<Bytes>& units)
{
    std::vector<std::string> out;
    for (const Bytes& u : units)
        out.push_back(kind(u));
    return out;
}

// Put the link in a state through the events that reach it from idle.
inline void reach(Link& l, Clock& clock, int state)
{
    using S = SS7::SLC::State;
    switch (state) {
    case S::idle:
        break;
    case S::not_aligned:
        l.slc->local_activate();
        break;
    case S::aligned:
        l.rx(lssu(SS7::SIO));
        break;
    case S::proving:
        l.rx(lssu(SS7::SIN));
        break;
    case S::aligned_ready:
        l.rx(lssu(SS7::SIN));
        clock.advance(l.slc->T4e.period);
        clock.advance(l.slc->T4n.period - l.slc->T4e.period);
        break;
    case S::worked:
        l.rx(lssu(SS7::SIN));
        l.rx(su(127, true, 127, true));
        break;
    }
    ASSERT_EQ(l.state(), state);
    l.wire.take();
    l.owner.reports.clear();
}

} // namespace ss7test
