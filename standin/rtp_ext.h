#pragma once

#include "board/rtp_driver.h"
#include "standin/board.h"

#include <deque>
#include <vector>

// The RTP header-extension driver behind /dev/rtp_ext: each open keeps its
// init and attach records and its source filter, announces queued packets
// with their sender, and keeps what the daemon wrote.

namespace Standin {

class RtpExt : public Driver {
public:
    struct Session {
        bool inited = false;
        rtp_ext_init_params init{};
        bool attached = false;
        rtp_ext_attach_session_params attach{};
        bool filtered = false;
        in_addr filter{};
        int filterRequests = 0; // set and remove requests taken
        std::deque<rtp_ext_packet_info> pending; // announced in order
        std::vector<Frame> written;
    };

    bool OnOpen(Channel& channel) override;
    void OnClose(Channel& channel) override;
    int OnRequest(Channel& channel, unsigned long code, void* arg) override;
    void OnFrame(Channel& channel, const Frame& frame) override;

    // The open sessions, oldest first (call Board::Prune first).
    std::vector<Session*> Sessions() const;
    // A packet from a sender for every open session; the number that got it.
    size_t Receive(const Frame& packet, in_addr from, uint32_t ssrc);
    // Detach requests taken, over all sessions.
    int detaches() const { return mDetaches; }

private:
    std::vector<Channel*> mChannels;
    int mDetaches = 0;
};

} // namespace Standin
