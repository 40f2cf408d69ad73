// The bottom layer of a stream socket. What arrives is passed up as read;
// what the layer above leaves of it (by not pulling it) comes again in the
// next pass, after the loop has served the others. A peer that ends its
// stream has all it sent passed up; the layer goes down once the answers
// have left. Nothing more is passed up once answers can no longer reach
// the peer. What comes down is gathered and written with one call before
// the loop polls again, and what the socket cannot take yet waits in a
// bounded queue until the socket is writable again. Messages that go down
// with the layer before they are written whole are counted.
#pragma once

#include "framework/clean_queue.h"
#include "framework/dpc.h"
#include "framework/event.h"
#include "framework/fd.h"
#include "net/protocol.h"

#include <cstdint>
#include <deque>

class StrmProtocol : public Protocol
{
public:
    // Packets waiting for the socket. Small writes are gathered into the
    // last waiting packet, so this bounds the waiting octets to about
    // queue_size buffers; a peer that leaves them unread is cut off.
    enum { queue_size = 16 };

    // Takes its own duplicate of the connected socket.
    explicit StrmProtocol(Fd const& socket);
    ~StrmProtocol() override;

    Protocol_name const& name() const override { return mName; }

    // Starts reading; the layer is up at once.
    void local_activate() override;
    // Closes the socket and reports success downwards.
    void local_deactivate() override;
    // Writes to the socket; dropped while the layer is down.
    void message(Packet& p) override;
    // A packet fed from outside counts as read from the socket.
    void receive(Packet& p) override;

    // While held, a peer that ended its stream keeps its link: its owner
    // has answers still to send it.
    void hold(bool held);
    // The peer ended its stream, all it sent has been passed up and all
    // that came down has been written: only a hold keeps the link.
    bool drained() const { return mEnded && mQueue.empty(); }

    void protocol_info(std::ostream& os) const override;
    void PutHeader(std::ostream& os) const;

    bool is_active() const { return mActive; }
    int lowlevel_fd() const { return mFd.lowlevel_fd(); }
    unsigned queued() const { return mQueue.count(); }
    unsigned long long bytes_in() const { return mBytesIn; }
    unsigned long long bytes_out() const { return mBytesOut; }
    // Messages that went down with the layer before they were written whole.
    unsigned long dropped() const { return mDropped; }

private:
    void OnEvent(int fd, short revents);
    void hang_up(int fd);
    // Takes the n octets the layers above are done with out of the socket.
    void discard(int fd, unsigned n);
    void OnFlush();
    // Writes what waits, in order, with one call: the number of packets
    // left waiting, or -1 with err set when the socket failed.
    int write_queue(int& err);
    // Writes what waits and watches for room when some is left; false when
    // the link went down.
    bool flush();
    // Ends the link of a peer that ended its stream once nothing waits to
    // be written and nothing is held; true when it did.
    bool finish();
    // False when the link went down.
    bool enqueue(Packet& p);
    // drain: an orderly end hands the socket what waits before closing it.
    void stop(bool drain);
    void fail(std::string text);

    Protocol_name_str mName;
    Fd mFd;
    Event mEvent;
    Dpc mFlush;
    CleanQueue<Packet, queue_size> mQueue;
    bool mActive = false;
    bool mWaitOut = false; // the queue waits for POLLOUT, not for mFlush
    bool mEnded = false;   // the peer's stream has ended
    bool mHeld = false;
    unsigned long long mBytesIn = 0;
    unsigned long long mBytesOut = 0;
    unsigned long long mBytesQueued = 0;
    // Where each message not yet written whole ends, in octets queued
    // (the low 32 bits: far less than that is ever waiting).
    std::deque<uint32_t> mEnds;
    unsigned long mDropped = 0;
};
