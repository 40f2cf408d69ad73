#pragma once

// The conference mixer: its units (Mixer::Mixer), the input and output
// slots on their TDM channels, and the factory that finds the units and
// makes the slots.
//
// The factory owns the units. A unit the driver no longer reports is dead:
// its slots are told `abort` and it lingers, off the factory's list, until
// its last slot is released; a dead unit the driver reports again is the
// same object brought back, so its slots' mixes are kept.

#include "board/dsproc_receiver.h"
#include "board/mixer_driver.h"
#include "board/tonec_receiver.h"
#include "core/slot.h"

#include <array>
#include <cstdint>
#include <iosfwd>
#include <utility>
#include <vector>

namespace LGCP {
class MixerChannel;
class MixerInParams;
class MixerOutParams;
}

namespace Mixer {

// One request on the mixer device, opened for it and closed after, with
// one further argument: a pointer to the request's record. The request's
// result, or -1 with errno (also when the device cannot be opened).
int mixer_ctl(int request, ...);

class MixerFactory;
class TdmInput;
class TdmOutput;
class TdmSlot;

// What a unit registers: its input and output slots.
class MixerSlot : public Slot
{
public:
    // The unit's TDM channel the slot uses.
    virtual int channel() const = 0;
};

// One mixer unit.
class Mixer
{
public:
    explicit Mixer(int id);
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    int id() const { return mId; }
    bool isDead() const { return mDead; }
    const std::vector<MixerSlot*>& slots() const { return mSlots; }

    // A registered slot, or null (refusals name their cause, Answer::Refuse).
    TdmInput* New(LGCP::MixerInParams const& params);
    TdmOutput* New(LGCP::MixerOutParams const& params);
    // Undo what New programmed and unregister; the unit may end here.
    void Release(TdmInput& input);
    void Release(TdmOutput& output);

    // Clears the mix of each of the unit's channels but those its slots use.
    void Reset(int channels);
    // The unit is gone: its slots are told; it ends when it has none.
    void Clear();

    bool Channel2Slot(LGCP::MixerChannel const& channel, mix_slot& out) const;
    bool ClearTX(LGCP::MixerChannel const& channel);
    bool SetTX(LGCP::MixerOutParams const& params);
    // The switch channel of a TDM channel, -1 on failure.
    int channel2timeslot(int channel);

    void PutHeader(std::ostream& os) const;

private:
    friend class MixerFactory;

    MixerSlot* Register(MixerSlot* slot);
    void UnRegister(MixerSlot* slot);
    void CheckForDestroy();
    // A TDM channel of the controller's parameters within the channel
    // bound; out of it the create is refused as invalid.
    bool Bounded(LGCP::MixerChannel const& channel, int& number) const;
    template <class Kind> bool Taken(int channel) const;
    bool Clear(int channel);
    bool Link(unsigned long request, int rx, int tx, int gain);
    // Adds again what the live inputs summed into the channel add to its
    // mix; false when one is refused.
    bool Members(int channel);
    // Whether the live output of the channel names the source in its mix.
    // The driver holds one link per pair, and the output's gain for it
    // wins over an input's full gain, whichever slot came first.
    bool Listed(int channel, int source) const;
    // The channel's mix back to what its live inputs add, no more.
    void Restore(int channel);

    // The factory that found the unit; the one factory when none did.
    MixerFactory& factory() const;

    MixerFactory* mFactory = nullptr;
    int mId;
    bool mDead = false;
    std::vector<MixerSlot*> mSlots;
};

// What both slot kinds are: a TDM channel of a unit on its switch channel,
// with the tone and DSP functions of that switch channel. The receivers'
// events that a kind does not hear are dropped.
class TdmSlot : public MixerSlot, protected Hardware::TonecReceiver, protected Hardware::DSProcReceiver
{
public:
    TdmSlot(Mixer& unit, int channel, int timeslot) : mUnit(unit), mChannel(channel), mTimeslot(timeslot) {}

    bool IBeforeDestroy() override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    int channel() const override { return mChannel; }

protected:
    friend class Mixer;

    // The controls only this kind takes; false for the others.
    virtual bool KindIoctl(LGCP::IoctlParams const& params) = 0;
    // The unit undoes what it programmed for the slot.
    virtual void Release() = 0;
    // A slot deleted without a destroy (refused for a held channel) is
    // still the unit's: its destructor gives it back.
    void ReleaseOnce();

    void tonec_event(Params const&) override {}
    int tonec_timeslot() const override { return mTimeslot; }
    void dsproc_vad_event(Hardware::DSProcVADEvent const&) override {}
    void dsproc_bss_event(::dsproc_bss_event const*) override {}
    void dsproc_sd_event(Hardware::DSProcSDEvent const&) override {}
    void dsproc_tone_flt_event(::dsproc_tone_event const* event) override { processToneFltEvent(event); }
    void dsproc_flags_event(::dsproc_flags_event const* event) override { processFlagsEvent(event); }
    int dsproc_timeslot() const override { return mTimeslot; }

    Mixer& mUnit;
    int mChannel;
    int mTimeslot;
    bool mReleased = false;
};

// A TDM channel of a unit taken into the mixer from the switch; it may add
// itself to the mix of an output channel (its summator).
class TdmInput : public TdmSlot
{
public:
    using TdmSlot::TdmSlot;
    ~TdmInput() override { ReleaseOnce(); }

    bool IOnInputStream() override { return true; }
    int IGetReceiveChannel() override { return mTimeslot; }
    const char* GetName() const override { return "mixer tdm input"; }
    int summator() const { return mSummator; }

private:
    friend class Mixer;

    bool KindIoctl(LGCP::IoctlParams const& params) override;
    void Release() override;
    void tonec_event(Params const& params) override { processTonecEvent(params); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { processVADEvent(event); }
    void dsproc_bss_event(::dsproc_bss_event const* event) override { processBSSEvent(event); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& event) override { processSDEvent(event); }

    bool mHasSummator = false;
    int mSummator = -1;
};

// The mix of a TDM channel of a unit given back to the switch.
class TdmOutput : public TdmSlot
{
public:
    using TdmSlot::TdmSlot;
    ~TdmOutput() override { ReleaseOnce(); }

    bool IOnOutputStream() override { return true; }
    int IGetTransmitChannel() override { return mTimeslot; }
    const char* GetName() const override { return "mixer tdm output"; }

private:
    friend class Mixer;

    bool KindIoctl(LGCP::IoctlParams const& params) override;
    void Release() override;
    void tone_gen_complete() override { processToneGenEvent(); }

    // Its own contributions: source channel and gain.
    std::vector<std::pair<int, int>> mSources;
};

// Finds the units at each resource query and makes their slots; before
// the first query it knows no unit and makes none.
class MixerFactory : public SlotFactory
{
public:
    // At most this many units are asked for and kept.
    static constexpr size_t kMaxUnits = 100;

    static MixerFactory& instance();
    ~MixerFactory() override;

    const char* GetName() const override { return "Mixer"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;

    Mixer* findMixer(int id) const;
    void RefreshResources();
    void QueryDriverVersion();
    // The fewest TDM channels of the units found, -1 before any.
    int tdm_channels() const { return mTdmChannels; }
    int mixer_inputs() const { return mMixerInputs; }
    const std::vector<Mixer*>& units() const { return mUnits; }
    bool version_valid() const { return mVersionValid; }
    const std::array<uint32_t, 5>& version() const { return mVersion; }

    void PutHeader(std::ostream& os) const;

protected:
    MixerFactory() = default;

private:
    friend class Mixer;
    // A unit ends: the factory forgets it.
    void Forget(Mixer* unit);

    bool mVersionValid = false;
    std::array<uint32_t, 5> mVersion{};
    int mMixerInputs = -1;
    int mTdmChannels = -1;
    std::vector<Mixer*> mUnits; // alive, in discovery order
    std::vector<Mixer*> mGone;  // dead, waiting for their slots' release
};

} // namespace Mixer
