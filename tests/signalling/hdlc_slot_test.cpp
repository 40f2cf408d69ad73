// The transparent HDLC slot through the controller link, on a simulated
// MCC channel.

#include "tests/signalling/slot_link.h"

namespace {

using namespace tdmtest;

// The bodies of an ioctl signal carrying packages.
std::vector<std::vector<char>> Bodies(LGCP::Message const& m)
{
    std::vector<std::vector<char>> bodies;
    for (const auto& package : SELECTED(SELECTED(SignalOf(m), ioctl), hdlcPackages))
        bodies.push_back(package.get_body());
    return bodies;
}

class HdlcSlots : public SlotLink {
protected:
    static constexpr int kSlot = 7;
    static constexpr int kTrunkSlot = 3;
    static constexpr int kAddress = 0x1234;

    // A slot connected from an E1 time slot; its MCC channel's time slot.
    int Open()
    {
        ExpectAnswer(Exchange(CreateHdlc(1, kSlot, 1, kAddress))[0], 1, kSlot);
        Exchange(CreateE1(2, kTrunkSlot, 1, 5), 3);
        ExpectAnswer(Exchange(Connect(3, kTrunkSlot, {kSlot}))[0], 3, kTrunkSlot);
        auto held = mcc.Timeslots();
        EXPECT_EQ(held.size(), 1u);
        return held.empty() ? -1 : held[0];
    }
    void Inject(int ts, Frame const& frame) { ASSERT_TRUE(mcc.Inject(ts, frame)); }
};

TEST_F(HdlcSlots, ChannelAndSequenceOctetsOfSentFrames)
{
    int ts = Open();
    ASSERT_NE(mcc.At(ts), nullptr);
    EXPECT_EQ(mcc.At(ts)->kind, 0u); // mode 1: a data channel
    EXPECT_EQ(sw.Source(ts), 8192 + 5);
    EXPECT_EQ(sw.Source(8192 + 5), ts);
    ExpectAnswer(Exchange(Packages(4, kSlot, {{'a'}, {'b', 'c'}}))[0], 4, kSlot);
    EXPECT_EQ(mcc.Written(ts), (std::vector<Frame>{{0x12, 0x34, 0x00, 'a'}, {0x12, 0x34, 0x20, 'b', 'c'}}));

    // The peer's counter 3 comes back in our low five bits.
    Inject(ts, {0x12, 0x34, 0x60, 'x'});
    EXPECT_EQ(Bodies(Receive(1)[0]), (std::vector<std::vector<char>>{{'x'}}));
    ExpectAnswer(Exchange(Packages(5, kSlot, {{}, {}, {}, {}, {}, {}, {}}))[0], 5, kSlot);
    auto written = mcc.Written(ts);
    ASSERT_EQ(written.size(), 7u);
    EXPECT_EQ(written[0], (Frame{0x12, 0x34, 0x43}));
    EXPECT_EQ(written[5], (Frame{0x12, 0x34, 0xE3}));
    EXPECT_EQ(written[6], (Frame{0x12, 0x34, 0x03})); // the ninth frame wraps to 0

    // Not ours to carry.
    ExpectAnswer(Exchange(Ioctl(6, kSlot, [](LGCP::IoctlParams& p) { p.select_ss7RqBSN(); }))[0], 6, kSlot,
                 LGCP::ErrorCause::unsupported);
    ExpectAnswer(Exchange(Packages(7, kSlot, {std::vector<char>(510, 'z')}))[0], 7, kSlot,
                 LGCP::ErrorCause::invalidParams);
    EXPECT_TRUE(mcc.Written(ts).empty());

    // The other direction opens it again on the same line; a disconnection
    // closes it.
    ExpectAnswer(Exchange(Connect(8, kSlot, {kTrunkSlot}))[0], 8, kSlot);
    ExpectAnswer(Exchange(Disconnect(9, kSlot))[0], 9, kSlot);
    board.Prune();
    EXPECT_TRUE(mcc.Timeslots().empty());
    EXPECT_TRUE(sw.IsIdle(8192 + 5));
}

TEST_F(HdlcSlots, ReceivedFramesAreGatheredWhileMoreIsMarked)
{
    int ts = Open();
    const unsigned char more = 0x80;
    // Three marked, then one unmarked: one signal with four packages.
    Inject(ts, {0x12, 0x34, 0x00, 1, more});
    Inject(ts, {0x12, 0x34, 0x00, 2, more});
    Inject(ts, {0x12, 0x34, 0x00, 3, more});
    Inject(ts, {0x12, 0x34, 0x00, 4, 0});
    EXPECT_EQ(Bodies(Receive(1)[0]),
              (std::vector<std::vector<char>>{{1, char(more)}, {2, char(more)}, {3, char(more)}, {4, 0}}));

    // Other addresses and short frames give no package; another address's
    // mark still holds the batch, and the delay ends it.
    Inject(ts, {0x12, 0x34, 0x00, 5, more});
    Inject(ts, {0x55, 0x55, 0x00, 6, more});
    Inject(ts, {0x12, 0x34});
    Inject(ts, {0x12, 0x34, 0x00, 7, more});
    EXPECT_EQ(Bodies(Receive(1)[0]), (std::vector<std::vector<char>>{{5, char(more)}, {7, char(more)}}));
    EXPECT_EQ(static_cast<HdlcSlot*>(Slots::instance().Find(kSlot))->shortFrames(), 1u);

    // An unmarked frame for another address sends what was gathered; a body
    // of one octet marks nothing.
    Inject(ts, {0x12, 0x34, 0x00, 8, more});
    Inject(ts, {0x55, 0x55, 0x00, 9, 0});
    EXPECT_EQ(Bodies(Receive(1)[0]), (std::vector<std::vector<char>>{{8, char(more)}}));
    Inject(ts, {0x12, 0x34, 0x00, 10});
    EXPECT_EQ(Bodies(Receive(1)[0]), (std::vector<std::vector<char>>{{10}}));
    ExpectQuiet();

    // A peer that never ends a gathering: full-size frames, more than one
    // signal can carry, go up in several, nothing lost, nothing cut.
    Frame f(512, 0x55);
    f[0] = 0x12, f[1] = 0x34, f[2] = 0, f[4] = more;
    for (int i = 0; i < 300; ++i) {
        Inject(ts, f);
        if (i % 16 == 15)
            loop.Settle(1);
    }
    f[4] = 0;
    Inject(ts, f);
    size_t packages = 0, signals = 0;
    loop.RunUntil([&] {
        Octets payload;
        for (; client.Take(payload); ++signals)
            packages += Bodies(Decode(payload)).size();
        return packages > 300;
    });
    EXPECT_EQ(packages, 301u);
    EXPECT_GT(signals, 2u);
}

TEST_F(HdlcSlots, FullQueueRefusesTheWholeCommand)
{
    ExpectAnswer(Exchange(CreateHdlc(1, kSlot, 1, kAddress))[0], 1, kSlot);
    // Closed: frames wait.
    std::vector<std::vector<char>> bodies;
    for (int i = 0; i < 100; ++i)
        bodies.push_back({char(i)});
    ExpectAnswer(Exchange(Packages(2, kSlot, bodies))[0], 2, kSlot);
    bodies.resize(21);
    ExpectAnswer(Exchange(Packages(3, kSlot, bodies))[0], 3, kSlot, LGCP::ErrorCause::insufficientResources);
    bodies.resize(20);
    ExpectAnswer(Exchange(Packages(4, kSlot, bodies))[0], 4, kSlot);

    // Activation drains the queue in order, sequence counters unbroken.
    ExpectAnswer(Exchange(Activate(5, kSlot))[0], 5, kSlot);
    int ts = mcc.Timeslots().at(0);
    std::vector<Frame> written;
    loop.RunUntil([&] {
        for (auto& f : mcc.Written(ts))
            written.push_back(f);
        return written.size() >= 120;
    });
    ASSERT_EQ(written.size(), 120u);
    for (unsigned i = 0; i < 120; ++i) {
        EXPECT_EQ(written[i][2], (i % 8) << 5);
        EXPECT_EQ(written[i][3], char(i % 100));
    }

    // Open with nothing waiting: a list of the most LGCP allows goes out whole.
    bodies.assign(128, {'m'});
    ExpectAnswer(Exchange(Packages(6, kSlot, bodies))[0], 6, kSlot);
    written = mcc.Written(ts);
    ASSERT_EQ(written.size(), 128u);
    EXPECT_EQ(written[127][2], 7 << 5);
    // A busy channel: what waits stays within the queue's 120.
    ASSERT_TRUE(mcc.Refuse(ts));
    ExpectAnswer(Exchange(Packages(7, kSlot, {{'w'}}))[0], 7, kSlot);
    bodies.resize(120);
    ExpectAnswer(Exchange(Packages(8, kSlot, bodies))[0], 8, kSlot, LGCP::ErrorCause::insufficientResources);
    bodies.resize(119);
    ExpectAnswer(Exchange(Packages(9, kSlot, bodies))[0], 9, kSlot);
}

TEST_F(HdlcSlots, StatisticsAndFailures)
{
    HdlcSlot::sUpdateMs = 30;
    ExpectAnswer(Exchange(CreateHdlc(1, kSlot, 1, kAddress))[0], 1, kSlot);
    // An address of more than 16 bits is not truncated.
    ExpectAnswer(Exchange(CreateHdlc(2, 8, 1, 0x10000))[0], 2, 8, LGCP::ErrorCause::invalidParams);

    // Every period, and once more on deactivate.
    for (int i = 0; i < 2; ++i) {
        auto report = Receive(1);
        const LGCP::Signal& s = SignalOf(report[0]);
        ASSERT_TRUE(s.ioctl_isSelected() && s.get_ioctl().hdlcLinkInfo_isSelected());
    }
    HdlcSlot::sUpdateMs = 600000;
    ExpectAnswer(Exchange(Packages(3, kSlot, {{'a'}}))[0], 3, kSlot);
    ExpectAnswer(Exchange(Activate(4, kSlot))[0], 4, kSlot);
    auto got = Exchange(Deactivate(5, kSlot), 2);
    ASSERT_TRUE(SignalOf(got[0]).ioctl_isSelected());
    const LGCP::HdlcLinkInfo& info = SELECTED(SignalOf(got[0]), ioctl).get_hdlcLinkInfo();
    EXPECT_EQ(info.get_txSU().getValue(), 1u);
    EXPECT_EQ(info.get_rxSU().getValue(), 0u);
    ExpectAnswer(got[1], 5, kSlot);

    // A channel that cannot be opened: deactivated, and the command fails.
    board.FailOpen("/dev/mcc/ctl", ENODEV);
    got = Exchange(Activate(6, kSlot), 2);
    EXPECT_TRUE(SignalOf(got[0]).deactivated_isSelected());
    ExpectAnswer(got[1], 6, kSlot, LGCP::ErrorCause::insufficientResources);
}

} // namespace
