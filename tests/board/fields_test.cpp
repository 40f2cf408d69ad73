// Every field of the board's requests, records and events in its own place,
// and the limits of the switch numbering, the MCC channels and the receivers.

#include "board/dsp_requests.h"
#include "board/dsproc_receiver.h"
#include "board/hal.h"
#include "board/hdlc.h"
#include "board/hw_mux.h"
#include "board/mcc.h"
#include "board/receiver_signals.h"
#include "board/tonec_receiver.h"
#include "framework/multiplexer.h"
#include "framework/packet.h"
#include "protocol/lgcp.h"
#include "samples/link/loop_driver.h"
#include "standin/board.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"
#include "standin/mcc.h"
#include "standin/switch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

using test::Capture;
using Bytes = Standin::Frame;

namespace {

constexpr int kT1 = 8192 + 5 * 128 + 9;
constexpr int kT2 = 8192 + 5 * 128 + 10;

TEST(SwitchNumbering, SixteenBusesOf128TimeSlotsFrom8192)
{
    EXPECT_EQ(Hal::Channel(0, 0), 8192);
    EXPECT_EQ(Hal::Channel(1, 0), 8192 + 128);
    EXPECT_EQ(Hal::Channel(0, 1), 8193);
    EXPECT_EQ(Hal::Channel(15, 127), 8192 + 16 * 128 - 1);
    EXPECT_FALSE(Hal::IsChannel(8191));
    EXPECT_TRUE(Hal::IsChannel(8192));
    EXPECT_TRUE(Hal::IsChannel(8192 + 16 * 128 - 1));
    EXPECT_FALSE(Hal::IsChannel(8192 + 16 * 128));
    EXPECT_FALSE(Hal::IsChannel(0));
}

TEST(HwMuxFields, RecordsNameOutputThenInputAtBothEndsOfTheNumbering)
{
    Standin::Board board;
    Standin::Switch& sw = board.Get<Standin::Switch>("/dev/hal");
    HwMux& mux = HwMux::instance();
    ASSERT_TRUE(mux.Open());
    const int first = 8192, last = 8192 + 16 * 128 - 1;
    // The destination is the output fed, the source its input.
    EXPECT_TRUE(mux.Connect(first, last));
    EXPECT_EQ(sw.At(last).mode, Standin::Switch::Mode::Fed);
    EXPECT_EQ(sw.Source(last), first);
    EXPECT_EQ(sw.At(first).mode, Standin::Switch::Mode::Free);
    EXPECT_TRUE(mux.Connect(last, first));
    EXPECT_EQ(sw.Source(first), last);

    // The idle record carries the channel first, then the byte 0xD5.
    EXPECT_TRUE(mux.Disconnect(last));
    EXPECT_EQ(sw.At(last).mode, Standin::Switch::Mode::Constant);
    EXPECT_EQ(sw.At(last).value, 0xD5);
    EXPECT_EQ(sw.Source(first), last) << "only the named output idles";
    EXPECT_TRUE(mux.Disable(first));
    EXPECT_EQ(sw.At(first).mode, Standin::Switch::Mode::Disabled);
    EXPECT_EQ(sw.At(last).mode, Standin::Switch::Mode::Constant);

    // Channel 0 is a number the driver judges, not the daemon.
    Capture errors(std::cerr);
    size_t before = sw.requests();
    EXPECT_FALSE(mux.Connect(0, first));
    EXPECT_FALSE(mux.Connect(first, 0));
    EXPECT_FALSE(mux.Disconnect(0));
    EXPECT_FALSE(mux.Disable(0));
    EXPECT_EQ(sw.requests(), before + 4);
    EXPECT_FALSE(mux.Connect(first, -1));
    EXPECT_FALSE(mux.Connect(-1, first));
    EXPECT_EQ(sw.requests(), before + 4);
    EXPECT_EQ(errors.count("connect failed " + std::to_string(first) + " -> -1 : "), 1u);
    mux.Close();
}

class HdlcFields : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::signal(SIGPIPE, SIG_IGN);
        ASSERT_TRUE(HwMux::instance().Open());
    }
    void TearDown() override
    {
        hdlc.reset();
        HwMux::instance().Close();
        EXPECT_EQ(multiplexer.handler_count(), 0u);
    }

    Standin::Board board;
    std::unique_ptr<HDLC> hdlc = std::make_unique<HDLC>();
    test::LoopDriver loop;
};

class Frames : public HDLC::Notify {
public:
    void on_hdlc_receive(Packet& frame) override { sizes.push_back(frame.length()); }
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}
    std::vector<unsigned> sizes;
};

TEST_F(HdlcFields, TimeSlotZeroIsAChannelAndOnlyANegativeAnswerFails)
{
    board.Add(Mcc::kDevice, std::make_unique<Standin::Mcc>(0, 1));
    auto& mcc = board.Get<Standin::Mcc>(Mcc::kDevice);

    Mcc::Channel c = Mcc::Allocate(O_RDWR, Mcc::Allocation{Mcc::kTransparent, 160, 0, 2, 3});
    EXPECT_EQ(c.failed, Mcc::Channel::ok);
    EXPECT_EQ(c.timeslot, 0);
    EXPECT_TRUE(c.fd.is_valid());
    const Standin::Mcc::Allocation* a = mcc.At(0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ((std::vector<uint32_t>{a->kind, a->packetSize, a->reserved, a->rxThreshold, a->txThreshold}),
              (std::vector<uint32_t>{2, 160, 0, 2, 3}));
    c.fd.close();
    board.Prune();

    // The channel's own switch channel is 0: no switch connection asked.
    HDLC::Params p;
    p.mode = HDLC::ss7;
    hdlc->params(p);
    Capture errors(std::cerr);
    ASSERT_TRUE(hdlc->activate()) << errors.text();
    EXPECT_EQ(hdlc->channel(), 0);
    EXPECT_TRUE(hdlc->is_ready());
    EXPECT_EQ(mcc.At(0)->kind, 3u);
    hdlc->deactivate();

    // Every step that fails names itself and leaves nothing open.
    const struct {
        bool open;
        unsigned long code;
        Mcc::Channel::Step step;
        const char* text;
    } steps[] = {{true, 0, Mcc::Channel::open, "fail to open MCC device: "},
                 {false, Mcc::kAllocate, Mcc::Channel::allocate, "MCC_ALLOCATE fail: "},
                 {false, Mcc::kTimeslot, Mcc::Channel::query, "MCC_TIMESLOT fail: "}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.text);
        if (s.open)
            board.FailOpen(Mcc::kDevice, EMFILE);
        else
            board.FailRequest(Mcc::kDevice, s.code, EMFILE);
        Mcc::Channel f = Mcc::Allocate(O_RDWR, Mcc::Allocation{0, 512, 0, 1, 1});
        EXPECT_EQ(f.failed, s.step);
        EXPECT_EQ(f.error, EMFILE);
        EXPECT_EQ(std::string(Mcc::FailureText(s.step)), s.text);
        EXPECT_EQ(f.timeslot < 0, true);
        f.fd.close();
        board.Prune();
        EXPECT_TRUE(mcc.Timeslots().empty());
    }
    EXPECT_EQ(std::string(Mcc::FailureText(Mcc::Channel::ok)), "");

    // Modes 0 to 2 only.
    uint32_t kind = 99;
    EXPECT_TRUE(HDLC::KindOf(2, kind));
    EXPECT_EQ(kind, 1u);
    kind = 99;
    EXPECT_FALSE(HDLC::KindOf(3, kind));
    EXPECT_FALSE(HDLC::KindOf(-1, kind));
    EXPECT_EQ(kind, 99u);
    p.mode = 3;
    hdlc->params(p);
    EXPECT_FALSE(hdlc->activate());
    EXPECT_FALSE(hdlc->is_open());
    EXPECT_EQ(errors.count("HDLC[0/-1]: unknown channel mode 3\n"), 1u);
}

// Descriptor 0 is as good as any other.
TEST_F(HdlcFields, AChannelOnDescriptorZero)
{
    auto& mcc = board.Get<Standin::Mcc>(Mcc::kDevice);
    const int saved = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    ASSERT_GE(saved, 0);
    ::close(0);
    Mcc::Channel c = Mcc::Allocate(O_RDWR, Mcc::Allocation{Mcc::kData, 512, 0, 1, 1});
    const int fd = c.fd.lowlevel_fd();
    c.fd.close();
    ::dup2(saved, 0);
    ::close(saved);
    EXPECT_EQ(fd, 0);
    EXPECT_EQ(c.failed, Mcc::Channel::ok);
    EXPECT_GE(c.timeslot, 8192);
    board.Prune();
    EXPECT_TRUE(mcc.Timeslots().empty());
}

TEST_F(HdlcFields, LogLineAndCountersEachInTheirPlace)
{
    auto& mcc = board.Get<Standin::Mcc>(Mcc::kDevice);
    auto& sw = board.Get<Standin::Switch>("/dev/hal");
    const int line = 8192 + 7 * 128 + 3, receive = 8192 + 8 * 128 + 4;
    Frames frames;
    hdlc->bind(&frames);
    hdlc->trunk(6);
    hdlc->logLevel(1);
    HDLC::Params p;
    p.trunk = 6;
    p.timeslot = 3;
    p.tdm = line;
    p.tdm2 = receive;
    p.mode = HDLC::bri;
    hdlc->params(p);
    const HDLC::Params& back = hdlc->params();
    EXPECT_EQ((std::vector<int>{back.trunk, back.timeslot, back.tdm, back.tdm2, back.mode}),
              (std::vector<int>{6, 3, line, receive, 2}));

    Capture trace(std::clog);
    ASSERT_TRUE(hdlc->activate());
    const int ts = hdlc->channel();
    EXPECT_EQ(trace.text(), "HDLC[6/" + std::to_string(ts) + "]: activated, kind 1, tdm " + std::to_string(line)
                                + "/" + std::to_string(receive) + "\n");
    EXPECT_EQ(sw.Connections(), (std::map<int, int>{{ts, line}, {receive, ts}}));

    // Five received, one sent, four too long, three refused, two discarded.
    ASSERT_TRUE(mcc.Inject(ts, Bytes(512, 0x11)));
    ASSERT_TRUE(mcc.Inject(ts, Bytes(513, 0x22)));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(mcc.Inject(ts, Bytes(1 + i, 0x33)));
    Capture errors(std::cerr);
    ASSERT_TRUE(loop.RunUntil([&] { return frames.sizes.size() == 5; }));
    loop.Settle();
    EXPECT_EQ(frames.sizes, (std::vector<unsigned>{512, 1, 2, 3, 4})) << "512 octets is the largest frame";
    EXPECT_EQ(errors.count("frame of 513 octets dropped"), 1u);

    Packet frame;
    frame.reserve_head(0);
    frame.put8(0x7E);
    EXPECT_TRUE(hdlc->hdlc_transmit(frame));
    Packet tooLong;
    tooLong.reserve_head(0);
    std::memset(tooLong.put(513), 0, 513);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(hdlc->hdlc_transmit(tooLong));
    ASSERT_TRUE(mcc.BreakWrites(ts));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(hdlc->hdlc_transmit(frame));
    hdlc->deactivate();
    for (int i = 0; i < 2; ++i)
        EXPECT_FALSE(hdlc->hdlc_transmit(frame));

    const HDLC::Statistics& s = hdlc->statistics();
    EXPECT_EQ((std::vector<unsigned>{s.sent, s.discarded, s.errors, s.overflows, s.received}),
              (std::vector<unsigned>{1, 2, 3, 4, 5}));
}

TEST_F(HdlcFields, AHangUpIsOneLineNotEmptyFrames)
{
    auto& mcc = board.Get<Standin::Mcc>(Mcc::kDevice);
    Frames frames;
    hdlc->bind(&frames);
    hdlc->trunk(2);
    ASSERT_TRUE(hdlc->activate());
    const int ts = hdlc->channel();
    ASSERT_TRUE(mcc.Inject(ts, {0x01}));
    Capture errors(std::cerr);
    ASSERT_TRUE(mcc.Hangup(ts));
    ASSERT_TRUE(loop.RunUntil([&] { return !hdlc->is_open(); }));
    EXPECT_EQ(frames.sizes, std::vector<unsigned>{1});
    EXPECT_EQ(errors.text(), "HDLC[2/" + std::to_string(ts) + "]: device hung up, channel closed\n");
}

TEST_F(HdlcFields, AFailedReadClosesOnceAndSaysSoOnce)
{
    auto& mcc = board.Get<Standin::Mcc>(Mcc::kDevice);
    struct Errors : Frames {
        void on_hdlc_error(Cause::Type cause) override { causes.push_back(cause); }
        std::vector<int> causes;
    } listener;
    hdlc->bind(&listener);
    ASSERT_TRUE(hdlc->activate());
    const int ts = hdlc->channel();
    Capture errors(std::cerr);
    ASSERT_TRUE(mcc.FailReads(ts));
    ASSERT_TRUE(loop.RunUntil([&] { return !hdlc->is_open(); }));
    loop.Settle();
    EXPECT_EQ(listener.causes, std::vector<int>{HDLC::Notify::Cause::read_error});
    EXPECT_EQ(errors.count("channel closed"), 1u);
    EXPECT_EQ(errors.count("read failed: "), 1u);
    EXPECT_TRUE(listener.sizes.empty());
}

TEST_F(HdlcFields, ANewChannelHasNoSwitchChannelsAndALineOnlyWhileGiven)
{
    const HDLC::Params& fresh = hdlc->params();
    EXPECT_EQ((std::vector<int>{fresh.tdm, fresh.tdm2, hdlc->channel()}), (std::vector<int>{-1, -1, -1}));
    EXPECT_FALSE(hdlc->is_open());

    auto& sw = board.Get<Standin::Switch>("/dev/hal");
    HDLC::Params p;
    p.tdm = 8192 + 3 * 128 + 1;
    hdlc->params(p);
    {
        // Trace level 0 says nothing of either.
        Capture trace(std::clog);
        ASSERT_TRUE(hdlc->activate());
        hdlc->deactivate();
        EXPECT_EQ(trace.text(), "");
    }
    // Opened again without a line: closing it touches no switch output.
    p.tdm = -1;
    hdlc->params(p);
    ASSERT_TRUE(hdlc->activate());
    const size_t requests = sw.requests();
    Capture errors(std::cerr);
    hdlc->deactivate();
    EXPECT_EQ(sw.requests(), requests);
    EXPECT_EQ(errors.text(), "");
}

// Both receivers of one time slot, keeping every event whole.
class Receiver : public Hardware::TonecReceiver, public Hardware::DSProcReceiver {
public:
    explicit Receiver(int timeslot) : timeslot(timeslot) {}
    ~Receiver() override
    {
        Hardware::TonecReceiver::CleanBeforeDestroy();
        Hardware::DSProcReceiver::CleanBeforeDestroy();
    }
    void tonec_event(Params const& p) override { tones.push_back(p); }
    int tonec_timeslot() const override { return timeslot; }
    void tone_gen_complete() override { ++done; }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { vads.push_back(e); }
    void dsproc_bss_event(::dsproc_bss_event const* e) override { bss.push_back(*e); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { sds.push_back(e); }
    void dsproc_tone_flt_event(::dsproc_tone_event const* e) override { filters.push_back(*e); }
    void dsproc_flags_event(::dsproc_flags_event const* e) override { flags.push_back(*e); }
    int dsproc_timeslot() const override { return timeslot; }
    size_t events() const
    {
        return tones.size() + done + vads.size() + bss.size() + sds.size() + filters.size() + flags.size();
    }

    int timeslot;
    std::vector<Params> tones;
    int done = 0;
    std::vector<Hardware::DSProcVADEvent> vads;
    std::vector<::dsproc_bss_event> bss;
    std::vector<Hardware::DSProcSDEvent> sds;
    std::vector<::dsproc_tone_event> filters;
    std::vector<::dsproc_flags_event> flags;
};

class ReceiverFields : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(multiplexer.handler_count(), 0u); }
    bool Wait(const Receiver& r, size_t count)
    {
        bool got = loop.RunUntil([&] { return r.events() >= count; });
        loop.Settle();
        return got && r.events() == count;
    }

    Standin::Board board;
    Standin::Dtmf& dtmf = board.Get<Standin::Dtmf>(Tonec::kDevice);
    Standin::Dsproc& dsp = board.Get<Standin::Dsproc>(Dsp::kDevice);
    test::LoopDriver loop;
};

TEST_F(ReceiverFields, TimeSlotZeroIsRoutedAndReleased)
{
    auto zero = std::make_unique<Receiver>(0);
    Receiver other(kT1);
    dtmf.Raise(Tonec::EventRecord{1, 0, 7, 70});
    dsp.Sd(0, 8);
    ASSERT_TRUE(Wait(*zero, 2));
    EXPECT_EQ(zero->tones.size(), 1u);
    EXPECT_EQ(zero->sds.size(), 1u);
    EXPECT_EQ(other.events(), 0u);

    // The driver judges time slot 0 (this one refuses it); the daemon asks it.
    Capture errors(std::cerr);
    dtmf.ClearCodes();
    dsp.ClearCodes();
    zero->enableDTMF(true);
    zero->enableNG(true);
    EXPECT_EQ(dtmf.codes(), std::vector<unsigned long>{Tonec::kDtmfDetect});
    EXPECT_EQ(dsp.codes(), std::vector<unsigned long>{Dsp::kNoiseGate});
    zero.reset();
    EXPECT_EQ(dtmf.codes(), (std::vector<unsigned long>{Tonec::kDtmfDetect, Tonec::kRelease}));
    EXPECT_EQ(dsp.codes(), (std::vector<unsigned long>{Dsp::kNoiseGate, Dsp::kRelease}));

    // A negative time slot never reaches the device, also on the way out.
    auto none = std::make_unique<Receiver>(-1);
    EXPECT_FALSE(none->echoCancel(true));
    EXPECT_FALSE(none->configureDelays(1, 2));
    none.reset();
    EXPECT_EQ(dtmf.codes().size(), 2u);
    EXPECT_EQ(dsp.codes().size(), 2u);
    EXPECT_EQ(errors.count("no time slot for request"), 2u);
}

TEST_F(ReceiverFields, ARequestOnADeviceThatWillNotOpenFails)
{
    Capture errors(std::cerr);
    board.FailOpen(Tonec::kDevice, EACCES, 2);
    board.FailOpen(Dsp::kDevice, EACCES, 2);
    Receiver r(kT1);
    EXPECT_FALSE(r.echoCancel(true));
    EXPECT_FALSE(r.enableVAD(true));
    EXPECT_EQ(errors.count("can't open " + std::string(Tonec::kDevice)), 2u);
    EXPECT_EQ(errors.count("can't open " + std::string(Dsp::kDevice)), 2u);
    EXPECT_EQ(dtmf.At(kT1).echo + dsp.At(kT1).vad, 0);
    // The third try opens it.
    EXPECT_TRUE(r.echoCancel(true) && r.enableVAD(true));
    EXPECT_EQ(dtmf.At(kT1).echo + dsp.At(kT1).vad, 2);
}

TEST_F(ReceiverFields, DroppedRecordsNameTheirSizeTypeAndTimeSlot)
{
    Receiver r(kT1);
    Capture errors(std::cerr);
    const unsigned char one[1] = {1};
    dtmf.Raise(one, 1);
    dtmf.Raise(nullptr, 0);
    dsp.Raise(one, 1);
    dsp.Raise(nullptr, 0);
    dtmf.Detect(kT1, 5, 6);
    ASSERT_TRUE(Wait(r, 1));
    EXPECT_EQ(errors.count("tonec: record of 1 octets dropped\n"), 1u);
    EXPECT_EQ(errors.count("dsproc: record of 1 octets dropped\n"), 1u);
    EXPECT_EQ(errors.count("tonec: empty record dropped\n"), 1u);
    EXPECT_EQ(errors.count("dsproc: empty record dropped\n"), 1u);
    EXPECT_EQ(errors.count("dropped"), 4u);

    // What is dropped is named by its size, type and time slot.
    const std::string ts = std::to_string(kT1), other = std::to_string(kT2);
    dtmf.Raise(Tonec::EventRecord{3, kT1, 1, 1});
    dtmf.Raise(Tonec::EventRecord{1, kT2, 1, 1});
    dsp.Raise(dsproc_flags_event{{6, kT1}, 1});
    dsp.Raise(dsproc_sd_event{{Dsp::kBssEvent + 1, kT2}, 1});
    dsp.Raise(dsproc_tone_event{{Dsp::kSdEvent, kT1}, 1, 1});
    ASSERT_TRUE(loop.RunUntil([&] { return errors.count("dropped") == 9; }));
    EXPECT_EQ(errors.count("tonec: unknown event (type 3, time slot " + ts + ") dropped\n"), 1u);
    EXPECT_EQ(errors.count("tonec: event for a time slot without receiver (type 1, time slot " + other + ") dropped\n"),
              1u);
    EXPECT_EQ(errors.count("dsproc: unknown event (type 6, time slot " + ts + ") dropped\n"), 1u);
    EXPECT_EQ(errors.count("dsproc: event for a time slot without receiver (type 3, time slot " + other
                           + ") dropped\n"),
              1u);
    EXPECT_EQ(errors.count("dsproc: record of 16 octets (type 3) dropped\n"), 1u);
    EXPECT_EQ(r.events(), 1u);
}

TEST_F(ReceiverFields, EventRecordsLandFieldByField)
{
    Receiver r(kT1), neighbour(kT2);
    dtmf.Raise(Tonec::EventRecord{1, kT1, 13, 0xFEDCBA98u});
    dtmf.Raise(Tonec::EventRecord{2, kT1, 14, 15});
    dsp.Vad(kT1, true);
    dsp.Raise(dsproc_vad_event{{Dsp::kVadEvent, kT1}, 0});
    dsp.Raise(dsproc_vad_event{{Dsp::kVadEvent, kT1}, 2});
    dsp.Bss(kT1, -41);
    dsp.Sd(kT1, 42);
    dsp.Tone(kT1, 1750, false);
    dsp.Raise(dsproc_tone_event{{Dsp::kToneEvent, kT1}, 2600, 3});
    dsp.Flags(kT1, 0x00010002u);
    ASSERT_TRUE(Wait(r, 10));
    EXPECT_EQ(neighbour.events(), 0u);

    ASSERT_EQ(r.tones.size(), 1u);
    EXPECT_EQ(r.tones[0].timeslot, kT1);
    EXPECT_EQ(r.tones[0].code, 13);
    EXPECT_EQ(r.tones[0].timestamp, 0xFEDCBA98u);
    EXPECT_EQ(r.done, 1);
    ASSERT_EQ(r.vads.size(), 3u);
    EXPECT_EQ(r.vads[0].timeslot, kT1);
    EXPECT_EQ((std::vector<bool>{r.vads[0].active, r.vads[1].active, r.vads[2].active}),
              (std::vector<bool>{true, false, true}));
    ASSERT_EQ(r.bss.size(), 1u);
    EXPECT_EQ(r.bss[0].header.type, 2u);
    EXPECT_EQ(r.bss[0].header.timeslot, kT1);
    EXPECT_EQ(r.bss[0].score, -41);
    ASSERT_EQ(r.sds.size(), 1u);
    EXPECT_EQ(r.sds[0].timeslot, kT1);
    EXPECT_EQ(r.sds[0].code, 42);
    ASSERT_EQ(r.filters.size(), 2u);
    EXPECT_EQ(r.filters[0].freq, 1750);
    EXPECT_EQ(r.filters[0].detected, 0);
    EXPECT_EQ(r.filters[1].freq, 2600);
    ASSERT_EQ(r.flags.size(), 1u);
    EXPECT_EQ(r.flags[0].header.timeslot, kT1);
    EXPECT_EQ(r.flags[0].flags, 0x00010002u);

    // And as the controller's signals.
    LGCP::Signal s = Hardware::TonecSignal(r.tones[0]);
    ASSERT_TRUE(s.tonec_isSelected());
    EXPECT_EQ(s.get_tonec().get_code().getValue(), 13);
    EXPECT_EQ(static_cast<uint32_t>(s.get_tonec().get_timestamp().getValue()), 0xFEDCBA98u);
    EXPECT_TRUE(Hardware::ToneGenSignal().toneGenComplete_isSelected());
    s = Hardware::VADSignal(r.vads[1]);
    ASSERT_TRUE(s.vad_isSelected());
    EXPECT_FALSE(static_cast<bool>(s.get_vad().get_active()));
    s = Hardware::VADSignal(r.vads[2]);
    EXPECT_TRUE(static_cast<bool>(s.get_vad().get_active()));
    s = Hardware::BSSSignal(r.bss[0]);
    ASSERT_TRUE(s.bss_isSelected());
    EXPECT_EQ(s.get_bss().get_score().getValue(), -41);
    s = Hardware::SDSignal(r.sds[0]);
    ASSERT_TRUE(s.sd_isSelected());
    EXPECT_EQ(s.get_sd().get_code().getValue(), 42);
    for (int i = 0; i < 2; ++i) {
        s = Hardware::ToneFilterSignal(r.filters[i]);
        ASSERT_TRUE(s.toneFilter_isSelected());
        EXPECT_EQ(s.get_toneFilter().get_freq().getValue(), i ? 2600 : 1750);
        EXPECT_EQ(static_cast<bool>(s.get_toneFilter().get_detected()), i == 1);
    }
    s = Hardware::FlagsSignal(r.flags[0]);
    ASSERT_TRUE(s.dspFlags_isSelected());
    EXPECT_EQ(static_cast<uint32_t>(s.get_dspFlags().get_flags().getValue()), 0x00010002u);
}

TEST_F(ReceiverFields, EachRequestSetsItsOwnFunctionOnItsOwnTimeSlot)
{
    Receiver r(kT1), neighbour(kT2);
    const Standin::Dtmf::Line& t = dtmf.At(kT1);
    const Standin::Dsproc::Line& d = dsp.At(kT1);

    // One switch at a time: only its own word changes.
    EXPECT_TRUE(r.echoCancel(true));
    EXPECT_EQ((std::vector<int>{t.echo, t.detect, t.reject, t.iva, t.audible}), (std::vector<int>{1, 0, 0, 0, 0}));
    EXPECT_TRUE(r.enableDTMF(true));
    EXPECT_EQ((std::vector<int>{t.echo, t.detect, t.reject, t.iva, t.audible}), (std::vector<int>{1, 1, 0, 0, 0}));
    EXPECT_TRUE(r.enableDTMFReject(true));
    EXPECT_EQ((std::vector<int>{t.echo, t.detect, t.reject, t.iva, t.audible}), (std::vector<int>{1, 1, 1, 0, 0}));
    EXPECT_TRUE(r.enableIVA(true));
    EXPECT_TRUE(r.activateAudibleCall());
    EXPECT_EQ((std::vector<int>{t.echo, t.detect, t.reject, t.iva, t.audible}), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_TRUE(r.echoCancel(false) && r.enableDTMFReject(false));
    EXPECT_EQ((std::vector<int>{t.echo, t.detect, t.reject, t.iva, t.audible}), (std::vector<int>{0, 1, 0, 1, 1}));
    EXPECT_TRUE(r.enableDTMF(false) && r.enableIVA(false) && r.cancelAudibleCall());
    EXPECT_EQ((std::vector<int>{t.echo, t.detect, t.reject, t.iva, t.audible}), (std::vector<int>{0, 0, 0, 0, 0}));

    LGCP::DTMFParams dtmfParams;
    dtmfParams.set_on_time(80);
    dtmfParams.set_off_time(60);
    dtmfParams.set_level(-9);
    EXPECT_TRUE(r.configureDTMF(dtmfParams));
    EXPECT_EQ((std::vector<int>{t.config.timeslot, t.config.onTime, t.config.offTime, t.config.level}),
              (std::vector<int>{kT1, 80, 60, -9}));
    LGCP::IVAParams iva;
    iva.set_level(-17);
    EXPECT_TRUE(r.configureIVA(iva));
    EXPECT_EQ(t.ivaLevel, -17);
    EXPECT_TRUE(r.enableToneGenerator(425, 950, 3000, 1200));
    EXPECT_EQ((std::vector<int>{t.tone.timeslot, t.tone.freq1, t.tone.freq2, t.tone.amp1, t.tone.amp2}),
              (std::vector<int>{kT1, 425, 950, 3000, 1200}));
    // A generating tone is not a digit string being sent.
    EXPECT_TRUE(t.generating);
    EXPECT_FALSE(r.is_inDTMFTransmit());
    EXPECT_TRUE(r.disableToneGenerator(false));
    EXPECT_EQ(std::make_pair(t.forced, t.stops), std::make_pair(0, 1));
    EXPECT_TRUE(r.disableToneGenerator(true));
    EXPECT_EQ(std::make_pair(t.forced, t.stops), std::make_pair(1, 2));

    // Digits: every one allowed goes, the neighbours of the ranges do not.
    LGCP::TranslateDtmfParams digits;
    digits.set_digits("0123456789*#ABCD");
    EXPECT_TRUE(r.translateDTMF(digits));
    EXPECT_EQ(t.digits, "0123456789*#ABCD");
    EXPECT_TRUE(r.translateSelcal("09AZ"));
    EXPECT_EQ(t.selcal, "09AZ");
    EXPECT_TRUE(r.translateSelcal(std::string(64, 'Q')));
    Capture errors(std::cerr);
    for (const char* bad : {"E", "a", "/", ":", "@"}) {
        digits.set_digits(bad);
        EXPECT_FALSE(r.translateDTMF(digits)) << bad;
    }
    for (const char* bad : {"*", "#", "a", "[", "@", "/", ":"})
        EXPECT_FALSE(r.translateSelcal(bad)) << bad;
    EXPECT_FALSE(r.translateSelcal(""));
    EXPECT_FALSE(r.translateSelcal(std::string(65, 'Q')));
    EXPECT_EQ(errors.count("refused on time slot " + std::to_string(kT1)), 14u);
    EXPECT_EQ(t.selcal, std::string(64, 'Q'));

    // The DSP's switches and settings.
    EXPECT_TRUE(r.enableVAD(true));
    EXPECT_EQ((std::vector<int>{d.vad, d.sd, d.bss, d.noiseGate}), (std::vector<int>{1, 0, 0, 0}));
    EXPECT_TRUE(r.enableSD(true));
    EXPECT_EQ((std::vector<int>{d.vad, d.sd, d.bss, d.noiseGate}), (std::vector<int>{1, 1, 0, 0}));
    EXPECT_TRUE(r.enableBSS(true));
    EXPECT_EQ((std::vector<int>{d.vad, d.sd, d.bss, d.noiseGate}), (std::vector<int>{1, 1, 1, 0}));
    EXPECT_TRUE(r.enableNG(true));
    EXPECT_EQ((std::vector<int>{d.vad, d.sd, d.bss, d.noiseGate}), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_TRUE(r.disableVAD());
    EXPECT_EQ((std::vector<int>{d.vad, d.sd, d.bss, d.noiseGate}), (std::vector<int>{0, 1, 1, 1}));
    EXPECT_TRUE(r.disableSD() && r.enableBSS(false));
    EXPECT_EQ((std::vector<int>{d.vad, d.sd, d.bss, d.noiseGate}), (std::vector<int>{0, 0, 0, 1}));
    EXPECT_TRUE(r.enableNG(false));
    EXPECT_EQ(d.noiseGate, 0);

    LGCP::VADParams vad;
    vad.set_threshold(-38);
    vad.set_hangover(250);
    EXPECT_TRUE(r.configureVAD(vad));
    EXPECT_EQ(std::make_pair(d.vadThreshold, d.vadHangover), std::make_pair(-38, 250));
    EXPECT_TRUE(r.configureSD());
    EXPECT_EQ(d.sdDefaults, 1);
    EXPECT_TRUE(r.configureRxGain(-128));
    EXPECT_EQ(d.rxGain, -128);
    EXPECT_TRUE(r.configureRxGain(127));
    EXPECT_EQ(d.rxGain, 127);
    EXPECT_TRUE(r.configureDelays(30, 45));
    EXPECT_EQ(std::make_pair(d.rxDelay, d.txDelay), std::make_pair(30, 45));
    EXPECT_TRUE(r.configureToneFilter(2280, false, 120, -25));
    EXPECT_EQ((std::vector<int>{d.filter.timeslot, d.filter.freq, d.filter.enable, d.filter.duration, d.filter.level}),
              (std::vector<int>{kT1, 2280, 0, 120, -25}));

    // The neighbour heard none of it.
    const Standin::Dtmf::Line& nt = dtmf.At(kT2);
    const Standin::Dsproc::Line& nd = dsp.At(kT2);
    EXPECT_TRUE(nt.digits.empty() && nt.selcal.empty() && !nt.generating && nt.stops == 0 && nt.config.onTime == 0);
    EXPECT_TRUE(nd.vadHangover == 0 && nd.rxGain == 0 && nd.rxDelay == 0 && nd.filter.freq == 0 && nd.sdDefaults == 0);
}

} // namespace
