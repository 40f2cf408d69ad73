#include "loop_helpers.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

using namespace looptest;

namespace {

bool is_open(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

using EventTest = LoopTest;

TEST_F(EventTest, ScheduleKeepsOwnDuplicateAndRearmsAtTheEnd)
{
    Log log;
    Pair p1, p2, p3;
    Recorder a(log, "a"), b(log, "b");
    a.event.Schedule(p1.a, POLLIN);
    b.event.Schedule(p2.a, POLLIN);
    ASSERT_TRUE(a.event.IsActive());
    const int first_dup = a.event.lowlevel_fd();
    EXPECT_NE(first_dup, p1.a.lowlevel_fd());
    EXPECT_TRUE(::fcntl(first_dup, F_GETFD) & FD_CLOEXEC);

    // Re-arming closes the old duplicate and moves "a" behind "b".
    a.event.Schedule(p3.a, POLLIN);
    EXPECT_FALSE(is_open(first_dup) && first_dup != a.event.lowlevel_fd());
    EXPECT_TRUE(is_open(p1.a.lowlevel_fd())); // the caller's own stays
    a.action = [] { multiplexer.terminate(); };
    p2.send_to_a();
    multiplexer.run(false, true);
    EXPECT_EQ(log, (Log{"b:1", "a:0"}));

    // An invalid descriptor disarms.
    EXPECT_TRUE(a.event.Schedule(Fd(), POLLIN));
    EXPECT_FALSE(a.event.IsActive());
    EXPECT_FALSE(multiplexer.event_exists(&a.event));

    // Out of descriptors: the own copy cannot be made, and the owner is told.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    const int lowest = ::fcntl(0, F_DUPFD, 0);
    ::close(lowest);
    rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    errno = 0;
    const bool armed = a.event.Schedule(p1.a, POLLIN);
    const int cause = errno;
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_FALSE(armed);
    EXPECT_EQ(cause, EMFILE);
    EXPECT_FALSE(a.event.IsActive());
    EXPECT_FALSE(multiplexer.event_exists(&a.event));

    const int dup = b.event.lowlevel_fd();
    EXPECT_EQ(b.event.Release(), 0);
    EXPECT_FALSE(is_open(dup));
    errno = 0;
    EXPECT_EQ(b.event.Release(), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(EventTest, BindingReplacesAndNullActionDoesNothing)
{
    Log log;
    Pair p;
    Recorder r(log, "first");
    Recorder other(log, "second");
    // Rebinding the event of "r" to the other recorder renames it.
    r.event.Bind("renamed", &Recorder::on_event, &other);
    EXPECT_EQ(r.event.event_name(), "renamed");
    r.event.svc_event(short(POLLIN));
    EXPECT_EQ(log, (Log{"second:1"}));

    r.event.Bind(new Event::THandler<Recorder>(nullptr, &r));
    r.event.svc_event(short(POLLIN));
    r.event.UnBind();
    EXPECT_FALSE(r.event.is_bound());
    r.event.svc_event(short(POLLIN));
    EXPECT_EQ(log.size(), 1u);
}

TEST_F(EventTest, EmptyMaskStillSeesHangUpAndCallbackMayDestroyEvent)
{
    Log log;
    Pair p1, p2;
    auto* doomed = new Recorder(log, "doomed");
    Recorder after(log, "after");
    doomed->event.Schedule(p1.a, POLLIN);
    doomed->event.SetEvents(0);
    EXPECT_TRUE(multiplexer.event_exists(&doomed->event));
    after.event.Schedule(p2.a, POLLIN);
    doomed->action = [&] { delete doomed; };
    after.action = [] { multiplexer.terminate(); };
    p1.b.close(); // hang-up on an event that asks for nothing
    multiplexer.run(false, true);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "doomed:" + std::to_string(POLLHUP));
    EXPECT_EQ(log[1], "after:0");
}

TEST_F(EventTest, StatusDumpNamesEachEventAndItsPollBits)
{
    EXPECT_EQ(PollEventAsText(0) + "," + PollEventAsText(5) + "," + PollEventAsText(short(0xF800 | 1024 | 8 | 2)),
              ",POLLIN|POLLOUT,POLLPRI|POLLERR|POLLMSG");
    EXPECT_EQ(PollEventAsText(0x7FF), "POLLIN|POLLPRI|POLLOUT|POLLERR|POLLHUP|POLLNVAL|POLLRDNORM|POLLRDBAND|"
                                      "POLLWRNORM|POLLWRBAND|POLLMSG");
    Log log;
    Pair p1, p2;
    Recorder out(log, "out"), in(log, "in");
    out.event.Schedule(p2.a, POLLIN | POLLOUT);
    out.event.UnBind();
    in.event.Schedule(p1.a, POLLIN | POLLPRI);
    in.action = [] { multiplexer.terminate(); };
    p1.send_to_a();
    multiplexer.run(false, true);
    std::ostringstream os;
    multiplexer.dump(os);
    const int widths[] = {40, 30, 10, 10, 5, 60};
    std::string delim, zero = "min=0 max=0 avg=0 counter=0", text = os.str();
    auto row = [&](std::vector<std::string> cells) {
        std::string r;
        for (int k = 0; k < 6; ++k) {
            const int spare = std::max(0, widths[k] - int(cells[k].size()));
            r += "|" + std::string(spare / 2, ' ') + cells[k] + std::string((spare + 1) / 2, ' ');
        }
        return r + "|\n";
    };
    for (int w : widths)
        delim += "+" + std::string(w, '-');
    delim += "+\n";
    EXPECT_EQ(0u, text.find("dpc transition measurement (min/max/cur/counter): min="));
    EXPECT_NE(text.find("\nevent transition measurement (min/max/cur/counter): min="), text.npos);
    EXPECT_NE(text.find("\ntimer transition measurement (min/max/cur/counter): min="), text.npos);
    EXPECT_NE(text.find(delim + row({"name", "events", "count", "handler", "fd", "measure"}) + delim), text.npos);
    const std::string tail = row({"out", "POLLIN|POLLOUT", "1", "unattached", std::to_string(out.event.lowlevel_fd()), zero}) +
                             row({"in", "POLLIN|POLLPRI", "1", "attached", std::to_string(in.event.lowlevel_fd()), zero}) +
                             delim + "\n";
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), tail.size())), tail);
}

} // namespace
