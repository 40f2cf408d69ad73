#pragma once

#include <iosfwd>

// The daemon's command line.
struct CommandLine
{
    enum Action { Run, Help, Version, Usage };

    bool daemon = false;
    unsigned short port = 20001;
    bool disableClock = false;
    Action action = Run;

    // Reads the options; an unknown option or a bad port gives Usage.
    static CommandLine Parse(int argc, char const* const* argv);
    static void PutUsage(std::ostream& os);
};
