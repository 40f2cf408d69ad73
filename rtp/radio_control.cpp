#include "rtp/radio_control.h"

#include "asn1/coder_env.h"
#include "board/device.h"
#include "board/device_names.h"
#include "core/slots.h"
#include "framework/mux_time.h"
#include "protocol/term.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <vector>

namespace RTPSignalling {

const char* GetRtpExtDevName()
{
    return ::GetRtpExtDevName();
}

RadioControl::RadioControl(int slot, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : mType(kRadioOwnAttached), mExtAttach(attach), mInit(init), mSlot(static_cast<unsigned long>(slot))
{
    Init(kRadioOwnAttached);
}

RadioControl::RadioControl(int slot, Fd rtp, rtp_attach_session_params const& attach)
    : mType(kRadioAttachRtp), mRtp(std::move(rtp)), mRtpAttach(attach), mSlot(static_cast<unsigned long>(slot))
{
    Init(kRadioAttachRtp);
}

RadioControl::RadioControl(rtp_ext_init_params const& init)
    : mType(kRadioOwnOnly), mInit(init), mSlot(0)
{
    Init(kRadioOwnOnly);
}

RadioControl::~RadioControl()
{
    mTimer.reset();
    mEvent.Release();
}

void RadioControl::Init(RadioControlType type)
{
    mType = type;
    mLastProcess = Mux::milliseconds();
    mInterval = 1000;
    mFilterActive = false;
    mNotify = nullptr;
    mTimerEnabled = false;
    mDebug = false;
    RtpExtStart(true);
}

bool RadioControl::is_started() const
{
    return mStarted;
}

int RadioControl::Unwritten(uint32_t command)
{
    std::cerr << GetPrefix() << "command=0x" << std::hex << command << std::dec << " not written: nothing applied"
              << std::endl;
    Answer::Refuse(Answer::internal);
    return -1;
}

bool RadioControl::Fail(Fd& opened, const char* message)
{
    mStarted = false;
    std::cerr << GetPrefix() << message << std::endl;
    opened.close();
    return false;
}

bool RadioControl::RtpExtStart(bool init)
{
    if (mType == kRadioAttachRtp) {
        rtp_attach_session_params attach = mRtpAttach;
        if (Device::Request(mRtp.lowlevel_fd(), RtpRequest::kAttachSession, &attach) < 0) {
            Fd none;
            return Fail(none, "attach rtp session fail !!!");
        }
        mStarted = true;
        return true;
    }
    if (mType == kRadioOwnOnly && !init)
        return true;
    // A blocking extension device would stall the loop in its receive burst.
    Fd ext(Device::Open(GetRtpExtDevName(), O_RDWR | O_NONBLOCK));
    if (!ext)
        return Fail(ext, "create rtp_ext session fail !!!");
    rtp_ext_init_params params = mInit;
    if (Device::Request(ext.lowlevel_fd(), RtpExtRequest::kInit, &params) < 0)
        return Fail(ext, "init rtp_ext session fail !!!");
    if (mType == kRadioOwnAttached) {
        rtp_ext_attach_session_params attach = mExtAttach;
        if (Device::Request(ext.lowlevel_fd(), RtpExtRequest::kAttach, &attach) < 0)
            return Fail(ext, "attach rtp_ext session fail !!!");
    }
    mEvent.Release();
    mExt = std::move(ext);
    mEvent.Bind("RadioControl::OnRtpExtEvent", &RadioControl::OnRtpExtEvent, this);
    mEvent.Schedule(mExt, POLLIN);
    mStarted = true;
    return true;
}

void RadioControl::SetRtpSession(Fd const& session)
{
    if (mType == kRadioAttachRtp)
        mRtp = session;
    else
        mExtAttach.fd_rtp = session.lowlevel_fd();
}

bool RadioControl::RtpExtStop()
{
    // Our duplicate would keep an RTP session open that its slot has ended.
    if (mType == kRadioAttachRtp) {
        mRtp.close();
        mStarted = false;
    }
    if (mType != kRadioOwnAttached || !mExt)
        return true;
    mStarted = false;
    if (Device::Request(mExt.lowlevel_fd(), RtpExtRequest::kDetach, nullptr) < 0) {
        Errno e;
        std::cerr << GetPrefix() << "detach rtp_ext session fail !!! " << e << std::endl;
    }
    mEvent.Release();
    mExt.close();
    // A new session starts without a filter in the driver.
    mFilterActive = false;
    mFilter = rtp_ext_source_filter{};
    return true;
}

void RadioControl::OnRtpExtEvent(int, short events)
{
    if ((events & POLLIN) && mDebug)
        std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
}

ssize_t RadioControl::ReadExtPacket(unsigned char* buf, size_t size, short events)
{
    int info = Device::Request(mExt.lowlevel_fd(), RtpExtRequest::kNextPacket, &mInfo);
    if (info >= 1) {
        ++mStats.announced;
    } else {
        if (info < 0)
            mStats.infoErrno = errno;
        // Never credit a packet to the previous sender.
        mInfo = rtp_ext_packet_info{};
    }
    ssize_t got = ::read(mExt.lowlevel_fd(), buf, size);
    if (got > 0) {
        mStats.bytesReceived += static_cast<uint32_t>(got);
        return got;
    }
    if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        mStats.readErrno = errno;
    if (got == 0 && (events & (POLLHUP | POLLERR))) {
        // A hung-up session would wake the loop for ever.
        std::cerr << GetPrefix() << "rtp_ext session closed by the driver" << std::endl;
        mEvent.Release();
    }
    return 0;
}

bool RadioControl::CanSend(const char* what)
{
    if (!mExt)
        std::cerr << GetPrefix() << "no rtp_ext session: radio " << what << " not sent" << std::endl;
    return static_cast<bool>(mExt);
}

int RadioControl::WriteExtPacket(const unsigned char* buf, int32_t length)
{
    if (length < 1) {
        mStats.packError = length;
        return 0;
    }
    if (!mExt) {
        mStats.writeErrno = EBADF;
        return -1;
    }
    ssize_t written = ::write(mExt.lowlevel_fd(), buf, static_cast<size_t>(length));
    if (written > 0) {
        mStats.bytesSent += static_cast<uint32_t>(written);
        ++mStats.sent;
    } else {
        mStats.writeErrno = errno;
    }
    return static_cast<int>(written);
}

void RadioControl::SetTimerEnable(bool on)
{
    mTimerEnabled = on;
    if (on)
        SetTimer(mInterval);
    else
        mTimer.reset();
}

void RadioControl::SetTimer(unsigned long ms)
{
    mTimer.set(static_cast<unsigned>(ms), &RadioControl::OnProcessStatus, this);
}

void RadioControl::OnProcessStatus(Timer*)
{
    uint32_t now = Mux::milliseconds();
    mLastProcess = now;
    unsigned long next = ProcessRadioStatus(now, mInterval);
    SetTimer(next);
}

int RadioControl::UpdateAccess(bool set, in_addr const& source)
{
    if (set) {
        if (mFilterActive && mFilter.addr.s_addr == source.s_addr)
            return 0;
        rtp_ext_source_filter filter{source, 0};
        if (Device::Request(mExt.lowlevel_fd(), RtpExtRequest::kSourceFilter, &filter) < 0) {
            // Not marked active: the next call tries again.
            Errno e;
            std::cerr << GetPrefix() << "set filer rtp_ext session fail !!! " << e << std::endl;
            return 0;
        }
        mFilter = filter;
        mFilterActive = true;
        return 0;
    }
    if (!mFilterActive)
        return 0;
    mFilter = rtp_ext_source_filter{};
    mFilterActive = false;
    if (Device::Request(mExt.lowlevel_fd(), RtpExtRequest::kRemoveFilter, nullptr) < 0) {
        Errno e;
        std::cerr << GetPrefix() << "reset filer rtp_ext session fail !!! " << e << std::endl;
    }
    return 0;
}

uint32_t ClockAge(uint32_t then, uint32_t now)
{
    int32_t d = Mux::msec_diff(then, now);
    return d > 0 ? static_cast<uint32_t>(d) : 0;
}

bool RadioControl::Report(TERM::RtpRadioRequest const& request, const char* lead, uint32_t command)
{
    // A report the link cannot carry is dropped here, with its reason.
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> octets;
    if (!env.encodePER(request, std::back_inserter(octets))) {
        std::cerr << GetPrefix() << lead << std::hex << command << std::dec << " report not encodable, dropped: "
                  << request << std::endl;
        return false;
    }
    if (mDebug)
        std::clog << GetPrefix() << lead << std::hex << command << std::dec << " send extension to controller: "
                  << request << std::endl;
    if (mNotify)
        mNotify->RadioControlNotify(request);
    return true;
}

const std::string& RadioControl::GetPrefix()
{
    Mux::timeval now;
    Mux::gettimeval(now);
    std::string time = Mux::timevaltostring(now);
    char buf[255] = {};
    if (mType == kRadioOwnOnly)
        std::snprintf(buf, sizeof buf - 1, "rtp_ext %s:", time.c_str());
    else
        std::snprintf(buf, sizeof buf - 1, "rtp_ext[%lu] %s:", mSlot, time.c_str());
    mPrefix = buf;
    return mPrefix;
}

} // namespace RTPSignalling
