// The Q.931 trace printer. Every write is bounded by the output size and
// every read by the frame's end: an element whose length runs past the
// frame prints what the frame holds of it.
#include "signalling/q931_print.h"

#include <cstdarg>
#include <cstdio>

namespace ISDN {

char logbuf[logbuf_size];

namespace q931 {

Out::Out(char* buf, std::size_t size) : buf_(buf), size_(size)
{
    if (size_)
        buf_[0] = 0;
}

void Out::put(char const* format, ...)
{
    if (len_ + 1 >= size_)
        return;
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(buf_ + len_, size_ - len_, format, ap);
    va_end(ap);
    if (n > 0)
        len_ += std::size_t(n) < size_ - len_ ? std::size_t(n) : size_ - len_ - 1;
}

void Out::bits(unsigned char octet, int first, int count)
{
    for (int b = first; b > first - count && b >= 1; --b)
        put("%c", (octet >> (b - 1)) & 1 ? '1' : '0');
}

void Out::chars(unsigned char const* p, unsigned char const* end)
{
    for (; p < end; ++p)
        put("%c", *p >= 0x20 && *p < 0x7F ? char(*p) : '.');
}

} // namespace q931

namespace {

typedef unsigned char u8;

using q931::Element;
using q931::ElementKind;
using q931::Out;

void line_bits(Out& o, char const* label, Element const& el, int octet)
{
    if (!el.has(octet))
        return;
    o.put("%s", label);
    o.bits(el.at(octet), 8, 8);
    o.put("\n");
}

// Octet numbering follows the extension bits (Q.931 4.5.1), which the
// trace reads one octet ahead: an octet takes its number from the bit of the
// octet after it. The NI-1 table's printer reads the octet just printed.
void numbered(Out& o, Element const& el, bool ahead)
{
    int number = 3;
    char suffix = ' ';
    for (int n = 3; el.has(n); ++n) {
        o.put("    octet %d%c ", number, suffix);
        o.bits(el.at(n), 8, 8);
        o.put("\n");
        int const judged = ahead ? n + 1 : n;
        if (!el.has(judged))
            break;
        if (el.at(judged) & 0x80) {
            ++number;
            suffix = ' ';
        } else {
            suffix = suffix == ' ' ? 'a' : char(suffix + 1);
        }
    }
}

void general(Out& o, Element const& el)
{
    numbered(o, el, true);
}

void prchident(Out& o, Element const& el)
{
    line_bits(o, "    octet 3 ", el, 3);
}

void digits(Out& o, Element const& el, int from)
{
    o.put("    number digits ");
    if (el.has(from))
        o.chars(el.e + from - 1, el.end);
    o.put("\n");
}

void prcalled(Out& o, Element const& el)
{
    line_bits(o, "    octet 3 ", el, 3);
    digits(o, el, 4);
}

void prcalling(Out& o, Element const& el)
{
    line_bits(o, "    octet 3 ", el, 3);
    if (el.has(3) && !(el.at(3) & 0x80)) {
        line_bits(o, "    octet 3a ", el, 4);
        digits(o, el, 5);
    } else {
        digits(o, el, 4);
    }
}

void prbearer(Out& o, Element const& el)
{
    line_bits(o, "    octet 3  ", el, 3);
    line_bits(o, "    octet 4  ", el, 4);
    int n = 5;
    if (el.has(4) && (el.at(4) & 0x1F) == 0x18) {
        line_bits(o, "    octet 4.1 ", el, 5);
        n = 6;
    }
    // Layer 1, 2 and 3 information: octets 5, 6 and 7 by their layer bits.
    if (el.has(n) && ((el.at(n) >> 5) & 3) == 1) {
        char suffix = ' ';
        while (el.has(n)) {
            u8 octet = el.at(n++);
            o.put("    octet 5%c ", suffix);
            o.bits(octet, 8, 8);
            o.put("\n");
            suffix = suffix == ' ' ? 'a' : char(suffix + 1);
            if (octet & 0x80)
                break;
        }
    }
    if (el.has(n) && ((el.at(n) >> 5) & 3) == 2)
        line_bits(o, "    octet 6  ", el, n++);
    if (el.has(n) && ((el.at(n) >> 5) & 3) == 3)
        line_bits(o, "    octet 7  ", el, n++);
}

// A cause value, its text and a second text that is never printed.
struct Cause
{
    u8 value;
    char const* text;
    char const* text2;
};

Cause const cvlist[] = {
    {0x01, "Unallocated (unassigned) number", "Nummer nicht zugeteilt"},
    {0x02, "No route to specified transit network", ""},
    {0x03, "No route to destination", ""},
    {0x04, "Send special information tone", ""},
    {0x05, "Misdialled trunk prefix", ""},
    {0x06, "Channel unacceptable", "Kanal nicht akzeptierbar"},
    {0x07, "Channel awarded and being delivered in an established channel", ""},
    {0x08, "Preemption", ""},
    {0x09, "Preemption - circuit reserved for reuse", ""},
    {0x10, "Normal call clearing", "Normale Ausloesung"},
    {0x11, "User busy", "TNB besetzt"},
    {0x12, "No user responding", ""},
    {0x13, "No answer from user (user alerted)", ""},
    {0x14, "Subscriber absent", ""},
    {0x15, "Call rejected", ""},
    {0x16, "Number changed", ""},
    {0x1A, "non-selected user clearing", ""},
    {0x1B, "Destination out of order", ""},
    {0x1C, "Invalid number format (address incomplete)", ""},
    {0x1D, "Facility rejected", ""},
    {0x1E, "Response to Status enquiry", ""},
    {0x1F, "Normal, unspecified", ""},
    {0x22, "No circuit/channel available", ""},
    {0x26, "Network out of order", ""},
    {0x27, "Permanent frame mode connection out-of-service", ""},
    {0x28, "Permanent frame mode connection operational", ""},
    {0x29, "Temporary failure", ""},
    {0x2A, "Switching equipment congestion", ""},
    {0x2B, "Access information discarded", ""},
    {0x2C, "Requested circuit/channel not available", ""},
    {0x2E, "Precedence call blocked", ""},
    {0x2F, "Resource unavailable, unspecified", ""},
    {0x31, "Quality of service unavailable", ""},
    {0x32, "Requested facility not subscribed", ""},
    {0x35, "Outgoing calls barred within CUG", ""},
    {0x37, "Incoming calls barred within CUG", ""},
    {0x39, "Bearer capability not authorized", ""},
    {0x3A, "Bearer capability not presently available", ""},
    {0x3E, "Inconsistency in designated outgoing access information and subscriber class ", " "},
    {0x3F, "Service or option not available, unspecified", ""},
    {0x41, "Bearer capability not implemented", ""},
    {0x42, "Channel type not implemented", ""},
    {0x43, "Requested facility not implemented", ""},
    {0x44, "Only restricted digital information bearer capability is available", ""},
    {0x4F, "Service or option not implemented", ""},
    {0x51, "Invalid call reference value", ""},
    {0x52, "Identified channel does not exist", ""},
    {0x53, "A suspended call exists, but this call identity does not", ""},
    {0x54, "Call identity in use", ""},
    {0x55, "No call suspended", ""},
    {0x56, "Call having the requested call identity has been cleared", ""},
    {0x57, "User not member of CUG", ""},
    {0x58, "Incompatible destination", ""},
    {0x5A, "Non-existent CUG", ""},
    {0x5B, "Invalid transit network selection", ""},
    {0x5F, "Invalid message, unspecified", ""},
    {0x60, "Mandatory information element is missing", ""},
    {0x61, "Message type non-existent or not implemented", ""},
    {0x62, "Message not compatible with call state or message type non-existent or not implemented ", " "},
    {0x63, "Information element/parameter non-existent or not implemented", ""},
    {0x64, "Invalid information element contents", ""},
    {0x65, "Message not compatible with call state", ""},
    {0x66, "Recovery on timer expiry", ""},
    {0x67, "Parameter non-existent or not implemented - passed on", ""},
    {0x6E, "Message with unrecognized parameter discarded", ""},
    {0x6F, "Protocol error, unspecified", ""},
    {0x7F, "Interworking, unspecified", ""},
};

void coding_location(Out& o, u8 octet)
{
    o.put("    coding ");
    o.bits(octet, 7, 2);
    o.put(" location ");
    o.bits(octet, 4, 4);
    o.put("\n");
}

void cause_line(Out& o, u8 cause, char const* text)
{
    if (text)
        o.put("  cause value %x : %s \n", cause, text);
    else
        o.put("Unknown cause type %x!\n", cause);
}

void prcause(Out& o, Element const& el)
{
    if (!el.has(3))
        return;
    coding_location(o, el.at(3));
    // Octet 3 and its extension 3a end at the first octet with bit 8 set.
    int n = 3;
    while (el.has(n) && !(el.at(n) & 0x80))
        ++n;
    ++n;
    if (!el.has(n))
        return;
    u8 cause = el.at(n++) & 0x7F;
    char const* text = nullptr;
    for (Cause const& c : cvlist)
        if (c.value == cause)
            text = c.text;
    cause_line(o, cause, text);
    // Diagnostics: attribute number, rejected and available values.
    while (el.has(n)) {
        o.put("    diag attribute %d ", el.at(n++) & 0x7F);
        if (!el.has(n)) {
            o.put("\n");
            return;
        }
        u8 rej = el.at(n);
        o.put(" rej %d ", rej & 0x7F);
        if ((rej & 0x80) || !el.has(++n)) {
            o.put("\n");
            return;
        }
        o.put(" av %d\n", el.at(n) & 0x7F);
    }
}

void prfacility(Out& o, Element const& el)
{
    line_bits(o, "    octet 3 ", el, 3);
    int n = 4;
    while (el.has(n)) {
        o.put("   octet 4 ");
        o.bits(el.at(n++), 8, 8);
        o.put("\n");
        if (!el.has(n))
            break;
        int count = el.at(n++) & 0x7F;
        o.put("   octet 5 %d\n", count);
        o.put("   contents ");
        for (; count > 0 && el.has(n); --count)
            o.put("%2x ", el.at(n++));
        o.put("\n");
    }
}

void display(Out& o, Element const& el)
{
    o.put("   \"");
    if (el.has(3))
        o.chars(el.e + 2, el.end);
    o.put("\"\n");
}

ElementKind const ielist[] = {
    {0x00, "Segmented message", general},
    {0x04, "Bearer capability", prbearer},
    {0x08, "Cause", prcause},
    {0x10, "Call identity", general},
    {0x14, "Call state", general},
    {0x18, "Channel identification", prchident},
    {0x1C, "Facility", prfacility},
    {0x1E, "Progress indicator", general},
    {0x20, "Network-specific facilities", general},
    {0x27, "Notification indicator", general},
    {0x28, "Display", display},
    {0x29, "Date/Time", general},
    {0x2C, "Keypad facility", general},
    {0x34, "Signal", general},
    {0x40, "Information rate", general},
    {0x42, "End-to-end delay", general},
    {0x43, "Transit delay selection and indication", general},
    {0x44, "Packet layer binary parameters", general},
    {0x45, "Packet layer window size", general},
    {0x46, "Packet size", general},
    {0x47, "Closed user group", general},
    {0x4A, "Reverse charge indication", general},
    {0x6C, "Calling party number", prcalling},
    {0x6D, "Calling party subaddress", general},
    {0x70, "Called party number", prcalled},
    {0x71, "Called party subaddress", general},
    {0x74, "Redirecting number", general},
    {0x78, "Transit network selection", general},
    {0x79, "Restart indicator", general},
    {0x7C, "Low layer compatibility", general},
    {0x7D, "High layer compatibility", general},
    {0x7E, "User-user", general},
    {0x7F, "Escape for extension", general},
};

struct MessageType
{
    u8 code;
    char const* name;
};

MessageType const mtlist[] = {
    {0x01, "ALERTING"},
    {0x02, "CALL PROCEEDING"},
    {0x07, "CONNECT"},
    {0x0F, "CONNECT ACKNOWLEDGE"},
    {0x03, "PROGRESS"},
    {0x05, "SETUP"},
    {0x0D, "SETUP ACKNOWLEDGE"},
    {0x24, "HOLD"},
    {0x28, "HOLD ACKNOWLEDGE"},
    {0x30, "HOLD REJECT"},
    {0x31, "RETRIEVE"},
    {0x33, "RETRIEVE ACKNOWLEDGE"},
    {0x37, "RETRIEVE REJECT"},
    {0x26, "RESUME"},
    {0x2E, "RESUME ACKNOWLEDGE"},
    {0x22, "RESUME REJECT"},
    {0x25, "SUSPEND"},
    {0x2D, "SUSPEND ACKNOWLEDGE"},
    {0x21, "SUSPEND REJECT"},
    {0x20, "USER INFORMATION"},
    {0x45, "DISCONNECT"},
    {0x4D, "RELEASE"},
    {0x5A, "RELEASE COMPLETE"},
    {0x46, "RESTART"},
    {0x4E, "RESTART ACKNOWLEDGE"},
    {0x60, "SEGMENT"},
    {0x79, "CONGESTION CONTROL"},
    {0x7B, "INFORMATION"},
    {0x62, "FACILITY"},
    {0x6E, "NOTIFY"},
    {0x7D, "STATUS"},
    {0x75, "STATUS ENQUIRY"},
};

void single_octet(Out& o, u8 v)
{
    switch ((v >> 4) & 7) {
    case 1:
        o.put("  Shift %x\n", v & 0x0F);
        break;
    case 2:
        if (v == 0xA0)
            o.put("  More data\n");
        else if (v == 0xA1)
            o.put("  Sending complete\n");
        break;
    case 3:
        o.put("  Congestion level %x\n", v & 0x0F);
        break;
    case 5:
        o.put("  Repeat indicator %x\n", v & 0x0F);
        break;
    default:
        o.put("  Reserved %x\n", v);
        break;
    }
}

// The Q.931 message in [m, end).
void message(Out& o, u8 const* m, u8 const* end)
{
    if (m[0] != 0x08) {
        o.put("Unknown protocol %x!", m[0]);
        return;
    }
    if (end - m < 3) {
        o.put("frame too short\n");
        return;
    }
    int crlen = m[1] & 0x0F;
    u8 const* p = m + 2;
    u8 cr = 0;
    if (crlen < end - p) {
        cr = crlen ? *p : 0;
        p += crlen;
    } else {
        p = end;
    }
    if (p == end) {
        o.put("frame too short\n");
        return;
    }
    u8 type = *p++;
    char const* name = nullptr;
    for (MessageType const& t : mtlist)
        if (t.code == type)
            name = t.name;
    int size = int(end - m);
    char const* side = cr & 0x80 ? "called" : "caller";
    if (name)
        o.put("callref %d %s size %d message type %s\n", cr & 0x7F, side, size, name);
    else
        o.put("callref %d %s size %d unknown message type %x!\n", cr & 0x7F, side, size, type);

    while (p < end) {
        if (*p & 0x80) {
            single_octet(o, *p++);
            continue;
        }
        u8 code = p[0];
        int length = p + 1 < end ? p[1] : -1;
        ElementKind const* kind = nullptr;
        for (ElementKind const& k : ielist)
            if (k.code == code)
                kind = &k;
        if (kind)
            o.put("  %s\n", kind->name);
        else
            o.put("  attribute %x attribute size %d\n", code, length < 0 ? 0 : length);
        if (length < 0 || end - p < 2 + length) {
            if (kind)
                kind->printer(o, Element{p, end});
            o.put("  element runs past the frame end\n");
            return;
        }
        if (kind)
            kind->printer(o, Element{p, p + 2 + length});
        p += 2 + length;
    }
}

} // namespace

std::size_t dlogframe(unsigned char const* frame, int len, int direction, char* buf, std::size_t size)
{
    Out o(buf, size);
    if (!frame || len < 0)
        len = 0;
    for (int i = 0; i < len; ++i)
        o.put(" %02X", frame[i]);
    o.put("\n");
    if (len < 3) {
        o.put("frame too short\n");
        return o.length();
    }
    int sapi = frame[0] >> 2;
    int tei = frame[1] >> 1;
    u8 control = frame[2];
    o.put("frame %s ", direction ? "network->user" : "user->network");

    int start;
    if (tei == 127) {
        if (sapi >= 1 && sapi <= 62) {
            o.put("unknown sapi %d broadcast\n", sapi);
            return o.length();
        }
        if (sapi == 63) {
            o.put("tei management:\n");
            return o.length();
        }
        if (control != 0x03) {
            o.put("no UI broadcast\n");
            return o.length();
        }
        o.put("broadcast\n");
        start = 3;
    } else {
        if (sapi != 0) {
            o.put("unknown sapi = %d; tei = %d\n", sapi, tei);
            return o.length();
        }
        if (control & 1) {
            o.put("SFrame tei = %d (", tei);
            for (int i = 2; i < len; ++i)
                o.put("%02X ", frame[i]);
            o.put(")\n");
            return o.length();
        }
        o.put("IFrame tei = %d\n", tei);
        start = 4;
    }
    if (start >= len) {
        o.put("frame too short\n");
        return o.length();
    }
    message(o, frame + start, frame + len);
    return o.length();
}

// ---- tables beside the trace's, and their printers

int QuickHex(char* out, unsigned char const* data, int count)
{
    char* p = out;
    for (int i = 0; i < count; ++i)
        p += std::snprintf(p, 4, " %02X", data[i]);
    *p++ = 0;
    return int(p - out);
}

namespace q931 {

void general_ni1(Out& o, Element const& el)
{
    numbered(o, el, false);
}

void prbearer_ni1(Out& o, Element const& el)
{
    if (el.has(3)) {
        u8 v = el.at(3);
        o.put("    octet 3  ");
        o.bits(v, 8, 8);
        o.put("%s\n", v == 0x80   ? " Speech"
                      : v == 0x88 ? " Unrestricted digital information"
                      : v == 0x90 ? " 3.1 kHz audio"
                                  : " Unknown information-transfer capability");
    }
    if (el.has(4)) {
        u8 v = el.at(4);
        o.put("    octet 4  ");
        o.bits(v, 8, 8);
        o.put("%s\n", v == 0x90 ? " 64 kbps, circuit mode" : v == 0xC0 ? " Packet mode" : " Unknown transfer mode");
    }
    if (!el.has(5) || el.at(2) <= 2)
        return;
    u8 v = el.at(5);
    o.put("    octet 5  ");
    o.bits(v, 8, 8);
    if (v == 0x21) {
        o.put(" Rate adaption\n");
        line_bits(o, "    octet 5a ", el, 6);
    } else {
        o.put("%s\n", v == 0xA2 ? " u-law" : " Unknown UI layer 1 protocol");
    }
}

void prtext(Out& o, Element const& el)
{
    o.put("    ");
    if (el.has(3))
        o.chars(el.e + 2, el.end);
    o.put("\n");
}

void prfeatureind(Out& o, Element const& el)
{
    static char const* const status[] = {"Idle", "Active", "Prompt", "Pending"};
    line_bits(o, "    octet 3 ", el, 3);
    line_bits(o, "    octet 4 ", el, 4);
    if (!el.has(4))
        return;
    unsigned v = el.at(4) & 0x0F;
    o.put("    Status:  %s\n", v < 4 ? status[v] : "(Reserved)");
}

// Display type, then fields of tag, length and text.
void disptext_ni1(Out& o, Element const& el)
{
    if (!el.has(3))
        return;
    if (el.at(3) != 0x80) {
        o.put("    Unknown display type\n");
        return;
    }
    const int size = int(el.end - el.e);
    for (int n = 4; el.has(n);) {
        u8 tag = el.at(n++);
        int length = el.has(n) ? el.at(n++) : 0;
        int from = n, to = n + length < size + 1 ? n + length : size + 1;
        n += length;
        if (tag == 0x80 || tag == 0x81)
            continue;
        char const* name = nullptr;
        for (CodeText const& t : dtaglist)
            if (t.code == tag)
                name = t.text;
        if (name)
            o.put("    %s: ", name);
        else
            o.put("    (unknown display tag %2x): ", tag);
        o.chars(el.e + from - 1, el.e + to - 1);
        o.put("\n");
    }
}

// Octet 3 the cause, octet 4 (when the length allows) its location.
void prcause_1tr6(Out& o, Element const& el)
{
    if (!el.has(2))
        return;
    if (el.at(2) == 0) {
        o.put("   OK (cause length=0)\n");
        return;
    }
    if (el.at(2) > 1 && el.has(4))
        coding_location(o, el.at(4));
    if (!el.has(3))
        return;
    u8 cause = el.at(3) & 0x7F;
    char const* text = nullptr;
    for (int i = 0; i < cause_1tr6_len; ++i)
        if (cause_1tr6[i].code == cause)
            text = cause_1tr6[i].text;
    cause_line(o, cause, text);
}

void prcharge(Out& o, Element const& el)
{
    o.put("    GEA ");
    if (el.has(3))
        o.bits(el.at(3), 8, 8);
    o.put("  Anzahl: ");
    if (el.has(4))
        o.chars(el.e + 3, el.end);
    o.put("\n");
}

ElementKind const ielist_ni1[21] = {
    {0x04, "Bearer Capability", prbearer_ni1},
    {0x08, "Cause", prcause},
    {0x14, "Call State", general_ni1},
    {0x18, "Channel Identification", prchident},
    {0x1E, "Progress Indicator", general_ni1},
    {0x27, "Notification Indicator", general_ni1},
    {0x2C, "Keypad Facility", prtext},
    {0x32, "Information Request", general_ni1},
    {0x34, "Signal", general_ni1},
    {0x38, "Feature Activation", general_ni1},
    {0x39, "Feature Indication", prfeatureind},
    {0x3A, "Service Profile Identification (SPID)", prtext},
    {0x3B, "Endpoint Identifier", general_ni1},
    {0x6C, "Calling Party Number", prcalling},
    {0x6D, "Calling Party Subaddress", general_ni1},
    {0x70, "Called Party Number", prcalled},
    {0x71, "Called Party Subaddress", general_ni1},
    {0x74, "Redirecting Number", general_ni1},
    {0x78, "Transit Network Selection", general_ni1},
    {0x7C, "Low Layer Compatibility", general_ni1},
    {0x7D, "High Layer Compatibility", general_ni1},
};

ElementKind const ielist_ni1_cs5[2] = {
    {0x1D, "Operator system access", general_ni1},
    {0x2A, "Display text", disptext_ni1},
};

ElementKind const ielist_ni1_cs6[1] = {
    {0x7B, "Call appearance", general_ni1},
};

ElementKind const we_0[10] = {
    {0x08, "Cause", prcause_1tr6},
    {0x0C, "Connecting Address", prcalled},
    {0x10, "Call IDentity", general},
    {0x18, "Channel IDentity", general},
    {0x20, "Network Specific Facility", general},
    {0x28, "Display", general},
    {0x2C, "Keypad", general},
    {0x6C, "Origination Address", prcalled},
    {0x70, "Destination Address", prcalled},
    {0x7E, "User Info", general},
};

ElementKind const we_6[7] = {
    {0x01, "Service Indicator", general},
    {0x02, "Charging Information", prcharge},
    {0x03, "Date", prtext},
    {0x05, "Facility Select", general},
    {0x06, "Facility Status", general},
    {0x07, "Status Called", general},
    {0x08, "Additional Transmission Attributes", general},
};

CodeText const cause_1tr6[26] = {
    {0x01, "Invalid Call Reference"},
    {0x03, "Bearer Service Not Implemented"},
    {0x07, "Caller Identity unknown"},
    {0x08, "Caller Identity in Use"},
    {0x0A, "No Channels available"},
    {0x10, "Facility Not Implemented"},
    {0x11, "Facility Not Subscribed"},
    {0x20, "Outgoing calls barred"},
    {0x21, "User Access Busy"},
    {0x22, "Negative GBG"},
    {0x23, "Unknown  GBG"},
    {0x25, "No SPV known"},
    {0x35, "Destination not obtainable"},
    {0x38, "Number changed"},
    {0x39, "Out Of Order"},
    {0x3A, "No User Response"},
    {0x3B, "User Busy"},
    {0x3D, "Incoming Barred"},
    {0x3E, "Call Rejected"},
    {0x59, "Network Congestion"},
    {0x5A, "Remote User initiated"},
    {0x70, "Local Procedure Error"},
    {0x71, "Remote Procedure Error"},
    {0x72, "Remote User Suspend"},
    {0x73, "Remote User Resumed"},
    {0x7F, "User Info Discarded"},
};

int const cause_1tr6_len = int(sizeof cause_1tr6 / sizeof cause_1tr6[0]);

CodeText const dtaglist[22] = {
    {0x82, "Continuation"},
    {0x83, "Called address"},
    {0x84, "Cause"},
    {0x85, "Progress indicator"},
    {0x86, "Notification indicator"},
    {0x87, "Prompt"},
    {0x88, "Accumlated digits"},
    {0x89, "Status"},
    {0x8A, "Inband"},
    {0x8B, "Calling address"},
    {0x8C, "Reason"},
    {0x8D, "Calling party name"},
    {0x8E, "Called party name"},
    {0x8F, "Orignal called name"},
    {0x90, "Redirecting name"},
    {0x91, "Connected name"},
    {0x92, "Originating restrictions"},
    {0x93, "Date & time of day"},
    {0x94, "Call Appearance ID"},
    {0x95, "Feature address"},
    {0x96, "Redirection name"},
    {0x9E, "Text"},
};

} // namespace q931

} // namespace ISDN
