// A D channel between two LAPD entities on a hand-driven clock (tests and
// benchmarks only). Each way is a line of its own: a transmit queue drained
// at the line rate, that refuses a frame once the frames before it would
// take longer than its limit to send, and a loss rule applied to what
// arrives. Without a rate a frame arrives at once.
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

} // namespace lapdwire
