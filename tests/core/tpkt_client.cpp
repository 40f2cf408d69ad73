#include "tpkt_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace test {

TpktClient::~TpktClient()
{
    Close();
}

bool TpktClient::Connect(unsigned short port)
{
    Close();
    mFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (mFd < 0 || ::connect(mFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        Close();
        return false;
    }
    mIn.clear();
    mEof = false;
    return true;
}

void TpktClient::Close()
{
    if (mFd >= 0)
        ::close(mFd);
    mFd = -1;
}

bool TpktClient::Send(Octets const& payload)
{
    size_t length = payload.size() + 4;
    Octets frame{3, 0, static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return SendRaw(frame);
}

bool TpktClient::SendRaw(Octets const& bytes)
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

void TpktClient::Fill()
{
    char buf[4096];
    while (mFd >= 0) {
        ssize_t n = ::recv(mFd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            mIn.insert(mIn.end(), buf, buf + n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            mEof = true;
        break;
    }
}

bool TpktClient::Take(Octets& payload)
{
    Fill();
    if (mIn.size() < 4)
        return false;
    size_t length = (static_cast<unsigned char>(mIn[2]) << 8) | static_cast<unsigned char>(mIn[3]);
    if (length < 4 || mIn.size() < length)
        return false;
    payload.assign(mIn.begin() + 4, mIn.begin() + static_cast<long>(length));
    mIn.erase(mIn.begin(), mIn.begin() + static_cast<long>(length));
    return true;
}

bool TpktClient::Closed()
{
    Fill();
    return mEof;
}

} // namespace test
