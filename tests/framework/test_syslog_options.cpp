// The system-log client's options, level mask, facility and identity, each
// at the edge where it starts or stops applying.

#include "framework/syslog_manager.h"

#include "files.h"
#include "log_client.h"

#include <gtest/gtest.h>

#include <syslog.h>
#include <unistd.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

// The record after its priority and its 16-character time stamp.
std::string Body(const std::string& record, int priority)
{
    const std::string head = "<" + std::to_string(priority) + ">";
    EXPECT_EQ(record.compare(0, head.size(), head), 0) << record;
    return record.size() >= head.size() + 16 ? record.substr(head.size() + 16) : "";
}

std::vector<std::string> Sent(SysLogManager& m, const LogSink& sink)
{
    m.sendmsg();
    const std::vector<std::string> got = sink.all();
    return got.size() == 1 ? records(got[0]) : std::vector<std::string>{};
}

TEST(SysLogOptions, ProcessIdCopyToStandardErrorAndNoIdentity)
{
    LogSink sink;
    ASSERT_GE(sink.fd, 0);
    auto m = connected(sink, "id", SysLogManager::OptPid | SysLogManager::OptPerror, 0);
    testing::internal::CaptureStderr();
    m->syslog(LOG_ERR, "one");
    m->syslog(LOG_ERR, "two\n");
    m->syslog(LOG_ERR, "%s", "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "id[" + std::to_string(::getpid()) + "]: one\nid["
                                                          + std::to_string(::getpid()) + "]: two\nid["
                                                          + std::to_string(::getpid()) + "]: \n");
    std::vector<std::string> recs = Sent(*m, sink);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(Body(recs[0], LOG_USER | LOG_ERR), "id[" + std::to_string(::getpid()) + "]: one");

    // Without options: neither; without identity: no ": " either.
    m->openlog("", SysLogManager::OptNDelay, 0);
    testing::internal::CaptureStderr();
    m->syslog(LOG_ERR, "bare");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    recs = Sent(*m, sink);
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(Body(recs[0], LOG_USER | LOG_ERR), "bare");
    m->openlog("", SysLogManager::OptNDelay | SysLogManager::OptPerror, 0);
    testing::internal::CaptureStderr();
    m->syslog(LOG_ERR, "alone");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "alone\n");
    m->sendmsg();
}

TEST(SysLogOptions, MaskLevelsAndTheFacilityBits)
{
    LogSink sink;
    ASSERT_GE(sink.fd, 0);
    auto m = connected(sink, "m", 0, 0);
    // Only error and critical: their neighbours, warning and alert, go.
    EXPECT_EQ(m->setlogmask((1 << LOG_ERR) | (1 << LOG_CRIT)), 255);
    EXPECT_EQ(m->setlogmask(0), (1 << LOG_ERR) | (1 << LOG_CRIT));
    for (int level : {LOG_EMERG, LOG_ALERT, LOG_CRIT, LOG_ERR, LOG_WARNING, LOG_DEBUG})
        m->syslog(level, "level %d", level);
    std::vector<std::string> recs = Sent(*m, sink);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(Body(recs[0], LOG_USER | LOG_CRIT), "m: level 2");
    EXPECT_EQ(Body(recs[1], LOG_USER | LOG_ERR), "m: level 3");
    m->setlogmask(255);

    // A facility is taken only when it has no bits outside 0x3F8.
    const struct {
        int given;
        int used;
    } facilities[] = {{0x3F8, 0x3F8}, {LOG_LOCAL1, LOG_LOCAL1}, {0x3F8 | 1, LOG_LOCAL1}, {0x400, LOG_LOCAL1},
                      {0, LOG_LOCAL1}, {8, 8}};
    for (const auto& f : facilities) {
        m->openlog("m", SysLogManager::OptNDelay, f.given);
        m->syslog(LOG_NOTICE, "f");
        m->syslog(LOG_DAEMON | LOG_NOTICE, "own");
        recs = Sent(*m, sink);
        ASSERT_EQ(recs.size(), 2u) << f.given;
        EXPECT_EQ(Body(recs[0], f.used | LOG_NOTICE), "m: f") << f.given;
        EXPECT_EQ(Body(recs[1], LOG_DAEMON | LOG_NOTICE), "m: own") << f.given;
    }
}

// Twelve full records are 12288 octets, not yet past three quarters of the
// batch; the thirteenth sends them all. Also after a closelog.
TEST(SysLogOptions, BatchPassesThreeQuartersAfterAClose)
{
    LogSink sink;
    ASSERT_GE(sink.fd, 0);
    auto m = connected(sink, "q");
    m->syslog(LOG_ERR, "left behind");
    m->closelog();
    m->openlog("q", SysLogManager::OptNDelay, 0);
    const std::string full(2000, 'f');
    for (int i = 0; i < 12; ++i)
        m->syslog(LOG_ERR, "%s", full.c_str());
    EXPECT_TRUE(sink.all().empty());
    m->syslog(LOG_ERR, "%s", full.c_str());
    const std::vector<std::string> got = sink.all();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), 13u * 1024u);
    EXPECT_EQ(m->sendmsg(), 0);
}

// A caller's buffer of two octets is the smallest taken: one for text,
// one kept for the terminating NUL.
TEST(SysLogOptions, CallersBufferFromTwoOctets)
{
    LogSink sink;
    ASSERT_GE(sink.fd, 0);
    ASSERT_TRUE(syslogManager.set_path_for_test(sink.path.c_str()));
    syslogManager.openlog("cb", SysLogManager::OptNDelay, 0);
    ASSERT_TRUE(syslogManager.connected());
    const int pri = LOG_DAEMON | LOG_INFO;
    char own[3];
    {
        ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_INFO);
        std::ostream os(&buf);
        os << "pending";
        buf.pubsetbuf(own, 1);
        EXPECT_TRUE(sink.all().empty()) << "too small: nothing changes";
        buf.pubsetbuf(own, 2);
        std::vector<std::string> got = sink.all();
        ASSERT_EQ(got.size(), 1u) << "the pending text leaves first";
        EXPECT_EQ(Body(records(got[0]).at(0), pri), "cb: pending");
        os << "xy" << std::flush;
        got = sink.all();
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(Body(records(got[0]).at(0), pri), "cb: x");
        EXPECT_EQ(Body(records(got[1]).at(0), pri), "cb: y");
        buf.pubsetbuf(own, 3);
        os << "zw" << std::flush;
        got = sink.all();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(Body(records(got[0]).at(0), pri), "cb: zw");
    }
    syslogManager.closelog();
    syslogManager.set_path_for_test("/dev/log");
}

} // namespace
