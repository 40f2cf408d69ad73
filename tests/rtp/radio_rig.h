#pragma once
// What the radio control tests share: the simulated extension driver with
// its first session, packets queued from a sender, what the control wrote,
// and the reports it hands its slot.

#include "rtp/radio_control.h"
#include "samples/link/loop_driver.h"
#include "standin/board.h"
#include "standin/rtp_ext.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <iostream>
#include <vector>

namespace radiotest {

using Standin::Frame;

inline in_addr Address(const char* dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a;
}

struct Reports : RTPSignalling::IRadioControlNotify {
    void RadioControlNotify(TERM::RtpRadioRequest const& r) override { got.push_back(r); }
    void RadioControlNotify(int code) override { codes.push_back(code); }
    std::vector<TERM::RtpRadioRequest> got;
    std::vector<int> codes;
};

struct ExtRig {
    Standin::RtpExt::Session& Session() { return *ext.Sessions().at(0); }
    // Queues the packets as from one sender.
    void Queue(std::vector<Frame> const& packets, const char* from = "10.0.0.5", uint32_t ssrc = 5)
    {
        for (const Frame& f : packets)
            ASSERT_EQ(ext.Receive(f, Address(from), ssrc), 1u);
    }
    // What the control wrote since the last call.
    std::vector<Frame> Written()
    {
        board.Pump();
        std::vector<Frame> w = Session().written;
        Session().written.clear();
        return w;
    }

    Standin::Board board;
    Standin::RtpExt& ext = board.Get<Standin::RtpExt>("/dev/rtp_ext");
    Fd rtp;
    Reports reports;
    test::Capture err{std::cerr};
};

} // namespace radiotest
