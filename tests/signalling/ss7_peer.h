// The far end of a link: a small level 2 written from Q.703 alone (initial
// alignment 7, link state control 8, basic error correction 5), with its
// status sent continuously and its own clock in ticks of `tick_ms`.
#pragma once

#include <deque>
#include <vector>

namespace ss7test {

class Q703Peer {
public:
    using Bytes = std::vector<unsigned char>;
    enum State { out_of_service, not_aligned, aligned, proving, aligned_ready, in_service };
    enum : unsigned { tick_ms = 10, SIO = 0, SIN = 1, SIE = 2, SIOS = 3 };

    explicit Q703Peer(bool emergency = false) : local_emergency(emergency) {}

    // Q.703 7.2: start of initial alignment.
    void start()
    {
        state = not_aligned;
        timer = 0;
        reset_sequence();
    }

    // One unit from the other end.
    void receive(const Bytes& u)
    {
        if (u.size() < 3)
            return;
        unsigned li = u[2] & 0x3F;
        if (li == 1 || li == 2)
            return status(u[3] & 7);
        if (state == aligned_ready) {
            state = in_service; // Q.703 8: FISU or MSU ends aligned ready
            timer = 0;
        }
        if (state != in_service)
            return;
        if (li == 0)
            return bsn(u[0] & 0x7F, u[0] >> 7);
        if (lose > 0) {
            --lose;
            return;
        }
        accept(u);
    }

    // What goes out in the next tick: the status, or new units and a FISU.
    std::vector<Bytes> tick()
    {
        std::vector<Bytes> out;
        elapsed();
        switch (state) {
        case out_of_service:
            out.push_back({0xFF, 0xFF, 1, SIOS});
            break;
        case not_aligned:
            out.push_back({0xFF, 0xFF, 1, SIO});
            break;
        case aligned:
        case proving:
            out.push_back({0xFF, 0xFF, 1, static_cast<unsigned char>(local_emergency ? SIE : SIN)});
            break;
        case aligned_ready:
        case in_service:
            if (silent)
                break;
            while (state == in_service && !waiting.empty() && sent_count() < 127) {
                Bytes m = waiting.front();
                waiting.pop_front();
                fsn_last = (fsn_last + 1) & 0x7F;
                rtb.push_back(m);
                out.push_back(unit(fsn_last, m));
            }
            out.push_back(unit(fsn_last, {}));
            break;
        }
        return out;
    }

    State state = out_of_service;
    bool local_emergency;
    bool silent = false;  // sends nothing in service (no acknowledgements)
    unsigned lose = 0;    // MSUs to drop as if corrupted
    std::deque<Bytes> waiting;
    std::vector<Bytes> delivered;
    unsigned nacks_sent = 0, retransmissions = 0;

private:
    unsigned proving_ticks() const { return (local_emergency || far_emergency ? 500 : 8200) / tick_ms; }
    unsigned sent_count() const { return unsigned(rtb.size()); }

    // Q.703 7.3: the alignment timers; Q.703 8: T1.
    void elapsed()
    {
        ++timer;
        if ((state == not_aligned && timer * tick_ms >= 7000) || (state == aligned && timer * tick_ms >= 1500)
            || (state == aligned_ready && timer * tick_ms >= 45000)) {
            state = out_of_service;
        } else if (state == proving && timer >= proving_ticks()) {
            state = aligned_ready;
            timer = 0;
            reset_sequence();
        }
    }

    void status(unsigned s)
    {
        switch (state) {
        case out_of_service:
            break;
        case not_aligned:
            if (s == SIO || s == SIN || s == SIE)
                enter(aligned);
            far_emergency = s == SIE;
            break;
        case aligned:
            if (s == SIN || s == SIE) {
                far_emergency = s == SIE;
                enter(proving);
            } else if (s == SIOS) {
                state = out_of_service;
            }
            break;
        case proving:
            if (s == SIO)
                enter(aligned);
            else if (s == SIOS)
                state = out_of_service;
            else if (s == SIE)
                far_emergency = true;
            break;
        case aligned_ready:
            if (s == SIO || s == SIOS)
                state = out_of_service;
            break;
        case in_service:
            if (s <= SIOS)
                state = out_of_service; // link failure
            break;
        }
    }

    void enter(State s)
    {
        state = s;
        timer = 0;
    }

    void reset_sequence()
    {
        fsn_last = bsn_out = 127;
        fib = bib = true;
        rtb.clear();
    }

    Bytes unit(unsigned fsn, const Bytes& payload) const
    {
        Bytes u{static_cast<unsigned char>(bsn_out | (bib ? 0x80 : 0)),
                static_cast<unsigned char>(fsn | (fib ? 0x80 : 0)),
                static_cast<unsigned char>(payload.size() < 63 ? payload.size() : 63)};
        u.insert(u.end(), payload.begin(), payload.end());
        return u;
    }

    // Q.703 5.3: positive and negative acknowledgement.
    void bsn(unsigned b, bool bib_in)
    {
        unsigned oldest = (fsn_last + 128 - unsigned(rtb.size()) + 1) & 0x7F;
        unsigned acked = (b - oldest + 1 + 128) & 0x7F; // units released by b
        if (acked <= rtb.size())
            rtb.erase(rtb.begin(), rtb.begin() + acked);
        if (bib_in != fib) {
            // Q.703 5.3.2: send again everything after b, FIB inverted.
            fib = bib_in;
            ++retransmissions;
            std::deque<Bytes> again(rtb.begin(), rtb.end());
            fsn_last = (fsn_last + 128 - unsigned(rtb.size())) & 0x7F;
            rtb.clear();
            waiting.insert(waiting.begin(), again.begin(), again.end());
        }
    }

    // Q.703 5.2.2: sequence checks of a received MSU.
    void accept(const Bytes& u)
    {
        unsigned fsn = u[1] & 0x7F;
        bool fib_in = (u[1] & 0x80) != 0;
        if (fsn == bsn_out) {
            bsn(u[0] & 0x7F, u[0] >> 7);
            return; // a repeat: discarded
        }
        if (fib_in != bib) {
            bsn(u[0] & 0x7F, u[0] >> 7);
            return; // retransmission not yet begun
        }
        bsn(u[0] & 0x7F, u[0] >> 7);
        if (fsn != ((bsn_out + 1) & 0x7F)) {
            // Q.703 5.2.2 (iii): negative acknowledgement; the inverted BIB
            // keeps it to one until the retransmission begins.
            bib = !bib;
            ++nacks_sent;
            return;
        }
        bsn_out = fsn;
        delivered.emplace_back(u.begin() + 3, u.end());
    }

    bool far_emergency = false;
    unsigned timer = 0; // ticks in the current state
    unsigned fsn_last = 127, bsn_out = 127;
    bool fib = true, bib = true;
    std::deque<Bytes> rtb; // sent, not acknowledged, oldest first
};

} // namespace ss7test
