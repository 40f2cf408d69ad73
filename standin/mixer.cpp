#include "standin/mixer.h"

#include "standin/event_driver.h"

#include <cerrno>
#include <sstream>
#include <utility>

namespace Standin {

namespace {

std::ostream& operator<<(std::ostream& os, const mix_slot& s)
{
    os << s.dev_no << ":";
    if (s.type != 0) // 0: a TDM channel
        os << "type" << s.type << ":";
    return os << s.number;
}

} // namespace

void Mixer::AddUnit(int id, int tdmChannels, int mixerInputs, int firstSwitchChannel)
{
    Unit& unit = mUnits[id];
    unit = Unit{tdmChannels, mixerInputs, firstSwitchChannel, {}};
}

void Mixer::RemoveUnit(int id)
{
    mUnits.erase(id);
}

Mixer::Mix Mixer::MixOf(int unit, int channel) const
{
    auto u = mUnits.find(unit);
    if (u == mUnits.end())
        return {};
    auto m = u->second.mixes.find(channel);
    return m == u->second.mixes.end() ? Mix{} : m->second;
}

std::map<int, Mixer::Mix> Mixer::Mixes(int unit) const
{
    auto u = mUnits.find(unit);
    return u == mUnits.end() ? std::map<int, Mix>{} : u->second.mixes;
}

size_t Mixer::Contributions() const
{
    size_t n = 0;
    for (const auto& unit : mUnits)
        for (const auto& mix : unit.second.mixes)
            n += mix.second.size();
    return n;
}

std::vector<std::string> Mixer::Take()
{
    return std::exchange(mTrace, {});
}

size_t Mixer::Count(const std::string& word) const
{
    size_t n = 0;
    for (const std::string& line : mTrace)
        if (line.compare(0, word.size() + 1, word + " ") == 0)
            ++n;
    return n;
}

Mixer::Unit* Mixer::Find(const mix_slot& slot)
{
    auto it = mUnits.find(slot.dev_no);
    if (it == mUnits.end() || slot.type != 0 || slot.number < 0
        || slot.number >= it->second.tdmChannels)
        return nullptr;
    return &it->second;
}

int Mixer::Enumerate(mix_resources& record)
{
    int next;
    if (!mScript.empty()) {
        if (mScripted >= mScript.size())
            return Refuse(ENODEV);
        next = mScript[mScripted++];
    } else {
        auto it = record.dev_no < 0 ? mUnits.begin() : mUnits.upper_bound(record.dev_no);
        if (it == mUnits.end())
            return Refuse(ENODEV);
        next = it->first;
    }
    auto unit = mUnits.find(next);
    record.dev_no = next;
    record.tdm_channels = unit == mUnits.end() ? 32 : unit->second.tdmChannels;
    record.mixer_inputs = unit == mUnits.end() ? 64 : unit->second.mixerInputs;
    return 0;
}

int Mixer::OnRequest(Channel&, unsigned long code, void* arg)
{
    if (!arg)
        return Refuse(EFAULT);
    std::ostringstream line;
    int result = -1;
    int error = EINVAL;
    switch (code) {
    case MixerRequest::MIX_RX_CLEAR: {
        auto slot = Record<mix_slot>(arg);
        line << "CLEAR " << slot;
        if (Unit* unit = Find(slot); unit && !Broken(slot)) {
            unit->mixes.erase(slot.number);
            result = 0;
        }
        break;
    }
    case MixerRequest::MIX_RX_ADD:
    case MixerRequest::MIX_RX_REMOVE: {
        auto link = Record<mix_rx_link>(arg);
        bool add = code == MixerRequest::MIX_RX_ADD;
        line << (add ? "ADD " : "REMOVE ") << link.rx << "<" << link.tx;
        if (add)
            line << "*" << link.gain;
        Unit* unit = Find(link.rx);
        // A mix takes only channels of its own unit.
        if (!unit || unit != Find(link.tx) || Broken(link.rx) || Broken(link.tx))
            break;
        Mix& mix = unit->mixes[link.rx.number];
        if (add) {
            mix[link.tx.number] = link.gain;
            result = 0;
        } else if (mix.erase(link.tx.number)) {
            result = 0;
        } else {
            error = ENOENT;
        }
        if (mix.empty())
            unit->mixes.erase(link.rx.number);
        break;
    }
    case MixerRequest::MIX_TDM: {
        auto slot = Record<mix_slot>(arg);
        line << "TDM " << slot;
        if (Unit* unit = Find(slot); unit && !Broken(slot))
            result = unit->firstSwitchChannel + slot.number;
        break;
    }
    case MixerRequest::MIX_RESOURCES: {
        mix_resources record;
        std::memcpy(&record, arg, sizeof record);
        line << "RESOURCES " << record.dev_no;
        result = Enumerate(record);
        error = ENODEV;
        if (result == 0)
            std::memcpy(arg, &record, sizeof record);
        break;
    }
    default:
        return Refuse(ENOTTY);
    }
    if (result < 0)
        line << " !";
    Note(mTrace, line.str());
    return result < 0 ? Refuse(error) : result;
}

} // namespace Standin
