#include "signalling/lapd_frame.h"

#include <cstring>

namespace ISDN {

char const* kind_name(FrameKind k)
{
    static char const* const names[] = {"I", "RR", "RNR", "REJ", "SABME", "DM", "UI", "DISC", "UA", "FRMR"};
    return names[unsigned(k)];
}

char const* frame_error_text(FrameError e)
{
    switch (e) {
    case FrameError::none: return "none";
    case FrameError::too_short: return "frame too short";
    case FrameError::ea0: return "EA bit of the first address octet set";
    case FrameError::ea1: return "EA bit of the second address octet clear";
    case FrameError::unknown_control: return "undefined control field";
    }
    return "unknown";
}

FrameError parse_frame(unsigned char const* o, unsigned len, Frame& f)
{
    if (len < 3)
        return FrameError::too_short;
    if (o[0] & 1)
        return FrameError::ea0;
    if (!(o[1] & 1))
        return FrameError::ea1;
    f.sapi = o[0] >> 2;
    f.cr = (o[0] >> 1) & 1;
    f.tei = o[1] >> 1;
    unsigned char c = o[2];
    if ((c & 1) == 0 || (c & 3) == 1) {
        if (len < 4)
            return FrameError::too_short;
        f.nr = Seq(o[3] >> 1);
        f.pf = o[3] & 1;
        f.header = 4;
        if ((c & 1) == 0) {
            f.kind = FrameKind::I;
            f.ns = Seq(c >> 1);
        } else {
            static FrameKind const s[] = {FrameKind::RR, FrameKind::RNR, FrameKind::REJ};
            // Bits 5-8 are not looked at, nor is the information field
            // held to N201: such frames are taken as the peer sent them.
            unsigned k = (c >> 2) & 3;
            if (k == 3)
                return FrameError::unknown_control;
            f.kind = s[k];
        }
    } else {
        f.header = 3;
        f.pf = c & u_pf;
        switch (c & ~u_pf) {
        case u_sabme: f.kind = FrameKind::SABME; break;
        case u_dm: f.kind = FrameKind::DM; break;
        case u_ui: f.kind = FrameKind::UI; break;
        case u_disc: f.kind = FrameKind::DISC; break;
        case u_ua: f.kind = FrameKind::UA; break;
        case u_frmr: f.kind = FrameKind::FRMR; break;
        default: return FrameError::unknown_control;
        }
    }
    f.info = o + f.header;
    f.info_len = len - f.header;
    return FrameError::none;
}

namespace {

Packet start(Address a, unsigned room)
{
    Packet p;
    p.reserve_head(lapd_head_room);
    unsigned char* o = p.put(room);
    o[0] = uint8_t(a.sapi << 2 | (a.cr ? 2 : 0));
    o[1] = uint8_t(a.tei << 1 | 1);
    return p;
}

Packet supervisory(uint8_t code, Address a, Seq nr, bool pf)
{
    Packet p = start(a, 4);
    unsigned char* o = p.data();
    o[2] = code;
    o[3] = uint8_t(unsigned(nr) << 1 | (pf ? 1 : 0));
    return p;
}

Packet unnumbered(uint8_t code, Address a, bool pf)
{
    Packet p = start(a, 3);
    p.data()[2] = uint8_t(code | (pf ? u_pf : 0));
    return p;
}

} // namespace

Packet frame_I(Packet const& message, Address a, Seq ns, Seq nr, bool poll)
{
    Packet p = message;
    if (p.null() || p._headroom() < lapd_head_room) {
        // No room in front: one copy into a packet that has it.
        unsigned len = message.length();
        p.clear();
        p.reserve_head(lapd_head_room);
        if (len)
            std::memcpy(p.put(len), &message[0], len);
    }
    p.push8(uint8_t(unsigned(nr) << 1 | (poll ? 1 : 0)));
    p.push8(uint8_t(unsigned(ns) << 1));
    p.push8(uint8_t(a.tei << 1 | 1));
    p.push8(uint8_t(a.sapi << 2 | (a.cr ? 2 : 0)));
    return p;
}

Packet frame_RR(Address a, Seq nr, bool pf) { return supervisory(0x01, a, nr, pf); }
Packet frame_RNR(Address a, Seq nr, bool pf) { return supervisory(0x05, a, nr, pf); }
Packet frame_REJ(Address a, Seq nr, bool pf) { return supervisory(0x09, a, nr, pf); }
Packet frame_SABME(Address a, bool p) { return unnumbered(u_sabme, a, p); }
Packet frame_DM(Address a, bool f) { return unnumbered(u_dm, a, f); }
Packet frame_DISC(Address a, bool p) { return unnumbered(u_disc, a, p); }
Packet frame_UA(Address a, bool f) { return unnumbered(u_ua, a, f); }

Packet frame_UI(Address a, unsigned char const* info, unsigned len)
{
    Packet p = unnumbered(u_ui, a, false);
    if (len)
        std::memcpy(p.put(len), info, len);
    return p;
}

} // namespace ISDN
