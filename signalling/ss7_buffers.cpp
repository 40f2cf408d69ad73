// Signal units and buffers of the link: the receive path, sending, the TB
// and RTB, and the basic error correction in service (Q.703 5 and 6).
#include "signalling/ss7_slc.h"

#include "framework/mux_time.h"

#include <cstring>
#include <iostream>

namespace SS7 {

namespace {

enum : unsigned {
    kTbFromAbove = 200, // the rest of the TB is room for a retransmission
    kMaxOutstanding = 127,
};

} // namespace

std::ostream& operator<<(std::ostream& os, SLC::DumpPtr d)
{
    return os << std::dec << " BSN=" << unsigned(d.link->bsnr) << " BIB=" << int(d.link->bibr)
              << " FSN=" << unsigned(d.link->fsnr) << " FIB=" << int(d.link->fibr);
}

void SLC::local_prepare_head(Packet& p)
{
    p.reserve_head(kHeaderSize);
}

const SLC::Statistics* SLC::statistics()
{
    stats.rtb_size = unsigned(rtb_count);
    return &stats;
}

// ---------------------------------------------------------------- receive

void SLC::receive(Packet& p)
{
    const Packet& in = p;
    unsigned n = in.length();
    if (trace.raw_receive) {
        head(std::clog) << " rx raw";
        dump_octets(std::clog, in);
        std::clog << std::endl;
    }
    stats.octets_rx += n;
    SignalUnit su;
    switch (parse(n ? &in[0] : nullptr, n, su)) {
    case Parse::too_short:
        ++stats.bad_length;
        head(std::cerr) << "ignore packet, length too small " << in << std::endl;
        return;
    case Parse::length_error:
        ++stats.bad_length;
        head(std::cerr) << "invalid packet length, expected = " << su.li << ", received = " << su.length
                        << std::endl;
        return;
    case Parse::ok:
        break;
    }
    bsnr = su.bsn;
    bibr = su.bib;
    fsnr = su.fsn;
    fibr = su.fib;
    li = su.length;
    ++stats.msu_rx;
    switch (su.kind) {
    case SignalUnit::fisu:
        current->fisu(*this);
        break;
    case SignalUnit::lssu:
        current->lssu(*this, su.status);
        break;
    case SignalUnit::msu:
        p.pull(kHeaderSize);
        current->msu(*this, p);
        break;
    }
}

// ------------------------------------------------------------------ send

bool SLC::send(Packet& p, Seq fsn)
{
    if (!hdlc_channel) {
        head(std::clog) << "no HDLC interface attached!!!" << std::endl;
        return false;
    }
    push_header(p, bsnt, bibt, fsn, fibt);
    bool taken = hdlc_channel->hdlc_transmit(p);
    if (!taken) {
        if (trace.raw_transmit)
            head(std::clog) << " tx full!" << std::endl;
    } else {
        if (trace.raw_transmit) {
            head(std::clog) << " tx raw";
            dump_octets(std::clog, p);
            std::clog << std::endl;
        }
        ++stats.msu_tx;
        stats.octets_tx += p.length();
    }
    p.pull(kHeaderSize);
    return taken;
}

void SLC::send_msu(Packet& p)
{
    // Shorter would read as a FISU or LSSU at the far end.
    if (p.length() < kMinMsu || p.length() > kMaxMsu) {
        if (trace.msu_processing)
            head(std::cerr) << "fail to send msu (bad packet)" << std::endl;
        return;
    }
    // As any MSU from above: with the current FSN the far end would drop it
    // as a repeat, and with the next one but kept nowhere a loss could not
    // be made good.
    message(p);
}

bool SLC::CoutCongestion()
{
    uint32_t now = Mux::milliseconds();
    if (now - congestion_time <= 999)
        return true;
    congestion_time = now;
    return false;
}

void SLC::fisu()
{
    Packet p;
    prepare_head(p);
    send(p, fsnt);
}

void SLC::lssu(Indication i)
{
    if (!hdlc_channel)
        return;
    Packet p;
    p.reserve_head(0);
    unsigned char* u = p.put(4);
    u[0] = seq_octet(Seq(127u), true);
    u[1] = seq_octet(Seq(127u), true);
    u[2] = 1;
    u[3] = i;
    hdlc_channel->hdlc_transmit(p);
}

void SLC::message(Packet& p)
{
    if (trace.mtp_transmit) {
        head(std::clog) << " mtp tx";
        dump_octets(std::clog, p);
        std::clog << std::endl;
    }
    refused = Refusal::none;
    current->message(*this, p);
}

// ------------------------------------------------------------------ TB

bool SLC::put_to_tb(Packet& p)
{
    unsigned n = p.length();
    // Shorter would read as a FISU or LSSU at the far end; longer fits no
    // signal unit, and the channel would refuse it for ever.
    if (n < kMinMsu || n > kMaxMsu) {
        ++stats.bad_msu;
        head(std::cerr) << "msu of " << n << " octets can't be sent, ignoring it" << std::endl;
        return false;
    }
    if (tb.count() >= kTbFromAbove || PacketPoolLow()) {
        ++stats.overflow;
        refused = Refusal::full;
        head(std::cerr) << "no space in TB buffer, TB=" << tb.count() << " RTB=" << rtb_count
                        << " ignoring msu: " << p << std::endl;
        return false;
    }
    return tb.put(with_head_room(p));
}

Packet SLC::with_head_room(Packet& p)
{
    if (p._headroom() >= kHeaderSize)
        return p;
    Packet copy;
    prepare_head(copy);
    unsigned n = p.length();
    std::memcpy(copy.put(n), &static_cast<const Packet&>(p)[0], n);
    return copy;
}

void SLC::process_tb()
{
    if (current != &st_worked)
        return;
    if (tb.empty()) {
        fisu();
        return;
    }
    while (rtb_count < int(kMaxOutstanding)) {
        Packet p;
        if (!tb.get(p))
            break;
        // The FSN is only spent on a unit the channel took, so FISUs never
        // name one that is still waiting.
        Seq fsn = next(rtb_last);
        if (!send(p, fsn)) {
            tb.append(p);
            break;
        }
        fsnt = fsn;
        rtb_last = fsn;
        rtb[unsigned(fsn)] = p;
        if (++rtb_count == 1)
            set(T7);
    }
}

// ------------------------------------------------- in-service checks

void SLC::make_expected()
{
    fsnx = bsnt;
    bibx = bibt;
    fibx = fibt;
}

void SLC::fisu(StWorked&)
{
    make_expected();
    if (fibr == bibx) {
        nack_pending = bad_fib = false;
        if (!process_bsnr())
            return;
        if (fsnr != fsnx)
            nack();
    } else {
        fib_mismatch();
    }
}

void SLC::msu(StWorked&, Packet& p)
{
    make_expected();
    if (fsnr == fsnx) {
        // Q.703 5.2.2 (i): a unit already accepted, sent again.
        if (trace.msu_processing)
            head(std::clog) << "discard msu due to 5.2.2/i Q.702 fsnr=" << unsigned(fsnr)
                            << " fsnx=" << unsigned(fsnx) << std::endl;
        return;
    }
    if (fibr == bibx) {
        nack_pending = bad_fib = false;
        if (!process_bsnr())
            return;
        if (fsnr != next(fsnx)) {
            // Q.703 5.2.2 (ii): a gap.
            if (trace.msu_processing)
                head(std::clog) << "discard msu due to 5.2.2/ii Q.702 fsnr=" << unsigned(fsnr)
                                << " fsnx=" << unsigned(fsnx) << std::endl;
            nack();
            return;
        }
        ack();
        if (trace.mtp_receive) {
            head(std::clog) << " mtp rx";
            dump_octets(std::clog, p);
            std::clog << std::endl;
        }
        Protocol::on_message(p);
    } else {
        fib_mismatch();
    }
}

void SLC::fib_mismatch()
{
    // While a negative acknowledgement waits, the retransmission has not
    // started yet; otherwise a second wrong FIB in a row takes the link down.
    if (nack_pending) {
        process_bsnr();
    } else if (bad_fib) {
        if (trace.msu_processing)
            head(std::cerr) << "bad start of a retransmission: " << DumpPtr{this} << std::endl;
        next_state(st_idle);
    } else {
        bad_fib = true;
    }
}

bool SLC::process_bsnr()
{
    // Q.703 5.3.1: the BSN repeats the last acknowledgement or names a unit
    // in the RTB.
    Seq acked = prev(rtb_first);
    if (!within(acked, bsnr, rtb_last)) {
        if (!bad_bsn) {
            bad_bsn = true;
            return true;
        }
        if (trace.msu_processing)
            head(std::cerr) << "bad su acknowledgement received: " << DumpPtr{this} << std::endl;
        next_state(st_idle);
        return false;
    }
    bad_bsn = false;
    if (bsnr != acked)
        set(T7);
    for (; rtb_first != next(bsnr); rtb_first = next(rtb_first)) {
        rtb[unsigned(rtb_first)] = Packet();
        --rtb_count;
    }
    if (bsnr == rtb_last)
        timer.reset();
    // Q.703 5.3.2: an inverted BIB asks for everything after the BSN again.
    if (bibr != fibx)
        retransmit();
    else if (bsnr != acked && !tb.empty())
        process_tb(); // units held back by a full RTB go now
    return true;
}

void SLC::ack()
{
    bsnt = fsnr;
    if (trace.msu_processing)
        head(std::cerr) << "ack!" << std::endl;
    fisu();
}

void SLC::nack()
{
    bibt = !bibt;
    bibx = bibt;
    nack_pending = true;
    fisu();
    ++stats.bad_seq;
    if (trace.msu_processing)
        head(std::cerr) << "nack!" << std::endl;
}

void SLC::retransmit()
{
    if (trace.msu_processing)
        head(std::cerr) << "retransmit rtb=" << rtb_count << std::endl;
    ++stats.repeat;
    fsnt = prev(rtb_first);
    fibt = bibr;
    // Newest first to the head, so they leave in FSN order before the
    // units never sent.
    for (Seq i = rtb_last; rtb_count > 0; i = prev(i), --rtb_count) {
        if (!tb.append(rtb[unsigned(i)]))
            head(std::cerr) << "TB full, msu " << unsigned(i) << " lost" << std::endl;
        rtb[unsigned(i)] = Packet();
    }
    rtb_last = fsnt;
    process_tb();
}

void SLC::clear_rtb()
{
    for (Packet& p : rtb)
        p = Packet();
    rtb_first = Seq(0u);
    rtb_last = Seq(127u);
    rtb_count = 0;
}

void SLC::reset()
{
    clear_rtb();
    nack_pending = bad_bsn = bad_fib = false;
    bsnt = Seq(127u);
    fsnt = Seq(127u);
    fibt = true;
    bibt = true;
}

} // namespace SS7
