// The runtime's stated bounds, each at its last accepted and first refused
// value: packet rooms, queue capacities, sequence numbers, address octets
// and ports, hex widths, table cells, time values, timer and watchdog
// intervals of the hand-driven clock; and the loop's timing statistics.

#include "framework/clean_queue.h"
#include "framework/cyclic.h"
#include "framework/inet.h"
#include "framework/packet.h"
#include "framework/text.h"
#include "files.h"
#include "loop_helpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>
#include <net/if.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <list>
#include <iomanip>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace looptest;

namespace {

TEST(PacketLimits, RoomsReachExactly65536Octets)
{
    const unsigned max = 65536;
    Packet head;
    head.reserve_head(max);
    EXPECT_EQ(head._headroom(), max);
    EXPECT_EQ(head.tailroom(), 0u);
    Packet tail;
    tail.reserve_tail(max);
    EXPECT_EQ(tail._tailroom(), max);
    EXPECT_EQ(tail._headroom(), 0u);

    // Stacked reservations up to the end of the buffer.
    Packet stacked;
    stacked.reserve_head(10);
    stacked.reserve_head(max - 10);
    EXPECT_EQ(stacked._headroom(), max);
    stacked.clear();
    stacked.reserve_tail(10);
    stacked.reserve_tail(max - 10);
    EXPECT_EQ(stacked._tailroom(), max);

    Packet p;
    p.reserve_head(0);
    for (int i = 0; i < 4; ++i)
        p.put8(static_cast<unsigned char>(0x10 * (i + 1)));
    EXPECT_EQ(p[3], 0x40);
    EXPECT_EQ(p[0], 0x10);
    Packet empty = p.sub(4, 0);
    EXPECT_EQ(empty.length(), 0u);
    Packet last = p.sub(3, 1);
    ASSERT_EQ(last.length(), 1u);
    EXPECT_EQ(last[0], 0x40);
    // The copy keeps the window where it was in the buffer.
    Packet framed;
    framed.reserve_head(16);
    framed.put8(1);
    framed.put8(2);
    framed.put8(3);
    Packet inner = framed.sub(1, 1);
    EXPECT_EQ(inner._headroom(), 17u);
    EXPECT_EQ(inner._tailroom(), max - 18);
    EXPECT_EQ(inner[0], 2);
    EXPECT_TRUE(p < 5);
    EXPECT_FALSE(p < 4);
}

template <unsigned N>
void FillAndDrain()
{
    SCOPED_TRACE(N);
    CleanQueue<Packet, N> q;
    EXPECT_EQ(q.size(), N);
    std::vector<Packet> ps(N + 1);
    for (unsigned i = 0; i <= N; ++i) {
        ps[i].reserve_head(0);
        ps[i].put8(static_cast<unsigned char>(i));
        ps[i].put8(static_cast<unsigned char>(i >> 8));
    }
    // Filled from the front only: the head wraps below index 0.
    for (unsigned i = 0; i < N; ++i)
        ASSERT_TRUE(q.append(ps[i]));
    EXPECT_EQ(q.count(), N);
    EXPECT_FALSE(q.append(ps[N]));
    EXPECT_FALSE(q.put(ps[N]));
    EXPECT_EQ(q.count(), N);
    Packet out;
    ASSERT_TRUE(q.preview(nullptr));
    ASSERT_TRUE(q.preview(&out));
    EXPECT_EQ(out.pull16(), N - 1);
    ASSERT_TRUE(q.get_last(&out));
    EXPECT_EQ(out.pull16(), 0u);
    ASSERT_TRUE(q.get(&out));
    EXPECT_EQ(out.pull16(), N - 1);
    EXPECT_EQ(q.count(), N - 2);
    // One place short of full, then full again from the back.
    EXPECT_TRUE(q.put(ps[N]));
    EXPECT_TRUE(q.put(ps[0]));
    EXPECT_FALSE(q.put(ps[1]));
    unsigned taken = 0;
    std::vector<unsigned> order;
    while (q.get(out)) {
        order.push_back(out.pull16());
        ++taken;
    }
    EXPECT_EQ(taken, N);
    EXPECT_EQ(order.front(), N - 2);
    EXPECT_EQ(order[N - 3], 1u);
    EXPECT_EQ(order[N - 2], N);
    EXPECT_EQ(order.back(), 0u);
    EXPECT_TRUE(q.empty());
    EXPECT_FALSE(q.preview(nullptr));
    EXPECT_FALSE(q.get_last(&out));
}

TEST(CleanQueueLimits, EveryCapacityInUseHoldsExactlyItsCount)
{
    const unsigned free = PacketPool::available();
    FillAndDrain<7>();
    FillAndDrain<120>();
    FillAndDrain<135>();
    FillAndDrain<327>();
    EXPECT_EQ(PacketPool::available(), free);
    EXPECT_EQ((CleanQueue<int, 7>::inc_index(5)), 6u);
    EXPECT_EQ((CleanQueue<int, 7>::inc_index(6)), 0u);
    EXPECT_EQ((CleanQueue<int, 7>::dec_index(1)), 0u);
    EXPECT_EQ((CleanQueue<int, 7>::dec_index(0)), 6u);
}

TEST(CyclicLimits, ValuesStayIn0To127)
{
    using Seq = Cyclic<unsigned int, 127u>;
    EXPECT_EQ(unsigned(Seq(127)), 127u);
    EXPECT_EQ(unsigned(Seq(128)), 0u);
    EXPECT_EQ(unsigned(Seq(255)), 127u);
    Seq s(126);
    EXPECT_EQ(unsigned(++s), 127u);
    EXPECT_EQ(unsigned(++s), 0u);
    EXPECT_EQ(unsigned(s--), 0u);
    EXPECT_EQ(unsigned(s), 127u);
    s = Seq(1);
    EXPECT_EQ(unsigned(--s), 0u);
    EXPECT_EQ(unsigned(s--), 0u);
    EXPECT_EQ(unsigned(s), 127u);
    EXPECT_EQ(unsigned(Seq(64) + Seq(63)), 127u);
    EXPECT_EQ(unsigned(Seq(64) + Seq(64)), 0u);
    EXPECT_EQ(unsigned(Seq(5) - Seq(5)), 0u);
    EXPECT_EQ(unsigned(Seq(0) - Seq(127)), 1u);
    EXPECT_EQ(unsigned(Seq(100) - Seq(3)), 97u);

    // The window 120..3: its ends are in, their outer neighbours out.
    EXPECT_TRUE(Seq(120) <= Seq(120) <= Seq(3));
    EXPECT_TRUE(Seq(120) <= Seq(127) <= Seq(3));
    EXPECT_TRUE(Seq(120) <= Seq(0) <= Seq(3));
    EXPECT_TRUE(Seq(120) <= Seq(3) <= Seq(3));
    EXPECT_FALSE(Seq(120) <= Seq(4) <= Seq(3));
    EXPECT_FALSE(Seq(120) <= Seq(119) <= Seq(3));
    // A window of one, and the widest: all 128 values.
    EXPECT_TRUE(Seq(9) <= Seq(9) <= Seq(9));
    EXPECT_FALSE(Seq(9) <= Seq(10) <= Seq(9));
    EXPECT_TRUE(Seq(9) <= Seq(8) <= Seq(8));
}

TEST(INet4Limits, OctetsTo255AndPortsTo65535)
{
    INet4::Addr a;
    int port = 0;
    EXPECT_TRUE(a.Assign("255.255.255.255:65535", &port));
    EXPECT_EQ(a.GetVector(), (std::vector<unsigned char>{255, 255, 255, 255}));
    EXPECT_EQ(a.port(), 65535);
    EXPECT_EQ(port, 65535);
    EXPECT_EQ(a.GetString(), "255.255.255.255:65535");
    EXPECT_TRUE(a.Assign("0.0.0.0:0", &port));
    EXPECT_EQ(a.GetVector(), (std::vector<unsigned char>{0, 0, 0, 0}));
    EXPECT_EQ(a.port(), 0);
    EXPECT_EQ(port, 0);
    for (const char* bad : {"256.1.1.1", "1.256.1.1", "1.1.256.1", "1.1.1.256"})
        EXPECT_FALSE(a.Assign(bad, nullptr)) << bad;
    EXPECT_EQ(a.GetVector(), (std::vector<unsigned char>{0, 0, 0, 0})) << "a refused text keeps the address";
    // Sixteen bits of port: one past the last wraps to 0.
    EXPECT_TRUE(a.Assign("10.20.30.40:65536", nullptr));
    EXPECT_EQ(a.port(), 0);
    EXPECT_TRUE(a.Assign("10.20.30.40:1", nullptr));
    EXPECT_EQ(a.port(), 1);

    // Equal means the address and the port; both in network order inside.
    INet4::Addr b(std::string("10.20.30.40:1"));
    EXPECT_TRUE(a == b);
    b.port(2);
    EXPECT_FALSE(a == b);
    b.port(1);
    b.Assign(htonl(0x0A141E29));
    EXPECT_FALSE(a.IsEqual(b));
    EXPECT_EQ(b.GetString(), "10.20.30.41:1");
    const sockaddr_in* raw = reinterpret_cast<const sockaddr_in*>(static_cast<sockaddr*>(b));
    EXPECT_EQ(raw->sin_port, htons(1));
    EXPECT_EQ(raw->sin_family, AF_INET);
    EXPECT_EQ(b.size(), 16u);
    // A text without a port keeps the one before.
    b = std::string("192.0.2.7");
    EXPECT_EQ(b.GetString(), "192.0.2.7:1");
}

unsigned long Dotted(const char* text)
{
    return ntohl(::inet_addr(text));
}

TEST(INet4Limits, InterfaceSelectionAtTheEdgesOfEachRange)
{
    using Net::ifconfig_selects;
    const Net::ifconfig_mode_t priv = Net::IF_PRIVATE, local = Net::IF_LINK_LOCAL, named = Net::IF_NOT_LOOPBACK;
    EXPECT_EQ(int(priv), 4);
    EXPECT_EQ(int(local), 2);
    EXPECT_EQ(int(named), 1);
    for (const char* in : {"10.0.0.0", "10.255.255.255", "172.16.0.0", "172.31.255.255", "192.168.0.0",
                           "192.168.255.255"})
        EXPECT_TRUE(ifconfig_selects("eth0", Dotted(in), priv)) << in;
    for (const char* out : {"9.255.255.255", "11.0.0.0", "172.15.255.255", "172.32.0.0", "192.167.255.255",
                            "192.169.0.0", "169.254.1.1", "127.0.0.1"})
        EXPECT_FALSE(ifconfig_selects("eth0", Dotted(out), priv)) << out;
    EXPECT_TRUE(ifconfig_selects("lo", Dotted("169.254.0.0"), local));
    EXPECT_TRUE(ifconfig_selects("lo", Dotted("169.254.255.255"), local));
    EXPECT_FALSE(ifconfig_selects("eth0", Dotted("169.253.255.255"), local));
    EXPECT_FALSE(ifconfig_selects("eth0", Dotted("169.255.0.0"), local));
    EXPECT_FALSE(ifconfig_selects("eth0", Dotted("10.0.0.1"), local));
    EXPECT_FALSE(ifconfig_selects("lo", Dotted("10.0.0.1"), named));
    EXPECT_FALSE(ifconfig_selects("LO", Dotted("10.0.0.1"), named));
    EXPECT_TRUE(ifconfig_selects("lo0", Dotted("127.0.0.1"), named));
    EXPECT_TRUE(ifconfig_selects("lo", Dotted("127.0.0.1"), 0));
    EXPECT_TRUE(ifconfig_selects("lo", Dotted("169.254.3.3"), named | local));
    EXPECT_FALSE(ifconfig_selects("lo", Dotted("10.0.0.1"), named | local));

    // The listings append to what the caller holds.
    std::list<std::string> names(1, "keep");
    ASSERT_GE(Net::ifconfig(names, 0, 0), 1);
    std::list<INet4::Addr> addresses(1, INet4::Addr(std::string("192.0.2.1:9")));
    const int found = Net::ifconfig(addresses, 0);
    EXPECT_EQ(found + 1, int(addresses.size()));
    EXPECT_EQ(addresses.front().GetString(), "192.0.2.1:9");
    if (std::find(names.begin(), names.end(), "lo") == names.end())
        GTEST_SKIP() << "no loopback IPv4 interface here";
    EXPECT_EQ(names.front(), "keep");
    EXPECT_NE(std::find_if(addresses.begin(), addresses.end(),
                           [](const INet4::Addr& a) { return std::string(a.GetStrAddr()) == "127.0.0.1"; }),
              addresses.end());
    names.assign(1, "keep");
    const int named_found = Net::ifconfig(names, named, 0);
    EXPECT_EQ(named_found + 1, int(names.size()));
    EXPECT_EQ(std::find(names.begin(), names.end(), "lo"), names.end());
    // A flag the loopback has, then one no interface has.
    names.clear();
    EXPECT_GE(Net::ifconfig(names, 0, IFF_LOOPBACK), 1);
    EXPECT_NE(std::find(names.begin(), names.end(), "lo"), names.end());
    names.clear();
    EXPECT_EQ(Net::ifconfig(names, 0, 0x80000000u), 0);
    EXPECT_TRUE(names.empty());
}

TEST(TextLimits, HexWidthsAndTheStreamLeftAsItWas)
{
    std::ostringstream os;
    const unsigned char bytes[] = {0x0A, 0xFF, 0x00};
    os << ext::hex(bytes, bytes + 3) << '|' << ext::hex(bytes, bytes) << '|'
       << ext::hex(reinterpret_cast<const char*>(bytes), 2) << '|';
    EXPECT_EQ(os.str(), "0A FF 00 ||0A FF |");
    for (unsigned w : {0u, 1u, 2u, 3u, 4u, 8u, 9u}) {
        os.str("");
        os << ext::hex(26, w);
        const std::string digits = w > 2 ? std::string(w - 2, '0') + "1A" : "1A";
        EXPECT_EQ(os.str(), "0x" + digits) << w;
    }
    os.str("");
    os << ext::hex(0, 0) << ' ' << ext::hex(0xFFFFFFFFu, 0) << ' ' << ext::hex(0xABCu, 3);
    EXPECT_EQ(os.str(), "0x0 0xFFFFFFFF 0xABC");

    // Decimal again afterwards, with blanks as fill.
    os.str("");
    os << std::showbase << ext::hex(255, 2) << ' ' << 255 << ' ' << std::setw(4) << 7;
    EXPECT_EQ(os.str(), "0xFF 255    7");
    EXPECT_TRUE(os.flags() & std::ios::showbase);
}

TEST(TextLimits, TableCellsAtAndPastTheirWidth)
{
    std::ostringstream os;
    ext::Table t(4, 5, 1);
    // Exactly the width: no blanks; one short: the blank goes right.
    os << t << ext::beginrow << "abcd" << ext::nextrow << "abcd" << ext::nextrow << "" << ext::nextrow;
    EXPECT_EQ(os.str(), "|abcd|abcd | |\n");
    os.str("");
    os << t << ext::beginrow << "abcde" << ext::nextrow << 123 << ext::nextrow << "xy" << ext::nextrow << "z"
       << ext::nextrow;
    EXPECT_EQ(os.str(), "|abcde| 123 |xy|\n") << "a fourth cell of a three-column row is dropped";
    os.str("");
    os << t << ext::beginrow << "q" << ext::nextrow;
    EXPECT_EQ(os.str(), "| q  |     | |\n");
    os.str("");
    t.gap(os);
    t.delimeter(os);
    EXPECT_EQ(os.str(), "|    |     | |\n+----+-----+-+\n");
    t.add(2);
    os.str("");
    os << t << ext::delimeter;
    EXPECT_EQ(os.str(), "+----+-----+-+--+\n");

    ext::Table none;
    os.str("");
    none.delimeter(os);
    none.gap(os);
    os << none << ext::beginrow << "x" << ext::nextrow;
    EXPECT_EQ(os.str(), "");
}

std::pair<long, long> Parts(const Mux::timeval& tv)
{
    return {static_cast<long>(tv.tv_sec), static_cast<long>(tv.tv_usec)};
}

TEST(TimeLimits, MicrosecondsCarryAtOneMillion)
{
    using Mux::timeval;
    using P = std::pair<long, long>;
    timeval r;
    Mux::timevaladd2(timeval(1, 499999), timeval(0, 500000), r);
    EXPECT_EQ(Parts(r), P(1, 999999));
    Mux::timevaladd2(timeval(1, 500000), timeval(0, 500000), r);
    EXPECT_EQ(Parts(r), P(2, 0));
    Mux::timevalsub2(timeval(2, 0), timeval(0, 1), r);
    EXPECT_EQ(Parts(r), P(1, 999999));
    Mux::timevalsub2(timeval(2, 5), timeval(1, 5), r);
    EXPECT_EQ(Parts(r), P(1, 0));
    timeval a(3, 999999), one(0, 1);
    Mux::timevaladd(a, one);
    EXPECT_EQ(Parts(a), P(4, 0));
    Mux::timevalsub(a, one);
    EXPECT_EQ(Parts(a), P(3, 999999));

    EXPECT_EQ(Parts(Mux::make_from_msec(999)), P(0, 999000));
    EXPECT_EQ(Parts(Mux::make_from_msec(1000)), P(1, 0));
    EXPECT_EQ(Parts(Mux::make_from_usec(999999)), P(0, 999999));
    EXPECT_EQ(Parts(Mux::make_from_usec(1000000)), P(1, 0));
    Mux::timevalset(r, 1999);
    EXPECT_EQ(Parts(r), P(1, 999000));

    // Within one second the microseconds decide.
    EXPECT_EQ(Mux::timevalcompare(timeval(1, 5), timeval(1, 6)), -1);
    EXPECT_EQ(Mux::timevalcompare(timeval(1, 6), timeval(1, 5)), 1);
    EXPECT_EQ(Mux::timevalcompare(timeval(1, 6), timeval(1, 6)), 0);
    EXPECT_EQ(Mux::timevalcompare(timeval(1, 999999), timeval(2, 0)), -1);
    EXPECT_EQ(Mux::timevaldiff(timeval(7, 1000), timeval(7, 3000)), 2u);
    EXPECT_EQ(Mux::timevaldiff(timeval(7, 3000), timeval(7, 1000)), 0u);
    EXPECT_EQ(Mux::timevaldiff(timeval(7, 0), timeval(7, 999)), 0u);
    EXPECT_EQ(Mux::timevaldiff(timeval(7, 0), timeval(7, 1000)), 1u);
    EXPECT_EQ(Mux::timevaldiff(timeval(7, 5), timeval(7, 5)), 0u);

    // A period of 1 ms: one millisecond after the start is not yet past it.
    Mux::timeval_timer t;
    t.init(timeval(5, 0), 1);
    EXPECT_FALSE(t.is_expired(timeval(5, 1000)));
    EXPECT_TRUE(t.is_expired(timeval(5, 2000)));
    t.inc();
    EXPECT_EQ(Parts(t.start), P(5, 1000));
    t.init(timeval(5, 0), -1);
    EXPECT_FALSE(t.is_expired(timeval(50, 0)));
}

void Sample(Measure& m, Mux::timeval from, Mux::timeval to)
{
    Mux::g_tv_mono = from;
    m.begin();
    Mux::g_tv_mono = to;
    m.end();
}

TEST(MeasureFields, EachStatisticInItsPlaceAcrossTheWrap)
{
    using Mux::timeval;
    Measure m;
    Sample(m, timeval(10, 0), timeval(10, 30));
    EXPECT_EQ(std::vector<uint32_t>({m.min(), m.max(), m.last(), m.counter()}), std::vector<uint32_t>({30, 30, 30, 1}));
    Sample(m, timeval(11, 0), timeval(11, 10));
    Sample(m, timeval(12, 0), timeval(12, 20));
    EXPECT_EQ(std::vector<uint32_t>({m.min(), m.max(), m.last(), m.counter()}), std::vector<uint32_t>({10, 30, 20, 3}));
    std::ostringstream os;
    os << std::hex << m << ' ' << 255;
    EXPECT_EQ(os.str(), "min=10 max=30 avg=20 counter=3 ff"); // the caller's base is kept

    // 4294.967295 s is the last microsecond before the counter wraps.
    Measure w;
    Sample(w, timeval(4294, 967295), timeval(4294, 967301));
    EXPECT_EQ(w.last(), 6u);
    // A lap ends one sample and starts the next at the same reading.
    Mux::g_tv_mono = timeval(20, 0);
    w.begin();
    Mux::g_tv_mono = timeval(20, 40);
    w.lap();
    Mux::g_tv_mono = timeval(20, 45);
    w.end();
    EXPECT_EQ(std::vector<uint32_t>({w.min(), w.max(), w.last(), w.counter()}), std::vector<uint32_t>({5, 40, 5, 3}));
    Mux::mux_cleartimeofday();
}

TEST(SelectSetLimits, Descriptors0To1023)
{
    Mux::Set s;
    EXPECT_EQ(s.highest, -1);
    EXPECT_EQ(s.get(), nullptr);
    EXPECT_FALSE(s.add(-1));
    EXPECT_FALSE(s.add(1024));
    EXPECT_EQ(s.highest, -1);
    EXPECT_TRUE(s.add(0));
    EXPECT_EQ(s.highest, 0);
    EXPECT_NE(s.get(), nullptr);
    EXPECT_TRUE(s.add(1023));
    EXPECT_TRUE(s.add(5));
    EXPECT_EQ(s.highest, 1023);
    EXPECT_TRUE(s.is_set(0) && s.is_set(5) && s.is_set(1023));
    EXPECT_FALSE(s.is_set(1) || s.is_set(1022) || s.is_set(1024) || s.is_set(-1));
    Mux::Set t, u;
    t.add(7);
    EXPECT_EQ(Mux::max_fd(t, u), 7);
    EXPECT_EQ(Mux::max_fd(u, t), 7);
    EXPECT_EQ(Mux::max_fd(u, t, s), 1023);
    EXPECT_EQ(Mux::max_fd(s, t, u), 1023);
    EXPECT_EQ(Mux::max_fd(u, u), -1);
    s.clear();
    EXPECT_EQ(s.highest, -1);
    EXPECT_FALSE(s.is_set(0));

    // select watches up to and including the highest descriptor.
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    Mux::Set rd, wr, ex;
    rd.add(fds[0]);
    Mux::timeval none(0, 0);
    EXPECT_EQ(Mux::select(rd, wr, ex, none), 1);
    EXPECT_TRUE(rd.is_set(fds[0]));
    Mux::Set only;
    only.add(fds[0]);
    Mux::timeval again(0, 0);
    EXPECT_EQ(Mux::select_rd(only, again), 1);
    ::close(fds[0]);
    ::close(fds[1]);
}

// Times are whole milliseconds of the loop's clock.
class MsLimits : public LoopTest {
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        set_clock(base);
    }
    void at(uint64_t ms)
    {
        set_clock(base + ms);
        multiplexer.timers_schedule();
    }
    uint64_t base = 50000;
};

struct Fired
{
    void fire() { ++count; }
    int count = 0;
};

TEST_F(MsLimits, ATimerFallsDueOnItsMillisecondNotBefore)
{
    Fired f;
    int& fired = f.count;
    Timer t;
    t.set(250, &Fired::fire, &f);
    EXPECT_EQ(multiplexer.next_timer_wait(), 250);
    at(1);
    EXPECT_EQ(multiplexer.next_timer_wait(), 249);
    at(249);
    EXPECT_EQ(fired, 0);
    EXPECT_TRUE(t.is_running());
    EXPECT_EQ(multiplexer.next_timer_wait(), 1);
    at(250);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(t.is_running());
    EXPECT_EQ(multiplexer.next_timer_wait(), -1);

    // One second, from the millisecond it was armed.
    t.set(1000, &Fired::fire, &f);
    at(1249);
    EXPECT_EQ(fired, 1);
    at(1250);
    EXPECT_EQ(fired, 2);
}

TEST_F(MsLimits, WatchdogPingedOncePerThousandMillisecondsOfTheLoopClock)
{
    TempDir dir;
    const std::string path = dir.path + "/wd";
    std::ofstream{path};
    multiplexer.set_watchdog_path(path);
    // Always writable: every pass polls without waiting, and its handler
    // moves the clock the next pass's ping check reads. A ping at the
    // first pass, none in the same millisecond nor 999 ms later, one at
    // 1000 ms; one at once when the clock steps back; then 1000 ms again.
    // The clock starts below one second: the first ping needs no earlier one.
    const uint64_t start = 300;
    set_clock(start);
    const std::vector<uint64_t> steps{0, 999, 1000, 1000, 1999, 500, 1499, 1500};
    size_t next = 0;
    Pair p;
    Log log;
    Recorder clock(log, "clock");
    // The pings so far, as each pass's handler sees them.
    std::vector<size_t> pings;
    clock.action = [&] {
        std::ifstream now(path);
        const std::string sofar((std::istreambuf_iterator<char>(now)), std::istreambuf_iterator<char>());
        pings.push_back((sofar.size() - 5) / 4);
        if (next == steps.size())
            multiplexer.terminate();
        else
            set_clock(start + steps[next++]);
    };
    clock.event.Schedule(p.a, POLLOUT);
    // The device on descriptor 0 is as good as on any other.
    testing::internal::CaptureStderr();
    const int saved = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    ASSERT_GE(saved, 0);
    ::close(0);
    multiplexer.run(true, true);
    ::dup2(saved, 0);
    ::close(saved);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mux: terminating...\n");
    clock.event.Release();
    multiplexer.set_watchdog_path(Multiplexer::WatchdogPath);

    std::ifstream in(path);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "START" "PING" "PING" "PING" "PING" "STOP");
    EXPECT_EQ(pings, (std::vector<size_t>{1, 1, 1, 2, 2, 2, 3, 3, 4}));
}

} // namespace
