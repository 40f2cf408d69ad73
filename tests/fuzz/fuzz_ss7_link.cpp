// Drives an SS7 link with arbitrary received units, mixed with MSUs from
// above, time passing, channel refusals and the slot's calls, from any
// starting state. Nothing may crash, and the link's bounds must hold.
//
// Input: octet 0 picks emergency (bit 7) and the start state (0 idle,
// 1 not aligned, 2 aligned, 3 proving, 5 worked). Then records: an op octet
// and, for units and MSUs, a length octet and that many octets.
#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "signalling/ss7_slc.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

namespace {

class Wire : public GenericHDLC {
public:
    bool hdlc_transmit(Packet& frame) override
    {
        if (frame.length() < 3)
            std::abort(); // nothing shorter than a FISU leaves
        return !refuse;
    }
    bool is_open() const override { return true; }
    bool is_ready() const override { return !refuse; }
    bool refuse = false;
};

class Owner : public ProtocolsList {
};

uint64_t now = 1000000;

void advance(unsigned ms)
{
    now += ms;
    Mux::g_tv_mono = Mux::timeval(int(now / 1000), int(now % 1000 * 1000));
    multiplexer.timers_schedule();
}

void unit(SS7::SLC* slc, const unsigned char* b, unsigned n)
{
    Packet p;
    p.reserve_head(0);
    if (n)
        std::memcpy(p.put(n), b, n);
    slc->receive(p);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size)
{
    static std::ostringstream sink;
    static bool quiet = (std::clog.rdbuf(sink.rdbuf()), std::cerr.rdbuf(sink.rdbuf()), true);
    (void)quiet;
    sink.str("");
    if (size == 0)
        return 0;
    advance(0);

    Wire wire;
    Owner owner;
    auto* slc = new SS7::SLC;
    owner.add_protocol_tail(slc);
    slc->hdlc(&wire);
    slc->set_emergency(data[0] & 0x80);
    slc->trace = {true, true, true, true, true, true, true, true};
    const unsigned char sin[] = {0xFF, 0xFF, 0x01, 0x01}, sio[] = {0xFF, 0xFF, 0x01, 0x00},
                        fisu[] = {0xFF, 0xFF, 0x00};
    switch (data[0] & 7) {
    case 1:
        slc->local_activate();
        break;
    case 2:
        unit(slc, sio, 4);
        break;
    case 3:
        unit(slc, sin, 4);
        break;
    case 5:
        unit(slc, sin, 4);
        unit(slc, fisu, 3);
        break;
    }

    size_t at = 1;
    while (at < size) {
        unsigned op = data[at++];
        unsigned n = at < size ? data[at] : 0;
        switch (op % 8) {
        case 0: // a received unit
        case 1:
            ++at;
            n = unsigned(std::min<size_t>(n, size - at));
            unit(slc, data + at, n);
            at += n;
            break;
        case 2: { // an MSU from above
            ++at;
            n = unsigned(std::min<size_t>(n, size - at));
            Packet p;
            if (op & 0x80)
                slc->prepare_head(p);
            else
                p.reserve_head(0);
            if (n)
                std::memcpy(p.put(n), data + at, n);
            slc->message(p);
            at += n;
            break;
        }
        case 3:
            advance((op >> 3) * 500);
            break;
        case 4:
            wire.refuse = !wire.refuse;
            if (!wire.refuse)
                slc->on_hdlc_ready();
            break;
        case 5:
            slc->OnTrunkHardStatus(op & 0x80);
            break;
        case 6:
            if (op & 0x80)
                slc->local_deactivate();
            else
                slc->local_activate();
            break;
        case 7: // many MSUs at once: fills the TB and RTB
            for (unsigned i = 0; i < (op >> 3) * 8; ++i) {
                Packet p;
                slc->prepare_head(p);
                std::memset(p.put(5), int(i), 5);
                slc->message(p);
            }
            break;
        }
        const SS7::SLC::Statistics* s = slc->statistics();
        if (s->rtb_size > 127 || slc->get_state_id() > 5)
            std::abort();
    }
    return 0;
}
