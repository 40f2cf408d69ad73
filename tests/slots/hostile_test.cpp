// Every slot kind of the mixer, TDM, MCC, voice, T.38, RTP and modem families
// driven by a careless controller: boundary and mutated create parameters,
// then every command in odd orders. Each command must get exactly one
// answer; nothing may crash, leak a descriptor or leave a child behind.
#include "voice_link.h"

#include "framework/child_wait.h"
#include "rtp/lemz_factory.h"
#include "rtp/rtp_factory.h"
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/mcc_slot.h"
#include "slots/dsp_modem_slot.h"
#include "slots/mixer.h"
#include "slots/modem_factory.h"
#include "slots/t38_slot.h"
#include "slots/voice.h"
#include "standin/modem.h"
#include "tests/framework/loop_helpers.h"

#include <linux/if.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>

namespace {

using namespace test;
using Fill = std::function<void(LGCP::CreateParams&)>;
using IoFill = std::function<void(LGCP::IoctlParams&)>;

// The create parameters in value notation.
Fill Avn(std::string const& text)
{
    return [text](LGCP::CreateParams& c) { EXPECT_TRUE(c.setFromValueNotation(text)) << text; };
}

// LEMZ flags: the priority given, and press-to-talk, squelch and a call set or all clear.
std::string Flags(std::string const& prio, bool set = true)
{
    const std::string on = set ? "TRUE" : "FALSE";
    return "flags {prio " + prio + ", ptt " + on + ", bss FALSE, vad-rx FALSE, vad-tx FALSE, sql " + on
           + ", sh FALSE, pwr FALSE, rv FALSE, resv FALSE, selcall " + (set ? "3, li 511}" : "0, li 0}");
}

// An RTP create: the codec fields after the address, the payloads sent and taken.
Fill Rtp(std::string const& codec = "", std::string const& payload = "ptG729", std::string const& rx = "ptG729")
{
    return Avn("rtp : {codecRTP {payload " + payload + ", dhost {iaddr \"127.0.0.1\", port 7000}" + codec
               + "}, txPayload " + payload + ", rxPayload " + rx + "}");
}

// A LEMZ radio create with the priority given.
Fill Lemz(std::string const& prio)
{
    return Rtp(", radio {status lemz : {" + Flags(prio) + ", freq {channel 0, frequency \"\"}, remote {no 0, ch 0}}}");
}

// A T.38 create with the packet size given.
Fill T38(std::string const& size)
{
    return Avn("t38soft : {dhost {iaddr \"127.0.0.1\", port 900}, shost {iaddr \"\", port 0}, rx-packet-size " + size
               + ", rx-threshold 0, tx-threshold 0, args {}}");
}

// True once the process ignores SIGHUP: a hang-up sent before the program
// got that far would end it instead.
bool IgnoresHangUp(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 7, "SigIgn:") == 0)
            return std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGHUP - 1));
    return false;
}

// Create parameters at and past the edges of every landed kind.
std::vector<Fill> Creates()
{
    const std::string longText = '"' + std::string(3000, '7') + '"';
    std::vector<Fill> all;
    // RTP.
    for (std::string host : {"127.0.0.1", "", "999.1.1.1", "1.2.3.4 ", "0x7f.1", "255.255.255.255"})
        all.push_back(Avn("rtp : {codecRTP {payload ptG729, dhost {iaddr \"" + host
                          + "\", port 7000}}, txPayload ptG729, rxPayload ptG729}"));
    for (std::string port : {"0", "1", "65534", "65535"})
        all.push_back(Avn("rtp : {codecRTP {payload ptG729, dhost {iaddr \"127.0.0.1\", port " + port
                          + "}}, txPayload ptG729, rxPayload ptG729}"));
    for (std::string payload : {"ptG711-Alaw", "ptG711-Ulaw", "ptG723", "ptG729", "ptG711mcc-Alaw", "ptG711mcc-Ulaw",
                                "reserv-1", "reserv-5", "ptT38-UDP-TL", "ptT38-TCP-TPKT", "ptG728", "ptR2S"})
        all.push_back(Rtp("", payload, "ptR2S"));
    all.push_back(Rtp(", shost {iaddr " + longText + ", port 65535}"));
    all.push_back(Rtp(", shost {iaddr \"0.0.0.0\", port 1}, pfactor 255, crate -2147483648, vad TRUE, echo {suppressor"
                      " TRUE, canceller FALSE}, ssrc 4294967295, ttl 255, qos-dscp cs7, rtp-e2m {mode only-rtp : {fd"
                      " 2147483647, pid 0}}"));
    // LEMZ radio.
    all.push_back(Lemz("15"));
    all.push_back(Rtp(", radio {status lemz : {" + Flags("-2147483648") + ", freq {channel -2147483648, frequency "
                      + longText + "}, remote {no 255, ch 0}, squelshe on, rte j3e, standby-state-channel standby,"
                      " standby-group 255, standby-state-receiver standby}, rx-delay -2147483648, tx-delay"
                      " 2147483647, bss-enable TRUE, ng-enable FALSE}"));
    all.push_back(Rtp(", radio {status ed-137 : {header {ptt ptt-off, squ squ-off, ptt-id 0, ptt-mute FALSE,"
                      " ptt-summation FALSE, sct FALSE}}}"));
    // Mixer.
    for (std::string unit : {"-1", "0", "1", "2147483647"})
        for (std::string channel : {"-2147483648", "-1", "0", "63", "64", "2147483647"}) {
            const std::string summator = channel == "63" ? "0" : channel, input = channel == "0" ? "1" : "2";
            all.push_back(Avn("mixerIn : {unit " + unit + ", channel tdm : " + channel + ", summator tdm : " + summator
                              + ", ecm {ec FALSE, es TRUE}}"));
            std::string inputs;
            for (std::string gain : {"-2147483648", "0", "2147483647"})
                inputs += std::string(inputs.empty() ? "" : ", ") + "{channel tdm : " + input + ", gain " + gain + "}";
            all.push_back(Avn("mixerOut : {unit " + unit + ", channel tdm : " + channel + ", inputs {" + inputs + "}}"));
        }
    for (std::string text : {"mixerIn : {unit 0, channel rtp : 1, summator rtp : 2}",
                             "mixerIn : {unit 0, channel tdm : 5, summator rtp : 2, rtp {payload ptG711-Alaw, dhost"
                             " {iaddr \"x\", port 1}}}",
                             "mixerOut : {unit 0, channel tdm : 6, inputs {{channel rtp : 1, gain 0}}}"})
        all.push_back(Avn(text));
    // External TDM, echo, MCC.
    for (std::string t : {"-2147483648", "-1", "0", "2047", "4095", "4096", "2147483647"})
        all.push_back(Avn("ext : {transmitter " + t + ", receiver " + (t == "0" ? "1" : "0") + "}"));
    all.push_back(Avn("ext : {transmitter 100, receiver 100}"));
    for (std::string v : {"-2147483648", "-1", "0", "15", "16", "31", "32", "2147483647"})
        all.push_back(Avn("echo : {bus " + v + ", channel " + v + "}"));
    for (std::string type : {"data", "bri", "transparent"})
        for (std::string mode : {"standard", "ss7"})
            all.push_back(Avn("mcc : {type " + type + ", mode " + mode + "}"));
    // T.38: the transmit threshold the negated size (the lowest: the highest).
    for (std::string host : {"127.0.0.1", "", "1.2.3.4.5"})
        for (std::string size : {"-2147483648", "-1", "0", "160", "2147483647"}) {
            const std::string tx = size == "-2147483648" ? "2147483647"
                                   : size == "0"         ? size
                                   : size[0] == '-'      ? size.substr(1)
                                                         : "-" + size;
            std::string args = "\"\", " + longText;
            for (int i = 2; i < (size == "160" ? 40 : 2); i += 2)
                args += ", \"\", " + longText;
            all.push_back(Avn("t38soft : {dhost {iaddr \"" + host + "\", port 65535}, shost {iaddr " + longText
                              + ", port 0}, rx-packet-size " + size + ", rx-threshold " + size + ", tx-threshold " + tx
                              + ", args {" + args + "}}"));
        }
    // Voice.
    for (std::string host : {"127.0.0.1", "", "nowhere", "256.0.0.1"})
        for (std::string port : {"0", "1", "65535"})
            all.push_back(Avn("voice : record : {iaddr \"" + host + "\", port " + port + "}"));
    for (std::string host : {"127.0.0.1", "", "1.2.3"})
        for (std::string id : {"-2147483648", "0", "2147483647"})
            all.push_back(Avn("voice : player : network : {host {iaddr \"" + host + "\", port 1}, id " + id + "}"));
    for (std::string repeat : {"-2147483648", "-1", "0", "1", "2147483647"}) {
        const std::string names = repeat == "0" ? "" : "\"empty\", \"\", \"../x\", " + longText + ", \"phrase\", ";
        all.push_back(Avn("voice : player : file : {name {" + names + "\"missing\"}, repeat " + repeat + "}"));
    }
    return all;
}

// The control in value notation.
IoFill Control(std::string const& text)
{
    return [text](LGCP::IoctlParams& p) { EXPECT_TRUE(p.setFromValueNotation(text)) << text; };
}

// A LEMZ command in value notation on a session that is no address.
IoFill LemzControl(std::string const& params)
{
    return Control("rtpExt : lemz : {addr {session-addr \"not an address\", session-ssrc 4294967295}, params " + params + "}");
}

// Every control alternative, with values at or past their edges.
std::vector<IoFill> Ioctls()
{
    const std::string longText = '"' + std::string(3000, '9') + '"';
    std::vector<IoFill> all;
    for (const std::string& text : std::vector<std::string>{"echoSuppressor : TRUE",
                             "translateDTMF : {digits \"0123456789*#ABCDxyz!\"}",
                             "dtmf-params : {on-time -2147483648, off-time 2147483647, level -2147483648}",
                             "dtmf-enable : TRUE",
                             "ss7RqBSN : NULL",
                             "ss7Log : {state TRUE, raw-receive FALSE, raw-transmit FALSE, mtp-transmit FALSE,"
                             " mtp-receive FALSE, mtp-activate FALSE, timers FALSE, msu-processing FALSE}",
                             "dtmf-disable : NULL",
                             "vad-params : {threshold 2147483647, hangover -2147483648}",
                             "vad-enable : TRUE",
                             "vad-disable : NULL",
                             "dtmf-reject-enable : TRUE",
                             "dtmf-reject-disable : NULL",
                             "sd-params : {threshold -2147483648}",
                             "sd-enable : TRUE",
                             "sd-disable : NULL",
                             "iva-enable : TRUE",
                             "iva-params : {level 2147483647}",
                             "rx-gain : {gainDB -2147483648}",
                             "rx-gain : {gainDB -6}",
                             "delays : {rx -2147483648, tx 2147483647}",
                             "delays : {}",
                             "tone-filter : {freq -2147483648, enable TRUE, duration-th-msec 2147483647,"
                             " det-level-dB -2147483648}",
                             "hdlcPackages : {{body '" + std::string(600, '6') + "'H}}",
                             "tone-gen-enable : {freq 2147483647, amp -1}",
                             "tone-gen-enable : {freq 440, amp 1000}",
                             "tone-gen-disable : NULL",
                             "activateWaitTone : NULL",
                             "deactivateWaitTone : NULL",
                             "pd-enable : {timeout -2147483648}",
                             "pd-disable : NULL",
                             "encoder-mode : lbrc",
                             "decoder-mode : ulaw",
                             "encoder-mode : alaw",
                             "selcal : \"1234567890ABCDEF!\"",
                             "rtpExt : ed-137 : {addr {session-addr \"\", session-ssrc 0}, params tx : {header {ptt ptt-off,"
                             " squ squ-off, ptt-id 0, ptt-mute FALSE, ptt-summation FALSE, sct FALSE}}}"})
        all.push_back(Control(text));
    // Every LEMZ command, with text fields empty, absurd or too long.
    for (const std::string& params : std::vector<std::string>{
             "gw-set-flags : {" + Flags("2147483647") + "}",
             "gw-set-freq : {freq {channel 0, frequency " + longText + "}}",
             "gw-set-ptt : {" + Flags("-1") + "}",
             "gw-set-bss : {" + Flags("0", false) + "}",
             "gw-set-sh : {" + Flags("0", false) + "}",
             "gw-set-pwr : {" + Flags("0", false) + "}",
             "gw-set-rv : {" + Flags("0", false) + "}",
             "gw-set-resv : {" + Flags("0", false) + "}",
             "gw-set-selcall : {" + Flags("0", false) + ", ip " + longText + ", ssrc 0, cid " + longText + "}",
             "gw-set-remote : {remote {no 255, ch 0}}",
             "gw-set-squelshe : {squelshe on}",
             "gw-set-rte : {rte j3e}",
             "gw-set-standby : {state standby}",
             "wm-flags : {" + Flags("0") + "}",
             "wm-trans : {" + Flags("16") + ", ip \"\", ssrc 0}",
             "wm-quality : {bss-val " + longText + "}",
             "wm-quality : {bss-val \"1e999\"}",
             "wm-chan : {freq {channel -2147483648, frequency \"-nan\"}, squelshe no-config, rte no-config}",
             "wm-selcall : {" + Flags("0", false) + ", ip \"255.255.255.255\", ssrc 0, cid " + longText + "}",
             "wm-remote : {remote {no 0, ch 255}}",
             "wm-standby : {state-channel active, group 255, state-receiver standby}"})
        all.push_back(LemzControl(params));
    return all;
}

class Hostile : public SlotLink {
protected:
    // Its own mixer factory: the singleton would stay in the chain and keep
    // its units for the tests after this one.
    struct OwnMixer : Mixer::MixerFactory {
    } mixers;
    void SetUp() override
    {
        SlotLink::SetUp();
        RtpFactory::instance();
        ExtFactory::instance();
        MccFactory::instance();
        EchoFactory::instance();
        VoiceFactory::instance();
        T38SoftFactory::instance();
        RtpLEMZFactory::instance();
        T38SoftFactory::set_program_for_test(T38_STANDIN);
        ChildWait::Activate();
        ::setenv("T38_STANDIN_DIR", dir.c_str(), 1);
        std::ofstream(dir + "/empty");
        std::ofstream(dir + "/phrase") << std::string(100, 'p');
        PlaySlotFile::set_dir_for_test(dir);
        // The mixer makes slots only on the units a query found.
        Send(Query());
    }
    void TearDown() override
    {
        PlaySlotFile::set_dir_for_test("/usr/local/voice/");
        T38SoftFactory::set_program_for_test(T38SoftFactory::kProgram);
        SlotLink::TearDown();
    }

    static LGCP::Message Query()
    {
        LGCP::Message m = Command(0);
        Body(m).select_query();
        return m;
    }

    // The cause of the answer to seq, -1 for success, -2 while none came.
    int AnswerTo(unsigned seq) const
    {
        for (auto it = inbox.rbegin(); it != inbox.rend(); ++it)
            if (it->get_pdu().response_isSelected() && it->seq_isPresent() && it->get_seq().getValue() == seq) {
                const LGCP::Response& r = it->get_pdu().get_response();
                return r.success_isSelected() ? -1 : r.get_error().asInt();
            }
        return -2;
    }
    // Sends the command without waiting for its answer; its seq.
    unsigned Post(LGCP::Message m)
    {
        m.set_seq(++mSeq);
        EXPECT_TRUE(client.Send(Encode(m)));
        return mSeq;
    }
    // Sends the command and runs until its answer; the answer's cause.
    int Send(LGCP::Message const& m)
    {
        const unsigned seq = Post(m);
        EXPECT_TRUE(RunUntil([&] { return AnswerTo(seq) != -2; })) << m;
        return AnswerTo(seq);
    }
    int Create(int slot, Fill const& fill)
    {
        LGCP::Message m = Command(0, slot);
        fill(Body(m).select_create());
        return Send(m);
    }
    int On(int slot, std::function<void(LGCP::Command&)> fill)
    {
        LGCP::Message m = Command(0, slot);
        fill(Body(m));
        return Send(m);
    }
    int Ioctl(int slot, IoFill const& fill)
    {
        return On(slot, [&](LGCP::Command& c) { fill(c.select_ioctl()); });
    }
    int Connect(int source, std::vector<int> const& receivers)
    {
        return Send(test::Connect(0, source, receivers));
    }

    // Each answer came once.
    void ExpectOneAnswerEach()
    {
        loop.Settle();
        RunUntil([] { return true; }); // takes what came
        std::map<unsigned, int> answers;
        for (const auto& m : inbox)
            if (m.get_pdu().response_isSelected())
                ++answers[m.seq_isPresent() ? m.get_seq().getValue() : 0];
        for (const auto& a : answers)
            EXPECT_EQ(a.second, 1) << "answers to seq " << a.first;
    }
    // The controller goes: no slot, child, channel or descriptor is left.
    void ExpectNothingLeft(std::map<int, std::string> const& before, std::vector<const char*> const& devices)
    {
        client.Close();
        ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
        EXPECT_EQ(Slots::instance().count(), 0u);
        EXPECT_TRUE(loop.RunUntil([] { return Children().empty(); }, 3000)) << Children();
        loop.Settle();
        board.Prune();
        for (const char* path : devices)
            EXPECT_TRUE(board.Channels(path).empty()) << path;
        auto now = OpenDescriptors();
        for (const auto& d : before)
            now.erase(d.first);
        for (const auto& d : now)
            ADD_FAILURE() << "descriptor " << d.first << " left open: " << d.second;
    }

    unsigned mSeq = 0;
    Capture out{std::clog};
    Capture err{std::cerr};
};

TEST_F(Hostile, EveryKindTakesBoundaryCreatesAndEveryCommandInOddOrders)
{
    board.Prune();
    const auto descriptors = OpenDescriptors();
    const auto creates = Creates();
    const auto ioctls = Ioctls();
    std::vector<int> live;
    std::set<std::string> kinds;
    int id = 0;
    for (const Fill& fill : creates) {
        ++id;
        int made = Create(id, fill);
        if (made != -1)
            continue;
        live.push_back(id);
        // Commands on the slot alone, the destroyed and itself.
        Connect(id, {id});
        Connect(id, {1023});
        Connect(1023, {id});
        On(id, [](LGCP::Command& c) { c.select_disconnect(); });
        On(id, [](LGCP::Command& c) { c.select_activate().select_none(); });
        On(id, [](LGCP::Command& c) { c.select_activate().select_modem().set_mtu(INT_MIN); });
        On(id, [](LGCP::Command& c) { c.select_userData(); });
        On(id, [](LGCP::Command& c) { c.select_userData() = std::vector<char>(8000, 'u'); });
        // Every control on the first slot of a kind, a few on the others.
        const bool first = kinds.insert(Slots::instance().Find(id)->GetName()).second;
        for (size_t i = 0; i < ioctls.size(); i += first ? 1 : 9)
            Ioctl(id, ioctls[i]);
        On(id, [](LGCP::Command& c) { c.select_deactivate(); });
        On(id, [](LGCP::Command& c) { c.select_deactivate(); });
        EXPECT_EQ(Create(id, fill), LGCP::ErrorCause::slotIdBusy);
    }
    ASSERT_GE(live.size(), 20u) << err.text();
    // Every pair both ways, a few at a time, then the fan-outs.
    for (size_t i = 0; i + 1 < live.size(); ++i) {
        Connect(live[i], {live[i + 1]});
        Connect(live[i + 1], {live[i]});
        On(live[i], [](LGCP::Command& c) { c.select_activate().select_none(); });
    }
    Connect(live.front(), live);
    Connect(live.back(), std::vector<int>(live.begin(), live.end() - 1));
    ExpectOneAnswerEach();
    // Destroyed in an odd order, each twice, with commands on the remains.
    for (size_t i = 0; i < live.size(); i += 2) {
        EXPECT_EQ(Send(Destroy(0, live[i])), -1);
        EXPECT_EQ(Send(Destroy(0, live[i])), LGCP::ErrorCause::slotNotExists);
        EXPECT_EQ(Ioctl(live[i], ioctls[0]), LGCP::ErrorCause::slotNotExists);
        if (i + 1 < live.size()) {
            EXPECT_EQ(Connect(live[i + 1], {live[i]}), LGCP::ErrorCause::slotNotExists);
        }
    }
    // The rest goes with the controller.
    ExpectNothingLeft(descriptors, {"/dev/mcc/ctl", "/dev/mixer", "/dev/dtmf", "/dev/dsp", "/dev/rtp", "/dev/voice", "/dev/rtp_ext"});
}

// Modem slots of every kind and mode with boundary create parameters, each
// command on them, then destroyed twice while pppd ignores the hang-up, and
// the controller gone and back meanwhile: one answer each, and nothing held
// once the deferred destroys are done.
TEST_F(Hostile, ModemSlotsTakeBoundaryCreatesAndDeferredDestroys)
{
    ModemFactory::SetAuthPort(0);
    ModemFactory& modems = ModemFactory::instance();
    auto& mctl = board.Get<Standin::ModemControl>("/dev/mctl");
    auto& nets = board.Get<Standin::NetInterfaces>(Standin::kInetSocket);
    for (const char* program : {ModemSlot::kPppd, DspModemSlot::kFaxSender, DspModemSlot::kFaxReceiver})
        ModemSlot::RedirectProgram(program, STANDIN_CHILD);
    ::setenv("STANDIN_CHILD_HUP", "ignore", 1);
    ::unsetenv("STANDIN_CHILD_RECORD");
    ::unsetenv("STANDIN_CHILD_EXIT");
    Send(Query());
    ASSERT_EQ(Send(CreateMap(0, 1000, 1000)), -1);
    board.Prune();
    const auto descriptors = OpenDescriptors();

    using ModemFill = std::function<void(TERM::ModemParams&)>;
    const std::string longText(16384, 'm');
    // Every kind and mode, in value notation after the empty numbers.
    const std::vector<std::string> modes = {"", ", originate NULL", ", fax NULL", ", originate NULL, fax NULL",
                                            ", fax NULL, execargs {}", ", ddm {ddmV120}", ", ddm {}"};
    const std::vector<ModemFill> mutations = {
        [](TERM::ModemParams&) {},
        [&](TERM::ModemParams& m) {
            m.set_cid(longText);
            m.set_cdid(longText);
            auto& ddm = m.set_ddm();
            for (int i = 0; ddm.size() < 128; ++i)
                ddm.push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::NamedNumber(i % 4)));
        },
        [](TERM::ModemParams& m) { m.set_execfile(""); },
        [&](TERM::ModemParams& m) {
            m.set_execfile(STANDIN_CHILD);
            for (int i = 0; i < 128; ++i)
                m.set_execargs().push_back(ASN1::IA5String(i % 2 ? std::string(400, 'a') : std::string()));
        },
        [](TERM::ModemParams& m) {
            EXPECT_TRUE(m.set_dmp().setFromValueNotation("{{offset -2147483648, value -2147483648}, {offset -1, value -1},"
                                                         " {offset 2147483647, value -2147483648}}"));
        },
    };
    const auto ioctls = Ioctls();
    auto expire = [&] {
        Send(Query()); // answered after every command before it
        looptest::set_clock(Mux::milliseconds() + 5000);
        multiplexer.timers_schedule();
        Mux::mux_cleartimeofday();
    };

    for (size_t round = 0; round < mutations.size(); ++round) {
        std::vector<int> live;
        for (size_t mode = 0; mode < modes.size(); ++mode) {
            const int id = static_cast<int>(round * 10 + mode);
            const int made = Create(id, [&](LGCP::CreateParams& c) {
                TERM::ModemParams& m = c.select_modem();
                EXPECT_TRUE(m.setFromValueNotation("{cid \"\", cdid \"\"" + modes[mode] + "}")) << modes[mode];
                mutations[round](m);
            });
            ASSERT_EQ(made, -1) << round << "/" << mode;
            live.push_back(id);
            Connect(id, {1000});
            Connect(1000, {id});
            On(id, [](LGCP::Command& c) { c.select_activate().select_none(); });
            // A negative MTU is refused, not sent on as a huge word.
            const std::string activate = "activate : modem : {remoteAddr \"" + longText + "\", netmask \"\", gateway"
                                         " \"1.2.3.4.5\", dns \"255.255.255.255\", mtu " + (mode % 2 ? "-2147483648}" : "2147483647}");
            const int activated = On(id, [&](LGCP::Command& c) { EXPECT_TRUE(c.setFromValueNotation(activate)); });
            EXPECT_EQ(activated, mode % 2 ? LGCP::ErrorCause::invalidParams : -1);
            On(id, [](LGCP::Command& c) { c.select_userData() = std::vector<char>(8000, 'u'); });
            for (size_t i = round; i < ioctls.size(); i += round ? 7 : 1)
                Ioctl(id, ioctls[i]);
            On(id, [](LGCP::Command& c) { c.select_deactivate(); });
            On(id, [](LGCP::Command& c) { c.select_disconnect(); });
        }
        std::map<unsigned, int> expected;
        for (int id : live) {
            // Only a running child makes the destroy wait.
            const auto* slot = dynamic_cast<ModemSlot*>(Slots::instance().Find(id));
            const bool waits = slot && slot->pppd_executing();
            if (waits) {
                ASSERT_TRUE(RunUntil([&] { return IgnoresHangUp(slot->child()); })) << id;
            }
            // Sent without waiting: a deferred destroy is answered later.
            expected[Post(Destroy(0, id))] = -1;
            expected[Post(Destroy(0, id))] = waits ? LGCP::ErrorCause::destroyInProgress : LGCP::ErrorCause::slotNotExists;
        }
        if (round + 1 == mutations.size()) {
            // The controller goes while destroys wait; a new one comes and
            // asks for the resources and a slot number still held.
            ASSERT_TRUE(RunUntil([&] { return AnswerTo(expected.rbegin()->first) != -2; }));
            // Reset, so that it is known gone at once: a closed controller
            // could still read, and the 5 s kill would race the connection
            // check that finds the next one waiting.
            client.Reset();
            ASSERT_TRUE(RunUntil([&] { return !server.IsConnected(); }));
            ASSERT_TRUE(client.Connect(server.port()));
            inbox.clear();
            Send(Query());
            EXPECT_EQ(Create(live.front(), [](LGCP::CreateParams& c) { c.select_modem().set_cid(""); }), LGCP::ErrorCause::destroyInProgress);
            expire();
            EXPECT_EQ(Send(CreateMap(0, 1000, 1000)), -1);
        } else {
            expire();
            ExpectOneAnswerEach();
            for (const auto& e : expected)
                EXPECT_EQ(AnswerTo(e.first), e.second) << "round " << round << " seq " << e.first;
        }
        EXPECT_TRUE(modems.modemSlots().empty());
        board.Prune();
        for (int n = 0; n < mctl.modems(); ++n)
            EXPECT_FALSE(mctl.IsAllocated(n)) << "round " << round << " modem " << n;
        for (const char* name : {"hdlc0", "hdlc1"})
            EXPECT_FALSE(nets.Find(name)->flags & IFF_UP) << name;
        EXPECT_EQ(modems.freeInterfaces().size(), 2u) << "round " << round;
    }
    ExpectOneAnswerEach();
    ExpectNothingLeft(descriptors, {"/dev/mctl"});
    ModemSlot::RedirectProgram("", "");
    ::unsetenv("STANDIN_CHILD_HUP");
}

// Commands drawn in a fixed pseudo-random order over a few slot numbers.
TEST_F(Hostile, ShuffledCommandsOverFewSlots)
{
    const auto creates = Creates();
    const auto ioctls = Ioctls();
    unsigned seed = 12345;
    auto draw = [&seed](size_t n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<size_t>((seed >> 8) % n);
    };
    // Creates are drawn twice as often as each other command.
    const std::function<void(int, int)> commands[] = {
        [&](int a, int) { Create(a, creates[draw(creates.size())]); },
        [&](int a, int) { Create(a, creates[draw(creates.size())]); },
        [&](int a, int b) { Connect(a, {b}); },
        [&](int a, int) { On(a, [](LGCP::Command& c) { c.select_disconnect(); }); },
        [&](int a, int) { On(a, [](LGCP::Command& c) { c.select_activate().select_none(); }); },
        [&](int a, int) { On(a, [](LGCP::Command& c) { c.select_deactivate(); }); },
        [&](int a, int) { Send(Destroy(0, a)); },
        [&](int a, int) { Ioctl(a, ioctls[draw(ioctls.size())]); },
        [&](int a, int) { On(a, [](LGCP::Command& c) { c.select_userData() = std::vector<char>(600, 'd'); }); },
    };
    for (int step = 0; step < 900; ++step) {
        const int a = static_cast<int>(draw(8)), b = static_cast<int>(draw(8));
        commands[draw(9)](a, b);
    }
    ExpectOneAnswerEach();
}

// A made slot whose switch channel a map slot already holds is refused;
// what its making took is given back, and the holder keeps its channel.
TEST_F(Hostile, SlotsRefusedForAHeldChannelLeaveNothingBehind)
{
    const int mixerBase = 13 * 128, mccBase = 12 * 128;
    ASSERT_EQ(Send(CreateMap(0, 1, mixerBase + 3)), -1);
    ASSERT_EQ(Send(CreateMap(0, 2, mccBase)), -1);
    const Fill mixerIn = Avn("mixerIn : {unit 0, channel tdm : 3}");
    EXPECT_EQ(Create(3, mixerIn), LGCP::ErrorCause::insufficientResources);
    EXPECT_EQ(Create(3, mixerIn), LGCP::ErrorCause::insufficientResources);
    EXPECT_EQ(Create(4, T38("160")), LGCP::ErrorCause::insufficientResources);
    EXPECT_TRUE(RunUntil([] { return Children().empty(); }, 3000)) << Children();
    EXPECT_NE(sw.At(8192 + mixerBase + 3).mode, Standin::Switch::Mode::Disabled);
    Send(Destroy(0, 1));
    EXPECT_EQ(Create(3, mixerIn), -1);
}

// A second activation of an external slot leaves its source's feed alone.
TEST_F(Hostile, ExternalSlotActivatedTwiceKeepsItsSource)
{
    ASSERT_EQ(Send(CreateMap(0, 1, 10)), -1);
    ASSERT_EQ(Create(2, Avn("ext : {transmitter 20, receiver 21}")), -1);
    auto activate = [](LGCP::Command& c) { c.select_activate().select_none(); };
    ASSERT_EQ(On(2, activate), -1);
    ASSERT_EQ(Connect(1, {2}), -1);
    ASSERT_EQ(On(2, activate), -1);
    EXPECT_EQ(sw.At(8192 + 21).mode, Standin::Switch::Mode::Fed);
    EXPECT_EQ(sw.At(8192 + 21).input, 8192 + 10);
}

TEST_F(Hostile, RefusedControlsAndCountsAreNotPassedOffAsDone)
{
    ASSERT_EQ(Create(1, Rtp()), -1);
    ASSERT_EQ(Create(2, Avn("mixerIn : {unit 0, channel tdm : 3}")), -1);
    const int refused = LGCP::ErrorCause::invalidParams;
    // Priorities travel in four bits, T.38 sizes unsigned: past them is refused, not cut.
    EXPECT_EQ(Create(5, Lemz("16")), refused);
    ASSERT_EQ(Create(5, Lemz("15")), -1);
    EXPECT_EQ(Create(6, T38("-1")), refused);
    struct Case {
        int slot;
        IoFill fill;
        int cause;
    } cases[] = {
        {1, [](LGCP::IoctlParams& p) { p.select_translateDTMF().set_digits("12x"); }, refused},
        {2, [](LGCP::IoctlParams& p) { p.select_translateDTMF().set_digits("12x"); }, refused},
        {1, [](LGCP::IoctlParams& p) { p.select_translateDTMF().set_digits("12#"); }, -1},
        {1, [](LGCP::IoctlParams& p) { p.select_selcal() = "12-"; }, refused},
        {1, [](LGCP::IoctlParams& p) { p.select_selcal() = "12Z"; }, -1},
        {1, [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(250); }, refused},
        {1, [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-128); }, -1},
        {1, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(-1); }, refused},
        {1, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(INT_MAX); }, -1},
        {5, LemzControl("wm-flags : {" + Flags("-1") + "}"), refused},
        {5, LemzControl("wm-flags : {" + Flags("0") + "}"), -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Ioctl(c.slot, c.fill), c.cause);
}

} // namespace
