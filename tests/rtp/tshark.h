#pragma once
// What tshark makes of UDP datagrams from port 5001 to 6001 decoded as the
// protocol `as` (rtp, rtcp): one line per packet, the requested fields
// tab-separated, repeated fields comma-separated.

#include "tests/net/tshark.h"

#include <string>
#include <vector>

namespace rtptest {

inline std::vector<std::string> Dissect(std::vector<std::vector<unsigned char>> const& datagrams, char const* as,
                                        std::string const& fields)
{
    return test::Dissect(test::OffsetDump(datagrams), "-4 127.0.0.1,127.0.0.1 -u 5001,6001",
                         std::string("-d udp.port==6001,") + as + " -T fields -E separator=/t -E occurrence=a " + fields)
        .lines;
}

} // namespace rtptest
