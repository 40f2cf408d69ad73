#include "pcap_tcp.h"

#include <algorithm>
#include <fstream>

namespace nettest {

namespace {

enum : unsigned char { syn = 0x02, psh = 0x08, ack = 0x10 };

void put16(Bytes& b, unsigned v)
{
    b.push_back((unsigned char)(v >> 8));
    b.push_back((unsigned char)v);
}

void put32(Bytes& b, uint32_t v)
{
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

// The file's own fields are little-endian, which its magic announces.
void put32le(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back((unsigned char)(v >> (8 * i)));
}

uint32_t sum(Bytes const& b, size_t from, size_t to, uint32_t acc = 0)
{
    for (size_t i = from; i < to; i += 2)
        acc += (unsigned(b[i]) << 8) | (i + 1 < to ? b[i + 1] : 0);
    return acc;
}

unsigned fold(uint32_t acc)
{
    while (acc >> 16)
        acc = (acc & 0xFFFF) + (acc >> 16);
    return ~acc & 0xFFFF;
}

} // namespace

PcapTcp::PcapTcp(unsigned short client_port, unsigned short server_port)
    : mPort{client_port, server_port}, mSeq{1000, 5000}
{
    put32le(mFile, 0xA1B2C3D4);
    mFile.insert(mFile.end(), {2, 0, 4, 0});  // version 2.4
    put32le(mFile, 0);                         // zone
    put32le(mFile, 0);                         // accuracy
    put32le(mFile, 262144);                    // snap length
    put32le(mFile, 1);                         // Ethernet

    packet(false, syn, {});
    ++mSeq[0];
    packet(true, syn | ack, {});
    ++mSeq[1];
    packet(false, ack, {});
}

void PcapTcp::packet(bool from_server, unsigned char flags, Bytes const& data)
{
    int me = from_server ? 1 : 0;
    Bytes p = {2, 0, 0, 0, 0, (unsigned char)(2 - me), 2, 0, 0, 0, 0, (unsigned char)(1 + me), 8, 0};
    size_t ip = p.size();
    put16(p, 0x4500);
    put16(p, unsigned(20 + 20 + data.size()));
    put16(p, mCount & 0xFFFF);
    put16(p, 0x4000);  // don't fragment
    put16(p, 0x4006);  // TTL 64, TCP
    put16(p, 0);
    put32(p, 0x7F000001);
    put32(p, 0x7F000001);
    uint32_t ipsum = fold(sum(p, ip, ip + 20));
    p[ip + 10] = (unsigned char)(ipsum >> 8);
    p[ip + 11] = (unsigned char)ipsum;

    size_t tcp = p.size();
    put16(p, mPort[me]);
    put16(p, mPort[1 - me]);
    put32(p, mSeq[me]);
    put32(p, flags & ack ? mSeq[1 - me] : 0);
    put16(p, (5u << 12) | flags);
    put16(p, 0xFFFF);
    put32(p, 0);  // checksum, urgent pointer
    p.insert(p.end(), data.begin(), data.end());
    // Pseudo header: both addresses, protocol, TCP length.
    uint32_t acc = 2 * (0x7F00 + 0x0001) + 6 + unsigned(p.size() - tcp);
    uint32_t tcpsum = fold(sum(p, tcp, p.size(), acc));
    p[tcp + 16] = (unsigned char)(tcpsum >> 8);
    p[tcp + 17] = (unsigned char)tcpsum;

    put32le(mFile, 1000000000u + mCount);
    put32le(mFile, 0);
    put32le(mFile, uint32_t(p.size()));
    put32le(mFile, uint32_t(p.size()));
    mFile.insert(mFile.end(), p.begin(), p.end());
    ++mCount;
}

void PcapTcp::segment(bool from_server, Bytes const& data)
{
    // More than one IPv4 packet holds goes as several.
    size_t at = 0;
    do {
        size_t n = std::min<size_t>(max_segment, data.size() - at);
        packet(from_server, psh | ack, Bytes(data.begin() + at, data.begin() + at + n));
        mSeq[from_server ? 1 : 0] += uint32_t(n);
        at += n;
    } while (at < data.size());
}

void PcapTcp::segments(bool from_server, std::vector<Bytes> const& data)
{
    for (Bytes const& d : data)
        segment(from_server, d);
}

std::vector<Bytes> cut(Bytes const& stream, std::vector<size_t> const& at, size_t mss)
{
    std::vector<Bytes> out;
    size_t from = 0;
    auto next = at.begin();
    while (from < stream.size()) {
        while (next != at.end() && *next <= from)
            ++next;
        size_t to = std::min(stream.size(), from + mss);
        if (next != at.end() && *next < to)
            to = *next;
        out.emplace_back(stream.begin() + from, stream.begin() + to);
        from = to;
    }
    return out;
}

bool PcapTcp::save(std::string const& path) const
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<char const*>(mFile.data()), std::streamsize(mFile.size()));
    return bool(out.flush());
}

} // namespace nettest
