// External TDM, MCC channel and echo canceller slots through the link.

#include "tdm_link.h"

#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/mcc_slot.h"
#include "standin/mcc.h"

namespace {

using namespace tdmtest;
using Mode = Standin::Switch::Mode;

LGCP::Message CreateExt(unsigned seq, int slot, int transmitter, int receiver)
{
    return Do(seq, slot, [&](LGCP::Command& c) {
        auto& ext = c.select_create().select_ext();
        ext.set_transmitter(transmitter);
        ext.set_receiver(receiver);
    });
}

LGCP::Message CreateMcc(unsigned seq, int slot, LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode)
{
    return Do(seq, slot, [&](LGCP::Command& c) {
        auto& mcc = c.select_create().select_mcc();
        mcc.get_type() = type;
        mcc.get_mode() = mode;
    });
}

LGCP::Message CreateEcho(unsigned seq, int slot, int bus, int channel)
{
    return Do(seq, slot, [&](LGCP::Command& c) {
        auto& echo = c.select_create().select_echo();
        echo.set_bus(bus);
        echo.set_channel(channel);
    });
}

class TdmSlots : public LinkFixture {
protected:
    void SetUp() override
    {
        ExtFactory::instance();
        MccFactory::instance();
        EchoFactory::instance();
        LinkFixture::SetUp();
    }
};

TEST_F(TdmSlots, ExtTakesASourceOnlyWhileActive)
{
    auto made = Exchange(CreateExt(1, 4, 5, 7), 2);
    ExpectAnswer(made[0], 1, 4);
    ExpectStream(made[1], 4, true, true, 8197);
    Exchange(CreateMap(2, 9, 300), 3);

    // Never activated: no input stream, and deactivating still idles nothing
    // but disables the output.
    ExpectAnswer(Exchange(Connect(3, 9, {4}))[0], 3, 9, LGCP::ErrorCause::connectFail);
    ExpectAnswer(Exchange(Deactivate(4, 4))[0], 4, 4);
    EXPECT_EQ(sw.At(8199).mode, Mode::Disabled);

    auto active = Exchange(Activate(5, 4), 2);
    ExpectStream(active[0], 4, false, true, 8199);
    ExpectAnswer(active[1], 5, 4);
    EXPECT_TRUE(sw.IsIdle(8199));
    ExpectAnswer(Exchange(Connect(6, 9, {4}))[0], 6, 9);
    EXPECT_EQ(sw.Source(8199), 8192 + 300);
    // The ext transmitter feeds the map slot.
    ExpectAnswer(Exchange(Connect(7, 4, {9}))[0], 7, 4);
    EXPECT_EQ(sw.Source(8192 + 300), 8197);

    auto inactive = Exchange(Deactivate(8, 4), 2);
    ExpectStream(inactive[0], 4, false, false, 8199);
    ExpectAnswer(inactive[1], 8, 4);
    EXPECT_EQ(sw.At(8199).mode, Mode::Disabled);
    EXPECT_EQ(Slots::instance().Find(4)->GetSource(), nullptr);

    sw.Reset();
    ExpectAnswer(Exchange(Destroy(9, 4))[0], 9, 4);
    EXPECT_EQ(sw.At(8199).mode, Mode::Disabled);
    EXPECT_TRUE(sw.IsIdle(8192 + 300)); // its transmitter fed nothing any more
}

TEST_F(TdmSlots, ExtOutsideTheSwitchIsInvalid)
{
    const int cases[][2] = {{-1, 7}, {5, -1}, {2048, 7}, {5, 2048}, {0x7fffffff, 0}};
    unsigned seq = 1;
    for (auto& c : cases) {
        ExpectAnswer(Exchange(CreateExt(seq, 4, c[0], c[1]))[0], seq, 4, LGCP::ErrorCause::invalidParams);
        ++seq;
    }
    auto made = Exchange(CreateExt(seq, 4, 0, 2047), 2);
    ExpectAnswer(made[0], seq, 4);
    ExpectStream(made[1], 4, true, true, 8192);
    EXPECT_EQ(Slots::instance().Find(4)->GetReceiveChannel(), 8192 + 2047);
}

class MccSlots : public TdmSlots {
protected:
    Standin::Mcc& mcc = board.Get<Standin::Mcc>("/dev/mcc/ctl");

    // The slot's channel, checked against its announced streams.
    int Make(unsigned seq, int slot, LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode)
    {
        auto made = Exchange(CreateMcc(seq, slot, type, mode));
        ExpectAnswer(made[0], seq, slot);
        ExpectQuiet(); // no stream is announced by itself
        Slot* s = Slots::instance().Find(slot);
        return s ? s->GetTransmitChannel() : -1;
    }
};

TEST_F(MccSlots, AllocatesTheKindTheParametersName)
{
    struct Case {
        LGCP::MccType::NamedNumber type;
        LGCP::MccMode::NamedNumber mode;
        uint32_t kind;
    } cases[] = {
        {LGCP::MccType::data, LGCP::MccMode::standard, 0},
        {LGCP::MccType::bri, LGCP::MccMode::standard, 1},
        {LGCP::MccType::transparent, LGCP::MccMode::standard, 2},
        {LGCP::MccType::bri, LGCP::MccMode::ss7, 3},
        {LGCP::MccType::data, LGCP::MccMode::ss7, 3},
    };
    int slot = 20;
    for (const Case& c : cases) {
        int ts = Make(static_cast<unsigned>(slot), slot, c.type, c.mode);
        const auto* at = mcc.At(ts);
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(at->kind, c.kind);
        EXPECT_EQ(at->packetSize, 512u);
        EXPECT_EQ(at->reserved, 0u);
        EXPECT_EQ(at->rxThreshold, 1u);
        EXPECT_EQ(at->txThreshold, 1u);
        EXPECT_EQ(Slots::instance().Find(slot)->GetReceiveChannel(), ts);
        ++slot;
    }
    // Destroying the slot frees its channel.
    size_t held = mcc.free();
    ExpectAnswer(Exchange(Destroy(40, 20))[0], 40, 20);
    board.Prune();
    EXPECT_EQ(mcc.free(), held + 1);
}

TEST_F(MccSlots, RefusedAllocations)
{
    // No device, no channel, and a channel that names no time slot (it could never be connected).
    board.FailOpen("/dev/mcc/ctl", ENODEV);
    board.FailRequest("/dev/mcc/ctl", 0x40144D00UL, ENOSPC);
    board.FailRequest("/dev/mcc/ctl", 0x20004D02UL, EIO);
    for (unsigned seq : {1u, 2u, 3u})
        ExpectAnswer(Exchange(CreateMcc(seq, 2, LGCP::MccType::data, LGCP::MccMode::standard))[0], seq, 2,
                     LGCP::ErrorCause::insufficientResources);
    board.Prune();
    EXPECT_EQ(mcc.free(), 32u); // nothing held by the refusals
}

TEST_F(MccSlots, UserDataBothWays)
{
    board.Add("/dev/mcc/ctl", std::make_unique<Standin::Mcc>(8192 + 12 * 128, 32, true));
    auto& stream = board.Get<Standin::Mcc>("/dev/mcc/ctl");
    int ts = Make(1, 3, LGCP::MccType::transparent, LGCP::MccMode::standard);

    Standin::Frame waiting(3000);
    for (size_t i = 0; i < waiting.size(); ++i)
        waiting[i] = static_cast<unsigned char>(i * 7);
    ASSERT_TRUE(stream.Inject(ts, waiting));
    auto got = Receive(3);
    std::vector<char> joined;
    const size_t sizes[] = {1024, 1024, 952};
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(SignalOf(got[i]).userData_isSelected());
        const auto& data = SELECTED(SignalOf(got[i]), userData);
        EXPECT_EQ(data.size(), sizes[i]);
        joined.insert(joined.end(), data.begin(), data.end());
        EXPECT_EQ(got[i].get_slot().getValue(), 3u);
    }
    EXPECT_EQ(joined, std::vector<char>(waiting.begin(), waiting.end()));

    ExpectAnswer(Exchange(UserData(2, 3, {'a', 'b', 'c'}))[0], 2, 3);
    auto written = stream.Written(ts);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], (Standin::Frame{'a', 'b', 'c'}));
}

TEST_F(MccSlots, FailedWriteAndLostChannel)
{
    int ts = Make(1, 3, LGCP::MccType::data, LGCP::MccMode::standard);
    ASSERT_TRUE(mcc.Refuse(ts));
    ExpectAnswer(Exchange(UserData(2, 3, {'x'}))[0], 2, 3, LGCP::ErrorCause::insufficientResources);
    mcc.Drain(ts);
    ExpectAnswer(Exchange(UserData(3, 3, {'y'}))[0], 3, 3);
    EXPECT_EQ(mcc.Written(ts), (std::vector<Standin::Frame>{{'y'}}));

    // An empty block is no end of the channel; a hang-up is, once.
    ASSERT_TRUE(mcc.Inject(ts, {}));
    ASSERT_TRUE(mcc.Inject(ts, {'z'}));
    auto data = Receive(1);
    EXPECT_EQ(SELECTED(SignalOf(data[0]), userData), std::vector<char>{'z'});
    ASSERT_TRUE(mcc.Hangup(ts));
    auto lost = Receive(1);
    ASSERT_TRUE(SignalOf(lost[0]).abort_isSelected());
    EXPECT_EQ(SELECTED(SignalOf(lost[0]), abort).getValue(), 0);
    ExpectQuiet();
    ExpectAnswer(Exchange(UserData(4, 3, {'w'}))[0], 4, 3, LGCP::ErrorCause::busError);
    // The lost channel is held no more: another slot may take it.
    ExpectAnswer(Exchange(CreateMap(4, 5, ts - 8192), 3)[0], 4, 5);
    ExpectAnswer(Exchange(Destroy(5, 5))[0], 5, 5);
    ExpectAnswer(Exchange(Destroy(5, 3))[0], 5, 3);

    // Frames waiting at a hang-up all go up, in order, before the abort.
    ts = Make(6, 4, LGCP::MccType::data, LGCP::MccMode::standard);
    for (int i = 0; i < 70; ++i)
        ASSERT_TRUE(mcc.Inject(ts, {static_cast<unsigned char>(i)}));
    ASSERT_TRUE(mcc.Hangup(ts));
    auto last = Receive(71);
    ASSERT_EQ(last.size(), 71u);
    for (int i = 0; i < 70; ++i)
        EXPECT_EQ(SignalOf(last[i]).get_userData(), std::vector<char>{static_cast<char>(i)}) << i;
    EXPECT_TRUE(SignalOf(last[70]).abort_isSelected());
    ExpectQuiet();

    // A write refused outright is the channel's fault; a failed read ends the channel as a hang-up does.
    ASSERT_TRUE(mcc.BreakWrites(ts = Make(8, 6, LGCP::MccType::data, LGCP::MccMode::standard)));
    ExpectAnswer(Exchange(UserData(9, 6, {'v'}))[0], 9, 6, LGCP::ErrorCause::internal);
    ASSERT_TRUE(mcc.FailReads(ts));
    EXPECT_TRUE(SignalOf(Receive(1)[0]).abort_isSelected());
    ExpectQuiet();
}

TEST_F(MccSlots, Resources)
{
    mcc.SetResources(7, 3, 5);
    auto res = Resources(Exchange(Query(1), 2));
    EXPECT_EQ(res.get_mcc_data().getValue(), 7);
    EXPECT_EQ(res.get_mcc_bri().getValue(), 3);
    EXPECT_EQ(res.get_mcc_trans().getValue(), 5);

    board.FailRequest("/dev/mcc/ctl", 0x80104D03UL, EIO);
    res = Resources(Exchange(Query(2), 2));
    EXPECT_EQ(res.get_mcc_data().getValue(), 0);

    Standin::Board bare(false); // no MCC device at all
    res = Resources(Exchange(Query(3), 2));
    EXPECT_EQ(res.get_mcc_data().getValue(), 0);
    EXPECT_EQ(res.get_mcc_bri().getValue(), 0);
    EXPECT_EQ(res.get_mcc_trans().getValue(), 0);
}

TEST_F(TdmSlots, EchoIsRefusedAndNoBusReported)
{
    for (int bus : {0, 3, 15, 16, -1}) {
        ExpectAnswer(Exchange(CreateEcho(static_cast<unsigned>(bus + 10), 6, bus, 1))[0],
                     static_cast<unsigned>(bus + 10), 6, LGCP::ErrorCause::insufficientResources);
    }
    auto res = Resources(Exchange(Query(1), 2));
    ASSERT_TRUE(res.echoBus_isPresent());
    EXPECT_TRUE(res.get_echoBus().empty());
}

// A board whose scan would find buses 2 and 9.
class FoundEcho : public EchoFactory {
public:
    FoundEcho() { mPresent[2] = mPresent[9] = 1; }
    void Add(int bus) { mPresent[static_cast<size_t>(bus)] = 1; }
};

TEST_F(TdmSlots, EchoOnAPresentBus)
{
    FoundEcho found;
    auto made = Exchange(CreateEcho(1, 6, 2, 31), 3);
    ExpectAnswer(made[0], 1, 6);
    ExpectStream(made[1], 6, true, true, 2 * 32 + 31);
    ExpectStream(made[2], 6, false, true, 2 * 32 + 31);
    for (auto c : {std::make_pair(2, 32), std::make_pair(2, -1), std::make_pair(3, 0)})
        ExpectAnswer(Exchange(CreateEcho(2, 7, c.first, c.second))[0], 2, 7, LGCP::ErrorCause::insufficientResources);
    auto res = Resources(Exchange(Query(3), 2));
    ASSERT_EQ(res.get_echoBus().size(), 2u);
    EXPECT_EQ(res.get_echoBus()[0].getValue(), 2);
    EXPECT_EQ(res.get_echoBus()[1].getValue(), 9);
    ExpectAnswer(Exchange(Destroy(4, 6))[0], 4, 6);
}

// Buses 0 to 15 and channels 0 to 31: the first and last of each are
// taken, the ones beyond refused.
TEST_F(TdmSlots, EchoBusesAndChannelsToTheirLast)
{
    FoundEcho found;
    found.Add(0);
    found.Add(15);
    auto made = Exchange(CreateEcho(1, 6, 0, 0), 3);
    ExpectAnswer(made[0], 1, 6);
    ExpectStream(made[1], 6, true, true, 0);
    made = Exchange(CreateEcho(2, 7, 15, 31), 3);
    ExpectAnswer(made[0], 2, 7);
    ExpectStream(made[2], 7, false, true, 15 * 32 + 31);
    for (auto c : {std::make_pair(15, 32), std::make_pair(16, 0), std::make_pair(0, -1), std::make_pair(-1, 0)})
        ExpectAnswer(Exchange(CreateEcho(3, 8, c.first, c.second))[0], 3, 8, LGCP::ErrorCause::insufficientResources);
    auto res = Resources(Exchange(Query(4), 2));
    ASSERT_EQ(res.get_echoBus().size(), 4u);
    EXPECT_EQ(res.get_echoBus()[0].getValue(), 0);
    EXPECT_EQ(res.get_echoBus()[3].getValue(), 15);
    // Both directions are open to connections.
    Slot* last = Slots::instance().Find(7);
    EXPECT_TRUE(last->IOnOutputStream() && last->IOnInputStream());
    ExpectAnswer(Exchange(Destroy(5, 6))[0], 5, 6);
    ExpectAnswer(Exchange(Destroy(6, 7))[0], 6, 7);
}

} // namespace
