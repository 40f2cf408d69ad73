#include "voice_link.h"

#include "framework/child_wait.h"
#include "slots/t38_slot.h"
#include "tests/frozen_clock.h"
#include "tests/framework/loop_helpers.h"

#include <sys/resource.h>
#include <cstdlib>

namespace {

using namespace test;

LGCP::Message T38(unsigned seq, int slot, std::string const& remote, std::vector<std::string> const& args,
                  std::vector<int> sizes = {160, 3, 4})
{
    LGCP::Message m = Command(seq, slot);
    LGCP::T38Soft& t38 = Body(m).select_create().select_t38soft();
    t38.set_dhost(Address(remote, 900));
    t38.set_shost(Address("10.0.0.1", 902));
    t38.set_rx_packet_size(sizes[0]);
    t38.set_rx_threshold(sizes[1]);
    t38.set_tx_threshold(sizes[2]);
    for (const auto& arg : args)
        t38.get_args().push_back(ASN1::IA5String(arg));
    return m;
}

class T38Test : public SlotLink {
protected:
    void SetUp() override
    {
        SlotLink::SetUp();
        T38SoftFactory::instance();
        T38SoftFactory::set_program_for_test(T38_STANDIN);
        ChildWait::Activate();
        ::setenv("T38_STANDIN_DIR", dir.c_str(), 1);
        ::unsetenv("T38_STANDIN_EXIT");
        ::unsetenv("T38_STANDIN_COUNT");
        ::unsetenv("T38_STANDIN_LINGER");
        ::unsetenv("T38_STANDIN_TERM");
    }
    void TearDown() override
    {
        T38SoftFactory::set_program_for_test(T38SoftFactory::kProgram);
        SlotLink::TearDown();
        // A program left running would hold the test's output open.
        for (int pid : started)
            if (Running(pid) && read_file("/proc/" + std::to_string(pid) + "/cmdline").rfind(T38SoftFactory::kProgram, 0) == 0) {
                ADD_FAILURE() << "t38 program " << pid << " left running";
                ::kill(pid, SIGKILL);
            }
    }

    // The child on the time slot says hello on its channel: its pid.
    int ChildOn(int timeslot)
    {
        std::string hello;
        RunUntil([&] {
            for (const auto& frame : mcc.Written(timeslot))
                hello.assign(frame.begin(), frame.end());
            return !hello.empty();
        });
        EXPECT_EQ(hello.compare(0, 4, "t38 "), 0) << hello;
        return hello.size() > 4 ? std::atoi(hello.c_str() + 4) : -1;
    }
    // What the child recorded: its arguments and descriptors 1 to 3.
    std::vector<std::string> Record(int pid)
    {
        const std::string path = dir + "/" + std::to_string(pid);
        RunUntil([&] { return ::access(path.c_str(), F_OK) == 0; });
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    bool NoChildren() { return RunUntil([] { return Children().empty(); }); }
    // A slot's program, started and saying hello.
    int Start(int slot)
    {
        started.push_back(ChildOn(StreamChannel(Create(T38(slot, slot, "10.0.0.7", {}), 2)[1])));
        return started.back();
    }
    // Fires what falls due at `ms`; the clock then runs on from now.
    static void At(uint64_t ms)
    {
        looptest::set_clock(ms);
        multiplexer.timers_schedule();
        Mux::mux_cleartimeofday();
    }
    static std::string Killed(int pid, const char* when)
    {
        return "t38soft: t38 daemon[" + std::to_string(pid) + "] killed: still running " + when + "\n";
    }
    static std::string Reaped(int pid, int status)
    {
        return "terminate child process, pid=" + std::to_string(pid) + " status=" + std::to_string(status) + "\n";
    }
    std::vector<int> started;
};

TEST_F(T38Test, ChildGetsTheExactArgumentsAndTheChannelAsInput)
{
    const auto fds = OpenDescriptors();
    auto got = Create(T38(1, 2, "10.0.0.7", {"-v"}), 2);
    const int ts = StreamChannel(got[1]);
    ExpectStream(got[1], 2, true, true, ts);
    ExpectStream(got[2], 2, false, true, ts);
    EXPECT_EQ(Allocation(ts), (std::vector<uint32_t>{2, 160, 0, 3, 4}));
    EXPECT_EQ(Record(ChildOn(ts)),
              (std::vector<std::string>{"arg /usr/local/sbin/t38", "arg --child", "arg --remote", "arg 10.0.0.7/900/902",
                                        "arg -v", "fd1 " + FdTarget(1), "fd2 " + FdTarget(2), "fd3 -"}));

    // Sizes reach the driver as given, 0 too; any one of them negative is refused.
    got = Create(T38(5, 4, "10.0.0.7", {}, {1, 0, 0}), 2);
    EXPECT_EQ(Allocation(StreamChannel(got[1])), (std::vector<uint32_t>{2, 1, 0, 0, 0}));
    Capture errors(std::cerr);
    ExpectAnswer(Exchange(T38(6, 5, "10.0.0.7", {}, {0, 0, 0}))[0], 6, 5, LGCP::ErrorCause::insufficientResources);
    EXPECT_EQ(errors.count("MCC_ALLOCATE [22]"), 1u);
    for (std::vector<int> bad : {std::vector<int>{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}})
        ExpectAnswer(Exchange(T38(6, 5, "10.0.0.7", {}, bad))[0], 6, 5, LGCP::ErrorCause::invalidParams);

    // 40 args: the vector ends at 31 strings.
    std::vector<std::string> args;
    for (int i = 0; i < 40; ++i)
        args.push_back("a" + std::to_string(i));
    got = Create(T38(2, 3, "10.0.0.7", args), 2);
    auto lines = Record(ChildOn(StreamChannel(got[1])));
    ASSERT_EQ(lines.size(), 31u + 3);
    EXPECT_EQ(lines[4], "arg a0");
    EXPECT_EQ(lines[30], "arg a26");

    // Destroy ends the children with SIGTERM; no abort follows, nothing is held.
    for (int slot : {2, 3, 4})
        ExpectAnswer(Exchange(Destroy(slot + 10, slot))[0], slot + 10, slot);
    EXPECT_TRUE(NoChildren());
    ExpectQuiet();
    EXPECT_TRUE(inbox.empty());
    board.Prune();
    EXPECT_TRUE(mcc.Timeslots().empty());
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(T38Test, ChildEndBecomesAbortWithTheWaitStatus)
{
    struct Case {
        const char* exit;
        bool missing;
        int cause;
        const char* line;
    } cases[] = {
        {"2", false, 512, "02:t38 soft: t38 daemon terminated with code=2\n"},
        {"-9", false, 9, "02:t38 soft: t38 daemon terminated by signal=9\n"},
        {"0", true, 237 << 8, "02:t38 soft: t38 daemon terminated with code=237\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ::setenv("T38_STANDIN_EXIT", c.exit, 1);
        if (c.missing)
            T38SoftFactory::set_program_for_test("/nonexistent/t38");
        inbox.clear();
        Capture debug(std::clog);
        Create(T38(1, 2, "10.0.0.7", {}), 2);
        ASSERT_TRUE(RunUntil([&] { return Aborts(2, c.cause) > 0; }));
        EXPECT_EQ(debug.count(c.line), 1u) << debug.text();
        ExpectAnswer(Exchange(Destroy(2, 2))[0], 2, 2);
        ExpectQuiet();
        EXPECT_EQ(inbox.size(), 1u);
        T38SoftFactory::set_program_for_test(T38_STANDIN);
    }
    EXPECT_TRUE(NoChildren());
}

// The channel goes back with the program: the ended slot holds neither it
// nor a switch connection on it, so another slot may take it.
TEST_F(T38Test, EndedSlotGivesUpItsChannelAndItsConnections)
{
    const int ts = StreamChannel(Create(T38(1, 2, "10.0.0.7", {}), 2)[1]);
    ExpectAnswer(Exchange(CreateMap(2, 3, 1000), 3)[0], 2, 3);
    ExpectAnswer(Exchange(Connect(3, 3, {2}))[0], 3, 3);
    ASSERT_EQ(sw.Source(ts), 8192 + 1000);
    // A source too: the map hears the channel.
    ExpectAnswer(Exchange(Connect(5, 2, {3}))[0], 5, 2);
    EXPECT_EQ(sw.Source(8192 + 1000), ts);
    ASSERT_EQ(::kill(ChildOn(ts), SIGKILL), 0);
    ASSERT_TRUE(RunUntil([&] { return Aborts(2, SIGKILL) > 0; }));
    EXPECT_EQ(sw.Source(ts), -1);
    ExpectAnswer(Exchange(CreateMap(4, 4, ts - 8192))[0], 4, 4);
}

// A program that ignores SIGTERM, as a hung one does: its destroy is still
// answered at once, and it is killed 5 s after its SIGTERM, whether a
// destroy or a controller reset sent it; at exit at once.
TEST_F(T38Test, ProgramIgnoringSigtermIsKilledFiveSecondsLaterAndAtExit)
{
    ::setenv("T38_STANDIN_TERM", "ignore", 1);
    Capture errors(std::cerr), debug(std::clog);
    int pid = Start(2);
    {
        FrozenClock clock;
        EXPECT_EQ(Slots::instance().Destroy(2), Answer::success);
        clock.at(4999);
        EXPECT_TRUE(Running(pid));
        EXPECT_EQ(errors.count("killed"), 0u);
        clock.at(5000);
        EXPECT_EQ(errors.count(Killed(pid, "5000 ms after SIGTERM")), 1u) << errors.text();
    }
    EXPECT_TRUE(RunUntil([&] { return debug.count(Reaped(pid, SIGKILL)) == 1; }));
    EXPECT_EQ(Aborts(2, SIGKILL), 0u); // the slot was gone

    // A reset sends the SIGTERM somewhere in [before, after].
    pid = Start(5);
    const uint32_t before = Mux::milliseconds();
    client.Reset();
    ASSERT_TRUE(RunUntil([&] { return Slots::instance().count() == 0; }));
    const uint32_t after = Mux::milliseconds();
    At(before + 4999);
    EXPECT_TRUE(Running(pid));
    At(after + 5000);
    EXPECT_TRUE(RunUntil([&] { return debug.count(Reaped(pid, SIGKILL)) == 1; }));

    // Exit: a slot still there and one whose destroy was answered at once.
    Reconnect();
    const int live = Start(6), ending = Start(7);
    ExpectAnswer(Exchange(Destroy(8, 7))[0], 8, 7);
    EXPECT_TRUE(Running(ending));
    Slots::instance().Clear();
    EXPECT_EQ(errors.count(Killed(live, "at exit")) + errors.count(Killed(ending, "at exit")), 2u) << errors.text();
    EXPECT_TRUE(RunUntil([&] { return debug.count(Reaped(live, SIGKILL)) + debug.count(Reaped(ending, SIGKILL)) == 2; }));

    // A program that obeys is seen out quietly, and its pid is not signalled again.
    ::unsetenv("T38_STANDIN_TERM");
    pid = Start(9);
    ExpectAnswer(Exchange(Destroy(10, 9))[0], 10, 9);
    EXPECT_TRUE(RunUntil([&] { return debug.count(Reaped(pid, SIGTERM)) == 1; }));
    At(Mux::milliseconds() + 5000);
    Slots::instance().Clear();
    EXPECT_EQ(errors.count("killed"), 4u) << errors.text();
}

TEST_F(T38Test, InstanceCountIsTheProgramsNumberOrZero)
{
    struct Case {
        const char* count; // null: prints nothing
        bool missing;
        int expected;
        const char* line;
    } cases[] = {
        {"8", false, 8, ""},
        {"120", false, 120, ""},
        {nullptr, false, 0, "t38soft: t38: can't detect T38 resources"},
        {"8x", false, 0, "t38soft: t38: not a count: \"8x\""},
        {"-1", false, 0, "not a count"},
        {"1234567890123456789012345678901234567890", false, 0, "not a count: \"1234567890123456789012345678901\"\n"},
        {"hang", false, 0, "t38soft: t38: no answer within 200 ms"},
        {"8", true, 0, "t38soft: t38 daemon not found!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        if (c.count)
            ::setenv("T38_STANDIN_COUNT", c.count, 1);
        else
            ::unsetenv("T38_STANDIN_COUNT");
        // Short only where the time-out is the point: a loaded machine starts programs slowly.
        const bool hang = c.count && std::string(c.count) == "hang";
        T38SoftFactory::set_program_for_test(c.missing ? "/nonexistent/t38" : T38_STANDIN, hang ? 200 : 20000);
        Capture debug(std::clog), errors(std::cerr);
        EXPECT_EQ(T38SoftFactory::instance().QueryNumOfInstances(), c.expected);
        if (*c.line)
            EXPECT_EQ(debug.count(c.line) + errors.count(c.line), 1u) << debug.text() << errors.text();
        else
            EXPECT_EQ(errors.text(), "");
        EXPECT_TRUE(Children().empty());
    }

    // A program that answers and stays is ended at the deadline; its count holds.
    ::setenv("T38_STANDIN_COUNT", "8", 1);
    ::setenv("T38_STANDIN_LINGER", "1", 1);
    T38SoftFactory::set_program_for_test(T38_STANDIN, 200);
    EXPECT_EQ(T38SoftFactory::instance().QueryNumOfInstances(), 8);
    EXPECT_TRUE(Children().empty());
    ::unsetenv("T38_STANDIN_LINGER");

    // No descriptor left for the pipe: no program, 0.
    rlimit fds, none;
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &fds), 0);
    none = {static_cast<rlim_t>(::dup(0)), fds.rlim_max};
    ::close(static_cast<int>(none.rlim_cur));
    Capture debug(std::clog);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    EXPECT_EQ(T38SoftFactory::instance().QueryNumOfInstances(), 0);
    ::setrlimit(RLIMIT_NOFILE, &fds);
    EXPECT_EQ(debug.count("t38 daemon not found!"), 1u);

    // Through the link: the resource query reports it.
    T38SoftFactory::set_program_for_test(T38_STANDIN);
    LGCP::Message query = Command(7);
    Body(query).select_query();
    auto got = Exchange(query, 2);
    ASSERT_TRUE(got[0].get_pdu().signal_isSelected() && got[0].get_pdu().get_signal().resources_isSelected());
    EXPECT_EQ(got[0].get_pdu().get_signal().get_resources().get_t38_instances().getValue(), 8);
}

// The remote text goes onto the child's command line: only a dotted IPv4
// address is taken, and a refused one is the controller's mistake that costs
// no channel and no child.
TEST_F(T38Test, RemoteThatIsNoDottedAddressFailsTheCreate)
{
    for (std::string remote : std::vector<std::string>{"", "999.0.0.1", "10.0.0.7 ", "10.0.0.7/1", "host.example", std::string(5000, '1'),
                               std::string("10.0.0.7\0x", 10), "10.0.0.7\nt38soft: forged"}) {
        Capture errors(std::cerr);
        ExpectAnswer(Exchange(T38(1, 2, remote, {}))[0], 1, 2, LGCP::ErrorCause::invalidParams);
        EXPECT_EQ(errors.count("remote address is not dotted IPv4"), 1u);
        EXPECT_EQ(errors.count("\nt38soft: forged"), 0u) << errors.text();
    }
    EXPECT_TRUE(mcc.Timeslots().empty());
    EXPECT_TRUE(Children().empty());

    // Arguments reach the child as given and the log escaped.
    Capture debug(std::clog);
    Create(T38(2, 3, "10.0.0.7", {"-v\nt38soft: forged", std::string("a\0b", 3)}), 2);
    EXPECT_EQ(debug.count("t38soft: arg[0]=/usr/local/sbin/t38\nt38soft: arg[1]=--child\nt38soft: arg[2]=--remote\n"
                          "t38soft: arg[3]=10.0.0.7/900/902\nt38soft: arg[4]=-v\\nt38soft: forged\n"), 1u);
    EXPECT_EQ(debug.count("arg[5]=a\\x00b\n"), 1u);
    EXPECT_EQ(debug.count("\nt38soft: forged"), 0u);
    ExpectAnswer(Exchange(Destroy(3, 3))[0], 3, 3);
}

} // namespace
