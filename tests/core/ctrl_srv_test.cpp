#include "link_fixture.h"
#include "tests/frozen_clock.h"

namespace {

using namespace test;

// Takes `display` commands and answers them as told by the first octet:
// 0 success, 1 twice, 2 not at all, 3 an error that cannot be encoded,
// 4 later (keeps a token), 5 a signal before success.
class Display : public CtrlSrv::Service {
public:
    bool OnCommand(LGCP::Message const& message) override
    {
        const LGCP::Command& command = message.get_pdu().get_command();
        if (!command.display_isSelected())
            return false;
        switch (command.get_display().empty() ? 0 : command.get_display()[0]) {
        case 0:
            Success();
            break;
        case 1:
            Success();
            Error(LGCP::ErrorCause::internal);
            break;
        case 2:
            break;
        case 3:
            Error(99);
            break;
        case 4:
            token = Delay();
            break;
        case 5: {
            LGCP::Signal signal;
            signal.select_abort() = 512;
            SendSignal(9, signal);
            Success();
            break;
        }
        }
        return true;
    }
    void OnSignal(int slot, LGCP::Signal const&) override { signalled.push_back(slot); }
    void Later() { Success(token); }
    void Outside() { Success(); }

    CtrlSrv::Token token;
    std::vector<int> signalled;
};

class Watcher : public CtrlSrv::Service {
public:
    bool OnCommand(LGCP::Message const&) override { return false; }
    void OnSignal(int slot, LGCP::Signal const&) override { signalled.push_back(slot); }
    std::vector<int> signalled;
};

class ServerTest : public LinkFixture {
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        server.Bind(display);
        server.Bind(watcher);
    }
    LGCP::Message Show(unsigned seq, char how)
    {
        LGCP::Message m = Command(seq, 3);
        Body(m).select_display() = std::vector<char>{how};
        return m;
    }
    Display display;
    Watcher watcher;
};

TEST_F(ServerTest, EachCommandGetsExactlyOneAnswerAtOnceOrLater)
{
    Capture err(std::cerr);
    display.Outside(); // before any command, too
    ExpectAnswer(Exchange(Show(1, 0))[0], 1, 3);
    // A second answer is dropped.
    ExpectAnswer(Exchange(Show(2, 1))[0], 2, 3);
    ExpectQuiet();
    // Taken and left unanswered; an answer once the offer is over goes nowhere.
    ExpectAnswer(Exchange(Show(3, 2))[0], 3, 3, LGCP::ErrorCause::internal);
    display.Outside();
    // An answer that cannot be encoded is never sent half; `internal` is.
    ExpectAnswer(Exchange(Show(4, 3))[0], 4, 3, LGCP::ErrorCause::internal);
    ExpectQuiet();
    EXPECT_EQ(err.count("answer without a command to answer, dropped"), 3u) << err.text();
    EXPECT_EQ(server.commands(), 4u);

    // A delayed answer keeps its command, and dies with the connection.
    EXPECT_TRUE(client.Send(Encode(Show(41, 4))));
    ExpectQuiet();
    ASSERT_TRUE(display.token.valid());
    ExpectAnswer(Exchange(Show(42, 0))[0], 42, 3); // others go on meanwhile
    display.Later();
    ExpectAnswer(Receive(1)[0], 41, 3);

    EXPECT_TRUE(client.Send(Encode(Show(43, 4))));
    ExpectQuiet();
    // Closed with an answer owed: once the end is read the link waits for
    // it until a connection check finds the next controller waiting.
    client.Close();
    loop.Settle();
    EXPECT_TRUE(server.IsConnected());
    ASSERT_TRUE(client.Connect(server.port()));
    FrozenClock().at(2000);
    EXPECT_FALSE(server.IsConnected());
    EXPECT_EQ(err.count("]: 0 queued messages and 1 owed answer never delivered\n"), 1u) << err.text();
    ASSERT_TRUE(loop.RunUntil([&] { return server.IsConnected(); }));
    display.Later(); // a token of the earlier connection is void
    ExpectQuiet();
    ExpectAnswer(Exchange(Show(44, 0))[0], 44, 3);
}

TEST_F(ServerTest, SignalsAreOfferedToTheOtherServicesThenSent)
{
    auto got = Exchange(Show(5, 5), 2);
    ASSERT_TRUE(got[0].get_pdu().signal_isSelected());
    EXPECT_FALSE(got[0].seq_isPresent());
    EXPECT_EQ(got[0].get_slot().getValue(), 9u);
    EXPECT_EQ(got[0].get_pdu().get_signal().get_abort().getValue(), 512);
    ExpectAnswer(got[1], 5, 3);
    EXPECT_TRUE(display.signalled.empty()); // not back to the sender
    EXPECT_EQ(watcher.signalled, (std::vector<int>{9}));

    // A slot's stream signal passes the services too.
    Exchange(CreateMap(6, 12, 12), 3);
    EXPECT_EQ(display.signalled, (std::vector<int>{12, 12}));

    // One too long for a frame (five packages of 16 kB) is dropped; the link goes on.
    LGCP::Signal big;
    LGCP::HdlcPackages& packages = big.select_ioctl().select_hdlcPackages();
    LGCP::HdlcPackage package;
    package.set_body(std::vector<char>(16384, 'x'));
    for (int i = 0; i < 5; ++i)
        packages.push_back(package);
    server.SendSignal(4, big);
    ExpectQuiet();
    ExpectAnswer(Exchange(Show(7, 0))[0], 7, 3);

    // Without a controller the services still see it; nothing is sent.
    client.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
    LGCP::Signal signal;
    signal.select_activated();
    server.SendSignal(3, signal);
    EXPECT_EQ(watcher.signalled.back(), 3);
}

} // namespace
