#include "framework/trace.h"

#include <gtest/gtest.h>
#include <memory>
#include <sstream>

#include "framework/mux_time.h"

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

TEST(ProfilePoint, StatisticsAndListOrder)
{
    Profile::Point* const old = Profile::mRoot;
    auto p = std::make_unique<Profile::Point>("P");
    // avg shows the last sample; the first sample sets min even when larger.
    sample(*p, 0, 30);
    sample(*p, 100, 110);
    sample(*p, 200, 220);
    std::ostringstream os;
    os << std::hex << *p;
    EXPECT_EQ("[P]: min=10 max=30 avg=20 counter=3", os.str());

    // Newest first; a point unlinks itself wherever it stands.
    auto b = std::make_unique<Profile::Point>("B");
    auto c = std::make_unique<Profile::Point>("C");
    os.str("");
    Profile::dump(os);
    EXPECT_EQ(0u, os.str().find("[C]: min=0 max=0 avg=0 counter=0\n[B]: min=0 max=0 avg=0 counter=0\n[P]:"));
    b.reset();
    EXPECT_EQ(p.get(), c->get_next());
    p.reset();
    EXPECT_EQ(old, c->get_next());
    c.reset();
    EXPECT_EQ(old, Profile::mRoot);
}
