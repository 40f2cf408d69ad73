#include "core/traces.h"

#include "framework/ini_file.h"
#include "framework/ini_reader.h"

Traces& Traces::instance()
{
    static Traces traces;
    return traces;
}

void Traces::Read(IniFile::File& file, std::ostream& out)
{
    for (IniFile::SubSection& sub : file["traces"]) {
        IniFile::Reader reader("traces: ", out);
        reader.mOptional.add(&signallingHdlc, "signalling.hdlc");
        reader.parse(sub);
    }
}
