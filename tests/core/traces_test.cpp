#include "core/traces.h"

#include "framework/ini_file.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

bool Read(const std::string& text, std::string& findings)
{
    IniFile::File file;
    std::istringstream in(text);
    file.IntOpenStream(in);
    Traces traces;
    std::ostringstream out;
    traces.Read(file, out);
    findings = out.str();
    return traces.signallingHdlc;
}

TEST(Traces, SwitchesFromTheTracesSection)
{
    std::string findings;
    EXPECT_FALSE(Read("", findings));
    EXPECT_EQ(findings, "");
    EXPECT_FALSE(Read("[snmpagent]\nsignalling.hdlc=yes\n", findings));
    EXPECT_TRUE(Read("# comment\n[traces]\nsignalling.hdlc=yes\n", findings));
    EXPECT_EQ(findings, "");
    // A later subsection of the same section still counts.
    EXPECT_TRUE(Read("[traces]\n[traces]\nsignalling.hdlc=1\n", findings));

    // A bad value is reported behind the prefix and leaves the switch off.
    EXPECT_FALSE(Read("[traces]\nsignalling.hdlc=maybe\n", findings));
    EXPECT_EQ(findings.rfind("traces: ", 0), 0u);
    EXPECT_NE(findings.find("signalling.hdlc"), std::string::npos);
}

} // namespace
