// The radio packet codecs: LEMZ packets and the R2S header extensions,
// their example vectors, every kind and feature round trip and truncation,
// and every R2S form we send judged by tshark's ED-137 dissector inside an
// RTP packet.
#include "rtp/lemz_codec.h"
#include "rtp/r2s_codec.h"
#include "tests/rtp/lemz_packets.h"
#include "tests/rtp/tshark.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

using rtptest::Fresh;
using rtptest::Pack;

TEST(LemzCodec, HeaderBitsAndTheExampleVectors)
{
    sig_proto r = Fresh(WM_FLAG);
    sig_proto_set_base(&r, 15, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 511);
    EXPECT_EQ(Pack(r), (Bytes{0x81, 0xFF, 0xFF, 0xFF}));
    r.flag_c = 1;
    EXPECT_EQ(Pack(r), (Bytes{0x81, 0xFF, 0xFF, 0xFB}));
    r = Fresh(WM_FLAG);
    r.status = 32;
    EXPECT_EQ(Pack(r), (Bytes{0x81, 0x00, 0x01, 0x00}));
    // Every field from its own bit: one flag at a time comes back alone.
    sig_proto one = Fresh(GW_FLAG);
    sig_proto_set_base(&one, 9, 0, 1, 0, 0, 1, 0, 0, 1, 0, 2, 0x155);
    sig_proto back = Fresh(0);
    ASSERT_EQ(sig_proto_unpack(&back, Pack(one).data(), 4), 0);
    EXPECT_EQ(cmp_sig_proto(&one, &back), 0);
    EXPECT_EQ(back.priority, 9u);
    EXPECT_EQ(back.status, 0x155u);
    EXPECT_EQ(back.flag_c, 2u);
    EXPECT_EQ(back.flag_pw, 1u);
    EXPECT_EQ(back.flag_t + back.flag_r + back.flag_s + back.flag_rv + back.flag_sh + back.flag_rs, 0u);

    // An unknown kind: its header only; unpacking sets just the kind.
    r = Fresh(200);
    EXPECT_EQ(Pack(r).size(), 4u);
    sig_proto seen = Fresh(GW_FLAG);
    seen.priority = 7;
    EXPECT_EQ(sig_proto_unpack(&seen, Pack(r).data(), 4), kSigProtoUnknownKind);
    EXPECT_EQ(seen.type, 200u);
    EXPECT_EQ(seen.priority, 7u);

    r = Fresh(WM_TRANS);
    sig_proto_set_wm_transmite(&r, in_addr{inet_addr("192.168.1.20")}, 0x01020304);
    EXPECT_EQ(Pack(r), (Bytes{130, 0, 0, 0, 20, 1, 168, 192, 1, 2, 3, 4}));
    back = Fresh(0);
    ASSERT_EQ(sig_proto_unpack(&back, Pack(r).data(), 12), 0);
    EXPECT_EQ(back.payload.wm_trans.session_addr.s_addr, in_addr{inet_addr("192.168.1.20")}.s_addr);
    EXPECT_EQ(back.payload.wm_trans.ssrc, 0x01020304u);

    r = Fresh(GW_SEL_CALL);
    sig_proto_set_gw_selcall(&r, "123", 3);
    EXPECT_EQ(Pack(r), (Bytes{9, 0, 0, 0, 3, '1', '2', '3'}));
    EXPECT_EQ(sig_proto_pack(&r, Bytes(14).data(), 14), kSigProtoShort);
    EXPECT_EQ(Pack(r, 15).size(), 8u);
    sig_proto_set_gw_selcall(&r, "1234", 4);
    EXPECT_EQ(Pack(r).size(), 12u);
    EXPECT_EQ(sig_proto_pack(&r, Bytes(15).data(), 15), kSigProtoShort);
    EXPECT_EQ(Pack(r, 16).size(), 12u);

    // A caller ID shorter than its length byte: refused, record untouched.
    Bytes cut{9, 0, 0, 0, 10, 'a', 'b', 'c', 'd', 'e', 'f'};
    seen = Fresh(GW_FLAG);
    sig_proto before = seen;
    EXPECT_EQ(sig_proto_unpack(&seen, cut.data(), cut.size()), kSigProtoShort);
    EXPECT_EQ(std::memcmp(&seen, &before, sizeof seen), 0);

    // A caller ID of no characters: the 13 bytes before it are enough.
    Bytes bare{133, 0, 0, 0, 7, 8, 9, 10, 0, 0, 0, 1, 0};
    EXPECT_EQ(sig_proto_unpack(&seen, bare.data(), bare.size()), 0);
    Bytes chan{132, 0, 0, 0, 0, 0, 0, 7, 0x43, 0x11, 0x80, 0x00, 2, 5, 0, 0, 0xEE};
    EXPECT_EQ(sig_proto_unpack(&seen, chan.data(), 8), kSigProtoShort);
    ASSERT_EQ(sig_proto_unpack(&seen, chan.data(), chan.size()), 0);
    EXPECT_EQ(seen.payload.wm_chan.id, 7u);
    EXPECT_FLOAT_EQ(seen.payload.wm_chan.freq, 145.5f);
    EXPECT_EQ(seen.payload.wm_chan.squelsh, 2);
    EXPECT_EQ(seen.payload.wm_chan.rte, 5);

    EXPECT_EQ(sig_proto_unpack(nullptr, chan.data(), 16), kSigProtoMissing);
    EXPECT_EQ(sig_proto_pack(nullptr, chan.data(), 16), 0);
    r = Fresh(GW_FLAG); // a header alone still needs its four bytes
    EXPECT_EQ(sig_proto_pack(&r, chan.data(), 3), kSigProtoShort);
}

// Every kind with a payload: packed, unpacked alike, and refused at every
// shorter length without reading past it (the buffer is exactly as long).
TEST(LemzCodec, EveryKindRoundTripsAndEveryTruncationIsRefused)
{
    std::vector<sig_proto> kinds;
    for (uint32_t k : {1, 3, 4, 5, 6, 7, 8, 129})
        kinds.push_back(Fresh(k));
    auto with = [&kinds](uint32_t kind, auto set) {
        kinds.push_back(Fresh(kind));
        set(&kinds.back());
    };
    const std::string callerID(255, 'x');
    with(GW_ADJUST_CHAN, [](sig_proto* r) { sig_proto_set_gw_adjust_chan(r, 0xA1B2C3D4, -3.25f); });
    with(GW_SEL_CALL, [&](sig_proto* r) { sig_proto_set_gw_selcall(r, callerID.c_str(), 255); });
    with(GW_SELECT_RC_CHAN, [](sig_proto* r) { sig_proto_set_gw_select_rc_chan(r, 3, 250); });
    with(GW_ADJUST_SQUELSHE, [](sig_proto* r) { sig_proto_set_gw_adjust_squelsh(r, 2); });
    with(GW_ADJUST_RTE, [](sig_proto* r) { sig_proto_set_gw_adjust_rte(r, 7); });
    with(GW_ADJUST_STANDBY, [](sig_proto* r) { sig_proto_set_gw_adjust_standby(r, 1); });
    with(WM_TRANS, [](sig_proto* r) { sig_proto_set_wm_transmite(r, in_addr{inet_addr("10.1.2.3")}, 99); });
    with(WM_RADIO_QUALITY, [](sig_proto* r) { sig_proto_set_wm_radio_quality(r, 0.75f); });
    with(WM_CHAN, [](sig_proto* r) { sig_proto_set_wm_chan(r, 12, 118.125f, 255, 255); });
    with(WM_SEL_CALL_TRANS, [](sig_proto* r) {
        sig_proto_set_wm_selcall_transmite(r, in_addr{inet_addr("10.9.8.7")}, 0xFFFFFFFF, "A-17", 4);
    });
    with(WM_SELECT_RC_CHAN, [](sig_proto* r) { sig_proto_set_wm_select_rc_chan(r, 1, 2); });
    with(WM_STANDBY, [](sig_proto* r) { sig_proto_set_wm_standby(r, 1, 200, 0); });

    for (sig_proto& k : kinds) {
        sig_proto_set_base(&k, 4, 1, 0, 1, 0, 1, 0, 1, 0, 1, 3, 300);
        Bytes wire = Pack(k);
        ASSERT_GE(wire.size(), 4u);
        EXPECT_EQ(wire.size() % 4, 0u) << k.type;
        sig_proto back = Fresh(0);
        ASSERT_EQ(sig_proto_unpack(&back, wire.data(), wire.size()), 0) << k.type;
        EXPECT_EQ(cmp_sig_proto(&k, &back), 0) << k.type;
        EXPECT_EQ(Pack(back), wire) << k.type;
        for (size_t n = 0; n < wire.size(); ++n) {
            std::unique_ptr<unsigned char[]> exact(new unsigned char[n]);
            std::memcpy(exact.get(), wire.data(), n);
            sig_proto t = Fresh(0);
            int32_t got = sig_proto_unpack(&t, exact.get(), n);
            // Padding after the payload may be missing.
            EXPECT_TRUE(got == kSigProtoShort || (got == 0 && n >= 4)) << k.type << " at " << n;
        }
    }
}

TEST(LemzCodec, SettersPrinterAndComparison)
{
    // -1 leaves a header field as it was.
    sig_proto r = Fresh(GW_FLAG_PTT);
    sig_proto_set_base(&r, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 17);
    sig_proto before = r;
    sig_proto_set_base(&r, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    EXPECT_EQ(sig_proto_is_ptt_command(&r), 1);
    r.type = GW_FLAG_BSS;
    EXPECT_EQ(sig_proto_is_ptt_command(&r), 0);

    r = Fresh(GW_SEL_CALL);
    sig_proto_set_gw_selcall(&r, nullptr, 9);
    EXPECT_EQ(r.payload.gw_sel_call.callerID_length, 0);

    // Each flag printed from its own field, in the order t p r s b rv sh rs
    // pw c; the kind by name in mode 2.
    r = Fresh(WM_TRANS);
    sig_proto_set_base(&r, 3, 1, 0, 1, 0, 1, 0, 1, 0, 1, 2, 17);
    sig_proto_set_wm_transmite(&r, in_addr{inet_addr("10.1.2.3")}, 0xAB);
    char text[1024];
    int32_t n = sprintf_sig_proto(text, sizeof text, &r, 2);
    EXPECT_EQ(std::string(text, static_cast<size_t>(n)),
              "type      : WM_TRANS,\nflag_t   : 1,\nflag_p   : 0,\nflag_r   : 1,\nflag_s   : 0,\nflag_b   : 1,\n"
              "flag_rv  : 0,\nflag_sh  : 1,\nflag_rs  : 1,\nflag_pw  : 0,\nflag_c   : 2,\npriority : 3,\n"
              "status   : 17,\nwm_trans.session_addr : 10.1.2.3,\nwm_trans.ssrc         : 0x000000AB,\n");

    // The printer stays in its buffer and prints nothing of an unknown kind.
    r = Fresh(WM_TRANS);
    EXPECT_EQ(sprintf_sig_proto(text, 20, &r, 1), 19);
    EXPECT_STREQ(text, "type      : 0x00000");
    r.type = 14;
    EXPECT_EQ(sprintf_sig_proto(text, sizeof text, &r, 1), 0);
    EXPECT_STREQ(text, "");

    sig_proto a = Fresh(GW_FLAG), b = Fresh(GW_FLAG);
    b.source_ssrc = 5;
    EXPECT_EQ(cmp_sig_proto_header(&a, &b), 5);
    b.type = GW_FLAG_PTT;
    EXPECT_EQ(cmp_sig_proto_header(&a, &b), 2);
    EXPECT_EQ(cmp_sig_proto_flags(&a, &b), 0);
    b.flag_rv = 1;
    EXPECT_NE(cmp_sig_proto_flags(&a, &b), 0);
}

r2s_proto R2s(uint32_t type)
{
    r2s_proto r;
    r2s_proto_init(&r, type);
    return r;
}

Bytes Pack(r2s_proto const& r, size_t capacity = 1024)
{
    Bytes b(capacity);
    int32_t n = r2s_proto_pack(&r, b.data(), b.size());
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b;
}

// Decoded from an exact heap copy, so a read past the end trips ASan.
int32_t Unpack(r2s_proto& r, Bytes const& wire, bool rx)
{
    std::unique_ptr<unsigned char[]> exact(new unsigned char[wire.size() + !wire.size()]);
    if (!wire.empty())
        std::memcpy(exact.get(), wire.data(), wire.size());
    return rx ? r2s_proto_unpack_rx(&r, exact.get(), wire.size()) : r2s_proto_unpack_tx(&r, exact.get(), wire.size());
}

r2s_proto EveryRxFeature()
{
    r2s_proto r = R2s(kR2sRx);
    r2s_proto_set_rx_header(&r, 4, 1, 0x2A, 1, 0, 1);
    r2s_proto_add_rx_sqi(&r, 17, 2);
    r2s_proto_rx_additional_rrc one{1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0};
    r2s_proto_add_rx_rrc(&r, &one);
    r2s_proto_rx_additional_rrc four{0, 1, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0x12, 0x34};
    r2s_proto_add_rx_rrc(&r, &four);
    r2s_proto_rx_additional_mam mam{1, 0x010203, 0, 0x7FFFFF, 6, 0xABCD, 0xFFFF};
    r2s_proto_add_rx_mam(&r, &mam);
    return r;
}

r2s_proto EveryTxFeature()
{
    r2s_proto r = R2s(kR2sTx);
    r2s_proto_set_tx_header(&r, 7, 63, 1, 1);
    r2s_proto_tx_additional_climax_time_delay delay{7};
    r2s_proto_add_tx_time_delay(&r, &delay);
    r2s_proto_tx_additional_rrc rrc{1, 0, 1, 0, 0, 1, 0, 1};
    r2s_proto_add_tx_rrc(&r, &rrc);
    r2s_proto_tx_additional_rrm rrm{1, 0x010203};
    r2s_proto_add_tx_rrm(&r, &rrm);
    return r;
}

TEST(R2sCodec, ExampleVectorsAndEncoderLimits)
{
    r2s_proto rx = R2s(kR2sRx);
    r2s_proto_set_rx_header(&rx, 1, 1, 63, 1, 1, 1);
    EXPECT_EQ(Pack(rx, 4), (Bytes{0x3F, 0xF8, 0, 0}));
    Bytes three(3);
    EXPECT_EQ(r2s_proto_pack(&rx, three.data(), 3), kR2sShort);
    r2s_proto_add_rx_sqi(&rx, 31, 3);
    EXPECT_EQ(Pack(rx, 4), (Bytes{0x3F, 0xF9, 0x11, 0xFB}));

    r2s_proto tx = R2s(kR2sTx);
    r2s_proto_set_tx_header(&tx, 1, 5, 0, 0);
    EXPECT_EQ(Pack(tx), (Bytes{0x21, 0x40, 0x00, 0x00}));
    // The RX-only bits stay off the TX form.
    tx.squ = tx.sct = 1;
    EXPECT_EQ(Pack(tx), (Bytes{0x21, 0x40, 0x00, 0x00}));

    r2s_proto none = R2s(0);
    Bytes untouched(8, 0xEE);
    EXPECT_EQ(r2s_proto_pack(&none, untouched.data(), untouched.size()), kR2sBadForm);
    EXPECT_EQ(untouched, Bytes(8, 0xEE));
    r2s_proto bad = R2s(kR2sRx);
    r2s_proto_rx_additional_rrc form2{};
    form2.rrc_form = 2;
    r2s_proto_add_rx_rrc(&bad, &form2);
    EXPECT_EQ(r2s_proto_pack(&bad, untouched.data(), untouched.size()), kR2sBadForm);
    EXPECT_EQ(untouched, Bytes(8, 0));
    EXPECT_EQ(r2s_proto_pack(nullptr, untouched.data(), 8), kR2sMissing);
    EXPECT_EQ(r2s_proto_pack_rx(&rx, nullptr, 8), 0);
    EXPECT_EQ(r2s_proto_pack_rx(&rx, untouched.data(), 1), kR2sShort);

    // A one-octet RRC needs only its own two octets of room.
    r2s_proto rrc = R2s(kR2sRx);
    r2s_proto_rx_additional_rrc one{1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    r2s_proto_add_rx_rrc(&rrc, &one);
    EXPECT_EQ(Pack(rrc, 4), (Bytes{0, 1, 0x31, 0xF0}));
    // Room is checked feature by feature: every shorter buffer is refused.
    r2s_proto all = EveryRxFeature();
    size_t whole = Pack(all).size();
    EXPECT_EQ(whole, 2u + 2 + 2 + 5 + 13);
    for (size_t n = 0; n < whole; ++n)
        EXPECT_EQ(r2s_proto_pack(&all, Bytes(n + 1).data(), n), kR2sShort) << n;

    // Features of the other form write nothing, and X says so.
    r2s_proto mixed = R2s(kR2sRx);
    r2s_proto_tx_additional_climax_time_delay delay{9};
    r2s_proto_add_tx_time_delay(&mixed, &delay);
    EXPECT_EQ(Pack(mixed), (Bytes{0, 0, 0, 0}));

    r2s_proto full = R2s(kR2sTx);
    for (int i = 0; i < 17; ++i)
        r2s_proto_add_tx_time_delay(&full, &delay);
    EXPECT_EQ(full.additional_count, 16u);
}

TEST(R2sCodec, EveryFeatureRoundTripsInItsForm)
{
    for (bool rx : {true, false}) {
        r2s_proto sent = rx ? EveryRxFeature() : EveryTxFeature();
        Bytes wire = Pack(sent);
        r2s_proto got = R2s(0);
        got.source_addr = 0x0100007F;
        ASSERT_EQ(Unpack(got, wire, rx), 0);
        EXPECT_EQ(got.source_addr, 0x0100007Fu) << "left to the receiver";
        got.source_addr = 0;
        EXPECT_EQ(std::memcmp(&got, &sent, sizeof got), 0) << (rx ? "RX" : "TX");
    }
    EXPECT_EQ(Pack(EveryTxFeature()), (Bytes{0xEF, 0xF1, 0x21, 0x07, 0x31, 0xA5, 0x43, 0x81, 0x02, 0x03}));
    // A TX packet read as such drops the RX-only bits.
    r2s_proto tx = R2s(0);
    ASSERT_EQ(Unpack(tx, Bytes{0x3F, 0xF8, 0, 0}, false), 0);
    EXPECT_EQ(tx.type, kR2sTx);
    EXPECT_EQ(tx.squ + tx.sct, 0u);
    EXPECT_EQ(tx.ptt_id, 63u);
}

TEST(R2sCodec, DecoderKeepsWhatPrecedesAFaultAndSkipsWhatItDoesNotKnow)
{
    r2s_proto r = R2s(0);
    // An unknown feature (type 5, two octets), then the CLIMAX delay 7,
    // then padding.
    ASSERT_EQ(Unpack(r, Bytes{0x20, 0x01, 0x52, 0xAA, 0xBB, 0x21, 0x07, 0, 0, 0}, false), 0);
    ASSERT_EQ(r.additional_count, 1u);
    EXPECT_EQ(r.additionals[0].kind, kR2sFeatureClimaxDelay);
    EXPECT_EQ(r.additionals[0].delay.delay, 7u);
    // An RX feature octet in a TX packet is not the TX feature.
    ASSERT_EQ(Unpack(r, Bytes{0x20, 0x01, 0x11, 0xFB, 0x34, 1, 2, 3, 4}, false), 0);
    EXPECT_EQ(r.additional_count, 0u);

    ASSERT_EQ(Unpack(r, Bytes{0x20, 0x01, 0x21, 0x07, 0x43, 0x81, 0x02}, false), kR2sShort);
    ASSERT_EQ(r.additional_count, 1u);
    EXPECT_EQ(r.additionals[0].delay.delay, 7u);
    // X clear: what follows is not looked at.
    ASSERT_EQ(Unpack(r, Bytes{0x20, 0x00, 0x4F}, false), 0);
    EXPECT_EQ(r.additional_count, 0u);

    EXPECT_EQ(Unpack(r, Bytes{0x20}, false), kR2sShort);
    EXPECT_EQ(r2s_proto_unpack_rx(nullptr, Bytes(4).data(), 4), kR2sMissing);
    EXPECT_EQ(r2s_proto_unpack_rx(&r, nullptr, 4), kR2sMissing);

    // Every cut of a packet with every feature: no read past the end, the
    // whole features before the cut kept.
    for (bool rx : {true, false}) {
        Bytes wire = Pack(rx ? EveryRxFeature() : EveryTxFeature());
        std::vector<size_t> ends = rx ? std::vector<size_t>{2, 4, 6, 11} : std::vector<size_t>{2, 4, 6};
        for (size_t n = 0; n < wire.size(); ++n) {
            int32_t result = Unpack(r, Bytes(wire.begin(), wire.begin() + n), rx);
            size_t whole = std::count_if(ends.begin(), ends.end(), [n](size_t e) { return e <= n; });
            bool boundary = std::find(ends.begin(), ends.end(), n) != ends.end();
            EXPECT_EQ(result, boundary ? 0 : kR2sShort) << n;
            if (n >= 2) {
                EXPECT_EQ(r.additional_count, whole - 1) << n;
            }
        }
    }
    // No more than sixteen features are stored.
    Bytes many{0x20, 0x01};
    for (int i = 0; i < 20; ++i)
        many.insert(many.end(), {0x21, static_cast<unsigned char>(i)});
    ASSERT_EQ(Unpack(r, many, false), 0);
    EXPECT_EQ(r.additional_count, 16u);
    EXPECT_EQ(r.additionals[15].delay.delay, 15u);
}

// The extension as the driver puts it in an RTP packet: profile 0x0167, the
// length in words, the R2S octets padded with zeros.
Bytes RtpWith(Bytes const& r2s, uint16_t seq)
{
    Bytes p{0x90, 123, static_cast<unsigned char>(seq >> 8), static_cast<unsigned char>(seq), 0, 0, 0, 0x10,
            0x11, 0x22, 0x33, 0x44, 0x01, 0x67, 0, static_cast<unsigned char>((r2s.size() + 3) / 4)};
    p.insert(p.end(), r2s.begin(), r2s.end());
    p.resize(16 + (r2s.size() + 3) / 4 * 4);
    return p;
}

// The same source is the same kind, SSRC and address; the first that
// differs gives b minus a, in that order.
TEST(R2sCodec, SourceComparison)
{
    r2s_proto a = R2s(kR2sTx), b = R2s(kR2sTx);
    a.source_addr = b.source_addr = 0x0A000001;
    a.source_ssrc = b.source_ssrc = 77;
    r2s_proto_set_tx_header(&b, 3, 9, 1, 1);
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 0) << "headers do not matter";
    b.source_addr = 0x0A000002;
    EXPECT_NE(cmp_r2s_proto_source(&a, &b), 0);
    b = a;
    b.source_ssrc = 78;
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 1);
    b.source_addr = 0x0A000000; // the SSRC decides first
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 1);
    b = a;
    b.type = kR2sRx;
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), static_cast<int32_t>(kR2sRx) - static_cast<int32_t>(kR2sTx));
    EXPECT_EQ(cmp_r2s_proto_source(&a, nullptr), -1);
    EXPECT_EQ(cmp_r2s_proto_source(nullptr, &a), -1);
}

TEST(R2sCodec, WhatWeSendIsWhatTsharkReads)
{
    if (::access("/usr/bin/tshark", X_OK) != 0)
        GTEST_SKIP() << "tshark is not installed";
    r2s_proto plain_rx = R2s(kR2sRx);
    r2s_proto_set_rx_header(&plain_rx, 2, 1, 33, 0, 1, 0);
    r2s_proto plain_tx = R2s(kR2sTx);
    r2s_proto_set_tx_header(&plain_tx, 3, 18, 1, 0);
    struct Case {
        r2s_proto record;
        const char* header; // ptt, squ, ptt-id, mute, summation, sct, X
        const char* features;
    } cases[] = {
        {plain_rx, "2 1 33 0 1 0 0", ""},
        {plain_tx, "3 0 18 1 0 0 0", ""},
        // SQI 17/2; RRC one octet 1010 0101 and four octets; MAM.
        {EveryRxFeature(), "4 1 42 1 0 1 1",
         "0x01,0x03,0x03,0x04 1,1,4,12 5a801234 17 2 1 0 1 0 0 1 0 1 "
         "1 66051 0 8388607 6 43981 65535"},
        // CLIMAX delay 7, RRC 1010 0101, RRM.
        {EveryTxFeature(), "7 0 63 1 1 0 1", "0x02,0x03,0x04 1,1,3 0 7 1 0 1 0 0 1 0 1 1 66051"},
    };
    std::vector<Bytes> packets;
    for (Case const& c : cases)
        packets.push_back(RtpWith(Pack(c.record), static_cast<uint16_t>(packets.size())));
    std::string fields;
    for (const char* f : {"ptt_type", "squ", "ptt_id", "pm", "ptts", "sct", "x", "ft.type", "ft.len", "ft.value",
                          "ft.sqi.qidx", "ft.sqi.qidx-ml", "ft.climax_delay.mode",
                          "ft.climax_delay.relative_value"})
        fields += std::string(" -e rtp.ext.ed137a.") + f;
    for (const char* f : {"rrc.mstxf1", "rrc.msrxf1", "rrc.mstxf2", "rrc.msrxf2", "rrc.seltxf1", "rrc.seltxf2",
                          "rrc.murxf1", "rrc.murxf2", "climax_ddc.rmm_tqv", "climax_ddc.rmm_t1",
                          "climax_ddc.mam_tqg", "climax_ddc.mam_t1", "climax_ddc.mam_nmr", "climax_ddc.mam_t2",
                          "climax_ddc.mam_tsd", "climax_ddc.mam_tj1", "climax_ddc.mam_tid"})
        fields += std::string(" -e rtp.ext.ed137b.ft.") + f;
    fields += " -e _ws.malformed -e _ws.expert";
    std::vector<std::string> lines = rtptest::Dissect(packets, "rtp", fields);
    ASSERT_EQ(lines.size(), packets.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        // Tabs become spaces and empty fields vanish, for readable rows.
        std::string seen;
        for (size_t at = 0, to; at <= lines[i].size(); at = to + 1) {
            to = std::min(lines[i].find('\t', at), lines[i].size());
            if (to > at)
                seen += (seen.empty() ? "" : " ") + lines[i].substr(at, to - at);
        }
        std::string want = cases[i].header;
        if (*cases[i].features)
            want += std::string(" ") + cases[i].features;
        EXPECT_EQ(seen, want) << "packet " << i;
    }
}

} // namespace
