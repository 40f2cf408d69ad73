// Gateway control daemon entry point.
#include "framework/child_wait.h"
#include "framework/daemon.h"
#include "framework/ini_file.h"
#include "framework/ini_reader.h"
#include "framework/multiplexer.h"
#include "framework/signals.h"
#include "framework/version.h"

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

namespace {

const char* const kConfigPath = "/usr/local/etc/server.conf";
const int kDefaultPort = 20001;

// Trace switches of the configuration's traces section.
bool traceHdlc = false;

void read_traces(IniFile::File& config)
{
    for (IniFile::SubSection& sub : config["traces"]) {
        IniFile::Reader reader("traces: ", std::cerr);
        reader.mOptional.add(&traceHdlc, "signalling.hdlc");
        reader(sub);
    }
}

void on_pipe(int) {}

void on_stop(int)
{
    multiplexer.terminate();
}

} // namespace

int main(int argc, char** argv)
{
    {
        IniFile::File config;
        if (config.Open(kConfigPath))
            read_traces(config);
    }

    IPC::Signal::handle(SIGPIPE, on_pipe, 0);
    IPC::Signal::handle(SIGTERM, on_stop, 0);
    IPC::Signal::handle(SIGINT, on_stop, 0);

    bool detach = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-D") == 0 || std::strcmp(argv[i], "--daemon") == 0) {
            detach = true;
        } else {
            std::cerr << "unknown option: " << argv[i] << std::endl;
            return 1;
        }
    }

    if (detach) {
        Daemon::Params params;
        params.mMode = 0;
        params.mName = std::string("kmx-") + Version::current.tag();
        Daemon::Init(params);
    }

    Linux::Run pidFile("server");
    std::cout << "Starting server " << "[" << Version::current << "]" << ", port=" << kDefaultPort
              << std::endl;

    ChildWait::Activate();
    multiplexer.run(true, true);
    return 0;
}
