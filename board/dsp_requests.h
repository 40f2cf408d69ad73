#pragma once

#include <cstdint>

// Requests and event records of the tone device (/dev/dtmf) and the DSP
// processing device (/dev/dsp). Every request names the switch channel
// (time slot) it acts on in its first word. Each read of either device
// gives one event record, starting with its type and time slot.
//
// The codes follow the board's ioctl encoding: direction in the top three
// bits (1 none, 2 read, 4 write), the record size in the next thirteen,
// then the type letter and the number.

namespace DspRequest {

constexpr unsigned long Encode(unsigned direction, unsigned size, char type, unsigned number)
{
    return (static_cast<unsigned long>(direction) << 29) | (static_cast<unsigned long>(size) << 16)
           | (static_cast<unsigned long>(static_cast<unsigned char>(type)) << 8) | number;
}

constexpr unsigned kWrite = 4;
constexpr unsigned kReadWrite = 6;

} // namespace DspRequest

namespace Tonec {

constexpr const char* kDevice = "/dev/dtmf";

// One function of a time slot on or off.
struct Switch {
    int32_t timeslot;
    int32_t on;
};

constexpr unsigned kMaxDigits = 64;

// Digits to send as DTMF or as a selective call.
struct Digits {
    int32_t timeslot;
    uint32_t count;
    char digits[kMaxDigits];
};

struct DtmfConfig {
    int32_t timeslot;
    int32_t onTime;  // ms
    int32_t offTime; // ms
    int32_t level;   // dB
};

struct IvaConfig {
    int32_t timeslot;
    int32_t level; // dB
};

// Up to two tones; a frequency of 0 is no tone.
struct Tone {
    int32_t timeslot;
    uint16_t freq1;
    uint16_t freq2;
    uint16_t amp1;
    uint16_t amp2;
};

struct Timeslot {
    int32_t timeslot;
};

// Filled by kStatus.
struct Status {
    int32_t timeslot;
    uint32_t flags;
};
constexpr uint32_t kSendingDigits = 1u << 0;
constexpr uint32_t kGenerating = 1u << 1;

constexpr unsigned long kEchoCancel = 0x80085401UL;    // Switch
constexpr unsigned long kDtmfDetect = 0x80085402UL;    // Switch
constexpr unsigned long kDtmfReject = 0x80085403UL;    // Switch
constexpr unsigned long kSendDigits = 0x80485404UL;    // Digits
constexpr unsigned long kDtmfConfig = 0x80105405UL;    // DtmfConfig
constexpr unsigned long kIva = 0x80085406UL;           // Switch
constexpr unsigned long kIvaConfig = 0x80085407UL;     // IvaConfig
constexpr unsigned long kToneStart = 0x800C5408UL;     // Tone
constexpr unsigned long kToneStop = 0x80085409UL;      // Switch: on = force
constexpr unsigned long kSilence = 0x8004540AUL;       // Timeslot
constexpr unsigned long kStatus = 0xC008540BUL;        // Status
constexpr unsigned long kAudibleCall = 0x8008540CUL;   // Switch
constexpr unsigned long kSendSelcal = 0x8048540DUL;    // Digits
constexpr unsigned long kRelease = 0x8004540EUL;       // Timeslot

static_assert(kSendDigits == DspRequest::Encode(DspRequest::kWrite, sizeof(Digits), 'T', 4), "");
static_assert(kToneStart == DspRequest::Encode(DspRequest::kWrite, sizeof(Tone), 'T', 8), "");
static_assert(kStatus == DspRequest::Encode(DspRequest::kReadWrite, sizeof(Status), 'T', 11), "");

// Event records.
enum EventType : uint32_t {
    kDetected = 1,  // a DTMF digit or tone: code and time stamp
    kToneDone = 2,  // the tone generator (or a digit string) finished
};

struct EventRecord {
    uint32_t type;
    int32_t timeslot;
    int32_t code;
    uint32_t timestamp;
};

} // namespace Tonec

namespace Dsp {

constexpr const char* kDevice = "/dev/dsp";

struct Switch {
    int32_t timeslot;
    int32_t on;
};

struct VadConfig {
    int32_t timeslot;
    int32_t threshold; // dB
    int32_t hangover;  // ms
};

struct Timeslot {
    int32_t timeslot;
};

struct RxGain {
    int32_t timeslot;
    int32_t gain; // dB, -128..127
};

struct ToneFilter {
    int32_t timeslot;
    int32_t freq;
    int32_t enable;
    int32_t duration; // ms
    int32_t level;    // dB
};

struct Delays {
    int32_t timeslot;
    int32_t rx;
    int32_t tx;
};

constexpr unsigned long kVad = 0x80085001UL;        // Switch
constexpr unsigned long kVadConfig = 0x800C5002UL;  // VadConfig
constexpr unsigned long kSd = 0x80085003UL;         // Switch
constexpr unsigned long kSdDefaults = 0x80045004UL; // Timeslot
constexpr unsigned long kRxGain = 0x80085005UL;     // RxGain
constexpr unsigned long kToneFilter = 0x80145006UL; // ToneFilter
constexpr unsigned long kDelays = 0x800C5007UL;     // Delays
constexpr unsigned long kBss = 0x80085008UL;        // Switch
constexpr unsigned long kNoiseGate = 0x80085009UL;  // Switch
constexpr unsigned long kRelease = 0x8004500AUL;    // Timeslot

static_assert(kToneFilter == DspRequest::Encode(DspRequest::kWrite, sizeof(ToneFilter), 'P', 6), "");
static_assert(kDelays == DspRequest::Encode(DspRequest::kWrite, sizeof(Delays), 'P', 7), "");

enum EventType : uint32_t {
    kVadEvent = 1,
    kBssEvent = 2,
    kSdEvent = 3,
    kToneEvent = 4,
    kFlagsEvent = 5,
};

} // namespace Dsp

// The DSP device's event records, as it gives them.
struct dsproc_event_header {
    uint32_t type;
    int32_t timeslot;
};

struct dsproc_vad_event {
    dsproc_event_header header;
    int32_t active;
};

struct dsproc_bss_event {
    dsproc_event_header header;
    int32_t score;
};

struct dsproc_sd_event {
    dsproc_event_header header;
    int32_t code;
};

struct dsproc_tone_event {
    dsproc_event_header header;
    int32_t freq;
    int32_t detected;
};

struct dsproc_flags_event {
    dsproc_event_header header;
    uint32_t flags;
};
