#include "net_util.h"

#include "net/strm.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <ostream>
#include <sys/socket.h>
#include <unistd.h>

namespace nettest {

namespace {

// A write to a closed peer must show as an error, not end the tests.
struct IgnorePipe
{
    IgnorePipe() { ::signal(SIGPIPE, SIG_IGN); }
} ignore_pipe;

void set_timeouts(int fd)
{
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

sockaddr_in local(unsigned short port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

} // namespace

bool run_until(std::function<bool()> done, unsigned max_ms)
{
    test::LoopDriver loop;
    return loop.RunUntil(done ? std::move(done) : [] { return false; }, max_ms);
}

void run_for(unsigned ms)
{
    run_until(nullptr, ms);
}

Fd listen_local(unsigned short* port, int backlog)
{
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in sa = local(0);
    if (::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0
        || ::listen(s.lowlevel_fd(), backlog) != 0)
        return Fd();
    socklen_t len = sizeof(sa);
    ::getsockname(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len);
    *port = ntohs(sa.sin_port);
    return s;
}

Fd connect_local(unsigned short port, int rcvbuf)
{
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    if (rcvbuf)
        ::setsockopt(s.lowlevel_fd(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof(rcvbuf));
    set_timeouts(s.lowlevel_fd());
    sockaddr_in sa = local(port);
    if (::connect(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0)
        return Fd();
    return s;
}

void tcp_pair(Fd& a, Fd& b)
{
    unsigned short port = 0;
    Fd l = listen_local(&port);
    a = connect_local(port);
    b = Fd(::accept(l.lowlevel_fd(), nullptr, nullptr));
    set_timeouts(b.lowlevel_fd());
}

StrmProtocol* strm_on_pair(ProtocolsList& stack, Fd& peer)
{
    Fd ours;
    tcp_pair(peer, ours);
    StrmProtocol* strm = new StrmProtocol(ours);
    stack.add_protocol_tail(strm);
    strm->activate();
    return strm;
}

Bytes frame(Bytes const& payload)
{
    size_t len = payload.size() + 4;
    Bytes f{3, 0, (unsigned char)(len >> 8), (unsigned char)len};
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

Bytes stream_of(std::vector<Bytes> const& payloads)
{
    Bytes s;
    for (Bytes const& p : payloads) {
        Bytes f = frame(p);
        s.insert(s.end(), f.begin(), f.end());
    }
    return s;
}

Bytes pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = (unsigned char)(i * 13 + i / 251 + seed);
    return b;
}

Bytes bytes(Packet const& p)
{
    return p.null() ? Bytes() : Bytes(p->fdata, p->fdata + p.length());
}

Packet packet(Bytes const& b)
{
    Packet p;
    p.reserve_head(0);
    for (unsigned char c : b)
        p.put8(c);
    return p;
}

bool write_all(Fd const& fd, Bytes const& b)
{
    size_t off = 0;
    while (off < b.size()) {
        ssize_t n = ::send(fd.lowlevel_fd(), b.data() + off, b.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        off += n;
    }
    return true;
}

Bytes read_n(Fd const& fd, size_t n)
{
    Bytes b(n);
    size_t off = 0;
    while (off < n) {
        ssize_t r = ::recv(fd.lowlevel_fd(), b.data() + off, n - off, 0);
        if (r <= 0)
            break;
        off += r;
    }
    b.resize(off);
    return b;
}

bool sees_eof(Fd const& fd)
{
    std::vector<char> buf(65536);
    for (;;) {
        ssize_t r = ::recv(fd.lowlevel_fd(), buf.data(), buf.size(), 0);
        if (r == 0)
            return true;
        if (r < 0)
            return errno == ECONNRESET;
    }
}

} // namespace nettest
