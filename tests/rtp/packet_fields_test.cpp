// Every field of a LEMZ packet and of an R2S header at its own place on the
// wire, read back from there alone; the kinds, lengths and buffer sizes at
// the last one taken and the first one refused; the name table, the printer
// and the driver's texts entry by entry.
#include "board/rtp_driver.h"
#include "rtp/lemz_codec.h"
#include "rtp/r2s_codec.h"
#include "tests/rtp/lemz_packets.h"
#include "rtp/rtcp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

using rtptest::Fresh;
using rtptest::Pack;

// Unpacked from an exact heap copy, so a read past the end trips ASan.
int32_t Unpack(sig_proto& r, Bytes const& wire, size_t n)
{
    std::unique_ptr<unsigned char[]> exact(new unsigned char[n + 1]);
    std::memcpy(exact.get(), wire.data(), n);
    return sig_proto_unpack(&r, exact.get(), n);
}

bool Same(sig_proto const& a, sig_proto const& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(LemzPacketFields, EachHeaderFieldHasItsOwnBits)
{
    struct Row {
        uint32_t sig_proto::*field;
        uint32_t value;
        Bytes header; // octets 1-3
    } rows[] = {
        {&sig_proto::priority, 1, {0x10, 0, 0}},   {&sig_proto::priority, 8, {0x80, 0, 0}},
        {&sig_proto::flag_t, 1, {0x08, 0, 0}},     {&sig_proto::flag_p, 1, {0x04, 0, 0}},
        {&sig_proto::flag_r, 1, {0x02, 0, 0}},     {&sig_proto::flag_s, 1, {0x01, 0, 0}},
        {&sig_proto::flag_b, 1, {0, 0x80, 0}},     {&sig_proto::flag_rv, 1, {0, 0x40, 0}},
        {&sig_proto::flag_sh, 1, {0, 0x20, 0}},    {&sig_proto::flag_pw, 1, {0, 0x10, 0}},
        {&sig_proto::status, 256, {0, 0x08, 0}},   {&sig_proto::status, 32, {0, 0x01, 0}},
        {&sig_proto::status, 16, {0, 0, 0x80}},    {&sig_proto::status, 1, {0, 0, 0x08}},
        {&sig_proto::flag_c, 2, {0, 0, 0x04}},     {&sig_proto::flag_c, 1, {0, 0, 0x02}},
        {&sig_proto::flag_rs, 1, {0, 0, 0x01}},
    };
    int row = 0;
    for (Row const& r : rows) {
        sig_proto p = Fresh(WM_FLAG);
        p.*r.field = r.value;
        Bytes wire{WM_FLAG, r.header[0], r.header[1], r.header[2]};
        EXPECT_EQ(Pack(p), wire) << "row " << row;
        sig_proto back = Fresh(0);
        ASSERT_EQ(Unpack(back, wire, 4), 0);
        EXPECT_TRUE(Same(back, p)) << "row " << row;
        ++row;
    }
    // Only the field's width reaches the wire.
    sig_proto wide = Fresh(GW_FLAG);
    wide.priority = 0x1F;
    wide.flag_t = 2;
    wide.flag_s = 3;
    wide.flag_c = 5;
    wide.status = 512 + 5;
    EXPECT_EQ(Pack(wide), (Bytes{GW_FLAG, 0xF1, 0x00, 0x2A}));
    EXPECT_EQ(Pack(Fresh(0xFF01)), (Bytes{0x01, 0, 0, 0}));
    EXPECT_EQ(Pack(Fresh(GW_FLAG), 4), (Bytes{GW_FLAG, 0, 0, 0}));

    // The setter takes its arguments in the header's order; a negative one
    // leaves its field.
    uint32_t sig_proto::*const order[] = {&sig_proto::priority, &sig_proto::flag_t,  &sig_proto::flag_p,
                                          &sig_proto::flag_r,   &sig_proto::flag_s,  &sig_proto::flag_b,
                                          &sig_proto::flag_rv,  &sig_proto::flag_sh, &sig_proto::flag_pw,
                                          &sig_proto::flag_rs,  &sig_proto::flag_c,  &sig_proto::status};
    for (int i = 0; i < 12; ++i) {
        int32_t a[12];
        for (int32_t& v : a)
            v = -1;
        a[i] = 0 == i ? 9 : (i == 10 ? 2 : (i == 11 ? 300 : 1));
        sig_proto set = Fresh(GW_FLAG), want = Fresh(GW_FLAG);
        sig_proto_set_base(&set, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11]);
        want.*order[i] = static_cast<uint32_t>(a[i]);
        EXPECT_TRUE(Same(set, want)) << "argument " << i;
    }
    sig_proto ptt = Fresh(GW_FLAG_PTT);
    sig_proto_set_ptt(&ptt, 1);
    sig_proto_set_ptt(&ptt, -1);
    EXPECT_EQ(Pack(ptt), (Bytes{GW_FLAG_PTT, 0x04, 0, 0}));

    // Every setter answers 0, with a record or without.
    in_addr a{};
    for (sig_proto* r : {&ptt, static_cast<sig_proto*>(nullptr)}) {
        const int32_t results[] = {
            sig_proto_init(r),
            sig_proto_set_base(r, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1),
            sig_proto_set_ptt(r, 1),
            sig_proto_set_gw_adjust_chan(r, 1, 1.0f),
            sig_proto_set_gw_selcall(r, "1", 1),
            sig_proto_set_gw_select_rc_chan(r, 1, 1),
            sig_proto_set_gw_adjust_squelsh(r, 1),
            sig_proto_set_gw_adjust_rte(r, 1),
            sig_proto_set_gw_adjust_standby(r, 1),
            sig_proto_set_wm_transmite(r, a, 1),
            sig_proto_set_wm_radio_quality(r, 1.0f),
            sig_proto_set_wm_chan(r, 1, 1.0f, 1, 1),
            sig_proto_set_wm_selcall_transmite(r, a, 1, "1", 1),
            sig_proto_set_wm_select_rc_chan(r, 1, 1),
            sig_proto_set_wm_standby(r, 1, 1, 1),
            init_sig_proto_queue(nullptr),
        };
        int i = 0;
        for (int32_t result : results)
            EXPECT_EQ(result, 0) << "setter " << i++ << (r ? "" : " without a record");
    }
}

// Each kind's payload at its offsets, packed into the least room it needs
// and refused one octet short; read back alike, and refused one octet short.
TEST(LemzPacketFields, EachKindsPayloadAndItsLengths)
{
    auto with = [](uint32_t kind, auto set) {
        sig_proto r = Fresh(kind);
        set(&r);
        return r;
    };
    in_addr a{};
    inet_pton(AF_INET, "10.1.2.3", &a);
    struct Row {
        sig_proto record;
        Bytes wire;
        size_t room;   // the least buffer the packer takes
        size_t unpack; // the fewest octets the reader takes
    } rows[] = {
        {with(GW_ADJUST_CHAN, [](sig_proto* r) { sig_proto_set_gw_adjust_chan(r, 0x0A0B0C0D, 145.5f); }),
         {2, 0, 0, 0, 0x0A, 0x0B, 0x0C, 0x0D, 0x43, 0x11, 0x80, 0x00}, 12, 12},
        {with(GW_SEL_CALL, [](sig_proto* r) { sig_proto_set_gw_selcall(r, "AB1", 3); }),
         {9, 0, 0, 0, 3, 'A', 'B', '1'}, 15, 8},
        {with(GW_SELECT_RC_CHAN, [](sig_proto* r) { sig_proto_set_gw_select_rc_chan(r, 3, 250); }),
         {10, 0, 0, 0, 3, 250, 0, 0}, 8, 8},
        {with(GW_ADJUST_SQUELSHE, [](sig_proto* r) { sig_proto_set_gw_adjust_squelsh(r, 2); }),
         {11, 0, 0, 0, 2, 0, 0, 0}, 8, 8},
        {with(GW_ADJUST_RTE, [](sig_proto* r) { sig_proto_set_gw_adjust_rte(r, 6); }), {12, 0, 0, 0, 6, 0, 0, 0}, 8, 8},
        {with(GW_ADJUST_STANDBY, [](sig_proto* r) { sig_proto_set_gw_adjust_standby(r, 1); }),
         {13, 0, 0, 0, 1, 0, 0, 0}, 8, 8},
        {with(WM_TRANS, [a](sig_proto* r) { sig_proto_set_wm_transmite(r, a, 0x0A0B0C0D); }),
         {130, 0, 0, 0, 3, 2, 1, 10, 0x0A, 0x0B, 0x0C, 0x0D}, 12, 12},
        {with(WM_RADIO_QUALITY, [](sig_proto* r) { sig_proto_set_wm_radio_quality(r, -2.5f); }),
         {131, 0, 0, 0, 0xC0, 0x20, 0, 0}, 8, 8},
        {with(WM_CHAN, [](sig_proto* r) { sig_proto_set_wm_chan(r, 0x01020304, 118.125f, 2, 7); }),
         {132, 0, 0, 0, 1, 2, 3, 4, 0x42, 0xEC, 0x40, 0, 2, 7, 0, 0}, 16, 16},
        {with(WM_SEL_CALL_TRANS,
              [a](sig_proto* r) { sig_proto_set_wm_selcall_transmite(r, a, 0x0A0B0C0D, "XYZ", 3); }),
         {133, 0, 0, 0, 3, 2, 1, 10, 0x0A, 0x0B, 0x0C, 0x0D, 3, 'X', 'Y', 'Z'}, 23, 16},
        {with(WM_SELECT_RC_CHAN, [](sig_proto* r) { sig_proto_set_wm_select_rc_chan(r, 5, 6); }),
         {134, 0, 0, 0, 5, 6, 0, 0}, 8, 8},
        {with(WM_STANDBY, [](sig_proto* r) { sig_proto_set_wm_standby(r, 1, 200, 2); }),
         {135, 0, 0, 0, 1, 200, 2, 0}, 8, 8},
    };
    for (Row const& r : rows) {
        const uint32_t kind = r.record.type;
        EXPECT_EQ(Pack(r.record), r.wire) << kind;
        EXPECT_EQ(Pack(r.record, r.room), r.wire) << kind;
        Bytes small(r.room - 1, 0xEE);
        EXPECT_EQ(sig_proto_pack(&r.record, small.data(), small.size()), kSigProtoShort) << kind;
        sig_proto back = Fresh(0);
        ASSERT_EQ(Unpack(back, r.wire, r.unpack), 0) << kind;
        EXPECT_TRUE(Same(back, r.record)) << kind;
        sig_proto kept = Fresh(GW_FLAG);
        kept.priority = 3;
        sig_proto before = kept;
        EXPECT_EQ(Unpack(kept, r.wire, r.unpack - 1), kSigProtoShort) << kind;
        EXPECT_TRUE(Same(kept, before)) << kind;
    }
    // A payload read into a record keeps what the kind does not carry.
    sig_proto held = Fresh(0);
    held.payload.raw[7] = 0x5A;
    ASSERT_EQ(Unpack(held, rows[2].wire, 8), 0);
    EXPECT_EQ(held.payload.raw[7], 0x5A);
    EXPECT_EQ(held.payload.gw_select_rc_chan.channel, 250);
}

// Kinds 1-13 and 129-135 are known, the header-only ones among them need
// their four octets alone; every other kind is refused by the reader, and
// packs to its header.
TEST(LemzPacketFields, KnownKindsAndThePushToTalkOnes)
{
    const std::vector<uint32_t> headerOnly{1, 3, 4, 5, 6, 7, 8, 129};
    const std::vector<uint32_t> ptt{1, 3, 9, 129, 130, 133};
    auto in = [](std::vector<uint32_t> const& v, uint32_t k) { return std::find(v.begin(), v.end(), k) != v.end(); };
    for (uint32_t k = 0; k < 256; ++k) {
        bool known = (k >= 1 && k <= 13) || (k >= 129 && k <= 135);
        sig_proto r = Fresh(GW_FLAG);
        int32_t got = sig_proto_unpack(&r, Bytes{static_cast<unsigned char>(k), 0, 0, 0}.data(), 4);
        EXPECT_EQ(got, !known ? kSigProtoUnknownKind : (in(headerOnly, k) ? 0 : kSigProtoShort)) << k;
        if (!known || in(headerOnly, k)) {
            EXPECT_EQ(Pack(Fresh(k)).size(), 4u) << k;
        }
        sig_proto p = Fresh(k);
        EXPECT_EQ(sig_proto_is_ptt_command(&p), in(ptt, k) ? 1 : 0) << k;
        EXPECT_EQ(RTPSignalling::isPTTCommand(k), in(ptt, k)) << k;
    }
    EXPECT_EQ(sig_proto_is_ptt_command(nullptr), 0);
    EXPECT_EQ(is_little_endian(), __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 1 : 0);
    // The result codes by their numbers.
    sig_proto k = Fresh(0);
    EXPECT_EQ(sig_proto_unpack(&k, Bytes{200, 0, 0, 0}.data(), 4), -8);
    EXPECT_EQ(sig_proto_unpack(&k, Bytes{2, 0, 0, 0}.data(), 4), -9);
    EXPECT_EQ(sig_proto_unpack(nullptr, Bytes{2, 0, 0, 0}.data(), 4), -7);
    EXPECT_EQ(sizeof(sig_proto), 15 * 4 + 268u);
    EXPECT_EQ(sizeof(sig_proto_queue), 32 * sizeof(sig_proto) + 32 * 4);

    const char* const names[] = {"GW_FLAG",          "GW_ADJUST_CHAN",     "GW_FLAG_PTT",   "GW_FLAG_BSS",
                                 "GW_FLAG_RV",       "GW_FLAG_SH",         "GW_FLAG_PW",    "GW_FLAG_RS",
                                 "GW_SEL_CALL",      "GW_SELECT_RC_CHAN",  "GW_ADJUST_SQUELSHE",
                                 "GW_ADJUST_RTE",    "GW_ADJUST_STANDBY",  "WM_FLAG",       "WM_TRANS",
                                 "WM_RADIO_QUALITY", "WM_CHAN",            "WM_SEL_CALL_TRANS",
                                 "WM_SELECT_RC_CHAN", "WM_STANDBY"};
    const int32_t ids[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 129, 130, 131, 132, 133, 134, 135};
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(sig_proto_packet_const_name[i].id, ids[i]);
        EXPECT_STREQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, ids[i]), names[i]);
        EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, names[i]), ids[i]);
    }
    EXPECT_EQ(sig_proto_packet_const_name[20].id, -1);
    EXPECT_STREQ(sig_proto_packet_const_name[20].name, "");
    for (int32_t k : {0, 14, 128, 136, -1})
        EXPECT_EQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, k), nullptr) << k;
    EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, "wm_chan"), -1);
    EXPECT_EQ(sig_proto_find_id_by_name(nullptr, "WM_CHAN"), -1);

    sig_proto_queue q;
    std::memset(&q, 0x77, sizeof q);
    EXPECT_EQ(init_sig_proto_queue(&q), 0);
    const uint32_t order[] = {1, 3, 4, 5, 6, 7, 8, 2, 9, 10, 13, 129, 130, 132, 131, 133, 135};
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(q.record[i].type, i < 17 ? order[i] : 0xFFFFFFFFu) << i;
    for (uint32_t w : q.word)
        EXPECT_EQ(w, 0u);
    EXPECT_EQ(q.record[31].priority, 0u);
}

TEST(LemzPacketFields, PrinterLinesAndComparators)
{
    sig_proto r = Fresh(WM_CHAN);
    uint32_t sig_proto::*const flags[] = {&sig_proto::flag_t,  &sig_proto::flag_p, &sig_proto::flag_r,
                                          &sig_proto::flag_s,  &sig_proto::flag_b, &sig_proto::flag_rv,
                                          &sig_proto::flag_sh, &sig_proto::flag_rs, &sig_proto::flag_pw,
                                          &sig_proto::flag_c};
    uint32_t v = 1;
    for (auto f : flags)
        r.*f = v++;
    r.priority = 11;
    r.status = 12;
    sig_proto_set_wm_chan(&r, 13, 145.5f, 14, 15);
    char text[2048];
    const std::string flagLines = "flag_t   : 1,\nflag_p   : 2,\nflag_r   : 3,\nflag_s   : 4,\nflag_b   : 5,\n"
                                  "flag_rv  : 6,\nflag_sh  : 7,\nflag_rs  : 8,\nflag_pw  : 9,\nflag_c   : 10,\n";
    const std::string full = "type      : WM_CHAN,\n" + flagLines
        + "priority : 11,\nstatus   : 12,\nwm_chan.id   : 13,\nwm_chan.freq : 145.5000,\n"
          "wm_chan.squelsh : 14,\nwm_chan.rte     : 15,\n";
    EXPECT_EQ(sprintf_sig_proto(text, sizeof text, &r, 2), static_cast<int32_t>(full.size()));
    EXPECT_EQ(text, full);
    sprintf_sig_proto(text, sizeof text, &r, 1);
    EXPECT_EQ(std::string(text).substr(0, 23), "type      : 0x00000084,");
    sprintf_sig_proto(text, sizeof text, &r, 4);
    EXPECT_EQ(text, flagLines);
    sprintf_sig_proto(text, sizeof text, &r, 6);
    EXPECT_EQ(text, "type      : WM_CHAN,\n" + flagLines);

    // Cut where the room ends, on any line, and never written past it.
    std::vector<char> room(64, '\x55');
    EXPECT_EQ(sprintf_sig_proto(room.data(), 30, &r, 2), 29);
    EXPECT_EQ(std::string(room.data()), full.substr(0, 29));
    EXPECT_EQ(std::count(room.begin() + 30, room.end(), '\x55'), 34);

    // Which kinds print, and which with their payload.
    const struct {
        uint32_t kind;
        const char* first; // the first payload line
    } payloads[] = {{2, "gw_adjust_chan.id"},          {9, "gw_sel_call.callerID_length"},
                    {10, "gw_select_rc_chan.interface"}, {11, "gw_adjust_squelsh.squelsh"},
                    {12, "gw_adjust_rte.rte"},         {13, "gw_adjust_standby.state"},
                    {130, "wm_trans.session_addr"},    {131, "wm_radio_quality.radio_quality"},
                    {132, "wm_chan.id"},               {133, "wm_sel_call_trans.session_addr"},
                    {134, "wm_select_rc_chan.interface"}, {135, "wm_standby.state"}};
    for (uint32_t k = 0; k < 256; ++k) {
        sig_proto any = Fresh(k);
        const char* first = nullptr;
        for (auto const& p : payloads)
            if (p.kind == k)
                first = p.first;
        bool headerOnly = k <= 8 ? k != 2 : k == 129;
        int32_t n = sprintf_sig_proto(text, sizeof text, &any, 1);
        EXPECT_EQ(n > 0, headerOnly || first != nullptr) << k;
        std::string printed(text);
        EXPECT_EQ(printed.find("status   : 0,\n") + 14 == printed.size(), headerOnly) << k;
        if (first) {
            EXPECT_NE(printed.find(std::string("status   : 0,\n") + first), std::string::npos) << k;
        }
    }

    // Compared as printed with the kind in hexadecimal: the same length,
    // so by their text.
    sig_proto flag = Fresh(GW_FLAG), ptt = Fresh(GW_FLAG_PTT);
    EXPECT_LT(cmp_sig_proto(&flag, &ptt), 0);
    EXPECT_GT(cmp_sig_proto(&ptt, &flag), 0);
    EXPECT_EQ(cmp_sig_proto_flags(&flag, &ptt), 0);

    sig_proto b = r;
    EXPECT_EQ(cmp_sig_proto(&r, &b), 0);
    b.payload.wm_chan.rte = 16;
    EXPECT_NE(cmp_sig_proto(&r, &b), 0);
    EXPECT_EQ(cmp_sig_proto_flags(&r, &b), 0);
    b.flag_rs = 9;
    EXPECT_NE(cmp_sig_proto_flags(&r, &b), 0);
    EXPECT_EQ(cmp_sig_proto(nullptr, &b), -1);

    // Kind, then sender SSRC, then sender address.
    sig_proto x = Fresh(GW_FLAG), y = Fresh(GW_FLAG);
    y.source_addr = 7;
    EXPECT_EQ(cmp_sig_proto_header(&x, &y), 7);
    y.source_ssrc = 3;
    EXPECT_EQ(cmp_sig_proto_header(&x, &y), 3);
    y.type = GW_FLAG_BSS;
    EXPECT_EQ(cmp_sig_proto_header(&x, &y), 3);
    EXPECT_EQ(cmp_sig_proto_header(&x, nullptr), -1);
}

// Each R2S header field at its bits in the form that carries it, and read
// back from there alone.
TEST(R2sHeaderFields, EachFieldHasItsOwnBits)
{
    struct Row {
        uint32_t r2s_proto::*field;
        uint32_t value;
        unsigned char octet0, octet1;
        bool tx; // the TX form carries it too
    } rows[] = {
        {&r2s_proto::ptt, 4, 0x80, 0, true},        {&r2s_proto::ptt, 1, 0x20, 0, true},
        {&r2s_proto::squ, 1, 0x10, 0, false},       {&r2s_proto::ptt_id, 32, 0x08, 0, true},
        {&r2s_proto::ptt_id, 4, 0x01, 0, true},     {&r2s_proto::ptt_id, 2, 0, 0x80, true},
        {&r2s_proto::ptt_id, 1, 0, 0x40, true},     {&r2s_proto::ptt_mute, 1, 0, 0x20, true},
        {&r2s_proto::ptt_summation, 1, 0, 0x10, true}, {&r2s_proto::sct, 1, 0, 0x08, false},
    };
    int n = 0;
    for (Row const& r : rows) {
        for (bool rx : {true, false}) {
            r2s_proto p;
            r2s_proto_init(&p, rx ? kR2sRx : kR2sTx);
            p.*r.field = r.value;
            Bytes want = rx || r.tx ? Bytes{r.octet0, r.octet1, 0, 0} : Bytes{0, 0, 0, 0};
            Bytes got(4);
            ASSERT_EQ(r2s_proto_pack(&p, got.data(), got.size()), 4);
            EXPECT_EQ(got, want) << "row " << n << (rx ? " RX" : " TX");
            r2s_proto back;
            r2s_proto_init(&back, 0);
            Bytes wire{r.octet0, r.octet1, 0, 0};
            ASSERT_EQ(rx ? r2s_proto_unpack_rx(&back, wire.data(), 4) : r2s_proto_unpack_tx(&back, wire.data(), 4), 0);
            EXPECT_EQ(back.*r.field, rx || r.tx ? r.value : 0u) << "row " << n;
            uint32_t others = back.ptt + back.squ + back.ptt_id + back.ptt_mute + back.ptt_summation + back.sct;
            EXPECT_EQ(others, rx || r.tx ? r.value : 0u) << "row " << n;
        }
        ++n;
    }
    // The setters take the fields in the header's order.
    r2s_proto rx;
    r2s_proto_init(&rx, 0);
    r2s_proto_set_rx_header(&rx, 1, 2, 3, 4, 5, 6);
    EXPECT_EQ(rx.type, kR2sRx);
    EXPECT_EQ(std::vector<uint32_t>({rx.ptt, rx.squ, rx.ptt_id, rx.ptt_mute, rx.ptt_summation, rx.sct}),
              std::vector<uint32_t>({1, 2, 3, 4, 5, 6}));
    r2s_proto tx;
    r2s_proto_init(&tx, 0);
    r2s_proto_set_tx_header(&tx, 1, 2, 3, 4);
    EXPECT_EQ(tx.type, kR2sTx);
    EXPECT_EQ(std::vector<uint32_t>({tx.ptt, tx.ptt_id, tx.ptt_mute, tx.ptt_summation, tx.squ, tx.sct}),
              std::vector<uint32_t>({1, 2, 3, 4, 0, 0}));
    r2s_proto_reset_additionals(&rx);
    r2s_proto_add_rx_sqi(&rx, 21, 5);
    ASSERT_EQ(rx.additional_count, 1u);
    EXPECT_EQ(rx.additionals[0].kind, kR2sFeatureSqi);
    EXPECT_EQ(rx.additionals[0].sqi.quality_index, 21u);
    EXPECT_EQ(rx.additionals[0].sqi.method, 5u);
    r2s_proto_set_type(&rx, 7);
    EXPECT_EQ(rx.type, 7u);

    // Nothing past the length given is read, whatever follows it.
    for (bool isRx : {true, false}) {
        const Bytes held{0x20, 0x01, 0x31, 0x0F, 0x31, 0xF0};
        r2s_proto got;
        r2s_proto_init(&got, 0);
        ASSERT_EQ(isRx ? r2s_proto_unpack_rx(&got, held.data(), 4) : r2s_proto_unpack_tx(&got, held.data(), 4), 0);
        ASSERT_EQ(got.additional_count, 1u);
        EXPECT_EQ(isRx ? got.additionals[0].rx_rrc.rrc_bit0 : got.additionals[0].tx_rrc.rrc_bit0, 1u);
    }

    // Each bit of an RRC octet into its own flag, in both forms.
    for (int bit = 0; bit < 8; ++bit) {
        const unsigned char v = static_cast<unsigned char>(1 << bit);
        for (unsigned char feature : {0x31, 0x34}) {
            for (bool isRx : {true, false}) {
                if (feature == 0x34 && !isRx)
                    continue;
                Bytes wire{0x20, 0x01, feature, v, 0, 0, 0};
                wire.resize(feature == 0x34 ? 7 : 4);
                r2s_proto got;
                r2s_proto_init(&got, 0);
                ASSERT_EQ(isRx ? r2s_proto_unpack_rx(&got, wire.data(), wire.size())
                               : r2s_proto_unpack_tx(&got, wire.data(), wire.size()),
                          0);
                ASSERT_EQ(got.additional_count, 1u);
                const uint32_t* flags = &got.additionals[0].word[0]; // rrc_bit7 first, in both forms
                for (int b = 0; b < 8; ++b)
                    EXPECT_EQ(flags[7 - b], b == bit ? 1u : 0u) << "bit " << bit << " read as " << b;
            }
        }
    }

    // The result codes by their numbers.
    r2s_proto none;
    r2s_proto_init(&none, 0);
    Bytes out(8);
    EXPECT_EQ(r2s_proto_pack(&none, out.data(), out.size()), -8);
    EXPECT_EQ(r2s_proto_pack(nullptr, out.data(), out.size()), -7);
    r2s_proto_init(&none, kR2sTx);
    EXPECT_EQ(r2s_proto_pack(&none, out.data(), 3), -9);
    EXPECT_EQ(r2s_proto_unpack_tx(&none, out.data(), 1), -9);
    EXPECT_EQ(r2s_proto_unpack_rx(&none, nullptr, 4), -7);

    // The form and source compare in their order, b minus a.
    r2s_proto a, b;
    r2s_proto_init(&a, kR2sTx);
    r2s_proto_init(&b, kR2sTx);
    b.source_addr = 9;
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 9);
    b.source_ssrc = 4;
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 4);
    b.type = kR2sRx;
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 1);
    EXPECT_EQ(cmp_r2s_proto_source(&a, nullptr), -1);
}

// An SDES item goes in only when its length, its type and length octets,
// rounded up to whole words, remain; a BYE reason is at most 255 octets.
TEST(RtcpFields, ItemRoomAndReasonLength)
{
    RTPC::SDES sdes(0x01020304);
    sdes.add(RTPC::SDES::Item::CNAME, "a");
    sdes.add(RTPC::SDES::Item::EMAIL, "bc");
    auto encode = [](RTPC::Msg const& m, unsigned size) {
        std::vector<char> buf(size);
        return Bytes(buf.begin(), buf.begin() + m.encode(buf.data(), size));
    };
    // A chunk without items needs its SSRC and one word for the end.
    RTPC::SDES bare(5);
    EXPECT_EQ(encode(bare, 12), (Bytes{0x81, 202, 0, 2, 0, 0, 0, 5, 0, 0, 0, 0}));
    EXPECT_TRUE(encode(bare, 11).empty());
    // After the first item 7 octets are used: the second needs 8 more.
    EXPECT_EQ(encode(sdes, 18), (Bytes{0x81, 202, 0, 2, 1, 2, 3, 4, 1, 1, 'a', 0}));
    EXPECT_EQ(encode(sdes, 19), (Bytes{0x81, 202, 0, 3, 1, 2, 3, 4, 1, 1, 'a', 3, 2, 'b', 'c', 0}));

    // The length in words takes both its octets: 1028 octets are 256 words
    // after the first.
    RTPC::SDES big(1);
    for (unsigned l : {255u, 255u, 255u, 246u})
        big.add(RTPC::SDES::Item::CNAME, std::string(l, 'n'));
    Bytes whole = encode(big, 2048);
    ASSERT_EQ(whole.size(), 1028u);
    EXPECT_EQ(whole[2], 1);
    EXPECT_EQ(whole[3], 0);

    // A body needs room for its SSRC at least; none is written without.
    std::vector<char> body(8, '\x55');
    EXPECT_EQ(RTPC::BYE(9, "x").encode_body(body.data(), 3), 0u);
    EXPECT_EQ(RTPC::SDES(9).encode_body(body.data(), 3), 0u);
    EXPECT_EQ(std::count(body.begin(), body.end(), '\x55'), 8);
    EXPECT_EQ(RTPC::BYE(9, "x").encode_body(body.data(), 4), 4u);

    EXPECT_EQ(encode(RTPC::BYE(9, "ab"), 64), (Bytes{0x81, 203, 0, 2, 0, 0, 0, 9, 2, 'a', 'b', 0}));
    Bytes bye = encode(RTPC::BYE(9, std::string(300, 'r')), 1024);
    ASSERT_EQ(bye.size(), 8u + 256);
    EXPECT_EQ(bye[3], 65);
    EXPECT_EQ(bye[8], 255);
    EXPECT_EQ(bye.back(), 'r');
}

} // namespace
