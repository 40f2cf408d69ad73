#include "framework/fd.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }

bool has_cloexec(int fd)
{
    int f = ::fcntl(fd, F_GETFD);
    return f >= 0 && (f & FD_CLOEXEC);
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

TEST(Fd, OwnershipCopiesAndCloseOnExec)
{
    int w;
    int r = raw_pipe_end(w);
    ASSERT_FALSE(has_cloexec(r));
    int copy_fd, assigned_fd, replaced_fd;
    {
        Fd a(r);
        EXPECT_TRUE(has_cloexec(r));
        Fd b(a);
        copy_fd = b.lowlevel_fd();
        EXPECT_NE(r, copy_fd);
        EXPECT_TRUE(has_cloexec(copy_fd));

        Fd c;
        c = a;
        replaced_fd = c.lowlevel_fd();
        EXPECT_TRUE(has_cloexec(replaced_fd));
        // Assignment closes the descriptor held before; self-assignment keeps it.
        c = b;
        EXPECT_FALSE(is_open(replaced_fd) && replaced_fd != c.lowlevel_fd());
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

TEST(Fd, InvalidHandlesAndFailedOpenKeepErrno)
{
    Fd none;
    EXPECT_FALSE(none.is_valid());
    EXPECT_EQ(-1, none.dup());
    EXPECT_FALSE(none.NonBlock());
    errno = 0;
    EXPECT_EQ(-1, none.close());
    EXPECT_EQ(EBADF, errno);

    // Going out of scope must not disturb the errno of an earlier failure,
    // also when its own close fails.
    {
        Fd gone;
        Fd also(::dup(0));
        ::close(also.lowlevel_fd());
        errno = ENOENT;
    }
    EXPECT_EQ(ENOENT, errno);
    // Nor does taking over a failed open's result: its cause is read after.
    Fd unopened;
    errno = EMFILE;
    unopened = Fd(-1);
    EXPECT_EQ(EMFILE, errno);

    Fd fd;
    ASSERT_TRUE(fd.open("/dev/null", O_RDONLY));
    const int first = fd.lowlevel_fd();
    EXPECT_TRUE(has_cloexec(first));
    ASSERT_TRUE(fd.open("/dev/null", O_WRONLY));
    EXPECT_EQ(O_WRONLY, ::fcntl(fd.lowlevel_fd(), F_GETFL) & O_ACCMODE);
    errno = 0;
    EXPECT_FALSE(fd.open("/nonexistent/path/for/fd/test", O_RDONLY));
    EXPECT_EQ(ENOENT, errno);
    EXPECT_FALSE(fd.is_valid());
    EXPECT_FALSE(is_open(first));
}

// Success must read as true: callers test `if (!SetCloexec(...))` for failure.
TEST(Fd, SetCloexecAndBlockModesReportSuccessAsTrue)
{
    int w;
    int r = raw_pipe_end(w);
    EXPECT_TRUE(SetCloexec(r, true));
    EXPECT_TRUE(has_cloexec(r));
    EXPECT_TRUE(SetCloexec(r, false));
    EXPECT_FALSE(has_cloexec(r));

    EXPECT_TRUE(NonBlockMode(r));
    char c;
    errno = 0;
    EXPECT_EQ(-1, ::read(r, &c, 1));
    EXPECT_EQ(EAGAIN, errno);
    EXPECT_TRUE(BlockMode(r));
    EXPECT_FALSE(::fcntl(r, F_GETFL) & O_NONBLOCK);
    ::close(r);
    ::close(w);

    EXPECT_FALSE(SetCloexec(r, true));
    EXPECT_FALSE(SetCloexec(-1, false));
    EXPECT_FALSE(NonBlockMode(-1));
    EXPECT_FALSE(BlockMode(-1));
}
