#include "core/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

static bool ReadPort(char const* text, unsigned short& port)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, 10);
    if (errno || *end || text[0] == '-' || value == 0 || value > 65535)
        return false;
    port = static_cast<unsigned short>(value);
    return true;
}

CommandLine CommandLine::Parse(int argc, char const* const* argv)
{
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-D" || arg == "--daemon") {
            line.daemon = true;
        } else if (arg == "--disable-clock") {
            line.disableClock = true;
        } else if (arg == "--version") {
            line.action = Version;
        } else if (arg == "-h" || arg == "--help") {
            line.action = Help;
        } else if (arg == "--port") {
            if (i + 1 >= argc || !ReadPort(argv[++i], line.port))
                return CommandLine{false, 20001, false, Usage};
        } else if (arg.compare(0, 7, "--port=") == 0) {
            if (!ReadPort(arg.c_str() + 7, line.port))
                return CommandLine{false, 20001, false, Usage};
        } else {
            return CommandLine{false, 20001, false, Usage};
        }
        if (line.action == Help)
            return line;
    }
    return line;
}

void CommandLine::PutUsage(std::ostream& os)
{
    os << "Usage: server [options]\n"
          "  -D, --daemon      run in the background, logging to syslog\n"
          "  --port N          the controller's TCP port (20001)\n"
          "  --disable-clock   leave the bus clock as it is\n"
          "  --version         print the version and exit\n"
          "  -h, --help        print this text and exit\n";
}
