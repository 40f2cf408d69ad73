#pragma once

// Runs the daemon's real binary in a mount namespace of its own, with
// /var/run, /var/log and /usr/local/etc on temporary folders, so its pid
// file, status dump and configuration stay out of the machine's.

#include <sys/types.h>

#include <string>
#include <vector>

namespace test {

class DaemonProcess {
public:
    DaemonProcess();
    ~DaemonProcess();

    bool Start(std::vector<std::string> args, std::string const& config = "");
    // Waits (bounded) for the process to end; its wait status, -1 on time-out.
    int Wait();
    // Waits (bounded) for a file under the temporary root to appear; false
    // also when the process ended.
    bool WaitFor(std::string const& path);
    // The process ended because no mount namespace can be made here.
    bool NoNamespace() const { return mNoNamespace; }

    std::string Read(std::string const& path) const;
    std::string output() const { return Read("output"); }
    // A temporary path as the daemon's folders map it: "run/server.pid".
    std::string Path(std::string const& relative) const { return mRoot + "/" + relative; }
    pid_t pid() const { return mPid; }

private:
    std::string mRoot;
    pid_t mPid = -1;
    bool mNoNamespace = false;
};

// A TCP port on 127.0.0.1 that nothing listens on just now.
unsigned short FreePort();

} // namespace test
