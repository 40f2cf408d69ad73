#pragma once

// The test controller's socket: TPKT frames over a loopback TCP connection.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace test {

using Octets = std::vector<char>;

class TpktClient {
public:
    TpktClient() = default;
    ~TpktClient() { Close(); }
    TpktClient(const TpktClient&) = delete;
    TpktClient& operator=(const TpktClient&) = delete;

    // rcvbuf: a receive buffer this small, for a controller that reads
    // slowly (0: the system's).
    bool Connect(unsigned short port, int rcvbuf = 0)
    {
        Close();
        mFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (mFd >= 0 && rcvbuf)
            ::setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (mFd < 0 || ::connect(mFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
            Close();
        mIn.clear();
        mEof = false;
        return mFd >= 0;
    }
    void Close()
    {
        if (mFd >= 0)
            ::close(mFd);
        mFd = -1;
    }
    // Ends the connection with a reset: the peer learns at once that no
    // answer can reach this end any more.
    void Reset()
    {
        linger abort{1, 0};
        if (mFd >= 0)
            ::setsockopt(mFd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        Close();
    }
    // Sends no more; answers can still be read.
    void Shutdown()
    {
        if (mFd >= 0)
            ::shutdown(mFd, SHUT_WR);
    }
    bool connected() const { return mFd >= 0; }
    int fd() const { return mFd; }

    // The payload framed (version 3, reserved 0, big-endian length) behind
    // what `to` holds.
    static Octets& Frame(Octets const& payload, Octets& to)
    {
        size_t length = payload.size() + 4;
        to.insert(to.end(), {3, 0, static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)});
        to.insert(to.end(), payload.begin(), payload.end());
        return to;
    }
    bool Send(Octets const& payload)
    {
        Octets frame;
        return SendRaw(Frame(payload, frame));
    }
    bool SendRaw(Octets const& bytes)
    {
        size_t done = 0;
        while (mFd >= 0 && done < bytes.size()) {
            ssize_t n = ::send(mFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return done == bytes.size();
    }
    // Takes one whole frame's payload when one has arrived.
    bool Take(Octets& payload)
    {
        Fill();
        size_t length = mIn.size() < 4 ? 0 : (static_cast<unsigned char>(mIn[2]) << 8) | static_cast<unsigned char>(mIn[3]);
        if (length < 4 || mIn.size() < length)
            return false;
        payload.assign(mIn.begin() + 4, mIn.begin() + static_cast<long>(length));
        mIn.erase(mIn.begin(), mIn.begin() + static_cast<long>(length));
        return true;
    }
    // True once the peer has closed the connection.
    bool Closed()
    {
        Fill();
        return mEof;
    }

private:
    void Fill()
    {
        char buf[4096];
        ssize_t n = -1;
        while (mFd >= 0 && (n = ::recv(mFd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
            mIn.insert(mIn.end(), buf, buf + n);
        if (mFd >= 0 && (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)))
            mEof = true;
    }

    int mFd = -1;
    Octets mIn;
    bool mEof = false;
};

} // namespace test
