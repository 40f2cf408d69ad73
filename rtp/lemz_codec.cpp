#include "rtp/lemz_codec.h"

#include "rtp/address_text.h"

#include <arpa/inet.h>

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>

const s_sig_proto_table_name sig_proto_packet_const_name[128] = {
    {1, "GW_FLAG"},
    {2, "GW_ADJUST_CHAN"},
    {3, "GW_FLAG_PTT"},
    {4, "GW_FLAG_BSS"},
    {5, "GW_FLAG_RV"},
    {6, "GW_FLAG_SH"},
    {7, "GW_FLAG_PW"},
    {8, "GW_FLAG_RS"},
    {9, "GW_SEL_CALL"},
    {10, "GW_SELECT_RC_CHAN"},
    {11, "GW_ADJUST_SQUELSHE"},
    {12, "GW_ADJUST_RTE"},
    {13, "GW_ADJUST_STANDBY"},
    {129, "WM_FLAG"},
    {130, "WM_TRANS"},
    {131, "WM_RADIO_QUALITY"},
    {132, "WM_CHAN"},
    {133, "WM_SEL_CALL_TRANS"},
    {134, "WM_SELECT_RC_CHAN"},
    {135, "WM_STANDBY"},
    {-1, ""},
};

namespace {

size_t Words(size_t n)
{
    return (n + 3) & ~size_t(3);
}

void Put32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

uint32_t Get32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void PutFloat(unsigned char* p, float f)
{
    uint32_t v;
    std::memcpy(&v, &f, sizeof v);
    Put32(p, v);
}

float GetFloat(const unsigned char* p)
{
    uint32_t v = Get32(p);
    float f;
    std::memcpy(&f, &v, sizeof f);
    return f;
}

// The session address travels with its octets reversed, whatever the host.
void PutAddress(unsigned char* p, in_addr a)
{
    const auto* octets = reinterpret_cast<const unsigned char*>(&a.s_addr);
    for (int i = 0; i < 4; ++i)
        p[i] = octets[3 - i];
}

in_addr GetAddress(const unsigned char* p)
{
    in_addr a{};
    auto* octets = reinterpret_cast<unsigned char*>(&a.s_addr);
    for (int i = 0; i < 4; ++i)
        octets[i] = p[3 - i];
    return a;
}

// The minimum packed length of a kind with a fixed payload; 0 for the
// kinds without one.
size_t FixedLength(uint32_t kind)
{
    switch (kind) {
    case GW_ADJUST_CHAN:
    case WM_TRANS:
        return 12;
    case GW_SELECT_RC_CHAN:
    case GW_ADJUST_SQUELSHE:
    case GW_ADJUST_RTE:
    case GW_ADJUST_STANDBY:
    case WM_RADIO_QUALITY:
    case WM_SELECT_RC_CHAN:
    case WM_STANDBY:
        return 8;
    case WM_CHAN:
        return 16;
    default:
        return 0;
    }
}

bool Known(uint32_t kind)
{
    return (kind >= GW_FLAG && kind <= GW_ADJUST_STANDBY) || (kind >= WM_FLAG && kind <= WM_STANDBY);
}

} // namespace

int32_t sig_proto_pack(const sig_proto* r, unsigned char* b, size_t length)
{
    if (!r || !b)
        return 0;
    if (length < 4)
        return kSigProtoShort;
    std::memset(b, 0, length);
    b[0] = static_cast<unsigned char>(r->type);
    b[1] = static_cast<unsigned char>((r->priority & 15) << 4 | (r->flag_t & 1) << 3 | (r->flag_p & 1) << 2
                                      | (r->flag_r & 1) << 1 | (r->flag_s & 1));
    b[2] = static_cast<unsigned char>((r->flag_b & 1) << 7 | (r->flag_rv & 1) << 6 | (r->flag_sh & 1) << 5
                                      | (r->flag_pw & 1) << 4 | ((r->status >> 5) & 15));
    b[3] = static_cast<unsigned char>((r->status & 31) << 3 | (r->flag_c & 3) << 1 | (r->flag_rs & 1));

    const auto& p = r->payload;
    switch (r->type) {
    case GW_SEL_CALL: {
        size_t l = p.gw_sel_call.callerID_length;
        if (length < l + 12)
            return kSigProtoShort;
        b[4] = static_cast<unsigned char>(l);
        std::memcpy(b + 5, p.gw_sel_call.callerID, l);
        return static_cast<int32_t>(Words(5 + l));
    }
    case WM_SEL_CALL_TRANS: {
        size_t l = p.wm_sel_call_trans.callerID_length;
        if (length < l + 20)
            return kSigProtoShort;
        PutAddress(b + 4, p.wm_sel_call_trans.session_addr);
        Put32(b + 8, p.wm_sel_call_trans.ssrc);
        b[12] = static_cast<unsigned char>(l);
        std::memcpy(b + 13, p.wm_sel_call_trans.callerID, l);
        return static_cast<int32_t>(Words(13 + l));
    }
    default:
        break;
    }
    size_t need = FixedLength(r->type);
    if (need == 0)
        return 4;
    if (length < need)
        return kSigProtoShort;
    switch (r->type) {
    case GW_ADJUST_CHAN:
        Put32(b + 4, p.gw_adjust_chan.id);
        PutFloat(b + 8, p.gw_adjust_chan.freq);
        break;
    case GW_SELECT_RC_CHAN:
        b[4] = p.gw_select_rc_chan.interface;
        b[5] = p.gw_select_rc_chan.channel;
        break;
    case WM_SELECT_RC_CHAN:
        b[4] = p.wm_select_rc_chan.interface;
        b[5] = p.wm_select_rc_chan.channel;
        break;
    case GW_ADJUST_SQUELSHE:
        b[4] = p.gw_adjust_squelsh.squelsh;
        break;
    case GW_ADJUST_RTE:
        b[4] = p.gw_adjust_rte.rte;
        break;
    case GW_ADJUST_STANDBY:
        b[4] = p.gw_adjust_standby.state;
        break;
    case WM_TRANS:
        PutAddress(b + 4, p.wm_trans.session_addr);
        Put32(b + 8, p.wm_trans.ssrc);
        break;
    case WM_RADIO_QUALITY:
        PutFloat(b + 4, p.wm_radio_quality.radio_quality);
        break;
    case WM_CHAN:
        Put32(b + 4, p.wm_chan.id);
        PutFloat(b + 8, p.wm_chan.freq);
        b[12] = p.wm_chan.squelsh;
        b[13] = p.wm_chan.rte;
        break;
    case WM_STANDBY:
        b[4] = p.wm_standby.state;
        b[5] = p.wm_standby.group;
        b[6] = p.wm_standby.receiver_state;
        break;
    }
    return static_cast<int32_t>(need);
}

int32_t sig_proto_unpack(sig_proto* r, const unsigned char* b, size_t length)
{
    if (!r || !b)
        return kSigProtoMissing;
    if (length < 4)
        return kSigProtoShort;
    uint32_t kind = b[0];
    if (!Known(kind)) {
        r->type = kind;
        return kSigProtoUnknownKind;
    }
    // Bytes the kind does not carry keep what the record held.
    auto p = r->payload;
    switch (kind) {
    case GW_SEL_CALL: {
        if (length < 5 || length < 5u + b[4])
            return kSigProtoShort;
        p.gw_sel_call.callerID_length = b[4];
        std::memcpy(p.gw_sel_call.callerID, b + 5, b[4]);
        break;
    }
    case WM_SEL_CALL_TRANS: {
        if (length < 13 || length < 13u + b[12])
            return kSigProtoShort;
        p.wm_sel_call_trans.session_addr = GetAddress(b + 4);
        p.wm_sel_call_trans.ssrc = Get32(b + 8);
        p.wm_sel_call_trans.callerID_length = b[12];
        std::memcpy(p.wm_sel_call_trans.callerID, b + 13, b[12]);
        break;
    }
    default:
        if (length < FixedLength(kind))
            return kSigProtoShort;
        switch (kind) {
        case GW_ADJUST_CHAN:
            p.gw_adjust_chan.id = Get32(b + 4);
            p.gw_adjust_chan.freq = GetFloat(b + 8);
            break;
        case GW_SELECT_RC_CHAN:
            p.gw_select_rc_chan.interface = b[4];
            p.gw_select_rc_chan.channel = b[5];
            break;
        case WM_SELECT_RC_CHAN:
            p.wm_select_rc_chan.interface = b[4];
            p.wm_select_rc_chan.channel = b[5];
            break;
        case GW_ADJUST_SQUELSHE:
            p.gw_adjust_squelsh.squelsh = b[4];
            break;
        case GW_ADJUST_RTE:
            p.gw_adjust_rte.rte = b[4];
            break;
        case GW_ADJUST_STANDBY:
            p.gw_adjust_standby.state = b[4];
            break;
        case WM_TRANS:
            p.wm_trans.session_addr = GetAddress(b + 4);
            p.wm_trans.ssrc = Get32(b + 8);
            break;
        case WM_RADIO_QUALITY:
            p.wm_radio_quality.radio_quality = GetFloat(b + 4);
            break;
        case WM_CHAN:
            p.wm_chan.id = Get32(b + 4);
            p.wm_chan.freq = GetFloat(b + 8);
            p.wm_chan.squelsh = b[12];
            p.wm_chan.rte = b[13];
            break;
        case WM_STANDBY:
            p.wm_standby.state = b[4];
            p.wm_standby.group = b[5];
            p.wm_standby.receiver_state = b[6];
            break;
        }
    }
    r->type = kind;
    r->priority = b[1] >> 4;
    r->flag_t = (b[1] >> 3) & 1;
    r->flag_p = (b[1] >> 2) & 1;
    r->flag_r = (b[1] >> 1) & 1;
    r->flag_s = b[1] & 1;
    r->flag_b = (b[2] >> 7) & 1;
    r->flag_rv = (b[2] >> 6) & 1;
    r->flag_sh = (b[2] >> 5) & 1;
    r->flag_pw = (b[2] >> 4) & 1;
    r->status = (b[2] & 15u) * 32 + (b[3] >> 3);
    r->flag_c = (b[3] >> 1) & 3;
    r->flag_rs = b[3] & 1;
    r->payload = p;
    return 0;
}

int32_t sig_proto_init(sig_proto* r)
{
    if (r)
        std::memset(r, 0, sizeof *r);
    return 0;
}

int32_t sig_proto_set_base(sig_proto* r, int32_t priority, int32_t t, int32_t p, int32_t rr, int32_t s, int32_t b,
                           int32_t rv, int32_t sh, int32_t pw, int32_t rs, int32_t c, int32_t status)
{
    if (!r)
        return 0;
    struct {
        int32_t value;
        uint32_t& field;
    } fields[] = {{priority, r->priority}, {t, r->flag_t},   {p, r->flag_p},   {rr, r->flag_r},
                  {s, r->flag_s},          {b, r->flag_b},   {rv, r->flag_rv}, {sh, r->flag_sh},
                  {pw, r->flag_pw},        {rs, r->flag_rs}, {c, r->flag_c},   {status, r->status}};
    for (auto& f : fields)
        if (f.value >= 0)
            f.field = static_cast<uint32_t>(f.value);
    return 0;
}

int32_t sig_proto_set_ptt(sig_proto* r, int32_t p)
{
    if (r && p >= 0)
        r->flag_p = static_cast<uint32_t>(p);
    return 0;
}

int32_t sig_proto_set_gw_adjust_chan(sig_proto* r, uint32_t id, float freq)
{
    if (r) {
        r->payload.gw_adjust_chan.id = id;
        r->payload.gw_adjust_chan.freq = freq;
    }
    return 0;
}

int32_t sig_proto_set_gw_selcall(sig_proto* r, const char* callerID, uint8_t length)
{
    if (r) {
        RTPSignalling::CopyCallerId(r->payload.gw_sel_call.callerID, callerID);
        r->payload.gw_sel_call.callerID_length = callerID ? length : 0;
    }
    return 0;
}

int32_t sig_proto_set_gw_select_rc_chan(sig_proto* r, uint8_t interface, uint8_t channel)
{
    if (r) {
        r->payload.gw_select_rc_chan.interface = interface;
        r->payload.gw_select_rc_chan.channel = channel;
    }
    return 0;
}

int32_t sig_proto_set_gw_adjust_squelsh(sig_proto* r, uint8_t squelsh)
{
    if (r)
        r->payload.gw_adjust_squelsh.squelsh = squelsh;
    return 0;
}

int32_t sig_proto_set_gw_adjust_rte(sig_proto* r, uint8_t rte)
{
    if (r)
        r->payload.gw_adjust_rte.rte = rte;
    return 0;
}

int32_t sig_proto_set_gw_adjust_standby(sig_proto* r, uint8_t state)
{
    if (r)
        r->payload.gw_adjust_standby.state = state;
    return 0;
}

int32_t sig_proto_set_wm_transmite(sig_proto* r, in_addr address, uint32_t ssrc)
{
    if (r) {
        r->payload.wm_trans.session_addr = address;
        r->payload.wm_trans.ssrc = ssrc;
    }
    return 0;
}

int32_t sig_proto_set_wm_radio_quality(sig_proto* r, float quality)
{
    if (r)
        r->payload.wm_radio_quality.radio_quality = quality;
    return 0;
}

int32_t sig_proto_set_wm_chan(sig_proto* r, uint32_t id, float freq, uint8_t squelsh, uint8_t rte)
{
    if (r) {
        r->payload.wm_chan.id = id;
        r->payload.wm_chan.freq = freq;
        r->payload.wm_chan.squelsh = squelsh;
        r->payload.wm_chan.rte = rte;
    }
    return 0;
}

int32_t sig_proto_set_wm_selcall_transmite(sig_proto* r, in_addr address, uint32_t ssrc, const char* callerID,
                                           uint8_t length)
{
    if (r) {
        r->payload.wm_sel_call_trans.session_addr = address;
        r->payload.wm_sel_call_trans.ssrc = ssrc;
        RTPSignalling::CopyCallerId(r->payload.wm_sel_call_trans.callerID, callerID);
        r->payload.wm_sel_call_trans.callerID_length = callerID ? length : 0;
    }
    return 0;
}

int32_t sig_proto_set_wm_select_rc_chan(sig_proto* r, uint8_t interface, uint8_t channel)
{
    if (r) {
        r->payload.wm_select_rc_chan.interface = interface;
        r->payload.wm_select_rc_chan.channel = channel;
    }
    return 0;
}

int32_t sig_proto_set_wm_standby(sig_proto* r, uint8_t state, uint8_t group, uint8_t receiver_state)
{
    if (r) {
        r->payload.wm_standby.state = state;
        r->payload.wm_standby.group = group;
        r->payload.wm_standby.receiver_state = receiver_state;
    }
    return 0;
}

bool RTPSignalling::isPTTCommand(uint32_t kind)
{
    return kind == GW_FLAG || kind == GW_FLAG_PTT || kind == GW_SEL_CALL || kind == WM_FLAG || kind == WM_TRANS
           || kind == WM_SEL_CALL_TRANS;
}

int32_t sig_proto_is_ptt_command(const sig_proto* r)
{
    return r && RTPSignalling::isPTTCommand(r->type) ? 1 : 0;
}

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int32_t kind)
{
    for (int i = 0; table && i < 128 && table[i].id >= 0; ++i)
        if (table[i].id == kind)
            return table[i].name;
    return nullptr;
}

int32_t sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name)
{
    for (int i = 0; table && name && i < 128 && table[i].id >= 0; ++i)
        if (std::strcmp(table[i].name, name) == 0)
            return table[i].id;
    return -1;
}

namespace {

// Appends formatted lines to a bounded text, cutting what does not fit.
class Text
{
public:
    Text(char* text, size_t size) : mText(text), mSize(size) { std::memset(text, 0, size); }
    __attribute__((format(printf, 2, 3))) void add(const char* format, ...)
    {
        if (mUsed + 1 >= mSize)
            return;
        va_list args;
        va_start(args, format);
        int n = std::vsnprintf(mText + mUsed, mSize - mUsed, format, args);
        va_end(args);
        if (n > 0)
            mUsed += std::min(static_cast<size_t>(n), mSize - mUsed - 1);
    }
    size_t used() const { return mUsed; }

private:
    char* mText;
    size_t mSize;
    size_t mUsed = 0;
};

void CallerId(Text& t, const char* prefix, uint8_t length, const char* id)
{
    t.add("%s.callerID_length: %d,\n", prefix, length);
    t.add("%s.callerID : \n", prefix);
    for (int i = 0; i < length; ++i)
        t.add("[%d] : 0x%02X,\n", i, static_cast<unsigned char>(id[i]));
}

} // namespace

int32_t sprintf_sig_proto(char* text, int32_t size, const sig_proto* r, uint32_t mode)
{
    if (!text || !r || size < 1)
        return 0;
    uint32_t kind = r->type;
    bool payload = kind == GW_ADJUST_CHAN || (kind >= GW_SEL_CALL && kind <= GW_ADJUST_STANDBY)
                   || (kind >= WM_TRANS && kind <= WM_STANDBY);
    Text t(text, static_cast<size_t>(size));
    if (!payload && !(kind <= GW_FLAG_RS && kind != GW_ADJUST_CHAN) && kind != WM_FLAG)
        return 0;
    const char* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, static_cast<int32_t>(kind));
    if ((mode & 2) && name)
        t.add("type      : %s,\n", name);
    else if (mode & 3)
        t.add("type      : 0x%08lX,\n", static_cast<unsigned long>(kind));
    const struct {
        const char* format;
        uint32_t value;
    } flags[] = {{"flag_t   : %lu,\n", r->flag_t},   {"flag_p   : %lu,\n", r->flag_p},
                 {"flag_r   : %lu,\n", r->flag_r},   {"flag_s   : %lu,\n", r->flag_s},
                 {"flag_b   : %lu,\n", r->flag_b},   {"flag_rv  : %lu,\n", r->flag_rv},
                 {"flag_sh  : %lu,\n", r->flag_sh},  {"flag_rs  : %lu,\n", r->flag_rs},
                 {"flag_pw  : %lu,\n", r->flag_pw},  {"flag_c   : %lu,\n", r->flag_c}};
    for (const auto& f : flags)
        t.add(f.format, static_cast<unsigned long>(f.value));
    if (mode & 4)
        return static_cast<int32_t>(t.used());
    t.add("priority : %lu,\n", static_cast<unsigned long>(r->priority));
    t.add("status   : %lu,\n", static_cast<unsigned long>(r->status));
    const auto& p = r->payload;
    switch (kind) {
    case GW_ADJUST_CHAN:
        t.add("gw_adjust_chan.id   : %lu,\n", static_cast<unsigned long>(p.gw_adjust_chan.id));
        t.add("gw_adjust_chan.freq : %4.4f,\n", static_cast<double>(p.gw_adjust_chan.freq));
        break;
    case GW_SEL_CALL:
        CallerId(t, "gw_sel_call", p.gw_sel_call.callerID_length, p.gw_sel_call.callerID);
        break;
    case GW_SELECT_RC_CHAN:
        t.add("gw_select_rc_chan.interface : %d,\n", p.gw_select_rc_chan.interface);
        t.add("gw_select_rc_chan.channel   : %d,\n", p.gw_select_rc_chan.channel);
        break;
    case GW_ADJUST_SQUELSHE:
        t.add("gw_adjust_squelsh.squelsh   : %d,\n", p.gw_adjust_squelsh.squelsh);
        break;
    case GW_ADJUST_RTE:
        t.add("gw_adjust_rte.rte   : %d,\n", p.gw_adjust_rte.rte);
        break;
    case GW_ADJUST_STANDBY:
        t.add("gw_adjust_standby.state   : %d,\n", p.gw_adjust_standby.state);
        break;
    case WM_TRANS:
        t.add("wm_trans.session_addr : %s,\n",
              RTPSignalling::DottedAddress(p.wm_trans.session_addr.s_addr).c_str());
        t.add("wm_trans.ssrc         : 0x%08lX,\n", static_cast<unsigned long>(p.wm_trans.ssrc));
        break;
    case WM_RADIO_QUALITY:
        t.add("wm_radio_quality.radio_quality : %4.5f,\n", static_cast<double>(p.wm_radio_quality.radio_quality));
        break;
    case WM_CHAN:
        t.add("wm_chan.id   : %lu,\n", static_cast<unsigned long>(p.wm_chan.id));
        t.add("wm_chan.freq : %4.4f,\n", static_cast<double>(p.wm_chan.freq));
        t.add("wm_chan.squelsh : %d,\n", p.wm_chan.squelsh);
        t.add("wm_chan.rte     : %d,\n", p.wm_chan.rte);
        break;
    case WM_SEL_CALL_TRANS:
        t.add("wm_sel_call_trans.session_addr : %s,\n",
              RTPSignalling::DottedAddress(p.wm_sel_call_trans.session_addr.s_addr).c_str());
        t.add("wm_sel_call_trans.ssrc         : 0x%08lX,\n", static_cast<unsigned long>(p.wm_sel_call_trans.ssrc));
        CallerId(t, "wm_sel_call_trans", p.wm_sel_call_trans.callerID_length, p.wm_sel_call_trans.callerID);
        break;
    case WM_SELECT_RC_CHAN:
        t.add("wm_select_rc_chan.interface : %d,\n", p.wm_select_rc_chan.interface);
        t.add("wm_select_rc_chan.channel   : %d,\n", p.wm_select_rc_chan.channel);
        break;
    case WM_STANDBY:
        t.add("wm_standby.state           : %d,\n", p.wm_standby.state);
        t.add("wm_standby.group           : %d,\n", p.wm_standby.group);
        t.add("wm_standby.receiver_state  : %d,\n", p.wm_standby.receiver_state);
        break;
    }
    return static_cast<int32_t>(t.used());
}

namespace {

int32_t Compare(const sig_proto* a, const sig_proto* b, uint32_t mode)
{
    if (!a || !b)
        return -1;
    static char ta[8192], tb[8192];
    int32_t la = sprintf_sig_proto(ta, sizeof ta, a, mode);
    int32_t lb = sprintf_sig_proto(tb, sizeof tb, b, mode);
    if (la != lb)
        return lb - la;
    return std::memcmp(ta, tb, static_cast<size_t>(la));
}

} // namespace

int32_t cmp_sig_proto(const sig_proto* a, const sig_proto* b)
{
    return Compare(a, b, 1);
}

int32_t cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b)
{
    return Compare(a, b, 4);
}

int32_t cmp_sig_proto_header(const sig_proto* a, const sig_proto* b)
{
    if (!a || !b)
        return -1;
    if (int32_t d = static_cast<int32_t>(b->type - a->type))
        return d;
    if (int32_t d = static_cast<int32_t>(b->source_ssrc - a->source_ssrc))
        return d;
    return static_cast<int32_t>(b->source_addr - a->source_addr);
}

int32_t is_little_endian()
{
    const uint16_t one = 1;
    return *reinterpret_cast<const unsigned char*>(&one) == 1;
}

int32_t init_sig_proto_queue(sig_proto_queue* q)
{
    if (!q)
        return 0;
    std::memset(q, 0, sizeof *q);
    static const uint32_t kinds[17] = {1, 3, 4, 5, 6, 7, 8, 2, 9, 10, 13, 129, 130, 132, 131, 133, 135};
    for (size_t i = 0; i < 32; ++i)
        q->record[i].type = i < 17 ? kinds[i] : 0xFFFFFFFFu;
    return 0;
}

namespace RTPSignalling {

void CopyCallerId(char* to, const char* text)
{
    std::memset(to, 0, kCallerIdSize);
    if (text)
        std::memcpy(to, text, strnlen(text, kCallerIdSize - 1));
}

} // namespace RTPSignalling
