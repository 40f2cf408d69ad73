#include "framework/spawn.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

struct Pipe
{
    int fd[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(fd, O_CLOEXEC), 0); }
    ~Pipe()
    {
        close_end(0);
        close_end(1);
    }
    void close_end(int i)
    {
        if (fd[i] >= 0)
            ::close(fd[i]);
        fd[i] = -1;
    }
    std::string name() const
    {
        struct stat st;
        EXPECT_EQ(::fstat(fd[0], &st), 0);
        return "pipe:[" + std::to_string(st.st_ino) + "]";
    }
    std::string drain()
    {
        close_end(1);
        std::string text;
        char buf[256];
        ssize_t n;
        while ((n = ::read(fd[0], buf, sizeof buf)) > 0)
            text.append(buf, static_cast<size_t>(n));
        return text;
    }
};

int wait_status(pid_t pid)
{
    int status = -1;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return status;
}

// The child reports what its descriptors 0, 1, 2 and 3 are; 3 must not exist
// (readlink then ends with 1).
const std::vector<std::string> kShowFds = {"readlink", "/proc/self/fd/0", "/proc/self/fd/1", "/proc/self/fd/2",
                                           "/proc/self/fd/3"};

} // namespace

TEST(Spawn, ChildFindsItsStandardDescriptorsAndNothingElse)
{
    Pipe in, out;
    const int inherited = ::open("/dev/null", O_RDONLY); // not close-on-exec
    std::vector<std::string> args = kShowFds;
    args.push_back("/proc/self/fd/" + std::to_string(inherited));
    const pid_t pid = Spawn::Start("/bin/readlink", args, {in.fd[0], out.fd[1], Spawn::kNull}, 99);
    ::close(inherited);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(out.drain(), in.name() + "\n" + out.name() + "\n/dev/null\n");
    const int status = wait_status(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

TEST(Spawn, SourcesThatAreThemselvesStandardDescriptorsAreSwappedSafely)
{
    // In a child of the test: the input source is descriptor 1, the output 0.
    Pipe in, out;
    const pid_t tester = ::fork();
    ASSERT_GE(tester, 0);
    if (tester == 0) {
        ::dup2(out.fd[1], 0);
        ::dup2(in.fd[0], 1);
        const pid_t pid = Spawn::Start("/bin/readlink", kShowFds, {1, 0, Spawn::kNull}, 99);
        int status = 0;
        ::_exit(pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : 98);
    }
    EXPECT_EQ(out.drain(), in.name() + "\n" + out.name() + "\n/dev/null\n");
    const int status = wait_status(tester);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

TEST(Spawn, ArgumentsReachTheProgramUnchangedAndAFailedExecEndsWithTheGivenStatus)
{
    Pipe out;
    const pid_t pid = Spawn::Start("/bin/echo", {"echo", "a b;c", "$HOME", "`id`"}, {Spawn::kNull, out.fd[1], Spawn::kNull}, 99);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(out.drain(), "a b;c $HOME `id`\n");
    EXPECT_EQ(wait_status(pid), 0);

    const int failed = wait_status(Spawn::Start("/nonexistent/program", {"program"}, {}, 1005));
    EXPECT_TRUE(WIFEXITED(failed) && WEXITSTATUS(failed) == 237) << failed;
}
