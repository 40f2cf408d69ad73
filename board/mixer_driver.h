#pragma once

#include <cstdint>

// Records and requests of the conference mixer device. Every field is a
// 32-bit signed word in the board's byte order, without padding; the
// request numbers use the board's ioctl encoding and are written out.

// One mixer channel: a unit's TDM channel.
struct mix_slot {
    int32_t dev_no; // the unit
    int32_t type;   // 0: TDM channel, the only kind the daemon names
    int32_t number; // the channel within the unit
};
static_assert(sizeof(mix_slot) == 12, "the driver takes three words");

// One contribution to the mix of an output.
struct mix_rx_link {
    mix_slot rx; // the output whose mix takes it
    mix_slot tx; // the channel that contributes
    int32_t gain;
};
static_assert(sizeof(mix_rx_link) == 28, "the driver takes seven words");

// One step of the unit enumeration.
struct mix_resources {
    int32_t dev_no;       // in: the previous step's unit, -1 first; out: the next unit
    int32_t tdm_channels; // of that unit
    int32_t reserved;
    int32_t mixer_inputs; // of that unit
};
static_assert(sizeof(mix_resources) == 16, "the driver fills four words");

namespace MixerRequest {

constexpr int32_t kTdm = 0;        // mix_slot type of a TDM channel
constexpr int32_t kFullGain = 32767; // the gain the daemon sets by itself

constexpr unsigned long MIX_RX_CLEAR = 0x800C4D02UL;  // mix_slot: drops every contribution to it
constexpr unsigned long MIX_RX_ADD = 0x801C4D03UL;    // mix_rx_link
constexpr unsigned long MIX_RX_REMOVE = 0x801C4D04UL; // mix_rx_link: the rx and tx name it
constexpr unsigned long MIX_TDM = 0x800C4D06UL;       // mix_slot; the result is its switch channel
constexpr unsigned long MIX_RESOURCES = 0x80104D07UL; // mix_resources, filled in

} // namespace MixerRequest
