// Drives the network side of a BRI D channel with arbitrary frames from the
// terminals, messages from above, time passing and channel refusals. Nothing
// may crash, each link's window bounds must hold, and the layer's count of
// what its links hold must be what they hold.
//
// Input: records of an op octet and, for frames and messages, a length
// octet and that many octets.
#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "signalling/lapd_nt.h"

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
            std::abort(); // no frame is shorter than address and control
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
    for (unsigned i = 0; i <= ms; i += 100) {
        now += 100;
        Mux::g_tv_mono = Mux::timeval(int(now / 1000), int(now % 1000 * 1000));
        multiplexer.timers_schedule();
    }
}

Packet packet(const unsigned char* b, unsigned n, unsigned head)
{
    Packet p;
    p.reserve_head(head);
    if (n)
        std::memcpy(p.put(n), b, n);
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size)
{
    static std::ostringstream sink;
    static bool quiet = (std::clog.rdbuf(sink.rdbuf()), std::cerr.rdbuf(sink.rdbuf()), true);
    (void)quiet;
    sink.str("");

    Wire wire;
    Owner owner;
    auto* nt = new ISDN::LAPD_NT;
    owner.add_protocol_tail(nt);
    nt->hdlc(&wire);
    nt->set_log(2);
    nt->local_activate();

    size_t at = 0;
    while (at < size) {
        unsigned op = data[at++];
        unsigned n = at < size ? data[at] : 0;
        switch (op % 6) {
        case 0: // a received frame
        case 1: {
            ++at;
            n = unsigned(std::min<size_t>(n, size - at));
            Packet p = packet(data + at, n, 0);
            nt->receive(p);
            at += n;
            break;
        }
        case 2: { // a message from above
            ++at;
            n = unsigned(std::min<size_t>(n, size - at));
            Packet p = packet(data + at, n, op & 0x80 ? 4 : 0);
            nt->message(p);
            at += n;
            break;
        }
        case 3:
            advance((op >> 3) * 1000);
            break;
        case 4:
            wire.refuse = !wire.refuse;
            if (!wire.refuse)
                nt->on_hdlc_ready();
            break;
        case 5:
            if (op & 0x80)
                nt->local_deactivate();
            else
                nt->local_activate();
            break;
        }
        unsigned held = 0;
        for (unsigned i = 0; i < ISDN::LAPD_NT::users; ++i) {
            const ISDN::LAPD_NT_user& u = nt->user(i);
            if (u.outstanding() > ISDN::LAPD_NT_user::k || u.outstanding() != unsigned(u.vs() - u.va())
                || u.waiting() > ISDN::LAPD_NT_user::max_queued)
                std::abort();
            held += u.waiting() + u.outstanding();
        }
        if (held != nt->held() || held != ISDN::LAPD_NT::board_held())
            std::abort();
    }
    return 0;
}
