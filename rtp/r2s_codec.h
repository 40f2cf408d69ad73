#pragma once

#include <cstddef>
#include <cstdint>

// EUROCAE ED-137B R2S signalling in the RTP header extension (profile
// 0x0167): the two header octets and the additional features, in host form
// and on the wire. The driver adds the extension's profile and length words.
// Results: a byte count or 0, -7 missing record or buffer, -8 form not
// encodable, -9 buffer or packet too short.

enum : int32_t {
    kR2sMissing = -7,
    kR2sBadForm = -8,
    kR2sShort = -9,
};

// The header forms, by the direction of the radio link.
enum : uint32_t {
    kR2sTx = 1,
    kR2sRx = 2,
};

// Additional feature types (ED-137B, RTP header extension).
enum : uint32_t {
    kR2sFeatureSqi = 1,
    kR2sFeatureClimaxDelay = 2,
    kR2sFeatureRrc = 3,
    kR2sFeatureClimaxDdc = 4, // MAM from the radio, RMM toward it
};

constexpr uint32_t kR2sMaxAdditionals = 16;

struct r2s_proto_rx_additional_sqi {
    uint32_t quality_index; // 5 bits
    uint32_t method;        // 3 bits
};

struct r2s_proto_rx_additional_rrc {
    uint32_t rrc_bit7, rrc_bit6, rrc_bit5, rrc_bit4, rrc_bit3, rrc_bit2, rrc_bit1, rrc_bit0;
    uint32_t rrc_form; // 0 one octet, 1 four octets
    uint32_t rrc_ext_bit7, rrc_ext_bit6;
    uint32_t rrc_ext_octet1, rrc_ext_octet2;
};

struct r2s_proto_rx_additional_mam {
    uint32_t mam_flag1;  // 1 bit
    uint32_t mam_value1; // 23 bits
    uint32_t mam_flag2;
    uint32_t mam_value2;
    uint32_t mam_word1, mam_word2, mam_word3; // 16 bits each
};

struct r2s_proto_tx_additional_climax_time_delay {
    uint32_t delay; // one octet
};

struct r2s_proto_tx_additional_rrc {
    uint32_t rrc_bit7, rrc_bit6, rrc_bit5, rrc_bit4, rrc_bit3, rrc_bit2, rrc_bit1, rrc_bit0;
};

struct r2s_proto_tx_additional_rrm {
    uint32_t rrm_flag;  // 1 bit
    uint32_t rrm_value; // 23 bits
};

// One feature: `kind` says which member holds it, read by the record's form
// (kind 3 is rx_rrc in an RX record, tx_rrc in a TX one).
struct r2s_proto_additional {
    uint32_t kind;
    union {
        r2s_proto_rx_additional_sqi sqi;
        r2s_proto_rx_additional_rrc rx_rrc;
        r2s_proto_rx_additional_mam mam;
        r2s_proto_tx_additional_climax_time_delay delay;
        r2s_proto_tx_additional_rrc tx_rrc;
        r2s_proto_tx_additional_rrm rrm;
        uint32_t word[13];
    };
};

static_assert(sizeof(r2s_proto_additional) == 14 * sizeof(uint32_t), "");

struct r2s_proto {
    uint32_t source_addr; // network order; set by the receiver, not encoded
    uint32_t source_ssrc; // set by the receiver, not encoded
    uint32_t type;        // kR2sTx or kR2sRx
    uint32_t ptt;         // 3 bits
    uint32_t squ;         // RX form only
    uint32_t ptt_id;      // 6 bits
    uint32_t ptt_mute;
    uint32_t ptt_summation;
    uint32_t sct; // RX form only
    uint32_t additional_count;
    r2s_proto_additional additionals[kR2sMaxAdditionals];
};

int32_t r2s_proto_init(r2s_proto* record, uint32_t type);
int32_t r2s_proto_set_type(r2s_proto* record, uint32_t type);
int32_t r2s_proto_set_tx_header(r2s_proto* record, uint32_t ptt, uint32_t ptt_id, uint32_t ptt_mute,
                                uint32_t ptt_summation);
int32_t r2s_proto_set_rx_header(r2s_proto* record, uint32_t ptt, uint32_t squ, uint32_t ptt_id, uint32_t ptt_mute,
                                uint32_t ptt_summation, uint32_t sct);
int32_t r2s_proto_reset_additionals(r2s_proto* record);

// Each adder appends a copy; a null argument or a full record changes
// nothing. All return 0.
int32_t r2s_proto_add_rx_sqi(r2s_proto* record, const r2s_proto_rx_additional_sqi* sqi);
int32_t r2s_proto_add_rx_sqi(r2s_proto* record, uint32_t quality_index, uint32_t method);
int32_t r2s_proto_add_rx_rrc(r2s_proto* record, const r2s_proto_rx_additional_rrc* rrc);
int32_t r2s_proto_add_rx_mam(r2s_proto* record, const r2s_proto_rx_additional_mam* mam);
int32_t r2s_proto_add_tx_time_delay(r2s_proto* record, const r2s_proto_tx_additional_climax_time_delay* delay);
int32_t r2s_proto_add_tx_rrc(r2s_proto* record, const r2s_proto_tx_additional_rrc* rrc);
int32_t r2s_proto_add_tx_rrm(r2s_proto* record, const r2s_proto_tx_additional_rrm* rrm);

// The octets written, or an error code.
int32_t r2s_proto_pack(const r2s_proto* record, unsigned char* buffer, size_t length);
int32_t r2s_proto_pack_rx(const r2s_proto* record, unsigned char* buffer, size_t length);
int32_t r2s_proto_pack_tx(const r2s_proto* record, unsigned char* buffer, size_t length);

// 0 or an error code; the features stored before an error are kept.
int32_t r2s_proto_unpack_tx(r2s_proto* record, const unsigned char* buffer, size_t length);
int32_t r2s_proto_unpack_rx(r2s_proto* record, const unsigned char* buffer, size_t length);

// 0 for the same form, SSRC and address; -1 for a null record.
int32_t cmp_r2s_proto_source(const r2s_proto* a, const r2s_proto* b);
