#include "framework/fd.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sstream>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool is_open(int fd)
{
    return ::fcntl(fd, F_GETFD) >= 0;
}

bool has_cloexec(int fd)
{
    int f = ::fcntl(fd, F_GETFD);
    return f >= 0 && (f & FD_CLOEXEC);
}

int open_count()
{
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd)
        n += is_open(fd);
    return n;
}

// A raw descriptor without close-on-exec, as a foreign call would hand it over.
int raw_pipe_end(int& other)
{
    int p[2];
    EXPECT_EQ(0, ::pipe(p));
    other = p[1];
    return p[0];
}

} // namespace

TEST(Fd, TakesOwnershipAndMarksCloseOnExec)
{
    int w;
    int r = raw_pipe_end(w);
    ASSERT_FALSE(has_cloexec(r));
    {
        Fd fd(r);
        EXPECT_TRUE(fd.is_valid());
        EXPECT_TRUE(static_cast<bool>(fd));
        EXPECT_EQ(r, fd.lowlevel_fd());
        EXPECT_TRUE(has_cloexec(r));
    }
    EXPECT_FALSE(is_open(r));
    ::close(w);
}

TEST(Fd, CopiesAreDistinctDescriptorsEachClosedByItsHolder)
{
    int w;
    int r = raw_pipe_end(w);
    int copy_fd, assigned_fd;
    {
        Fd a(r);
        Fd b(a);
        copy_fd = b.lowlevel_fd();
        EXPECT_NE(r, copy_fd);
        EXPECT_TRUE(has_cloexec(copy_fd));

        Fd c;
        c = a;
        assigned_fd = c.lowlevel_fd();
        EXPECT_TRUE(has_cloexec(assigned_fd));

        // Assignment closes the descriptor held before.
        int before = open_count();
        c = b;
        EXPECT_EQ(before, open_count());
        assigned_fd = c.lowlevel_fd();

        c = c;
        EXPECT_EQ(assigned_fd, c.lowlevel_fd());
        EXPECT_TRUE(is_open(assigned_fd));

        // Closing one holder leaves the others open.
        EXPECT_EQ(0, b.close());
        EXPECT_EQ(-1, b.lowlevel_fd());
        EXPECT_TRUE(is_open(r));
        EXPECT_TRUE(is_open(assigned_fd));
    }
    EXPECT_FALSE(is_open(r));
    EXPECT_FALSE(is_open(copy_fd));
    EXPECT_FALSE(is_open(assigned_fd));
    ::close(w);
}

TEST(Fd, InvalidHandleTouchesNothing)
{
    Fd none;
    EXPECT_FALSE(none.is_valid());
    EXPECT_FALSE(static_cast<bool>(none));
    EXPECT_EQ(-1, none.dup());
    Fd copy(none);
    EXPECT_EQ(-1, copy.lowlevel_fd());
    EXPECT_FALSE(none.NonBlock());

    errno = 0;
    EXPECT_EQ(-1, none.close());
    EXPECT_EQ(EBADF, errno);
    errno = 0;
    EXPECT_EQ(-1, close(none));
    EXPECT_EQ(EBADF, errno);

    // Going out of scope must not disturb the errno of an earlier failure.
    errno = ENOENT;
    {
        Fd gone;
        Fd also(::dup(0));
    }
    EXPECT_EQ(ENOENT, errno);
}

TEST(Fd, OpenReplacesAndKeepsErrnoOnFailure)
{
    Fd fd;
    ASSERT_TRUE(fd.open("/dev/null", O_RDONLY));
    int first = fd.lowlevel_fd();
    EXPECT_TRUE(has_cloexec(first));

    ASSERT_TRUE(fd.open("/dev/null", O_WRONLY));
    EXPECT_EQ(O_WRONLY, ::fcntl(fd.lowlevel_fd(), F_GETFL) & O_ACCMODE);
    EXPECT_TRUE(has_cloexec(fd.lowlevel_fd()));

    errno = 0;
    EXPECT_FALSE(fd.open("/nonexistent/path/for/fd/test", O_RDONLY));
    EXPECT_EQ(ENOENT, errno);
    EXPECT_FALSE(fd.is_valid());
    EXPECT_FALSE(is_open(first));
}

TEST(Fd, WriteAndDescriptorModes)
{
    int sv[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
    Fd a(sv[0]), b(sv[1]);
    EXPECT_EQ(3, write(a, "abc", 3));
    char buf[4] = {};
    EXPECT_EQ(3, ::read(b.lowlevel_fd(), buf, sizeof(buf)));
    EXPECT_STREQ("abc", buf);

    EXPECT_TRUE(b.NonBlock());
    EXPECT_TRUE(::fcntl(b.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
    errno = 0;
    EXPECT_EQ(-1, ::read(b.lowlevel_fd(), buf, sizeof(buf)));
    EXPECT_EQ(EAGAIN, errno);
    EXPECT_TRUE(BlockMode(b.lowlevel_fd()));
    EXPECT_FALSE(::fcntl(b.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(NonBlockMode(b.lowlevel_fd()));

    EXPECT_FALSE(NonBlockMode(-1));
    EXPECT_FALSE(BlockMode(-1));
}

// Success must read as true: callers test `if (!SetCloexec(...))` for failure.
TEST(Fd, SetCloexecReportsSuccessAsTrue)
{
    int w;
    int r = raw_pipe_end(w);
    EXPECT_TRUE(SetCloexec(r, true));
    EXPECT_TRUE(has_cloexec(r));
    EXPECT_TRUE(SetCloexec(r, false));
    EXPECT_TRUE(is_open(r));
    EXPECT_FALSE(has_cloexec(r));
    ::close(r);
    ::close(w);

    EXPECT_FALSE(SetCloexec(r, true));
    EXPECT_FALSE(SetCloexec(-1, false));
}

TEST(Errno, CapturesAndPrintsItsText)
{
    errno = ENOENT;
    Errno e;
    errno = 0;
    EXPECT_EQ(ENOENT, e.value());
    std::ostringstream os;
    os << e;
    EXPECT_EQ(std::strerror(ENOENT), os.str());
}
