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

std::vector<Item*> contents(const F_dual_list<Item>& l)
{
    std::vector<Item*> v;
    for (auto it = l.begin(); it != l.end(); ++it)
        v.push_back(*it);
    return v;
}

// Walks backwards too, so a broken prev link shows.
std::vector<Item*> reversed(const F_dual_list<Item>& l)
{
    std::vector<Item*> v;
    for (Item* e = l.back(); e; e = e->get_prev())
        v.push_back(e);
    return v;
}

TEST(DualList, EndsAndEmptyRemovals)
{
    F_dual_list<Item> l;
    EXPECT_EQ(l.remove_from_head(), nullptr);
    EXPECT_EQ(l.remove_from_tail(), nullptr);
    EXPECT_EQ(l.count(), 0u);

    Item a(1), b(2), c(3), d(4);
    l.insert_to_tail(&b);
    l.insert_to_head(&a);
    l.push_back(&d);
    l.insert_after(&b, &c);
    EXPECT_EQ(contents(l), (std::vector<Item*>{&a, &b, &c, &d}));
    EXPECT_EQ(reversed(l), (std::vector<Item*>{&d, &c, &b, &a}));
    EXPECT_EQ(l.size(), 4u);
    EXPECT_EQ(*l.last(), &d);

    l.remove(&b);
    EXPECT_EQ(contents(l), (std::vector<Item*>{&a, &c, &d}));
    EXPECT_EQ(reversed(l), (std::vector<Item*>{&d, &c, &a}));
    EXPECT_EQ(l.remove_from_tail(), &d);
    EXPECT_EQ(l.remove_from_head(), &a);
    EXPECT_EQ(l.remove_from_head(), &c);
    EXPECT_EQ(l.count(), 0u);
    EXPECT_FALSE(l.begin().good());
    EXPECT_EQ(l.back(), nullptr);

    // std::find accepts the iterator with an element pointer.
    l.insert_to_tail(&a);
    l.insert_to_tail(&b);
    EXPECT_EQ(*std::find(l.begin(), l.end(), &b), &b);
    EXPECT_TRUE(!std::find(l.begin(), l.end(), &c));
}

TEST(DualList, MergeAndInitFromArray)
{
    Item arr[3];
    F_dual_list<Item> full(arr, 3);
    EXPECT_EQ(contents(full), (std::vector<Item*>{&arr[0], &arr[1], &arr[2]}));

    F_dual_list<Item> two, none;
    Item a, b;
    two.insert_to_tail(&a);
    two.insert_to_tail(&b);
    two.merge(none);
    EXPECT_EQ(two.count(), 0u);
    EXPECT_EQ(two.begin(), two.end());
    EXPECT_EQ(contents(none), (std::vector<Item*>{&a, &b}));
}

TEST(SortedList, AscendingWithEqualsInInsertionOrder)
{
    F_sorted_list<Item> l;
    Item first5(5), three(3), second5(5), four(4), one(1), nine(9);
    for (Item* e : {&first5, &three, &second5, &four})
        l.insert_to_tail_by_grown(e);
    EXPECT_EQ(contents(l), (std::vector<Item*>{&three, &four, &first5, &second5}));
    l.insert_to_tail_by_grown(&one);
    l.insert_to_tail_by_grown(&nine);
    EXPECT_EQ(contents(l), (std::vector<Item*>{&one, &three, &four, &first5, &second5, &nine}));
    EXPECT_EQ(reversed(l).front(), &nine);
    EXPECT_EQ(l.count(), 6u);
}

struct Receiver
{
    int id;
    Containers::CyclicList link;
};

std::vector<int> ids(Containers::CyclicList& ring)
{
    std::vector<int> v;
    for (auto it = ring.begin(); it != ring.end(); ++it)
        v.push_back(Containers::offset<Receiver>(*it, &Receiver::link)->id);
    return v;
}

TEST(CyclicList, RingIterationAndMove)
{
    Containers::CyclicList ring, other;
    EXPECT_TRUE(ring.begin() == ring.end());

    Receiver r1{1, {}}, r2{2, {}};
    ring.AddToTail(&r1.link);
    other.AddToTail(&r2.link);
    ring.AddToTail(&r2.link); // moves out of `other`
    EXPECT_TRUE(other.begin() == other.end());

    EXPECT_EQ(ids(ring), (std::vector<int>{1, 2}));

    {
        Receiver r3{3, {}};
        ring.AddToTail(&r3.link);
    } // unlinks itself
    EXPECT_EQ(ids(ring), (std::vector<int>{1, 2}));
}

using Ref = std::shared_ptr<int>;

TEST(CleanQueue, CapacityOrderAndWrap)
{
    CleanQueue<Ref, 7> q;
    EXPECT_EQ(q.size(), 7u);
    Ref out;
    EXPECT_FALSE(q.get(out));
    EXPECT_FALSE(q.get_last(&out));
    EXPECT_FALSE(q.preview(nullptr));

    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(q.put(std::make_shared<int>(i)));
    EXPECT_FALSE(q.put(std::make_shared<int>(99)));
    EXPECT_FALSE(q.append(std::make_shared<int>(99)));
    EXPECT_EQ(q.count(), 7u);
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(q.get(&out));
        EXPECT_EQ(*out, i);
    }
    for (int i = 0; i < 7; ++i)
        q.put(std::make_shared<int>(i));
    EXPECT_EQ(q.head_index(), 0u);
    EXPECT_EQ(q.tail_index(), 0u);
    EXPECT_EQ(q.count(), 7u);

    CleanQueue<Ref, 7> r;
    Ref x = std::make_shared<int>(1), y = std::make_shared<int>(2), z = std::make_shared<int>(3);
    r.put(x);
    r.put(y);
    r.append(z);
    EXPECT_TRUE(r.preview(&out));
    EXPECT_EQ(out, z);
    EXPECT_EQ(r.count(), 3u);
    r.get(out); EXPECT_EQ(out, z);
    r.get(out); EXPECT_EQ(out, x);
    r.get(out); EXPECT_EQ(out, y);

    r.put(x);
    r.put(y);
    r.put(z);
    EXPECT_TRUE(r.get_last(&out));
    EXPECT_EQ(out, z);
    EXPECT_EQ(r.count(), 2u);
}

TEST(CleanQueue, DropsReferencesOnGetAndClear)
{
    CleanQueue<Ref, 3> q;
    Ref a = std::make_shared<int>(1);
    Ref b = std::make_shared<int>(2);
    q.put(a);
    q.put(b);
    EXPECT_EQ(a.use_count(), 2);
    Ref out;
    q.get(out);
    out.reset();
    EXPECT_EQ(a.use_count(), 1);
    q.get_last(&out);
    out.reset();
    EXPECT_EQ(b.use_count(), 1);

    // clear() must not keep buffers alive in its slots.
    q.put(a);
    q.put(b);
    q.clear();
    EXPECT_EQ(q.count(), 0u);
    EXPECT_EQ(a.use_count(), 1);
    EXPECT_EQ(b.use_count(), 1);
    EXPECT_FALSE(q.get(out));
}

TEST(Cyclic, WrapAndWindow)
{
    using Seq = Cyclic<unsigned int, 127u>;
    EXPECT_EQ(unsigned(Seq(130)), 2u);
    EXPECT_EQ(unsigned(Seq(127) + Seq(1)), 0u);
    EXPECT_EQ(unsigned(Seq(0) - Seq(1)), 127u);
    Seq s(0);
    --s;
    EXPECT_EQ(unsigned(s), 127u);
    Seq t(127);
    EXPECT_EQ(unsigned(t++), 127u);
    EXPECT_EQ(unsigned(t), 0u);
    EXPECT_EQ(unsigned(++t), 1u);

    EXPECT_TRUE(Seq(120) <= Seq(125) <= Seq(3));
    EXPECT_FALSE(Seq(120) <= Seq(5) <= Seq(3));
    EXPECT_TRUE(Seq(120) <= Seq(3) <= Seq(3));
    EXPECT_TRUE(Seq(120) <= Seq(120) <= Seq(3));
    EXPECT_FALSE(Seq(10) <= Seq(9) <= Seq(20));
}

} // namespace
