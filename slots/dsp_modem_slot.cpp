#include "slots/dsp_modem_slot.h"

#include "board/device.h"
#include "board/device_names.h"
#include "board/modem_requests.h"
#include "core/slots.h"
#include "slots/modem_factory.h"

#include <fcntl.h>

#include <cerrno>
#include <ctime>
#include <iostream>

namespace {

uint32_t ModeMask(const TERM::ModemParams_ddm& modes)
{
    uint32_t mask = 0;
    for (unsigned i = 0; i < modes.size(); ++i) {
        switch (modes[i].asNamedNumber()) {
        case TERM::DigitalDataModeEnum::ddmV110:
            mask |= ModemRequest::kV110;
            break;
        case TERM::DigitalDataModeEnum::ddm8BIT:
            mask |= ModemRequest::k8Bit;
            break;
        case TERM::DigitalDataModeEnum::ddm7BIT:
            mask |= ModemRequest::k7Bit;
            break;
        default: // V.120 has no bit
            break;
        }
    }
    return mask;
}

} // namespace

DspModemSlot::DspModemSlot(const TERM::ModemParams& params)
    : ModemSlot(params)
{
}

DspModemSlot::~DspModemSlot()
{
    unbind();
}

void DspModemSlot::unbind()
{
    factory().ReleaseModemSlot(this);
}

bool DspModemSlot::IOnOutputStream()
{
    InitModem();
    return mTimeslot >= 0;
}

bool DspModemSlot::IOnInputStream()
{
    InitModem();
    return mTimeslot >= 0;
}

void DspModemSlot::InitModem()
{
    if (mModem >= 0)
        return;
    Fd control(Device::Open(GetModemDevName(), O_RDONLY));
    if (!control) {
        Errno error;
        Head(std::cerr) << "fail to open device: " << error << std::endl;
        OnAbort(error.value());
        return;
    }
    const int fd = control.lowlevel_fd();
    const int modem = Device::Request(fd, ModemRequest::kAllocate, nullptr);
    if (modem < 0) {
        Errno error;
        Head(std::cerr) << "insufficient resources : " << error << std::endl;
        OnAbort(error.value());
        return;
    }
    const int timeslot = Device::Request(fd, ModemRequest::kTimeslot, nullptr);
    if (timeslot < 0) {
        Errno error;
        Head(std::cerr) << "get timeslot fail : " << error << std::endl;
        OnAbort(error.value());
        return;
    }
    // One slot per switch channel, as at create: the modem goes back.
    if (Slot* holder = Slots::instance().Holding(*this, timeslot, timeslot)) {
        Head(std::cerr) << "switch channel " << timeslot << " is held by slot " << *holder << std::endl;
        OnAbort(EBUSY);
        return;
    }
    const uint32_t n = static_cast<uint32_t>(modem);
    if (mParams.ddm_isPresent()) {
        ModemRequest::ModemWord modes{n, ModeMask(mParams.get_ddm())};
        if (Device::Request(fd, ModemRequest::kDigitalModes, &modes) < 0) {
            Errno error;
            Head(std::cerr) << "set DDM failed : " << error << std::endl;
            OnAbort(error.value());
            return;
        }
    }
    ModemRequest::ModemWord reset{n, ModemRequest::kAll};
    if (Device::Request(fd, ModemRequest::kResetDmp, &reset) < 0) {
        Errno error;
        Head(std::cerr) << "reset dmp parameters failed : " << error << std::endl;
    }
    if (mParams.dmp_isPresent()) {
        const auto& list = mParams.get_dmp();
        for (unsigned i = 0; i < list.size(); ++i) {
            const int offset = list[i].get_offset().getValue();
            const int value = list[i].get_value().getValue();
            ModemRequest::DmpParam param{n, static_cast<uint32_t>(offset), static_cast<uint32_t>(value)};
            if (Device::Request(fd, ModemRequest::kSetDmp, &param) < 0) {
                Errno error;
                Head(std::cerr) << "set dmp parameter index=" << offset << " value=" << value << " failed : " << error
                                << std::endl;
            }
        }
    }
    mTimeslot = timeslot;
    mModem = modem;
    mControl = std::move(control);
    OnChangeOutputStream(true);
    OnChangeInputStream(true);

    const bool fax = mParams.fax_isPresent();
    const bool originate = mParams.originate_isPresent();
    const std::string device = "/dev/mdm" + std::to_string(mModem);
    if (!fax && !originate) {
        if (Call(ModemRequest::kAnswer, "answer failed : "))
            pppd_exec(device, "/usr/local/etc/ppp/aoptions");
    } else if (!fax) {
        if (Call(ModemRequest::kOriginate, "originate failed : "))
            pppd_exec(device, "/usr/local/etc/ppp/coptions");
    } else if (mParams.execargs_isPresent()) {
        FaxTransfer();
    } else if (originate) {
        Call(ModemRequest::kFaxOriginate, "originate failed : ");
    } else {
        RunFaxReceiver();
    }
}

bool DspModemSlot::Call(unsigned long code, const char* failure)
{
    ModemRequest::ModemWord word{static_cast<uint32_t>(mModem), ModemRequest::kAll};
    if (Device::Request(mControl.lowlevel_fd(), code, &word) != -1)
        return true;
    Errno error;
    Head(std::cerr) << failure << error << std::endl;
    OnAbort(error.value());
    return false;
}

void DspModemSlot::FaxTransfer()
{
    const std::string program = mParams.execfile_isPresent() ? std::string(mParams.get_execfile()) : kFaxSender;
    std::vector<std::string> argv{program, "-m", std::to_string(mModem)};
    const auto& args = mParams.get_execargs();
    for (unsigned i = 0; i < args.size() && argv.size() < kMaxArgs - 1; ++i)
        argv.push_back(args[i]);
    StartFax(argv, "fax transfer executed");
}

void DspModemSlot::RunFaxReceiver()
{
    char name[64];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    if (std::strftime(name, sizeof name, "/var/fax-%H-%M-%S.g3", &local) == 0)
        name[0] = 0;
    StartFax({kFaxReceiver, "-m", std::to_string(mModem), "receive", name}, "fax receiver executed");
}

void DspModemSlot::StartFax(const std::vector<std::string>& argv, const char* what)
{
    // The fax program works the modem itself; the control descriptor stays
    // open, as it is the slot's hold on the modem: closed, the modem would
    // be handed to another slot while the fax runs.
    int pid = StartChild(argv[0], argv);
    if (pid < 0)
        return;
    mChild = pid;
    mWatch.Bind(&DspModemSlot::on_fax_terminate, this);
    mWatch.Attach(pid);
    Head(std::clog) << what << " modem=" << mModem << " ts=" << mTimeslot << std::endl;
}

void DspModemSlot::on_fax_terminate(int status)
{
    Head(std::clog) << "fax terminated with code " << status << std::endl;
    mChild = -1;
    mTimer.reset();
    if ((status & 0xFF) != 0)
        Head(std::clog) << "fax transfer failed" << std::endl;
    const unsigned pages = (static_cast<unsigned>(status) >> 8) & 0xFF;
    Head(std::clog) << "pages received: " << pages << std::endl;
    TERM::MdmAccounting acct;
    acct.get_octetsIn().set_low(pages);
    OnModem(TERM::ModemProceeding(acct));
    if (is_releasing()) {
        unbind();
        on_release(); // deletes this slot
        return;
    }
    OnAbort(status);
}
