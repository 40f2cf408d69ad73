// Gateway control daemon entry point.

#include "board/e1_service.h"
#include "board/hw_mux.h"
#include "core/command_line.h"
#include "core/ctrl_srv.h"
#include "core/heartbeat.h"
#include "core/signal_watch.h"
#include "core/slots.h"
#include "core/slots_service.h"
#include "core/traces.h"
#include "core/trunk_slot.h"
#include "framework/child_wait.h"
#include "framework/daemon.h"
#include "framework/ini_file.h"
#include "framework/multiplexer.h"
#include "framework/version.h"
#include "protocol/lgcp.h"
#include "slots/modem_factory.h"
#include "standin/board.h"

#include <iostream>
#include <sstream>

namespace {

const char* const kConfigFile = "/usr/local/etc/server.conf";

// SIGHUP: every factory's resource query again.
void UpdateResources()
{
    LGCP::Resources resources;
    SlotsService::Query(resources);
}

} // namespace

int main(int argc, char** argv)
{
    // The board's devices are not on this machine: the daemon runs on the
    // simulated board.
    Standin::Board board;

    IniFile::File config;
    if (config.Open(kConfigFile))
        Traces::instance().Read(config, std::cerr);

    SignalWatch& signals = SignalWatch::instance();
    signals.Install();

    CommandLine line = CommandLine::Parse(argc, argv);
    switch (line.action) {
    case CommandLine::Usage:
        CommandLine::PutUsage(std::cerr);
        return 1;
    case CommandLine::Help:
        CommandLine::PutUsage(std::cout);
        return 0;
    case CommandLine::Version:
        std::cout << Version::current << std::endl;
        return 0;
    case CommandLine::Run:
        break;
    }

    // The factories in their fixed order (the trunk factories are static
    // objects, made before), then the switch.
    MapFactory::instance();
    ModemFactory::instance();
    HwMux::instance().Open();

    if (line.daemon) {
        Daemon::Params params;
        std::ostringstream name;
        name << "kmx-" << Version::current;
        params.mName = name.str();
        Daemon::Init(params);
    }
    {
        Linux::Run pidFile("server");
        std::cout << "Starting server [" << Version::current << "], port=" << line.port << std::endl;

        CtrlSrv::Server server;
        CtrlSrv::Heartbeat heartbeat;
        SlotsService slots;
        E1Service e1;
        server.Bind(heartbeat);
        server.Bind(slots);
        server.Bind(e1);

        ChildWait::Init children;
        ChildWait::Activate();
        signals.set_update(UpdateResources);
        signals.Start();

        if (!server.Listen(line.port))
            return 1;
        // A stop that came during start-up ends the first pass (SignalWatch).
        multiplexer.run(true, true);

        // Dropping the link destroys the slots.
        signals.Stop();
        signals.set_update(nullptr);
        server.Close();
        Slots::instance().Clear();
        HwMux::instance().Close();
    }
    return 0;
}
