#include "link_fixture.h"

#include "protocol/term.h"
#include "tests/frozen_clock.h"

#include <sys/socket.h>

namespace {

using namespace test;

// Slots made from `ext` parameters that finish their destroy only when the
// test says so.
class LateSlot : public Slot {
public:
    explicit LateSlot(int channel) : mChannel(channel) {}
    const char* GetName() const override { return "late"; }
    bool IBeforeDestroy() override { return false; }
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return mChannel; }
    int IGetReceiveChannel() override { return mChannel; }

private:
    int mChannel;
};

class LateFactory : public SlotFactory {
public:
    const char* GetName() const override { return "late"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override
    {
        // Made without naming its factory: the table records it.
        return params.ext_isSelected() ? new LateSlot(8192 + 1000 + int(params.get_ext().get_transmitter().getValue()))
                                       : nullptr;
    }
};

// Each on a switch channel of its own: 9192 and up.
LGCP::Message CreateLate(unsigned seq, int slot, int channel = 0)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::ExtParams& ext = Body(m).select_create().select_ext();
    ext.set_transmitter(channel);
    ext.set_receiver(0);
    return m;
}

LGCP::Message Destroy(unsigned seq, int slot)
{
    LGCP::Message m = Command(seq, slot);
    Body(m).select_destroy();
    return m;
}

class LifecycleTest : public LinkFixture {
protected:
    // A controller with a small window, and the daemon's end of it with a
    // small send buffer: what the controller leaves unread waits in the
    // daemon's queue.
    void ReconnectNarrow()
    {
        client.Close();
        ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
        ASSERT_TRUE(client.Connect(server.port(), 4096));
        ASSERT_TRUE(loop.RunUntil([&] { return server.IsConnected(); }));
        sockaddr_in own{};
        socklen_t len = sizeof own;
        ASSERT_EQ(::getsockname(client.fd(), reinterpret_cast<sockaddr*>(&own), &len), 0);
        for (int fd = 0; fd < 1024; ++fd) {
            sockaddr_in peer{};
            socklen_t n = sizeof peer;
            if (fd != client.fd() && ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &n) == 0
                && peer.sin_port == own.sin_port && peer.sin_addr.s_addr == own.sin_addr.s_addr) {
                int small = 4096;
                ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
                return;
            }
        }
        FAIL() << "the daemon's end of the connection is not found";
    }
    // On a narrow connection, the destroy of a slot that is answered later,
    // then pings 1 to count, a few at a time as the daemon takes them, then
    // the end of the stream.
    void OwedAndPingsThenEnd(unsigned count)
    {
        ReconnectNarrow();
        ExpectAnswer(Exchange(CreateLate(0, 20))[0], 0, 20);
        ASSERT_TRUE(client.Send(Encode(Destroy(0, 20))));
        ASSERT_TRUE(loop.RunUntil([&] { return Slots::instance().Find(20)->is_releasing(); }));
        const unsigned long before = server.commands();
        for (unsigned seq = 1; seq <= count;) {
            Octets some;
            for (unsigned n = 0; n < 256 && seq <= count; ++n)
                TpktClient::Frame(Encode(Ping(seq++)), some);
            ASSERT_TRUE(client.SendRaw(some));
            ASSERT_TRUE(loop.RunUntil([&] { return server.commands() == before + seq - 1; }));
        }
        client.Shutdown();
        loop.Settle();
    }
    // Takes the answers that have arrived, checking they come in order.
    void TakeAnswers(unsigned& got)
    {
        Octets payload;
        while (client.Take(payload))
            ExpectAnswer(Decode(payload), long(++got), -1);
    }
    // The next controller, waiting meanwhile, is served, and gets nothing
    // meant for the one before.
    void ExpectNextServed(TpktClient& next)
    {
        ASSERT_TRUE(loop.RunUntil([&] { return server.IsConnected(); }));
        ASSERT_TRUE(next.Send(Encode(Ping(1))));
        Octets payload;
        bool answered = false;
        ASSERT_TRUE(loop.RunUntil([&] { return answered = answered || next.Take(payload); }));
        ExpectAnswer(Decode(payload), 1, -1);
        loop.Settle();
        EXPECT_FALSE(next.Take(payload));
    }

    LateFactory late;
};

TEST_F(LifecycleTest, DeferredDestroyIsAnsweredLaterWithTheOriginalSequenceNumber)
{
    ExpectAnswer(Exchange(CreateLate(1, 20))[0], 1, 20);
    Exchange(CreateMap(2, 21, 7), 3);
    ExpectAnswer(Exchange(Connect(3, 21, {20}))[0], 3, 21);
    EXPECT_EQ(sw.Source(9192), 8199);

    // No answer yet, but the switch is already let go.
    EXPECT_TRUE(client.Send(Encode(Destroy(77, 20))));
    ExpectQuiet();
    Slot* slot = Slots::instance().Find(20);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->GetSlotFactory(), &late);
    EXPECT_EQ(late.slots(), std::vector<Slot*>{slot});
    EXPECT_TRUE(slot->is_releasing());
    EXPECT_TRUE(sw.Connections().empty());

    // Meanwhile the slot takes no command and its number no new slot.
    ExpectAnswer(Exchange(Destroy(78, 20))[0], 78, 20, LGCP::ErrorCause::destroyInProgress);
    ExpectAnswer(Exchange(Connect(79, 21, {20}))[0], 79, 21, LGCP::ErrorCause::destroyInProgress);
    ExpectAnswer(Exchange(CreateMap(80, 20, 9))[0], 80, 20, LGCP::ErrorCause::destroyInProgress);

    slot->on_release();
    ExpectAnswer(Receive(1)[0], 77, 20);
    EXPECT_EQ(Slots::instance().Find(20), nullptr);
    EXPECT_TRUE(late.slots().empty());
    ExpectAnswer(Exchange(CreateLate(81, 20))[0], 81, 20);
}

TEST_F(LifecycleTest, LosingTheControllerDestroysEverySlotAndVoidsLateAnswers)
{
    ExpectAnswer(Exchange(CreateLate(1, 5))[0], 1, 5);
    Exchange(CreateE1(2, 6, 4, 31), 3);
    Exchange(CreateMap(3, 7, 2047), 3);
    ExpectAnswer(Exchange(Connect(4, 7, {6, 5}))[0], 4, 7);
    EXPECT_EQ(sw.Connections().size(), 2u);
    EXPECT_TRUE(client.Send(Encode(Destroy(5, 5))));
    ExpectQuiet();

    // The next controller waits while this one is served.
    TpktClient next;
    ASSERT_TRUE(next.Connect(server.port()));
    FrozenClock().at(1000);
    loop.Settle();
    EXPECT_TRUE(server.IsConnected());

    // Gone, or only done sending and waiting for that answer: only a write
    // would tell. The connection check finds the next controller waiting
    // and ends the link.
    client.Close();
    loop.Settle();
    EXPECT_TRUE(server.IsConnected());
    FrozenClock().at(2000); // past the next check, whenever the last one ran
    EXPECT_FALSE(server.IsConnected());
    loop.Settle();
    EXPECT_TRUE(sw.Connections().empty());
    EXPECT_TRUE(sw.IsIdle(8192 + 3 * 128 + 31));
    EXPECT_EQ(Slots::instance().count(), 1u); // the late one, still releasing

    // The next controller is served; the old answer never reaches it.
    ASSERT_TRUE(loop.RunUntil([&] { return server.IsConnected(); }));
    ASSERT_TRUE(next.Send(Encode(Ping(6))));
    Octets payload;
    bool answered = false;
    ASSERT_TRUE(loop.RunUntil([&] { return answered = answered || next.Take(payload); }));
    ExpectAnswer(Decode(payload), 6, -1);
    Slot* slot = Slots::instance().Find(5);
    ASSERT_NE(slot, nullptr);
    slot->on_release();
    EXPECT_EQ(Slots::instance().count(), 0u);
    loop.Settle();
    EXPECT_FALSE(next.Take(payload));
}

// A controller that ends its stream (a one-shot script) still gets the
// answers that come later: its link stays until the last one has left, and
// a connection check meanwhile does not end it. When one never comes, the
// heartbeat's two minutes end the link and the loss is said.
TEST_F(LifecycleTest, AnswersThatComeLaterReachAControllerThatEndedItsStream)
{
    Capture errors(std::cerr);
    ExpectAnswer(Exchange(CreateLate(1, 20))[0], 1, 20);
    ExpectAnswer(Exchange(CreateLate(2, 21, 1))[0], 2, 21);
    ASSERT_TRUE(client.Send(Encode(Destroy(3, 20))));
    ASSERT_TRUE(client.Send(Encode(Ping(4))));
    ASSERT_TRUE(client.Send(Encode(Destroy(5, 21))));
    client.Shutdown();
    ExpectAnswer(Receive(1)[0], 4, -1);
    FrozenClock().at(5000);
    loop.Settle();
    EXPECT_TRUE(server.IsConnected());
    EXPECT_FALSE(client.Closed());

    Slots::instance().Find(21)->on_release();
    ExpectAnswer(Receive(1)[0], 5, 21);
    loop.Settle();
    EXPECT_TRUE(server.IsConnected()) << "one answer is still owed";
    Slots::instance().Find(20)->on_release();
    ExpectAnswer(Receive(1)[0], 3, 20);
    ASSERT_TRUE(loop.RunUntil([&] { return client.Closed(); }));
    EXPECT_FALSE(server.IsConnected());
    EXPECT_EQ(errors.count("never delivered"), 0u) << errors.text();

    Reconnect();
    CtrlSrv::Heartbeat daemons;
    server.Bind(daemons);
    ExpectAnswer(Exchange(CreateLate(6, 22))[0], 6, 22);
    ExpectAnswer(Exchange(CreateLate(7, 23, 1))[0], 7, 23);
    ASSERT_TRUE(client.Send(Encode(Destroy(8, 22))));
    ASSERT_TRUE(client.Send(Encode(Destroy(9, 23))));
    client.Shutdown();
    loop.Settle();
    {
        FrozenClock clock;
        EXPECT_FALSE(daemons.OnCommand(Destroy(9, 23))); // the last command, now
        clock.at(119999);
        EXPECT_TRUE(server.IsConnected());
        EXPECT_EQ(errors.count("never delivered"), 0u);
        clock.at(120000);
        EXPECT_FALSE(server.IsConnected());
    }
    EXPECT_EQ(errors.count("]: 0 queued messages and 2 owed answers never delivered\n"), 1u) << errors.text();
    ASSERT_TRUE(loop.RunUntil([&] { return client.Closed(); }));
    Octets payload;
    EXPECT_FALSE(client.Take(payload));
    // Released late, they answer nobody, and the next controller is served.
    Slots::instance().Find(22)->on_release();
    Slots::instance().Find(23)->on_release();
    Reconnect();
    ExpectAnswer(Exchange(Ping(10))[0], 10, -1);
    ExpectQuiet();
}

// A controller that ends its stream after many commands and reads their
// answers slowly keeps its link, though the next controller waits, until
// every answer made so far has been written; only one that comes later is
// left, and said. Then the next controller is served.
TEST_F(LifecycleTest, AControllerThatEndedItsStreamGetsEveryQueuedAnswerThoughTheNextWaits)
{
    Capture errors(std::cerr);
    enum { pings = 10000 };
    OwedAndPingsThenEnd(pings);
    TpktClient next;
    ASSERT_TRUE(next.Connect(server.port()));

    // Each pass a connection check runs, with the next controller waiting,
    // and then the controller reads what its window holds.
    unsigned got = 0;
    std::vector<unsigned> read;
    unsigned check = 0;
    for (; got < pings && check < 100; ++check) {
        FrozenClock().at(2000 + 1000 * check);
        loop.Settle(2);
        TakeAnswers(got);
        read.push_back(got);
    }
    EXPECT_EQ(got, unsigned(pings)) << errors.text();
    ASSERT_GT(read.size(), 2u);
    EXPECT_LT(read[1], unsigned(pings)) << "all read before a second check";

    FrozenClock().at(2000 + 1000 * check);
    ASSERT_TRUE(loop.RunUntil([&] { return client.Closed(); }));
    EXPECT_EQ(errors.count("]: 0 queued messages and 1 owed answer never delivered\n"), 1u) << errors.text();
    Slots::instance().Find(20)->on_release();
    ExpectNextServed(next);
}

// One that ended its stream and reads no more holds the next controller
// back until the heartbeat's two minutes end its link. The line then says
// what it never got: the answers left queued, every one the controller
// did not read whole, and the one still owed.
TEST_F(LifecycleTest, AControllerThatEndedItsStreamAndReadsNoMoreIsCutByTheHeartbeat)
{
    Capture errors(std::cerr);
    enum { pings = 10000 };
    OwedAndPingsThenEnd(pings);
    TpktClient next;
    ASSERT_TRUE(next.Connect(server.port()));
    CtrlSrv::Heartbeat daemons;
    server.Bind(daemons);
    {
        FrozenClock clock;
        EXPECT_FALSE(daemons.OnCommand(Destroy(0, 20))); // the last command, now
        for (unsigned ms = 1000; ms < 120000; ms += 1000)
            clock.at(ms);
        clock.at(119999);
        EXPECT_TRUE(server.IsConnected());
        clock.at(120000);
        EXPECT_FALSE(server.IsConnected());
    }
    const std::string line = errors.text();
    const size_t at = line.find(" queued messages and 1 owed answer never delivered\n");
    ASSERT_NE(at, std::string::npos) << line;
    const unsigned long queued = std::stoul(line.substr(line.rfind(' ', at - 1) + 1));
    unsigned got = 0;
    ASSERT_TRUE(loop.RunUntil([&] {
        TakeAnswers(got);
        return client.Closed();
    }));
    TakeAnswers(got);
    EXPECT_GT(queued, 0u);
    EXPECT_EQ(got + queued, unsigned(pings));

    Slots::instance().Find(20)->on_release();
    ExpectNextServed(next);
}

// The daemon's own period, on a clock the test moves: two minutes from the
// connection or from the last command, whatever command it was; then the
// controller is cut off, its slots go, and the next one is served.
TEST_F(LinkFixture, TwoMinutesWithoutACommandCutTheControllerOff)
{
    Exchange(CreateE1(1, 1, 1, 1), 3);
    Exchange(CreateMap(2, 2, 5), 3);
    ExpectAnswer(Exchange(Connect(3, 2, {1}))[0], 3, 2);
    EXPECT_FALSE(sw.Connections().empty());
    CtrlSrv::Heartbeat daemons;
    server.Bind(daemons);
    {
        FrozenClock clock;
        daemons.OnConnect();
        clock.at(119999);
        EXPECT_FALSE(daemons.OnCommand(CreateMap(1, 2, 3)));
        clock.at(239998);
        EXPECT_TRUE(server.IsConnected());
        clock.at(239999);
        EXPECT_FALSE(server.IsConnected());
        EXPECT_EQ(Slots::instance().count(), 0u);
        EXPECT_TRUE(sw.Connections().empty());
        EXPECT_TRUE(sw.IsIdle(8193));
    }
    ASSERT_TRUE(loop.RunUntil([&] { return client.Closed(); }));
    Reconnect();
    ExpectServing(4);
    EXPECT_TRUE(daemons.is_running());
}

// Every kind of signal leaves with the slot's number and no sequence
// number, its fields where the slot put them.
TEST_F(LifecycleTest, SlotSignalsCarryTheSlotNumberAndNoSequenceNumber)
{
    ExpectAnswer(Exchange(CreateLate(1, 33))[0], 1, 33);
    Slot* slot = Slots::instance().Find(33);
    ASSERT_NE(slot, nullptr);

    slot->OnActivated();
    slot->OnDeactivated();
    slot->OnAbort(512);
    Slot::OnAbort(slot, 0);
    Slot::OnAbort(nullptr, 1); // nothing
    slot->OnUserData({'\x00', '\xff'});
    LGCP::IoctlResponse response;
    response.select_startPlaying();
    slot->OnIoctlResponse(response);
    TERM::ModemProceeding proceeding;
    proceeding.select_auth().set_username("u");
    slot->OnModem(proceeding);
    slot->OnChangeOutputStream(true);
    slot->processRtpEvent(2, 1, 1); // not the packet detector: nothing
    slot->processRtpEvent(1, 0x80000001u, 250);

    auto got = Receive(9);
    for (auto& m : got) {
        EXPECT_FALSE(m.seq_isPresent());
        ASSERT_TRUE(m.slot_isPresent());
        EXPECT_EQ(m.get_slot().getValue(), 33u);
        ASSERT_TRUE(m.get_pdu().signal_isSelected());
    }
    EXPECT_TRUE(got[0].get_pdu().get_signal().activated_isSelected());
    EXPECT_TRUE(got[1].get_pdu().get_signal().deactivated_isSelected());
    EXPECT_EQ(SELECTED(got[2].get_pdu().get_signal(), abort).getValue(), 512);
    EXPECT_EQ(SELECTED(got[3].get_pdu().get_signal(), abort).getValue(), 0);
    EXPECT_EQ(static_cast<std::vector<char> const&>(SELECTED(got[4].get_pdu().get_signal(), userData)),
              (std::vector<char>{'\x00', '\xff'}));
    EXPECT_TRUE(SELECTED(got[5].get_pdu().get_signal(), ioctl).startPlaying_isSelected());
    const TERM::ModemProceeding& modem = SELECTED(got[6].get_pdu().get_signal(), modemProceeding);
    EXPECT_EQ(std::string(SELECTED(modem, auth).get_username()), "u");
    ExpectStream(got[7], 33, true, true, 9192);
    const LGCP::RtpPDEvent& pd = SELECTED(got[8].get_pdu().get_signal(), rtp).get_pd();
    EXPECT_EQ(static_cast<uint32_t>(pd.get_value().getValue()), 0x80000001u);
    EXPECT_EQ(pd.get_timeout().getValue(), 250);
    EXPECT_TRUE(slot->GetOutputStream());
    ExpectQuiet();
}

} // namespace
