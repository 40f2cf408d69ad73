#pragma once

#include "framework/event.h"
#include "framework/fd.h"

#include <cstdint>
#include <iosfwd>

class Packet;

// An HDLC channel as the link layers see it.
class GenericHDLC
{
public:
    virtual ~GenericHDLC();
    // True when the channel took the frame, false when it cannot now.
    virtual bool hdlc_transmit(Packet& frame) = 0;
    virtual bool is_open() const = 0;
    virtual bool is_ready() const = 0;
};

// One HDLC channel of the MCC controller, switched to a TDM channel.
class HDLC : public GenericHDLC
{
public:
    // The channel's listener.
    class Notify
    {
    public:
        struct Cause {
            enum Type {
                read_error = 0, // the channel has closed itself
            };
        };
        virtual ~Notify();
        virtual void on_hdlc_receive(Packet& frame) = 0;
        virtual void on_hdlc_error(Cause::Type cause) = 0;
        // The channel can take frames again after refusing one.
        virtual void on_hdlc_ready() = 0;
    };

    enum Mode { ss7 = 0, pri = 1, bri = 2 };

    struct Params {
        int trunk = 0;
        int timeslot = 0;
        int tdm = -1;  // the line's channel; -1 when not known
        int tdm2 = -1; // a separate channel the line receives on, or -1
        int mode = pri;
    };

    struct Statistics {
        unsigned sent = 0;
        unsigned discarded = 0; // offered while closed
        unsigned errors = 0;    // refused by the device
        unsigned overflows = 0; // longer than the channel's packet size
        unsigned received = 0;
    };

    // Octets of the channel's packets; longer frames go neither way.
    static constexpr unsigned kPacketSize = 512;

    HDLC();
    ~HDLC() override;
    HDLC(const HDLC&) = delete;
    HDLC& operator=(const HDLC&) = delete;

    void bind(Notify* listener) { mNotify = listener; }
    void trunk(int n) { mTrunk = n; }
    void logLevel(int n) { mLogLevel = n; }
    const Params& params() const { return mParams; }
    void params(const Params& p) { mParams = p; }

    // Allocates the channel for the mode, connects it both ways with the
    // TDM channel and watches it. An open channel is closed first.
    bool activate();
    // Closes the channel and idles the switch outputs it fed.
    void deactivate();
    const Statistics& statistics() const { return mStatistics; }
    // The channel's own switch channel, -1 while closed.
    int channel() const { return mChannel; }

    bool hdlc_transmit(Packet& frame) override;
    bool is_open() const override { return mEvent.IsActive(); }
    bool is_ready() const override { return is_open() && mReady; }
    // Closed by its own failure (read error, hang-up) and not opened since:
    // nothing but a new activation brings it back.
    bool lost() const { return mLost; }

    void PutHeader(std::ostream& os) const;

    // The MCC channel kind that carries a mode; false for an unknown mode.
    static bool KindOf(int mode, uint32_t& kind);

private:
    bool Fail(const char* what);
    void OnEvent(int fd, short revents);
    // Reads what is waiting; false once the channel has been closed or
    // this object destroyed.
    bool Receive(int fd, const bool& gone);
    // Idles the switch outputs it fed, then closes.
    void Shutdown();
    void Close();
    void Lost(const char* why);

    Params mParams;
    Event mEvent;
    Notify* mNotify = nullptr;
    int mTrunk = 0;
    int mLogLevel = 0;
    int mChannel = -1; // the MCC channel's switch channel
    int mFedLine = -1; // the line output this channel feeds
    bool mFedChannel = false; // the channel's own output is fed by the line
    bool mReady = false;
    bool mLost = false;
    bool* mGone = nullptr; // set when destroyed inside a callback
    Statistics mStatistics;
};
