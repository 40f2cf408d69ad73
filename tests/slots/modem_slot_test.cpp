// The modem factory and the modem slots' common part: the choice of kind,
// the resources, the pppd command line and its stop, and the records of the
// authentication service turned into signals and back.

#include "modem_fixture.h"
#include "voice_link.h"
#include "tests/framework/loop_helpers.h"

#include <linux/if.h>
#include <signal.h>

#include <cstring>
#include <numeric>

namespace test {
namespace {

std::pair<int, int> Query(ModemFactory& factory)
{
    LGCP::Resources resources;
    factory.Query(resources);
    return {resources.get_modem().getValue(), resources.get_digital_modems().getValue()};
}

TEST_F(ModemFixture, DigitalModesChooseAFreeInterfaceAndResourcesCountWhatIsFree)
{
    nets.Set("hdlc2", IFF_LOOPBACK | IFF_POINTOPOINT, Standin::NetInterfaces::Channel(2)); // not a modem
    nets.Set("hdlc3", IFF_POINTOPOINT, Standin::NetInterfaces::Channel(3));                 // after it
    nets.Set("hdlc5", IFF_POINTOPOINT, Standin::NetInterfaces::Channel(5)); // past a gap: not scanned
    mctl.SetModems(6);
    EXPECT_EQ(Query(factory), std::make_pair(6, 3));
    EXPECT_EQ(factory.freeInterfaces(), (std::vector<std::string>{"hdlc0", "hdlc1", "hdlc3"}));

    const TERM::ModemParams digital = Params(", ddm {ddmV110}"), emptyDdm = Params(", ddm {}");
    EXPECT_STREQ(Create(1, Params())->GetName(), "dsp-modem");
    EXPECT_STREQ(Create(2, emptyDdm)->GetName(), "dsp-modem");
    auto* first = dynamic_cast<HdlcModemSlot*>(Create(3, digital));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->deviceName(), "hdlc0");
    EXPECT_EQ(dynamic_cast<HdlcModemSlot*>(Create(4, digital))->deviceName(), "hdlc1");
    EXPECT_EQ(dynamic_cast<HdlcModemSlot*>(Create(5, digital))->deviceName(), "hdlc3");
    EXPECT_STREQ(Create(6, digital)->GetName(), "dsp-modem"); // none left
    EXPECT_EQ(factory.modemSlots().size(), 6u);

    // Interfaces in use are not offered again by a query.
    EXPECT_EQ(Query(factory), std::make_pair(6, 0));
    EXPECT_EQ(Slots::instance().Destroy(4), Answer::success);
    EXPECT_EQ(factory.freeInterfaces(), (std::vector<std::string>{"hdlc1"}));
    EXPECT_EQ(Query(factory), std::make_pair(6, 1));

    // The modem control device is gone: no DSP modem.
    board.FailOpen("/dev/mctl", ENOENT);
    EXPECT_EQ(Query(factory).first, 0);

    LGCP::CreateParams other;
    other.select_map().set_channel(5);
    EXPECT_EQ(factory.INewSlot(other), nullptr);
}

TEST_F(ModemFixture, ModemWalkEndsAtARepeatedNumberAndAtItsBound)
{
    mctl.Script({0, 1, 1, 2});
    Capture errors(std::cerr);
    EXPECT_EQ(Query(factory).first, 2);
    EXPECT_EQ(errors.count("modem[2,0]: modem 1 reported twice, no more modems asked for\n"), 1u);

    std::vector<int> endless(300);
    std::iota(endless.begin(), endless.end(), 0);
    mctl.Script(endless);
    EXPECT_EQ(Query(factory).first, 256);
    EXPECT_EQ(errors.count("enum fail"), 0u);
}

struct ArgvCase {
    const char* name;
    TERM::ModemParams params;
    std::vector<std::string> argv;
};

TEST_F(ModemFixture, PppdCommandLine)
{
    TERM::ModemParams originate = Params(", originate NULL", "");
    TERM::ModemParams many = Params();
    std::vector<std::string> expected{"/usr/local/sbin/pppd"};
    for (int i = 0; i < 70; ++i) {
        many.set_execargs().push_back(ASN1::IA5String("a" + std::to_string(i)));
        if (i < 62)
            expected.push_back("a" + std::to_string(i));
    }
    TERM::ModemParams ownProgram = Params(std::string(", execfile \"") + STANDIN_CHILD + "\", execargs {\"-x\"}");
    std::vector<ArgvCase> cases{
        {"originate, empty cid", originate,
         {"/usr/local/sbin/pppd", "file", "/usr/local/etc/ppp/coptions", "/dev/mdm0"}},
        {"70 execargs", many, expected},
        {"execfile", ownProgram, {STANDIN_CHILD, "-x"}},
    };
    for (auto& c : cases) {
        ModemSlot* slot = Create(1, c.params);
        ASSERT_EQ(Connect(1), Answer::success) << c.name;
        EXPECT_EQ(Record(), c.argv) << c.name;
        WaitChildEnd(*slot);
        ASSERT_EQ(Slots::instance().Destroy(1), Answer::success) << c.name;
    }
}

TEST_F(ModemFixture, ChildGetsNullInputTheLogOutputAndNothingElse)
{
    // Descriptors the daemon holds while the child starts: the auth
    // service, a peer of it, the modem's control descriptor.
    Peer held(factory.auth().port());
    Create(1, Params());
    ASSERT_EQ(Connect(1), Answer::success);
    EXPECT_EQ(Record("fd"), (std::vector<std::string>{"0: /dev/null", "1: " + FdTarget(1), "2: " + FdTarget(2)}));
    for (const std::string& line : recordLines)
        EXPECT_NE(line.compare(0, 6, "other:"), 0) << line;
}

// A program path that is not absolute, and pppd ending outside a destroy,
// abort with the status; ended already, the destroy completes at once.
TEST_F(ModemFixture, PppdNotStartedOrEndedAbortsWithItsStatus)
{
    TERM::ModemParams relative = Params(", execfile \"pppd\"");
    ::setenv("STANDIN_CHILD_EXIT", "2", 1);
    // A program that cannot be run ends the child with status 2, as pppd's own exit 2 does.
    for (const auto& [params, status] : {std::make_pair(relative, EINVAL), std::make_pair(Params(), 512),
                                         std::make_pair(Params(", execfile \"/nonexistent/pppd\""), 512)}) {
        controller.signals.clear();
        ModemSlot* slot = Create(1, params);
        ASSERT_EQ(Connect(1), Answer::success);
        WaitChildEnd(*slot);
        EXPECT_EQ(controller.Aborts(), std::vector<int>{status});
        EXPECT_EQ(Slots::instance().Destroy(1), Answer::success);
        EXPECT_TRUE(factory.modemSlots().empty());
    }
}

TEST_F(ModemFixture, DestroyWaitsForPppdThenKillsItAfterFiveSeconds)
{
    // pppd obeys SIGHUP: the destroy completes when it has ended.
    ::setenv("STANDIN_CHILD_HUP", "wait", 1);
    ModemSlot* slot = Create(1, Params());
    ASSERT_EQ(Connect(1), Answer::success);
    Record();
    EXPECT_EQ(Slots::instance().Destroy(1), Answer::delayed);
    ASSERT_TRUE(loop.RunUntil([&] { return !controller.lines.empty() && controller.lines.back() == "1.released"; }));
    EXPECT_TRUE(controller.Aborts().empty());

    // pppd ignores SIGHUP: SIGKILL after 5000 ms, then the answer.
    ::setenv("STANDIN_CHILD_HUP", "ignore", 1);
    slot = Create(2, Params());
    ASSERT_EQ(Connect(2), Answer::success);
    Record();
    const int pid = slot->child();
    Capture errors(std::cerr);
    const uint32_t start = Mux::milliseconds();
    looptest::set_clock(start);
    EXPECT_EQ(Slots::instance().Destroy(2), Answer::delayed);
    EXPECT_EQ(errors.count("sent HUP to pppd."), 1u);
    looptest::set_clock(start + 4999); // SIGKILL comes 5 s after the HUP
    multiplexer.timers_schedule();
    EXPECT_EQ(Slots::instance().Find(2), slot);
    EXPECT_EQ(::kill(pid, 0), 0); // alive despite the HUP
    looptest::set_clock(start + 5000);
    multiplexer.timers_schedule();
    EXPECT_EQ(Slots::instance().Find(2), nullptr);
    EXPECT_EQ(controller.lines.back(), "2.released");
    EXPECT_EQ(errors.count("pppd terminate timeout!"), 1u);
    EXPECT_EQ(errors.count("pppd isn't terminated, killing ..."), 1u);
    Mux::mux_cleartimeofday();
    EXPECT_TRUE(loop.RunUntil([&] { return ::kill(pid, 0) != 0; }));
}

// Two DSP modems (0 and 1) and a digital modem, each with pppd running.
class ModemAuthFixture : public ModemFixture {
protected:
    void SetUp() override
    {
        ModemFixture::SetUp();
        ::setenv("STANDIN_CHILD_HUP", "wait", 1);
        dsp0 = Create(1, Params());
        dsp1 = Create(2, Params());
        hdlc = Create(3, Params(", ddm {ddm8BIT}"));
        for (int id : {1, 2, 3})
            ASSERT_EQ(Connect(id), Answer::success);
        ASSERT_TRUE(loop.RunUntil([&] { return hdlc->pppd_executing(); }));
        controller.signals.clear();
        controller.ids.clear();
    }
    void TearDown() override
    {
        ::unsetenv("STANDIN_CHILD_HUP");
        ModemFixture::TearDown();
    }
    std::unique_ptr<Peer> Join() { return test::Join(factory.auth(), loop); }
    bool Signals(size_t n) { return loop.RunUntil([&] { return controller.signals.size() >= n; }); }
    ModemSlot* dsp0 = nullptr;
    ModemSlot* dsp1 = nullptr;
    ModemSlot* hdlc = nullptr;
};

TEST_F(ModemAuthFixture, RecordsReachTheirSlotAsSignals)
{
    Capture errors(std::cerr);
    auto peer1 = Join();
    auto peerDigital = Join();
    ASSERT_EQ(dsp1->modem_id(), 1);
    ASSERT_TRUE(peer1->Send(AuthRequest(1, "alice", "s\xE9same")));
    std::vector<uint8_t> acct = RawRecord(64, 4, 1);
    uint32_t words[] = {1, 2, 3, 4, 5, 6, 7, 8, 900};
    std::memcpy(acct.data() + 24, words, sizeof words);
    ASSERT_TRUE(peer1->Send(acct));
    ASSERT_TRUE(peerDigital->Send(AuthRequest(0xFFFFFFFF, "bob", std::string(64, 'p'))));
    ASSERT_TRUE(Signals(3));
    EXPECT_EQ(controller.ids, (std::vector<int>{2, 2, 3}));
    const auto modem = controller.Modem();
    ASSERT_EQ(modem.size(), 3u);
    ASSERT_TRUE(modem[0]->auth_isSelected());
    EXPECT_EQ(std::string(modem[0]->get_auth().get_username()), "alice");
    EXPECT_EQ(std::string(modem[0]->get_auth().get_password()), "s?same");
    EXPECT_EQ(errors.count("octets outside IA5"), 1u);
    ASSERT_TRUE(modem[1]->acct_isSelected());
    TERM::MdmAccounting expected;
    ASSERT_TRUE(expected.setFromValueNotation("{octetsOut {low 2, high 1}, octetsIn {low 4, high 3}, packetsOut {low 6,"
                                              " high 5}, packetsIn {low 8, high 7}, time {low 900, high 0}}"));
    EXPECT_EQ(modem[1]->get_acct().asValueNotation(), expected.asValueNotation());
    EXPECT_EQ(std::string(modem[2]->get_auth().get_password()), std::string(64, 'p'));

    // Wrong sizes, peer-bound types, unknown types and sessions: one line
    // each while the connection's few lines last, then only counted.
    auto other = Join();
    const std::vector<uint8_t> bad[] = {RawRecord(512, 1, 1), RawRecord(16, 2, 1), RawRecord(36, 3, 1),
                                        RawRecord(60, 4, 1),  RawRecord(65, 4, 1), RawRecord(12, 9, 1)};
    for (size_t i = 0; i < 9; ++i) // the last three alike
        ASSERT_TRUE((i < 3 ? peer1 : other)->Send(i < 6 ? bad[i] : AuthRequest(7, "x", "y")));
    other->Close();
    ASSERT_TRUE(peer1->Send(acct));
    ASSERT_TRUE(Signals(4));
    ASSERT_TRUE(loop.RunUntil([&] { return errors.count("2 more faults not logged") == 1; }));
    for (const char* line : {"auth request, invalid size: 512", "auth accept, ignored.", "auth ip, ignored.",
                             "auth accounting, invalid size: 60", "auth accounting, invalid size: 65",
                             "unknown request from portslave: 0x9", "unknown session 7\n"})
        EXPECT_EQ(errors.count(line), 1u) << line;
}

TEST_F(ModemAuthFixture, ActivateAnswersTheConnectionThatSpokeForTheSlot)
{
    auto peer0 = Join();
    auto peer1 = Join();
    ASSERT_TRUE(peer0->Send(AuthRequest(0, "a", "b")));
    ASSERT_TRUE(peer1->Send(AuthRequest(1, "c", "d")));
    ASSERT_TRUE(Signals(2));

    TERM::TermActivateParams activate = UserParams("10.0.0.2", "255.255.255.0", "not an address", "10.0.0.53", 1500);
    TERM::ModemUserParameters& user = activate.get_modem();
    EXPECT_EQ(Slots::instance().Activate(2, activate), Answer::success);
    loop.Settle();
    EXPECT_EQ(peer1->Take(), Answers(1, {10, 0, 0, 2, 255, 255, 255, 0, 255, 255, 255, 255, 10, 0, 0, 53}, 1500));
    EXPECT_TRUE(peer0->Take().empty());
    // The MTU travels unsigned: a negative one is refused and nothing is sent.
    user.set_mtu(-1);
    EXPECT_EQ(Slots::instance().Activate(2, activate), Answer::invalidParams);
    loop.Settle();
    EXPECT_TRUE(peer1->Take().empty());
    user.set_mtu(1500);

    // No connection for the slot: logged, still success; no modem alternative: unsupported.
    Capture debug(std::clog);
    EXPECT_EQ(Slots::instance().Activate(3, activate), Answer::success);
    EXPECT_EQ(debug.count("send error: unknown auth -1 session."), 2u);
    TERM::TermActivateParams none;
    none.select_none();
    EXPECT_EQ(Slots::instance().Activate(2, none), Answer::unsupported);
}

TEST_F(ModemAuthFixture, DigitalSessionGoesOnlyWhereItIsUnambiguous)
{
    ModemSlot* second = Create(4, Params(", ddm {ddm8BIT}"));
    ASSERT_EQ(Connect(4), Answer::success);
    ASSERT_TRUE(loop.RunUntil([&] { return second->pppd_executing(); }));

    // Two digital modems run pppd: nobody can tell which one speaks.
    Capture errors(std::cerr);
    auto first = Join();
    ASSERT_TRUE(first->Send(AuthRequest(0xFFFFFFFF, "u", "p")));
    ASSERT_TRUE(loop.RunUntil([&] { return errors.count("unknown session 4294967295") == 1; }));
    EXPECT_TRUE(controller.signals.empty());

    // One ends: the other is the only candidate, and keeps its connection.
    ASSERT_EQ(Slots::instance().Destroy(4), Answer::delayed);
    ASSERT_TRUE(loop.RunUntil([&] { return Slots::instance().Find(4) == nullptr; }));
    ASSERT_TRUE(first->Send(AuthRequest(0xFFFFFFFF, "u", "p")));
    ASSERT_TRUE(Signals(1));
    EXPECT_EQ(controller.ids, std::vector<int>{3});
    // A DSP modem not yet set up (modem_id -1) never takes digital records.
    Create(5, Params());
    auto other = Join();
    ASSERT_TRUE(other->Send(AuthRequest(0xFFFFFFFF, "v", "q")));
    ASSERT_TRUE(loop.RunUntil([&] { return errors.count("unknown session 4294967295") == 2; }));
    EXPECT_EQ(controller.signals.size(), 1u);
}

} // namespace
} // namespace test
