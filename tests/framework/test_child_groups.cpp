// A child that leaves the daemon's process group, as pppd does with its
// own session, is still reaped and reported.

#include "child_helpers.h"

#include <unistd.h>

using namespace looptest;

namespace {

pid_t spawn_own_group(int code)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::_exit(code);
    }
    siginfo_t info;
    while (::waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR)
        ;
    return pid;
}

TEST_F(ChildWaitTest, AChildInItsOwnProcessGroupIsReaped)
{
    Owner owner;
    owner.watch.Bind(&owner, &Owner::ended);
    const pid_t pid = spawn_own_group(6);
    owner.watch.Attach(pid);
    const std::string log = run_loop();
    EXPECT_EQ(owner.results, (std::vector<std::pair<int, int>>{{pid, 6 << 8}}));
    EXPECT_NE(log.find("terminate child process, pid=" + std::to_string(pid) + " status=1536\n"), std::string::npos);
}

} // namespace
