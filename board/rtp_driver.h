#pragma once

#include "board/dsp_requests.h"

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <iosfwd>

// Requests and records of the RTP session driver (/dev/rtp), the RTP
// header-extension driver (/dev/rtp_ext) and the voice driver's codec
// query (/dev/voice). Every record is the drivers' own layout: sizes,
// offsets and reserved words are pinned below. Fields are in the board's
// native order unless they say otherwise.

// Begin-session record; zero-filled before the fields are set.
struct rtp_connection_params {
    uint32_t dst_addr; // network order
    uint16_t dst_port;
    uint16_t reserved1;
    uint32_t src_addr; // network order; 0: no local host
    uint16_t src_port;
    uint16_t rx_pt;
    uint16_t tx_pt;
    uint16_t packet_factor; // 0: the driver's default
    uint8_t vad;
    uint8_t crate;
    uint16_t reserved2;
    uint32_t ssrc;
    uint32_t reserved3[2];
    uint32_t ttl; // 0: the driver's default
    int32_t dscp; // type-of-service byte; -1: not set
};

struct rtp_channel_info {
    int32_t tdm; // -1 asks for a new channel; the channel on return
    int32_t dev_no;
    int32_t chn;
};

// Add-channel record.
struct rtp_add_channel {
    rtp_channel_info info;
    uint32_t bss; // 1: best-signal selection (radio sessions)
};

// One read of the session descriptor.
struct rtp_event {
    uint32_t type;
    uint32_t value;
    uint32_t timeout;
    uint32_t reserved[6];
};

// Packet-detector settings: {1, 0, timeout, 0, 0, timeout, 0, 0, 0}.
struct rtp_pd_params {
    uint32_t word[9];
};

struct rtp_attach_session_params {
    int32_t fd_rtp;
    int32_t pid_rtp;
};

struct rtp_ext_attach_session_params {
    int32_t fd_rtp;  // the slot's own session descriptor
    int32_t pid_rtp; // own pid for LEMZ, -1 for ED-137
};

struct rtp_ext_init_params {
    uint16_t etype;
    uint16_t reserved;
    uint32_t eparam;
    uint32_t payload_type;
    uint32_t keepalive_count;
    uint32_t sigtime_factor;
};

// Filled by the extension driver for the next queued packet.
struct rtp_ext_packet_info {
    uint32_t word[3];
};

struct rtp_ext_source_filter {
    in_addr addr; // network order
    uint32_t zero;
};

static_assert(sizeof(rtp_connection_params) == 44, "");
static_assert(offsetof(rtp_connection_params, dst_port) == 4, "");
static_assert(offsetof(rtp_connection_params, src_addr) == 8, "");
static_assert(offsetof(rtp_connection_params, src_port) == 12, "");
static_assert(offsetof(rtp_connection_params, rx_pt) == 14, "");
static_assert(offsetof(rtp_connection_params, tx_pt) == 16, "");
static_assert(offsetof(rtp_connection_params, packet_factor) == 18, "");
static_assert(offsetof(rtp_connection_params, vad) == 20, "");
static_assert(offsetof(rtp_connection_params, crate) == 21, "");
static_assert(offsetof(rtp_connection_params, ssrc) == 24, "");
static_assert(offsetof(rtp_connection_params, ttl) == 36, "");
static_assert(offsetof(rtp_connection_params, dscp) == 40, "");
static_assert(sizeof(rtp_channel_info) == 12, "");
static_assert(sizeof(rtp_add_channel) == 16 && offsetof(rtp_add_channel, bss) == 12, "");
static_assert(sizeof(rtp_event) == 36 && offsetof(rtp_event, timeout) == 8, "");
static_assert(sizeof(rtp_pd_params) == 36, "");
static_assert(sizeof(rtp_attach_session_params) == 8 && offsetof(rtp_attach_session_params, pid_rtp) == 4, "");
static_assert(sizeof(rtp_ext_attach_session_params) == 8 && offsetof(rtp_ext_attach_session_params, pid_rtp) == 4,
              "");
static_assert(sizeof(rtp_ext_init_params) == 20, "");
static_assert(offsetof(rtp_ext_init_params, eparam) == 4, "");
static_assert(offsetof(rtp_ext_init_params, payload_type) == 8, "");
static_assert(offsetof(rtp_ext_init_params, keepalive_count) == 12, "");
static_assert(offsetof(rtp_ext_init_params, sigtime_factor) == 16, "");
static_assert(sizeof(rtp_ext_packet_info) == 12, "");
static_assert(sizeof(rtp_ext_source_filter) == 8, "");

namespace RtpRequest {

using DspRequest::Encode;
constexpr unsigned kNone = 1;
constexpr unsigned kRead = 2;
constexpr unsigned kWrite = DspRequest::kWrite;
constexpr unsigned kReadWrite = DspRequest::kReadWrite;

constexpr unsigned long kBeginSession = 0xC02C5200UL;  // rtp_connection_params
constexpr unsigned long kAddChannel = 0xC0105202UL;    // rtp_add_channel
constexpr unsigned long kTeardown1 = 0x2000520AUL;     // the three tear-down
constexpr unsigned long kTeardown2 = 0x20005203UL;     // commands, in this
constexpr unsigned long kTeardown3 = 0x2000520BUL;     // order
constexpr unsigned long kStartTransmit = 0x20005204UL;
constexpr unsigned long kStopTransmit = 0x20005205UL;
constexpr unsigned long kAttachSession = 0xC0085209UL; // rtp_attach_session_params
constexpr unsigned long kSetPD = 0xC024520CUL;         // rtp_pd_params
constexpr unsigned long kResetPD = 0x8004520DUL;       // uint32_t, 1

static_assert(kBeginSession == Encode(kReadWrite, sizeof(rtp_connection_params), 'R', 0), "");
static_assert(kAddChannel == Encode(kReadWrite, sizeof(rtp_add_channel), 'R', 2), "");
static_assert(kTeardown1 == Encode(kNone, 0, 'R', 10), "");
static_assert(kStartTransmit == Encode(kNone, 0, 'R', 4), "");
static_assert(kAttachSession == Encode(kReadWrite, sizeof(rtp_attach_session_params), 'R', 9), "");
static_assert(kSetPD == Encode(kReadWrite, sizeof(rtp_pd_params), 'R', 12), "");
static_assert(kResetPD == Encode(kWrite, sizeof(uint32_t), 'R', 13), "");

// Event types read from the session descriptor.
constexpr uint32_t kPacketDetector = 1;

} // namespace RtpRequest

namespace RtpExtRequest {

using RtpRequest::Encode;

constexpr unsigned long kInit = 0xC0144500UL;         // rtp_ext_init_params
constexpr unsigned long kAttach = 0xC0084501UL;       // rtp_ext_attach_session_params
constexpr unsigned long kDetach = 0x20004502UL;
constexpr unsigned long kNextPacket = 0xC00C4503UL;   // rtp_ext_packet_info; >= 1: a packet
constexpr unsigned long kSourceFilter = 0xC0084504UL; // rtp_ext_source_filter
constexpr unsigned long kRemoveFilter = 0x20004505UL;

static_assert(kInit == Encode(RtpRequest::kReadWrite, sizeof(rtp_ext_init_params), 'E', 0), "");
static_assert(kAttach == Encode(RtpRequest::kReadWrite, sizeof(rtp_ext_attach_session_params), 'E', 1), "");
static_assert(kNextPacket == Encode(RtpRequest::kReadWrite, sizeof(rtp_ext_packet_info), 'E', 3), "");
static_assert(kSourceFilter == Encode(RtpRequest::kReadWrite, sizeof(rtp_ext_source_filter), 'E', 4), "");
static_assert(kRemoveFilter == Encode(RtpRequest::kNone, 0, 'E', 5), "");

// One read or write is one extension packet.
constexpr size_t kPacketBuffer = 1024;

} // namespace RtpExtRequest

namespace VoiceRequest {

// The argument word holds a codec mask; the result is the number of
// channels for it (0 or less: none).
constexpr unsigned long kCodecChannels = 0x40045602UL;
static_assert(kCodecChannels == RtpRequest::Encode(RtpRequest::kRead, sizeof(uint32_t), 'V', 2), "");

constexpr uint32_t kG711 = 1;
constexpr uint32_t kG723 = 2;
constexpr uint32_t kG729 = 4;
constexpr uint32_t kG711Mcc = 8;
constexpr uint32_t kUniversal = 0x41;

// Fills five 32-bit words: the voice driver's version.
constexpr unsigned long kVersion = 0x4014560AUL;
static_assert(kVersion == RtpRequest::Encode(RtpRequest::kRead, 5 * sizeof(uint32_t), 'V', 10), "");

} // namespace VoiceRequest

std::ostream& operator<<(std::ostream& os, rtp_connection_params const& p);
std::ostream& operator<<(std::ostream& os, rtp_attach_session_params const& p);
std::ostream& operator<<(std::ostream& os, rtp_ext_attach_session_params const& p);
std::ostream& operator<<(std::ostream& os, rtp_ext_init_params const& p);
std::ostream& operator<<(std::ostream& os, rtp_channel_info const& p);

// "unknown", "g711", ... "conf"; "invalid" outside the table.
const char* GetCodecAsStr(int codec);

// The text of an RTP library error code. An unlisted code is formatted into
// one static buffer that the next unlisted code overwrites.
const char* RTPStrError(int code);

// An error of the RTP paths: the errno of the moment and the caller's code;
// prints as the errno's text.
class RtpErr
{
public:
    explicit RtpErr(int code = 0);
    int code() const { return mCode; }
    int error() const { return mErrno; }
    void Put(std::ostream& os) const;

private:
    int mErrno;
    int mCode;
};

std::ostream& operator<<(std::ostream& os, RtpErr const& e);
