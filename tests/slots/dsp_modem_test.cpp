// DSP modems: the requests on "/dev/mctl" for each mode and each failing
// step, and the fax programs.

#include "modem_fixture.h"

#include <signal.h>

#include <cstdio>

namespace test {
namespace {

class DspModemTest : public ModemFixture {
protected:
    void SetUp() override
    {
        ModemFixture::SetUp();
        NoInterfaces();
    }
    // The board learns of closed descriptors when it looks.
    bool Allocated(int modem)
    {
        board.Prune();
        return mctl.IsAllocated(modem);
    }
    static bool IsFaxName(const std::string& name)
    {
        int h, m, sec;
        char tail[8] = {};
        return std::sscanf(name.c_str(), "/var/fax-%2d-%2d-%2d%7s", &h, &m, &sec, tail) == 4
               && std::string(tail) == ".g3" && name.size() == 20 && h < 24 && m < 60 && sec < 61;
    }
    const int ts0 = Standin::ModemControl::Timeslot(0);
};

TEST_F(DspModemTest, EachModeProgramsTheModemAndStartsItsProgram)
{
    TERM::ModemParams faxSend = Params(", fax NULL, execargs {\"send\", \"doc.g3\"}");
    // At most 60 arguments are passed: the 61st is not.
    std::vector<std::string> faxArgv{"/usr/local/sbin/fax", "-m", "0", "send", "doc.g3"};
    for (int i = 3; i <= 61; ++i) {
        faxSend.get_execargs().push_back(ASN1::IA5String(std::to_string(i)));
        if (i <= 60)
            faxArgv.push_back(std::to_string(i));
    }

    struct Case {
        const char* name;
        TERM::ModemParams params;
        std::vector<std::string> trace;
        std::vector<std::string> argv; // empty: no program
    };
    auto with = [](std::vector<std::string> more) {
        more.insert(more.begin(), {"allocate 0", "timeslot 0"});
        return more;
    };
    std::vector<Case> cases{
        {"answer, V.120 only", Params(", ddm {ddmV120}"), with({"ddm 0 0x0", "reset-dmp 0", "answer 0"}),
         {"/usr/local/sbin/pppd", "file", "/usr/local/etc/ppp/aoptions", "/dev/mdm0", "remotenumber", "5551234"}},
        {"originate",
         Params(", ddm {ddmV110, ddm8BIT, ddm7BIT}, dmp {{offset 5, value 7}, {offset -1, value 300}}, originate NULL"),
         with({"ddm 0 0x7", "reset-dmp 0", "dmp 0 5 7", "dmp 0 -1 300", "originate 0"}),
         {"/usr/local/sbin/pppd", "file", "/usr/local/etc/ppp/coptions", "/dev/mdm0", "remotenumber", "5551234"}},
        {"fax originate", Params(", originate NULL, fax NULL"), with({"reset-dmp 0", "fax-originate 0"}), {}},
        {"fax transfer", faxSend, with({"reset-dmp 0"}), faxArgv},
        {"fax receiver", Params(", fax NULL"), with({"reset-dmp 0"}), {"/usr/local/bin/fax", "-m", "0", "receive", "*"}},
    };
    Capture errors(std::cerr);
    for (auto& c : cases) {
        mctl.trace.clear();
        controller.lines.clear();
        ModemSlot* slot = Create(1, c.params);
        ASSERT_EQ(Connect(1), Answer::success) << c.name;
        EXPECT_EQ(mctl.trace, c.trace) << c.name;
        EXPECT_EQ(slot->modem_id(), 0);
        EXPECT_EQ(controller.lines, (std::vector<std::string>{"1.tx on " + std::to_string(ts0),
                                                              "1.rx on " + std::to_string(ts0)}))
            << c.name;
        if (c.argv.empty()) {
            EXPECT_FALSE(slot->pppd_executing()) << c.name;
        } else {
            std::vector<std::string> argv = Record();
            if (c.argv.back() == "*") {
                ASSERT_EQ(argv.size(), c.argv.size());
                EXPECT_TRUE(IsFaxName(argv.back())) << argv.back();
                argv.back() = "*";
            }
            EXPECT_EQ(argv, c.argv) << c.name;
            WaitChildEnd(*slot);
        }
        // The modem stays the slot's, a fax program's too, until the destroy.
        EXPECT_TRUE(Allocated(0)) << c.name;
        EXPECT_EQ(Slots::instance().Destroy(1), Answer::success) << c.name;
        EXPECT_FALSE(Allocated(0)) << c.name;
    }
    EXPECT_TRUE(controller.Aborts().size() == 4u); // every program exited 0 outside a destroy
    EXPECT_EQ(errors.count("failed"), 0u) << errors.text();
}

TEST_F(DspModemTest, FailingStepsAbortAndLeaveTheStreamsClosed)
{
    TERM::ModemParams p = Params(", ddm {ddm8BIT}, dmp {{offset 1, value 2}, {offset 3, value 4}}");
    struct Case {
        const char* name;
        bool open;
        unsigned long code;
        std::vector<std::string> trace;
    };
    std::vector<Case> cases{{"open", true, 0, {}}, {"allocate", false, 0xBB0B, {}},
                            {"time slot", false, 0xBB15, {"allocate 0"}},
                            {"digital modes", false, 0xBB16, {"allocate 0", "timeslot 0"}}};
    Create(1, p);
    for (const Case& c : cases) {
        mctl.trace.clear();
        controller.signals.clear();
        if (c.open)
            board.FailOpen("/dev/mctl", EACCES);
        else
            board.FailRequest("/dev/mctl", c.code, EBUSY);
        EXPECT_NE(Connect(1), Answer::success) << c.name;
        EXPECT_EQ(mctl.trace, c.trace) << c.name;
        EXPECT_EQ(controller.Aborts(), std::vector<int>{c.open ? EACCES : EBUSY}) << c.name;
        EXPECT_FALSE(Allocated(0)) << c.name;
        EXPECT_EQ(Slots::instance().Find(1)->GetTransmitChannel(), -1) << c.name;
    }
    {
        // Modem 0's time slot, switch channel 10048, is a map slot's.
        ASSERT_TRUE(CreateMap(kMap + 2, 1856));
        controller.signals.clear();
        Capture errors(std::cerr);
        EXPECT_EQ(Connect(1), Answer::connectFail);
        EXPECT_EQ(errors.count("01:dsp-modem: switch channel 10048 is held by slot 902:map\n"), 1u);
        EXPECT_EQ(controller.Aborts(), std::vector<int>{EBUSY});
        EXPECT_FALSE(Allocated(0));
        EXPECT_EQ(Slots::instance().Destroy(kMap + 2), Answer::success);
    }

    // The DMP reset and single settings only log; a failed answer aborts
    // after the streams were announced, and the modem is kept.
    mctl.trace.clear();
    controller.signals.clear();
    for (unsigned long request : {0xBB3A, 0xBB38, 0xBB03})
        board.FailRequest("/dev/mctl", request, EIO);
    Capture errors(std::cerr);
    EXPECT_EQ(Connect(1), Answer::success);
    EXPECT_EQ(mctl.trace, (std::vector<std::string>{"allocate 0", "timeslot 0", "ddm 0 0x2", "dmp 0 3 4"}));
    EXPECT_EQ(errors.count("reset dmp parameters failed : "), 1u);
    EXPECT_EQ(errors.count("set dmp parameter index=1 value=2 failed : "), 1u);
    EXPECT_EQ(errors.count("answer failed : "), 1u);
    EXPECT_EQ(controller.Aborts(), std::vector<int>{EIO});
    ModemSlot* slot = dynamic_cast<ModemSlot*>(Slots::instance().Find(1));
    EXPECT_FALSE(slot->pppd_executing());

    // Set up once: another connection takes no second modem.
    ASSERT_TRUE(CreateMap(kMap + 1, 1001));
    mctl.trace.clear();
    EXPECT_EQ(Slots::instance().Connect(kMap + 1, {1}), Answer::success);
    EXPECT_TRUE(mctl.trace.empty());
}

TEST_F(DspModemTest, FaxEndReportsPagesAndTheReceiverIsStoppedAtDestroy)
{
    // A transfer ending with code 3: three pages, then the abort with the status.
    ::setenv("STANDIN_CHILD_EXIT", "3", 1);
    ModemSlot* slot = Create(1, Params(", fax NULL, execargs {}"));
    ASSERT_EQ(Connect(1), Answer::success);
    Capture debug(std::clog);
    WaitChildEnd(*slot);
    EXPECT_EQ(debug.count("fax transfer failed"), 0u);
    auto modem = controller.Modem();
    ASSERT_EQ(modem.size(), 1u);
    ASSERT_TRUE(modem[0]->acct_isSelected());
    EXPECT_EQ(modem[0]->get_acct().get_octetsIn().get_low().getValue(), 3u);
    EXPECT_EQ(modem[0]->get_acct().get_octetsIn().get_high().getValue(), 0u);
    EXPECT_EQ(controller.Aborts(), std::vector<int>{768});
    ASSERT_EQ(Slots::instance().Destroy(1), Answer::success);

    // The receiver is watched: the destroy stops it and completes at its end.
    ::setenv("STANDIN_CHILD_HUP", "wait", 1);
    controller.signals.clear();
    slot = Create(2, Params(", fax NULL"));
    ASSERT_EQ(Connect(2), Answer::success);
    Record();
    ASSERT_TRUE(slot->pppd_executing());
    // The running fax keeps its modem: another slot gets the next one.
    ASSERT_TRUE(CreateMap(kMap + 1, 1001));
    ModemSlot* data = Create(3, Params());
    ASSERT_EQ(Slots::instance().Connect(3, {kMap + 1}), Answer::success);
    EXPECT_EQ(slot->modem_id(), 0);
    EXPECT_EQ(data->modem_id(), 1);
    const int pid = slot->child();
    EXPECT_EQ(Slots::instance().Destroy(2), Answer::delayed);
    ASSERT_TRUE(loop.RunUntil([&] { return !controller.lines.empty() && controller.lines.back() == "2.released"; }));
    EXPECT_NE(::kill(pid, 0), 0); // ended and reaped
    EXPECT_EQ(controller.Modem().size(), 1u); // its end is reported
    EXPECT_EQ(debug.count("fax transfer failed"), 1u); // ended by SIGHUP
    EXPECT_TRUE(controller.Aborts().empty());
    ::unsetenv("STANDIN_CHILD_HUP");
}

} // namespace
} // namespace test
