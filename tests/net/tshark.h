#pragma once
// Runs text2pcap on a hex dump and tshark on the capture it makes, both
// with a private home in a temporary directory, so that they read and
// write no configuration of the machine's, and `timeout` bounding a hung
// run.

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace test {

struct Dissection {
    bool ok = false;                // both ran and exited 0
    std::vector<std::string> lines; // tshark's standard output, a line each
    std::string why;                // what tshark said on failure
};

// `dump` is text2pcap's input, `capture` its options (link type, made-up
// headers), `read` tshark's options after "-r <capture> -n".
inline Dissection Dissect(std::string const& dump, std::string const& capture, std::string const& read)
{
    Dissection result;
    char dir[] = "/tmp/wire-XXXXXX";
    if (!::mkdtemp(dir)) {
        result.why = "no temporary directory";
        return result;
    }
    const std::string d = dir;
    std::ofstream(d + "/wire.txt") << dump;
    const std::string env = "env -i HOME=" + d + " XDG_CONFIG_HOME=" + d + "/config TMPDIR=" + d
        + " PATH=/usr/bin:/bin LC_ALL=C timeout -s KILL 120 ";
    const std::string cmd = env + "text2pcap -q " + capture + " " + d + "/wire.txt " + d + "/wire.pcapng >/dev/null 2>&1 && "
        + env + "tshark -r " + d + "/wire.pcapng -n " + read + " </dev/null 2>" + d + "/err.txt";
    std::string out;
    int status = -1;
    if (FILE* f = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        status = ::pclose(f);
    }
    std::ifstream err(d + "/err.txt");
    result.why = "tshark failed: " + std::string(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    std::error_code ec;
    std::filesystem::remove_all(d, ec);
    std::istringstream is(out);
    for (std::string l; std::getline(is, l);)
        result.lines.push_back(l);
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// Packets as text2pcap reads them: each on one line at offset 0.
template <class Packets>
std::string OffsetDump(Packets const& packets)
{
    std::string dump;
    char hex[8];
    for (auto const& packet : packets) {
        dump += "000000";
        for (unsigned char octet : packet) {
            std::snprintf(hex, sizeof hex, " %02x", octet);
            dump += hex;
        }
        dump += "\n\n";
    }
    return dump;
}

inline std::vector<std::string> Split(std::string const& s, char sep)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
        size_t to = s.find(sep, from);
        out.push_back(s.substr(from, to == std::string::npos ? std::string::npos : to - from));
        if (to == std::string::npos)
            return out;
        from = to + 1;
    }
}

} // namespace test
