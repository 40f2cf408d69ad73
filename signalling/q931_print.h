// Readable text of one LAPD frame and the Q.931 message it carries, for the
// link traces.
#pragma once

#include <cstddef>

namespace ISDN {

enum { logbuf_size = 1024 };

// The text of the last traced frame, shared by every link (one event loop).
extern char logbuf[logbuf_size];

// Writes the text of the frame into out (at most size characters with the
// terminating NUL; a longer text is cut). direction is non-zero for a frame
// travelling from the network to the user. Reads nothing outside
// frame[0 .. len). Returns the length of the text.
std::size_t dlogframe(unsigned char const* frame, int len, int direction, char* out, std::size_t size);

// The same into logbuf.
inline std::size_t dlogframe(unsigned char const* frame, int len, int direction)
{
    return dlogframe(frame, len, direction, logbuf, logbuf_size);
}

// Per octet a blank and two upper-case hex digits, then a NUL, into out,
// which must hold 3 * count + 1 characters; returns that length.
int QuickHex(char* out, unsigned char const* data, int count);

namespace q931 {

// Bounded text output; always NUL-terminated.
class Out
{
public:
    Out(char* buf, std::size_t size);
    void put(char const* format, ...) __attribute__((format(printf, 2, 3)));
    // Bits of an octet from bit `first` (8 = most significant) downwards.
    void bits(unsigned char octet, int first, int count);
    // Octets as characters; what cannot be shown in a log line as '.'.
    void chars(unsigned char const* p, unsigned char const* end);
    std::size_t length() const { return len_; }

private:
    char* buf_;
    std::size_t size_;
    std::size_t len_ = 0;
};

// One information element: e[0] the identifier, e[1] the length, end the
// element's end or the frame's, whichever comes first.
struct Element
{
    unsigned char const* e;
    unsigned char const* end;
    bool has(int octet) const { return octet >= 1 && octet <= end - e; } // octets numbered from 1
    unsigned char at(int octet) const { return e[octet - 1]; }
};

typedef void (*Printer)(Out&, Element const&);

struct ElementKind
{
    unsigned char code;
    char const* name;
    Printer printer;
};

struct CodeText
{
    unsigned char code;
    char const* text;
};

// Tables beside the one the trace reads, which no frame selects: National
// ISDN-1 elements of codesets 0, 5 and 6, 1TR6 elements of codesets 0 and
// 6 with the 1TR6 causes, and the NI-1 display tags.
extern ElementKind const ielist_ni1[21];
extern ElementKind const ielist_ni1_cs5[2];
extern ElementKind const ielist_ni1_cs6[1];
extern ElementKind const we_0[10];
extern ElementKind const we_6[7];
extern CodeText const cause_1tr6[26];
extern int const cause_1tr6_len;
extern CodeText const dtaglist[22];

// Their printers.
void general_ni1(Out& o, Element const& el);
void prbearer_ni1(Out& o, Element const& el);
void prtext(Out& o, Element const& el);
void prfeatureind(Out& o, Element const& el);
void disptext_ni1(Out& o, Element const& el);
void prcause_1tr6(Out& o, Element const& el);
void prcharge(Out& o, Element const& el);

} // namespace q931

} // namespace ISDN
