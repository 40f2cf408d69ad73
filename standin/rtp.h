#pragma once

#include "board/rtp_driver.h"
#include "standin/board.h"

#include <array>
#include <cstddef>
#include <map>
#include <vector>

// The RTP session driver behind /dev/rtp and the voice driver's codec query
// behind /dev/voice. Both log every request they take, in order; failures
// come from Board::FailOpen and Board::FailRequest.

namespace Standin {

// One request as the driver saw it: the open it came on and its record.
struct Logged {
    int open; // the driver's number of the open, from 1
    unsigned long code;
    std::vector<unsigned char> record;
};

class Rtp : public Driver {
public:
    // Sessions take switch channels from here on.
    static constexpr int kFirstChannel = 8192 + 8 * 128;
    static constexpr int kChannels = 128;

    struct Session {
        int open = 0;
        bool begun = false;
        rtp_connection_params params{};
        int tdm = -1;
        uint32_t bss = 0;
        bool transmitting = false;
        bool pd = false;
        uint32_t pdTimeout = 0;
        int teardowns = 0; // tear-down commands taken
    };

    bool OnOpen(Channel& channel) override;
    void OnClose(Channel& channel) override;
    int OnRequest(Channel& channel, unsigned long code, void* arg) override;

    const std::vector<Logged>& log() const { return mLog; }
    std::vector<unsigned long> codes() const;
    void ClearLog() { mLog.clear(); }

    // The open session holding the switch channel; null when none.
    const Session* At(int tdm) const;
    size_t open() const { return mChannels.size(); }
    // Queues a record on the session of the channel for the daemon to read;
    // false when no open session holds it.
    bool Raise(int tdm, const void* data, size_t size);
    bool Raise(int tdm, rtp_event const& event) { return Raise(tdm, &event, sizeof event); }
    // The driver ends the session of the channel (the daemon sees a hang-up).
    bool Hangup(int tdm);

private:
    Session& Of(Channel& channel);
    Channel* ChannelOf(int tdm) const;

    std::vector<Channel*> mChannels;
    std::vector<Logged> mLog;
    int mOpens = 0;
};

class Voice : public Driver {
public:
    Voice();
    int OnRequest(Channel& channel, unsigned long code, void* arg) override;

    // What the codec query answers for a mask.
    void SetChannels(uint32_t mask, int count) { mCounts[mask] = count; }
    // The masks asked, in order.
    const std::vector<uint32_t>& masks() const { return mMasks; }
    // What the version request answers.
    void SetVersion(std::array<uint32_t, 5> const& words) { mVersion = words; }

private:
    std::map<uint32_t, int> mCounts;
    std::vector<uint32_t> mMasks;
    std::array<uint32_t, 5> mVersion{{1, 0, 0, 0, 0}};
};

} // namespace Standin
