// Starting a program as a child process: the child's descriptors 0, 1 and 2
// are set where it is forked, the arguments go to execv as they are (no
// shell), and a child that cannot run the program ends with _exit, so no
// static destructor of the daemon runs in it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace Spawn {

// A standard descriptor of the child: an open descriptor of the caller, or
// the null device.
constexpr int kNull = -1;

struct Stdio
{
    int in = kNull;
    int out = kNull;
    int err = kNull;
};

// Forks and executes 'path' with 'argv' (argv[0] included) and the caller's
// environment. The child gets stdio on 0, 1 and 2, the default action for
// every signal the caller handles, an empty signal mask and none of the
// caller's other descriptors. When the
// program cannot be executed, or a descriptor cannot be set, the child ends
// with _exit(failStatus). The pid, or -1 with errno when fork fails.
pid_t Start(const std::string& path, const std::vector<std::string>& argv, const Stdio& stdio, int failStatus);

} // namespace Spawn
