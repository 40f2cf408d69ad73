// TPKT frames per second through the stream-socket and TPKT layers over a
// loopback TCP connection, beside a bare read/write echo of the same bytes:
// a client in the same loop writes one frame (or a burst of them), the
// server side echoes, the client writes again once the echo is whole.
#include "framework/event.h"
#include "framework/multiplexer.h"
#include "net/strm.h"
#include "net/tpkt.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

enum { batch = 200 };

void tcp_pair(Fd& a, Fd& b)
{
    Fd l(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(l.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    ::listen(l.lowlevel_fd(), 1);
    socklen_t len = sizeof(sa);
    ::getsockname(l.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len);
    a = Fd(::socket(AF_INET, SOCK_STREAM, 0));
    ::connect(a.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    b = Fd(::accept(l.lowlevel_fd(), nullptr, nullptr));
    int on = 1;
    ::setsockopt(a.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    ::setsockopt(b.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    a.NonBlock();
    b.NonBlock();
}

// Sends a burst of frames in one write, waits for all of their echo, sends
// the next burst.
class Client
{
public:
    Client(Fd const& sock, unsigned payload, unsigned burst) : mSock(sock)
    {
        unsigned len = payload + 4;
        std::vector<unsigned char> frame(len, 0x5A);
        frame[0] = 3;
        frame[1] = 0;
        frame[2] = (unsigned char)(len >> 8);
        frame[3] = (unsigned char)len;
        for (unsigned i = 0; i < burst; ++i)
            mBurst.insert(mBurst.end(), frame.begin(), frame.end());
        mBuf.resize(65536);
        mEvent.Bind("bench::Client", &Client::OnEvent, this);
        mEvent.Schedule(mSock, POLLIN);
    }

    void run(unsigned bursts)
    {
        mLeft = bursts;
        mGot = 0;
        start_burst();
        multiplexer.run(false, true);
    }

private:
    void start_burst()
    {
        mSent = 0;
        write_more();
    }
    void write_more()
    {
        ssize_t n = ::send(mSock.lowlevel_fd(), mBurst.data() + mSent, mBurst.size() - mSent, MSG_NOSIGNAL);
        if (n > 0)
            mSent += n;
        mEvent.SetEvents(mSent < mBurst.size() ? POLLIN | POLLOUT : POLLIN);
    }

    void OnEvent(int fd, short revents)
    {
        if (revents & POLLOUT)
            write_more();
        if (!(revents & POLLIN))
            return;
        ssize_t n = ::read(fd, mBuf.data(), mBuf.size());
        if (n <= 0) {
            multiplexer.terminate();
            return;
        }
        mGot += n;
        if (mGot < mBurst.size())
            return;
        mGot -= mBurst.size();
        if (--mLeft == 0)
            multiplexer.terminate();
        else
            start_burst();
    }

    Fd mSock;
    std::vector<unsigned char> mBurst;
    std::vector<unsigned char> mBuf;
    Event mEvent;
    unsigned mLeft = 0;
    size_t mGot = 0;
    size_t mSent = 0;
};

// The layers: each whole payload goes straight back down through TPKT.
class EchoLink : public ProtocolsFamily
{
public:
    explicit EchoLink(Fd const& sock) : mName("echo")
    {
        add_protocol_tail(new StrmProtocol(sock));
        add_protocol_tail(new Tpkt_protocol);
        activate();
    }
    Protocol_name const& name() const override { return mName; }
    void on_message(Packet& p) override { message(p); }

private:
    Protocol_name_str mName;
};

// No layers: whatever is read is written back.
class BareEcho
{
public:
    explicit BareEcho(Fd const& sock) : mBuf(65536)
    {
        mEvent.Bind("bench::BareEcho", &BareEcho::OnRead, this);
        mEvent.Schedule(sock, POLLIN);
    }

private:
    void OnRead(int fd, short revents)
    {
        if (!(revents & POLLIN))
            return;
        ssize_t n = ::read(fd, mBuf.data(), mBuf.size());
        if (n > 0)
            ::send(fd, mBuf.data(), n, MSG_NOSIGNAL);
    }
    std::vector<char> mBuf;
    Event mEvent;
};

// The loop's end-of-run line would flood the output.
struct QuietLog
{
    QuietLog() : old(std::clog.rdbuf(sink.rdbuf())) {}
    ~QuietLog() { std::clog.rdbuf(old); }
    std::ostringstream sink;
    std::streambuf* old;
};

// range(0): payload octets; range(1): frames per write. Items are frames
// echoed (each crosses the layers twice).
template <class Server>
void echo(benchmark::State& state)
{
    QuietLog quiet;
    unsigned payload = unsigned(state.range(0));
    unsigned burst = unsigned(state.range(1));
    unsigned bursts = batch / burst;
    Fd client, server;
    tcp_pair(client, server);
    Server s(server);
    server.close();
    Client c(client, payload, burst);
    for (auto _ : state)
        c.run(bursts);
    state.SetItemsProcessed(state.iterations() * bursts * burst);
    state.SetBytesProcessed(state.iterations() * bursts * burst * (payload + 4));
}

void BM_TpktLayers(benchmark::State& state) { echo<EchoLink>(state); }
void BM_BareSocket(benchmark::State& state) { echo<BareEcho>(state); }

} // namespace

BENCHMARK(BM_TpktLayers)->Args({64, 1})->Args({1400, 1})->Args({64, 40})->Args({1400, 40});
BENCHMARK(BM_BareSocket)->Args({64, 1})->Args({1400, 1})->Args({64, 40})->Args({1400, 40});

BENCHMARK_MAIN();
