// The conference mixer: its driver requests, its units and its slots,
// driven through the controller link.

#include "tdm_link.h"

#include "slots/mixer.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"
#include "standin/mixer.h"
#include "standin/rtp.h"

#include <algorithm>
#include <numeric>
#include <random>
#include <set>
#include <string>

namespace {

using namespace tdmtest;
using Lines = std::vector<std::string>;
using Cause = LGCP::ErrorCause;

// A factory that has seen no query yet, in front of the chain.
class FreshMixer : public Mixer::MixerFactory {
};

// More: further fields in value notation.
LGCP::Message MixerIn(unsigned seq, int slot, int unit, int channel, std::string const& more = "")
{
    const std::string text =
        "mixerIn : {unit " + std::to_string(unit) + ", channel tdm : " + std::to_string(channel) + more + "}";
    return Do(seq, slot, [&](LGCP::Command& c) { EXPECT_TRUE(c.select_create().setFromValueNotation(text)) << text; });
}

// Inputs as {channel, gain}.
LGCP::Message MixerOut(unsigned seq, int slot, int unit, int channel, std::vector<std::pair<int, int>> inputs = {})
{
    std::string text = "mixerOut : {unit " + std::to_string(unit) + ", channel tdm : " + std::to_string(channel) + ", inputs {";
    for (size_t i = 0; i < inputs.size(); ++i)
        text += std::string(i ? ", " : "") + "{channel tdm : " + std::to_string(inputs[i].first) + ", gain "
                + std::to_string(inputs[i].second) + "}";
    return Do(seq, slot, [&](LGCP::Command& c) { EXPECT_TRUE(c.select_create().setFromValueNotation(text + "}}")) << text; });
}

class MixerSlots : public LinkFixture {
protected:
    // The first unit's first switch channel.
    static constexpr int kBase = 8192 + 13 * 128;

    // The answer's cause, -1 for success.
    int Ask(LGCP::Message const& m)
    {
        auto got = Exchange(m);
        const LGCP::Response& r = got[0].get_pdu().get_response();
        return r.error_isSelected() ? r.get_error().asInt() : -1;
    }
    LGCP::Resources QueryNow(unsigned seq) { return Resources(Exchange(Query(seq), 2)); }
    // One query, its requests forgotten.
    void Found(unsigned seq)
    {
        QueryNow(seq);
        mixer.Take();
    }

    FreshMixer factory;
    Standin::Mixer& mixer = board.Get<Standin::Mixer>("/dev/mixer");
    Standin::Dtmf& dtmf = board.Get<Standin::Dtmf>("/dev/dtmf");
    Standin::Dsproc& dsp = board.Get<Standin::Dsproc>("/dev/dsp");
};

TEST_F(MixerSlots, UnitsFoundAndLost)
{
    // Nothing before the first query.
    EXPECT_EQ(Ask(MixerIn(90, 2, 0, 1)), Cause::insufficientResources);
    EXPECT_EQ(Ask(MixerOut(91, 3, 0, 1)), Cause::insufficientResources);
    EXPECT_TRUE(mixer.trace().empty());
    EXPECT_EQ(factory.tdm_channels(), -1);

    mixer.RemoveUnit(0);
    mixer.AddUnit(3, 32, 64, kBase);
    mixer.AddUnit(5, 16, 48, 0); // its channel 0 on switch channel 0
    LGCP::Resources res = QueryNow(1);
    ASSERT_EQ(res.get_mixer().size(), 2u);
    int units[] = {3, 5};
    for (size_t i = 0; i < 2; ++i) {
        auto expected = res.get_mixer()[i];
        ASSERT_TRUE(expected.setFromValueNotation("{unit " + std::to_string(units[i]) + ", tdm-inputs 16, tdm-outputs 16,"
                                                  " mixer-inputs 48, dpu-per-mixer 770, dpu-per-ec 17, dpu-per-lms 24}"));
        EXPECT_EQ(res.get_mixer()[i].asValueNotation(), expected.asValueNotation());
    }
    // Each new unit has every one of its channels cleared.
    EXPECT_EQ(mixer.Count("RESOURCES"), 3u);
    EXPECT_EQ(mixer.Count("CLEAR"), 32u + 16u);
    EXPECT_EQ(mixer.trace().back(), "RESOURCES 5 !");
    mixer.Take();

    // The fewest channels bound every unit.
    EXPECT_EQ(Ask(MixerIn(2, 10, 3, 16)), Cause::invalidParams);
    EXPECT_EQ(Ask(MixerIn(3, 10, 3, 15)), -1);
    EXPECT_EQ(Ask(MixerOut(4, 11, 3, 0)), -1);
    ASSERT_EQ(Ask(MixerIn(5, 12, 5, 0)), -1);
    EXPECT_EQ(Ask(MixerOut(5, 14, 5, 0)), -1);

    mixer.RemoveUnit(3);
    auto got = Exchange(Query(6), 4);
    for (unsigned i = 0; i < 2; ++i) {
        EXPECT_EQ(SELECTED(SignalOf(got[i]), abort).getValue(), 0);
        EXPECT_EQ(got[i].get_slot().getValue(), 10u + i);
    }
    ASSERT_EQ(SELECTED(SignalOf(got[2]), resources).get_mixer().size(), 1u);
    EXPECT_EQ(SELECTED(SignalOf(got[2]), resources).get_mixer()[0].get_unit().getValue(), 5);
    EXPECT_EQ(Ask(MixerIn(7, 13, 3, 1)), Cause::insufficientResources);

    // The gone unit's slots still release, against a driver that refuses.
    mixer.Take();
    EXPECT_EQ(Ask(Destroy(8, 10)), -1);
    EXPECT_EQ(Ask(Destroy(9, 11)), -1);
    EXPECT_EQ(mixer.Take(), (Lines{"CLEAR 3:0 !"}));
    ASSERT_EQ(factory.units().size(), 1u);
    EXPECT_EQ(Slots::instance().Find(12)->GetName(), std::string("mixer tdm input"));
}

TEST_F(MixerSlots, AUnitThatComesBackKeepsItsSlotsMixes)
{
    mixer.AddUnit(1, 8, 8, kBase + 64);
    Found(1);
    ASSERT_EQ(Ask(MixerOut(2, 20, 0, 4, {{1, 100}, {2, 200}})), -1);
    ASSERT_EQ(Ask(MixerIn(3, 21, 0, 6, ", summator tdm : 5")), -1);
    Standin::Mixer::Mix four = mixer.MixOf(0, 4), five = mixer.MixOf(0, 5);

    mixer.Script({1}); // unit 0 missed once
    auto got = Exchange(Query(4), 4);
    EXPECT_TRUE(SignalOf(got[0]).abort_isSelected() && SignalOf(got[1]).abort_isSelected());
    mixer.Script({});
    mixer.Take();
    QueryNow(5);
    EXPECT_EQ(mixer.Count("CLEAR"), 128u - 2u) << "unit 0 cleared but channels 4 and 5";
    EXPECT_EQ(mixer.MixOf(0, 4), four);
    EXPECT_EQ(mixer.MixOf(0, 5), five);
    ASSERT_EQ(factory.units().size(), 2u);
    EXPECT_EQ(factory.units()[1]->id(), 0);

    // The same unit: its channels are still taken.
    EXPECT_EQ(Ask(MixerOut(6, 22, 0, 4)), Cause::insufficientResources);
    EXPECT_EQ(Ask(MixerIn(7, 22, 0, 6)), Cause::insufficientResources);
    mixer.Take();
    EXPECT_EQ(Ask(Destroy(8, 20)), -1);
    EXPECT_EQ(Ask(Destroy(9, 21)), -1);
    EXPECT_EQ(mixer.Take(), (Lines{"CLEAR 0:4", "REMOVE 0:5<0:6"}));
    EXPECT_EQ(mixer.Contributions(), 0u);
}

TEST_F(MixerSlots, EnumerationIsBounded)
{
    std::vector<int> endless(150);
    std::iota(endless.begin(), endless.end(), 1000);
    mixer.Script(endless);
    EXPECT_EQ(QueryNow(1).get_mixer().size(), 100u);
    EXPECT_EQ(mixer.Count("RESOURCES"), 100u);
    // A full list is still asked again at the next query.
    mixer.Script(endless);
    mixer.Take();
    EXPECT_EQ(QueryNow(2).get_mixer().size(), 100u);
    EXPECT_EQ(mixer.Count("RESOURCES"), 100u);
    EXPECT_EQ(mixer.Count("CLEAR"), 0u);

    mixer.Script({7, 7, 7, 7});
    mixer.Take();
    LGCP::Resources res = QueryNow(3);
    ASSERT_EQ(res.get_mixer().size(), 1u);
    EXPECT_EQ(res.get_mixer()[0].get_unit().getValue(), 7);
    EXPECT_EQ(mixer.Count("RESOURCES"), 2u);
}

TEST_F(MixerSlots, ResetClearsEveryChannelAndCountsFailures)
{
    mixer.RemoveUnit(0);
    mixer.AddUnit(2, 4, 4, kBase);
    mixer.Break(2, 0);
    Capture errors(std::cerr);
    QueryNow(1);
    EXPECT_EQ(mixer.Take(), (Lines{"RESOURCES -1", "CLEAR 2:0 !", "CLEAR 2:1", "CLEAR 2:2", "CLEAR 2:3",
                                   "RESOURCES 2 !"}));
    EXPECT_EQ(errors.count("mixer [2]: reset fail: 1 errors."), 1u);
}

TEST_F(MixerSlots, OutputRequests)
{
    Found(1);
    struct Case { const char* what; LGCP::Message create; int cause; Lines trace; } cases[] = {
        {"mix not cleared", MixerOut(2, 30, 0, 10), Cause::insufficientResources, {"TDM 0:10", "CLEAR 0:10"}},
        {"own channel", MixerOut(2, 30, 0, 5), -1, {"TDM 0:5", "CLEAR 0:5", "ADD 0:5<0:5*32767"}},
        {"taken", MixerOut(3, 31, 0, 5), Cause::insufficientResources, {}},
        {"three inputs", MixerOut(4, 31, 0, 6, {{1, 100}, {2, 200}, {3, 300}}), -1,
         {"TDM 0:6", "CLEAR 0:6", "ADD 0:6<0:1*100", "ADD 0:6<0:2*200", "ADD 0:6<0:3*300"}},
        {"second add fails", MixerOut(5, 32, 0, 8, {{1, 100}, {99, 200}, {3, 300}}), Cause::insufficientResources,
         {"TDM 0:8", "CLEAR 0:8", "ADD 0:8<0:1*100", "ADD 0:8<0:99*200 !", "CLEAR 0:8"}},
        {"channel beyond the units'", MixerOut(6, 32, 0, 128), Cause::invalidParams, {}},
        {"input beyond", MixerOut(7, 32, 0, 9, {{1, 1}, {-1, 1}}), Cause::invalidParams, {}},
        {"no such unit", MixerOut(8, 32, 4, 9), Cause::insufficientResources, {}},
    };
    mixer.Break(0, 99);
    board.FailRequest("/dev/mixer", MixerRequest::MIX_RX_CLEAR, EIO); // the first case's
    for (Case& c : cases) {
        EXPECT_EQ(Ask(c.create), c.cause) << c.what;
        EXPECT_EQ(mixer.Take(), c.trace) << c.what;
    }
    EXPECT_EQ(mixer.MixOf(0, 8).size(), 0u) << "a refused output keeps no mix";
    EXPECT_EQ(Slots::instance().Find(31)->GetTransmitChannel(), kBase + 6);

    // Destroyed: the mix is cleared and the switch output disabled.
    ExpectAnswer(Exchange(CreateMap(9, 40, 10), 3)[0], 9, 40);
    EXPECT_EQ(Ask(Connect(10, 31, {40})), -1);
    EXPECT_EQ(sw.Source(8192 + 10), kBase + 6);
    EXPECT_EQ(Ask(Destroy(11, 31)), -1);
    EXPECT_EQ(mixer.Take(), (Lines{"CLEAR 0:6"}));
    EXPECT_EQ(sw.At(kBase + 6).mode, Standin::Switch::Mode::Disabled);
    EXPECT_TRUE(sw.IsIdle(8192 + 10));
}

TEST_F(MixerSlots, InputRequests)
{
    Found(1);
    Capture errors(std::cerr);
    auto summator = [](int s) { return ", summator tdm : " + std::to_string(s); };
    struct Case { const char* what; LGCP::Message create; int cause; Lines trace, released; } cases[] = {
        {"plain", MixerIn(2, 50, 0, 1), -1, {"TDM 0:1"}, {}},
        {"taken", MixerIn(3, 51, 0, 1), Cause::insufficientResources, {}, {}},
        {"summator", MixerIn(4, 51, 0, 2, summator(9)), -1, {"TDM 0:2", "ADD 0:9<0:2*32767"}, {"REMOVE 0:9<0:2"}},
        {"rtp summator", MixerIn(5, 52, 0, 3, ", summator rtp : 3"), -1, {"TDM 0:3"}, {}},
        {"summator beyond", MixerIn(6, 53, 0, 4, summator(128)), Cause::invalidParams, {}, {}},
        {"channel beyond", MixerIn(7, 53, 0, -2), Cause::invalidParams, {}, {}},
        {"echo suppressor", MixerIn(8, 53, 0, 5, ", ecm {ec FALSE, es TRUE}"), -1, {"TDM 0:5"}, {}},
        {"no echo", MixerIn(9, 54, 0, 6, ", ecm {ec FALSE, es FALSE}"), -1, {"TDM 0:6"}, {}},
        {"summator 0", MixerIn(10, 56, 0, 8, summator(0)), -1, {"TDM 0:8", "ADD 0:0<0:8*32767"}, {"REMOVE 0:0<0:8"}},
    };
    for (Case& c : cases) {
        EXPECT_EQ(Ask(c.create), c.cause) << c.what;
        EXPECT_EQ(mixer.Take(), c.trace) << c.what;
    }
    EXPECT_EQ(errors.count("wrong summator coding !"), 1u);
    // A map feeds an input's channel, until the input goes.
    ExpectAnswer(Exchange(CreateMap(30, 40, 263), 3)[0], 30, 40);
    EXPECT_EQ(Ask(Connect(31, 40, {50})), -1);
    EXPECT_EQ(sw.Source(kBase + 1), 8192 + 263);
    EXPECT_TRUE(dtmf.At(kBase + 5).echo);
    EXPECT_EQ(dtmf.codes().back(), Tonec::kEchoCancel);
    EXPECT_FALSE(dtmf.At(kBase + 6).echo);

    for (Case& c : cases) {
        if (c.cause >= 0)
            continue;
        int slot = static_cast<int>(c.create.get_slot().getValue());
        EXPECT_EQ(Ask(Destroy(20, slot)), -1);
        EXPECT_EQ(mixer.Take(), c.released) << c.what;
    }
    EXPECT_TRUE(sw.Connections().empty());
    // A channel or summator the driver refuses: nothing is left, the slot
    // number and the channel are free.
    for (unsigned long request : {MixerRequest::MIX_TDM, MixerRequest::MIX_RX_ADD}) {
        board.FailRequest("/dev/mixer", request, EIO);
        EXPECT_EQ(Ask(MixerIn(21, 55, 0, 7, summator(9))), Cause::insufficientResources);
        EXPECT_EQ(mixer.Contributions(), 0u);
    }
    EXPECT_EQ(Ask(MixerIn(22, 55, 0, 7, summator(9))), -1);
    EXPECT_EQ(Ask(Destroy(23, 55)), -1);
    board.Prune();
    EXPECT_EQ(dtmf.open(), 0u);
    EXPECT_EQ(dsp.open(), 0u);
}

// The same live slots give the same mix, whatever order they and others
// were made and destroyed in: the gain an output lists for a source wins
// over the full gain of an input summed into that output.
TEST_F(MixerSlots, TheMixIsTheSameWhateverTheOrder)
{
    Found(1);
    const std::string into = ", summator tdm : ";
    // Live at the end: the first nine; the others are made and destroyed on the way.
    const std::vector<LGCP::Message> all = {
        MixerOut(0, 80, 0, 9, {{2, 1000}, {3, 500}, {7, 250}}), MixerOut(0, 81, 0, 11),
        MixerOut(0, 82, 0, 12, {{5, 700}, {2, 300}}), MixerIn(0, 83, 0, 2, into + "9"), MixerIn(0, 84, 0, 3, into + "9"),
        MixerIn(0, 85, 0, 4, into + "9"), MixerIn(0, 86, 0, 5, into + "11"), MixerIn(0, 87, 0, 6, into + "12"),
        MixerIn(0, 88, 0, 14, into + "13"), MixerIn(0, 89, 0, 7, into + "9"), MixerOut(0, 90, 0, 13, {{4, 100}, {14, 100}})};
    const std::map<int, Standin::Mixer::Mix> expected = {{9, {{2, 1000}, {3, 500}, {4, 32767}, {7, 250}}},
        {11, {{5, 32767}, {11, 32767}}}, {12, {{2, 300}, {5, 700}, {6, 32767}}}, {13, {{14, 32767}}}};
    auto destroy = [](LGCP::Message const& m) { return Destroy(0, static_cast<int>(m.get_slot().getValue())); };
    // Sent at once, answered in order: each one success.
    auto run = [&](std::vector<LGCP::Message> const& commands) {
        for (const auto& m : commands)
            EXPECT_TRUE(client.Send(Encode(m)));
        auto got = Receive(commands.size());
        return std::all_of(got.begin(), got.end(), [](auto& m) { return !SELECTED(m.get_pdu(), response).error_isSelected(); });
    };
    std::mt19937 random(34);
    for (int order = 0; order < 200; ++order) {
        SCOPED_TRACE("order " + std::to_string(order));
        // The slot of each turn: made, destroyed, made again; a live slot once or three times.
        std::vector<size_t> turns, seen(all.size());
        for (size_t i = 0; i < all.size(); ++i)
            turns.insert(turns.end(), i < 9 ? 1 + random() % 2 * 2 : 2, i);
        std::shuffle(turns.begin(), turns.end(), random);
        std::vector<LGCP::Message> commands;
        for (size_t i : turns)
            commands.push_back(seen[i]++ % 2 ? destroy(all[i]) : all[i]);
        ASSERT_TRUE(run(commands));
        ASSERT_EQ(mixer.Mixes(0), expected);
        std::vector<LGCP::Message> going(all.begin(), all.begin() + 9);
        std::shuffle(going.begin(), going.end(), random);
        std::transform(going.begin(), going.end(), going.begin(), destroy);
        ASSERT_TRUE(run(going));
        ASSERT_EQ(mixer.Contributions(), 0u);
    }

    // A member the driver will not take back: the output is not made.
    ASSERT_EQ(Ask(all[3]), -1);
    mixer.Break(0, 2);
    EXPECT_EQ(Ask(MixerOut(0, 91, 0, 9)), Cause::insufficientResources);
    EXPECT_EQ(Slots::instance().Find(91), nullptr);
}

TEST_F(MixerSlots, IoctlsReachTheReceivers)
{
    Found(1);
    ASSERT_EQ(Ask(MixerIn(2, 60, 0, 1)), -1);
    ASSERT_EQ(Ask(MixerOut(3, 61, 0, 2)), -1);
    const int in = kBase + 1, out = kBase + 2;
    // Each control in value notation.
    struct Case {
        const char* what;
        int slot;
        const char* control;
        int cause;
        std::function<bool()> done;
    } cases[] = {
        {"echo", 60, "echoSuppressor : TRUE", -1, [&] { return dtmf.At(in).echo; }},
        {"dtmf", 60, "dtmf-enable : TRUE", -1, [&] { return dtmf.At(in).detect; }},
        {"reject", 60, "dtmf-reject-enable : TRUE", -1, [&] { return dtmf.At(in).reject; }},
        {"digits", 60, "translateDTMF : {digits \"12#\"}", -1, [&] { return dtmf.At(in).digits == "12#"; }},
        {"bad digits", 60, "translateDTMF : {digits \"x\"}", Cause::invalidParams, [] { return true; }},
        {"dtmf params", 60, "dtmf-params : {on-time 80, off-time 60, level -9}", -1,
         [&] { return dtmf.At(in).config.onTime == 80 && dtmf.At(in).config.level == -9; }},
        {"vad", 60, "vad-enable : TRUE", -1, [&] { return dsp.At(in).vad; }},
        {"vad params", 60, "vad-params : {threshold -40, hangover 300}", -1,
         [&] { return dsp.At(in).vadThreshold == -40 && dsp.At(in).vadHangover == 300; }},
        {"vad off", 60, "vad-disable : NULL", -1, [&] { return !dsp.At(in).vad; }},
        {"sd", 60, "sd-enable : TRUE", -1, [&] { return dsp.At(in).sd; }},
        {"sd params", 60, "sd-params : {threshold 3}", -1, [&] { return dsp.At(in).sdDefaults == 1; }},
        {"sd off", 60, "sd-disable : NULL", -1, [&] { return !dsp.At(in).sd; }},
        {"iva", 60, "iva-enable : TRUE", -1, [&] { return dtmf.At(in).iva; }},
        {"iva params", 60, "iva-params : {level -12}", -1, [&] { return dtmf.At(in).ivaLevel == -12; }},
        {"gain", 60, "rx-gain : {gainDB -6}", -1, [&] { return dsp.At(in).rxGain == -6; }},
        {"gain cut", 60, "rx-gain : {gainDB 250}", Cause::invalidParams, [&] { return dsp.At(in).rxGain == -6; }},
        {"filter", 60, "tone-filter : {freq 2100, enable TRUE, duration-th-msec 40, det-level-dB -30}", -1,
         [&] { return dsp.At(in).filter.freq == 2100 && dsp.At(in).filter.level == -30; }},
        {"delays", 60, "delays : {tx 20}", -1, [&] { return dsp.At(in).rxDelay == 0 && dsp.At(in).txDelay == 20; }},
        {"not on an input", 60, "tone-gen-disable : NULL", Cause::unsupported, [] { return true; }},

        {"tone", 61, "tone-gen-enable : {freq 65535, amp 0}", -1,
         [&] {
             auto& t = dtmf.At(out).tone;
             return dtmf.At(out).stops == 1 && !dtmf.At(out).forced && t.freq1 == 65535 && t.freq2 == 0
                    && t.amp1 == 0 && t.amp2 == 0;
         }},
        {"tone cut", 61, "tone-gen-enable : {freq 70000, amp 1000}", Cause::invalidParams,
         [&] { return dtmf.At(out).stops == 1; }},
        {"amplitude cut", 61, "tone-gen-enable : {freq 425, amp 70000}", Cause::invalidParams,
         [&] { return dtmf.At(out).stops == 1 && dtmf.At(out).tone.freq1 == 65535; }},
        {"tone off", 61, "tone-gen-disable : NULL", -1, [&] { return dtmf.At(out).stops == 2 && dtmf.At(out).forced; }},
        {"dtmf off", 61, "dtmf-disable : NULL", -1, [&] { return dtmf.At(out).stops == 3 && !dtmf.At(out).forced; }},
        {"reject off", 61, "dtmf-reject-disable : NULL", -1, [&] { return !dtmf.At(out).reject; }},
        {"out vad", 61, "vad-enable : TRUE", -1, [&] { return dsp.At(out).vad; }},
        {"out delays", 61, "delays : {rx 7}", -1, [&] { return dsp.At(out).rxDelay == 7; }},
        {"not on an output", 61, "dtmf-enable : TRUE", Cause::unsupported, [&] { return !dtmf.At(out).detect; }},
        {"nor gain", 61, "rx-gain : {gainDB 1}", Cause::unsupported, [] { return true; }},
    };
    unsigned seq = 10;
    for (Case& c : cases) {
        auto fill = [&](LGCP::IoctlParams& p) { ASSERT_TRUE(p.setFromValueNotation(c.control)) << c.control; };
        EXPECT_EQ(Ask(Ioctl(seq++, c.slot, fill)), c.cause) << c.what;
        EXPECT_TRUE(c.done()) << c.what;
    }
    // Going while it sends digits, it leaves silence, the digit cut short.
    EXPECT_EQ(Ask(Destroy(seq, 60)), -1);
    EXPECT_TRUE(dtmf.At(in).silences == 1 && dtmf.At(in).stops == 1 && dtmf.At(in).forced);
}

TEST_F(MixerSlots, EventsReachTheirSlotKind)
{
    Found(1);
    ASSERT_EQ(Ask(MixerIn(2, 60, 0, 1)), -1);
    ASSERT_EQ(Ask(MixerOut(3, 61, 0, 2)), -1);
    const int in = kBase + 1, out = kBase + 2;

    dtmf.Detect(out, 5, 100); // an output hears no digits
    dtmf.Detect(in, 5, 101);
    auto got = Receive(1);
    EXPECT_TRUE(SignalOf(got[0]).tonec_isSelected());
    EXPECT_EQ(got[0].get_slot().getValue(), 60u);

    // An input plays no tones; an output has no voice, signal or quality detection.
    for (int channel : {in, out}) {
        dtmf.Finish(channel);
        dsp.Vad(channel, true);
        dsp.Bss(channel, 3);
        dsp.Sd(channel, 2);
        dsp.Tone(channel, 2100, true);
        dsp.Flags(channel, 1);
    }
    std::set<std::string> seen;
    for (auto& m : Receive(8)) {
        const LGCP::Signal& s = SignalOf(m);
        const char* kind = s.toneGenComplete_isSelected() ? "toneGen"
                           : s.vad_isSelected()            ? "vad"
                           : s.bss_isSelected()            ? "bss"
                           : s.sd_isSelected()             ? "sd"
                           : s.toneFilter_isSelected()     ? "toneFilter"
                           : s.dspFlags_isSelected()       ? "flags"
                                                           : "other";
        seen.insert(std::to_string(m.get_slot().getValue()) + " " + kind);
    }
    // The devices are read in their own order: compared as a set.
    EXPECT_EQ(seen, (std::set<std::string>{"60 bss", "60 flags", "60 sd", "60 toneFilter", "60 vad", "61 flags",
                                           "61 toneFilter", "61 toneGen"}));
    ExpectQuiet();
}

// A conference of 64 inputs summed to one output: each input contributes
// once, the members that leave take only their own contribution with them.
TEST_F(MixerSlots, AConferenceOf64Inputs)
{
    Found(1);
    const int output = 100;
    const std::string summator = ", summator tdm : " + std::to_string(output);
    ASSERT_EQ(Ask(MixerOut(1, 900, 0, output)), -1);
    ExpectAnswer(Exchange(CreateMap(2, 901, 1000), 3)[0], 2, 901);
    ASSERT_EQ(Ask(Connect(3, 900, {901})), -1);
    unsigned seq = 10;
    auto member = [&](int i) {
        int slot = 100 + i;
        ASSERT_EQ(Ask(MixerIn(seq++, slot, 0, i, summator)), -1);
        ASSERT_EQ(Exchange(CreateMap(seq++, 300 + i, 200 + i), 3).size(), 3u);
        ASSERT_EQ(Ask(Connect(seq++, 300 + i, {slot})), -1);
    };
    for (int i = 0; i < 64; ++i)
        member(i);
    EXPECT_EQ(mixer.MixOf(0, output).size(), 65u);
    EXPECT_EQ(sw.Source(kBase + 63), 8192 + 263);

    // Half of them leave, and two come in again.
    for (int i = 0; i < 64; i += 2)
        ASSERT_EQ(Ask(Destroy(seq++, 100 + i)), -1);
    for (int i = 0; i < 4; i += 2)
        ASSERT_EQ(Ask(MixerIn(seq++, 100 + i, 0, i, summator)), -1);
    EXPECT_EQ(mixer.MixOf(0, output).size(), 1u + 32u + 2u);

    std::vector<int> all;
    for (int id = 0; id <= Slot::kMaxId; ++id)
        if (Slots::instance().Find(id))
            all.push_back(id);
    for (int id : all)
        ASSERT_EQ(Ask(Destroy(seq++, id)), -1);
    EXPECT_EQ(mixer.Contributions(), 0u);
    EXPECT_TRUE(sw.Connections().empty());
    board.Prune();
    EXPECT_EQ(dtmf.open(), 0u);
    EXPECT_EQ(dsp.open(), 0u);
}

TEST_F(MixerSlots, DriverVersion)
{
    board.Get<Standin::Voice>("/dev/voice").SetVersion({2, 6, 1, 0, 9});
    Found(1);
    EXPECT_TRUE(factory.version_valid());
    EXPECT_EQ(factory.version(), (std::array<uint32_t, 5>{2, 6, 1, 0, 9}));

    board.FailRequest("/dev/voice", VoiceRequest::kVersion, EIO);
    Found(2);
    EXPECT_FALSE(factory.version_valid());

    Capture errors(std::cerr);
    board.FailOpen("/dev/voice", ENOENT);
    EXPECT_EQ(QueryNow(3).get_mixer().size(), 1u);
    EXPECT_EQ(errors.count("mixer: device \"/dev/voice\" open fail: No such file or directory"), 1u);
}

// A unit numbered other than 0: every record names it, and the channels
// and gains each land in their own field.
TEST_F(MixerSlots, RecordsCarryTheUnitChannelsAndGainsInTheirFields)
{
    mixer.RemoveUnit(0);
    mixer.AddUnit(7, 4, 2, kBase);
    QueryNow(1);
    EXPECT_EQ(mixer.Take(), (Lines{"RESOURCES -1", "CLEAR 7:0", "CLEAR 7:1", "CLEAR 7:2", "CLEAR 7:3",
                                   "RESOURCES 7 !"}));
    ASSERT_EQ(Ask(MixerIn(2, 50, 7, 1, ", summator tdm : 3")), -1);
    EXPECT_EQ(mixer.Take(), (Lines{"TDM 7:1", "ADD 7:3<7:1*32767"}));
    ASSERT_EQ(Ask(MixerOut(3, 51, 7, 2, {{0, 1001}, {1, -7}})), -1);
    EXPECT_EQ(mixer.Take(), (Lines{"TDM 7:2", "CLEAR 7:2", "ADD 7:2<7:0*1001", "ADD 7:2<7:1*-7"}));
    EXPECT_EQ(Slots::instance().Find(50)->GetReceiveChannel(), kBase + 1);
    EXPECT_EQ(Slots::instance().Find(51)->GetTransmitChannel(), kBase + 2);
    EXPECT_EQ(Ask(Destroy(4, 50)), -1);
    EXPECT_EQ(Ask(Destroy(5, 51)), -1);
    EXPECT_EQ(mixer.Take(), (Lines{"REMOVE 7:3<7:1", "CLEAR 7:2"}));
}

// Channels run from 0 to the last of the unit (128 here): the next one and
// -1 are refused, for an input's channel and summator and for an output's
// channel and inputs alike, before anything is programmed.
TEST_F(MixerSlots, ChannelsFromZeroToTheLastOfTheUnit)
{
    Found(1);
    const std::string into = ", summator tdm : ";
    const LGCP::Message refused[] = {MixerIn(2, 60, 0, 128),          MixerIn(2, 60, 0, -1),
                                     MixerIn(2, 60, 0, 0, into + "128"), MixerIn(2, 60, 0, 0, into + "-1"),
                                     MixerOut(2, 60, 0, 128),         MixerOut(2, 60, 0, -1),
                                     MixerOut(2, 60, 0, 0, {{128, 1}}), MixerOut(2, 60, 0, 0, {{-1, 1}})};
    for (const auto& m : refused)
        EXPECT_EQ(Ask(m), Cause::invalidParams) << m.asValueNotation();
    EXPECT_TRUE(mixer.Take().empty());

    EXPECT_EQ(Ask(MixerIn(3, 61, 0, 127, into + "125")), -1);
    EXPECT_EQ(Ask(MixerIn(4, 62, 0, 0, into + "0")), -1);
    EXPECT_EQ(Ask(MixerOut(5, 63, 0, 126, {{127, 5}, {0, 6}})), -1);
    EXPECT_EQ(Ask(MixerOut(6, 64, 0, 124)), -1);
    EXPECT_EQ(mixer.Take(), (Lines{"TDM 0:127", "ADD 0:125<0:127*32767", "TDM 0:0", "ADD 0:0<0:0*32767", "TDM 0:126",
                                   "CLEAR 0:126", "ADD 0:126<0:127*5", "ADD 0:126<0:0*6", "TDM 0:124", "CLEAR 0:124",
                                   "ADD 0:124<0:124*32767"}));
    EXPECT_EQ(Slots::instance().Find(62)->GetReceiveChannel(), kBase);
}

// The gain and the tone's numbers reach the driver in fewer bits: the last
// value each holds is taken, the next refused with nothing changed.
TEST_F(MixerSlots, GainAndToneUpToWhatTheirFieldsHold)
{
    Found(1);
    ASSERT_EQ(Ask(MixerIn(2, 60, 0, 1)), -1);
    ASSERT_EQ(Ask(MixerOut(3, 61, 0, 2)), -1);
    const int in = kBase + 1, out = kBase + 2;
    auto gain = [&](int db) { return [this, in, db] { return dsp.At(in).rxGain == db; }; };
    auto tone = [&](int stops, int freq, int amp) {
        return [this, out, stops, freq, amp] {
            const auto& t = dtmf.At(out).tone;
            return dtmf.At(out).stops == stops && t.freq1 == freq && t.amp1 == amp && t.freq2 == 0 && t.amp2 == 0;
        };
    };
    struct Case {
        int slot;
        const char* control;
        int cause;
        std::function<bool()> done;
    } cases[] = {
        {60, "rx-gain : {gainDB 127}", -1, gain(127)},
        {60, "rx-gain : {gainDB 128}", Cause::invalidParams, gain(127)},
        {60, "rx-gain : {gainDB -128}", -1, gain(-128)},
        {60, "rx-gain : {gainDB -129}", Cause::invalidParams, gain(-128)},
        {61, "tone-gen-enable : {freq 65535, amp 65534}", -1, tone(1, 65535, 65534)},
        {61, "tone-gen-enable : {freq 65536, amp 1}", Cause::invalidParams, tone(1, 65535, 65534)},
        {61, "tone-gen-enable : {freq 1, amp 65536}", Cause::invalidParams, tone(1, 65535, 65534)},
        {61, "tone-gen-enable : {freq -1, amp 1}", Cause::invalidParams, tone(1, 65535, 65534)},
        {61, "tone-gen-enable : {freq 1, amp -1}", Cause::invalidParams, tone(1, 65535, 65534)},
        {61, "tone-gen-enable : {freq 0, amp 0}", -1, tone(2, 0, 0)},
        {60, "tone-filter : {freq 1209, enable TRUE, duration-th-msec 45, det-level-dB -27}", -1,
         [&] {
             const auto& f = dsp.At(in).filter;
             return f.freq == 1209 && f.enable == 1 && f.duration == 45 && f.level == -27;
         }},
        {61, "tone-filter : {freq 941, enable FALSE, duration-th-msec 46, det-level-dB -28}", -1,
         [&] {
             const auto& f = dsp.At(out).filter;
             return f.freq == 941 && f.enable == 0 && f.duration == 46 && f.level == -28;
         }},
        {60, "dtmf-params : {on-time 81, off-time 62, level -9}", -1,
         [&] {
             const auto& c = dtmf.At(in).config;
             return c.onTime == 81 && c.offTime == 62 && c.level == -9;
         }},
        {61, "delays : {rx 3, tx 4}", -1, [&] { return dsp.At(out).rxDelay == 3 && dsp.At(out).txDelay == 4; }},
        // An absent delay is 0.
        {61, "delays : {rx 5}", -1, [&] { return dsp.At(out).rxDelay == 5 && dsp.At(out).txDelay == 0; }},
        {61, "delays : {tx 6}", -1, [&] { return dsp.At(out).rxDelay == 0 && dsp.At(out).txDelay == 6; }},
    };
    unsigned seq = 10;
    for (Case& c : cases) {
        auto fill = [&](LGCP::IoctlParams& p) { ASSERT_TRUE(p.setFromValueNotation(c.control)) << c.control; };
        EXPECT_EQ(Ask(Ioctl(seq++, c.slot, fill)), c.cause) << c.control;
        EXPECT_TRUE(c.done()) << c.control;
    }
}

// The counts are the smallest over the units, 0 included.
TEST_F(MixerSlots, CountsAreTheSmallestOfTheUnitsZeroIncluded)
{
    mixer.RemoveUnit(0);
    mixer.AddUnit(1, 0, 8, kBase);
    mixer.AddUnit(2, 16, 0, kBase + 64);
    LGCP::Resources res = QueryNow(1);
    ASSERT_EQ(res.get_mixer().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(res.get_mixer()[i].get_tdm_inputs().getValue(), 0);
        EXPECT_EQ(res.get_mixer()[i].get_tdm_outputs().getValue(), 0);
        EXPECT_EQ(res.get_mixer()[i].get_mixer_inputs().getValue(), 0);
    }
    EXPECT_EQ(factory.tdm_channels(), 0);
    EXPECT_EQ(Ask(MixerIn(2, 10, 2, 0)), Cause::invalidParams);
}

// Each kind takes the controls of its own list and refuses the others.
TEST_F(MixerSlots, EachKindTakesTheControlsOfItsListOnly)
{
    Found(1);
    ASSERT_EQ(Ask(MixerIn(2, 60, 0, 1)), -1);
    ASSERT_EQ(Ask(MixerOut(3, 61, 0, 2)), -1);
    // The input's list, then the controls only an output takes.
    const std::vector<std::string> controls = {"echoSuppressor : TRUE", "dtmf-enable : TRUE", "dtmf-reject-enable : TRUE",
        "translateDTMF : {digits \"1\"}", "dtmf-params : {on-time 80, off-time 60, level -9}", "vad-enable : TRUE",
        "vad-disable : NULL", "vad-params : {threshold -40, hangover 300}", "sd-enable : TRUE", "sd-disable : NULL",
        "sd-params : {threshold 3}", "iva-enable : TRUE", "iva-params : {level -12}", "rx-gain : {gainDB -6}",
        "tone-filter : {freq 2100, enable TRUE, duration-th-msec 40, det-level-dB -30}", "delays : {tx 20}",
        "dtmf-disable : NULL", "dtmf-reject-disable : NULL", "tone-gen-enable : {freq 425, amp 1000}",
        "tone-gen-disable : NULL"};
    const std::set<std::string> notOnOutput = {controls[0], controls[1], controls[2], controls[12], controls[13]};
    unsigned seq = 10;
    for (size_t i = 0; i < controls.size(); ++i) {
        auto fill = [&](LGCP::IoctlParams& p) { ASSERT_TRUE(p.setFromValueNotation(controls[i])) << controls[i]; };
        EXPECT_EQ(Ask(Ioctl(seq++, 60, fill)), i < 16 ? -1 : Cause::unsupported) << "input: " << controls[i];
        EXPECT_EQ(Ask(Ioctl(seq++, 61, fill)), notOnOutput.count(controls[i]) ? Cause::unsupported : -1)
            << "output: " << controls[i];
    }
}

// A channel the driver cannot place is -1, and so are the counts after a
// refresh that finds no unit.
TEST_F(MixerSlots, WhatIsNotFoundIsMinusOne)
{
    Found(1);
    Mixer::Mixer* unit = factory.units()[0];
    EXPECT_EQ(unit->channel2timeslot(5), kBase + 5);
    board.FailRequest("/dev/mixer", MixerRequest::MIX_TDM, EIO);
    EXPECT_EQ(unit->channel2timeslot(5), -1);
    mixer.RemoveUnit(0);
    EXPECT_TRUE(QueryNow(2).get_mixer().empty());
    EXPECT_EQ(factory.tdm_channels(), -1);
    EXPECT_EQ(factory.mixer_inputs(), -1);
}

} // namespace
