#include "board_loop.h"

#include "framework/multiplexer.h"
#include "framework/mux_time.h"
#include "framework/timer.h"

#include <ostream>

namespace boardtest {

namespace {

class Runner {
public:
    Runner(std::function<bool()> done, unsigned max_ms, unsigned passes)
        : mDone(std::move(done)), mStart(Mux::milliseconds()), mMax(max_ms), mPasses(passes)
    {
    }

    bool run()
    {
        mTick.set(0, &Runner::OnTick, this);
        multiplexer.run(false, true);
        mTick.reset();
        return mMet;
    }

private:
    void OnTick()
    {
        if (!mStopping) {
            ++mTicks;
            if (mDone && mDone())
                mMet = mStopping = true;
            else if ((mPasses && mTicks >= mPasses) || Mux::milliseconds() - mStart >= mMax)
                mStopping = true;
            if (mStopping)
                multiplexer.terminate();
        }
        // The pass that sees the flag must not sit in poll.
        mTick.set(mPasses ? 0 : 1, &Runner::OnTick, this);
    }

    std::function<bool()> mDone;
    uint32_t mStart;
    unsigned mMax;
    unsigned mPasses;
    unsigned mTicks = 0;
    bool mMet = false;
    bool mStopping = false;
    Timer mTick;
};

} // namespace

bool RunUntil(std::function<bool()> done, unsigned max_ms)
{
    return Runner(std::move(done), max_ms, 0).run();
}

void Settle()
{
    Runner(nullptr, 5000, 10).run();
}

Capture::Capture(std::ostream& stream) : mStream(stream), mOld(stream.rdbuf(mText.rdbuf())) {}

Capture::~Capture()
{
    mStream.rdbuf(mOld);
}

std::string Capture::take()
{
    std::string s = mText.str();
    mText.str("");
    return s;
}

size_t Capture::count(const std::string& part) const
{
    std::string s = mText.str();
    size_t n = 0;
    for (size_t at = s.find(part); at != std::string::npos; at = s.find(part, at + part.size()))
        ++n;
    return n;
}

} // namespace boardtest
