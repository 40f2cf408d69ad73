#include "link_fixture.h"

#include "protocol/acp.h"
#include "tests/framework/loop_helpers.h"
#include "tests/frozen_clock.h"

#include <functional>

namespace {

using namespace test;

// E1 and map slots on the switch, from create to destroy, numbered at both
// ends of the range.
TEST_F(LinkFixture, CreateConnectDisconnectDestroyTrunkAndMapSlots)
{
    auto e1 = Exchange(CreateE1(100, 0, 2, 5), 3);
    ExpectAnswer(e1[0], 100, 0);
    ExpectStream(e1[1], 0, true, true, 8192 + 128 + 5);
    ExpectStream(e1[2], 0, false, true, 8192 + 128 + 5);

    auto map = Exchange(CreateMap(101, 1023, 300), 3);
    ExpectAnswer(map[0], 101, 1023);
    ExpectStream(map[1], 1023, true, true, 8492);
    ExpectStream(map[2], 1023, false, true, 8492);

    auto bri = Exchange(CreateBri(102, 3, 8, 2), 3);
    ExpectAnswer(bri[0], 102, 3);
    ExpectStream(bri[1], 3, true, true, 8192 + 4 * 128 + 15);

    // Map feeds the E1 time slot.
    ExpectAnswer(Exchange(Connect(103, 1023, {0}))[0], 103, 1023);
    EXPECT_EQ(sw.Connections(), (std::map<int, int>{{8325, 8492}}));
    Slot* e1Slot = Slots::instance().Find(0);
    ASSERT_NE(e1Slot, nullptr);
    EXPECT_EQ(e1Slot->GetTrunk(), 1);
    EXPECT_EQ(e1Slot->GetTrunkTimeSlot(), 5);

    LGCP::Message disconnect = Command(104, 0);
    Body(disconnect).select_disconnect();
    ExpectAnswer(Exchange(disconnect)[0], 104, 0);
    EXPECT_TRUE(sw.Connections().empty());
    EXPECT_TRUE(sw.IsIdle(8325));

    for (int slot : {0, 1023, 3}) {
        LGCP::Message destroy = Command(105, slot);
        Body(destroy).select_destroy();
        ExpectAnswer(Exchange(destroy)[0], 105, slot);
    }
    EXPECT_EQ(Slots::instance().count(), 0u);
    ExpectQuiet();
}

TEST_F(LinkFixture, QueryPingAndCommandsNoServiceTakes)
{
    LGCP::Message query = Command(7);
    Body(query).select_query();
    auto got = Exchange(query, 2);
    ASSERT_TRUE(got[0].get_pdu().signal_isSelected());
    EXPECT_FALSE(got[0].seq_isPresent());
    EXPECT_FALSE(got[0].slot_isPresent());
    const LGCP::Signal& signal = got[0].get_pdu().get_signal();
    ASSERT_TRUE(signal.resources_isSelected());
    std::vector<int> e1, bri;
    for (const auto& n : signal.get_resources().get_e1())
        e1.push_back(n.getValue());
    for (const auto& n : signal.get_resources().get_bri())
        bri.push_back(n.getValue());
    std::sort(e1.begin(), e1.end());
    std::sort(bri.begin(), bri.end());
    EXPECT_EQ(e1, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(bri, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    ExpectAnswer(got[1], 7, -1);

    ExpectAnswer(Exchange(Ping(0xFFFFFFFFu, 1023))[0], 0xFFFFFFFFL, 1023);

    // Nothing takes the board commands yet.
    LGCP::Message trunkCfg = Command(9, 2);
    Body(trunkCfg).select_trunkCfg() = std::vector<char>{1, 2};
    ExpectAnswer(Exchange(trunkCfg)[0], 9, 2, LGCP::ErrorCause::unexpectedMsgType);

    // A command without a sequence number is answered without one.
    LGCP::Message bare;
    bare.get_pdu().select_command().select_ping();
    ExpectAnswer(Exchange(bare)[0], -1, -1);
}

TEST_F(LinkFixture, EveryErrorCause)
{
    Exchange(CreateE1(1, 10, 1, 1), 3);
    Exchange(CreateMap(2, 11, 0), 3);
    Exchange(CreateMap(3, 14, 2), 3);

    struct Case {
        LGCP::Message message;
        int slot;
        int cause;
    };
    auto command = [](unsigned seq, int slot, auto select) {
        LGCP::Message m = Command(seq, slot);
        select(Body(m));
        return m;
    };
    auto destroy = [](LGCP::Command& c) { c.select_destroy(); };
    auto deactivate = [](LGCP::Command& c) { c.select_deactivate(); };
    auto disconnect = [](LGCP::Command& c) { c.select_disconnect(); };
    std::vector<Case> cases;
    cases.push_back({CreateMap(20, 10, 5), 10, LGCP::ErrorCause::slotIdBusy});
    cases.push_back({CreateE1(21, -1, 1, 2), -1, LGCP::ErrorCause::invalidSlot});
    cases.push_back({CreateE1(22, 12, 1, 1), 12, LGCP::ErrorCause::insufficientResources});
    cases.push_back({CreateMap(23, 12, 0), 12, LGCP::ErrorCause::insufficientResources});
    // A switch channel another kind of slot holds: trunk 1 time slot 1 is
    // map channel 1, and map channel 2 is trunk 1 time slot 2.
    cases.push_back({CreateMap(40, 15, 1), 15, LGCP::ErrorCause::insufficientResources});
    cases.push_back({CreateE1(41, 15, 1, 2), 15, LGCP::ErrorCause::insufficientResources});
    cases.push_back({command(24, 12, destroy), 12, LGCP::ErrorCause::slotNotExists});
    cases.push_back({command(25, -1, destroy), -1, LGCP::ErrorCause::invalidSlot});
    cases.push_back({Connect(26, 10, {10}), 10, LGCP::ErrorCause::invalidParams});
    cases.push_back({Connect(27, 10, {11, 12}), 10, LGCP::ErrorCause::slotNotExists});
    cases.push_back({Connect(32, 11, {10, 11}), 11, LGCP::ErrorCause::invalidParams});
    cases.push_back({Connect(28, 12, {10}), 12, LGCP::ErrorCause::slotNotExists});
    cases.push_back({command(29, 10, deactivate), 10, LGCP::ErrorCause::unsupported});
    cases.push_back({command(30, 10, [](LGCP::Command& c) { c.select_userData() = std::vector<char>{'a'}; }), 10,
                     LGCP::ErrorCause::unsupported});
    cases.push_back({command(31, 13, disconnect), 13, LGCP::ErrorCause::slotNotExists});
    Capture err(std::cerr);
    for (Case& c : cases) {
        SCOPED_TRACE(c.message.get_seq().getValue());
        ExpectAnswer(Exchange(c.message)[0], c.message.get_seq().getValue(), c.slot, c.cause);
    }
    // A factory turns down a channel of its own kind itself; the table, only the others'.
    EXPECT_EQ(err.count("its switch channel is held by"), 2u) << err.text();

    // The switch refusing: the connection, the disconnection, and the
    // disconnection that a reconnection needs first.
    Exchange(CreateMap(33, 12, 3), 3);
    board.FailRequest("/dev/hal", 0x80084D10UL, EIO);
    ExpectAnswer(Exchange(Connect(34, 11, {10}))[0], 34, 11, LGCP::ErrorCause::connectFail);
    ExpectAnswer(Exchange(Connect(35, 11, {10}))[0], 35, 11);
    board.FailRequest("/dev/hal", 0x80084D11UL, EIO);
    ExpectAnswer(Exchange(Connect(36, 12, {10}))[0], 36, 12, LGCP::ErrorCause::reconnectionFail);
    EXPECT_EQ(sw.Connections(), (std::map<int, int>{{8193, 8192}}));
    board.FailRequest("/dev/hal", 0x80084D11UL, EIO);
    ExpectAnswer(Exchange(command(37, 10, disconnect))[0], 37, 10, LGCP::ErrorCause::disconnectFail);
    ExpectAnswer(Exchange(Connect(38, 12, {10}))[0], 38, 12);
    EXPECT_EQ(sw.Connections(), (std::map<int, int>{{8193, 8195}}));
    ExpectAnswer(Exchange(command(39, 12, destroy))[0], 39, 12);

    // A response or a signal from the controller.
    LGCP::Message response;
    response.set_seq(40);
    response.set_slot(10);
    response.get_pdu().select_response().select_success();
    ExpectAnswer(Exchange(response)[0], 40, 10, LGCP::ErrorCause::unexpectedMsgType);
    LGCP::Message signal;
    signal.get_pdu().select_signal().select_activated();
    ExpectAnswer(Exchange(signal)[0], -1, -1, LGCP::ErrorCause::unexpectedMsgType);

    // Octets that do not decode, logged up to 32; the link stays and is served after.
    for (size_t n : {33, 32, 0}) {
        ASSERT_TRUE(client.Send(Octets(n, '\x7f')));
        ExpectAnswer(Receive(1)[0], -1, -1, LGCP::ErrorCause::invalidParams);
    }
    std::string octets = "7F";
    for (int i = 1; i < 32; ++i)
        octets += " 7F";
    EXPECT_EQ(err.count("(33 octets): " + octets + " ...\n") + err.count("(32 octets): " + octets + "\n")
                  + err.count("]: message not decoded (0 octets): \n"), 3u) << err.text();
    EXPECT_EQ(server.undecoded(), 3u);
    EXPECT_EQ(Slots::instance().count(), 3u);
    EXPECT_TRUE(sw.Connections().empty());
    EXPECT_TRUE(sw.IsIdle(8193));
    ExpectQuiet();
}

// Commands 1 to n, framed for one write.
template <class Make>
Octets Pipelined(unsigned n, Make make)
{
    Octets frames;
    for (unsigned seq = 1; seq <= n; ++seq)
        TpktClient::Frame(Encode(make(seq)), frames);
    return frames;
}

// Thousands of commands in one write: a stop asked for meanwhile is served
// within a second though a query may take 9 ms, and each command is
// answered once and in order. A controller that closed outright with
// thousands of queries sent refuses the first answers with a reset: its
// session ends there, the rest unrun, a stop is served as soon, and the
// next controller is served.
TEST_F(LinkFixture, PipelinedCommandsLeaveTheLoopFreeAndGoWithTheController)
{
    struct Stop : CtrlSrv::Service {
        bool OnCommand(LGCP::Message const&) override
        {
            ++asked;
            multiplexer.terminate();
            return false;
        }
        unsigned asked = 0;
    } stop;
    server.Unbind(*heartbeat);
    server.Bind(stop);
    server.Bind(*heartbeat);
    const Octets pings = Pipelined(3000, [](unsigned seq) { return Ping(seq); });
    ASSERT_TRUE(client.SendRaw(pings));
    loop.RunUntil([] { return false; }, 1000);
    EXPECT_LE(server.commands(), 1000u / 9);
    server.Unbind(stop);
    auto got = Receive(3000);
    for (unsigned i = 0; i < got.size() && !HasFailure(); ++i)
        ExpectAnswer(got[i], i + 1, -1);
    ExpectQuiet();

    ASSERT_TRUE(client.SendRaw(Pipelined(10000, [](unsigned seq) {
        LGCP::Message m = Command(seq);
        Body(m).select_query();
        return m;
    })));
    client.Close();
    server.Unbind(slots); // which takes queries
    server.Bind(stop);
    server.Bind(slots);
    stop.asked = 0;
    loop.RunUntil([] { return false; }, 1000);
    server.Unbind(stop);
    EXPECT_GE(stop.asked, 1u);
    EXPECT_LE(server.commands() - 3000, 1000u / 9);
    ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
    EXPECT_LE(server.commands() - 3000, 1000u / 9);
    Reconnect();
    ExpectServing(1);
}

// A controller that ends its stream after its commands may still read: each
// is run and answered, in order and in the passes that keep the loop free,
// and then the link ends. One that closed outright has what it sent run
// until an answer meets its reset. A connection check that falls due meanwhile does
// not take the half-closed connection for a broken one.
TEST_F(LinkFixture, CommandsSentBeforeAHalfCloseAreAllAnsweredInOrder)
{
    Capture errors(std::cerr);
    for (unsigned n : {1u, 10u, 100u, 1000u}) {
        const unsigned long before = server.commands();
        ASSERT_TRUE(client.SendRaw(Pipelined(n, [](unsigned seq) { return Ping(seq); })));
        client.Shutdown();
        FrozenClock().at(1000);
        ASSERT_TRUE(loop.RunUntil([&] { return client.Closed(); })) << n;
        EXPECT_FALSE(server.IsConnected());
        EXPECT_EQ(server.commands() - before, n);
        std::vector<LGCP::Message> got;
        Octets payload;
        while (client.Take(payload))
            got.push_back(Decode(payload));
        ASSERT_EQ(got.size(), n);
        for (unsigned i = 0; i < n && !HasFailure(); ++i)
            ExpectAnswer(got[i], i + 1, -1);
        EXPECT_EQ(errors.count("link lost: STRM: connection closed by peer\n"), 1u) << errors.text();
        errors.take();
        Reconnect();
    }
    // Closed outright just after a command: that command is still run.
    const unsigned long before = server.commands();
    ASSERT_TRUE(client.Send(Encode(Ping(1))));
    client.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
    EXPECT_EQ(server.commands() - before, 1u);
}

// Calls `on` when a controller's socket has something to read.
struct Readable {
    Readable(TpktClient& c, std::function<void()> f) : on(std::move(f))
    {
        event.Bind("test::Readable", &Readable::Fire, this);
        event.Schedule(Fd(::dup(c.fd())), POLLIN);
    }
    void Fire(int, short revents)
    {
        if (revents & POLLIN)
            on();
    }
    Event event;
    std::function<void()> on;
};

// A controller that reads none of its answers goes while more are being
// written: its close is a reset, and the link ends in the write that
// meets it. The next controller, waiting with a ping, is answered without
// the loop waiting for anything else (no tick drives it here).
TEST_F(LinkFixture, AResetWhileAnswersAreWrittenLeavesTheNextControllerServed)
{
    Capture errors(std::cerr);
    const Octets pings = Pipelined(1000, [](unsigned seq) { return Ping(seq); });
    TpktClient next;
    ASSERT_TRUE(next.Connect(server.port())); // in the listener's backlog
    ASSERT_TRUE(next.Send(Encode(Ping(7))));
    ASSERT_TRUE(client.SendRaw(pings));
    // The first answers have come, the link has just read more pings.
    Readable first(client, [&] {
        first.event.Release();
        client.Close();
    });
    Readable answered(next, [] { multiplexer.terminate(); });
    looptest::Safety safety(2000);
    multiplexer.run(false, true);
    EXPECT_FALSE(safety.fired);
    EXPECT_EQ(errors.count("link lost: STRM: write failed: "), 1u) << errors.text();
    Octets payload;
    ASSERT_TRUE(next.Take(payload));
    ExpectAnswer(Decode(payload), 7, -1);
}

// A trunk status signal of another service reaches the slots on that trunk.
TEST_F(LinkFixture, TrunkStatusOfAnotherServiceReachesTheTrunkSlots)
{
    struct Board : CtrlSrv::Service {
        bool OnCommand(LGCP::Message const&) override { return false; }
        void Send(int trunk)
        {
            LGCP::Signal signal;
            ACP::TrunkStatus& status = signal.select_trunkStatus();
            status.set_trunk(trunk);
            status.get_state() = ACP::TrunkState::lossCarrier;
            SendSignal(-1, signal);
        }
    } e1Service;
    server.Bind(e1Service);
    struct Watch : Slot {
        Watch(SlotFactory& f) : Slot(f) {}
        const char* GetName() const override { return "watch"; }
        void OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber const& state) override
        {
            seen.push_back({trunk, state});
        }
        std::vector<std::pair<unsigned, int>> seen;
    };
    auto* watch = new Watch(TrunkFactory::e1(2));
    Slots::instance().Enter(50, *watch);

    e1Service.Send(2);
    e1Service.Send(1);
    auto got = Receive(2);
    ASSERT_TRUE(got[0].get_pdu().signal_isSelected());
    EXPECT_TRUE(got[0].get_pdu().get_signal().trunkStatus_isSelected());
    EXPECT_EQ(watch->seen, (std::vector<std::pair<unsigned, int>>{{2u, ACP::TrunkState::lossCarrier}}));
}

} // namespace
