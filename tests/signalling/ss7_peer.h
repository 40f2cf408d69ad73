// The far end of a link: a small level 2 written from Q.703 alone (initial
// alignment 7, link state control 8, basic error correction 5), sending its
// status continuously, one tick of `tick_ms` at a time.
#pragma once

#include <deque>
#include <vector>

namespace ss7test {

class Q703Peer {
public:
    using Bytes = std::vector<unsigned char>;
    enum State { out_of_service, not_aligned, aligned, proving, aligned_ready, in_service };
    enum : unsigned { tick_ms = 10, SIO = 0, SIN = 1, SIE = 2, SIOS = 3 };

    void start() { enter(not_aligned); }

    void receive(const Bytes& u)
    {
        unsigned li = u[2] & 0x3F;
        if (li == 1 || li == 2)
            return status(u[3] & 7);
        if (state == aligned_ready)
            enter(in_service); // Q.703 8: a FISU or MSU ends aligned ready
        if (state != in_service)
            return;
        unsigned fsn = u[1] & 0x7F;
        bool fib_in = u[1] >> 7;
        bsn(u[0] & 0x7F, u[0] >> 7);
        // Q.703 5.2.2: only the next unit, and only once a requested
        // retransmission has begun (FIB equal to our BIB).
        if (li == 0 || fsn == bsn_out || fib_in != bib)
            return;
        if (fsn != ((bsn_out + 1) & 0x7F)) {
            bib = !bib; // negative acknowledgement
            ++nacks_sent;
            return;
        }
        bsn_out = fsn;
        delivered.emplace_back(u.begin() + 3, u.end());
    }

    std::vector<Bytes> tick()
    {
        std::vector<Bytes> out;
        ++ticks;
        unsigned ms = ticks * tick_ms;
        // Q.703 7.3 and 8: T2, T3, T1; the proving period ends proving.
        if ((state == not_aligned && ms >= 7000) || (state == aligned && ms >= 1500)
            || (state == aligned_ready && ms >= 45000))
            enter(out_of_service);
        if (state == proving && ms >= (emergency ? 500u : 8200u))
            enter(aligned_ready);
        if (state <= proving)
            out.push_back({0xFF, 0xFF, 1, static_cast<unsigned char>(state == out_of_service ? SIOS
                                                                     : state == not_aligned ? SIO
                                                                                             : SIN)});
        else if (!silent) {
            while (state == in_service && !waiting.empty() && rtb.size() < 127) {
                fsn_last = (fsn_last + 1) & 0x7F;
                rtb.push_back(waiting.front());
                waiting.pop_front();
                out.push_back(unit(fsn_last, rtb.back()));
            }
            out.push_back(unit(fsn_last, {}));
        }
        return out;
    }

    State state = out_of_service;
    bool silent = false; // sends nothing in service, so acknowledges nothing
    std::deque<Bytes> waiting;
    std::vector<Bytes> delivered;
    unsigned nacks_sent = 0, retransmissions = 0;

private:
    void enter(State s)
    {
        if (s == not_aligned || s == aligned_ready) {
            fsn_last = bsn_out = 127;
            fib = bib = true;
            rtb.clear();
        }
        state = s;
        ticks = 0;
    }

    void status(unsigned s)
    {
        bool align = s == SIN || s == SIE;
        if (s == SIE)
            emergency = true; // Q.703 7.2: the far end's emergency shortens proving
        if (state == not_aligned && s <= SIE)
            enter(aligned);
        else if (state == aligned && align)
            enter(proving);
        else if (state == proving && s == SIO)
            enter(aligned);
        else if ((state >= aligned && state <= aligned_ready && s == SIOS) || (state == aligned_ready && s == SIO)
                 || (state == in_service && s <= SIOS))
            enter(out_of_service);
    }

    Bytes unit(unsigned fsn, const Bytes& payload) const
    {
        Bytes u{static_cast<unsigned char>(bsn_out | (bib ? 0x80 : 0)), static_cast<unsigned char>(fsn | (fib ? 0x80 : 0)),
                static_cast<unsigned char>(payload.size() < 63 ? payload.size() : 63)};
        u.insert(u.end(), payload.begin(), payload.end());
        return u;
    }

    // Q.703 5.3: the BSN releases what it acknowledges; an inverted BIB asks
    // for everything after it again, with the FIB inverted too.
    void bsn(unsigned b, bool bib_in)
    {
        unsigned released = (b + 128 - (fsn_last + 128 - unsigned(rtb.size()))) & 0x7F;
        if (released <= rtb.size())
            rtb.erase(rtb.begin(), rtb.begin() + released);
        if (bib_in == fib)
            return;
        fib = bib_in;
        ++retransmissions;
        fsn_last = (fsn_last + 128 - unsigned(rtb.size())) & 0x7F;
        waiting.insert(waiting.begin(), rtb.begin(), rtb.end());
        rtb.clear();
    }

    bool emergency = false;
    unsigned ticks = 0; // in the current state
    unsigned fsn_last = 127, bsn_out = 127;
    bool fib = true, bib = true;
    std::deque<Bytes> rtb; // sent, not acknowledged, oldest first
};

} // namespace ss7test
