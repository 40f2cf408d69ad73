#include "framework/packet.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <new>
#include <sstream>
#include <vector>

namespace {

Packet make(std::initializer_list<unsigned char> bytes, unsigned head = 16)
{
    Packet p;
    p.reserve_head(head);
    for (unsigned char b : bytes)
        p.put8(b);
    return p;
}

std::vector<unsigned char> bytes_of(Packet const& p)
{
    std::vector<unsigned char> v;
    for (unsigned i = 0; i < p.length(); ++i)
        v.push_back(p[int(i)]);
    return v;
}

typedef std::vector<unsigned char> Bytes;

class PacketTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        free_at_start = PacketPool::available();
    }
    // Every test gives back what it took.
    void TearDown() override { EXPECT_EQ(free_at_start, PacketPool::available()); }
    unsigned free_at_start = 0;
};

} // namespace

TEST_F(PacketTest, WindowMovesAndReturnedPointers)
{
    // Layers stack their header room on the still empty packet.
    Packet p;
    EXPECT_EQ("(null)", p.text());
    p.reserve_head(4);
    p.reserve_head(4);
    EXPECT_EQ(free_at_start - 1, PacketPool::available());
    EXPECT_EQ(packet_max_size - 8, p._tailroom());
    Packet q;
    q.reserve_tail(0);
    q.reserve_tail(5);
    EXPECT_EQ(packet_max_size - 5, q._headroom());
    q.clear();
    EXPECT_TRUE(q.null());
    EXPECT_EQ(free_at_start - 1, PacketPool::available());

    unsigned char* at = p.put(3);
    EXPECT_EQ(p.data(), at);
    at[0] = 1; at[1] = 2; at[2] = 3;
    EXPECT_EQ(p.data() + 3, p.put8(4));
    unsigned char* head = p.push(2);
    EXPECT_EQ(p.data(), head);
    head[0] = 0xA; head[1] = 0xB;
    unsigned char* old = p.pull(2);
    EXPECT_EQ(0xA, old[0]);
    EXPECT_EQ(old + 2, p.data());
    EXPECT_EQ(p.data() + 3, p.trim(1));
    EXPECT_EQ((Bytes{1, 2, 3}), bytes_of(p));

    // Exactly filling the rooms is allowed.
    p.put(p.tailroom());
    p.push(p._headroom());
    EXPECT_EQ(packet_max_size, p.length());
    p.trim(p.length());
    EXPECT_TRUE(p.empty());
}

TEST_F(PacketTest, ByteOrdersOfTheSixteenBitForms)
{
    Packet p = make({});
    p.put16(0x1234);
    p.put16_b(0x1234);
    EXPECT_EQ((Bytes{0x34, 0x12, 0x12, 0x34}), bytes_of(p));
    p.push16_b(0xABCD);
    EXPECT_EQ((Bytes{0xAB, 0xCD, 0x34, 0x12, 0x12, 0x34}), bytes_of(p));
    EXPECT_EQ(0xABCD, p.pull16_b());
    EXPECT_EQ(0x1234, p.pull16());
    EXPECT_EQ(0x3412, p.pull16_l());
    EXPECT_TRUE(p.empty());

    // Missing bytes read as 0 and nothing is removed from an empty packet.
    EXPECT_EQ(0, p.pull8());
    EXPECT_EQ(0u, p.length());
    Packet one = make({0xAB, 0xAB, 0xCD});
    EXPECT_EQ(0xABAB, one.pull16_b());
    EXPECT_EQ(0x00CD, one.pull16());

    Packet h = make({0x01}, 2);
    h.push8(0x02);
    h.push8(0x03);
    EXPECT_EQ((Bytes{0x03, 0x02, 0x01}), bytes_of(h));
    EXPECT_EQ(0u, h._headroom());
    EXPECT_EQ(h.data(), h.trim(3)); // all of it: empty, not broken
}

TEST_F(PacketTest, StringsCarryALengthByte)
{
    Packet p = make({});
    p.put(std::string("ab"));
    EXPECT_EQ((Bytes{0x02, 0x61, 0x62}), bytes_of(p));
    EXPECT_EQ("ab", p.pull_string());
    p.put(std::string());
    EXPECT_EQ((Bytes{0x00}), bytes_of(p));
    EXPECT_EQ("", p.pull_string());

    // A string cut short reads its missing bytes as 0.
    Packet cut = make({0x03, 'x'});
    EXPECT_EQ(std::string("x\0\0", 3), cut.pull_string());

    // The length byte must describe what follows: a long string is cut to
    // 255 bytes instead of writing its length modulo 256.
    std::string big(300, 'z');
    big[254] = 'e';
    Packet b = make({});
    b.put(big);
    b.put8(0x77);
    EXPECT_EQ(257u, b.length());
    EXPECT_EQ(255, b[0]);
    EXPECT_EQ(big.substr(0, 255), b.pull_string());
    EXPECT_EQ(0x77, b.pull8());
    // 255 bytes fit the length byte whole; 256 are cut to 255.
    for (std::size_t n : {255u, 256u}) {
        std::string const s(n, 'y');
        Packet q = make({});
        q.put(s);
        EXPECT_EQ(256u, q.length()) << n;
        EXPECT_EQ(255, q[0]) << n;
        EXPECT_EQ(std::string(255, 'y'), q.pull_string()) << n;
        EXPECT_TRUE(q.empty()) << n;
    }
}

TEST_F(PacketTest, CopyOnWriteTakesOneBufferAndGivesItBack)
{
    {
        Packet a = make({1, 2, 3});
        unsigned after_one = PacketPool::available();
        Packet b = a;
        EXPECT_EQ(after_one, PacketPool::available());

        // Reading through either handle shares.
        EXPECT_EQ(2, static_cast<Packet const&>(b)[1]);
        EXPECT_EQ(after_one, PacketPool::available());

        b.put8(4);
        EXPECT_EQ(after_one - 1, PacketPool::available());
        EXPECT_EQ((Bytes{1, 2, 3}), bytes_of(a));
        EXPECT_EQ((Bytes{1, 2, 3, 4}), bytes_of(b));
        // The copy keeps the window where it was.
        EXPECT_EQ(a._headroom(), b._headroom());

        // A writable index unshares as well.
        Packet c = a;
        c[0] = 0xFF;
        EXPECT_EQ(1, a[0]);
        EXPECT_EQ(after_one - 2, PacketPool::available());

        // Headers pushed onto a copy leave a queued packet alone.
        Packet queued = a;
        Packet sent = queued;
        sent.push8(0xEE);
        EXPECT_EQ((Bytes{1, 2, 3}), bytes_of(queued));
        EXPECT_EQ((Bytes{0xEE, 1, 2, 3}), bytes_of(sent));
        // So does reading off the head of a copy.
        Packet r = make({1, 2}), r2 = r, s = make({1, 2}), s2 = s;
        r2.pull(1);
        s2.pull8();
        EXPECT_EQ((Bytes{1, 2}), bytes_of(r));
        EXPECT_EQ((Bytes{1, 2}), bytes_of(s));
        // A copy may fill either room to its end.
        Packet t = r, u = r;
        t.put(t.tailroom());
        u.push(u._headroom());
        EXPECT_EQ(t._tailroom() + u._headroom(), 0u);
    }
}

TEST_F(PacketTest, AppendingPackets)
{
    Packet a = make({1, 2});
    Packet b = make({3});
    a.put(b);
    EXPECT_EQ((Bytes{1, 2, 3}), bytes_of(a));
    a.put(Packet());
    // Onto itself: the source is the length before the call.
    a.put(a);
    EXPECT_EQ((Bytes{1, 2, 3, 1, 2, 3}), bytes_of(a));

    // Onto a handle that shares the source's buffer.
    Packet s = b;
    s.put(b);
    EXPECT_EQ((Bytes{3, 3}), bytes_of(s));
    EXPECT_EQ((Bytes{3}), bytes_of(b));
}

TEST_F(PacketTest, SubPacketsAndDumps)
{
    Packet p = make({0x01, 0xAB, 0x30, 0x40}, 3);
    unsigned before = PacketPool::available();
    Packet s = p.sub(1, 2);
    EXPECT_EQ(before - 1, PacketPool::available());
    s[0] = 0;
    EXPECT_EQ((Bytes{0, 0x30}), bytes_of(s));
    EXPECT_EQ((Bytes{0x01, 0xAB, 0x30, 0x40}), bytes_of(p));
    EXPECT_TRUE(p.sub(4, 0).empty());

    std::ostringstream os;
    os << p << "|" << PacketInfo(p) << PacketInfo(Packet()) << PacketInfo(make({}, 0));
    EXPECT_EQ("01 AB 30 40|head=3, data=4, tail=65529\ndump: 1 ab 30 40\n(null)\n"
              "head=0, data=0, tail=65536\n",
              os.str());
}

TEST_F(PacketTest, PoolOfTenTwentyFourThenBadAlloc)
{
    ASSERT_EQ(1024u, PacketPool::capacity());
    ASSERT_EQ(1024u, PacketPool::available()) << "a packet leaked from an earlier test";
    std::vector<Packet> held(1024);
    for (Packet& p : held)
        p.reserve_head(0);
    EXPECT_EQ(0u, PacketPool::available());

    Packet extra;
    EXPECT_THROW(extra.reserve_head(0), std::bad_alloc);
    EXPECT_TRUE(extra.null());
    EXPECT_THROW(extra.reserve_tail(0), std::bad_alloc);

    // Copy-on-write needs a buffer too; the shared one stays intact.
    Packet shared = held[0];
    EXPECT_THROW(shared.put8(1), std::bad_alloc);
    EXPECT_EQ(0u, held[0].length());

    // The buffer released last comes back first.
    unsigned char* fifth = held[5].data();
    unsigned char* third = held[3].data();
    held[5].clear();
    held[3].clear();
    EXPECT_EQ(2u, PacketPool::available());
    Packet r1, r2;
    r1.reserve_head(0);
    r2.reserve_head(0);
    EXPECT_EQ(third, r1.data());
    EXPECT_EQ(fifth, r2.data());
}

namespace {

struct Counted
{
    explicit Counted(int v, int* alive) : value(v), alive(alive) { ++*alive; }
    Counted(Counted const& o) : ref_counter(0), value(o.value), alive(o.alive) { ++*alive; }
    virtual ~Counted() { --*alive; }
    uint32_t ref_counter = 0;
    int value;
    int* alive;
};

} // namespace

// Writing through a shared handle copies; assigning the only handle to
// itself must not free the object first.
TEST(SmartPointer, CountsCopiesOnWriteAndSelfAssignment)
{
    int alive = 0;
    {
        Smart_pointer<Counted> a(new Counted(7, &alive));
        Smart_pointer<Counted> b(a);
        Smart_pointer<Counted> const& cb = b;
        EXPECT_EQ(2u, cb->ref_counter);
        b->value = 8;
        EXPECT_EQ(2, alive);
        EXPECT_EQ(7, static_cast<Smart_pointer<Counted> const&>(a)->value);
        b = a;
        EXPECT_EQ(1, alive);
        b.clean();

        Smart_pointer<Counted>& alias = a;
        Smart_pointer<Counted> const& ca = a;
        a = alias;
        a = const_cast<Counted*>(ca.operator->());
        ASSERT_FALSE(a.null());
        EXPECT_EQ(7, ca->value);
        EXPECT_EQ(1u, ca->ref_counter);
        EXPECT_EQ(1, alive);
    }
    EXPECT_EQ(0, alive);

    Packet p = make({0x42});
    Packet& same = p;
    p = same;
    ASSERT_FALSE(p.null());
    EXPECT_EQ(0x42, p[0]);
}

using PacketDeathTest = PacketTest;

TEST_F(PacketDeathTest, NullPacketAssertionsDumpThePacket)
{
    EXPECT_DEATH({ Packet p; p.put8(1); }, "PACKET ASSERTION FAILED!\n(.|\n)*null packet\n\\(null\\)");
    EXPECT_DEATH({ Packet p; p.data(); }, "null packet");
    EXPECT_DEATH({ Packet p; p.tail(); }, "null packet");
    EXPECT_DEATH({ Packet p; p.tailroom(); }, "null packet");
    EXPECT_DEATH({ Packet p; p.push8(1); }, "null packet");
    EXPECT_DEATH({ Packet p; p.pull8(); }, "null packet");
    EXPECT_DEATH({ Packet p; p.trim(0); }, "null packet");
    EXPECT_DEATH({ Packet p; p[0] = 1; }, "null packet");
    EXPECT_DEATH({ Packet const p; (void)p[0]; }, "null packet");
    EXPECT_DEATH({ Packet p; p.sub(0, 0); }, "null packet");
    EXPECT_DEATH({ Packet p; p.put(std::string("x")); }, "null packet");
    EXPECT_DEATH({ Smart_pointer<_Packet> sp; sp->ref_counter = 1; }, "SMART POINTER ASSERTION!");
    EXPECT_DEATH({ Smart_pointer<_Packet> const sp; (void)sp->ref_counter; }, "SMART POINTER ASSERTION!");
    EXPECT_DEATH({ Packet p = make({0x01, 0xAB}, 3); p.pull(3); },
                 "PACKET ASSERTION FAILED!\nlen<=_length\\(\\)\nhead=3, data=2, tail=65531\ndump: 1 ab\n\n");
    EXPECT_DEATH(Packet::check_fail("after \"%s\" fdata>ftail", "trim"),
                 "packet check fail\nafter \"trim\" fdata>ftail\nterminate.\n");
}

// A packet holding data too: the window must not slide past either end.
TEST_F(PacketDeathTest, WindowAssertions)
{
    EXPECT_DEATH({ Packet p; p.reserve_head(packet_max_size + 1); }, "length>packet_max_size");
    EXPECT_DEATH({ Packet p; p.reserve_tail(packet_max_size + 1); }, "len>packet_max_size");
    EXPECT_DEATH({ Packet p = make({}, 10); p.reserve_head(packet_max_size - 9); }, "new_len>packet_max_size");
    EXPECT_DEATH({ Packet p; p.reserve_tail(10); p.reserve_tail(packet_max_size - 9); },
                 "_tailroom\\(\\)\\+len <= packet_max_size");
    EXPECT_DEATH({ Packet p = make({}, 0); p.put(packet_max_size - 4); p.reserve_head(5); },
                 "new_len>packet_max_size");
    EXPECT_DEATH({ Packet p; p.reserve_tail(0); p.push(packet_max_size - 4); p.reserve_tail(5); },
                 "_tailroom\\(\\)\\+len <= packet_max_size");
    EXPECT_DEATH({ Packet p = make({}, 4); p.put(p.tailroom() + 1); }, "len<=_tailroom\\(\\)");
    EXPECT_DEATH({ Packet p = make({1}, 4); p.push(5); }, "len<=_headroom\\(\\)");
    EXPECT_DEATH({ Packet p = make({1}, 0); p.push8(2); }, "len<=_headroom\\(\\)");
    EXPECT_DEATH({ Packet p = make({1, 2}); p.pull(3); }, "len<=_length\\(\\)");
    EXPECT_DEATH({ Packet p = make({1, 2}); p.trim(3); }, "len<=_length\\(\\)");
    EXPECT_DEATH({ Packet p = make({1, 2}); p[-1] = 0; }, "index out of range");
    EXPECT_DEATH({ Packet const p = make({1, 2}); (void)p[2]; }, "index out of range");
    EXPECT_DEATH({ Packet p = make({1, 2, 3, 4}); p.sub(3, 2); }, "start\\+len<=_length\\(\\)");
    EXPECT_DEATH({ Packet p = make({1, 2, 3, 4}); p.sub(5, 0); }, "start<=_length\\(\\)");
    EXPECT_DEATH({ Packet p = make({1, 2, 3, 4}); p.sub(1, 0xFFFFFFFFu); }, "start\\+len<=_length\\(\\)");
    EXPECT_DEATH({ Packet p = make({}); p.put(std::string(100, 'a')); p.put(p.tailroom()); p.put8(1); },
                 "len<=_tailroom\\(\\)");

    // Within bounds the window just moves.
    Packet p = make({}, 0);
    p.put(packet_max_size - 4);
    p.reserve_head(4);
    EXPECT_EQ(0u, p._tailroom());
    p.reserve_tail(4);
    EXPECT_EQ(0u, p._headroom());
}
