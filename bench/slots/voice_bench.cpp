// Octets per second through a file player into an MCC channel and through
// a recording connection, beside a plain read/write copy of the same file
// into the same kind of channel.

#include "framework/event.h"
#include "framework/fd.h"
#include "framework/multiplexer.h"
#include "protocol/lgcp.h"
#include "slots/voice.h"
#include "standin/board.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

namespace {

constexpr size_t kFileSize = 4 << 20;
constexpr size_t kFrame = 1024;

// A phrase file of kFileSize octets in a folder of its own.
class Phrase {
public:
    Phrase()
    {
        char templ[] = "/tmp/voicebench_XXXXXX";
        if (::mkdtemp(templ))
            dir = templ;
        std::ofstream(path(), std::ios::binary) << std::string(kFileSize, 'v');
        PlaySlotFile::set_dir_for_test(dir);
    }
    ~Phrase() { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string path() const { return dir + "/phrase"; }
    std::string dir;
};

// Reads everything that arrives on a descriptor and ends the loop after
// `target` octets.
class Sink {
public:
    void Start(int fd, size_t target)
    {
        mTarget = target;
        mGot = 0;
        mEvent.Bind("bench sink", &Sink::OnRead, this);
        mEvent.Schedule(Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)), POLLIN);
    }
    void Stop() { mEvent.Release(); }
    size_t got() const { return mGot; }

private:
    void OnRead(int fd, short)
    {
        ssize_t n;
        while ((n = ::read(fd, mBuf, sizeof mBuf)) > 0)
            mGot += static_cast<size_t>(n);
        if (mGot >= mTarget || n == 0)
            multiplexer.terminate();
    }

    Event mEvent;
    size_t mTarget = 0;
    size_t mGot = 0;
    char mBuf[65536];
};

void Quiet()
{
    ::signal(SIGPIPE, SIG_IGN);
    std::clog.setstate(std::ios::badbit);
    std::cerr.setstate(std::ios::badbit);
}

void FilePlayer(benchmark::State& state)
{
    Quiet();
    Phrase phrase;
    Standin::Board board;
    LGCP::PlayerParams params;
    auto& file = params.select_file();
    file.get_name().push_back(ASN1::IA5String("phrase"));
    file.set_repeat(1);
    Sink sink;
    for (auto _ : state) {
        Slot* player = VoiceFactory::instance().CreatePlay(params);
        auto channels = board.Channels("/dev/mcc/ctl");
        sink.Start(channels.back()->fd(), kFileSize);
        player->IOnOutputStream();
        multiplexer.run(false, true);
        sink.Stop();
        if (sink.got() != kFileSize)
            state.SkipWithError("short play");
        player->IBeforeDestroy();
        delete player;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

// Sends frames into the board's end of a channel as it takes them, up to
// a total.
class Feeder {
public:
    void Start(Standin::Channel& channel, size_t total)
    {
        mChannel = &channel;
        mLeft = total;
        mEvent.Bind("bench feeder", &Feeder::OnWritable, this);
        mEvent.Schedule(Fd(::fcntl(channel.fd(), F_DUPFD_CLOEXEC, 0)), POLLOUT);
    }

private:
    void OnWritable(int, short)
    {
        while (mLeft > 0 && mChannel->Send(mFrame.data(), mFrame.size()))
            mLeft -= std::min(mLeft, mFrame.size());
        if (mLeft == 0)
            mEvent.Release();
    }

    Event mEvent;
    Standin::Channel* mChannel = nullptr;
    size_t mLeft = 0;
    std::string mFrame = std::string(kFrame, 'v');
};

// Takes the recorder's connection on the host's side.
class Host {
public:
    explicit Host(int listener)
    {
        mEvent.Bind("bench host", &Host::OnAccept, this);
        mEvent.Schedule(Fd(::fcntl(listener, F_DUPFD_CLOEXEC, 0)), POLLIN);
    }
    ~Host() { ::close(fd); }
    int fd = -1;

private:
    void OnAccept(int listener, short)
    {
        fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        mEvent.Release();
        multiplexer.terminate();
    }
    Event mEvent;
};

void Recorder(benchmark::State& state)
{
    Quiet();
    Standin::Board board;
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);

    Slot* recorder = VoiceFactory::instance().CreateRecord("127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
    Standin::Channel* channel = board.Channels("/dev/mcc/ctl").back();
    Host host(listener);
    recorder->IOnInputStream();
    multiplexer.run(false, true);

    Sink sink;
    Feeder feeder;
    for (auto _ : state) {
        sink.Start(host.fd, kFileSize);
        feeder.Start(*channel, kFileSize);
        multiplexer.run(false, true);
        sink.Stop();
        if (sink.got() != kFileSize)
            state.SkipWithError("short recording");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
    recorder->IBeforeDestroy();
    delete recorder;
    ::close(listener);
}

// The same file read and written into a channel-like socket pair, by hand.
void PlainCopy(benchmark::State& state)
{
    Phrase phrase;
    int pair[2];
    ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair);
    static char buf[8192];
    const size_t chunk = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        int file = ::open(phrase.path().c_str(), O_RDONLY | O_CLOEXEC);
        ssize_t n;
        size_t total = 0;
        while ((n = ::read(file, buf, chunk)) > 0) {
            if (::write(pair[0], buf, static_cast<size_t>(n)) != n)
                state.SkipWithError("short write");
            total += static_cast<size_t>(::read(pair[1], buf, sizeof buf));
        }
        ::close(file);
        if (total != kFileSize)
            state.SkipWithError("short copy");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
    ::close(pair[0]);
    ::close(pair[1]);
}

} // namespace

// 8192: the player's reads; 1024: the recorder's frames.
BENCHMARK(PlainCopy)->Arg(8192)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(FilePlayer)->Unit(benchmark::kMillisecond);
BENCHMARK(Recorder)->Unit(benchmark::kMillisecond);
