#include "slots/t38_slot.h"

#include "board/mcc.h"
#include "core/slots.h"
#include "framework/fd.h"
#include "framework/inet.h"
#include "framework/spawn.h"
#include "framework/text.h"
#include "protocol/lgcp.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <iostream>
#include <vector>

namespace {

// The vector holds at most 31 strings: the first four and up to 27 args.
constexpr size_t kMaxArgs = 31;
// The child's status when the program cannot be executed (its parent sees 237).
constexpr int kExecFailed = 1005;
// The query child's status then, as a shell would give it.
constexpr int kQueryExecFailed = 127;
constexpr size_t kMaxLine = 31;

struct Program
{
    std::string path = T38SoftFactory::kProgram;
    unsigned queryTimeoutMs = T38SoftFactory::kQueryTimeoutMs;
};

Program& program()
{
    static Program p;
    return p;
}

// Digits only, to the end of the line: anything else is no count.
bool parse_count(const std::string& line, int& count)
{
    if (line.empty() || line.size() > 9)
        return false;
    count = 0;
    for (char c : line) {
        if (c < '0' || c > '9')
            return false;
        count = count * 10 + (c - '0');
    }
    return true;
}

// Holds SIGCHLD off while it lives, so the child-exit service cannot reap
// a child that is waited for here.
class HoldChildSignal
{
public:
    HoldChildSignal()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGCHLD);
        pthread_sigmask(SIG_BLOCK, &set, &mOld);
    }
    ~HoldChildSignal() { pthread_sigmask(SIG_SETMASK, &mOld, nullptr); }
    HoldChildSignal(const HoldChildSignal&) = delete;
    HoldChildSignal& operator=(const HoldChildSignal&) = delete;

private:
    sigset_t mOld;
};

} // namespace

// ---------------------------------------------------------------- slot

T38SoftSlot::T38SoftSlot(T38SoftFactory& factory, int pid, int timeslot)
    : Slot(factory), mFactory(factory), mPid(pid), mTimeslot(timeslot)
{
    mWatch.Bind(&T38SoftSlot::OnT38Terminate, this);
    mWatch.Attach(pid);
}

void T38SoftSlot::PutHeader(std::ostream& os) const
{
    Put(os);
    os << ": ";
}

void T38SoftSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

T38SoftSlot::~T38SoftSlot()
{
    IBeforeDestroy();
}

bool T38SoftSlot::IBeforeDestroy()
{
    // The destroy does not wait for the program: the factory sees it out.
    if (mPid >= 1) {
        mWatch.Detach();
        mFactory.Terminate(mPid);
    }
    mPid = -1;
    return true;
}

void T38SoftSlot::OnT38Terminate(int status)
{
    if (WIFEXITED(status))
        std::clog << ext::header(this) << "t38 daemon terminated with code=" << WEXITSTATUS(status) << std::endl;
    else if (WIFSIGNALED(status))
        std::clog << ext::header(this) << "t38 daemon terminated by signal=" << WTERMSIG(status) << std::endl;
    mPid = -1;
    // The channel went back with the program and may go to another slot:
    // the switch connections on it are undone and the slot holds it no more.
    Slots::instance().Teardown(*this);
    mTimeslot = -1;
    OnAbort(this, status);
}

// ---------------------------------------------------------------- factory

T38SoftFactory& T38SoftFactory::instance()
{
    static T38SoftFactory factory;
    return factory;
}

void T38SoftFactory::set_program_for_test(const std::string& path, unsigned queryTimeoutMs)
{
    program().path = path;
    program().queryTimeoutMs = queryTimeoutMs;
}

void T38SoftFactory::PutHeader(std::ostream& os) const
{
    os << "t38soft: ";
}

T38SoftFactory::Ending::Ending(T38SoftFactory& owner, int pid) : factory(owner)
{
    watch.Bind(&Ending::OnEnd, this);
    watch.Attach(pid);
}

void T38SoftFactory::Ending::OnEnd(int)
{
    factory.Forget(*this); // deletes this
}

void T38SoftFactory::Ending::OnTimeout(Timer*)
{
    if (watch.Kill(SIGKILL))
        std::cerr << ext::header(&factory) << "t38 daemon[" << watch.get_pid() << "] killed: still running "
                  << kTerminateMs << " ms after SIGTERM" << std::endl;
    factory.Forget(*this); // deletes this
}

void T38SoftFactory::Terminate(int pid)
{
    mEnding.emplace_back(*this, pid);
    Ending& ending = mEnding.back();
    if (ending.watch.Kill(SIGTERM))
        ending.timer.set(kTerminateMs, &Ending::OnTimeout, &ending);
    else
        Forget(ending); // it has ended already
}

void T38SoftFactory::IAtExit()
{
    for (const Ending& ending : mEnding)
        if (ending.watch.Kill(SIGKILL))
            std::cerr << ext::header(this) << "t38 daemon[" << ending.watch.get_pid() << "] killed: still running at exit"
                      << std::endl;
    mEnding.clear();
}

void T38SoftFactory::Forget(const Ending& ending)
{
    mEnding.remove_if([&](const Ending& e) { return &e == &ending; });
}

Slot* T38SoftFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.t38soft_isSelected())
        return nullptr;
    const LGCP::T38Soft& t38 = params.get_t38soft();
    const std::string& remote = t38.get_dhost().get_iaddr();
    uint32_t address;
    if (!INet4::ParseDotted(remote, address)) {
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - remote address is not dotted IPv4: "
                  << ext::quoted(remote) << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return nullptr;
    }

    // The channel's record takes them unsigned: a negative one is refused, not wrapped.
    const int size = t38.get_rx_packet_size().getValue(), rx = t38.get_rx_threshold().getValue(),
              tx = t38.get_tx_threshold().getValue();
    if (size < 0 || rx < 0 || tx < 0) {
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - negative packet size or threshold: " << size
                  << "/" << rx << "/" << tx << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return nullptr;
    }
    Mcc::Channel r = Mcc::Allocate(O_RDWR, {Mcc::kTransparent, static_cast<uint32_t>(size), 0,
                                                  static_cast<uint32_t>(rx), static_cast<uint32_t>(tx)});
    switch (r.failed) {
    case Mcc::Channel::ok:
        break;
    case Mcc::Channel::open:
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [" << r.error << "]"
                  << std::endl;
        return nullptr;
    case Mcc::Channel::allocate:
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [" << r.error << "]"
                  << std::endl;
        return nullptr;
    case Mcc::Channel::query:
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [" << r.error << "]"
                  << std::endl;
        return nullptr;
    }

    std::vector<std::string> argv = {kProgram, "--child", "--remote",
                                     remote + "/" + std::to_string(t38.get_dhost().get_port().getValue()) + "/" +
                                         std::to_string(t38.get_shost().get_port().getValue())};
    for (const auto& arg : t38.get_args()) {
        if (argv.size() >= kMaxArgs)
            break;
        argv.push_back(arg);
    }
    std::clog << ext::header(this) << "args for run t38 daemon:" << std::endl;
    for (size_t i = 0; i < argv.size(); ++i)
        std::clog << ext::header(this) << "arg[" << i << "]=" << ext::escaped(argv[i]) << std::endl;

    // The program's output goes where the daemon's own goes: the log.
    const pid_t pid = Spawn::Start(program().path, argv, {r.fd.lowlevel_fd(), STDOUT_FILENO, STDERR_FILENO},
                                   kExecFailed);
    if (pid < 0)
        return nullptr;
    std::clog << ext::header(this) << "t38 daemon[" << pid << "] successfully started" << std::endl;
    // The channel stays open in the child only.
    return new T38SoftSlot(*this, pid, r.timeslot);
}

void T38SoftFactory::Query(LGCP::Resources& resources)
{
    resources.set_t38_instances(QueryNumOfInstances());
}

int T38SoftFactory::QueryNumOfInstances()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        std::clog << ext::header(this) << "t38 daemon not found!" << std::endl;
        return 0;
    }
    Fd reader(ends[0]);
    Fd writer(ends[1]);
    HoldChildSignal hold;
    const pid_t pid = Spawn::Start(program().path, {kProgram, "--num-of-instances"},
                                   {Spawn::kNull, writer.lowlevel_fd(), STDERR_FILENO}, kQueryExecFailed);
    writer.close();
    if (pid < 0) {
        std::clog << ext::header(this) << "t38 daemon not found!" << std::endl;
        return 0;
    }

    // One line, read under a deadline: the loop waits meanwhile.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(program().queryTimeoutMs);
    std::string line;
    bool ended = false;   // a line end or the end of the output
    bool timedOut = false;
    while (!ended && line.size() < kMaxLine) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p = {reader.lowlevel_fd(), POLLIN, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        char c;
        const ssize_t got = ::read(reader.lowlevel_fd(), &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || c == '\n')
            ended = true;
        else
            line += c;
    }
    reader.close();
    // The program has until the deadline to end, then it is ended.
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (timedOut || Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        ::usleep(1000);
    }

    if (timedOut) {
        std::cerr << ext::header(this) << "t38: no answer within " << program().queryTimeoutMs << " ms" << std::endl;
        return 0;
    }
    if (line.empty()) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == kQueryExecFailed)
            std::clog << ext::header(this) << "t38 daemon not found!" << std::endl;
        else
            std::clog << ext::header(this) << "t38: can't detect T38 resources" << std::endl;
        return 0;
    }
    int count = 0;
    if (!parse_count(line, count)) {
        std::cerr << ext::header(this) << "t38: not a count: " << ext::quoted(line) << std::endl;
        return 0;
    }
    return count;
}
