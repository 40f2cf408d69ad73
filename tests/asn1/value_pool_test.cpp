// Value objects and their arrays come from per-thread free lists: a block
// that comes back must give a fresh value, and values may cross threads.
#include "fixtures.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

using namespace ASN1;
using namespace fixtures;

namespace {
using Ptr = std::unique_ptr<AbstractData>;

// An Ext value with its optional fields and an addition set.
Ptr build(int n)
{
    Ptr p(AbstractData::create(&extInfo));
    auto& s = static_cast<SEQUENCE&>(*p);
    integer(s.getField(M)) = n;
    integer(s.includeOptionalField(OPT_O2, O2)) = n + 1;
    boolean(s.includeOptionalField(OPT_X3, X3)) = true;
    return p;
}

bool holds(AbstractData const& v, int n)
{
    auto const& s = static_cast<SEQUENCE const&>(v);
    return static_cast<INTEGER const&>(*s.getField(M)).getValue() == n && s.hasOptionalField(OPT_O2) &&
           static_cast<INTEGER const&>(*s.getField(O2)).getValue() == n + 1 && !s.hasOptionalField(OPT_O1) &&
           s.hasOptionalField(OPT_X3) && !s.hasOptionalField(OPT_X1);
}
} // namespace

// Made on one thread, dropped on another after the first has ended; blocks
// that come back give fresh values.
TEST(ValuePool, ValuesCrossThreadsAndRecycledBlocksGiveFreshValues)
{
    std::vector<Ptr> made;
    std::thread maker([&] {
        for (int n = 0; n < 500; ++n)
            made.push_back(build(n));
    });
    maker.join();
    std::vector<Ptr> copies;
    std::thread dropper([&] {
        for (int n = 0; n < 500; ++n) {
            ASSERT_TRUE(holds(*made[n], n)) << n;
            copies.emplace_back(made[n]->clone());
            made[n].reset();
        }
    });
    dropper.join();
    // Blocks freed here are taken again here.
    for (int base = 0; base < 3000; base += 1000) {
        for (int n = 0; n < 500; ++n) {
            ASSERT_TRUE(holds(*copies[n], base + n)) << n;
            copies[n] = build(base + 1000 + n);
        }
    }
    // What a thread keeps is bounded; the rest goes back to the heap.
    for (int n = 0; n < 6000; ++n)
        copies.push_back(build(n));
    copies.clear();
    for (unsigned kept : detail::poolLists.count)
        EXPECT_LE(kept, detail::PoolLists::Keep);
    Ptr fresh(AbstractData::create(&extInfo));
    auto& s = static_cast<SEQUENCE&>(*fresh);
    EXPECT_EQ(integer(s.getField(M)).getValue(), 0);
    for (unsigned opt = 0; opt < 6; ++opt)
        EXPECT_FALSE(s.hasOptionalField(opt)) << opt;
    for (unsigned i : {O1, O2, X1, X2, X3, X4})
        EXPECT_EQ(s.getField(i), nullptr) << i;

    // Element arrays past the largest kept block, grown and cut.
    SEQUENCE_OF_Base list(&intsInfo);
    list.resize(200);
    integer(&list.at(199)) = 5;
    SEQUENCE_OF_Base copy(list);
    list.resize(3);
    EXPECT_EQ(copy.size(), 200u);
    EXPECT_EQ(integer(&copy.at(199)).getValue(), 5);
    EXPECT_EQ(list.size(), 3u);
}
