#include "framework/line_stream.h"
#include "framework/syslog_manager.h"

#include "files.h"
#include "log_client.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fcntl.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <memory>
#include <ostream>
#include <string>

namespace {

using Lines = std::vector<std::string>;

// Checks "<pri>Mmm dd hh:mm:ss " and returns what follows.
std::string body(const std::string& record, int expected_priority)
{
    const std::string pri = "<" + std::to_string(expected_priority) + ">";
    const size_t t = pri.size();
    const bool ok = record.compare(0, t, pri) == 0 && record.size() >= t + 16 &&
                    isupper(record[t]) && record[t + 3] == ' ' && isdigit(record[t + 5]) &&
                    record[t + 9] == ':' && record[t + 12] == ':' && record[t + 15] == ' ';
    EXPECT_TRUE(ok) << "bad record head: " << record;
    return ok ? record.substr(t + 16) : "";
}

// The records of the one datagram waiting, each with this priority.
Lines batch(const LogSink& sink, int priority)
{
    const Lines got = sink.all();
    EXPECT_EQ(got.size(), 1u);
    Lines out;
    for (const std::string& r : records(got.empty() ? std::string() : got[0]))
        out.push_back(body(r, priority));
    return out;
}

TEST(SysLogManager, RecordFormat)
{
    LogSink sink;
    ASSERT_GE(sink.fd, 0);
    auto m = connected(sink, "kmx-T1", 0, LOG_DAEMON);
    // The log socket is not handed to programs the daemon starts.
    EXPECT_EQ(fcntl(m->fd(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);

    m->syslog(LOG_ERR, "value %d %s", 5, "x");
    m->syslog(LOG_LOCAL0 | LOG_INFO, "facility given");
    EXPECT_GT(m->sendmsg(), 0);
    const Lines got = sink.all();
    ASSERT_EQ(got.size(), 1u);
    const Lines recs = records(got[0]);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(body(recs[0], LOG_DAEMON | LOG_ERR), "kmx-T1: value 5 x");
    EXPECT_EQ(body(recs[1], LOG_LOCAL0 | LOG_INFO), "kmx-T1: facility given");

    // Process id after the identity; an empty identity drops ": "; a
    // facility with bits outside the facility field is ignored.
    m->openlog("kmx", SysLogManager::OptPid | SysLogManager::OptNDelay, 0);
    m->syslog(LOG_NOTICE, "with pid");
    m->openlog("", SysLogManager::OptNDelay, 0);
    m->syslog(LOG_NOTICE, "no ident");
    m->openlog("f", SysLogManager::OptNDelay, 5);
    m->syslog(LOG_NOTICE, "still daemon");
    m->sendmsg();
    EXPECT_EQ(batch(sink, LOG_DAEMON | LOG_NOTICE),
              (Lines{"kmx[" + std::to_string(getpid()) + "]: with pid", "no ident", "f: still daemon"}));

    // closelog drops the waiting batch and restores the default identity.
    m->syslog(LOG_NOTICE, "dropped");
    m->closelog();
    EXPECT_FALSE(m->connected());
    EXPECT_EQ(m->sendmsg(), 0);
    m->syslog(LOG_NOTICE, "again");
    m->sendmsg();
    EXPECT_EQ(batch(sink, LOG_DAEMON | LOG_NOTICE), Lines{"syslog-sx: again"});
}

TEST(SysLogManager, MaskCutAndLiteralText)
{
    LogSink sink;
    auto m = connected(sink, "id");
    EXPECT_EQ(m->setlogmask(LOG_UPTO(LOG_WARNING)), 0xFF);
    m->syslog(LOG_DEBUG, "masked");
    m->log_text(LOG_INFO, "masked", 6);
    EXPECT_EQ(m->sendmsg(), 0);
    EXPECT_EQ(m->setlogmask(0), LOG_UPTO(LOG_WARNING)); // 0 only reads

    const std::string literal = "100%s done %n %d%%";
    m->log_text(LOG_ERR, literal.data(), literal.size());
    // An embedded NUL must not start a forged record.
    const std::string forged("ok\0<0>Jan  1 00:00:00 root: forged", 34);
    m->log_text(LOG_ERR, forged.data(), forged.size());
    const std::string longText(3000, 'y');
    m->log_text(LOG_ERR, longText.data(), longText.size());
    m->syslog(LOG_ERR, "%s", longText.c_str());
    m->sendmsg();
    const Lines recs = records(sink.all().at(0));
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(body(recs[0], LOG_USER | LOG_ERR), "id: " + literal);
    EXPECT_EQ(body(recs[1], LOG_USER | LOG_ERR), "id: ok");
    EXPECT_EQ(recs[2].size(), 1023u);
    EXPECT_EQ(recs[3], recs[2]);
}

TEST(SysLogManager, BatchLimits)
{
    LogSink sink;
    auto m = connected(sink, "b");
    // Full-size records: the 13th passes three quarters of the batch.
    const std::string big(1500, 'z');
    for (int i = 0; i < 14; ++i)
        m->log_text(LOG_INFO, big.data(), big.size());
    Lines got = sink.all();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), 13u * 1024u);
    m->sendmsg();
    got = sink.all();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), 1024u);
}

TEST(SysLogManager, SocketAtDescriptorZeroIsUsed)
{
    LogSink sink;
    const int saved = dup(0);
    ASSERT_GE(saved, 0);
    close(0);
    auto m = connected(sink, "zero");
    const int fd = m->fd();
    m->syslog(LOG_INFO, "via zero");
    m->sendmsg();
    m->closelog();
    dup2(saved, 0);
    close(saved);
    EXPECT_EQ(fd, 0);
    EXPECT_EQ(batch(sink, LOG_USER | LOG_INFO), Lines{"zero: via zero"});
}

TEST(SysLogManager, StreamSocketFallback)
{
    LogSink sink(SOCK_STREAM);
    ASSERT_GE(sink.fd, 0);
    auto m = connected(sink, "st");
    m->syslog(LOG_INFO, "one");
    m->syslog(LOG_INFO, "two");
    EXPECT_GT(m->sendmsg(), 0);

    const int peer = accept(sink.fd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    std::string data;
    char buf[4096];
    pollfd p{peer, POLLIN, 0};
    ssize_t n;
    while (records(data).size() < 2 && poll(&p, 1, 5000) == 1 && (n = read(peer, buf, sizeof buf)) > 0)
        data.append(buf, static_cast<size_t>(n));
    close(peer);
    const Lines recs = records(data);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(body(recs[0], LOG_USER | LOG_INFO), "st: one");
    EXPECT_EQ(body(recs[1], LOG_USER | LOG_INFO), "st: two");

    // The reader went away: the full batch's send fails, and the record that
    // filled it goes out again on a new connection.
    const std::string big(1500, 'z');
    for (int i = 0; i < 12; ++i)
        m->log_text(LOG_INFO, big.data(), big.size());
    m->syslog(LOG_INFO, "three");
    m->sendmsg();
    pollfd l{sink.fd, POLLIN, 0};
    ASSERT_EQ(poll(&l, 1, 0), 1);
    const int again = accept(sink.fd, nullptr, nullptr);
    pollfd q{again, POLLIN, 0};
    n = poll(&q, 1, 5000) == 1 ? read(again, buf, sizeof buf) : -1;
    close(again);
    EXPECT_EQ(n > 0 ? body(records(std::string(buf, size_t(n))).at(0), LOG_USER | LOG_INFO) : "", "st: three");
}

TEST(SysLogManager, UnreachableLogLosesRecordsQuietly)
{
    TempDir dir;
    SysLogManager m;
    ASSERT_TRUE(m.set_path_for_test((dir.path + "/none").c_str()));
    EXPECT_FALSE(m.set_path_for_test(std::string(200, 'p').c_str()));
    m.openlog("lost", SysLogManager::OptNDelay | SysLogManager::OptPerror, 0);
    EXPECT_FALSE(m.connected());
    // The copy to standard error still happens.
    testing::internal::CaptureStderr();
    m.syslog(LOG_ERR, "to stderr");
    m.syslog(LOG_ERR, "ends with newline\n");
    EXPECT_EQ(m.sendmsg(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "lost: to stderr\nlost: ends with newline\n");
}

TEST(SysLogManager, FullReaderDropsAndCountsInsteadOfBlocking)
{
    LogSink sink;
    auto m = connected(sink, "kmx");
    EXPECT_TRUE(fcntl(m->fd(), F_GETFL) & O_NONBLOCK);
    // Nobody reads: batches pile up until the socket has no room.
    unsigned sent = 0;
    for (; m->dropped() == 0 && sent < 100000; ++sent) {
        m->syslog(LOG_ERR, "line %u", sent);
        const int r = m->sendmsg();
        EXPECT_EQ(r > 0, m->dropped() == 0);
    }
    ASSERT_EQ(m->dropped(), 1u);
    m->syslog(LOG_ERR, "one");
    m->syslog(LOG_ERR, "two");
    EXPECT_EQ(m->sendmsg(), 0);
    EXPECT_EQ(m->dropped(), 3u);

    // Every line either arrived or is counted.
    const Lines got = sink.all();
    EXPECT_EQ(got.size(), sent - 1);
    // The next batch that leaves says how many were lost, then its own.
    m->syslog(LOG_ERR, "after");
    EXPECT_GT(m->sendmsg(), 0);
    EXPECT_EQ(m->dropped(), 0u);
    const Lines next = sink.all();
    ASSERT_EQ(next.size(), 1u);
    const Lines recs = records(next[0]);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(body(recs[0], LOG_USER | LOG_WARNING), "kmx: 3 log lines dropped");
    EXPECT_EQ(body(recs[1], LOG_USER | LOG_ERR), "kmx: after");
}

// ---- stream buffers -------------------------------------------------------

TEST(LineStreamBuf, OneWritePerLineWhateverTheInsertions)
{
    // Each write is one packet here, so the reads count the writes.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    auto packets = [&] {
        Lines got;
        char buf[8192];
        ssize_t n;
        while ((n = recv(pair[1], buf, sizeof buf, MSG_DONTWAIT)) > 0)
            got.emplace_back(buf, static_cast<size_t>(n));
        return got;
    };
    {
        LineStreamBuf buf(pair[0], 64);
        std::ostream os(&buf);
        os << std::unitbuf; // as std::cerr: a flush after every insertion
        os << "Mux: " << 1 << ' ' << "two" << std::endl;
        EXPECT_EQ(packets(), Lines{"Mux: 1 two\n"});
        os << "a\nb\n" << "c";
        EXPECT_EQ(packets(), Lines{"a\nb\n"});
        // A line longer than the area leaves in pieces of the area's size.
        os << std::string(100, 'x') << "\n";
        EXPECT_EQ(packets(), (Lines{"c" + std::string(63, 'x'), std::string(37, 'x') + "\n"}));
        os << "tail";
        errno = EMFILE;
        close(pair[1]);
        pair[1] = -1;
        os << " lost\n"; // a reader gone: dropped, errno kept
        EXPECT_EQ(errno, EMFILE);
    }
    close(pair[0]);
}

struct ManagedStream : ::testing::Test {
    LogSink sink;
    void SetUp() override
    {
        ASSERT_TRUE(syslogManager.set_path_for_test(sink.path.c_str()));
        syslogManager.openlog("kmx-test", SysLogManager::OptNDelay, 0);
        ASSERT_TRUE(syslogManager.connected());
    }
    void TearDown() override
    {
        syslogManager.closelog();
        syslogManager.set_path_for_test("/dev/log");
    }
};

TEST_F(ManagedStream, LinesOfOneFlushShareADatagram)
{
    const int pri = LOG_DAEMON | LOG_NOTICE;
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_NOTICE);
    std::ostream os(&buf);
    os << "first\nsecond %s %n\n" << std::flush;
    EXPECT_EQ(batch(sink, pri), (Lines{"kmx-test: first", "kmx-test: second %s %n"}));

    // Without a newline the text waits; empty lines count; the text after
    // the last newline leaves with them.
    os << "partial" << std::flush;
    EXPECT_TRUE(sink.all().empty());
    os << " end\n\ntail" << std::flush;
    EXPECT_EQ(batch(sink, pri), (Lines{"kmx-test: partial end", "kmx-test: ", "kmx-test: tail"}));

    // 300 lines in one flush: one datagram at the 256th record, one at the end.
    for (int i = 0; i < 300; ++i)
        os << "l" << i << "\n";
    EXPECT_TRUE(sink.all().empty());
    os.flush();
    Lines got = sink.all();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(records(got[0]).size(), 256u);
    EXPECT_EQ(records(got[1]).size(), 44u);

    // A full put area without a newline becomes one record, cut to size.
    os << std::string(16383, 'a') << std::flush;
    got = sink.all();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(records(got[0]).size(), 1u);
    EXPECT_EQ(records(got[0])[0].size(), 1023u);
    // One more character than fits: the full area leaves, the rest waits.
    os << std::string(16384, 'b');
    got = sink.all();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(records(got[0]).size(), 1u);
    os << "\n" << std::flush;
    EXPECT_EQ(batch(sink, pri), Lines{"kmx-test: b"});
}

TEST_F(ManagedStream, PendingTextSurvivesBufferChangeAndDestruction)
{
    const int pri = LOG_DAEMON | LOG_ERR;
    char own[64];
    {
        // Nothing pending: the caller's buffer is simply not freed.
        SysLogStreamBuf plain(LOG_DAEMON, LOG_INFO);
        plain.pubsetbuf(own, sizeof own);
    }
    {
        ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
        std::ostream os(&buf);
        os << "before" << std::flush;
        EXPECT_TRUE(sink.all().empty());
        // The caller's buffer is not freed by the stream buffer.
        buf.pubsetbuf(own, sizeof own);
        EXPECT_EQ(batch(sink, pri), Lines{"kmx-test: before"});
        // Its put area keeps one byte for the NUL: 63 characters fill it.
        os << std::string(63, 'c') << std::flush;
        EXPECT_EQ(batch(sink, pri), Lines{"kmx-test: " + std::string(63, 'c')});
        buf.pubsetbuf(own, 1);
        os << "last words";
    }
    EXPECT_EQ(batch(sink, pri), Lines{"kmx-test: last words"});
}

} // namespace
