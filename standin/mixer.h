#pragma once

#include "board/mixer_driver.h"
#include "standin/board.h"

#include <map>
#include <set>
#include <string>
#include <vector>

// The conference mixer behind /dev/mixer: units that tests add and remove,
// each with its TDM channels on consecutive switch channels, and the mix
// of every channel. Every request is traced as a line of text.

namespace Standin {

class Mixer : public Driver {
public:
    // The board's one unit: unit 0, 128 TDM channels on bus 13.
    Mixer() { AddUnit(0, 128, 64, 8192 + 13 * 128); }

    // One contribution to a mix: the source channel and its gain.
    using Mix = std::map<int, int>;

    struct Unit {
        int tdmChannels = 0;
        int mixerInputs = 0;
        int firstSwitchChannel = 0;
        std::map<int, Mix> mixes; // output channel -> its contributions
    };

    int OnRequest(Channel& channel, unsigned long code, void* arg) override;

    void AddUnit(int id, int tdmChannels, int mixerInputs, int firstSwitchChannel);
    void RemoveUnit(int id);
    // The unit's mix of a channel (empty when none).
    Mix MixOf(int unit, int channel) const;
    // Every mix of the unit, by output channel (none when there is no unit).
    std::map<int, Mix> Mixes(int unit) const;
    // Every channel of every unit with a contribution.
    size_t Contributions() const;
    // Requests naming the channel of the unit fail with EIO.
    void Break(int unit, int channel) { mBroken.insert({unit, channel}); }
    // The enumeration answers these units in turn, whatever it is asked,
    // then ends: a driver that repeats itself or never ends.
    void Script(std::vector<int> units)
    {
        mScript = std::move(units);
        mScripted = 0;
    }

    // "CLEAR 3:5", "ADD 3:5<3:2*32767", "REMOVE 3:5<3:2", "TDM 3:5",
    // "RESOURCES -1"; a failed request ends in " !".
    const std::vector<std::string>& trace() const { return mTrace; }
    std::vector<std::string> Take();
    // The trace lines that begin with the word.
    size_t Count(const std::string& word) const;

private:
    int Enumerate(mix_resources& record);
    // The unit of a TDM channel, null when there is no such channel.
    Unit* Find(const mix_slot& slot);
    bool Broken(const mix_slot& slot) const { return mBroken.count({slot.dev_no, slot.number}) > 0; }

    std::map<int, Unit> mUnits;
    std::set<std::pair<int, int>> mBroken;
    std::vector<int> mScript;
    size_t mScripted = 0;
    std::vector<std::string> mTrace;
};

} // namespace Standin
