#include "board/hdlc.h"
#include "board/hw_mux.h"
#include "board/mcc.h"
#include "framework/multiplexer.h"
#include "framework/packet.h"
#include "samples/link/loop_driver.h"
#include "standin/board.h"
#include "standin/mcc.h"
#include "standin/switch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <iostream>
#include <vector>

using test::Capture;
using Bytes = Standin::Frame;

namespace {

constexpr int kLine = 8192 + 1 * 128 + 16;  // trunk 1, time slot 16
constexpr int kLineIn = 8192 + 2 * 128 + 7;
constexpr int kLineOut = 8192 + 3 * 128 + 5; // a separate receive channel

Packet MakePacket(const Bytes& bytes)
{
    Packet p;
    p.reserve_head(16);
    for (unsigned char b : bytes)
        p.put8(b);
    return p;
}

class Listener : public HDLC::Notify {
public:
    void on_hdlc_receive(Packet& frame) override
    {
        frames.emplace_back(frame.data(), frame.data() + frame.length());
        if (onReceive)
            onReceive();
    }
    void on_hdlc_error(Cause::Type cause) override { errors.push_back(cause); }
    void on_hdlc_ready() override { ++readies; }

    std::vector<Bytes> frames;
    int readies = 0;
    std::vector<int> errors;
    std::function<void()> onReceive;
};

class HdlcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // As in the daemon: a write to a hung-up device is an error, not the end.
        ::signal(SIGPIPE, SIG_IGN);
        ASSERT_TRUE(HwMux::instance().Open());
        hdlc->bind(&listener);
    }
    void TearDown() override
    {
        delete hdlc;
        HwMux::instance().Close();
        EXPECT_EQ(multiplexer.handler_count(), 0u);
    }

    // Opens the channel on the line and returns its time slot.
    int Open(int mode = HDLC::pri, int tdm = kLine, int tdm2 = -1)
    {
        HDLC::Params p = hdlc->params();
        p.tdm = tdm;
        p.tdm2 = tdm2;
        p.mode = mode;
        hdlc->params(p);
        if (!hdlc->activate())
            return -1;
        std::vector<int> used = mcc.Timeslots();
        return used.size() == 1 ? used[0] : -1;
    }

    Standin::Board board;
    Standin::Switch& sw = board.Get<Standin::Switch>("/dev/hal");
    Standin::Mcc& mcc = board.Get<Standin::Mcc>("/dev/mcc/ctl");
    Listener listener;
    HDLC* hdlc = new HDLC;
    test::LoopDriver loop;
};

TEST_F(HdlcTest, EachModeAllocatesItsKindAndDeactivationRestoresTheSwitch)
{
    EXPECT_FALSE(hdlc->is_open());
    EXPECT_EQ(hdlc->params().tdm, -1);
    EXPECT_EQ(hdlc->params().tdm2, -1);
    EXPECT_EQ(hdlc->channel(), -1);

    const struct {
        int mode;
        uint32_t kind;
    } modes[] = {{HDLC::ss7, Mcc::kSs7}, {HDLC::pri, Mcc::kData}, {HDLC::bri, Mcc::kBri}};
    for (const auto& m : modes) {
        SCOPED_TRACE(m.mode);
        int ts = Open(m.mode);
        ASSERT_GE(ts, 0);
        EXPECT_TRUE(hdlc->is_open());
        EXPECT_TRUE(hdlc->is_ready());
        EXPECT_EQ(hdlc->channel(), ts);
        const Standin::Mcc::Allocation* a = mcc.At(ts);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ((std::vector<uint32_t>{a->kind, a->packetSize, a->reserved, a->rxThreshold, a->txThreshold}),
                  (std::vector<uint32_t>{m.kind, 512, 0, 1, 1}));
        // Both ways: the channel hears the line and the line hears it.
        EXPECT_EQ(sw.Connections(), (std::map<int, int>{{ts, kLine}, {kLine, ts}}));

        hdlc->deactivate();
        EXPECT_FALSE(hdlc->is_open());
        EXPECT_TRUE(sw.Connections().empty());
        EXPECT_TRUE(sw.IsIdle(ts));
        EXPECT_TRUE(sw.IsIdle(kLine));
        board.Prune();
        EXPECT_TRUE(mcc.Timeslots().empty()) << "the channel is freed with its descriptor";
    }

    // A line that receives on a channel of its own is fed there.
    int ts = Open(HDLC::bri, kLineIn, kLineOut);
    ASSERT_GE(ts, 0);
    EXPECT_EQ(sw.Connections(), (std::map<int, int>{{ts, kLineIn}, {kLineOut, ts}}));
    // Activating an open channel starts afresh on a new allocation.
    ASSERT_TRUE(hdlc->activate());
    board.Prune();
    ASSERT_EQ(mcc.Timeslots().size(), 1u);
    int again = mcc.Timeslots()[0];
    EXPECT_EQ(sw.Connections(), (std::map<int, int>{{again, kLineIn}, {kLineOut, again}}));
    hdlc->deactivate();
    EXPECT_TRUE(sw.Connections().empty());
    EXPECT_TRUE(sw.IsIdle(kLineOut));
    EXPECT_EQ(sw.At(kLineIn).mode, Standin::Switch::Mode::Free) << "the line's own output was never fed";
}

TEST_F(HdlcTest, FramesBothWaysAndTheCountersMatch)
{
    int ts = Open();
    ASSERT_GE(ts, 0);
    Capture trace(std::clog);
    hdlc->logLevel(1); // frames are traced from level 2

    ASSERT_TRUE(mcc.Inject(ts, {0x02, 0x01, 0x7F}));
    ASSERT_TRUE(mcc.Inject(ts, {0x03}));
    ASSERT_TRUE(loop.RunUntil([&] { return listener.frames.size() == 2; }));
    EXPECT_EQ(listener.frames, (std::vector<Bytes>{{0x02, 0x01, 0x7F}, {0x03}}));

    Packet frame = MakePacket({0x00, 0x01, 0x08, 0x01});
    EXPECT_TRUE(hdlc->hdlc_transmit(frame));
    Packet empty;
    EXPECT_TRUE(hdlc->hdlc_transmit(empty)) << "an empty frame counts as sent";
    Packet longest = MakePacket(Bytes(512, 0x55));
    EXPECT_TRUE(hdlc->hdlc_transmit(longest));
    Packet tooLong = MakePacket(Bytes(513, 0x55));
    Capture errors(std::cerr);
    EXPECT_FALSE(hdlc->hdlc_transmit(tooLong));
    EXPECT_EQ(errors.count("frame of 513 octets is too long"), 1u);
    std::vector<Bytes> written = mcc.Written(ts);
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0], (Bytes{0x00, 0x01, 0x08, 0x01}));
    EXPECT_EQ(written[1].size(), 512u);

    EXPECT_EQ(trace.count("tx ") + trace.count("rx "), 0u) << "frames are traced from level 2";
    hdlc->logLevel(2);
    // A full device: frames still come in; the channel says once that it drained.
    ASSERT_TRUE(mcc.Refuse(ts));
    EXPECT_FALSE(hdlc->hdlc_transmit(frame));
    ASSERT_TRUE(mcc.Inject(ts, {0x04}));
    ASSERT_TRUE(loop.RunUntil([&] { return listener.frames.size() == 3; }));
    EXPECT_FALSE(hdlc->is_ready() || listener.readies);
    mcc.Drain(ts);
    ASSERT_TRUE(loop.RunUntil([&] { return hdlc->is_ready(); }));
    EXPECT_EQ(listener.readies, 1);
    EXPECT_TRUE(hdlc->hdlc_transmit(frame) && trace.count("rx ") == 1 && trace.count("tx ") == 1) << trace.text();
    hdlc->deactivate();
    EXPECT_FALSE(hdlc->hdlc_transmit(frame));
    EXPECT_FALSE(hdlc->is_ready());

    const HDLC::Statistics& s = hdlc->statistics();
    EXPECT_EQ((std::vector<unsigned>{s.sent, s.discarded, s.errors, s.overflows, s.received}),
              (std::vector<unsigned>{3, 1, 0, 1, 3}));
}

TEST_F(HdlcTest, ClosedFarEndReportsErrorAndStopsWatching)
{
    int ts = Open();
    ASSERT_GE(ts, 0);
    ASSERT_TRUE(mcc.Inject(ts, {0x11}));
    Capture errors(std::cerr);
    ASSERT_TRUE(mcc.Hangup(ts));
    Packet lost = MakePacket({0x01});
    Capture trace(std::clog);
    EXPECT_FALSE(hdlc->hdlc_transmit(lost)) << "the device refuses the write";
    EXPECT_EQ(trace.take(), "") << "silently at the first trace level, 0";
    hdlc->logLevel(1); // the lowest trace level shows failed writes
    EXPECT_TRUE(!hdlc->hdlc_transmit(lost) && hdlc->statistics().errors == 2u);
    EXPECT_EQ(trace.count("write failed: "), 1u);
    ASSERT_TRUE(loop.RunUntil([&] { return !listener.errors.empty(); }));
    loop.Settle();
    EXPECT_EQ(listener.frames, (std::vector<Bytes>{{0x11}})) << "what came before the hang-up is delivered";
    EXPECT_EQ(listener.errors, (std::vector<int>{HDLC::Notify::Cause::read_error}));
    EXPECT_TRUE(!hdlc->is_open() && multiplexer.handler_count() == 0u);
    EXPECT_TRUE(sw.Connections().empty() && errors.count("channel closed") == 1u) << "a lost channel feeds nothing";
    board.Prune();
    EXPECT_TRUE(mcc.Timeslots().empty());

    EXPECT_TRUE(!hdlc->hdlc_transmit(lost) && hdlc->statistics().discarded == 1u);
    // The listener may reopen the channel afterwards.
    ASSERT_TRUE(hdlc->activate() && hdlc->is_open());
    hdlc->deactivate();
    EXPECT_EQ(trace.count("deactivated"), 1u) << "traced from level 1";
}

TEST_F(HdlcTest, BadFramesAreDroppedAndListenersMayCloseOrDelete)
{
    int ts = Open();
    ASSERT_GE(ts, 0);
    Capture errors(std::cerr);
    ASSERT_TRUE(mcc.Inject(ts, {}));
    ASSERT_TRUE(mcc.Inject(ts, Bytes(65535, 0x7E)));
    ASSERT_TRUE(mcc.Inject(ts, {0x42}));
    ASSERT_TRUE(loop.RunUntil([&] { return !listener.frames.empty(); }));
    loop.Settle();
    EXPECT_EQ(listener.frames, (std::vector<Bytes>{{0x42}}));
    EXPECT_EQ(errors.count("frame of 0 octets dropped"), 1u);
    EXPECT_EQ(errors.count("frame of 65535 octets dropped"), 1u);
    EXPECT_TRUE(listener.errors.empty());
    EXPECT_TRUE(hdlc->is_open());
    EXPECT_EQ(hdlc->statistics().received, 1u);

    // Closing from inside the callback ends the delivery.
    listener.onReceive = [&] { hdlc->deactivate(); };
    ASSERT_TRUE(mcc.Inject(ts, {0x01}));
    ASSERT_TRUE(mcc.Inject(ts, {0x02}));
    ASSERT_TRUE(mcc.Hangup(ts)); // no error for a hang-up behind them
    ASSERT_TRUE(loop.RunUntil([&] { return listener.frames.size() == 2; }));
    loop.Settle();
    EXPECT_EQ(listener.frames.size(), 2u);
    EXPECT_TRUE(!hdlc->is_open() && listener.errors.empty());

    // So does deleting the channel.
    ts = Open();
    ASSERT_GE(ts, 0);
    listener.onReceive = [&] {
        delete hdlc;
        hdlc = nullptr;
    };
    ASSERT_TRUE(mcc.Inject(ts, {0x03}));
    ASSERT_TRUE(mcc.Inject(ts, {0x04}));
    ASSERT_TRUE(loop.RunUntil([&] { return hdlc == nullptr; }));
    loop.Settle();
    EXPECT_EQ(listener.frames.size(), 3u);
    EXPECT_TRUE(sw.Connections().empty());
}

TEST_F(HdlcTest, DeviceFailuresLeaveNothingOpenOrConnected)
{
    struct Case {
        std::function<void()> fail;
        int tdm2;
        std::string line;
    } cases[] = {
        {[&] { board.FailOpen(Mcc::kDevice, ENODEV); }, -1, "HDLC[0/-1]: fail to open MCC device: " + std::string(strerror(ENODEV))},
        {[&] { board.FailRequest(Mcc::kDevice, Mcc::kAllocate, EIO); }, -1,
         "HDLC[0/-1]: MCC_ALLOCATE fail: " + std::string(strerror(EIO))},
        {[&] { board.FailRequest(Mcc::kDevice, Mcc::kTimeslot, EINVAL); }, -1, "MCC_TIMESLOT fail: "},
        // The switch refuses either connection: nothing stays fed.
        {[&] { board.FailRequest("/dev/hal", 0x80084D10UL, EIO); }, -1, "can't connect the channel to its line: "},
        {[] {}, 8192 + 2048, "can't connect the line to its channel: "},
    };
    for (Case& c : cases) {
        Capture errors(std::cerr);
        c.fail();
        EXPECT_LT(Open(HDLC::pri, kLine, c.tdm2), 0) << c.line;
        EXPECT_EQ(errors.count(c.line), 1u) << errors.text();
        board.Prune();
        EXPECT_FALSE(hdlc->is_open());
        EXPECT_TRUE(board.Channels(Mcc::kDevice).empty());
        EXPECT_TRUE(mcc.Timeslots().empty());
        EXPECT_TRUE(sw.Connections().empty());
        EXPECT_EQ(multiplexer.handler_count(), 0u);
    }

    // A mode that no channel kind carries never reaches the device.
    Capture errors(std::cerr);
    size_t opens = board.opens();
    EXPECT_LT(Open(7), 0);
    EXPECT_EQ(board.opens(), opens);
    EXPECT_EQ(errors.count("unknown channel mode 7"), 1u);
}

} // namespace
