// SS7 signal units as the HDLC channel carries them: BSN/BIB, FSN/FIB, LI,
// then the status field or the SIO and SIF (Q.703 2.2). Flags and check bits
// are the HDLC controller's.
#pragma once

#include "signalling/ss7_seq.h"

#include <iosfwd>

class Packet;

namespace SS7 {

// The status field of a link status signal unit (Q.703 11.1.2).
enum Indication : unsigned char {
    SIO = 0,  // out of alignment
    SIN = 1,  // normal alignment
    SIE = 2,  // emergency alignment
    SIOS = 3, // out of service
};

// "out of alignment", ..., or "unknown:" and the value in hex.
std::ostream& operator<<(std::ostream& os, Indication i);

enum : unsigned {
    kHeaderSize = 3,
    kLiOverflow = 63, // LI of every MSU of 63 octets or more (Q.703 2.3.3)
    kMinMsu = 3,      // SIO and at least two SIF octets
    kMaxMsu = 273,    // SIO and 272 SIF octets
};

// One received unit, read once; the link acts on this only.
struct SignalUnit {
    enum Kind { fisu, lssu, msu };

    Seq bsn;
    bool bib = false;
    Seq fsn;
    bool fib = false;
    unsigned li = 0; // its two spare bits cleared
    Kind kind = fisu;
    Indication status = SIO; // LSSU: first status octet, whole
    unsigned length = 0;     // octets after the LI
};

enum class Parse {
    ok,
    too_short,    // fewer than the three header octets
    length_error, // the LI does not describe the octets that follow it
};

Parse parse(const unsigned char* data, unsigned length, SignalUnit& su);

// The LI an MSU of so many octets carries.
inline unsigned li_for(unsigned payload)
{
    return payload < kLiOverflow ? payload : kLiOverflow;
}

inline unsigned char seq_octet(Seq n, bool bit)
{
    return static_cast<unsigned char>((bit ? 0x80u : 0u) | unsigned(n));
}

// Puts BSN, FSN and LI in front of the payload, in its head room.
void push_header(Packet& p, Seq bsn, bool bib, Seq fsn, bool fib);

// Each octet as a blank, "0x" and upper-case hex without leading zeros.
void dump_octets(std::ostream& os, const unsigned char* data, unsigned length);
void dump_octets(std::ostream& os, const Packet& p);

} // namespace SS7
