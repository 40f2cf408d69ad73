// Loopback sockets and a bounded run of the event loop for the tests.
#pragma once

#include "framework/fd.h"
#include "framework/packet.h"
#include "net/protocol.h"
#include "samples/link/loop_driver.h"

#include <functional>
#include <string>
#include <vector>

class StrmProtocol;

namespace nettest {

typedef std::vector<unsigned char> Bytes;

// Runs the loop until done() holds or max_ms have passed; done() is looked
// at every couple of milliseconds. True when done() held.
bool run_until(std::function<bool()> done, unsigned max_ms = 5000);
// Runs the loop for about ms milliseconds.
void run_for(unsigned ms);

// A socket listening on 127.0.0.1 at a free port.
Fd listen_local(unsigned short* port, int backlog = 4);
// A blocking client of 127.0.0.1:port whose reads and writes give up after
// a few seconds.
Fd connect_local(unsigned short port, int rcvbuf = 0);
// Both ends of one loopback TCP connection.
void tcp_pair(Fd& a, Fd& b);

// An active stream layer, alone in the stack, on one end of a fresh
// loopback connection whose other end is `peer`.
StrmProtocol* strm_on_pair(ProtocolsList& stack, Fd& peer);

Bytes frame(Bytes const& payload);
// The payloads framed one after the other.
Bytes stream_of(std::vector<Bytes> const& payloads);
// n octets that differ with the seed and along the run.
Bytes pattern(size_t n, unsigned seed = 0);
Bytes bytes(Packet const& p);
Packet packet(Bytes const& b);

bool write_all(Fd const& fd, Bytes const& b);
// Reads exactly n octets; fewer when the peer closes or the wait runs out.
Bytes read_n(Fd const& fd, size_t n);
// True when the peer has closed (a read gives 0) within a few seconds.
bool sees_eof(Fd const& fd);

using test::Capture;

} // namespace nettest
