// The authentication service alone: framing, bad lengths, hostile peers,
// and answers to the connection that spoke.

#include "modem_fixture.h"
#include "slots/auth_service.h"
#include "tests/framework/loop_helpers.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <memory>
#include <sstream>

namespace test {
namespace {

struct Sink : AuthService::Notify {
    std::string OnAuthRecord(AuthClient& client, const ModemAuth::Record& record) override
    {
        std::ostringstream line;
        line << "len " << record.size << " type " << record.type() << " session " << record.session();
        lines.push_back(line.str());
        client.owner(owner);
        if (stop)
            multiplexer.terminate(); // after this pass
        return record.session() == 5 ? "auth: no session 5" : "";
    }
    void PutHeader(std::ostream& os) const override { os << "auth: "; }
    std::vector<std::string> lines;
    const void* owner = nullptr;
    bool stop = false;
};

class AuthServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::signal(SIGPIPE, SIG_IGN);
        ASSERT_TRUE(service.Open(0));
    }
    std::unique_ptr<Peer> Join() { return test::Join(service, loop); }
    bool Lines(size_t n)
    {
        return loop.RunUntil([&] { return sink.lines.size() >= n; });
    }

    Sink sink;
    AuthService service{sink};
    LoopDriver loop;
    Capture errors{std::cerr};
};

TEST_F(AuthServiceTest, RecordsSplitOrJoinedAreCutAtTheirLengths)
{
    auto peer = Join();
    std::vector<uint8_t> first = RawRecord(140, 1, 3);
    std::vector<uint8_t> second = RawRecord(64, 4, 3);
    // The length word itself split over two reads.
    ASSERT_TRUE(peer->Send({first.begin(), first.begin() + 2}));
    loop.Settle();
    EXPECT_TRUE(sink.lines.empty());
    ASSERT_TRUE(peer->Send({first.begin() + 2, first.begin() + 70}));
    loop.Settle();
    EXPECT_TRUE(sink.lines.empty());
    // The rest of the first and the whole second in one write.
    std::vector<uint8_t> rest(first.begin() + 70, first.end());
    rest.insert(rest.end(), second.begin(), second.end());
    ASSERT_TRUE(peer->Send(rest));
    ASSERT_TRUE(Lines(2));
    EXPECT_EQ(sink.lines, (std::vector<std::string>{"len 140 type 1 session 3", "len 64 type 4 session 3"}));
    EXPECT_EQ(service.clientList()[0]->GetSessionId(), 3);

    // Too short for a header: dropped, the connection goes on.
    ASSERT_TRUE(peer->Send(RawRecord(8, 1, 0)));
    ASSERT_TRUE(peer->Send(RawRecord(12, 2, 5)));
    ASSERT_TRUE(Lines(3));
    EXPECT_EQ(sink.lines.back(), "len 12 type 2 session 5");
    EXPECT_EQ(errors.count("record of 8 octets dropped"), 1u);
}

TEST_F(AuthServiceTest, AFloodIsTakenInTurnsAndItsRepeatedFaultLoggedOnce)
{
    auto flood = Join();
    std::vector<uint8_t> records;
    for (int i = 0; i < 100; ++i) {
        std::vector<uint8_t> r = RawRecord(16, 1, 5);
        records.insert(records.end(), r.begin(), r.end());
    }
    ASSERT_TRUE(flood->Send(records));
    sink.stop = true;
    ASSERT_TRUE(Lines(1));
    EXPECT_EQ(sink.lines.size(), 32u) << "records of one wake-up";
    sink.stop = false;
    ASSERT_TRUE(Lines(100));
    EXPECT_EQ(errors.count("no session 5"), 1u);
    // A record taken ends the run, and so does the end of the connection.
    ASSERT_TRUE(flood->Send(RawRecord(16, 1, 6)));
    ASSERT_TRUE(Lines(101));
    EXPECT_EQ(errors.count("auth: no session 5 (100 times in a row)\n"), 1u);
    ASSERT_TRUE(flood->Send(RawRecord(16, 1, 5)));
    ASSERT_TRUE(flood->Send(RawRecord(16, 1, 5)));
    ASSERT_TRUE(Lines(103));
    flood->Close();
    ASSERT_TRUE(loop.RunUntil([&] { return service.clients() == 0; }));
    EXPECT_EQ(errors.count("auth: no session 5 (2 times in a row)\n"), 1u);
    EXPECT_EQ(errors.count("no session 5"), 4u);
}

TEST_F(AuthServiceTest, ConnectionWithoutARecordTenSecondsAfterItsAcceptIsClosed)
{
    const uint32_t before = Mux::milliseconds();
    auto silent = Join();
    auto speaker = Join();
    const uint32_t after = Mux::milliseconds();
    const std::vector<uint8_t> record = RawRecord(16, 1, 6);
    ASSERT_TRUE(silent->Send({record.begin(), record.begin() + 6})); // incomplete
    ASSERT_TRUE(speaker->Send(RawRecord(16, 1, 6)));
    ASSERT_TRUE(Lines(1));

    looptest::set_clock(before + 10000 - 1);
    multiplexer.timers_schedule();
    EXPECT_FALSE(silent->IsClosedByService());
    looptest::set_clock(after + 10000);
    multiplexer.timers_schedule();
    Mux::mux_cleartimeofday();
    EXPECT_TRUE(silent->IsClosedByService());
    EXPECT_FALSE(speaker->IsClosedByService());
    EXPECT_EQ(errors.count("no record within 10 s, closed"), 1u);
    EXPECT_EQ(service.clients(), 1u);
}

TEST_F(AuthServiceTest, ConnectionThatCannotBeWatchedIsClosedAndHoldsNoPlace)
{
    // A first connection comes and goes: the sanitizers' first look at
    // each kind of object needs descriptors of its own.
    Join()->Close();
    ASSERT_TRUE(loop.RunUntil([&] { return service.clients() == 0; }));
    static rlimit saved;
    static bool lowered;
    lowered = false;
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    // The first connection taken finds no descriptor beside its own, as
    // when they run out; they are back for anything after it (the
    // sanitizers need some).
    AuthService::SetAccept([](int fd, sockaddr* address, socklen_t* size, int flags) {
        ::setrlimit(RLIMIT_NOFILE, &saved);
        int sock = ::accept4(fd, address, size, flags);
        if (sock >= 0 && !lowered) {
            lowered = true;
            int next = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
            ::close(next);
            rlimit low = saved;
            low.rlim_cur = static_cast<rlim_t>(next);
            ::setrlimit(RLIMIT_NOFILE, &low);
        }
        return sock;
    });
    Peer peer(service.port());
    bool closed = loop.RunUntil(
        [&] { return ::setrlimit(RLIMIT_NOFILE, &saved) == 0 && peer.IsClosedByService(); }, 2000);
    AuthService::SetAccept(nullptr);
    EXPECT_TRUE(closed);
    EXPECT_EQ(errors.count("closed: cannot watch the socket: "), 1u);
    EXPECT_TRUE(loop.RunUntil([&] { return service.clients() == 0; }, 2000));
    EXPECT_TRUE(Join()->connected);
}

TEST_F(AuthServiceTest, BadLengthClosesOnlyThatConnection)
{
    auto good = Join();
    for (uint32_t length : {513u, 3u, 0xFFFFFFFFu, 0u}) {
        auto bad = Join();
        ASSERT_TRUE(bad->Send(RawRecord(length == 513 ? 513 : 12, 1, 0)));
        if (length != 513) {
            std::vector<uint8_t> word;
            PutWord(word, length);
            ASSERT_TRUE(bad->Send(word)); // a second record with the bad length
        }
        ASSERT_TRUE(loop.RunUntil([&] { return bad->IsClosedByService(); })) << length;
        EXPECT_EQ(errors.count("record length " + std::to_string(length) + " refused"), 1u) << length;
    }
    EXPECT_TRUE(loop.RunUntil([&] { return service.clients() == 1; }));
    size_t before = sink.lines.size();
    ASSERT_TRUE(good->Send(RawRecord(16, 2, 9)));
    ASSERT_TRUE(Lines(before + 1));
    EXPECT_EQ(sink.lines.back(), "len 16 type 2 session 9");
}

TEST_F(AuthServiceTest, HostilePeersLeaveTheOthersServed)
{
    auto good = Join();
    // Garbage, a peer gone mid-record, and many connections at once.
    {
        auto garbage = Join();
        garbage->Send(std::vector<uint8_t>(300, 0xA5));
        auto half = Join();
        std::vector<uint8_t> record = RawRecord(140, 1, 0);
        half->Send({record.begin(), record.begin() + 50});
        half->Close();
        ASSERT_TRUE(loop.RunUntil([&] { return garbage->IsClosedByService(); }));
    }
    std::vector<std::unique_ptr<Peer>> crowd;
    for (int i = 0; i < 1000; ++i) {
        crowd.push_back(std::make_unique<Peer>(service.port(), false));
        if (i % 50 == 49)
            loop.Settle(2);
    }
    ASSERT_TRUE(loop.RunUntil([&] { return errors.count("too many auth connections") >= 900; }));
    EXPECT_LE(service.clients(), AuthService::kMaxClients);
    EXPECT_GT(errors.count("too many auth connections"), 0u);
    crowd.clear();
    ASSERT_TRUE(loop.RunUntil([&] { return service.clients() == 1; }));

    size_t before = sink.lines.size();
    ASSERT_TRUE(good->Send(RawRecord(140, 1, 1)));
    ASSERT_TRUE(Lines(before + 1));
    auto late = Join(); // still accepting
    EXPECT_TRUE(late->connected);
}

TEST_F(AuthServiceTest, AnswersGoToTheNewestSpeakerOfTheOwner)
{
    int owner = 0, other = 0;
    auto older = Join();
    auto newer = Join();
    sink.owner = &owner;
    ASSERT_TRUE(newer->Send(RawRecord(12, 1, 0xFFFFFFFF)));
    ASSERT_TRUE(Lines(1));
    ASSERT_TRUE(older->Send(RawRecord(12, 1, 0xFFFFFFFF)));
    ASSERT_TRUE(Lines(2));
    ASSERT_TRUE(newer->Send(RawRecord(12, 1, 0xFFFFFFFF)));
    ASSERT_TRUE(Lines(3));

    EXPECT_TRUE(service.Send(&owner, ModemAuth::MakeAccept(0xFFFFFFFF)));
    EXPECT_FALSE(service.Send(&other, ModemAuth::MakeAccept(0xFFFFFFFF)));
    loop.Settle();
    EXPECT_EQ(newer->Take(), ModemAuth::MakeAccept(0xFFFFFFFF));
    EXPECT_TRUE(older->Take().empty());

    service.Forget(&owner);
    EXPECT_FALSE(service.Send(&owner, ModemAuth::MakeAccept(0xFFFFFFFF)));
}

TEST_F(AuthServiceTest, AcceptFailurePausesListeningInsteadOfSpinning)
{
    static int calls;
    calls = 0;
    AuthService::SetAccept([](int, sockaddr*, socklen_t*, int) {
        ++calls;
        errno = EMFILE;
        return -1;
    });
    Peer waiting(service.port());
    bool paused = loop.RunUntil([&] { return !service.IsListening(); });
    loop.Settle();
    AuthService::SetAccept(nullptr);
    ASSERT_TRUE(paused);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(errors.count("auth accept failed"), 1u);

    // Listening again after the pause, on a manual clock.
    looptest::set_clock(Mux::milliseconds() + AuthService::kAcceptPauseMs);
    multiplexer.timers_schedule();
    Mux::mux_cleartimeofday();
    EXPECT_TRUE(service.IsListening());
    EXPECT_TRUE(loop.RunUntil([&] { return service.clients() == 1; }));
}

} // namespace
} // namespace test
