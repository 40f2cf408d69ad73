// Drives a LAPD link with arbitrary frames mixed with messages from above,
// timer expiries, activation, release and a channel that refuses frames.
// Whatever comes in, the link keeps its bounds and every frame it sends is
// a well-formed Q.921 frame.
//
// Input: one octet of set-up (bit 0 network side, bit 1 BRI, bits 2-3 log
// level), then operations: an octet of kind and, for frames and messages,
// an octet of length and the octets.
#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "signalling/lapd.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace {

struct Channel : GenericHDLC
{
    bool hdlc_transmit(Packet& f) override
    {
        if (full)
            return false;
        ISDN::Frame parsed;
        if (ISDN::parse_frame(f.length() ? f.data() : nullptr, f.length(), parsed) != ISDN::FrameError::none
            || parsed.info_len > ISDN::N201)
            std::abort();
        return true;
    }
    bool is_open() const override { return true; }
    bool is_ready() const override { return !full; }
    bool full = false;
};

struct Owner : ProtocolsList
{
};

uint64_t clock_ms = 1000000;

void advance(unsigned ms)
{
    clock_ms += ms;
    Mux::g_tv_mono = Mux::timeval(int(clock_ms / 1000), int(clock_ms % 1000 * 1000));
    multiplexer.timers_schedule();
}

Packet packet(uint8_t const* p, size_t n)
{
    Packet pk;
    pk.reserve_head(ISDN::lapd_head_room);
    for (size_t i = 0; i < n; ++i)
        pk.put8(p[i]);
    return pk;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size)
{
    static bool quiet = [] {
        std::clog.rdbuf(nullptr);
        std::cerr.rdbuf(nullptr);
        std::cout.rdbuf(nullptr);
        return true;
    }();
    (void)quiet;
    if (size < 1)
        return 0;
    Channel channel;
    {
        Owner owner;
        auto* link = new ISDN::LAPD(ISDN::Side::user, 0);
        link->set_side(data[0] & 1 ? ISDN::Side::network : ISDN::Side::user);
        if (data[0] & 2)
            link->change_to_bri();
        link->set_log((data[0] >> 2) & 3 ? 4 : 0);
        link->hdlc(&channel);
        owner.add_protocol_tail(link);
        size_t i = 1;
        while (i < size) {
            uint8_t op = data[i++] % 8;
            if (op <= 1) {
                size_t n = i < size ? data[i++] : 0;
                if (n > size - i)
                    n = size - i;
                Packet p = packet(data + i, n);
                i += n;
                if (op == 0)
                    link->receive(p);
                else
                    link->message(p);
            } else if (op == 2) {
                advance(ISDN::LAPD::T200);
            } else if (op == 3) {
                advance(ISDN::LAPD::T203);
            } else if (op == 4) {
                link->activate();
            } else if (op == 5) {
                link->deactivate();
            } else if (op == 6) {
                channel.full = !channel.full;
            } else {
                link->on_hdlc_ready();
            }
            if (link->get_state() > ISDN::timer_recovery || link->queued() > ISDN::LAPD::out_queue_size
                || link->unacknowledged() > ISDN::LAPD::ack_queue_size)
                std::abort();
        }
        ACP::IsdnLinkInfo info;
        link->GetInfo(info);
        std::ostringstream os;
        os << link->status();
    }
    Mux::mux_cleartimeofday();
    if (multiplexer.timer_count() != 0)
        std::abort();
    return 0;
}
