#include "voice_link.h"

#include "board/mcc.h"
#include "slots/voice.h"
#include "tests/framework/loop_helpers.h"

#include <sys/stat.h>

#include <climits>
#include <fstream>

namespace {

using namespace test;

LGCP::Message FilePlayer(unsigned seq, int slot, std::vector<std::string> const& names, int repeat)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::PlayerParams_file& file = Body(m).select_create().select_voice().select_player().select_file();
    for (const auto& name : names)
        file.get_name().push_back(ASN1::IA5String(name));
    file.set_repeat(repeat);
    return m;
}

LGCP::Message NetworkPlayer(unsigned seq, int slot, std::string const& iaddr, unsigned port, int id)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::PlayerParams_network& net = Body(m).select_create().select_voice().select_player().select_network();
    net.set_host(Address(iaddr, port));
    net.set_id(id);
    return m;
}

LGCP::Message Recorder(unsigned seq, int slot, unsigned port, std::string const& iaddr = "127.0.0.1")
{
    LGCP::Message m = Command(seq, slot);
    Body(m).select_create().select_voice().select_record() = Address(iaddr, port);
    return m;
}

bool IsStopRecording(LGCP::Signal const& s, LGCP::StopRecordingCause::NamedNumber cause)
{
    return s.ioctl_isSelected() && s.get_ioctl().stopRecording_isSelected() &&
           s.get_ioctl().get_stopRecording().asNamedNumber() == cause;
}

bool IsTransmitterOff(LGCP::Signal const& s)
{
    return s.transmitter_isSelected() && !s.get_transmitter().get_active();
}

class VoiceTest : public SlotLink {
protected:
    void SetUp() override
    {
        SlotLink::SetUp();
        VoiceFactory::instance();
        PlaySlotFile::set_dir_for_test(dir);
    }
    void TearDown() override
    {
        PlaySlotFile::set_dir_for_test("/usr/local/voice/");
        SlotLink::TearDown();
        ::unlink((dir + "-outside").c_str());
    }
    void Write(std::string const& path, std::string const& text) { std::ofstream(path, std::ios::binary) << text; }

    // The map slot 1 becomes the receiver of the player; the player's time slot.
    int ConnectToMap(int player, unsigned seq)
    {
        Create(CreateMap(seq, 1, 300), 2);
        auto got = Exchange(Connect(seq + 1, player, {1}), 2);
        ExpectStream(got[0], player, true, true, mcc.Timeslots().back());
        ExpectAnswer(got[1], seq + 1, player);
        return StreamChannel(got[0]);
    }
    std::string Played(int timeslot)
    {
        std::string text;
        for (const auto& frame : mcc.Written(timeslot))
            text.append(frame.begin(), frame.end());
        return text;
    }
};

// Missing, refused and non-regular names are skipped; the list plays twice,
// then the player ends with one abort.
TEST_F(VoiceTest, FilePlayerSkipsWhatItCannotPlayAndRepeats)
{
    const std::string a(3000, 'a'), b(9000, 'b');
    Write(dir + "/a", a);
    Write(dir + "/b", b);
    Write(dir + "-outside", "secret");
    ::mkdir((dir + "/sub").c_str(), 0700);
    const std::string outside = "../" + dir.substr(dir.rfind('/') + 1) + "-outside";

    Capture errors(std::cerr);
    Capture debug(std::clog);
    Create(FilePlayer(1, 2, {"a", "missing", "", outside, "/dev/zero", std::string("a\0", 2), "sub/\nvoice: forged", "sub", "b"}, 2), 0);
    const int ts = ConnectToMap(2, 2);
    EXPECT_EQ(Allocation(ts), (std::vector<uint32_t>{2, 1024, 0, 0, 5}));

    std::string played;
    ASSERT_TRUE(RunUntil([&] {
        played += Played(ts);
        return Aborts(2, 0) > 0;
    }));
    played += Played(ts);
    EXPECT_EQ(played, a + b + a + b);
    EXPECT_EQ(Count(2, IsTransmitterOff), 1u);
    EXPECT_EQ(errors.count("phrase name refused"), 5u * 2);
    // The controller's names are written escaped, each on its own line.
    EXPECT_EQ(errors.count("phrase name refused: \"a\\x00\"\n"), 2u);
    EXPECT_EQ(errors.count("phrase name refused: \"sub/\\nvoice: forged\"\n"), 2u);
    EXPECT_EQ(errors.count("missing") + debug.count("missing"), 0u);
    ExpectQuiet();
    EXPECT_EQ(Aborts(2, 0), 1u);
    // Played out, it is no source any more.
    ExpectAnswer(Exchange(Connect(9, 2, {1}))[0], 9, 2, LGCP::ErrorCause::connectFail);
}

TEST_F(VoiceTest, FilePlayerWithNothingPlayableRefusesTheConnectAndAbortsOnce)
{
    Create(FilePlayer(1, 2, {"missing", "../a"}, 1), 0);
    Create(CreateMap(2, 1, 300), 2);
    ExpectAnswer(Exchange(Connect(3, 2, {1}))[0], 3, 2, LGCP::ErrorCause::connectFail);
    RunUntil([&] { return Aborts(2, 0) > 0; });
    ExpectQuiet();
    EXPECT_EQ(Aborts(2, 0), 1u);
    EXPECT_EQ(inbox.size(), 1u);
}

// Repeat 0, and a negative repeat that is no count, play until the slot
// goes; a list that plays nothing ends at once instead of starting round
// after round.
TEST_F(VoiceTest, RepeatZeroPlaysOnUnlessTheRoundIsEmpty)
{
    Write(dir + "/a", std::string(500, 'a'));
    Write(dir + "/empty", "");
    for (int repeat : {0, INT_MIN}) {
        Create(FilePlayer(1, 2, {"a"}, repeat), 0);
        int ts = ConnectToMap(2, 2);
        std::string played;
        ASSERT_TRUE(RunUntil([&] {
            played += Played(ts);
            return played.size() >= 5 * 500;
        }));
        EXPECT_EQ(Aborts(2, 0), 0u);
        ExpectAnswer(Exchange(Destroy(4, 2))[0], 4, 2);
        ExpectAnswer(Exchange(Destroy(5, 1))[0], 5, 1);
        inbox.clear();
    }

    Create(FilePlayer(6, 3, {"empty", "empty"}, 0), 0);
    ConnectToMap(3, 7);
    RunUntil([&] { return Aborts(3, 0) > 0; });
    ExpectQuiet();
    EXPECT_EQ(Aborts(3, 0), 1u);
    EXPECT_EQ(Count(3, IsTransmitterOff), 1u);
}

TEST_F(VoiceTest, NetworkPlayerSendsTheIdThenPlaysWhatTheHostSends)
{
    Listener host;
    Create(NetworkPlayer(1, 2, "127.0.0.1", host.port, 0x01020304), 0);
    const int ts = ConnectToMap(2, 2);
    int conn = -1;
    ASSERT_TRUE(RunUntil([&] { return (conn = host.Accept()) >= 0; }));
    std::string id;
    ASSERT_TRUE(RunUntil([&] { return (id += ReadSome(conn)).size() >= 4; }));
    EXPECT_EQ(id, std::string("\x01\x02\x03\x04", 4));
    ASSERT_TRUE(RunUntil([&] {
        return Count(2, [](LGCP::Signal const& s) { return s.ioctl_isSelected() && s.get_ioctl().startPlaying_isSelected(); }) > 0;
    }));

    // A second receiver shares the stream: no second connection.
    Create(CreateMap(4, 5, 301), 2);
    ExpectAnswer(Exchange(Connect(5, 2, {5}))[0], 5, 2);
    const std::string audio(20000, 'x');
    ASSERT_EQ(::write(conn, audio.data(), audio.size()), static_cast<ssize_t>(audio.size()));
    std::string played;
    ASSERT_TRUE(RunUntil([&] { return (played += Played(ts)).size() >= audio.size(); }));
    EXPECT_EQ(played, audio);
    EXPECT_LT(host.Accept(), 0);
    // Every receiver leaves, then a new one comes: still the one connection.
    for (int receiver : {1, 5, -1}) {
        LGCP::Message m = receiver < 0 ? Connect(9, 2, {1}) : Command(8, receiver);
        if (receiver >= 0)
            Body(m).select_disconnect();
        EXPECT_TRUE(client.Send(Encode(m)));
        RunUntil([] { return false; }, 50);
    }
    EXPECT_LT(host.Accept(), 0);

    // The host ends its stream once all of it was played: no failure.
    Capture errors(std::cerr);
    Capture debug(std::clog);
    ::close(conn);
    ASSERT_TRUE(RunUntil([&] { return Aborts(2, 0) > 0; }));
    ExpectQuiet();
    EXPECT_EQ(Aborts(2, 0), 1u);
    EXPECT_EQ(Count(2, IsTransmitterOff), 1u);
    EXPECT_EQ(debug.count("connection to 127.0.0.1:" + std::to_string(host.port) + " closed.\n"), 1u) << debug.text();
    EXPECT_EQ(errors.count("play failed"), 0u);
}

// A host that is no dotted address is refused at create, before a channel
// is taken; a refused connection ends the player from the loop, after the
// connect was answered, and the recorder reports it.
TEST_F(VoiceTest, HostThatCannotBeReachedEndsThePlayerAndStopsTheRecorder)
{
    Capture errors(std::cerr);
    for (std::string iaddr : {"300.1.2.3", "localhost", "1.2.3.4:5", "1.2.3", "", "127.0.0.1\n", "1.2.3\nvoice: forged"}) {
        ExpectAnswer(Exchange(NetworkPlayer(1, 10, iaddr, 80, 7))[0], 1, 10, LGCP::ErrorCause::invalidParams);
        ExpectAnswer(Exchange(Recorder(2, 11, 80, iaddr))[0], 2, 11, LGCP::ErrorCause::invalidParams);
    }
    EXPECT_EQ(errors.count("voice/mcc[0]: host \"1.2.3\\nvoice: forged\" is not a dotted IPv4 address\n"), 2u);
    board.Prune();
    ASSERT_TRUE(mcc.Timeslots().empty());

    const unsigned closed = Listener().port; // nobody listens there any more
    Capture debug(std::clog);
    Create(NetworkPlayer(1, 10, "127.0.0.1", closed, 7), 0);
    Create(CreateMap(2, 11, 300), 2);
    ExpectAnswer(Exchange(Connect(3, 10, {11}), 2)[1], 3, 10);
    ASSERT_TRUE(RunUntil([&] { return Aborts(10, 0) > 0; }));
    ExpectQuiet();
    EXPECT_EQ(Aborts(10, 0), 1u);
    EXPECT_EQ(Count(10, IsTransmitterOff), 1u);
    EXPECT_EQ(debug.count("connection to 127.0.0.1:" + std::to_string(closed) + " fail.\n"), 1u);
    // Ended, it is no source any more.
    ExpectAnswer(Exchange(Connect(6, 10, {11}))[0], 6, 10, LGCP::ErrorCause::connectFail);
    ExpectAnswer(Exchange(Destroy(4, 10))[0], 4, 10);

    // A recorder says so once, and stays.
    inbox.clear();
    Create(Recorder(1, 2, closed), 1);
    ExpectAnswer(Exchange(Connect(3, 11, {2}))[0], 3, 11);
    ASSERT_TRUE(RunUntil([&] { return !inbox.empty(); }));
    ExpectQuiet();
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_EQ(Count(2, [](LGCP::Signal const& s) { return IsStopRecording(s, LGCP::StopRecordingCause::connectionFail); }), 1u);
}

TEST_F(VoiceTest, RecorderConnectsPerSourceAndTellsWhyItStopped)
{
    Listener host;
    auto created = Create(Recorder(1, 2, host.port), 1);
    const int ts = mcc.Timeslots().back();
    ExpectStream(created[1], 2, false, true, ts);
    EXPECT_EQ(Allocation(ts), (std::vector<uint32_t>{2, 1024, 0, 5, 0}));

    Create(CreateMap(2, 1, 300), 2);
    ExpectAnswer(Exchange(Connect(3, 1, {2}))[0], 3, 1);
    int first = -1;
    ASSERT_TRUE(RunUntil([&] { return (first = host.Accept()) >= 0; }));
    loop.Settle();
    ASSERT_TRUE(mcc.Inject(ts, {'o', 'n', 'e'}));
    std::string got;
    ASSERT_TRUE(RunUntil([&] { return (got += ReadSome(first)) == "one"; }));

    // Another source: a new connection, and the first one is closed.
    LGCP::Message disconnect = Command(4, 2);
    Body(disconnect).select_disconnect();
    ExpectAnswer(Exchange(disconnect)[0], 4, 2);
    Create(CreateMap(5, 3, 301), 2);
    ExpectAnswer(Exchange(Connect(6, 3, {2}))[0], 6, 3);
    int second = -1;
    ASSERT_TRUE(RunUntil([&] { return (second = host.Accept()) >= 0; }));
    bool eof = false;
    ASSERT_TRUE(RunUntil([&] {
        ReadSome(first, &eof);
        return eof;
    }));
    ::close(first);
    loop.Settle();
    ASSERT_TRUE(mcc.Inject(ts, {'t', 'w', 'o'}));
    got.clear();
    ASSERT_TRUE(RunUntil([&] { return (got += ReadSome(second)) == "two"; }));

    // The host goes away: the next write fails.
    ::close(second);
    ASSERT_TRUE(RunUntil([&] {
        mcc.Inject(ts, {'x'});
        return Count(2, [](LGCP::Signal const& s) { return IsStopRecording(s, LGCP::StopRecordingCause::connectionAborted); }) > 0;
    }));

    // Once more, and the channel ends: the recording is complete.
    ExpectAnswer(Exchange(disconnect)[0], 4, 2);
    ExpectAnswer(Exchange(Connect(7, 3, {2}))[0], 7, 3);
    int third = -1;
    ASSERT_TRUE(RunUntil([&] { return (third = host.Accept()) >= 0; }));
    loop.Settle();
    ASSERT_TRUE(mcc.Hangup(ts));
    ASSERT_TRUE(RunUntil([&] {
        return Count(2, [](LGCP::Signal const& s) { return IsStopRecording(s, LGCP::StopRecordingCause::userRequest); }) > 0;
    }));
    ASSERT_TRUE(RunUntil([&] {
        ReadSome(third, &eof);
        return eof;
    }));
    ::close(third);
    ExpectQuiet();
    EXPECT_EQ(Count(2, [](LGCP::Signal const& s) { return s.ioctl_isSelected(); }), 2u);
    EXPECT_EQ(Count(2, [](LGCP::Signal const& s) { return s.abort_isSelected(); }), 0u);
}

// Each failing step of the channel set-up fails the create with its line,
// and leaves no channel behind.
TEST_F(VoiceTest, ChannelFailuresFailTheCreate)
{
    struct Case {
        bool player;
        int step; // 0 open, 1 allocate, 2 time slot
        const char* line;
    } cases[] = {
        {true, 0, "voice/mcc[0]: fail to open /dev/mcc/ctl device for writing: "},
        {false, 0, "voice/mcc[0]: fail to open /dev/mcc/ctl device for reading: "},
        {true, 1, "voice/mcc[0]: MCC_ALLOCATE fail: "},
        {false, 2, "voice/mcc[0]: MCC_TIMESLOT request failed."},
    };
    for (const Case& c : cases) {
        if (c.step == 0)
            board.FailOpen(Mcc::kDevice, ENODEV);
        else
            board.FailRequest(Mcc::kDevice, c.step == 1 ? Mcc::kAllocate : Mcc::kTimeslot, EIO);
        Capture errors(std::cerr);
        LGCP::Message m = c.player ? FilePlayer(1, 2, {"a"}, 1) : Recorder(1, 2, 80);
        ExpectAnswer(Exchange(m)[0], 1, 2, LGCP::ErrorCause::insufficientResources);
        EXPECT_EQ(errors.count(c.line), 1u) << errors.text();
        board.Prune();
        EXPECT_TRUE(mcc.Timeslots().empty());
    }
}

// A host that never accepts: the player and the recorder give up 5000 ms
// after they began to connect, and not a millisecond before.
TEST_F(VoiceTest, HostThatNeverAcceptsIsGivenUpAfterFiveSeconds)
{
    // A listener whose one place is taken: further connects wait unanswered.
    Fd host(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(host.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(host.lowlevel_fd(), 0), 0);
    ::getsockname(host.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &len);
    Fd filler(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::connect(filler.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string port = std::to_string(ntohs(a.sin_port));

    Create(NetworkPlayer(1, 10, "127.0.0.1", ntohs(a.sin_port), 7), 0);
    Create(Recorder(2, 12, ntohs(a.sin_port)), 1);
    Create(CreateMap(3, 11, 300), 2);
    Capture debug(std::clog);
    const uint32_t start = Mux::milliseconds();
    looptest::set_clock(start);
    ASSERT_EQ(Slots::instance().Connect(10, {11}), Answer::success);
    ASSERT_EQ(Slots::instance().Connect(11, {12}), Answer::success);
    auto at = [](uint32_t ms) {
        looptest::set_clock(ms);
        multiplexer.timers_schedule();
        Mux::mux_cleartimeofday();
    };
    at(start + 4999);
    EXPECT_EQ(debug.count(" fail."), 0u);
    at(start + 5000);
    EXPECT_EQ(debug.count("connection to 127.0.0.1:" + port + " fail.\n"), 2u);
    ASSERT_TRUE(RunUntil([&] {
        return Aborts(10, 0) > 0
               && Count(12, [](LGCP::Signal const& s) { return IsStopRecording(s, LGCP::StopRecordingCause::connectionFail); });
    }));
}

// A phrase goes to the channel in blocks of 8192 octets.
TEST_F(VoiceTest, PhrasesGoOutInBlocksOf8192Octets)
{
    Write(dir + "/long", std::string(20000, 'l'));
    Create(FilePlayer(1, 2, {"long"}, 1), 0);
    const int ts = ConnectToMap(2, 2);
    std::vector<size_t> sizes;
    auto take = [&] {
        for (const auto& frame : mcc.Written(ts))
            sizes.push_back(frame.size());
    };
    ASSERT_TRUE(RunUntil([&] {
        take();
        return Aborts(2, 0) > 0;
    }));
    take();
    EXPECT_EQ(sizes, (std::vector<size_t>{8192, 8192, 20000 - 2 * 8192}));
}

} // namespace
