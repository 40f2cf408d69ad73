#include "link_fixture.h"

#include "board/rtp_driver.h"
#include "protocol/acp.h"
#include "protocol/term.h"

namespace {

using namespace test;

Octets Bytes(std::initializer_list<int> values)
{
    Octets octets;
    for (int v : values)
        octets.push_back(static_cast<char>(v));
    return octets;
}

// A slot made from `ext` parameters that keeps what its hooks were given
// and answers them as told.
struct Hooks {
    std::vector<std::string> calls;
    TERM::TermActivateParams activate;
    std::vector<char> data;
    LGCP::IoctlParams ioctl;
    bool answer = true;
    int refusal = -1; // named through Answer::Refuse before a refusal
};

class HookSlot : public Slot {
public:
    HookSlot(SlotFactory& f, Hooks& hooks) : Slot(f), hooks(hooks) {}
    const char* GetName() const override { return "hook"; }
    bool IActivate(TERM::TermActivateParams const& p) override
    {
        hooks.activate = p;
        return call("activate");
    }
    bool IDeactivate() override { return call("deactivate"); }
    bool IUserData(std::vector<char> const& d) override
    {
        hooks.data = d;
        return call("userData");
    }
    bool Ioctl(LGCP::IoctlParams const& p) override
    {
        hooks.ioctl = p;
        return call("ioctl");
    }
    bool call(const char* what)
    {
        hooks.calls.push_back(what);
        if (!hooks.answer && hooks.refusal >= 0)
            Answer::Refuse(static_cast<Answer::Type>(hooks.refusal));
        return hooks.answer;
    }
    Hooks& hooks;
};

// A kind that overrides nothing but its name.
class PlainSlot : public Slot {
public:
    using Slot::Slot;
    const char* GetName() const override { return "plain"; }
};

// Makes a hook slot from `ext` {0, 0}, a plain one from any other `ext`.
class HookFactory : public SlotFactory {
public:
    explicit HookFactory(Hooks& hooks) : hooks(hooks) {}
    const char* GetName() const override { return "hook"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override
    {
        if (!params.ext_isSelected())
            return nullptr;
        if (params.get_ext().get_transmitter().getValue() != 0)
            return new PlainSlot(*this);
        return new HookSlot(*this, hooks);
    }
    Hooks& hooks;
};

// Answers `display` with the error cause its first octet names.
class Causes : public CtrlSrv::Service {
public:
    bool OnCommand(LGCP::Message const& message) override
    {
        const LGCP::Command& command = message.get_pdu().get_command();
        if (!command.display_isSelected())
            return false;
        Error(command.get_display()[0]);
        return true;
    }
};

class FieldsTest : public LinkFixture {
protected:
    LGCP::Message Simple(unsigned seq, int slot, void (*select)(LGCP::Command&))
    {
        LGCP::Message m = Command(seq, slot);
        select(Body(m));
        return m;
    }
    void CreateHook(int slot, int kind = 0)
    {
        LGCP::Message m = Command(1, slot);
        LGCP::ExtParams& ext = Body(m).select_create().select_ext();
        ext.set_transmitter(kind);
        ext.set_receiver(0);
        ExpectAnswer(Exchange(m)[0], 1, slot);
    }
    // The next message's octets as they came.
    Octets Raw()
    {
        Octets payload;
        bool got = false;
        EXPECT_TRUE(loop.RunUntil([&] { return got || (got = client.Take(payload)); }));
        return payload;
    }

    Hooks hooks;
    HookFactory factory{hooks};
};

// The largest payload of a TPKT frame is 65535 - 4 octets: a signal of
// exactly that goes out whole; one octet more is dropped with its line.
TEST_F(FieldsTest, TheLargestMessageAFrameCarriesGoesOutOneOctetMoreDoesNot)
{
    auto signalOf = [](size_t last) {
        LGCP::Signal signal;
        LGCP::HdlcPackages& packages = signal.select_ioctl().select_hdlcPackages();
        LGCP::HdlcPackage package;
        for (int i = 0; i < 3; ++i) {
            package.set_body(std::vector<char>(16384, static_cast<char>('a' + i)));
            packages.push_back(package);
        }
        package.set_body(std::vector<char>(last, 'z'));
        packages.push_back(package);
        return signal;
    };
    auto messageOf = [](LGCP::Signal const& signal) {
        LGCP::Message m;
        m.set_slot(1023);
        m.get_pdu().select_signal(signal);
        return m;
    };
    // The encoding grows octet for octet with the last body here.
    size_t probe = 16000;
    size_t last = probe + 65531 - Encode(messageOf(signalOf(probe))).size();
    LGCP::Signal largest = signalOf(last);
    Octets expected = Encode(messageOf(largest));
    ASSERT_EQ(expected.size(), 65531u);
    LGCP::Signal over = signalOf(last + 1);
    ASSERT_EQ(Encode(messageOf(over)).size(), 65532u);

    Capture err(std::cerr);
    server.SendSignal(1023, largest);
    Octets got = Raw();
    EXPECT_TRUE(got == expected) << got.size();
    LGCP::Message m = Decode(got);
    EXPECT_FALSE(m.seq_isPresent());
    EXPECT_EQ(m.get_slot().getValue(), 1023u);
    EXPECT_TRUE(SELECTED(m.get_pdu(), signal) == largest);

    server.SendSignal(1023, over);
    ExpectQuiet();
    EXPECT_EQ(err.count("]: signal of 65532 octets does not fit a frame, dropped\n"), 1u) << err.text();
    ExpectServing(1);
}

// Every cause number, and the command's sequence and slot numbers, back in
// the places of the answer: octets by hand for a few.
TEST_F(FieldsTest, AnswersCarryTheCommandsNumbersAndTheirCause)
{
    Causes causes;
    server.Bind(causes);
    auto display = [](unsigned seq, int slot, int cause) {
        LGCP::Message m = Command(seq, slot);
        Body(m).select_display() = std::vector<char>{static_cast<char>(cause)};
        return m;
    };
    ASSERT_TRUE(client.Send(Encode(display(0x01020304, 5, LGCP::ErrorCause::internal))));
    EXPECT_EQ(Raw(), Bytes({0xF0, 0x01, 0x02, 0x03, 0x04, 0x00, 0x05, 0x6A}));
    ASSERT_TRUE(client.Send(Encode(Ping(0x01020304, 5))));
    EXPECT_EQ(Raw(), Bytes({0xF0, 0x01, 0x02, 0x03, 0x04, 0x00, 0x05, 0x40}));
    // The ends of both ranges; a number left out stays out.
    ASSERT_TRUE(client.Send(Encode(Ping(0, 1023))));
    EXPECT_EQ(Raw(), Bytes({0xC0, 0x00, 0x03, 0xFF, 0x40}));
    ASSERT_TRUE(client.Send(Encode(Ping(4294967295u))));
    EXPECT_EQ(Raw(), Bytes({0xB0, 0xFF, 0xFF, 0xFF, 0xFF, 0x40}));

    for (int cause = 0; cause <= 12; ++cause) {
        SCOPED_TRACE(cause);
        ExpectAnswer(Exchange(display(1000u + static_cast<unsigned>(cause), 1023 - cause, cause))[0],
                     1000 + cause, 1023 - cause, cause);
    }
}

// What the controller puts in a slot command reaches the slot's hook as
// sent, and the hook's verdict comes back as the answer.
TEST_F(FieldsTest, SlotCommandsReachTheHooksAndTheirVerdictsComeBack)
{
    CreateHook(600);
    CreateHook(601);

    LGCP::Message activate = Command(10, 601);
    TERM::ModemUserParameters& modem = Body(activate).select_activate().select_modem();
    modem.set_remoteAddr("10.0.0.1");
    modem.set_netmask("255.255.255.0");
    modem.set_gateway("10.0.0.254");
    modem.set_dns("10.0.0.53");
    modem.set_mtu(1500);
    ExpectAnswer(Exchange(activate)[0], 10, 601);
    EXPECT_TRUE(hooks.activate == Body(activate).get_activate()) << hooks.activate;

    LGCP::Message user = Command(11, 601);
    Body(user).select_userData() = std::vector<char>{'\0', '\x7f', '\x80', '\xff'};
    ExpectAnswer(Exchange(user)[0], 11, 601);
    EXPECT_EQ(hooks.data, (std::vector<char>{'\0', '\x7f', '\x80', '\xff'}));

    LGCP::Message ioctl = Command(12, 601);
    Body(ioctl).select_ioctl().select_rx_gain().set_gainDB(-7);
    ExpectAnswer(Exchange(ioctl)[0], 12, 601);
    EXPECT_TRUE(hooks.ioctl == Body(ioctl).get_ioctl()) << hooks.ioctl;

    ExpectAnswer(Exchange(Simple(13, 601, [](LGCP::Command& c) { c.select_deactivate(); }))[0], 13, 601);
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"activate", "userData", "ioctl", "deactivate"}));

    // A refusal is `unsupported`, or the cause the hook named; the log
    // line names the slot and the cause.
    Capture err(std::cerr);
    hooks.answer = false;
    ExpectAnswer(Exchange(activate)[0], 10, 601, LGCP::ErrorCause::unsupported);
    ExpectAnswer(Exchange(user)[0], 11, 601, LGCP::ErrorCause::unsupported);
    hooks.refusal = LGCP::ErrorCause::busError;
    ExpectAnswer(Exchange(ioctl)[0], 12, 601, LGCP::ErrorCause::busError);
    ExpectAnswer(Exchange(Simple(13, 600, [](LGCP::Command& c) { c.select_deactivate(); }))[0], 13, 600,
                 LGCP::ErrorCause::busError);
    EXPECT_EQ(err.count("slots: command on 601:hook refused: unsupported\n"), 2u) << err.text();
    EXPECT_EQ(err.count("slots: command on 601:hook refused: busError\n"), 1u) << err.text();
    EXPECT_EQ(err.count("slots: command on 600:hook refused: busError\n"), 1u) << err.text();
    // A refusal named by one command is not left over for the next.
    hooks.answer = true;
    ExpectAnswer(Exchange(user)[0], 11, 601);
    hooks.answer = false;
    hooks.refusal = -1;
    ExpectAnswer(Exchange(ioctl)[0], 12, 601, LGCP::ErrorCause::unsupported);

    // A slot number with no slot names it in the line.
    ExpectAnswer(Exchange(Simple(14, 602, [](LGCP::Command& c) { c.select_deactivate(); }))[0], 14, 602,
                 LGCP::ErrorCause::slotNotExists);
    EXPECT_EQ(err.count("slots: command on 602 refused: slotNotExists\n"), 1u) << err.text();

    // Commands of the board's services: none taken here, each answered
    // with its numbers.
    std::vector<void (*)(LGCP::Command&)> others = {
        [](LGCP::Command& c) { c.select_testBpc(); },  [](LGCP::Command& c) { c.select_trunkCfg(); },
        [](LGCP::Command& c) { c.select_clockCfg(); }, [](LGCP::Command& c) { c.select_display(); },
        [](LGCP::Command& c) { c.select_protoLemz(); }};
    for (size_t i = 0; i < others.size(); ++i)
        ExpectAnswer(Exchange(Simple(20 + static_cast<unsigned>(i), 600, others[i]))[0], 20 + static_cast<long>(i),
                     600, LGCP::ErrorCause::unexpectedMsgType);
}

// A kind gets the defaults: no trunk, no channels, no streams, every
// command but destroy refused as unsupported, destroyed at once.
TEST_F(FieldsTest, AKindThatOverridesNothingGetsTheDefaults)
{
    CreateHook(7, 1);
    Slot& plain = *Slots::instance().Find(7);
    EXPECT_EQ(plain.GetTrunk(), -1);
    EXPECT_EQ(plain.GetTrunkTimeSlot(), -1);
    EXPECT_EQ(plain.GetTransmitChannel(), -1);
    EXPECT_EQ(plain.GetReceiveChannel(), -1);
    EXPECT_EQ(plain.GetSlotFactory(), &factory);

    Capture err(std::cerr);
    LGCP::Message activate = Command(2, 7);
    Body(activate).select_activate().select_none();
    ExpectAnswer(Exchange(activate)[0], 2, 7, LGCP::ErrorCause::unsupported);
    ExpectAnswer(Exchange(Simple(3, 7, [](LGCP::Command& c) { c.select_deactivate(); }))[0], 3, 7,
                 LGCP::ErrorCause::unsupported);
    ExpectAnswer(Exchange(Simple(4, 7, [](LGCP::Command& c) { c.select_userData(); }))[0], 4, 7,
                 LGCP::ErrorCause::unsupported);
    ExpectAnswer(Exchange(Simple(5, 7, [](LGCP::Command& c) { c.select_ioctl().select_dtmf_disable(); }))[0], 5, 7,
                 LGCP::ErrorCause::unsupported);

    // Neither a source nor a receiver.
    Exchange(CreateMap(6, 8, 40), 3);
    ExpectAnswer(Exchange(Connect(7, 7, {8}))[0], 7, 7, LGCP::ErrorCause::connectFail);
    ExpectAnswer(Exchange(Connect(8, 8, {7}))[0], 8, 8, LGCP::ErrorCause::connectFail);
    EXPECT_EQ(err.count("slot 07:plain don't have output stream to 08:map\n"), 1u) << err.text();
    EXPECT_EQ(err.count("slot 07:plain don't have input stream from 08:map\n"), 1u) << err.text();
    EXPECT_TRUE(sw.Connections().empty());

    ExpectAnswer(Exchange(Simple(9, 7, [](LGCP::Command& c) { c.select_destroy(); }))[0], 9, 7);
    EXPECT_EQ(Slots::instance().Find(7), nullptr);
    EXPECT_TRUE(factory.slots().empty());
}

// Each signal a slot sends leaves with the slot's number, no sequence
// number, and its own fields in their places.
TEST_F(FieldsTest, SlotSignalsCarryTheSlotNumberAndTheirFields)
{
    CreateHook(1023);
    Slot& slot = *Slots::instance().Find(1023);
    // SELECTED reads its value twice: the signal is kept here.
    LGCP::Signal last;
    auto next = [&]() -> LGCP::Signal const& {
        LGCP::Message m = Receive(1)[0];
        EXPECT_FALSE(m.seq_isPresent()) << m;
        EXPECT_EQ(m.slot_isPresent() ? static_cast<int>(m.get_slot().getValue()) : -1, 1023) << m;
        last = SELECTED(m.get_pdu(), signal);
        return last;
    };

    slot.OnAbort(512);
    EXPECT_EQ(Raw(), Bytes({0x40, 0x03, 0xFF, 0x88, 0x02, 0x02, 0x00}));
    Slot::OnAbort(&slot, -3);
    next();
    EXPECT_EQ(SELECTED(last, abort).getValue(), -3);
    Slot::OnAbort(nullptr, 1);

    slot.OnActivated();
    EXPECT_TRUE(next().activated_isSelected());
    slot.OnDeactivated();
    EXPECT_TRUE(next().deactivated_isSelected());

    slot.OnUserData({'\x01', '\x00', '\xfe'});
    next();
    const auto& data = SELECTED(last, userData);
    EXPECT_EQ(std::vector<char>(data.begin(), data.end()), (std::vector<char>{'\x01', '\x00', '\xfe'}));

    LGCP::IoctlResponse response;
    response.select_ss7BSN() = 77;
    slot.OnIoctlResponse(response);
    next();
    EXPECT_TRUE(SELECTED(last, ioctl) == response);

    TERM::RtpRadioRequest radio;
    TERM::LemzRadioStatus lemz;
    lemz.set_standby_group(201);
    radio.set_status(TERM::RadioStatus(TERM::RadioStatus::lemz_chosen, lemz));
    slot.OnRtpRadioEvent(radio);
    next();
    EXPECT_TRUE(SELECTED(last, rtpExt) == radio);

    TERM::MdmRequestUserAuth auth;
    auth.set_username("user");
    auth.set_password("secret");
    slot.OnModem(TERM::ModemProceeding(TERM::ModemProceeding::auth_chosen, auth));
    next();
    const TERM::MdmRequestUserAuth& got = SELECTED(SELECTED(last, modemProceeding), auth);
    EXPECT_EQ(std::string(got.get_username()), "user");
    EXPECT_EQ(std::string(got.get_password()), "secret");

    // Only the packet detector's event (type 1) is reported: value, then
    // time-out.
    slot.processRtpEvent(0, 1, 2);
    slot.processRtpEvent(2, 1, 2);
    rtp_event event{};
    event.type = 1;
    event.value = 300;
    event.timeout = 7;
    slot.processRtpEvent(event);
    EXPECT_EQ(Raw(), Bytes({0x40, 0x03, 0xFF, 0x92, 0x02, 0x01, 0x2C, 0x01, 0x07}));

    // The receivers' events, each as its own signal; a missing one sends
    // nothing.
    slot.processTonecEvent(Hardware::TonecReceiver::Params{3, 11, 4000000000u});
    next();
    const LGCP::TonecEvent& tonec = SELECTED(last, tonec);
    EXPECT_EQ(tonec.get_code().getValue(), 11);
    EXPECT_EQ(tonec.get_timestamp().getValue(), 4000000000u);
    slot.processToneGenEvent();
    EXPECT_TRUE(next().toneGenComplete_isSelected());
    slot.processVADEvent(Hardware::DSProcVADEvent{3, true});
    next();
    EXPECT_TRUE(SELECTED(last, vad).get_active());
    slot.processSDEvent(Hardware::DSProcSDEvent{3, 9});
    next();
    EXPECT_EQ(SELECTED(last, sd).get_code().getValue(), 9);
    slot.processBSSEvent(nullptr);
    slot.processToneFltEvent(nullptr);
    slot.processFlagsEvent(nullptr);
    dsproc_bss_event bss{};
    bss.score = 17;
    slot.processBSSEvent(&bss);
    next();
    EXPECT_EQ(SELECTED(last, bss).get_score().getValue(), 17);
    dsproc_tone_event tone{};
    tone.freq = 2100;
    tone.detected = 1;
    slot.processToneFltEvent(&tone);
    next();
    EXPECT_EQ(SELECTED(last, toneFilter).get_freq().getValue(), 2100);
    dsproc_flags_event flags{};
    flags.flags = 0x80000001u;
    slot.processFlagsEvent(&flags);
    next();
    EXPECT_EQ(SELECTED(last, dspFlags).get_flags().getValue(), 0x80000001u);
    ExpectQuiet();
}

// Switch channels are 8192 + bus * 128 + time slot, 16 buses; E1 trunk t
// (from 1) is bus t - 1 with time slots 1..31 (0 carries the framing); map
// channels are 0..2047; slot numbers 0..1023.
TEST_F(FieldsTest, ChannelsAndSlotNumbersAtTheEndsOfTheirRanges)
{
    auto e1 = Exchange(CreateE1(1, 0, 4, 31), 3);
    ExpectAnswer(e1[0], 1, 0);
    ExpectStream(e1[1], 0, true, true, 8192 + 3 * 128 + 31);
    ExpectStream(e1[2], 0, false, true, 8192 + 3 * 128 + 31);
    auto first = Exchange(CreateE1(2, 1, 1, 1), 3);
    ExpectStream(first[1], 1, true, true, 8192 + 1);
    auto map = Exchange(CreateMap(3, 2, 2047), 3);
    ExpectStream(map[1], 2, true, true, 8192 + 15 * 128 + 127);
    ExpectStream(map[2], 2, false, true, 8192 + 15 * 128 + 127);
    auto low = Exchange(CreateMap(4, 3, 0), 3);
    ExpectStream(low[1], 3, true, true, 8192);

    for (int trunk = 0; trunk < 4; ++trunk) {
        SCOPED_TRACE(trunk);
        TrunkFactory& f = TrunkFactory::e1(trunk);
        EXPECT_EQ(f.Channel(0), -1);
        EXPECT_EQ(f.Channel(1), 8192 + trunk * 128 + 1);
        EXPECT_EQ(f.Channel(31), 8192 + trunk * 128 + 31);
        EXPECT_EQ(f.Channel(32), -1);
        EXPECT_EQ(f.Make(0), nullptr);
        EXPECT_EQ(f.Make(32), nullptr);
    }
    for (int trunk = 0; trunk < 8; ++trunk) {
        TrunkFactory& f = TrunkFactory::bri(trunk);
        EXPECT_EQ(f.Channel(0), -1);
        EXPECT_NE(f.Channel(1), -1);
        EXPECT_EQ(f.Channel(2), f.Channel(1) + 1);
        EXPECT_EQ(f.Channel(3), -1);
    }
    // Factories are named by trunk, counted from 1.
    EXPECT_STREQ(TrunkFactory::e1(0).GetName(), "e1-1");
    EXPECT_STREQ(TrunkFactory::e1(3).GetName(), "e1-4");
    EXPECT_STREQ(TrunkFactory::bri(7).GetName(), "bri-8");
    EXPECT_EQ(MapFactory::instance().Make(2048), nullptr);
    EXPECT_EQ(MapFactory::instance().Make(-1), nullptr);

    Slots& slots = Slots::instance();
    EXPECT_EQ(slots.Free(-1), Answer::invalidSlot);
    EXPECT_EQ(slots.Free(0), Answer::slotIdBusy);
    EXPECT_EQ(slots.Free(1022), Answer::success);
    EXPECT_EQ(slots.Free(1023), Answer::success);
    EXPECT_EQ(slots.Free(1024), Answer::invalidSlot);
    EXPECT_EQ(slots.Find(1024), nullptr);
    Answer::Type answer = Answer::success;
    EXPECT_EQ(slots.Use(1024, answer), nullptr);
    EXPECT_EQ(answer, Answer::invalidSlot);
    EXPECT_EQ(slots.Use(1023, answer), nullptr);
    EXPECT_EQ(answer, Answer::slotNotExists);
    CreateHook(1023);
    EXPECT_NE(slots.Use(1023, answer), nullptr);
    EXPECT_EQ(answer, Answer::success);
    std::ostringstream names;
    names << *slots.Find(1023) << " " << *slots.Find(0) << " " << *slots.Find(2);
    EXPECT_EQ(names.str(), "1023:hook 00:e1 02:map");
}

// The controller goes while one slot's destroy ends another, as a pair
// sharing one resource does: each slot goes once.
TEST_F(FieldsTest, LosingTheControllerWhileOneDestroyEndsAnother)
{
    struct Pair : Slot {
        using Slot::Slot;
        const char* GetName() const override { return "pair"; }
        bool IBeforeDestroy() override
        {
            ++destroys;
            if (partner >= 0)
                Slots::instance().Destroy(partner);
            return true;
        }
        int partner = -1;
        int& destroys;
        Pair(SlotFactory& f, int& destroys) : Slot(f), destroys(destroys) {}
    };
    int destroys = 0;
    Slots::instance().Enter(30, *new Pair(factory, destroys));
    auto* second = new Pair(factory, destroys);
    second->partner = 30;
    Slots::instance().Enter(31, *second);
    client.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return Slots::instance().count() == 0; }));
    EXPECT_EQ(destroys, 2);
    Reconnect();
    ExpectServing(1);
}

// A trunk status (trunks from 0) reaches the E1 slots of that trunk only,
// with its state as sent.
TEST_F(FieldsTest, TrunkStatusReachesTheSlotsOfItsTrunkWithItsState)
{
    struct Watch : Slot {
        Watch(SlotFactory& f) : Slot(f) {}
        const char* GetName() const override { return "watch"; }
        void OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber const& state) override
        {
            seen.push_back({static_cast<int>(trunk), state});
        }
        std::vector<std::pair<int, int>> seen;
    };
    Watch* e1[4];
    for (int t = 0; t < 4; ++t) {
        e1[t] = new Watch(TrunkFactory::e1(t));
        Slots::instance().Enter(100 + t, *e1[t]);
    }
    auto* bri = new Watch(TrunkFactory::bri(0));
    Slots::instance().Enter(110, *bri);

    for (int state = 0; state <= 6; ++state) {
        LGCP::Signal signal;
        ACP::TrunkStatus& status = signal.select_trunkStatus();
        status.set_trunk(state % 5);
        status.set_state(ACP::TrunkState(static_cast<ACP::TrunkState::NamedNumber>(state)));
        server.SendSignal(-1, signal);
    }
    Receive(7);
    EXPECT_EQ(e1[0]->seen, (std::vector<std::pair<int, int>>{{0, 0}, {0, 5}}));
    EXPECT_EQ(e1[1]->seen, (std::vector<std::pair<int, int>>{{1, 1}, {1, 6}}));
    EXPECT_EQ(e1[2]->seen, (std::vector<std::pair<int, int>>{{2, 2}}));
    EXPECT_EQ(e1[3]->seen, (std::vector<std::pair<int, int>>{{3, 3}}));
    EXPECT_TRUE(bri->seen.empty());
}

} // namespace
