#include "rtp/r2s_codec.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

// The longest feature: the MAM type/length octet and its 12 value octets.
constexpr size_t kLongestFeature = 13;

unsigned char Octet(uint32_t v)
{
    return static_cast<unsigned char>(v & 0xFF);
}

unsigned char Bit(uint32_t v, int at)
{
    return static_cast<unsigned char>((v & 1) << at);
}

template <class Rrc>
unsigned char RrcFlags(const Rrc& r)
{
    return Bit(r.rrc_bit7, 7) | Bit(r.rrc_bit6, 6) | Bit(r.rrc_bit5, 5) | Bit(r.rrc_bit4, 4) | Bit(r.rrc_bit3, 3)
        | Bit(r.rrc_bit2, 2) | Bit(r.rrc_bit1, 1) | Bit(r.rrc_bit0, 0);
}

template <class Rrc>
void SetRrcFlags(Rrc& r, unsigned char v)
{
    r.rrc_bit7 = v >> 7 & 1;
    r.rrc_bit6 = v >> 6 & 1;
    r.rrc_bit5 = v >> 5 & 1;
    r.rrc_bit4 = v >> 4 & 1;
    r.rrc_bit3 = v >> 3 & 1;
    r.rrc_bit2 = v >> 2 & 1;
    r.rrc_bit1 = v >> 1 & 1;
    r.rrc_bit0 = v & 1;
}

// A flag bit over a 23-bit value, as the CLIMAX delay measurement carries
// its time quality and times (ED-137B CLIMAX delay compensation).
void PutFlagged(unsigned char* p, uint32_t flag, uint32_t value)
{
    p[0] = Bit(flag, 7) | Octet(value >> 16 & 0x7F);
    p[1] = Octet(value >> 8);
    p[2] = Octet(value);
}

void GetFlagged(const unsigned char* p, uint32_t& flag, uint32_t& value)
{
    flag = p[0] >> 7;
    value = uint32_t(p[0] & 0x7F) << 16 | uint32_t(p[1]) << 8 | p[2];
}

void Put16(unsigned char* p, uint32_t v)
{
    p[0] = Octet(v >> 8);
    p[1] = Octet(v);
}

uint32_t Get16(const unsigned char* p)
{
    return uint32_t(p[0]) << 8 | p[1];
}

// One feature of the form into `out`: its octet count, 0 when the form does
// not carry its kind, or kR2sBadForm.
int32_t PackFeature(const r2s_proto_additional& a, bool rx, unsigned char* out)
{
    if (rx) {
        switch (a.kind) {
        case kR2sFeatureSqi:
            out[0] = 0x11;
            out[1] = Octet((a.sqi.quality_index & 0x1F) << 3 | (a.sqi.method & 7));
            return 2;
        case kR2sFeatureRrc:
            if (a.rx_rrc.rrc_form > 1)
                return kR2sBadForm;
            out[1] = RrcFlags(a.rx_rrc);
            if (a.rx_rrc.rrc_form == 0) {
                out[0] = 0x31;
                return 2;
            }
            out[0] = 0x34;
            out[2] = Bit(a.rx_rrc.rrc_ext_bit7, 7) | Bit(a.rx_rrc.rrc_ext_bit6, 6);
            out[3] = Octet(a.rx_rrc.rrc_ext_octet1);
            out[4] = Octet(a.rx_rrc.rrc_ext_octet2);
            return 5;
        case kR2sFeatureClimaxDdc:
            out[0] = 0x4C;
            PutFlagged(out + 1, a.mam.mam_flag1, a.mam.mam_value1);
            PutFlagged(out + 4, a.mam.mam_flag2, a.mam.mam_value2);
            Put16(out + 7, a.mam.mam_word1);
            Put16(out + 9, a.mam.mam_word2);
            Put16(out + 11, a.mam.mam_word3);
            return 13;
        }
        return 0;
    }
    switch (a.kind) {
    case kR2sFeatureClimaxDelay:
        out[0] = 0x21;
        out[1] = Octet(a.delay.delay);
        return 2;
    case kR2sFeatureRrc:
        out[0] = 0x31;
        out[1] = RrcFlags(a.tx_rrc);
        return 2;
    case kR2sFeatureClimaxDdc:
        out[0] = 0x43;
        PutFlagged(out + 1, a.rrm.rrm_flag, a.rrm.rrm_value);
        return 4;
    }
    return 0;
}

// A recognised feature octet with its value into `a`; false for any other,
// padding included, which the caller passes over.
bool UnpackFeature(unsigned char type, const unsigned char* v, bool rx, r2s_proto_additional& a)
{
    r2s_proto_additional f;
    std::memset(&f, 0, sizeof f);
    f.kind = type >> 4;
    switch (rx ? type : 0x100 | type) {
    case 0x11:
        f.sqi.quality_index = v[0] >> 3;
        f.sqi.method = v[0] & 7;
        break;
    case 0x31:
        SetRrcFlags(f.rx_rrc, v[0]);
        break;
    case 0x34:
        SetRrcFlags(f.rx_rrc, v[0]);
        f.rx_rrc.rrc_form = 1;
        f.rx_rrc.rrc_ext_bit7 = v[1] >> 7;
        f.rx_rrc.rrc_ext_bit6 = v[1] >> 6 & 1;
        f.rx_rrc.rrc_ext_octet1 = v[2];
        f.rx_rrc.rrc_ext_octet2 = v[3];
        break;
    case 0x4C:
        GetFlagged(v, f.mam.mam_flag1, f.mam.mam_value1);
        GetFlagged(v + 3, f.mam.mam_flag2, f.mam.mam_value2);
        f.mam.mam_word1 = Get16(v + 6);
        f.mam.mam_word2 = Get16(v + 8);
        f.mam.mam_word3 = Get16(v + 10);
        break;
    case 0x121:
        f.delay.delay = v[0];
        break;
    case 0x131:
        SetRrcFlags(f.tx_rrc, v[0]);
        break;
    case 0x143:
        GetFlagged(v, f.rrm.rrm_flag, f.rrm.rrm_value);
        break;
    default:
        return false;
    }
    a = f;
    return true;
}

int32_t Pack(const r2s_proto* record, unsigned char* buffer, size_t length, bool rx)
{
    if (!record || !buffer)
        return 0;
    if (length < 2)
        return kR2sShort;
    std::memset(buffer, 0, length);
    size_t at = 2;
    uint32_t count = std::min(record->additional_count, kR2sMaxAdditionals);
    for (uint32_t i = 0; i < count; ++i) {
        unsigned char feature[kLongestFeature];
        int32_t n = PackFeature(record->additionals[i], rx, feature);
        if (n < 0)
            return n;
        if (at + size_t(n) > length)
            return kR2sShort;
        std::memcpy(buffer + at, feature, size_t(n));
        at += size_t(n);
    }
    // X only when a feature follows: features of the other form write
    // nothing, and a receiver must not look for them.
    bool x = at > 2;
    if (!x) {
        if (length < 4)
            return kR2sShort;
        buffer[2] = buffer[3] = 0;
        at = 4;
    }
    buffer[0] = Octet((record->ptt & 7) << 5 | (rx ? (record->squ & 1) << 4 : 0) | (record->ptt_id >> 2 & 0xF));
    buffer[1] = Octet((record->ptt_id & 3) << 6 | (record->ptt_mute & 1) << 5 | (record->ptt_summation & 1) << 4
                      | (rx ? (record->sct & 1) << 3 : 0) | (x ? 1 : 0));
    return static_cast<int32_t>(at);
}

int32_t Unpack(r2s_proto* record, const unsigned char* buffer, size_t length, bool rx)
{
    if (!record || !buffer)
        return kR2sMissing;
    if (length < 2)
        return kR2sShort;
    record->type = rx ? kR2sRx : kR2sTx;
    record->ptt = buffer[0] >> 5;
    record->squ = rx ? buffer[0] >> 4 & 1 : 0;
    record->ptt_id = uint32_t(buffer[0] & 0xF) << 2 | buffer[1] >> 6;
    record->ptt_mute = buffer[1] >> 5 & 1;
    record->ptt_summation = buffer[1] >> 4 & 1;
    record->sct = rx ? buffer[1] >> 3 & 1 : 0;
    int32_t result = 0;
    uint32_t n = 0;
    if (buffer[1] & 1) {
        for (size_t at = 2; at < length && n < kR2sMaxAdditionals;) {
            unsigned char type = buffer[at];
            size_t value = type & 0xF;
            if (value > length - at - 1) {
                result = kR2sShort;
                break;
            }
            if (UnpackFeature(type, buffer + at + 1, rx, record->additionals[n]))
                ++n;
            at += 1 + value;
        }
    }
    record->additional_count = n;
    return result;
}

// Appends a copy of the feature as `member` of the next entry.
template <class Feature>
int32_t Add(r2s_proto* record, const Feature* feature, uint32_t kind, Feature r2s_proto_additional::*member)
{
    if (!record || !feature || record->additional_count >= kR2sMaxAdditionals)
        return 0;
    r2s_proto_additional* a = &record->additionals[record->additional_count++];
    std::memset(a, 0, sizeof *a);
    a->kind = kind;
    a->*member = *feature;
    return 0;
}

} // namespace

int32_t r2s_proto_init(r2s_proto* record, uint32_t type)
{
    if (record) {
        std::memset(record, 0, sizeof *record);
        record->type = type;
    }
    return 0;
}

int32_t r2s_proto_set_type(r2s_proto* record, uint32_t type)
{
    if (record)
        record->type = type;
    return 0;
}

int32_t r2s_proto_set_tx_header(r2s_proto* record, uint32_t ptt, uint32_t ptt_id, uint32_t ptt_mute,
                                uint32_t ptt_summation)
{
    if (record) {
        record->type = kR2sTx;
        record->ptt = ptt;
        record->ptt_id = ptt_id;
        record->ptt_mute = ptt_mute;
        record->ptt_summation = ptt_summation;
    }
    return 0;
}

int32_t r2s_proto_set_rx_header(r2s_proto* record, uint32_t ptt, uint32_t squ, uint32_t ptt_id, uint32_t ptt_mute,
                                uint32_t ptt_summation, uint32_t sct)
{
    if (record) {
        record->type = kR2sRx;
        record->ptt = ptt;
        record->squ = squ;
        record->ptt_id = ptt_id;
        record->ptt_mute = ptt_mute;
        record->ptt_summation = ptt_summation;
        record->sct = sct;
    }
    return 0;
}

int32_t r2s_proto_reset_additionals(r2s_proto* record)
{
    if (record)
        record->additional_count = 0;
    return 0;
}

int32_t r2s_proto_add_rx_sqi(r2s_proto* record, const r2s_proto_rx_additional_sqi* sqi)
{
    return Add(record, sqi, kR2sFeatureSqi, &r2s_proto_additional::sqi);
}

int32_t r2s_proto_add_rx_sqi(r2s_proto* record, uint32_t quality_index, uint32_t method)
{
    r2s_proto_rx_additional_sqi sqi{quality_index, method};
    return r2s_proto_add_rx_sqi(record, &sqi);
}

int32_t r2s_proto_add_rx_rrc(r2s_proto* record, const r2s_proto_rx_additional_rrc* rrc)
{
    return Add(record, rrc, kR2sFeatureRrc, &r2s_proto_additional::rx_rrc);
}

int32_t r2s_proto_add_rx_mam(r2s_proto* record, const r2s_proto_rx_additional_mam* mam)
{
    return Add(record, mam, kR2sFeatureClimaxDdc, &r2s_proto_additional::mam);
}

int32_t r2s_proto_add_tx_time_delay(r2s_proto* record, const r2s_proto_tx_additional_climax_time_delay* delay)
{
    return Add(record, delay, kR2sFeatureClimaxDelay, &r2s_proto_additional::delay);
}

int32_t r2s_proto_add_tx_rrc(r2s_proto* record, const r2s_proto_tx_additional_rrc* rrc)
{
    return Add(record, rrc, kR2sFeatureRrc, &r2s_proto_additional::tx_rrc);
}

int32_t r2s_proto_add_tx_rrm(r2s_proto* record, const r2s_proto_tx_additional_rrm* rrm)
{
    return Add(record, rrm, kR2sFeatureClimaxDdc, &r2s_proto_additional::rrm);
}

int32_t r2s_proto_pack(const r2s_proto* record, unsigned char* buffer, size_t length)
{
    if (!record)
        return kR2sMissing;
    if (record->type == kR2sTx)
        return r2s_proto_pack_tx(record, buffer, length);
    if (record->type == kR2sRx)
        return r2s_proto_pack_rx(record, buffer, length);
    return kR2sBadForm;
}

int32_t r2s_proto_pack_rx(const r2s_proto* record, unsigned char* buffer, size_t length)
{
    return Pack(record, buffer, length, true);
}

int32_t r2s_proto_pack_tx(const r2s_proto* record, unsigned char* buffer, size_t length)
{
    return Pack(record, buffer, length, false);
}

int32_t r2s_proto_unpack_tx(r2s_proto* record, const unsigned char* buffer, size_t length)
{
    return Unpack(record, buffer, length, false);
}

int32_t r2s_proto_unpack_rx(r2s_proto* record, const unsigned char* buffer, size_t length)
{
    return Unpack(record, buffer, length, true);
}

int32_t cmp_r2s_proto_source(const r2s_proto* a, const r2s_proto* b)
{
    if (!a || !b)
        return -1;
    // Only zero or not matters to callers; the difference wraps like the
    // fields.
    for (auto field : {&r2s_proto::type, &r2s_proto::source_ssrc, &r2s_proto::source_addr})
        if (a->*field != b->*field)
            return static_cast<int32_t>(b->*field - a->*field);
    return 0;
}
