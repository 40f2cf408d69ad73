// Round trips of the controller link against the daemon running in a thread
// of its own, beside a bare TCP echo of the same sizes.

#include "asn1/coder_env.h"
#include "bench/link_bench.h"
#include "board/hw_mux.h"
#include "core/ctrl_srv.h"
#include "core/heartbeat.h"
#include "core/slots.h"
#include "core/slots_service.h"
#include "core/trunk_slot.h"
#include "framework/event.h"
#include "framework/fd.h"
#include "framework/line_stream.h"
#include "framework/multiplexer.h"
#include "protocol/lgcp.h"
#include "standin/board.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace {

using Octets = std::vector<char>;

// The daemon's link, slots and simulated board, all on the loop's thread.
class DaemonThread {
public:
    DaemonThread()
    {
        // As in the daemon: a peer gone mid-write is a failed write, not an end.
        ::signal(SIGPIPE, SIG_IGN);
        int sv[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv);
        mStopRead = Fd(sv[0]);
        mStopWrite = Fd(sv[1]);
        std::promise<unsigned short> port;
        auto ready = port.get_future();
        mThread = std::thread([this, &port] { Run(port); });
        mPort = ready.get();
    }
    ~DaemonThread()
    {
        (void)::write(mStopWrite.lowlevel_fd(), "x", 1);
        mThread.join();
    }
    unsigned short port() const { return mPort; }

private:
    void Run(std::promise<unsigned short>& port)
    {
        // As the daemon's start-up: one write per log line.
        StandardLineStreams lines;
        Standin::Board board;
        HwMux::instance().Open();
        MapFactory::instance();
        CtrlSrv::Server server;
        CtrlSrv::Heartbeat heartbeat;
        SlotsService slots;
        server.Bind(heartbeat);
        server.Bind(slots);
        server.Listen(0, htonl(INADDR_LOOPBACK));
        Event stop;
        stop.Bind("bench stop", &DaemonThread::OnStop, this);
        stop.Schedule(mStopRead, POLLIN);
        port.set_value(server.port());
        multiplexer.run(false, true);
        stop.Release();
        server.Close();
        Slots::instance().Clear();
        HwMux::instance().Close();
    }
    // Handlers are called on every pass; only a readable pipe means stop.
    void OnStop(int, short revents)
    {
        if (revents & POLLIN)
            multiplexer.terminate();
    }

    Fd mStopRead, mStopWrite;
    std::thread mThread;
    unsigned short mPort = 0;
};

int Dial(unsigned short port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool ReadAll(int fd, char* p, size_t n)
{
    while (n) {
        ssize_t got = ::read(fd, p, n);
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

// A blocking test controller: one TPKT frame out, frames back.
class Controller {
public:
    explicit Controller(unsigned short port) : mFd(Dial(port)) {}
    ~Controller() { ::close(mFd); }

    void Send(LGCP::Message const& m)
    {
        Octets frame;
        Add(m, frame);
        (void)::write(mFd, frame.data(), frame.size());
    }
    // Frames the message behind what `to` holds.
    void Add(LGCP::Message const& m, Octets& to)
    {
        Octets octets;
        mEnv.encodePER(m, octets);
        size_t length = octets.size() + 4;
        to.insert(to.end(), {3, 0, static_cast<char>(length >> 8), static_cast<char>(length)});
        to.insert(to.end(), octets.begin(), octets.end());
    }
    void SendRaw(Octets const& bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            ssize_t n = ::write(mFd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
    // Reads one frame; false when the link is gone.
    bool Receive(LGCP::Message& m)
    {
        char head[4];
        if (!ReadAll(mFd, head, 4))
            return false;
        size_t length = (static_cast<unsigned char>(head[2]) << 8) | static_cast<unsigned char>(head[3]);
        Octets payload(length - 4);
        if (!ReadAll(mFd, payload.data(), payload.size()))
            return false;
        return mEnv.decode(payload.data(), payload.data() + payload.size(), m);
    }
    // Reads frames; false when the link broke on the way.
    bool Skip(size_t frames)
    {
        for (size_t i = 0; i < frames; ++i) {
            LGCP::Message m;
            if (!Receive(m))
                return false;
        }
        return true;
    }

private:
    int mFd;
    ASN1::CoderEnv mEnv;
};

LGCP::Message Command(unsigned seq, int slot)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_slot(static_cast<unsigned>(slot));
    m.get_pdu().select_command();
    return m;
}

LGCP::Message CreateMap(unsigned seq, int slot, int channel)
{
    LGCP::Message m = Command(seq, slot);
    m.get_pdu().get_command().select_create().select_map().set_channel(static_cast<unsigned>(channel));
    return m;
}

LGCP::Message CreateE1(unsigned seq, int slot)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::E1Params& e1 = m.get_pdu().get_command().select_create().select_e1();
    e1.set_trunk(1);
    e1.set_timeslot(1);
    return m;
}

LGCP::Message Destroy(unsigned seq, int slot)
{
    LGCP::Message m = Command(seq, slot);
    m.get_pdu().get_command().select_destroy();
    return m;
}

LGCP::Message ConnectTo(unsigned seq, int source, int receiver)
{
    LGCP::Message m = Command(seq, source);
    m.get_pdu().get_command().select_connect().push_back(
        ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u>(static_cast<unsigned>(receiver)));
    return m;
}

LGCP::Message Ping(unsigned seq)
{
    LGCP::Message m = Command(seq, 0);
    m.get_pdu().get_command().select_ping();
    return m;
}

using bench::RssKiB;

// Growth of the resident set over 4000 pings, one in flight at a time: the
// packet buffers in use should stay a handful. Registered first, so that no
// other benchmark of this binary has touched the pool before.
void BM_PingRss(benchmark::State& state)
{
    DaemonThread daemon;
    Controller ctl(daemon.port());
    unsigned seq = 0;
    ctl.Send(Ping(++seq));
    ctl.Skip(1);
    long const before = RssKiB();
    for (auto _ : state)
        for (int i = 0; i < 4000; ++i) {
            ctl.Send(Ping(++seq));
            if (!ctl.Skip(1)) {
                state.SkipWithError("controller link lost");
                return;
            }
        }
    state.counters["rss_growth_KiB"] = double(RssKiB() - before);
}
BENCHMARK(BM_PingRss)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Pings a controller writes in one go before it reads the answers: the
// daemon takes them a burst per pass of its loop.
void BM_PipelinedPings(benchmark::State& state)
{
    DaemonThread daemon;
    Controller ctl(daemon.port());
    size_t const count = size_t(state.range(0));
    Octets pings;
    for (size_t seq = 1; seq <= count; ++seq)
        ctl.Add(Ping(unsigned(seq)), pings);
    for (auto _ : state) {
        ctl.SendRaw(pings);
        if (!ctl.Skip(count)) {
            state.SkipWithError("controller link lost");
            return;
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(count));
}
BENCHMARK(BM_PipelinedPings)->Arg(1)->Arg(40)->Arg(2000)->UseRealTime();

double Median(std::vector<double>& v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

void BM_CreateConnectDestroy(benchmark::State& state)
{
    DaemonThread daemon;
    Controller ctl(daemon.port());
    std::vector<double> trips;
    unsigned seq = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        bool ok = true;
        ctl.Send(CreateMap(++seq, 1, 100));
        ok = ok && ctl.Skip(3); // success, transmitter, receiver
        ctl.Send(CreateE1(++seq, 2));
        ok = ok && ctl.Skip(3);
        ctl.Send(ConnectTo(++seq, 1, 2));
        ok = ok && ctl.Skip(1);
        ctl.Send(Destroy(++seq, 2));
        ok = ok && ctl.Skip(1);
        ctl.Send(Destroy(++seq, 1));
        ok = ok && ctl.Skip(1);
        if (!ok) {
            state.SkipWithError("controller link lost");
            break;
        }
        trips.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["commands/s"] = benchmark::Counter(5.0 * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
    state.counters["median_us"] = Median(trips);
}
BENCHMARK(BM_CreateConnectDestroy)->UseRealTime();

void BM_Create1024Destroy1024(benchmark::State& state)
{
    DaemonThread daemon;
    Controller ctl(daemon.port());
    unsigned seq = 0;
    for (auto _ : state) {
        for (int slot = 0; slot < 1024; ++slot)
            ctl.Send(CreateMap(++seq, slot, slot));
        bool ok = ctl.Skip(3 * 1024);
        for (int slot = 0; slot < 1024; ++slot)
            ctl.Send(Destroy(++seq, slot));
        if (!ok || !ctl.Skip(1024)) {
            state.SkipWithError("controller link lost");
            break;
        }
    }
    state.counters["commands/s"] = benchmark::Counter(2048.0 * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Create1024Destroy1024)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same exchange sizes over a bare echo: what loopback TCP itself costs.
void BM_TcpEchoRoundTrip(benchmark::State& state)
{
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::thread echo([listener] {
        int fd = ::accept(listener, nullptr, nullptr);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buf[256];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0)
            (void)::write(fd, buf, static_cast<size_t>(n));
        ::close(fd);
    });
    int fd = Dial(ntohs(addr.sin_port));
    char frame[16] = {3, 0, 0, 16};
    std::vector<double> trips;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        (void)::write(fd, frame, sizeof frame);
        ReadAll(fd, frame, sizeof frame);
        trips.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    ::close(fd);
    echo.join();
    ::close(listener);
    state.counters["median_us"] = Median(trips);
}
BENCHMARK(BM_TcpEchoRoundTrip)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
