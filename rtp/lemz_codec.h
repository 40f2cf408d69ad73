#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

// The LEMZ radio signalling packet carried in an RTP header extension: one
// packet in host form, its wire form, setters, names, printers and
// comparators. Results: 0 or a byte count, -7 missing record or buffer,
// -8 unknown packet kind, -9 buffer or packet too short.

enum : int32_t {
    kSigProtoMissing = -7,
    kSigProtoUnknownKind = -8,
    kSigProtoShort = -9,
};

enum SigProtoKind : uint32_t {
    GW_FLAG = 1,
    GW_ADJUST_CHAN = 2,
    GW_FLAG_PTT = 3,
    GW_FLAG_BSS = 4,
    GW_FLAG_RV = 5,
    GW_FLAG_SH = 6,
    GW_FLAG_PW = 7,
    GW_FLAG_RS = 8,
    GW_SEL_CALL = 9,
    GW_SELECT_RC_CHAN = 10,
    GW_ADJUST_SQUELSHE = 11,
    GW_ADJUST_RTE = 12,
    GW_ADJUST_STANDBY = 13,
    WM_FLAG = 129,
    WM_TRANS = 130,
    WM_RADIO_QUALITY = 131,
    WM_CHAN = 132,
    WM_SEL_CALL_TRANS = 133,
    WM_SELECT_RC_CHAN = 134,
    WM_STANDBY = 135,
};

constexpr size_t kCallerIdSize = 256;

struct sig_proto {
    uint32_t source_addr; // network order; set by the receiver
    uint32_t source_ssrc; // set by the receiver
    uint32_t type;
    uint32_t priority;
    uint32_t flag_t;
    uint32_t flag_p;
    uint32_t flag_r;
    uint32_t flag_s;
    uint32_t flag_b;
    uint32_t flag_rv;
    uint32_t flag_sh;
    uint32_t flag_rs;
    uint32_t flag_pw;
    uint32_t flag_c;
    uint32_t status;
    union {
        struct {
            uint32_t id;
            float freq;
        } gw_adjust_chan;
        struct {
            uint32_t id;
            float freq;
            uint8_t squelsh;
            uint8_t rte;
        } wm_chan;
        struct {
            uint8_t callerID_length;
            char callerID[kCallerIdSize];
        } gw_sel_call;
        struct {
            uint8_t interface;
            uint8_t channel;
        } gw_select_rc_chan, wm_select_rc_chan;
        struct {
            uint8_t squelsh;
        } gw_adjust_squelsh;
        struct {
            uint8_t rte;
        } gw_adjust_rte;
        struct {
            uint8_t state;
        } gw_adjust_standby;
        struct {
            in_addr session_addr;
            uint32_t ssrc;
        } wm_trans;
        struct {
            float radio_quality;
        } wm_radio_quality;
        struct {
            in_addr session_addr;
            uint32_t ssrc;
            uint8_t callerID_length;
            char callerID[kCallerIdSize];
        } wm_sel_call_trans;
        struct {
            uint8_t state;
            uint8_t group;
            uint8_t receiver_state;
        } wm_standby;
        unsigned char raw[268];
    } payload;
};

static_assert(sizeof(sig_proto::payload) == 268, "");

struct s_sig_proto_table_name {
    int32_t id; // negative: the end of the table
    const char* name;
};

// The 20 packet kinds by name, then the end entry.
extern const s_sig_proto_table_name sig_proto_packet_const_name[128];

struct sig_proto_queue {
    sig_proto record[32];
    uint32_t word[32];
};

int32_t sig_proto_pack(const sig_proto* record, unsigned char* buffer, size_t length);
int32_t sig_proto_unpack(sig_proto* record, const unsigned char* buffer, size_t length);
int32_t sig_proto_init(sig_proto* record);

// A negative argument leaves its field as it is.
int32_t sig_proto_set_base(sig_proto* record, int32_t priority, int32_t t, int32_t p, int32_t r, int32_t s, int32_t b,
                           int32_t rv, int32_t sh, int32_t pw, int32_t rs, int32_t c, int32_t status);
int32_t sig_proto_set_ptt(sig_proto* record, int32_t p);
int32_t sig_proto_set_gw_adjust_chan(sig_proto* record, uint32_t id, float freq);
int32_t sig_proto_set_gw_selcall(sig_proto* record, const char* callerID, uint8_t length);
int32_t sig_proto_set_gw_select_rc_chan(sig_proto* record, uint8_t interface, uint8_t channel);
int32_t sig_proto_set_gw_adjust_squelsh(sig_proto* record, uint8_t squelsh);
int32_t sig_proto_set_gw_adjust_rte(sig_proto* record, uint8_t rte);
int32_t sig_proto_set_gw_adjust_standby(sig_proto* record, uint8_t state);
int32_t sig_proto_set_wm_transmite(sig_proto* record, in_addr address, uint32_t ssrc);
int32_t sig_proto_set_wm_radio_quality(sig_proto* record, float quality);
int32_t sig_proto_set_wm_chan(sig_proto* record, uint32_t id, float freq, uint8_t squelsh, uint8_t rte);
int32_t sig_proto_set_wm_selcall_transmite(sig_proto* record, in_addr address, uint32_t ssrc, const char* callerID,
                                           uint8_t length);
int32_t sig_proto_set_wm_select_rc_chan(sig_proto* record, uint8_t interface, uint8_t channel);
int32_t sig_proto_set_wm_standby(sig_proto* record, uint8_t state, uint8_t group, uint8_t receiver_state);

int32_t sig_proto_is_ptt_command(const sig_proto* record);

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int32_t kind);
int32_t sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name);

// Mode bits: 2 the kind by name, else 1 the kind in hexadecimal; 4 the
// flags only.
int32_t sprintf_sig_proto(char* text, int32_t size, const sig_proto* record, uint32_t mode);

int32_t cmp_sig_proto(const sig_proto* a, const sig_proto* b);
int32_t cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b);
// Kind, then sender SSRC, then sender address.
int32_t cmp_sig_proto_header(const sig_proto* a, const sig_proto* b);

int32_t is_little_endian();
int32_t init_sig_proto_queue(sig_proto_queue* queue);

namespace RTPSignalling {
bool isPTTCommand(uint32_t kind);
// The text, at most kCallerIdSize - 1 characters of it, into a zeroed
// caller id field; a null text leaves it empty.
void CopyCallerId(char* to, const char* text);
}
