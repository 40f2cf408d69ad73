#include "slots/mixer.h"

#include "board/device.h"
#include "board/device_names.h"
#include "board/hw_mux.h"
#include "board/rtp_driver.h"
#include "core/slots.h"
#include "framework/fd.h"
#include "protocol/lgcp.h"

#include <fcntl.h>

#include <algorithm>
#include <climits>
#include <iostream>
#include <set>

namespace Mixer {

namespace {

// A number from the controller that a driver record holds in fewer bits:
// out of range the command is refused as invalid, never cut.
bool Fits(int value, int low, int high, const char* what)
{
    if (value >= low && value <= high)
        return true;
    std::cerr << "mixer: " << what << " " << value << " is outside " << low << ".." << high << std::endl;
    Answer::Refuse(Answer::invalidParams);
    return false;
}

} // namespace

bool TdmSlot::IBeforeDestroy()
{
    HwMux::instance().Disable(mTimeslot);
    ReleaseOnce();
    return true;
}

void TdmSlot::ReleaseOnce()
{
    // The unit may end with its last slot: it is not touched again.
    if (mReleased)
        return;
    mReleased = true;
    Release();
}

bool TdmSlot::Ioctl(LGCP::IoctlParams const& p)
{
    using P = LGCP::IoctlParams;
    switch (p.currentSelection()) {
    case P::translateDTMF_chosen:
        // Digits the tone generator refused were not sent: the controller's error.
        if (translateDTMF(p.get_translateDTMF()))
            return true;
        Answer::Refuse(Answer::invalidParams);
        return false;
    case P::dtmf_params_chosen:
        return configureDTMF(p.get_dtmf_params());
    case P::vad_enable_chosen:
        return enableVAD(p.get_vad_enable());
    case P::vad_disable_chosen:
        return disableVAD();
    case P::vad_params_chosen:
        return configureVAD(p.get_vad_params());
    case P::sd_enable_chosen:
        return enableSD(p.get_sd_enable());
    case P::sd_disable_chosen:
        return disableSD();
    case P::sd_params_chosen:
        return configureSD();
    case P::iva_enable_chosen:
        return enableIVA(p.get_iva_enable());
    case P::tone_filter_chosen: {
        const LGCP::ToneFilter& f = p.get_tone_filter();
        configureToneFilter(f.get_freq().getValue(), f.get_enable(), f.get_duration_th_msec().getValue(),
                            f.get_det_level_dB().getValue());
        return true;
    }
    case P::delays_chosen: {
        const LGCP::Delays& d = p.get_delays();
        configureDelays(d.rx_isPresent() ? d.get_rx().getValue() : 0, d.tx_isPresent() ? d.get_tx().getValue() : 0);
        return true;
    }
    default:
        return KindIoctl(p);
    }
}

bool TdmInput::KindIoctl(LGCP::IoctlParams const& p)
{
    using P = LGCP::IoctlParams;
    switch (p.currentSelection()) {
    case P::echoSuppressor_chosen:
        return echoCancel(p.get_echoSuppressor());
    case P::dtmf_enable_chosen:
        return enableDTMF(p.get_dtmf_enable());
    case P::dtmf_reject_enable_chosen:
        return enableDTMFReject(p.get_dtmf_reject_enable());
    case P::iva_params_chosen:
        return configureIVA(p.get_iva_params());
    case P::rx_gain_chosen: {
        int gain = p.get_rx_gain().get_gainDB().getValue();
        if (!Fits(gain, SCHAR_MIN, SCHAR_MAX, "gain"))
            return false;
        configureRxGain(static_cast<signed char>(gain));
        return true;
    }
    default:
        return false;
    }
}

void TdmInput::Release()
{
    mUnit.Release(*this);
}

bool TdmOutput::KindIoctl(LGCP::IoctlParams const& p)
{
    using P = LGCP::IoctlParams;
    switch (p.currentSelection()) {
    case P::dtmf_disable_chosen:
        return disableToneGenerator(false);
    case P::dtmf_reject_disable_chosen:
        return enableDTMFReject(false);
    case P::tone_gen_enable_chosen: {
        const LGCP::ToneGenerator& tone = p.get_tone_gen_enable();
        int freq = tone.get_freq().getValue(), amp = tone.get_amp().getValue();
        if (!Fits(freq, 0, USHRT_MAX, "tone frequency") || !Fits(amp, 0, USHRT_MAX, "tone amplitude"))
            return false;
        disableToneGenerator(false);
        enableToneGenerator(static_cast<unsigned short>(freq), 0, static_cast<unsigned short>(amp), 0);
        return true;
    }
    case P::tone_gen_disable_chosen:
        disableToneGenerator(true);
        return true;
    default:
        return false;
    }
}

void TdmOutput::Release()
{
    mUnit.Release(*this);
}

MixerFactory& MixerFactory::instance()
{
    static MixerFactory factory;
    return factory;
}

MixerFactory::~MixerFactory()
{
    // Slots are gone by now; a unit's destructor takes itself off the lists.
    while (!mUnits.empty())
        delete mUnits.back();
    while (!mGone.empty())
        delete mGone.back();
}

void MixerFactory::PutHeader(std::ostream& os) const
{
    os << "mixer: ";
}

void MixerFactory::Forget(Mixer* unit)
{
    mUnits.erase(std::remove(mUnits.begin(), mUnits.end(), unit), mUnits.end());
    mGone.erase(std::remove(mGone.begin(), mGone.end(), unit), mGone.end());
}

Mixer* MixerFactory::findMixer(int id) const
{
    for (Mixer* unit : mUnits)
        if (!unit->isDead() && unit->id() == id)
            return unit;
    return nullptr;
}

Slot* MixerFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (params.mixerOut_isSelected()) {
        Mixer* unit = findMixer(params.get_mixerOut().get_unit().getValue());
        return unit ? unit->New(params.get_mixerOut()) : nullptr;
    }
    if (params.mixerIn_isSelected()) {
        Mixer* unit = findMixer(params.get_mixerIn().get_unit().getValue());
        return unit ? unit->New(params.get_mixerIn()) : nullptr;
    }
    return nullptr;
}

static void Smallest(int& kept, int found)
{
    kept = kept < 0 ? found : std::min(kept, found);
}

void MixerFactory::RefreshResources()
{
    for (Mixer* unit : mUnits)
        unit->mDead = true;
    mix_resources record{-1, 0, 0, 0};
    mMixerInputs = mTdmChannels = -1;
    // Bounded by the units this pass found, and ended by a unit named
    // twice: a driver that repeats itself would keep the walk going for ever.
    std::set<int> seen;
    while (seen.size() < kMaxUnits) {
        if (mixer_ctl(static_cast<int>(MixerRequest::MIX_RESOURCES), &record) < 0)
            break;
        if (!seen.insert(record.dev_no).second) {
            PutHeader(std::cerr);
            std::cerr << "unit " << record.dev_no << " reported twice, no more units asked for" << std::endl;
            break;
        }
        Smallest(mMixerInputs, record.mixer_inputs);
        Smallest(mTdmChannels, record.tdm_channels);
        auto same = [&](Mixer* u) { return u->id() == record.dev_no; };
        auto known = std::find_if(mUnits.begin(), mUnits.end(), same);
        if (known != mUnits.end()) {
            (*known)->mDead = false;
            continue;
        }
        auto back = std::find_if(mGone.begin(), mGone.end(), same);
        Mixer* unit;
        if (back != mGone.end()) {
            // The same unit again: its slots keep their mixes.
            unit = *back;
            mGone.erase(back);
            unit->mDead = false;
        } else {
            unit = new Mixer(record.dev_no);
            unit->mFactory = this;
        }
        mUnits.push_back(unit);
        unit->Reset(record.tdm_channels);
    }
    std::vector<Mixer*> dead;
    for (Mixer* unit : mUnits)
        if (unit->isDead())
            dead.push_back(unit);
    for (Mixer* unit : dead) {
        mUnits.erase(std::find(mUnits.begin(), mUnits.end(), unit));
        mGone.push_back(unit);
        unit->Clear(); // may end the unit
    }
    QueryDriverVersion();
}

void MixerFactory::QueryDriverVersion()
{
    Fd fd(Device::Open(GetVoiceDevName(), O_RDONLY));
    if (!fd) {
        Errno error;
        PutHeader(std::cerr);
        std::cerr << "device \"" << GetVoiceDevName() << "\" open fail: " << error << std::endl;
        return;
    }
    uint32_t words[5] = {};
    if (Device::Request(fd.lowlevel_fd(), VoiceRequest::kVersion, words) == -1) {
        mVersionValid = false;
        return;
    }
    mVersionValid = true;
    std::copy(std::begin(words), std::end(words), mVersion.begin());
}

void MixerFactory::Query(LGCP::Resources& resources)
{
    RefreshResources();
    LGCP::MixerResources& list = resources.get_mixer();
    list.clear();
    for (Mixer* unit : mUnits) {
        LGCP::MixerResources_subtype entry;
        entry.set_unit(unit->id());
        entry.set_tdm_inputs(std::max(mTdmChannels, 0));
        entry.set_tdm_outputs(std::max(mTdmChannels, 0));
        entry.set_mixer_inputs(std::max(mMixerInputs, 0));
        entry.set_dpu_per_mixer(770);
        entry.set_dpu_per_ec(17);
        entry.set_dpu_per_lms(24);
        list.push_back(entry);
    }
}

} // namespace Mixer
