// One TCP connection written as a classic pcap file (Ethernet, IPv4, TCP
// without options, both ends on 127.0.0.1), to be read back by tshark.
#pragma once

#include "net_util.h"

#include <cstdint>
#include <string>
#include <vector>

namespace nettest {

// The stream cut at the given offsets (ascending), and wherever a piece
// would be longer than mss.
std::vector<Bytes> cut(Bytes const& stream, std::vector<size_t> const& at, size_t mss);

class PcapTcp
{
public:
    // The most one IPv4 packet carries over TCP.
    enum { max_segment = 65535 - 20 - 20 };

    // Starts with the handshake, so the segments count from a known start.
    PcapTcp(unsigned short client_port, unsigned short server_port);

    // One segment of data; each side's sequence numbers follow its last.
    void segment(bool from_server, Bytes const& data);
    void segments(bool from_server, std::vector<Bytes> const& data);

    bool save(std::string const& path) const;

private:
    void packet(bool from_server, unsigned char flags, Bytes const& data);

    unsigned short mPort[2];  // client, server
    uint32_t mSeq[2];         // the next sequence number of each side
    uint32_t mCount = 0;
    Bytes mFile;
};

} // namespace nettest
