#pragma once

#include "framework/dpc.h"

#include <csignal>
#include <iosfwd>
#include <string>

// The daemon's signals: SIGPIPE does nothing, SIGTERM and SIGINT end the
// loop, SIGUSR2 and SIGHUP raise flags that a deferred call of the loop
// turns into a status dump and a resource update.
class SignalWatch
{
public:
    static constexpr const char* kStatusFile = "/var/log/server-status";

    static SignalWatch& instance();

    // Installs the handlers; false when one could not be installed.
    bool Install();
    // Starts the deferred call that serves the flags.
    void Start();
    void Stop();

    // Writes the status dump: version, loop statistics, the slot table.
    static void PutStatus(std::ostream& os);

    void set_status_path(const std::string& path) { mStatusPath = path; }
    // The resource update that SIGHUP asks for.
    void set_update(void (*update)()) { mUpdate = update; }

    // Serves the raised flags (the deferred call's body). A stop is kept:
    // one that came before the loop started still ends it.
    void Check();

    static volatile sig_atomic_t sStop;
    static volatile sig_atomic_t sDump;
    static volatile sig_atomic_t sUpdate;

private:
    SignalWatch() = default;

    Dpc mDpc;
    std::string mStatusPath = kStatusFile;
    void (*mUpdate)() = nullptr;
};
