#include "framework/trace.h"

#include <gtest/gtest.h>
#include <memory>
#include <sstream>

#include "framework/mux_time.h"
#include "framework/recursive_guard.h"

TEST(TraceBlock, EnterAndLeaveWhenEnabled)
{
    std::ostringstream os;
    {
        Trace::Block b(true, "outer", os);
        Trace::Block off(false, "quiet", os);
        os << "body\n";
    }
    EXPECT_EQ("Enter outer\nbody\nLeave outer\n", os.str());
}

namespace {

// Drives Mux::microseconds through the loop's clock cache.
void at_usec(int usec)
{
    Mux::g_tv_mono = Mux::timeval(100, usec);
}

void sample(Profile::Point& p, int from, int to)
{
    at_usec(from);
    p.begin();
    at_usec(to);
    p.end();
}

struct ClockCache : ::testing::Test
{
    void TearDown() override { Mux::mux_cleartimeofday(); }
};

} // namespace

using ProfilePoint = ClockCache;

TEST_F(ProfilePoint, StatisticsKeepTheLastSampleAsAvg)
{
    // A point on the heap starts from zeros, not from whatever was there.
    auto storage = std::make_unique<unsigned char[]>(sizeof(Profile::Point));
    std::fill(storage.get(), storage.get() + sizeof(Profile::Point), 0xA5);
    Profile::Point* p = new (storage.get()) Profile::Point("heap");
    std::ostringstream os;
    os << *p;
    EXPECT_EQ("[heap]: min=0 max=0 avg=0 counter=0", os.str());

    sample(*p, 0, 30);
    sample(*p, 100, 110);
    sample(*p, 200, 220);
    os.str("");
    os << std::hex << *p;
    EXPECT_EQ("[heap]: min=10 max=30 avg=20 counter=3", os.str());
    p->~Point();

    // The first sample sets min even when it is larger than later ones.
    Profile::Point q("q");
    sample(q, 0, 5);
    EXPECT_EQ(5u, q.measure().min());
    EXPECT_EQ(5u, q.measure().max());
    sample(q, 0, 3);
    EXPECT_EQ(3u, q.measure().min());
    EXPECT_EQ(2u, q.measure().counter());

}

TEST(ProfileList, NewestFirstAndUnlinkedWhereverItStands)
{
    Profile::Point* before = Profile::mRoot;
    auto a = std::make_unique<Profile::Point>("A");
    auto b = std::make_unique<Profile::Point>("B");
    auto c = std::make_unique<Profile::Point>("C");
    std::ostringstream os;
    Profile::dump(os);
    std::string text = os.str();
    EXPECT_EQ(0u, text.find("[C]: min=0 max=0 avg=0 counter=0\n[B]: min=0 max=0 avg=0 counter=0\n[A]:"));

    b.reset();
    EXPECT_EQ(c.get(), Profile::mRoot);
    EXPECT_EQ(a.get(), c->get_next());
    c.reset();
    EXPECT_EQ(a.get(), Profile::mRoot);
    a.reset();
    EXPECT_EQ(before, Profile::mRoot);
}

namespace {

struct Owner
{
    int mRecursionLevel = 0;
    int checks = 0;
    int level_at_check = -1;
    void CheckDisconnect()
    {
        ++checks;
        level_at_check = mRecursionLevel;
    }
    typedef ext::RecursiveGuard<Owner, &Owner::CheckDisconnect, &Owner::mRecursionLevel> Guard;
    void inner() { Guard g(this); }
    void outer()
    {
        Guard g(this);
        inner();
        inner();
        EXPECT_EQ(0, checks);
    }
};

// Deletes itself from its check, as a client does once torn down.
struct SelfDeleting
{
    int mRecursionLevel = 0;
    bool* gone;
    void CheckDisconnect() { *gone = true; delete this; }
    typedef ext::RecursiveGuard<SelfDeleting, &SelfDeleting::CheckDisconnect, &SelfDeleting::mRecursionLevel> Guard;
    void entry()
    {
        Guard g(this);
        Guard nested(this);
    }
};

} // namespace

TEST(RecursiveGuard, CheckRunsOnceWhenTheOutermostEnds)
{
    Owner o;
    o.outer();
    EXPECT_EQ(1, o.checks);
    EXPECT_EQ(0, o.level_at_check);
    EXPECT_EQ(0, o.mRecursionLevel);
    o.inner();
    EXPECT_EQ(2, o.checks);

    bool gone = false;
    (new SelfDeleting{0, &gone})->entry();
    EXPECT_TRUE(gone);
}
