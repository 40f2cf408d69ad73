// Signalling slots under a careless controller and a hostile line: the
// daemon goes on serving and gives back every descriptor and pooled packet.

#include "tests/signalling/slot_link.h"

#include "framework/packet.h"

#include <dirent.h>

#include <climits>
#include <random>

namespace {

using namespace tdmtest;

size_t OpenFds()
{
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

// Every ioctl alternative a signalling slot may meet.
std::vector<LGCP::Message> Ioctls(unsigned seq, int slot)
{
    std::vector<LGCP::Message> all;
    all.push_back(Ioctl(seq, slot, [](LGCP::IoctlParams& p) { p.select_ss7RqBSN(); }));
    all.push_back(Ioctl(seq, slot, [](LGCP::IoctlParams& p) {
        using L = LGCP::SS7L2Log;
        L& l = p.select_ss7Log();
        for (auto set : {&L::set_state, &L::set_raw_receive, &L::set_raw_transmit, &L::set_mtp_transmit,
                         &L::set_mtp_receive, &L::set_mtp_activate, &L::set_timers, &L::set_msu_processing})
            (l.*set)(true);
    }));
    all.push_back(Packages(seq, slot, {}));
    std::vector<std::vector<char>> bodies;
    for (int i = 0; i < 128; ++i)
        bodies.emplace_back(i % 2 ? 0 : 500, 'p');
    all.push_back(Packages(seq, slot, bodies));
    all.push_back(Ioctl(seq, slot, [](LGCP::IoctlParams& p) { p.select_echoSuppressor(true); }));
    return all;
}

class Hostile : public SlotLink {
protected:
    void SetUp() override
    {
        SlotLink::SetUp();
        board.Prune();
        mPackets = PacketPool::available();
        mFds = OpenFds();
    }

    // Sends without waiting, then takes whatever came back.
    void Send(LGCP::Message const& m) { EXPECT_TRUE(client.Send(Encode(m))); }
    void Drain()
    {
        loop.Settle(3);
        for (Octets payload; client.Take(payload);)
            Decode(payload);
    }
    // All slots destroyed: every descriptor and packet is back.
    void ExpectNothingHeld(std::vector<int> const& slots)
    {
        for (int s : slots)
            Send(Destroy(900, s));
        Drain();
        board.Prune();
        EXPECT_EQ(Slots::instance().count(), 0u);
        EXPECT_EQ(PacketPool::available(), mPackets);
        EXPECT_EQ(OpenFds(), mFds);
        EXPECT_TRUE(mcc.Timeslots().empty());
    }
    // Random frames, some starting with the octets a link expects.
    void Flood(std::function<bool(Frame const&)> inject, Frame const& prefix, int count)
    {
        std::uniform_int_distribution<int> len(0, 600), octet(0, 255), coin(0, 3);
        for (int i = 0; i < count; ++i) {
            Frame f;
            if (coin(mRng))
                f = prefix;
            f.resize(f.size() + static_cast<size_t>(len(mRng) % (coin(mRng) ? 8 : 600)));
            for (size_t k = coin(mRng) ? prefix.size() : 0; k < f.size(); ++k)
                f[k] = static_cast<uint8_t>(octet(mRng));
            inject(f);
            if (i % 32 == 0)
                Drain();
        }
        Drain();
    }

    std::mt19937 mRng{20261206};
    unsigned mPackets = 0;
    size_t mFds = 0;
};

TEST_F(Hostile, ExtremeCreateParametersOddOrdersAndFullQueues)
{
    const int values[] = {INT_MIN, -1, 0, 1, 4, 65535, 65536, INT_MAX};
    unsigned seq = 1;
    std::vector<int> made;
    int slot = 10;
    for (int v : values) {
        for (auto m : {CreateSs7(seq, slot, v, v, true), CreateIsdn(seq, slot + 1, false, false, true, v, v),
                       CreateIsdn(seq, slot + 2, true, true, true, v, v),
                       CreateIsdn(seq, slot + 3, true, false, false, v, v), CreateHdlc(seq, slot + 4, v, v, v)}) {
            Send(m);
        }
        seq++;
        slot += 5;
    }
    Drain();
    for (int s = 10; s < slot; ++s)
        if (Slots::instance().Find(s))
            made.push_back(s);
    EXPECT_GE(made.size(), 30u);
    // Every command on every slot, before activation, after, twice over.
    for (int s : made) {
        Send(UserData(seq, s, {}));
        for (auto& m : Ioctls(seq, s))
            Send(m);
        for (auto& m : {Deactivate(seq, s), Activate(seq, s), UserData(seq, s, std::vector<char>(16384, 0x08)),
                        UserData(seq, s, {0x08, 0x01, 0x01, 0x05}), Activate(seq, s), Deactivate(seq, s),
                        Deactivate(seq, s)})
            Send(m);
        ++seq;
        Drain();
    }
    // Destroyed twice: the second is refused.
    ExpectAnswer(Exchange(Destroy(seq, made[0]))[0], seq, made[0]);
    ExpectAnswer(Exchange(Destroy(seq + 1, made[0]))[0], seq + 1, made[0], LGCP::ErrorCause::slotNotExists);
    made.erase(made.begin());
    ExpectServing(seq + 2);
    // User data longer than any frame of the link is refused; the longest
    // goes, but for the SS7 link not in service, which takes none.
    ExpectAnswer(Exchange(CreateSs7(1, 100, 1, 0, true))[0], 1, 100);
    ExpectAnswer(Exchange(CreateIsdn(1, 101, false, false, true))[0], 1, 101);
    ExpectAnswer(Exchange(CreateIsdn(1, 102, false, false, false))[0], 1, 102);
    const int idle = LGCP::ErrorCause::insufficientResources;
    for (auto [slot, most] : {std::pair{100, 273}, {101, 260}, {102, 260}}) {
        ExpectAnswer(Exchange(UserData(2, slot, std::vector<char>(size_t(most), 1)))[0], 2, slot,
                     slot == 100 ? idle : -1);
        ExpectAnswer(Exchange(UserData(3, slot, std::vector<char>(size_t(most) + 1, 1)))[0], 3, slot,
                     LGCP::ErrorCause::invalidParams);
        made.push_back(slot);
    }
    // Fewer than three octets would reach the far end as a FISU or an LSSU.
    for (size_t n : {0, 2})
        ExpectAnswer(Exchange(UserData(4, 100, std::vector<char>(n, 3)))[0], 4, 100, LGCP::ErrorCause::invalidParams);
    ExpectAnswer(Exchange(UserData(5, 100, {3, 1, 1}))[0], 5, 100, idle);
    ExpectAnswer(Exchange(UserData(5, 101, {}))[0], 5, 101, LGCP::ErrorCause::invalidParams); // nor ISDN
    // Frames queued on closed channels hold pooled packets: a controller that
    // fills queue after queue is refused before the pool runs dry.
    size_t refused = 0;
    for (int s = 110; s < 120; ++s) {
        ExpectAnswer(Exchange(CreateHdlc(6, s, 1, 0x1234))[0], 6, s);
        auto got = Exchange(Packages(7, s, std::vector<std::vector<char>>(HdlcSlot::kQueueSize, {1})));
        ASSERT_TRUE(got[0].get_pdu().response_isSelected());
        if (got[0].get_pdu().get_response().error_isSelected()) {
            ExpectAnswer(got[0], 7, s, LGCP::ErrorCause::insufficientResources);
            ++refused;
        }
        made.push_back(s);
    }
    EXPECT_GT(refused, 0u);
    EXPECT_GE(PacketPool::available(), 200u);
    ExpectNothingHeld(made);
}

TEST_F(Hostile, LineFloodsAndOddConnectionsOnEveryKind)
{
    // PSTN SS7 and PRI on E1 time slots, a BRI network side on both halves
    // of a BRI line; ISDN PRI, BRI user and network sides, QSIG; HDLC; CAS.
    Send(CreateSs7(1, 5, 1, 0, true));
    // Every trace on for some, so that the floods run through the printers.
    for (auto& m : {CreateIsdn(1, 6, false, false, true, 1, 5), CreateIsdn(1, 7, true, true, true, 1, 5),
                    CreateIsdn(1, 8, true, false, true), CreateIsdn(1, 9, false, true, false, 1, 5),
                    CreateIsdn(1, 10, true, false, false), CreateIsdn(1, 11, true, true, false)})
        Send(m);
    Send(Do(1, 12, [](LGCP::Command& c) { c.select_create().select_ats_qsig().get_side().select_network(); }));
    Send(CreateHdlc(1, 13, 1, 0x1234));
    Send(Do(1, 14, [](LGCP::Command& c) { c.select_create().select_pstn().select_cas(); }));
    Send(CreateIsdn(1, 15, false, false));
    for (int e = 20; e < 23; ++e)
        Send(CreateE1(1, e, 1, e - 4));
    Send(CreateBri(1, 23, 1, 1));
    Send(CreateBri(1, 24, 2, 1));
    for (auto [source, receiver] : {std::pair{20, 5}, {21, 6}, {22, 13}, {23, 7}, {7, 23}, {24, 8}, {8, 24}})
        Send(Connect(2, source, {receiver}));
    for (int s : {9, 10, 11, 12, 15})
        Send(Activate(3, s));
    Drain();
    std::vector<int> kinds = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int s : kinds)
        ASSERT_NE(Slots::instance().Find(s), nullptr) << s;
    auto held = mcc.Timeslots();
    ASSERT_EQ(held.size(), 9u);
    auto dspChannels = board.Channels("/dev/dsp-data");
    ASSERT_EQ(dspChannels.size(), 1u);

    // The PRI links up, so that floods meet established links too.
    for (int ts : held)
        mcc.Inject(ts, {0x00, 0x01, 0x73});
    const Frame prefixes[] = {{0x00, 0x01}, {0x02, 0x01}, {0xFC, 0xFF, 0x03, 0x0F}, {0x12, 0x34, 0x00}};
    unsigned seq = 10;
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < held.size(); ++i) {
            int ts = held[i];
            Flood([&](Frame const& f) { return mcc.Inject(ts, f); }, prefixes[(i + round) % 4], 40);
        }
        Flood([&](Frame const& f) { return dspChannels[0]->Send(f); }, prefixes[round % 2], 40);
        // The controller keeps talking to each slot meanwhile.
        for (int s : kinds) {
            Send(UserData(seq, s, std::vector<char>(round == 1 ? 16384 : 260, 0x08)));
            for (auto& m : Ioctls(seq, s))
                Send(m);
        }
        for (int ts : held)
            mcc.Written(ts);
        ExpectServing(seq++);
    }
    // A far end that resets over and over, then hangs up under queued frames.
    for (int i = 0; i < 30; ++i)
        for (int ts : held)
            mcc.Inject(ts, {0x02, 0x01, 0x7F});
    for (int ts : held)
        mcc.Refuse(ts);
    for (int s : kinds)
        for (int i = 0; i < 10; ++i)
            Send(UserData(seq, s, {0x08, 0x01, 0x01, 0x05}));
    Drain();
    for (size_t i = 0; i < held.size(); i += 2)
        mcc.Hangup(held[i]);
    ExpectServing(seq++);
    // Connections in odd orders: twice over, both ways, from a BRI line to a
    // PRI link, the source destroyed first.
    for (int s : kinds) {
        for (int src : {20, 21, 23, 20}) {
            Send(Connect(seq, src, {s}));
            Send(Connect(seq, s, {src}));
        }
        Send(Activate(seq, s));
        Send(Disconnect(seq, s));
        Send(Disconnect(seq, 20));
        Send(Connect(seq, 22, {s}));
        Send(Destroy(seq, 22));
        Send(CreateE1(seq, 22, 1, 18));
        ++seq;
        Drain();
    }
    ExpectServing(seq);
    ExpectNothingHeld({5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 21, 22, 23, 24});
    EXPECT_TRUE(sw.IsIdle(8192 + 16));
}

// A controller that stops reading while the line floods: its link is cut
// from inside a slot's own report, and the slots go with it.
TEST_F(Hostile, ControllerThatStopsReadingUnderALineFlood)
{
    client.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    int small = 2048;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{AF_INET, htons(server.port()), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_TRUE(loop.RunUntil([&] { return server.IsConnected(); }));
    auto send = [&](LGCP::Message const& m) {
        Octets payload = Encode(m);
        Octets frame{3, 0, static_cast<char>((payload.size() + 4) >> 8), static_cast<char>((payload.size() + 4) & 0xFF)};
        frame.insert(frame.end(), payload.begin(), payload.end());
        ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frame.size()));
    };
    send(CreateHdlc(1, 5, 1, 0x1234));
    send(CreateE1(2, 6, 1, 5));
    send(Connect(3, 6, {5}));
    ASSERT_TRUE(loop.RunUntil([&] { return !mcc.Timeslots().empty(); }));
    const int ts = mcc.Timeslots()[0];
    Frame f(512, 0x55);
    f[0] = 0x12, f[1] = 0x34, f[2] = 0, f[4] = 0;
    for (int i = 0; i < 20000 && server.IsConnected(); ++i) {
        mcc.Inject(ts, f);
        if (i % 16 == 15)
            loop.Settle(1);
    }
    EXPECT_FALSE(server.IsConnected());
    loop.Settle(5);
    ::close(fd);
    EXPECT_EQ(Slots::instance().count(), 0u);
    board.Prune();
    EXPECT_TRUE(mcc.Timeslots().empty());
    EXPECT_EQ(PacketPool::available(), mPackets);
}

} // namespace
