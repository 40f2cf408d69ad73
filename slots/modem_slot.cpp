#include "slots/modem_slot.h"

#include "core/slots.h"
#include "framework/fd.h"
#include "framework/inet.h"
#include "framework/spawn.h"
#include "framework/text.h"
#include "protocol/term.h"
#include "slots/modem_factory.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <map>
#include <sstream>

namespace {

std::map<std::string, std::string>& Redirects()
{
    static std::map<std::string, std::string> redirects;
    return redirects;
}

// Dotted text to four octets in network order; all ones when it is not an
// address.
uint32_t Address(const std::string& text)
{
    uint32_t address;
    return INet4::ParseDotted(text, address) ? address : 0xFFFFFFFFu;
}

// The controller's texts are IA5: an octet above 127 would make the signal
// fail to encode.
std::string Ia5(std::string text, bool& replaced)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) > 0x7F) {
            c = '?';
            replaced = true;
        }
    return text;
}

BASE::INTEGER64Bits Counter(uint32_t high, uint32_t low)
{
    BASE::INTEGER64Bits value;
    value.set_high(high);
    value.set_low(low);
    return value;
}

} // namespace

ModemSlot::ModemSlot(const TERM::ModemParams& params)
    : Slot(ModemFactory::instance()), mParams(params)
{
    mWatch.Bind(&ModemSlot::on_terminate, this);
}

ModemSlot::~ModemSlot()
{
    pppd_kill();
}

ModemFactory& ModemSlot::factory() const
{
    return ModemFactory::instance();
}

std::ostream& ModemSlot::Head(std::ostream& os) const
{
    Put(os);
    return os << ": ";
}

void ModemSlot::RedirectProgram(const std::string& path, const std::string& to)
{
    if (path.empty())
        Redirects().clear();
    else
        Redirects()[path] = to;
}

std::string ModemSlot::OnAuth(const ModemAuth::Record& record)
{
    std::ostringstream fault;
    switch (record.type()) {
    case ModemAuth::AuthRequest:
        if (record.size == ModemAuth::kAuthRequestSize)
            OnAuthRequest(record, fault);
        else
            Head(fault) << "auth request, invalid size: " << record.size;
        break;
    case ModemAuth::AuthAccept:
        Head(fault) << "auth accept, ignored.";
        break;
    case ModemAuth::AuthIp:
        Head(fault) << "auth ip, ignored.";
        break;
    case ModemAuth::Accounting:
        if (record.size == ModemAuth::kAccountingSize)
            OnAcctInformation(record);
        else
            Head(fault) << "auth accounting, invalid size: " << record.size;
        break;
    default:
        Head(fault) << "unknown request from portslave: 0x" << std::hex << std::uppercase << record.type();
        break;
    }
    return fault.str();
}

void ModemSlot::OnAuthRequest(const ModemAuth::Record& record, std::ostream& note)
{
    bool replaced = false;
    TERM::MdmRequestUserAuth auth;
    auth.set_username(Ia5(record.Text(ModemAuth::kHeaderSize, ModemAuth::kTextSize), replaced));
    auth.set_password(Ia5(record.Text(ModemAuth::kHeaderSize + ModemAuth::kTextSize, ModemAuth::kTextSize), replaced));
    if (replaced)
        Head(note) << "auth request: octets outside IA5 replaced by '?'";
    OnModem(TERM::ModemProceeding(auth));
}

void ModemSlot::OnAcctInformation(const ModemAuth::Record& record)
{
    TERM::MdmAccounting acct;
    acct.set_octetsOut(Counter(record.Word(24), record.Word(28)));
    acct.set_octetsIn(Counter(record.Word(32), record.Word(36)));
    acct.set_packetsOut(Counter(record.Word(40), record.Word(44)));
    acct.set_packetsIn(Counter(record.Word(48), record.Word(52)));
    acct.set_time(Counter(0, record.Word(56)));
    OnModem(TERM::ModemProceeding(acct));
}

bool ModemSlot::IActivate(TERM::TermActivateParams const& params)
{
    if (!params.modem_isSelected()) {
        Head(std::cerr) << "modem's activation requests parameter." << std::endl;
        return false;
    }
    const TERM::ModemUserParameters& user = params.get_modem();
    // The peer takes the MTU as an unsigned word: a negative one would pass as huge.
    if (user.get_mtu().getValue() < 0) {
        Head(std::cerr) << "modem's activation: negative mtu " << user.get_mtu().getValue() << std::endl;
        Answer::Refuse(Answer::invalidParams);
        return false;
    }
    const uint32_t session = static_cast<uint32_t>(modem_id());
    factory().SendAuth(*this, ModemAuth::MakeAccept(session));
    factory().SendAuth(*this, ModemAuth::MakeIp(session, Address(user.get_remoteAddr()), Address(user.get_netmask()),
                                                Address(user.get_gateway()), Address(user.get_dns()),
                                                static_cast<uint32_t>(user.get_mtu().getValue())));
    return true;
}

bool ModemSlot::IBeforeDestroy()
{
    if (mChild > 0) {
        Head(std::cerr) << "sent HUP to pppd." << std::endl;
        mWatch.Kill(SIGHUP);
        mTimer.set(kTerminateMs, &ModemSlot::on_terminate_timeout, this);
        return false;
    }
    unbind();
    return true;
}

int ModemSlot::StartChild(const std::string& program, const std::vector<std::string>& argv)
{
    // A relative path would run whatever the daemon's working directory holds.
    if (program.empty() || program[0] != '/') {
        Head(std::cerr) << "program path is not absolute: " << ext::quoted(program) << std::endl;
        OnAbort(EINVAL);
        return -1;
    }
    auto redirect = Redirects().find(program);
    const std::string& run = redirect != Redirects().end() ? redirect->second : program;
    Spawn::Stdio stdio;
    stdio.out = STDOUT_FILENO; // the daemon's log
    stdio.err = STDERR_FILENO;
    pid_t pid = Spawn::Start(run, argv, stdio, 2);
    if (pid < 0) {
        Errno error;
        Head(std::cerr) << "vfork fail: " << error << std::endl;
        OnAbort(error.value());
        return -1;
    }
    return pid;
}

void ModemSlot::pppd_exec(const std::string& device, const char* options)
{
    if (mChild > 0)
        return;
    const std::string program = mParams.execfile_isPresent() ? std::string(mParams.get_execfile()) : kPppd;
    std::vector<std::string> argv{program};
    if (mParams.execargs_isPresent()) {
        const auto& args = mParams.get_execargs();
        for (unsigned i = 0; i < args.size() && argv.size() < kMaxArgs - 1; ++i)
            argv.push_back(args[i]);
    } else {
        argv.insert(argv.end(), {"file", options, device});
        if (!mParams.get_cid().empty())
            argv.insert(argv.end(), {"remotenumber", mParams.get_cid()});
    }
    int pid = StartChild(program, argv);
    if (pid < 0)
        return;
    mChild = pid;
    mWatch.Bind(&ModemSlot::on_terminate, this);
    mWatch.Attach(pid);
    Head(std::clog) << "pppd executed cid=\"" << ext::escaped(mParams.get_cid()) << "\" pid=" << pid << std::endl;
}

void ModemSlot::pppd_kill()
{
    if (mChild <= 0)
        return;
    Head(std::cerr) << "pppd isn't terminated, killing ..." << std::endl;
    mWatch.Kill(SIGKILL);
    // Once killed, the pid may be reaped and reused: it is never signalled again.
    mChild = -1;
}

void ModemSlot::on_terminate(int status)
{
    Head(std::clog) << "pppd terminated with code " << status << std::endl;
    mChild = -1;
    mTimer.reset();
    if (is_releasing()) {
        unbind();
        on_release(); // deletes this slot
        return;
    }
    OnAbort(status);
}

void ModemSlot::on_terminate_timeout(Timer*)
{
    Head(std::cerr) << "pppd terminate timeout!" << std::endl;
    pppd_kill();
    if (is_releasing()) {
        unbind();
        on_release(); // deletes this slot
    }
}
