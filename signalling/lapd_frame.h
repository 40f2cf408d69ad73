// Q.921 frames with a two-octet address and modulo 128 control fields:
// received frames are parsed once into a Frame, refusing what is malformed;
// sent frames come from one builder per kind.
//
// Frames pass to and from the HDLC channel as address, control and
// information octets (no flags, no FCS).
#pragma once

#include "framework/packet.h"
#include "signalling/lapd_seq.h"

#include <cstdint>

namespace ISDN {

enum : unsigned {
    N201 = 260,         // Q.921 5.9.3: most octets of an information field
    lapd_head_room = 4, // address and two control octets in front of an I frame's message
};

// Control codes of the unnumbered frames, P/F clear.
enum : uint8_t {
    u_sabme = 0x6F,
    u_dm = 0x0F,
    u_ui = 0x03,
    u_disc = 0x43,
    u_ua = 0x63,
    u_frmr = 0x87,
    u_pf = 0x10,
};

enum class FrameKind : uint8_t { I, RR, RNR, REJ, SABME, DM, UI, DISC, UA, FRMR };

char const* kind_name(FrameKind k);

// Why a received frame was refused.
enum class FrameError : uint8_t {
    none,
    too_short,       // under 3 octets, or an I or S frame under 4
    ea0,             // first address octet with EA = 1
    ea1,             // second address octet with EA = 0
    unknown_control, // S kind 3 or an unknown U code (Q.921 5.8.5)
};

char const* frame_error_text(FrameError e);

// One received frame. info points into the parsed octets.
struct Frame
{
    uint8_t sapi = 0;
    uint8_t tei = 0;
    bool cr = false; // the C/R bit as received
    FrameKind kind = FrameKind::UI;
    bool pf = false;
    Seq ns, nr; // ns for I frames, nr for I and S frames
    unsigned header = 0; // octets before the information field
    unsigned char const* info = nullptr;
    unsigned info_len = 0;
};

FrameError parse_frame(unsigned char const* octets, unsigned len, Frame& f);

// The sender's address: SAPI, TEI and the C/R bit the frame carries.
struct Address
{
    uint8_t sapi;
    uint8_t tei;
    bool cr;
};

// The message with the I frame header in front: a copy of the packet, so a
// queued message keeps no header and a retransmission gets a fresh one.
// P is 0 (Q.921 5.6.1) but where T200 sends the frame again as its poll.
Packet frame_I(Packet const& message, Address a, Seq ns, Seq nr, bool poll = false);
Packet frame_RR(Address a, Seq nr, bool pf);
Packet frame_RNR(Address a, Seq nr, bool pf);
Packet frame_REJ(Address a, Seq nr, bool pf);
Packet frame_SABME(Address a, bool p);
Packet frame_DM(Address a, bool f);
Packet frame_DISC(Address a, bool p);
Packet frame_UA(Address a, bool f);
Packet frame_UI(Address a, unsigned char const* info, unsigned len);

} // namespace ISDN
