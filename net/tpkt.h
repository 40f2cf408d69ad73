// TPKT framing (RFC 1006) over a byte stream: each frame is the octets
// {3, 0, length high, length low} followed by the payload, the length
// counting the header too.
#pragma once

#include "net/protocol.h"

class Tpkt_protocol : public Protocol
{
public:
    enum { header_size = 4, version = 3 };
    // The largest payload a frame can carry.
    enum { max_payload = 0xFFFF - header_size };
    // Whole frames passed up per receive, so one read of many small frames
    // does not hold up the loop (a command may take milliseconds).
    enum { frames_per_receive = 64 };

    Tpkt_protocol();

    Protocol_name const& name() const override { return mName; }

    void local_prepare_head(Packet& p) override;
    void local_activate() override;
    void local_deactivate() override;
    void on_deactivate(Protocol_status status) override;

    // Frames a payload and sends it down. A payload too long for one frame
    // is refused with a status report.
    void message(Packet& p) override;
    // Any slice of the stream: whole frames go up one by one, at most
    // frames_per_receive of them; what follows them is left in the packet.
    void receive(Packet& p) override;

    void protocol_info(std::ostream& os) const override;

    // Frames sent and received, for the status dump.
    unsigned long frames_in() const { return mFramesIn; }
    unsigned long frames_out() const { return mFramesOut; }

private:
    void send_frame(Packet& p);
    void reset();
    // Stops on a broken header; false when the link must go down.
    bool header_complete();
    void fail(std::string text);

    Protocol_name_str mName;
    bool mActive = false;
    unsigned char mHeader[header_size];
    unsigned mHeaderLen = 0;
    unsigned mPayloadLen = 0;   // of the frame being gathered
    Packet mPending;            // its payload so far
    unsigned long mFramesIn = 0;
    unsigned long mFramesOut = 0;
};
