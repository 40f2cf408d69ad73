#include "framework/trace.h"

#include <gtest/gtest.h>
#include <memory>
#include <sstream>

#include "framework/mux_time.h"
#include "framework/recursive_guard.h"

namespace {

void sample(Profile::Point& p, int from, int to)
{
    Mux::g_tv_mono = Mux::timeval(100, from);
    p.begin();
    Mux::g_tv_mono = Mux::timeval(100, to);
    p.end();
    Mux::mux_cleartimeofday();
}

} // namespace

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

TEST(ProfilePoint, StatisticsAndListOrder)
{
    Profile::Point* const old = Profile::mRoot;
    // A point on the heap starts from zeros, not from whatever was there.
    auto storage = std::make_unique<unsigned char[]>(sizeof(Profile::Point));
    std::fill(storage.get(), storage.get() + sizeof(Profile::Point), 0xA5);
    Profile::Point* p = new (storage.get()) Profile::Point("heap");
    std::ostringstream os;
    os << *p;
    EXPECT_EQ("[heap]: min=0 max=0 avg=0 counter=0", os.str());
    // avg shows the last sample; the first sample sets min even when larger.
    sample(*p, 0, 30);
    sample(*p, 100, 110);
    sample(*p, 200, 220);
    os.str("");
    os << std::hex << *p;
    EXPECT_EQ("[heap]: min=10 max=30 avg=20 counter=3", os.str());

    // Newest first; a point unlinks itself wherever it stands.
    auto b = std::make_unique<Profile::Point>("B");
    auto c = std::make_unique<Profile::Point>("C");
    os.str("");
    Profile::dump(os);
    EXPECT_EQ(0u, os.str().find("[C]: min=0 max=0 avg=0 counter=0\n[B]: min=0 max=0 avg=0 counter=0\n[heap]:"));
    b.reset();
    EXPECT_EQ(p, c->get_next());
    p->~Point();
    EXPECT_EQ(old, c->get_next());
    c.reset();
    EXPECT_EQ(old, Profile::mRoot);
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
        EXPECT_EQ(1, mRecursionLevel);
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
    o.inner();
    EXPECT_EQ(2, o.checks);
    bool gone = false;
    (new SelfDeleting{0, &gone})->entry();
    EXPECT_TRUE(gone);
}
