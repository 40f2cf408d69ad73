#include "framework/clean_queue.h"
#include "framework/cyclic.h"
#include "framework/lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct Item : F_dual_list_item<Item>
{
    explicit Item(int k = 0) : key(k) {}
    int compare(const Item* o) const { return key - o->key; }
    int key;
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

TEST(DualList, InsertRemoveMergeAndSortedOrder)
{
    F_dual_list<Item> l;
    EXPECT_EQ(l.remove_from_head(), nullptr);
    EXPECT_EQ(l.remove_from_tail(), nullptr);

    Item a(1), b(2), c(3), d(4);
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
    EXPECT_EQ(*std::find(l.begin(), l.end(), &c), &c);
    EXPECT_TRUE(!std::find(l.begin(), l.end(), &b));

    F_dual_list<Item> none;
    l.merge(none);
    EXPECT_EQ(contents(l), Items{});
    EXPECT_EQ(contents(none), (Items{&c}));

    // Ascending; equal keys stay in insertion order.
    F_sorted_list<Item> s;
    Item first5(5), three(3), second5(5), four(4), one(1), nine(9);
    for (Item* e : {&first5, &three, &second5, &four, &one, &nine})
        s.insert_to_tail_by_grown(e);
    EXPECT_EQ(contents(s), (Items{&one, &three, &four, &first5, &second5, &nine}));
}

struct Receiver
{
    int id;
    Containers::CyclicList link;
};

TEST(CyclicList, RingIterationMoveAndSelfUnlink)
{
    Containers::CyclicList ring, other;
    auto ids = [](Containers::CyclicList& head) {
        std::vector<int> v;
        for (auto it = head.begin(); it != head.end(); ++it)
            v.push_back(Containers::offset<Receiver>(*it, &Receiver::link)->id);
        return v;
    };
    EXPECT_TRUE(ring.begin() == ring.end());
    Receiver r1{1, {}}, r2{2, {}};
    ring.AddToTail(&r1.link);
    other.AddToTail(&r2.link);
    EXPECT_EQ(ids(other), std::vector<int>{2});
    ring.AddToTail(&r2.link); // moves out of `other`
    EXPECT_TRUE(other.begin() == other.end());
    {
        Receiver r3{3, {}};
        ring.AddToTail(&r3.link);
        EXPECT_EQ(ids(ring), (std::vector<int>{1, 2, 3}));
    }
    EXPECT_EQ(ids(ring), (std::vector<int>{1, 2}));
    ring.AddToTail(&r1.link); // within its own ring: to the tail
    EXPECT_EQ(ids(ring), (std::vector<int>{2, 1}));
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
