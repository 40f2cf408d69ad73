#include "core/signal_watch.h"

#include "core/slots.h"
#include "framework/fd.h"
#include "framework/multiplexer.h"
#include "framework/signals.h"
#include "framework/version.h"

#include <fstream>
#include <iostream>

volatile sig_atomic_t SignalWatch::sStop = 0;
volatile sig_atomic_t SignalWatch::sDump = 0;
volatile sig_atomic_t SignalWatch::sUpdate = 0;

namespace {

void OnPipe(int)
{
}

void OnStop(int)
{
    SignalWatch::sStop = 1;
    multiplexer.terminate();
}

void OnDump(int)
{
    SignalWatch::sDump = 1;
}

void OnUpdate(int)
{
    SignalWatch::sUpdate = 1;
}

} // namespace

SignalWatch& SignalWatch::instance()
{
    static SignalWatch watch;
    return watch;
}

bool SignalWatch::Install()
{
    bool ok = IPC::Signal::handle(SIGPIPE, OnPipe, 0) == 0;
    ok = IPC::Signal::handle(SIGTERM, OnStop, 0) == 0 && ok;
    ok = IPC::Signal::handle(SIGINT, OnStop, 0) == 0 && ok;
    ok = IPC::Signal::handle(SIGUSR2, OnDump, SA_RESTART) == 0 && ok;
    ok = IPC::Signal::handle(SIGHUP, OnUpdate, SA_RESTART) == 0 && ok;
    if (!ok) {
        const Errno cause; // before the stream can change errno
        std::cerr << "server: signal handlers not installed: " << cause << std::endl;
    }
    return ok;
}

void SignalWatch::Start()
{
    mDpc.Bind(this, &SignalWatch::Check);
    mDpc.Activate();
}

void SignalWatch::Stop()
{
    mDpc.Deactivate();
}

void SignalWatch::PutStatus(std::ostream& os)
{
    os << "version: " << Version::current << "\n";
    multiplexer.dump(os);
    Slots::instance().Put(os);
}

void SignalWatch::Check()
{
    // The loop clears its end flag when it starts.
    if (sStop)
        multiplexer.terminate();
    if (sDump) {
        sDump = 0;
        std::ofstream file(mStatusPath, std::ios::trunc);
        if (file) {
            PutStatus(file);
            file.flush();
        }
        if (!file) {
            const Errno cause; // before the stream can change errno
            std::cerr << "server: status not written to " << mStatusPath << ": " << cause << std::endl;
        }
    }
    if (sUpdate) {
        sUpdate = 0;
        if (mUpdate)
            mUpdate();
    }
}
