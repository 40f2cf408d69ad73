#include "rtp/lemz_codec.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

sig_proto Fresh(uint32_t kind)
{
    sig_proto r;
    sig_proto_init(&r);
    r.type = kind;
    return r;
}

Bytes Pack(sig_proto const& r, size_t capacity = 1024)
{
    Bytes b(capacity);
    int32_t n = sig_proto_pack(&r, b.data(), b.size());
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b;
}

in_addr Address(const char* dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a;
}

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
    sig_proto_set_wm_transmite(&r, Address("192.168.1.20"), 0x01020304);
    EXPECT_EQ(Pack(r), (Bytes{130, 0, 0, 0, 20, 1, 168, 192, 1, 2, 3, 4}));
    back = Fresh(0);
    ASSERT_EQ(sig_proto_unpack(&back, Pack(r).data(), 12), 0);
    EXPECT_EQ(back.payload.wm_trans.session_addr.s_addr, Address("192.168.1.20").s_addr);
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

    Bytes chan{132, 0, 0, 0, 0, 0, 0, 7, 0x43, 0x11, 0x80, 0x00, 2, 5, 0, 0, 0xEE};
    EXPECT_EQ(sig_proto_unpack(&seen, chan.data(), 8), kSigProtoShort);
    ASSERT_EQ(sig_proto_unpack(&seen, chan.data(), chan.size()), 0);
    EXPECT_EQ(seen.payload.wm_chan.id, 7u);
    EXPECT_FLOAT_EQ(seen.payload.wm_chan.freq, 145.5f);
    EXPECT_EQ(seen.payload.wm_chan.squelsh, 2);
    EXPECT_EQ(seen.payload.wm_chan.rte, 5);

    EXPECT_EQ(sig_proto_unpack(nullptr, chan.data(), 16), kSigProtoMissing);
    EXPECT_EQ(sig_proto_pack(nullptr, chan.data(), 16), 0);
    EXPECT_EQ(sig_proto_pack(&r, chan.data(), 3), kSigProtoShort);
}

// Every kind with a payload: packed, unpacked alike, and refused at every
// shorter length without reading past it (the buffer is exactly as long).
TEST(LemzCodec, EveryKindRoundTripsAndEveryTruncationIsRefused)
{
    std::vector<sig_proto> kinds;
    for (uint32_t k : {1, 3, 4, 5, 6, 7, 8, 129})
        kinds.push_back(Fresh(k));
    sig_proto r = Fresh(GW_ADJUST_CHAN);
    sig_proto_set_gw_adjust_chan(&r, 0xA1B2C3D4, -3.25f);
    kinds.push_back(r);
    r = Fresh(GW_SEL_CALL);
    sig_proto_set_gw_selcall(&r, std::string(255, 'x').c_str(), 255);
    kinds.push_back(r);
    r = Fresh(GW_SELECT_RC_CHAN);
    sig_proto_set_gw_select_rc_chan(&r, 3, 250);
    kinds.push_back(r);
    r = Fresh(GW_ADJUST_SQUELSHE);
    sig_proto_set_gw_adjust_squelsh(&r, 2);
    kinds.push_back(r);
    r = Fresh(GW_ADJUST_RTE);
    sig_proto_set_gw_adjust_rte(&r, 7);
    kinds.push_back(r);
    r = Fresh(GW_ADJUST_STANDBY);
    sig_proto_set_gw_adjust_standby(&r, 1);
    kinds.push_back(r);
    r = Fresh(WM_TRANS);
    sig_proto_set_wm_transmite(&r, Address("10.1.2.3"), 99);
    kinds.push_back(r);
    r = Fresh(WM_RADIO_QUALITY);
    sig_proto_set_wm_radio_quality(&r, 0.75f);
    kinds.push_back(r);
    r = Fresh(WM_CHAN);
    sig_proto_set_wm_chan(&r, 12, 118.125f, 255, 255);
    kinds.push_back(r);
    r = Fresh(WM_SEL_CALL_TRANS);
    sig_proto_set_wm_selcall_transmite(&r, Address("10.9.8.7"), 0xFFFFFFFF, "A-17", 4);
    kinds.push_back(r);
    r = Fresh(WM_SELECT_RC_CHAN);
    sig_proto_set_wm_select_rc_chan(&r, 1, 2);
    kinds.push_back(r);
    r = Fresh(WM_STANDBY);
    sig_proto_set_wm_standby(&r, 1, 200, 0);
    kinds.push_back(r);

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
    sig_proto r = Fresh(GW_SEL_CALL);
    sig_proto_set_gw_selcall(&r, nullptr, 9);
    EXPECT_EQ(r.payload.gw_sel_call.callerID_length, 0);

    // The printer stays in its buffer and prints nothing of an unknown kind.
    r = Fresh(WM_TRANS);
    char text[1024];
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
}

} // namespace
