#pragma once

// The test controller's socket: TPKT frames over a loopback TCP connection.

#include <cstdint>
#include <string>
#include <vector>

namespace test {

using Octets = std::vector<char>;

class TpktClient {
public:
    TpktClient() = default;
    ~TpktClient();
    TpktClient(const TpktClient&) = delete;
    TpktClient& operator=(const TpktClient&) = delete;

    bool Connect(unsigned short port);
    void Close();
    bool connected() const { return mFd >= 0; }

    // Frames the payload (version 3, reserved 0, big-endian length).
    bool Send(Octets const& payload);
    bool SendRaw(Octets const& bytes);
    // Takes one whole frame's payload when one has arrived.
    bool Take(Octets& payload);
    // True once the peer has closed the connection.
    bool Closed();

private:
    void Fill();

    int mFd = -1;
    Octets mIn;
    bool mEof = false;
};

} // namespace test
