// Gateway control daemon entry point.

#include "board/hal.h"
#include "board/hw_mux.h"
#include "core/command_line.h"
#include "core/ctrl_srv.h"
#include "core/e1_service.h"
#include "core/heartbeat.h"
#include "core/signal_watch.h"
#include "core/slots.h"
#include "core/slots_service.h"
#include "core/traces.h"
#include "core/trunk_slot.h"
#include "framework/child_wait.h"
#include "framework/daemon.h"
#include "framework/ini_file.h"
#include "framework/line_stream.h"
#include "framework/multiplexer.h"
#include "framework/version.h"
#include "protocol/lgcp.h"
#include "rtp/ed137_factory.h"
#include "rtp/lemz_factory.h"
#include "rtp/rtp_factory.h"
#include "signalling/hdlc_slot.h"
#include "signalling/isdn_slot.h"
#include "signalling/pstn_slot.h"
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/mcc_slot.h"
#include "slots/mixer.h"
#include "slots/modem_factory.h"
#include "slots/t38_slot.h"
#include "slots/voice.h"
#include "standin/board.h"

#include <iostream>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

const char* const kConfigFile = "/usr/local/etc/server.conf";

// SIGHUP: every factory's resource query again.
void UpdateResources()
{
    LGCP::Resources resources;
    SlotsService::Query(resources);
}

// Another instance runs: nothing of it is touched.
int Refused(pid_t other)
{
    std::cerr << "server: already running as process " << other << ", not started" << std::endl;
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    // One write per log line, whoever else writes to the same descriptors.
    StandardLineStreams lines;

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

    // A second instance must leave the running one's pid file and board
    // alone; asked before detaching, so that the refusal reaches whoever
    // started it.
    if (const pid_t other = Linux::Run::Holder("server"))
        return Refused(other);

    // Detached before the first line of the start-up, so that all of them
    // reach the log.
    if (line.daemon) {
        Daemon::Params params;
        std::ostringstream name;
        name << "kmx-" << Version::current;
        params.mName = name.str();
        Daemon::Init(params);
    }

    // The board's own devices when its switch is there, else the simulated
    // board behind the same device layer.
    std::optional<Standin::Board> board;
    if (::access(Hal::kDevice, F_OK) == 0) {
        std::cout << "server: using the board's devices" << std::endl;
    } else {
        board.emplace();
        std::cout << "server: no " << Hal::kDevice << ", using the stand-in board" << std::endl;
    }

    // The factories in their fixed order (the trunk factories are static
    // objects, made before), then the switch.
    MapFactory::instance();
    PstnFactory::instance();
    RtpFactory::instance();
    ModemFactory::instance();
    Mixer::MixerFactory::instance();
    ExtFactory::instance();
    MccFactory::instance();
    EchoFactory::instance();
    VoiceFactory::instance();
    T38SoftFactory::instance();
    IsdnFactory::instance();
    RtpLEMZFactory::instance();
    RtpED137Factory::instance();
    HdlcSlotFactory::instance();
    HwMux::instance().Open();

    {
        Linux::Run pidFile("server");
        if (pidFile.refused()) {
            return Refused(pidFile.holder());
        }
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
