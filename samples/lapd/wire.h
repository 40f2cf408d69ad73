// A D channel between two LAPD entities on a hand-driven clock (tests and
// benchmarks only). Each way is a line of its own: a transmit queue drained
// at the line rate, that refuses a frame once the frames before it would
// take longer than its limit to send, and a loss rule applied to what
// arrives. Without a rate a frame arrives at once. A run offers messages
// both ways over it and waits until all are acknowledged.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

namespace lapdwire {

typedef std::vector<unsigned char> Bytes;

class Line
{
public:
    // bps 0: no rate limit and no queue.
    Line(unsigned bps = 0, unsigned queue_ms = 0) : mBps(bps), mQueueUs(uint64_t(queue_ms) * 1000) {}

    // A frame handed to the line at now (µs); false when the queue is full.
    bool put(Bytes frame, uint64_t now)
    {
        ++offered;
        uint64_t start = mFree > now ? mFree : now;
        if (mBps && start - now > mQueueUs) {
            ++refused;
            return false;
        }
        // Flag, two octets of FCS and a flag around the frame.
        if (mBps)
            mFree = start + (frame.size() + 4) * 8 * uint64_t(1000000) / mBps;
        else
            mFree = now;
        mQueue.emplace_back(mFree, std::move(frame));
        return true;
    }

    // The frames whose last bit has arrived by now, in order, less those
    // the loss rule takes.
    std::vector<Bytes> take(uint64_t now)
    {
        std::vector<Bytes> out;
        while (!mQueue.empty() && mQueue.front().first <= now) {
            if (!lose || !lose(mQueue.front().second))
                out.push_back(std::move(mQueue.front().second));
            else
                ++lost;
            mQueue.pop_front();
        }
        return out;
    }

    bool idle() const { return mQueue.empty(); }

    std::function<bool(Bytes const&)> lose;
    unsigned offered = 0; // frames handed to the line
    unsigned refused = 0; // by the full queue
    unsigned lost = 0;    // by the loss rule

private:
    unsigned mBps;
    uint64_t mQueueUs;
    uint64_t mFree = 0; // when the last frame queued has been sent
    std::deque<std::pair<uint64_t, Bytes>> mQueue;
};

// The i-th message of a run from one end: one call reference both ways,
// as the BRI network side routes by it, and not a SETUP.
inline Bytes message(unsigned i, bool from_a)
{
    return {0x08, 0x01, uint8_t(from_a ? 0x81 : 0x01), 0x7B, uint8_t(i), uint8_t(i >> 8)};
}

// One end of a run, as the wire sees it.
class End
{
public:
    virtual ~End() = default;
    virtual std::vector<Bytes> take_frames() = 0; // sent since the last call
    virtual void on_frame(Bytes const& frame) = 0;
    virtual void offer(Bytes const& message) = 0;
    virtual unsigned waiting() const = 0;     // messages taken, not yet sent
    virtual unsigned outstanding() const = 0; // sent, not yet acknowledged

    std::vector<Bytes> messages; // handed up, in order
};

// Two ends over a line each way on one hand-driven clock, which clock
// moves by the given step.
class Run
{
public:
    Run(End& a, End& b, std::function<void(unsigned ms)> clock) : mA(a), mB(b), mClock(std::move(clock)) {}

    // Hands the lines what both ends sent and delivers what has arrived;
    // true when something moved.
    bool step()
    {
        std::vector<Bytes> from_a = mA.take_frames(), from_b = mB.take_frames();
        for (Bytes& f : from_a)
            ab.put(f, now);
        for (Bytes& f : from_b)
            ba.put(f, now);
        frames += unsigned(from_a.size() + from_b.size());
        std::vector<Bytes> to_b = ab.take(now), to_a = ba.take(now);
        for (Bytes const& f : to_b)
            mB.on_frame(f);
        for (Bytes const& f : to_a)
            mA.on_frame(f);
        return !from_a.empty() || !from_b.empty() || !to_a.empty() || !to_b.empty();
    }
    void pump()
    {
        while (step()) {
        }
    }
    void tick(unsigned ms)
    {
        for (unsigned i = 0; i < ms; i += 10) {
            mClock(10);
            now += 10000;
            step();
        }
    }
    // n messages each way, offered while few wait, until all are
    // acknowledged and the lines idle. A bound on time and frames: a storm
    // ends here, not in memory.
    void exchange(unsigned n)
    {
        unsigned from_a = 0, from_b = 0;
        for (int t = 0; t < 20000 && frames < 100000; ++t) {
            while (from_a < n && mA.waiting() < 16)
                mA.offer(message(from_a++, true));
            while (from_b < n && mB.waiting() < 16)
                mB.offer(message(from_b++, false));
            if (from_a == n && from_b == n && settled())
                return;
            tick(10);
        }
    }
    bool settled() const
    {
        return !mA.waiting() && !mA.outstanding() && !mB.waiting() && !mB.outstanding() && ab.idle() && ba.idle();
    }

    Line ab, ba;
    unsigned frames = 0; // handed to the lines
    uint64_t now = 0;    // µs

private:
    End& mA;
    End& mB;
    std::function<void(unsigned)> mClock;
};

} // namespace lapdwire
