#pragma once

#include <iosfwd>

namespace IniFile {
class File;
}

// Trace switches of the configuration's `traces` section.
struct Traces
{
    bool signallingHdlc = false; // signalling.hdlc: the transparent HDLC slot's traces

    static Traces& instance();
    // Reads every `traces` subsection; findings go to `out` behind "traces: ".
    void Read(IniFile::File& file, std::ostream& out);
};
