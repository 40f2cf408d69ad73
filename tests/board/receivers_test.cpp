#include "board/dsp_requests.h"
#include "board/dsproc_receiver.h"
#include "board/tonec_receiver.h"
#include "core/slot.h"
#include "core/slots.h"
#include "framework/multiplexer.h"
#include "protocol/lgcp.h"
#include "samples/link/loop_driver.h"
#include "standin/board.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cerrno>
#include <functional>
#include <cstring>
#include <iostream>
#include <memory>
#include <tuple>
#include <vector>

using test::Capture;

namespace {

constexpr int kT1 = 8192 + 4 * 128 + 1;
constexpr int kT2 = 8192 + 4 * 128 + 2;

class NoFactory : public SlotFactory {
public:
    const char* GetName() const override { return "none"; }
    Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
};

// A media slot as the mixer and RTP slots are: both receivers on its
// channel, every event passed on as the slot's signal.
class MediaSlot : public Slot, public Hardware::TonecReceiver, public Hardware::DSProcReceiver {
public:
    MediaSlot(SlotFactory& factory, int timeslot) : Slot(factory), timeslot(timeslot) {}
    ~MediaSlot() override
    {
        Hardware::TonecReceiver::CleanBeforeDestroy();
        Hardware::DSProcReceiver::CleanBeforeDestroy();
    }
    const char* GetName() const override { return "media"; }

    void tonec_event(Params const& p) override { processTonecEvent(p); }
    int tonec_timeslot() const override { return timeslot; }
    void tone_gen_complete() override { processToneGenEvent(); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { processVADEvent(e); }
    void dsproc_bss_event(::dsproc_bss_event const* e) override { processBSSEvent(e); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { processSDEvent(e); }
    void dsproc_tone_flt_event(::dsproc_tone_event const* e) override { processToneFltEvent(e); }
    void dsproc_flags_event(::dsproc_flags_event const* e) override { processFlagsEvent(e); }
    int dsproc_timeslot() const override { return timeslot; }

    int timeslot;
};

class Signals : public Slots::Notify {
public:
    void OnStream(Slot&, bool, bool, int) override {}
    void OnReleased(Slot&) override {}
    void OnSignal(Slot& slot, LGCP::Signal const& signal) override
    {
        slots.push_back(slot.GetId());
        signals.push_back(signal);
    }
    std::vector<int> slots;
    std::vector<LGCP::Signal> signals;
};

class ReceiversTest : public ::testing::Test {
protected:
    void SetUp() override { Slots::instance().SetNotify(&signals); }
    void TearDown() override
    {
        Slots::instance().Clear();
        Slots::instance().SetNotify(nullptr);
        EXPECT_EQ(multiplexer.handler_count(), 0u) << "the devices close with their last receiver";
    }
    MediaSlot& Make(int id, int timeslot)
    {
        auto* slot = new MediaSlot(factory, timeslot);
        Slots::instance().Enter(id, *slot);
        return *slot;
    }
    bool Wait(size_t count)
    {
        bool got = loop.RunUntil([&] { return signals.signals.size() >= count; });
        loop.Settle();
        return got && signals.signals.size() == count;
    }

    Standin::Board board;
    Standin::Dtmf& dtmf = board.Get<Standin::Dtmf>(Tonec::kDevice);
    Standin::Dsproc& dsp = board.Get<Standin::Dsproc>(Dsp::kDevice);
    NoFactory factory;
    Signals signals;
    test::LoopDriver loop;
};

TEST_F(ReceiversTest, EventsReachOnlyTheirTimeSlotsReceiverAndLeaveAsSignals)
{
    Make(5, kT1);
    Make(6, kT2);
    ASSERT_EQ(dtmf.open(), 1u) << "one device for every receiver";
    ASSERT_EQ(dsp.open(), 1u);

    // The driver's records: type 1 a detected digit, type 2 a finished tone.
    const unsigned long unrouted = Hardware::TonecService::instance().unrouted();
    ASSERT_EQ(dtmf.Raise(Tonec::EventRecord{1, kT2, 11, 4000000000u}), 1u);
    ASSERT_TRUE(Wait(1));
    EXPECT_EQ(Hardware::TonecService::instance().unrouted(), unrouted);
    EXPECT_EQ(signals.slots, std::vector<int>{6});
    ASSERT_TRUE(signals.signals[0].tonec_isSelected());
    EXPECT_EQ(signals.signals[0].get_tonec().get_code().getValue(), 11);
    EXPECT_EQ(static_cast<uint32_t>(signals.signals[0].get_tonec().get_timestamp().getValue()), 4000000000u);

    dtmf.Raise(Tonec::EventRecord{2, kT1, 0, 0});
    ASSERT_TRUE(Wait(2));
    EXPECT_EQ(signals.slots[1], 5);
    EXPECT_TRUE(signals.signals[1].toneGenComplete_isSelected());

    dsp.Vad(kT1, true);
    dsp.Bss(kT2, 27);
    dsp.Sd(kT1, 3);
    dsp.Tone(kT2, 2100, true);
    dsp.Flags(kT1, 0x80000001u);
    ASSERT_TRUE(Wait(7));
    std::vector<int> dspSlots(signals.slots.begin() + 2, signals.slots.end());
    EXPECT_EQ(dspSlots, (std::vector<int>{5, 6, 5, 6, 5}));
    const LGCP::Signal* s = &signals.signals[2];
    ASSERT_TRUE(s[0].vad_isSelected());
    EXPECT_TRUE(static_cast<bool>(s[0].get_vad().get_active()));
    ASSERT_TRUE(s[1].bss_isSelected());
    EXPECT_EQ(s[1].get_bss().get_score().getValue(), 27);
    ASSERT_TRUE(s[2].sd_isSelected());
    EXPECT_EQ(s[2].get_sd().get_code().getValue(), 3);
    ASSERT_TRUE(s[3].toneFilter_isSelected());
    EXPECT_EQ(s[3].get_toneFilter().get_freq().getValue(), 2100);
    EXPECT_TRUE(static_cast<bool>(s[3].get_toneFilter().get_detected()));
    ASSERT_TRUE(s[4].dspFlags_isSelected());
    EXPECT_EQ(static_cast<uint32_t>(s[4].get_dspFlags().get_flags().getValue()), 0x80000001u);

    // Nobody holds this time slot.
    Capture errors(std::cerr);
    unsigned long before = Hardware::TonecService::instance().unrouted();
    dtmf.Detect(8192 + 9, 1, 1);
    dtmf.Detect(-1, 1, 1);
    ASSERT_TRUE(loop.RunUntil([&] { return Hardware::TonecService::instance().unrouted() == before + 2; }));
    EXPECT_EQ(errors.count("event for a time slot without receiver"), 2u);
    EXPECT_EQ(signals.signals.size(), 7u);

    // A destroyed slot's receivers are gone with it.
    ASSERT_EQ(Slots::instance().Destroy(6), Answer::success);
    EXPECT_EQ(std::make_pair(dtmf.At(kT2).releases, dsp.At(kT2).releases), std::make_pair(1, 1));
    dtmf.Detect(kT2, 1, 1);
    ASSERT_TRUE(loop.RunUntil([&] { return Hardware::TonecService::instance().unrouted() == before + 3; }));
    EXPECT_EQ(signals.signals.size(), 7u);
}

TEST_F(ReceiversTest, OperationsProgramTheirTimeSlot)
{
    MediaSlot& m = Make(1, kT1);
    MediaSlot& other = Make(2, kT2);
    Hardware::TonecReceiver& t = m;
    Hardware::DSProcReceiver& d = m;

    EXPECT_TRUE(t.echoCancel(true));
    EXPECT_TRUE(t.enableDTMF(true));
    LGCP::DTMFParams config;
    config.set_on_time(80);
    config.set_off_time(60);
    config.set_level(-6);
    EXPECT_TRUE(t.configureDTMF(config));
    const Tonec::DtmfConfig& c = dtmf.At(kT1).config;
    EXPECT_TRUE(dtmf.At(kT1).detect);
    EXPECT_EQ(std::vector<int>({c.timeslot, c.onTime, c.offTime, c.level}), std::vector<int>({kT1, 80, 60, -6}));
    EXPECT_TRUE(t.translateSelcal("A7"));
    EXPECT_EQ(dtmf.At(kT1).selcal, "A7");
    EXPECT_FALSE(dtmf.At(kT2).echo) << "the other time slot is untouched";

    // Digits: sending until the device says done.
    EXPECT_FALSE(t.is_inDTMFTransmit());
    LGCP::TranslateDtmfParams digits;
    const std::string longest = "12*#AD" + std::string(58, '9'); // as many as a record holds
    digits.set_digits(longest);
    EXPECT_TRUE(t.translateDTMF(digits));
    EXPECT_EQ(dtmf.At(kT1).digits, longest);
    EXPECT_TRUE(t.is_inDTMFTransmit());
    EXPECT_FALSE(static_cast<Hardware::TonecReceiver&>(other).is_inDTMFTransmit());
    dtmf.Finish(kT1);
    ASSERT_TRUE(Wait(1));
    EXPECT_TRUE(signals.signals[0].toneGenComplete_isSelected());
    EXPECT_FALSE(t.is_inDTMFTransmit());

    Capture errors(std::cerr);
    for (std::string bad : {std::string("12x"), std::string(), longest + "1"}) {
        digits.set_digits(bad);
        EXPECT_FALSE(t.translateDTMF(digits)) << bad;
    }
    EXPECT_EQ(errors.count("refused on time slot"), 3u);
    EXPECT_EQ(dtmf.At(kT1).digits, longest);

    EXPECT_TRUE(t.enableToneGenerator(425, 350, 3000, 2000));
    EXPECT_TRUE(dtmf.At(kT1).generating);
    const Tonec::Tone& tone = dtmf.At(kT1).tone;
    EXPECT_EQ(std::vector<int>({tone.timeslot, tone.freq1, tone.freq2, tone.amp1, tone.amp2}),
              std::vector<int>({kT1, 425, 350, 3000, 2000}));
    EXPECT_TRUE(t.enableSilence());
    EXPECT_TRUE(t.disableToneGenerator(true));
    EXPECT_FALSE(dtmf.At(kT1).generating);
    EXPECT_EQ(dtmf.At(kT1).forced, 1);
    EXPECT_EQ(dtmf.At(kT1).silences, 1);
    EXPECT_TRUE(t.activateAudibleCall() && dtmf.At(kT1).audible == 1 && t.cancelAudibleCall() && !dtmf.At(kT1).audible);
    LGCP::VADParams vad;
    vad.set_threshold(-40);
    vad.set_hangover(300);
    EXPECT_TRUE(d.configureVAD(vad));
    EXPECT_EQ(std::make_pair(dsp.At(kT1).vadThreshold, dsp.At(kT1).vadHangover), std::make_pair(-40, 300));
    EXPECT_TRUE(d.enableBSS(true));
    EXPECT_EQ(std::make_pair(dtmf.At(kT1).echo, dsp.At(kT1).bss), std::make_pair(1, 1)) << "1 is on";
    EXPECT_TRUE(d.configureToneFilter(2100, true, 40, -30));
    const Dsp::ToneFilter& f = dsp.At(kT1).filter;
    EXPECT_EQ(std::vector<int>({f.timeslot, f.freq, f.enable, f.duration, f.level}), std::vector<int>({kT1, 2100, 1, 40, -30}));

    t.CleanBeforeDestroy();
    d.CleanBeforeDestroy();
    EXPECT_EQ(std::make_tuple(dtmf.At(kT1).echo, dtmf.At(kT1).releases, dsp.At(kT1).bss), std::make_tuple(0, 1, 0));

    // A receiver without a time slot never reaches the device.
    m.timeslot = -1;
    size_t requests = dtmf.codes().size();
    EXPECT_FALSE(t.enableDTMF(true));
    EXPECT_FALSE(d.enableVAD(true));
    EXPECT_EQ(dtmf.codes().size(), requests);
}

TEST_F(ReceiversTest, DeviceFailuresAndBadRecordsAreLoggedAndDropped)
{
    Capture errors(std::cerr);
    board.FailOpen(Tonec::kDevice, ENODEV);
    MediaSlot& m = Make(3, kT1);
    Hardware::TonecReceiver& t = m;
    EXPECT_EQ(errors.count("can't open /dev/dtmf"), 1u);
    EXPECT_FALSE(Hardware::TonecService::instance().is_open());
    // The next request opens it.
    EXPECT_TRUE(t.enableDTMF(true));
    EXPECT_TRUE(Hardware::TonecService::instance().is_open());

    // A device that answers every request with an error.
    board.FailRequest(Tonec::kDevice, Tonec::kDtmfDetect, EIO, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(t.enableDTMF(false));
    EXPECT_EQ(errors.count("request 0x80085402 on time slot " + std::to_string(kT1) + " failed: "
                           + std::string(strerror(EIO))),
              3u);
    EXPECT_TRUE(dtmf.At(kT1).detect);

    // Records of a wrong size or type, and empty ones.
    const unsigned char shortRecord[6] = {1, 0, 0, 0, 0, 0};
    dtmf.Raise(shortRecord, sizeof shortRecord);
    dtmf.Raise(Tonec::EventRecord{9, kT1, 1, 1});
    dtmf.Raise(nullptr, 0);
    dsp.Raise(shortRecord, 3);
    dsp.Raise(dsproc_tone_event{{Dsp::kVadEvent, kT1}, 1, 1}); // a VAD type of another size
    dsp.Raise(dsproc_flags_event{{77, kT1}, 1});
    const unsigned char longRecord[100] = {};
    dsp.Raise(longRecord, sizeof longRecord);
    ASSERT_TRUE(loop.RunUntil([&] { return errors.count("dropped") >= 7; }));
    loop.Settle();
    EXPECT_EQ(errors.count("dropped"), 7u);
    EXPECT_TRUE(signals.signals.empty());
    EXPECT_TRUE(Hardware::TonecService::instance().is_open());
    EXPECT_TRUE(Hardware::DSProcService::instance().is_open());

    // A device that hangs up is closed, not polled in a spin, and opened
    // again by the next request.
    std::vector<Standin::Channel*> open = board.Channels(Tonec::kDevice);
    ASSERT_EQ(open.size(), 1u);
    ::shutdown(open[0]->fd(), SHUT_RDWR);
    ASSERT_TRUE(loop.RunUntil([] { return !Hardware::TonecService::instance().is_open(); }));
    EXPECT_TRUE(t.echoCancel(true));
    board.FailRead(Tonec::kDevice); // so is one whose read fails
    ASSERT_TRUE(loop.RunUntil([] { return !Hardware::TonecService::instance().is_open(); }));
    EXPECT_EQ(errors.count("read failed: " + std::string(strerror(EISDIR))), 1u);
    EXPECT_EQ(errors.count("/dev/dtmf lost, closed"), 2u);
    EXPECT_TRUE(t.echoCancel(true));
    EXPECT_TRUE(dtmf.At(kT1).echo);
    dtmf.Detect(kT1, 4, 5);
    ASSERT_TRUE(Wait(1));
    EXPECT_TRUE(signals.signals[0].tonec_isSelected());
}

} // namespace

namespace {

class Tone : public Hardware::TonecReceiver {
public:
    explicit Tone(int timeslot) : timeslot(timeslot) {}
    void tonec_event(Params const& p) override
    {
        codes.push_back(p.code);
        if (onEvent)
            onEvent();
    }
    int tonec_timeslot() const override { return timeslot; }

    int timeslot;
    std::vector<int> codes;
    std::function<void()> onEvent;
};

TEST(ReceiverRegistry, ReceiversMayGoWhileAnEventIsDelivered)
{
    Standin::Board board;
    auto& dtmf = board.Get<Standin::Dtmf>(Tonec::kDevice);
    test::LoopDriver loop;
    auto first = std::make_unique<Tone>(kT1);
    auto second = std::make_unique<Tone>(kT1);
    auto other = std::make_unique<Tone>(kT2);
    EXPECT_EQ(Hardware::TonecService::instance().count(), 3u);

    // Both holders of the time slot hear it; one going meanwhile is skipped.
    dtmf.Detect(kT1, 1, 0);
    ASSERT_TRUE(loop.RunUntil([&] { return first->codes.size() + second->codes.size() == 2; }));
    EXPECT_EQ(first->codes, std::vector<int>{1});
    EXPECT_EQ(second->codes, std::vector<int>{1});
    first->onEvent = [&] { second.reset(); };
    dtmf.Detect(kT1, 2, 0);
    ASSERT_TRUE(loop.RunUntil([&] { return first->codes.size() == 2; }));
    loop.Settle();
    EXPECT_EQ(second, nullptr);
    EXPECT_TRUE(other->codes.empty());

    // The last receiver closes the device, also from within its event.
    first->onEvent = [&] {
        other.reset();
        first.reset(); // the last thing this closure does
    };
    Capture errors(std::cerr);
    dtmf.Detect(kT1, 3, 0);
    dtmf.Detect(kT1, 4, 0);
    ASSERT_TRUE(loop.RunUntil([&] { return !first; }));
    loop.Settle();
    EXPECT_FALSE(Hardware::TonecService::instance().is_open() || errors.count("read failed"));
    EXPECT_EQ(multiplexer.handler_count(), 0u);
}

} // namespace
