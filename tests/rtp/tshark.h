#pragma once
// What tshark makes of UDP datagrams from port 5001 to 6001 decoded as the
// protocol `as` (rtp, rtcp): one line per packet, the requested fields
// tab-separated, repeated fields comma-separated. text2pcap and tshark run
// with a private home so they read no configuration of the machine's.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace rtptest {

inline std::vector<std::string> Dissect(std::vector<std::vector<unsigned char>> const& datagrams, char const* as,
                                        std::string const& fields)
{
    char dir[] = "/tmp/rtp-wire-XXXXXX";
    if (!::mkdtemp(dir))
        return {};
    std::string d = dir;
    std::ofstream dump(d + "/wire.txt");
    for (auto const& b : datagrams) {
        char hex[8];
        dump << "000000";
        for (unsigned char c : b) {
            std::snprintf(hex, sizeof hex, " %02x", c);
            dump << hex;
        }
        dump << "\n\n";
    }
    dump.close();
    std::string env = "env -i HOME=" + d + " XDG_CONFIG_HOME=" + d + "/config TMPDIR=" + d
        + " PATH=/usr/bin:/bin LC_ALL=C timeout -s KILL 120 ";
    std::string cmd = env + "text2pcap -q -4 127.0.0.1,127.0.0.1 -u 5001,6001 " + d + "/wire.txt " + d
        + "/wire.pcap >/dev/null 2>&1 && " + env + "tshark -r " + d + "/wire.pcap -n -d udp.port==6001," + as
        + " -T fields -E separator=/t -E occurrence=a " + fields + " </dev/null 2>/dev/null";
    std::string out;
    if (FILE* f = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        ::pclose(f);
    }
    std::error_code ec;
    std::filesystem::remove_all(d, ec);
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t to; (to = out.find('\n', from)) != std::string::npos; from = to + 1)
        lines.push_back(out.substr(from, to - from));
    return lines;
}

} // namespace rtptest
