#pragma once

#include "board/rtp_driver.h"
#include "core/slot.h"
#include "framework/fd.h"

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <iosfwd>

namespace LGCP {
class CreateRtpParams;
}
namespace TERM {
class Payload;
}

// What the session set-up leaves for the slot: the driver session on its
// channel and the RTCP socket with the far end's RTCP address.
struct RtpSession {
    Fd session;
    Fd socket;
    rtp_connection_params params{};
    int tdm = -1;
    sockaddr_in peer{};
};

// A driver session begun with the record, with the channel `tdm` added
// (-1: the driver's choice, given back in `tdm`). False when a step fails:
// its one line is logged behind `header` and nothing stays open.
bool BeginRtpSession(rtp_connection_params const& record, int& tdm, uint32_t bss,
                     std::function<void(std::ostream&)> const& header, Fd& session);

// The set-up every RTP kind runs: payload codes, the RTCP socket on the RTP
// port plus one, the begin-session record and the channel. False when a step
// fails: its one line is logged behind `header` and whatever was opened is
// closed again; parameters the driver cannot be given are refused as
// invalidParams.
bool SetUpRtpSession(LGCP::CreateRtpParams const& params, uint32_t bss,
                     std::function<void(std::ostream&)> const& header, RtpSession& out);

// What every RTP kind's factory shares: the codec channel counts of the
// voice driver and the log header that shows them.
class RtpCodecFactory : public SlotFactory
{
public:
    void Query(LGCP::Resources& resources) override;

    void PutHeader(std::ostream& os) const;

    // The driver payload code; 0 for a payload without one.
    static uint16_t translateCodec(TERM::Payload const& payload);
    // The code of the override when it differs and is G.711 A-law or µ-law.
    static uint16_t translateCodec(TERM::Payload const& payload, TERM::Payload const& override);

    uint32_t g729() const { return mG729; }
    uint32_t g723() const { return mG723; }
    uint32_t g711() const { return mG711; }
    uint32_t g711mcc() const { return mG711Mcc; }
    uint32_t universal() const { return mUniversal; }

protected:
    // Runs the first codec query.
    explicit RtpCodecFactory(const char* logName);
    // Asks the voice driver for the codec channel counts.
    void IQuery();

private:
    const char* mLogName;
    uint32_t mG729 = 0;
    uint32_t mG723 = 0;
    uint32_t mG711 = 0;
    uint32_t mG711Mcc = 0;
    uint32_t mUniversal = 0;
};

// Plain RTP channels: the `rtp` creates without a radio.
class RtpFactory : public RtpCodecFactory
{
public:
    static RtpFactory& instance();

    const char* GetName() const override { return "RTP"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;

private:
    RtpFactory() : RtpCodecFactory("rtp") {}
};
