#include "link_fixture.h"

#include "framework/version.h"
#include "tests/framework/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

namespace {

// Runs the daemon's real binary in a mount namespace of its own, with
// /var/run, /var/log and /usr/local/etc on temporary folders, so its pid
// file, status dump and configuration stay out of the machine's.
class DaemonProcess {
public:
    static constexpr int kNoNamespace = 77;

    DaemonProcess()
    {
        char root[] = "/tmp/daemonXXXXXX";
        if (::mkdtemp(root))
            mRoot = root;
        for (char const* dir : {"/run", "/log", "/etc"})
            ::mkdir((mRoot + dir).c_str(), 0755);
        mOwnsRoot = true;
    }
    // A second instance on the same folders, with an output of its own.
    explicit DaemonProcess(DaemonProcess const& first, std::string output)
        : mRoot(first.mRoot), mOutput(std::move(output))
    {
    }
    ~DaemonProcess()
    {
        if (mPid > 0) {
            ::kill(mPid, SIGKILL);
            ::waitpid(mPid, nullptr, 0);
        }
        std::error_code ec;
        if (mOwnsRoot)
            std::filesystem::remove_all(mRoot, ec);
    }

    bool Start(std::vector<std::string> args, std::string const& config = "")
    {
        if (!config.empty())
            std::ofstream(mRoot + "/etc/server.conf") << config;
        mPid = ::fork();
        if (mPid != 0)
            return mPid > 0;
        if (::unshare(CLONE_NEWNS) < 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) < 0)
            _exit(kNoNamespace);
        std::vector<std::pair<std::string, const char*>> mounts{
            {"/run", "/var/run"}, {"/log", "/var/log"}, {"/etc", "/usr/local/etc"}};
        if (mT38)
            mounts.emplace_back("/sbin", "/usr/local/sbin");
        for (auto [from, onto] : mounts)
            if ((::access(onto, F_OK) < 0 && ::mkdir(onto, 0755) < 0)
                || ::mount((mRoot + from).c_str(), onto, nullptr, MS_BIND, nullptr) < 0)
                _exit(kNoNamespace);
        // The board's switch device and watchdog: empty files on a /dev of our own.
        if (mBoardDevices
            && (::mount("tmpfs", "/dev", "tmpfs", 0, nullptr) < 0 || ::mkdir("/dev/misc", 0755) < 0
                || ::close(::open("/dev/hal", O_RDWR | O_CREAT, 0600)) < 0
                || ::close(::open("/dev/misc/gw-wd", O_RDWR | O_CREAT, 0600)) < 0))
            _exit(kNoNamespace);
        int out = ::open(Path(mOutput).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> argv{const_cast<char*>(SERVER_BINARY)};
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(SERVER_BINARY, argv.data());
        _exit(127);
    }
    // Waits (bounded, 20 s) for the process to end or, given a path under
    // the temporary root, for that file to appear; -1 when neither came.
    int Wait(std::string const& path = "")
    {
        for (int i = 0; i < 2000 && mPid > 0; ++i, ::usleep(10000)) {
            if (!path.empty() && ::access(Path(path).c_str(), F_OK) == 0)
                return 0;
            int status = 0;
            if (::waitpid(mPid, &status, WNOHANG) == mPid) {
                mPid = -1;
                return status;
            }
        }
        return -1;
    }
    // The file under the root once it holds `text` (empty: anything),
    // read again every 10 ms for up to 5 s.
    std::string Await(std::string const& path, std::string const& text = "") const
    {
        std::string got = Read(path);
        for (int i = 0; i < 500 && (got.empty() || got.find(text) == std::string::npos); ++i, ::usleep(10000))
            got = Read(path);
        return got;
    }
    std::string Read(std::string const& path) const
    {
        std::ifstream in(Path(path));
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string output() const { return Read(mOutput); }
    std::string AwaitOutput(std::string const& text) const { return Await(mOutput, text); }
    std::string Path(std::string const& path) const { return path[0] == '/' ? path : mRoot + "/" + path; }
    pid_t pid() const { return mPid; }
    void WithBoardDevices() { mBoardDevices = true; }
    // The stand-in T.38 program where the daemon runs it.
    void WithT38Standin()
    {
        ::mkdir((mRoot + "/sbin").c_str(), 0755);
        mT38 = ::symlink(T38_STANDIN, (mRoot + "/sbin/t38").c_str()) == 0;
    }

private:
    std::string mRoot;
    std::string mOutput = "output";
    bool mOwnsRoot = false;
    bool mBoardDevices = false;
    bool mT38 = false;
    pid_t mPid = -1;
};

// A TCP port on 127.0.0.1 that nothing listens on just now.
unsigned short FreePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    unsigned short port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

// Sends one message and collects that many answers (bounded wait).
std::vector<LGCP::Message> Exchange(test::TpktClient& client, LGCP::Message const& m, size_t count)
{
    std::vector<LGCP::Message> got;
    EXPECT_TRUE(client.Send(test::Encode(m)));
    test::Octets payload;
    for (int i = 0; i < 2000 && got.size() < count; ++i) {
        if (!client.Take(payload)) {
            usleep(5000);
            continue;
        }
        got.push_back(test::Decode(payload));
    }
    EXPECT_EQ(got.size(), count);
    got.resize(count);
    return got;
}

// The second-lowest descriptor number the process has free.
int SecondFree(pid_t pid)
{
    std::set<int> open;
    for (auto const& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        open.insert(std::stoi(entry.path().filename().string()));
    int fd = 0;
    for (int found = 0; found < 2; ++fd)
        found += open.count(fd) ? 0 : 1;
    return fd - 1;
}

// Starts the daemon and waits for its pid file. False when the test cannot
// go on: no mount namespace here (then skipped) or no process.
bool Launch(DaemonProcess& daemon, std::vector<std::string> const& args, std::string const& config = "")
{
    if (!daemon.Start(args, config))
        return false;
    int early = daemon.Wait("run/server.pid");
    if (early != 0 && WIFEXITED(early) && WEXITSTATUS(early) == DaemonProcess::kNoNamespace) {
        [] { GTEST_SKIP() << "no mount namespace here"; }();
        return false;
    }
    EXPECT_GT(daemon.pid(), 0) << daemon.output();
    return daemon.pid() > 0;
}

// Connects, trying again for up to 5 s while the daemon starts listening.
bool Connect(test::TpktClient& client, unsigned short port)
{
    for (int i = 0; i < 500 && !client.Connect(port); ++i)
        usleep(10000);
    return client.connected();
}

TEST(Daemon, SigtermEndsWithStatusZeroAndRemovesThePidFile)
{
    DaemonProcess daemon;
    unsigned short port = FreePort();
    if (!Launch(daemon, {"--port", std::to_string(port)}, "[traces]\nsignalling.hdlc=bogus\n"))
        return;
    // Written in one go: the decimal pid, no line end.
    EXPECT_EQ(daemon.Await("run/server.pid"), std::to_string(daemon.pid()));

    // A controller drives it over TCP; each factory the start-up made takes
    // its create, answered on the command's own sequence and slot numbers.
    test::TpktClient client;
    ASSERT_TRUE(Connect(client, port)) << daemon.output();
    auto created = [&](LGCP::Message const& m, size_t count = 1) {
        auto got = Exchange(client, m, count);
        test::ExpectAnswer(got[0], m.get_seq().getValue(), m.get_slot().getValue());
        return got;
    };
    test::ExpectAnswer(Exchange(client, test::Ping(1), 1)[0], 1, -1);
    test::ExpectStream(created(test::CreateMap(2, 5, 40), 3)[2], 5, false, true, 8232);
    // The mixer's units are known after a query.
    LGCP::Message query = test::Command(3);
    test::Body(query).select_query();
    ASSERT_EQ(Exchange(client, query, 2).size(), 2u);
    LGCP::Message input = test::Command(4, 6);
    auto& mixerIn = test::Body(input).select_create().select_mixerIn();
    mixerIn.set_unit(0);
    mixerIn.get_channel().select_tdm() = 1;
    created(input);
    LGCP::Message pstn = test::Command(11, 11);
    test::Body(pstn).select_create().select_pstn().select_ss7().set_trunk(1);
    created(pstn);
    LGCP::Message hdlc = test::Command(12, 12);
    test::Body(hdlc).select_create().select_hdlcParams().set_trunk(1);
    created(hdlc);
    LGCP::Message isdn = test::Command(13, 13);
    test::Body(isdn).select_create().select_isdn().get_side().select_user();
    created(isdn);
    LGCP::Message qsig = test::Command(14, 14);
    test::Body(qsig).select_create().select_ats_qsig().get_side().select_network();
    created(qsig);
    LGCP::Message bchannel = test::Command(15, 15);
    auto& b = test::Body(bchannel).select_create().select_ats_qsig_b();
    b.set_slot(14);
    b.set_subslot(1);
    created(bchannel);
    // An ED-137 radio create, on the stand-in extension driver.
    LGCP::Message radio = test::Command(7, 9);
    auto& rtp = test::Body(radio).select_create().select_rtp();
    rtp.get_codecRTP().get_payload() = TERM::Payload::ptG711_Alaw;
    rtp.get_codecRTP().get_dhost().set_iaddr("127.0.0.1");
    rtp.get_codecRTP().get_dhost().set_port(9);
    rtp.get_codecRTP().set_radio().get_status().select_ed_137();
    rtp.get_txPayload() = TERM::Payload::ptG711_Alaw;
    rtp.get_rxPayload() = TERM::Payload::ptG711_Alaw;
    created(radio, 3);
    LGCP::Message record = test::Command(5, 7);
    TERM::HostAddress host;
    host.set_iaddr("127.0.0.1");
    host.set_port(9);
    test::Body(record).select_create().select_voice().select_record() = host;
    created(record, 2);
    LGCP::Message t38 = test::Command(6, 8);
    auto& t38params = test::Body(t38).select_create().select_t38soft();
    t38params.set_dhost(host);
    t38params.set_shost(host);
    t38params.set_rx_packet_size(160);
    created(t38, 3);

    ASSERT_EQ(kill(daemon.pid(), SIGHUP), 0); // a resource update, nothing sent
    EXPECT_NE(access(daemon.Path("log/server-status").c_str(), F_OK), 0) << "a status dump nobody asked for";
    ASSERT_EQ(kill(daemon.pid(), SIGUSR2), 0);
    std::string dump = daemon.Await("log/server-status", "05:map");
    EXPECT_NE(dump.find("05:map"), std::string::npos) << dump << daemon.output();
    EXPECT_NE(dump.find("slots: 10"), std::string::npos) << dump;
    EXPECT_NE(dump.find("version: "), std::string::npos) << dump;

    ASSERT_EQ(kill(daemon.pid(), SIGTERM), 0);
    int status = daemon.Wait();
    ASSERT_NE(status, -1) << "still running";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << daemon.output();
    EXPECT_NE(access(daemon.Path("run/server.pid").c_str(), F_OK), 0);

    std::string out = daemon.output();
    EXPECT_NE(out.find("\nserver: no /dev/hal, using the stand-in board\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Starting server ["), std::string::npos) << out;
    EXPECT_NE(out.find("], port=" + std::to_string(port) + "\n"), std::string::npos) << out;
    // The configuration was read: its bad trace value is reported.
    EXPECT_NE(out.find("traces: "), std::string::npos) << out;
}

// A T.38 program that ignores SIGTERM, as a hung one does, does not outlive
// the daemon.
TEST(Daemon, SigtermLeavesNoT38ProgramBehind)
{
    DaemonProcess daemon;
    daemon.WithT38Standin();
    TempDir programs; // the program records itself under its pid
    ::setenv("T38_STANDIN_TERM", "ignore", 1);
    ::setenv("T38_STANDIN_DIR", programs.path.c_str(), 1);
    unsigned short port = FreePort();
    const bool launched = Launch(daemon, {"--port", std::to_string(port)});
    ::unsetenv("T38_STANDIN_TERM");
    ::unsetenv("T38_STANDIN_DIR");
    if (!launched)
        return;
    test::TpktClient client;
    ASSERT_TRUE(Connect(client, port)) << daemon.output();
    LGCP::Message t38 = test::Command(1, 8);
    auto& params = test::Body(t38).select_create().select_t38soft();
    params.get_dhost().set_iaddr("127.0.0.1");
    params.set_rx_packet_size(160);
    test::ExpectAnswer(Exchange(client, t38, 3)[0], 1, 8);
    std::vector<std::string> pid;
    for (int i = 0; i < 500 && (pid.size() != 1 || pid[0].find('.') != std::string::npos); ++i, ::usleep(10000))
        pid = dir_entries(programs.path); // "<pid>.tmp" while it is written
    ASSERT_EQ(pid.size(), 1u) << daemon.output();

    ASSERT_EQ(kill(daemon.pid(), SIGTERM), 0);
    EXPECT_EQ(daemon.Wait(), 0) << daemon.output();
    bool running = true;
    for (int i = 0; i < 500 && running; ++i, ::usleep(10000))
        running = Running(std::stoi(pid[0]));
    EXPECT_FALSE(running) << "t38 program " << pid[0] << " left behind\n" << daemon.output();
    if (running)
        ::kill(std::stoi(pid[0]), SIGKILL);
    EXPECT_NE(daemon.output().find("killed: still running at exit"), std::string::npos) << daemon.output();
}

TEST(Daemon, SecondInstanceIsRefusedAndLeavesThePidFile)
{
    DaemonProcess first;
    std::vector<std::string> args{"--port", std::to_string(FreePort())};
    if (!Launch(first, args))
        return;
    std::string pid = first.Await("run/server.pid");
    ASSERT_EQ(pid, std::to_string(first.pid()));

    // The same port and folders: refused before anything is written.
    DaemonProcess second(first, "second");
    ASSERT_TRUE(second.Start(args));
    int status = second.Wait();
    ASSERT_NE(status, -1) << "second instance still running";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    EXPECT_EQ(second.output(), "server: already running as process " + pid + ", not started\n");
    EXPECT_EQ(first.Read("run/server.pid"), pid);

    // Once the first has gone, a stale file is taken over.
    ASSERT_EQ(kill(first.pid(), SIGKILL), 0);
    first.Wait();
    DaemonProcess third(first, "third");
    ASSERT_TRUE(third.Start(args));
    std::string const taken = std::to_string(third.pid());
    EXPECT_EQ(third.Await("run/server.pid", taken), taken) << third.output();
}

// True once a connection on the local port waits out TIME_WAIT (read for
// up to 2 s from /proc/net/tcp).
bool TimeWaitOn(unsigned short port)
{
    char local[16];
    std::snprintf(local, sizeof local, ":%04X ", port);
    for (int i = 0; i < 200; ++i, ::usleep(10000)) {
        std::ifstream table("/proc/net/tcp");
        std::string line;
        std::getline(table, line); // the heading
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, from, to, state;
            fields >> slot >> from >> to >> state;
            if ((from + " ").find(local) != std::string::npos && state == "06")
                return true;
        }
    }
    return false;
}

// A daemon stopped with its controller connected closes that connection
// first, and so leaves it in TIME_WAIT for a minute; started again at once,
// it listens on the same port and serves.
TEST(Daemon, RestartedWhileItsLastConnectionWaitsOutTimeWaitItServes)
{
    unsigned short port = FreePort();
    std::vector<std::string> args{"--port", std::to_string(port)};
    {
        DaemonProcess first;
        if (!Launch(first, args))
            return;
        test::TpktClient client;
        ASSERT_TRUE(Connect(client, port)) << first.output();
        test::ExpectAnswer(Exchange(client, test::Ping(1), 1)[0], 1, -1);
        ASSERT_EQ(::kill(first.pid(), SIGTERM), 0);
        EXPECT_EQ(first.Wait(), 0) << first.output();
        for (int i = 0; i < 500 && !client.Closed(); ++i)
            ::usleep(10000);
        ASSERT_TRUE(client.Closed());
    }
    ASSERT_TRUE(TimeWaitOn(port));
    DaemonProcess second;
    if (!Launch(second, args))
        return;
    test::TpktClient client;
    ASSERT_TRUE(Connect(client, port)) << second.output();
    test::ExpectAnswer(Exchange(client, test::Ping(2), 1)[0], 2, -1);
    EXPECT_EQ(second.output().find("cannot listen"), std::string::npos) << second.output();
}

TEST(Daemon, TheBoardsOwnDevicesAreUsedWhenItsSwitchIsThere)
{
    DaemonProcess daemon;
    daemon.WithBoardDevices();
    if (!Launch(daemon, {"--port", std::to_string(FreePort())}))
        return;
    std::string out = daemon.AwaitOutput("Starting server");
    EXPECT_EQ(out.rfind("server: using the board's devices\n", 0), 0u) << out;
    EXPECT_EQ(out.find("stand-in"), std::string::npos) << out;
    // The loop drives the watchdog.
    std::string wd = daemon.Await("/proc/" + std::to_string(daemon.pid()) + "/root/dev/misc/gw-wd");
    EXPECT_EQ(wd.rfind("START", 0), 0u) << wd;
}

TEST(Daemon, ControllerOutOfDescriptorsIsClosedAndTheNextIsServed)
{
    DaemonProcess daemon;
    unsigned short port = FreePort();
    if (!Launch(daemon, {"--port", std::to_string(port)}))
        return;
    // A first controller comes and goes: the sanitizers' first look at each
    // kind of object needs descriptors of its own.
    {
        test::TpktClient first;
        ASSERT_TRUE(Connect(first, port)) << daemon.output();
        ASSERT_EQ(Exchange(first, test::Ping(1), 1)[0].get_seq().getValue(), 1u) << daemon.output();
    }
    std::string out = daemon.AwaitOutput("connection closed by peer");
    ASSERT_NE(out.find("connection closed by peer"), std::string::npos) << out;
    usleep(50000);

    // Room for the accepted socket and the link's copy, not the loop's.
    rlimit old{};
    ASSERT_EQ(::prlimit(daemon.pid(), RLIMIT_NOFILE, nullptr, &old), 0);
    rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(SecondFree(daemon.pid()) + 1);
    ASSERT_EQ(::prlimit(daemon.pid(), RLIMIT_NOFILE, &low, nullptr), 0);
    {
        test::TpktClient client;
        ASSERT_TRUE(client.Connect(port));
        for (int i = 0; i < 500 && !client.Closed(); ++i)
            usleep(10000);
        EXPECT_TRUE(client.Closed());
        const std::string lost = "link lost: STRM: cannot watch the socket: " + std::string(strerror(EMFILE)) + "\n";
        out = daemon.AwaitOutput(lost);
        EXPECT_NE(out.find(lost), std::string::npos) << out;
    }

    // Descriptors free again: the next controller is served.
    ASSERT_EQ(::prlimit(daemon.pid(), RLIMIT_NOFILE, &old, nullptr), 0);
    test::TpktClient client;
    ASSERT_TRUE(Connect(client, port));
    test::ExpectAnswer(Exchange(client, test::Ping(2), 1)[0], 2, -1);
}

// Detached, it leaves the streams it was started with at once: even the
// start-up lines go to the system log.
TEST(Daemon, DetachedWritesNothingToItsCallersStreams)
{
    DaemonProcess daemon;
    ASSERT_TRUE(daemon.Start({"-D", "--port", std::to_string(FreePort())}));
    int status = daemon.Wait();
    if (WIFEXITED(status) && WEXITSTATUS(status) == DaemonProcess::kNoNamespace)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(status, 0);
    std::string pid;
    for (int i = 0; i < 4 && pid.empty(); ++i) // 20 s, as Launch waits
        pid = daemon.Await("run/server.pid");
    ASSERT_FALSE(pid.empty());
    ASSERT_EQ(::kill(std::stoi(pid), SIGTERM), 0);
    for (int i = 0; i < 500 && ::access(daemon.Path("run/server.pid").c_str(), F_OK) == 0; ++i)
        usleep(10000);
    EXPECT_EQ(daemon.output(), "");
}

// Options that end the daemon at once, before any pid file: a bad one
// fails with the usage, help and version succeed.
// A port another socket listens on: the daemon says so and ends with 1,
// leaving no pid file.
TEST(Daemon, APortThatIsTakenEndsWithStatusOne)
{
    int held = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(held, 1), 0);
    ASSERT_EQ(::getsockname(held, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    std::string const port = std::to_string(ntohs(addr.sin_port));
    DaemonProcess daemon;
    ASSERT_TRUE(daemon.Start({"--port", port}));
    int status = daemon.Wait();
    ::close(held);
    ASSERT_NE(status, -1);
    if (WIFEXITED(status) && WEXITSTATUS(status) == DaemonProcess::kNoNamespace)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << daemon.output();
    EXPECT_NE(daemon.output().find("cannot listen on port " + port + ": "), std::string::npos) << daemon.output();
    EXPECT_NE(access(daemon.Path("run/server.pid").c_str(), F_OK), 0);
}

TEST(Daemon, OptionsThatEndAtOnce)
{
    std::ostringstream version;
    version << Version::current << "\n";
    std::string const usage = "Usage: server";
    for (auto [option, failed, start] : {std::tuple<char const*, bool, std::string>{"--frobnicate", true, usage},
                                         {"-h", false, usage}, {"--help", false, usage},
                                         {"--version", false, version.str()}}) {
        DaemonProcess daemon;
        ASSERT_TRUE(daemon.Start({option}));
        int status = daemon.Wait();
        ASSERT_NE(status, -1);
        if (WIFEXITED(status) && WEXITSTATUS(status) == DaemonProcess::kNoNamespace)
            GTEST_SKIP() << "no mount namespace here";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (failed ? 1 : 0)) << option << " " << status;
        EXPECT_EQ(daemon.output().rfind(start, 0), 0u) << daemon.output();
        EXPECT_NE(access(daemon.Path("run/server.pid").c_str(), F_OK), 0);
    }
}

} // namespace
