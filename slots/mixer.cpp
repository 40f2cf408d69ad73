#include "slots/mixer.h"

#include "board/device.h"
#include "board/device_names.h"
#include "core/slots.h"
#include "framework/fd.h"
#include "protocol/lgcp.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <iostream>

namespace Mixer {

using namespace MixerRequest;

int mixer_ctl(int request, ...)
{
    va_list args;
    va_start(args, request);
    void* record = va_arg(args, void*);
    va_end(args);
    Fd fd(Device::Open(GetMixerDevName(), O_RDONLY));
    if (!fd)
        return -1;
    // The request words are 32 bits: no sign reaches the device.
    int result = Device::Request(fd.lowlevel_fd(), static_cast<uint32_t>(request), record);
    int error = errno;
    fd.close();
    errno = error;
    return result;
}

Mixer::Mixer(int id) : mId(id) {}

Mixer::~Mixer()
{
    factory().Forget(this);
}

MixerFactory& Mixer::factory() const
{
    return mFactory ? *mFactory : MixerFactory::instance();
}

void Mixer::PutHeader(std::ostream& os) const
{
    os << "mixer [" << mId << "]: ";
}

MixerSlot* Mixer::Register(MixerSlot* slot)
{
    mSlots.push_back(slot);
    return slot;
}

void Mixer::UnRegister(MixerSlot* slot)
{
    mSlots.erase(std::remove(mSlots.begin(), mSlots.end(), slot), mSlots.end());
    CheckForDestroy();
}

void Mixer::CheckForDestroy()
{
    if (mSlots.empty() && mDead)
        delete this;
}

void Mixer::Clear()
{
    std::vector<MixerSlot*> slots = mSlots;
    for (MixerSlot* slot : slots)
        Slot::OnAbort(slot, 0);
    CheckForDestroy();
}

bool Mixer::Channel2Slot(LGCP::MixerChannel const& channel, mix_slot& out) const
{
    out = mix_slot{mId, 0, 0};
    if (!channel.tdm_isSelected())
        return false;
    out.type = kTdm;
    out.number = channel.get_tdm().getValue();
    return true;
}

int Mixer::channel2timeslot(int channel)
{
    mix_slot slot{mId, kTdm, channel};
    int result = mixer_ctl(static_cast<int>(MIX_TDM), &slot);
    if (result >= 0)
        return result;
    Errno error;
    PutHeader(std::cerr);
    std::cerr << "MIX_TDM" << " dev_no=" << mId << " type=" << kTdm << " number=" << channel << " fail : " << error
              << std::endl;
    return -1;
}

bool Mixer::Clear(int channel)
{
    mix_slot slot{mId, kTdm, channel};
    if (mixer_ctl(static_cast<int>(MIX_RX_CLEAR), &slot) >= 0)
        return true;
    Errno error;
    PutHeader(std::cerr);
    std::cerr << "MIX_RX_CLEAR" << " dev_no=" << slot.dev_no << " type=" << slot.type << " number=" << slot.number
              << " fail : " << error << std::endl;
    return false;
}

bool Mixer::Link(unsigned long request, int rx, int tx, int gain)
{
    mix_rx_link link{{mId, kTdm, rx}, {mId, kTdm, tx}, gain};
    if (mixer_ctl(static_cast<int>(request), &link) >= 0)
        return true;
    Errno error;
    PutHeader(std::cerr);
    if (request == MIX_RX_ADD)
        std::cerr << "MIX_RX_ADD" << " fail : " << error << std::endl;
    else
        std::cerr << "MIX_RX_REMOVE" << " rx.number=" << rx << " tx.number=" << tx << " fail : " << error << std::endl;
    return false;
}

bool Mixer::ClearTX(LGCP::MixerChannel const& channel)
{
    mix_slot slot;
    if (!Channel2Slot(channel, slot)) {
        PutHeader(std::clog);
        std::clog << "ClearTX error: translation fail" << std::endl;
        return false;
    }
    return Clear(slot.number);
}

bool Mixer::Members(int channel)
{
    bool added = true;
    for (MixerSlot* slot : mSlots) {
        auto* input = dynamic_cast<TdmInput*>(slot);
        if (input && input->mSummator == channel)
            added = Link(MIX_RX_ADD, channel, input->mChannel, kFullGain) && added;
    }
    return added;
}

bool Mixer::Listed(int channel, int source) const
{
    for (MixerSlot* slot : mSlots) {
        auto* output = dynamic_cast<TdmOutput*>(slot);
        for (size_t i = 0; output && output->mChannel == channel && i < output->mSources.size(); ++i)
            if (output->mSources[i].first == source)
                return true;
    }
    return false;
}

void Mixer::Restore(int channel)
{
    Clear(channel);
    Members(channel);
}

bool Mixer::SetTX(LGCP::MixerOutParams const& params)
{
    if (!ClearTX(params.get_channel()))
        return false;
    mix_slot rx, tx;
    // Inputs made before the output keep their place in its mix.
    if (Channel2Slot(params.get_channel(), rx) && !Members(rx.number))
        return false;
    if (params.get_inputs().empty()) {
        if (!Channel2Slot(params.get_channel(), rx)) {
            PutHeader(std::cerr);
            std::cerr << "SetTX error: mixer translation fail" << std::endl;
            return false;
        }
        return Link(MIX_RX_ADD, rx.number, rx.number, kFullGain);
    }
    for (const LGCP::MixerInput& input : params.get_inputs()) {
        if (!Channel2Slot(params.get_channel(), rx)) {
            PutHeader(std::cerr);
            std::cerr << "SetTX error: translation fail [1]" << std::endl;
            return false;
        }
        if (!Channel2Slot(input.get_channel(), tx)) {
            PutHeader(std::cerr);
            std::cerr << "SetTX error: translation fail [2]" << std::endl;
            return false;
        }
        if (!Link(MIX_RX_ADD, rx.number, tx.number, input.get_gain().getValue()))
            return false;
    }
    return true;
}

bool Mixer::Bounded(LGCP::MixerChannel const& channel, int& number) const
{
    number = channel.get_tdm().getValue();
    if (number >= 0 && number < factory().tdm_channels())
        return true;
    Answer::Refuse(Answer::invalidParams);
    return false;
}

template <class Kind> bool Mixer::Taken(int channel) const
{
    for (MixerSlot* slot : mSlots) {
        if (dynamic_cast<Kind*>(slot) && slot->channel() == channel) {
            PutHeader(std::cerr);
            std::cerr << "channel " << channel << " is taken by " << *slot << std::endl;
            return true;
        }
    }
    return false;
}

TdmInput* Mixer::New(LGCP::MixerInParams const& params)
{
    int n, s = -1;
    if (!params.get_channel().tdm_isSelected() || !Bounded(params.get_channel(), n))
        return nullptr;
    bool summator = params.summator_isPresent() && params.get_summator().tdm_isSelected();
    // Checked before anything is programmed, so a refusal leaves no trace.
    if (summator && !Bounded(params.get_summator(), s))
        return nullptr;
    if (Taken<TdmInput>(n))
        return nullptr;
    int ts = channel2timeslot(n);
    if (ts < 0)
        return nullptr;
    // A source the summator's output lists is in its mix already. One the
    // driver will not take is refused before the input exists.
    if (summator && !Listed(s, n) && !Link(MIX_RX_ADD, s, n, kFullGain))
        return nullptr;
    auto* input = new TdmInput(*this, n, ts);
    if (summator) {
        input->mSummator = s;
        input->mHasSummator = true;
    } else if (params.summator_isPresent()) {
        PutHeader(std::cerr);
        std::cerr << "wrong summator coding !" << std::endl;
    }
    if (params.ecm_isPresent()) {
        const LGCP::EchoCancelMode& ecm = params.get_ecm();
        input->echoCancel(ecm.get_ec() || ecm.get_es());
    }
    Register(input);
    return input;
}

TdmOutput* Mixer::New(LGCP::MixerOutParams const& params)
{
    int n, m;
    if (!params.get_channel().tdm_isSelected() || !Bounded(params.get_channel(), n))
        return nullptr;
    for (const LGCP::MixerInput& input : params.get_inputs()) {
        if (!input.get_channel().tdm_isSelected()) {
            PutHeader(std::cerr);
            std::cerr << "SetTX error: translation fail [2]" << std::endl;
            return nullptr;
        }
        if (!Bounded(input.get_channel(), m))
            return nullptr;
    }
    if (Taken<TdmOutput>(n))
        return nullptr;
    int ts = channel2timeslot(n);
    if (ts < 0)
        return nullptr;
    if (!SetTX(params)) {
        // A refused output leaves no mix of its own behind.
        Restore(n);
        return nullptr;
    }
    auto* output = new TdmOutput(*this, n, ts);
    for (const LGCP::MixerInput& input : params.get_inputs())
        output->mSources.emplace_back(input.get_channel().get_tdm().getValue(), input.get_gain().getValue());
    if (output->mSources.empty())
        output->mSources.emplace_back(n, kFullGain);
    Register(output);
    return output;
}

// A slot going while it sends digits leaves silence, not half a digit.
static void StopDigits(Hardware::TonecReceiver& tones)
{
    if (tones.is_inDTMFTransmit()) {
        tones.enableSilence();
        tones.disableToneGenerator(true);
    }
}

void Mixer::Release(TdmInput& input)
{
    StopDigits(input);
    // A source the summator's output lists stays, at the output's gain.
    if (input.mSummator >= 0 && !Listed(input.mSummator, input.mChannel))
        Link(MIX_RX_REMOVE, input.mSummator, input.mChannel, kFullGain);
    UnRegister(&input);
}

void Mixer::Release(TdmOutput& output)
{
    StopDigits(output);
    PutHeader(std::clog);
    std::clog << "clear tdm output " << output.mChannel << std::endl;
    Restore(output.mChannel);
    UnRegister(&output);
}

void Mixer::Reset(int channels)
{
    PutHeader(std::clog);
    std::clog << "clear all inputs" << std::endl;
    int failures = 0;
    for (int c = 0; c < channels; ++c) {
        // The mixes of slots still held (a unit that came back) stay.
        bool held = false;
        for (MixerSlot* slot : mSlots) {
            auto* input = dynamic_cast<TdmInput*>(slot);
            held = held || (input ? input->summator() == c : slot->channel() == c);
        }
        mix_slot slot{mId, kTdm, c};
        if (!held && mixer_ctl(static_cast<int>(MIX_RX_CLEAR), &slot) < 0)
            ++failures;
    }
    if (failures) {
        PutHeader(std::cerr);
        std::cerr << "reset fail: " << failures << " errors." << std::endl;
    }
}

} // namespace Mixer
