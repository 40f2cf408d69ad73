#include "signalling/ss7_su.h"

#include "framework/packet.h"

#include <ostream>

namespace SS7 {

std::ostream& operator<<(std::ostream& os, Indication i)
{
    switch (i) {
    case SIO:
        return os << "out of alignment";
    case SIN:
        return os << "normal alignment";
    case SIE:
        return os << "emergency alignment";
    case SIOS:
        return os << "out of service";
    }
    auto flags = os.flags();
    os << "unknown:" << std::hex << unsigned(i);
    os.flags(flags);
    return os;
}

Parse parse(const unsigned char* data, unsigned length, SignalUnit& su)
{
    if (length < kHeaderSize)
        return Parse::too_short;
    su.bsn = Seq(data[0] & 0x7Fu);
    su.bib = (data[0] & 0x80u) != 0;
    su.fsn = Seq(data[1] & 0x7Fu);
    su.fib = (data[1] & 0x80u) != 0;
    // The top two bits of the LI octet are spare (Q.703 2.3.3).
    su.li = data[2] & 0x3Fu;
    su.length = length - kHeaderSize;
    // A unit cut short or run long would otherwise change kind: a truncated
    // MSU would read as an LSSU and take the link down.
    if (su.li != li_for(su.length))
        return Parse::length_error;
    if (su.li == 0) {
        su.kind = SignalUnit::fisu;
    } else if (su.li <= 2) {
        su.kind = SignalUnit::lssu;
        // Taken whole: a status with spare bits set (Q.703 11.1.2) is no
        // indication the link acts on, rather than one guessed from C, B, A.
        su.status = Indication(data[3]);
    } else {
        su.kind = SignalUnit::msu;
    }
    return Parse::ok;
}

void push_header(Packet& p, Seq bsn, bool bib, Seq fsn, bool fib)
{
    unsigned li = li_for(p.length());
    unsigned char* h = p.push(kHeaderSize);
    h[0] = seq_octet(bsn, bib);
    h[1] = seq_octet(fsn, fib);
    h[2] = static_cast<unsigned char>(li);
}

void dump_octets(std::ostream& os, const unsigned char* data, unsigned length)
{
    auto flags = os.flags();
    os << std::hex << std::uppercase;
    for (unsigned i = 0; i < length; ++i)
        os << " 0x" << unsigned(data[i]);
    os.flags(flags);
}

void dump_octets(std::ostream& os, const Packet& p)
{
    if (!p.empty())
        dump_octets(os, &p[0], p.length());
}

} // namespace SS7
