#include "framework/clean_queue.h"
#include "framework/cyclic.h"
#include "framework/lists.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct Item : F_dual_list_item<Item>
{
};

using Items = std::vector<Item*>;

// Forwards, and checked backwards too so that a broken prev link shows.
Items contents(const F_dual_list<Item>& l)
{
    Items v, back;
    for (auto it = l.begin(); it != l.end(); ++it)
        v.push_back(*it);
    for (Item* e = l.back(); e; e = e->get_prev())
        back.insert(back.begin(), e);
    EXPECT_EQ(v, back);
    EXPECT_EQ(v.size(), l.count());
    return v;
}

TEST(DualList, InsertAndRemoveKeepBothLinks)
{
    F_dual_list<Item> l;
    EXPECT_EQ(l.remove_from_head(), nullptr);
    EXPECT_EQ(l.remove_from_tail(), nullptr);

    Item a, b, c, d;
    l.insert_to_tail(&b);
    l.insert_to_head(&a);
    l.push_back(&d);
    l.insert_after(&b, &c);
    EXPECT_EQ(contents(l), (Items{&a, &b, &c, &d}));
    l.remove(&b);
    EXPECT_EQ(contents(l), (Items{&a, &c, &d}));
    EXPECT_EQ(l.remove_from_tail(), &d);
    EXPECT_EQ(l.remove_from_head(), &a);
    EXPECT_EQ(contents(l), (Items{&c}));
}

using Ref = std::shared_ptr<int>;

TEST(CleanQueue, CapacityOrderWrapAndDroppedReferences)
{
    CleanQueue<Ref, 7> q;
    Ref out;
    EXPECT_FALSE(q.get(out));
    EXPECT_FALSE(q.get_last(&out));
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(q.put(std::make_shared<int>(i)));
    EXPECT_FALSE(q.put(std::make_shared<int>(99)));
    EXPECT_FALSE(q.append(std::make_shared<int>(99)));
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(q.get(&out));
        EXPECT_EQ(*out, i);
    }

    // append goes to the front, get_last takes from the back; both wrap.
    Ref x = std::make_shared<int>(1), y = std::make_shared<int>(2), z = std::make_shared<int>(3);
    q.put(x);
    q.put(y);
    EXPECT_TRUE(q.append(z));
    EXPECT_TRUE(q.preview(&out));
    EXPECT_EQ(out, z);
    EXPECT_TRUE(q.get_last(&out));
    EXPECT_EQ(out, y);
    q.get(out);
    EXPECT_EQ(out, z);
    out.reset();
    EXPECT_EQ(z.use_count(), 1);
    EXPECT_EQ(y.use_count(), 1);

    // clear() must not keep buffers alive in its slots.
    q.put(y);
    q.clear();
    EXPECT_EQ(q.count(), 0u);
    EXPECT_EQ(x.use_count(), 1);
    EXPECT_EQ(y.use_count(), 1);
    EXPECT_FALSE(q.get(out));
}

TEST(Cyclic, WrapAndWindow)
{
    using Seq = Cyclic<unsigned int, 127u>;
    EXPECT_EQ(unsigned(Seq(130)), 2u);
    EXPECT_EQ(unsigned(Seq(127) + Seq(1)), 0u);
    EXPECT_EQ(unsigned(Seq(0) - Seq(1)), 127u);
    Seq s(0);
    EXPECT_EQ(unsigned(--s), 127u);
    EXPECT_EQ(unsigned(s++), 127u);
    EXPECT_EQ(unsigned(s), 0u);

    EXPECT_TRUE(Seq(120) <= Seq(125) <= Seq(3));
    EXPECT_FALSE(Seq(120) <= Seq(5) <= Seq(3));
    EXPECT_TRUE(Seq(120) <= Seq(3) <= Seq(3));
    EXPECT_TRUE(Seq(120) <= Seq(120) <= Seq(3));
    EXPECT_FALSE(Seq(10) <= Seq(9) <= Seq(20));
}

} // namespace
