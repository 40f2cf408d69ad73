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
        std::ostringstream line, fault;
        line << "len " << record.size << " type " << record.type() << " session " << record.session();
        lines.push_back(line.str());
        if (stop)
            multiplexer.terminate(); // after this pass
        fault << "auth: auth client " << client.GetAddr() << ": no session " << record.session();
        // Sessions 5 to 99 have no modem.
        return record.session() - 5 < 95 ? fault.str() : (client.owner(owner), std::string());
    }
    void PutHeader(std::ostream& os) const override { os << "auth: "; }
    std::vector<std::string> lines;
    const void* owner = this;
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
    // Lines the service wrote about its peers, and those it only counted.
    size_t Written() const
    {
        return errors.count("auth: ") + debug.count("auth: ") - errors.count(kCounted);
    }
    uint64_t Counted() const
    {
        uint64_t sum = 0;
        std::istringstream text(errors.text());
        for (std::string line; std::getline(text, line);)
            if (line.find(kCounted) != std::string::npos)
                sum += std::stoull(line.substr(line.find(": ") + 2));
        return sum;
    }
    // Bytes of the lines about the peers, counts included.
    size_t LogBytes() const
    {
        size_t bytes = 0;
        for (const std::string& text : {errors.text(), debug.text()}) {
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);)
                bytes += line.compare(0, 6, "auth: ") == 0 ? line.size() + 1 : 0;
        }
        return bytes;
    }
    static constexpr const char* kCounted = " more lines about auth clients not logged";
    // Every place taken by a peer that sends the records of its call and
    // four for no modem, a 33rd refused when asked, and all gone again.
    // Where each came from, as its lines say.
    std::vector<std::string> FullHouse(bool refuseOneMore) { return FullHouse(service, refuseOneMore); }
    std::vector<std::string> FullHouse(AuthService& on, bool refuseOneMore)
    {
        std::vector<std::unique_ptr<Peer>> peers;
        std::vector<std::string> from;
        const size_t routed = sink.lines.size() + 32 * 6;
        for (int i = 0; i < 32; ++i) {
            peers.push_back(test::Join(on, loop));
            from.push_back("auth client 127.0.0.1:" + std::to_string(peers.back()->LocalPort()));
            for (uint32_t session : {1u, 5u, 6u, 7u, 8u, 1u})
                EXPECT_TRUE(peers.back()->Send(RawRecord(session == 1 ? 140 : 64, session == 1 ? 1 : 4, session)));
        }
        EXPECT_TRUE(loop.RunUntil([&] { return sink.lines.size() >= routed; }));
        EXPECT_EQ(on.clients(), 32u);
        if (refuseOneMore) {
            Peer refused(on.port());
            EXPECT_TRUE(loop.RunUntil([&] { return refused.IsClosedByService(); }));
        }
        peers.clear();
        EXPECT_TRUE(loop.RunUntil([&] { return on.clients() == 0; }));
        return from;
    }
    // Runs the timers due at a moment of the loop's clock.
    static void At(uint32_t ms)
    {
        looptest::set_clock(ms);
        multiplexer.timers_schedule();
        Mux::mux_cleartimeofday();
    }

    Sink sink;
    AuthService service{sink};
    LoopDriver loop;
    Capture errors{std::cerr};
    Capture debug{std::clog};
};

TEST_F(AuthServiceTest, RecordsSplitOrJoinedAreCutAtTheirLengths)
{
    auto peer = Join();
    std::vector<uint8_t> first = RawRecord(140, 1, 3), second = RawRecord(64, 4, 3);
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
}

TEST_F(AuthServiceTest, AFloodIsTakenInTurnsAndWritesAFewLogLinesASecond)
{
    std::unique_ptr<Peer> peers[] = {Join(), Join(), Join()};
    std::string from[3], count = " more faults not logged\n";
    for (int p = 0; p < 3; ++p)
        from[p] = "auth client 127.0.0.1:" + std::to_string(peers[p]->LocalPort()) + ": ";
    // Alternating sessions, a new session each record, and alternating
    // sizes too short for a header; a taken record ends each batch.
    auto flood = [&](uint32_t records) {
        const size_t routed = sink.lines.size() + 2 * records + 3;
        for (int p = 0; p < 3; ++p) {
            for (uint32_t i = 0; i <= records; ++i)
                ASSERT_TRUE(peers[p]->Send(i == records ? RawRecord(16, 1, 1)
                                           : p < 2      ? RawRecord(16, 1, 5 + i % (p ? 95 : 2))
                                                        : RawRecord(4 + i % 2, 1, 0)));
            sink.stop = sink.lines.empty();
            EXPECT_TRUE(Lines(1) && (!sink.stop || sink.lines.size() == 32u)) << "records of one wake-up";
            sink.stop = false;
        }
        ASSERT_TRUE(loop.RunUntil([&] { return sink.lines.size() == routed; }));
    };
    flood(95);
    uint32_t now = Mux::milliseconds();
    At(now += 1000);
    size_t lines[3];
    for (int p = 0; p < 3; ++p) {
        lines[p] = errors.count(from[p]);
        EXPECT_LE(lines[p], 5u) << p; // a few faults, and their count
        EXPECT_EQ(errors.count(from[p] + std::to_string(96 - lines[p]) + count), 1u) << p;
    }
    // While the faults go on, one count line a second; a quiet second
    // gives the full lines back.
    errors.take();
    flood(500);
    At(now += 1000);
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(errors.count(from[p]), 1u) << p;
        EXPECT_EQ(errors.count(from[p] + "500" + count), 1u) << p;
    }
    errors.take();
    At(now += 1000);
    flood(7);
    EXPECT_EQ(errors.count(from[2]), lines[2] - 1);
}

// Local peers that connect, send five records for no modem and close, as
// fast as they can: past a few lines a second the service counts what it
// would write, connection lines included, with one line a second giving
// the count, so four seconds of it write far less than 100 KB. A quiet
// second gives the lines back, and a real peer is served.
TEST_F(AuthServiceTest, ReconnectingPeersWriteAFewLinesASecondAndAQuietOneGivesThemBack)
{
    uint32_t now = 0; // the service's second begins with its first line
    const size_t perSecond = 100;
    for (int second = 0; second < 4; ++second) {
        for (size_t i = 0; i < perSecond; ++i) {
            auto peer = Join();
            if (second == 0 && i == 0)
                now = Mux::milliseconds();
            for (uint32_t r = 0; r < 5; ++r)
                ASSERT_TRUE(peer->Send(RawRecord(16, 1, 5 + r)));
        }
        ASSERT_TRUE(loop.RunUntil([&] { return service.clients() == 0; }));
        At(now += 1000);
    }
    EXPECT_LE(errors.text().size() + debug.text().size(), 100u * 1000);
    // Each: its connection, four faults, the count of the fifth, its end.
    EXPECT_EQ(Written() + Counted(), 4 * perSecond * 7);
    EXPECT_EQ(errors.count(kCounted), 4u);

    errors.take();
    debug.take();
    At(now += 1000); // quiet
    EXPECT_EQ(errors.text(), "");
    auto real = Join();
    EXPECT_EQ(errors.count("incoming auth connection from 127.0.0.1:" + std::to_string(real->LocalPort())), 1u);
    ASSERT_TRUE(real->Send(RawRecord(16, 1, 1)));
    ASSERT_TRUE(Lines(4 * perSecond * 5 + 1));
    const std::vector<uint8_t> answer = RawRecord(16, 2, 1);
    ASSERT_TRUE(service.Send(sink.owner, answer));
    ASSERT_TRUE(loop.RunUntil([&] { return real->Take() == answer; }));
}

// As many peers as the service takes (32) connect, each sends the records
// of its call and four that draw a line, a 33rd is refused, and they
// leave, all within a second: every line is written, none only counted.
TEST_F(AuthServiceTest, AFullHouseComingAndGoingWithinASecondIsLoggedLineByLine)
{
    const std::vector<std::string> from = FullHouse(true);
    At(Mux::milliseconds() + 1000);
    for (const std::string& peer : from) {
        EXPECT_EQ(errors.count("incoming auth connection from " + peer.substr(12) + "\n"), 1u) << peer;
        EXPECT_EQ(errors.count(peer + ": no session "), 4u) << peer;
        EXPECT_EQ(debug.count(peer + " disconnected.\n"), 1u) << peer;
    }
    EXPECT_EQ(errors.count("too many auth connections, "), 1u);
    EXPECT_EQ(errors.count(kCounted), 0u) << errors.text();

    // What is only counted when the service goes is still told.
    auto closing = std::make_unique<AuthService>(sink);
    ASSERT_TRUE(closing->Open(0));
    FullHouse(*closing, true);
    FullHouse(*closing, false);
    errors.take();
    closing.reset();
    EXPECT_EQ(errors.text(), "auth: " + std::to_string(32 * 6) + kCounted + "\n");
}

// The same full house again every 1.05 s for 30 s: past the burst only a
// few lines a second come back, so the flood writes at most some 32 KB
// (lines as long as the daemon's, some 58 bytes, included), and what it
// does not write is counted. A quiet minute gives the whole burst back.
TEST_F(AuthServiceTest, AFullHouseAgainEverySecondWritesAFewLinesASecond)
{
    const uint32_t start = Mux::milliseconds();
    uint32_t rounds = 0, last = 0;
    for (uint32_t at = 0; at < 30000; at += 1050, ++rounds) {
        At(start + (last = at));
        FullHouse(false);
    }
    uint32_t now = start + last + 1000;
    At(now); // the count of the last round
    const size_t lines = errors.count("auth: ") + debug.count("auth: ");
    EXPECT_LE(LogBytes(), 32u * 1024);
    EXPECT_LE(lines, 32u * 1024 / 58);
    EXPECT_EQ(Written() + Counted(), rounds * 32 * 6);
    EXPECT_LE(errors.count(kCounted), rounds);

    errors.take();
    debug.take();
    for (int second = 0; second < 60; ++second)
        At(now += 1000);
    EXPECT_EQ(errors.text(), "");
    FullHouse(true);
    At(now += 1000);
    EXPECT_EQ(Written(), 32u * 6 + 1);
    EXPECT_EQ(errors.count(kCounted), 0u);
}

TEST_F(AuthServiceTest, ConnectionWhoseRecordsReachNoModemIsClosedTenSecondsAfterItsAccept)
{
    const uint32_t before = Mux::milliseconds();
    // Every place: records cut short, too short or for no modem; one reaches a modem.
    std::vector<std::unique_ptr<Peer>> idle;
    for (size_t i = 1; i < AuthService::kMaxClients; ++i) {
        idle.push_back(Join());
        const std::vector<uint8_t> r = RawRecord(i % 2 ? 4 : 16, 1, 5);
        ASSERT_TRUE(idle.back()->Send({r.begin(), r.end() - (i == 1)}));
    }
    auto speaker = Join();
    const uint32_t after = Mux::milliseconds();
    ASSERT_TRUE(speaker->Send(RawRecord(4, 1, 0)));
    ASSERT_TRUE(speaker->Send(RawRecord(16, 1, 1)));
    ASSERT_TRUE(Lines(AuthService::kMaxClients / 2));
    Peer refused(service.port());
    ASSERT_TRUE(loop.RunUntil([&] { return refused.IsClosedByService(); }));
    // A second that counts what went past the log's share, a quiet one:
    // some lines are back for the closes.
    At(before + 5000);
    At(before + 6000);

    At(before + 10000 - 1);
    EXPECT_EQ(service.clients(), AuthService::kMaxClients);
    At(after + 10000);
    for (const auto& peer : idle)
        EXPECT_TRUE(peer->IsClosedByService());
    EXPECT_FALSE(speaker->IsClosedByService());
    EXPECT_GE(errors.count("record of 4 octets dropped"), 1u);
    EXPECT_GE(errors.count("no record for a modem within 10 s, closed"), 1u);
    ASSERT_TRUE(Join()->Send(RawRecord(16, 1, 1)));
    EXPECT_TRUE(Lines(AuthService::kMaxClients / 2 + 1));
    // So many lines at once are mostly counted, none lost: 34 connections
    // (one refused), 15 faults, 16 short records, 31 closes for silence
    // and 32 ends.
    At(after + 12000);
    EXPECT_EQ(Written() + Counted(), 34u + 15 + 16 + 31 + 32);
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
            const rlimit low{static_cast<rlim_t>(next), saved.rlim_max};
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

TEST_F(AuthServiceTest, BadLengthsAndHostilePeersEndOnlyTheirConnection)
{
    auto good = Join();
    for (uint32_t length : {513u, 3u, 0xFFFFFFFFu, 0u}) {
        auto bad = Join();
        ASSERT_TRUE(bad->Send(RawRecord(length == 513 ? 513 : 12, 1, 0)));
        std::vector<uint8_t> word; // a second record with the bad length
        PutWord(word, length);
        ASSERT_TRUE(length == 513 || bad->Send(word));
        ASSERT_TRUE(loop.RunUntil([&] { return bad->IsClosedByService(); })) << length;
        EXPECT_EQ(errors.count("record length " + std::to_string(length) + " refused"), 1u) << length;
    }
    // A read error is no empty socket.
    EXPECT_EQ(ModemAuth::Reader().Pump([](void*, size_t) { errno = ECONNRESET; return ssize_t{-1}; }, nullptr), ModemAuth::Reader::Failed);
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
    ASSERT_TRUE(loop.RunUntil([&] {
        size_t refused = 0;
        for (const auto& peer : crowd)
            refused += peer->IsClosedByService();
        return refused >= 900;
    }));
    // A share of lines a second, not one per peer.
    EXPECT_LE(errors.count("too many auth connections"), 200u);
    crowd.clear();
    ASSERT_TRUE(loop.RunUntil([&] { return service.clients() == 1; }));

    ASSERT_TRUE(good->Send(RawRecord(16, 2, 9)));
    ASSERT_TRUE(Lines(sink.lines.size() + 1));
    EXPECT_EQ(sink.lines.back(), "len 16 type 2 session 9");
    EXPECT_TRUE(Join()->connected); // still accepting
}

TEST_F(AuthServiceTest, AnswersGoToTheNewestSpeakerOfTheOwner)
{
    int owner = 0, other = 0;
    const std::vector<uint8_t> accept = ModemAuth::MakeAccept(0xFFFFFFFF);
    auto older = Join();
    auto newer = Join();
    sink.owner = &owner;
    size_t n = 0;
    for (Peer* peer : {newer.get(), older.get(), newer.get()}) {
        ASSERT_TRUE(peer->Send(RawRecord(12, 1, 0xFFFFFFFF)));
        ASSERT_TRUE(Lines(++n));
    }

    EXPECT_TRUE(service.Send(&owner, accept));
    EXPECT_FALSE(service.Send(&other, accept));
    loop.Settle();
    EXPECT_EQ(newer->Take(), accept);
    EXPECT_TRUE(older->Take().empty());
    // Its peer gone, a write ends that connection; the older one is next.
    newer->Close();
    EXPECT_FALSE(service.Send(&owner, accept) && service.Send(&owner, accept) && service.Send(&owner, accept));
    EXPECT_TRUE(service.Send(&owner, accept));
    EXPECT_EQ(older->Take(), accept);

    service.Forget(&owner);
    EXPECT_FALSE(service.Send(&owner, accept));
}

TEST_F(AuthServiceTest, AcceptFailurePausesListeningAndARestartGetsThePortBack)
{
    static uint32_t calls, failed;
    calls = 0;
    AuthService::SetAccept([](int, sockaddr*, socklen_t*, int) {
        errno = ++calls == 1 ? ECONNABORTED : calls == 2 ? EINTR : EMFILE; // the first two are no fault
        failed = Mux::milliseconds();
        return -1;
    });
    Peer waiting(service.port());
    bool paused = loop.RunUntil([&] { return !service.IsListening(); });
    const uint32_t pausedBy = Mux::milliseconds();
    loop.Settle();
    AuthService::SetAccept(nullptr);
    ASSERT_TRUE(paused);
    EXPECT_EQ(calls, 3u);
    EXPECT_EQ(errors.count("auth accept failed"), 1u);

    // Listening again after a pause of a second, on a manual clock.
    At(failed + 1000 - 1);
    EXPECT_FALSE(service.IsListening());
    At(pausedBy + 1000);
    EXPECT_TRUE(service.IsListening());
    EXPECT_TRUE(loop.RunUntil([&] { return service.clients() == 1; }));

    // The service closed first: its side of a connection lingers.
    auto first = std::make_unique<AuthService>(sink);
    ASSERT_TRUE(first->Open(0));
    auto peer = test::Join(*first, loop);
    const uint16_t port = first->port();
    first.reset();
    EXPECT_TRUE(AuthService(sink).Open(port));
    EXPECT_FALSE(AuthService(sink).Open(service.port())); // a port in use is refused, not moved
}

} // namespace
} // namespace test
