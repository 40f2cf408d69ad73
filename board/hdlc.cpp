#include "board/hdlc.h"

#include "board/device.h"
#include "board/hw_mux.h"
#include "board/mcc.h"
#include "board/receiver_device.h"
#include "framework/packet.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace {

// Frames taken per wake-up, so a flooding channel cannot starve the loop.
constexpr int kReadsPerEvent = 32;

} // namespace

GenericHDLC::~GenericHDLC() = default;

HDLC::Notify::~Notify() = default;

HDLC::HDLC()
{
    // Bound once: the callback must outlive a close from within itself.
    mEvent.Bind("HDLC::OnEvent", &HDLC::OnEvent, this);
}

HDLC::~HDLC()
{
    if (mGone)
        *mGone = true;
    deactivate();
}

void HDLC::PutHeader(std::ostream& os) const
{
    os << "HDLC[" << mTrunk << "/" << mChannel << "]: ";
}

bool HDLC::KindOf(int mode, uint32_t& kind)
{
    switch (mode) {
    case ss7:
        kind = Mcc::kSs7;
        return true;
    case pri:
        kind = Mcc::kData;
        return true;
    case bri:
        kind = Mcc::kBri;
        return true;
    default:
        return false;
    }
}

bool HDLC::Fail(const char* what)
{
    Errno error;
    PutHeader(std::cerr);
    std::cerr << what << error << std::endl;
    Close();
    return false;
}

bool HDLC::activate()
{
    deactivate();

    Mcc::Allocation record{0, kPacketSize, 0, 1, 1};
    if (!KindOf(mParams.mode, record.kind)) {
        PutHeader(std::cerr);
        std::cerr << "unknown channel mode " << mParams.mode << std::endl;
        return false;
    }
    Fd fd(Device::Open(Mcc::kDevice, O_RDWR | O_NONBLOCK));
    if (!fd)
        return Fail("fail to open MCC device: ");
    if (!mEvent.Schedule(fd, 0)) // owns the channel from here on
        return Fail("can't watch the MCC channel: ");
    fd.close();
    if (Device::Request(mEvent.lowlevel_fd(), Mcc::kAllocate, &record) < 0)
        return Fail("MCC_ALLOCATE fail: ");
    int channel = Device::Request(mEvent.lowlevel_fd(), Mcc::kTimeslot);
    if (channel < 0)
        return Fail("MCC_TIMESLOT fail: ");
    mChannel = channel;

    HwMux& mux = HwMux::instance();
    if (mParams.tdm >= 0) {
        if (!mux.Connect(mParams.tdm, mChannel))
            return Fail("can't connect the channel to its line: ");
        mFedChannel = true;
    }
    int line = mParams.tdm2 >= 0 ? mParams.tdm2 : mParams.tdm;
    if (line >= 0) {
        if (!mux.Connect(mChannel, line)) {
            Errno error;
            Shutdown();
            errno = error.value();
            return Fail("can't connect the line to its channel: ");
        }
        mFedLine = line;
    }

    mReady = true;
    mLost = false;
    mEvent.SetEvents(POLLIN);
    if (mLogLevel > 0) {
        PutHeader(std::clog);
        std::clog << "activated, kind " << record.kind << ", tdm " << mParams.tdm << "/" << mParams.tdm2
                  << std::endl;
    }
    return true;
}

void HDLC::deactivate()
{
    if (!is_open())
        return;
    if (mLogLevel > 0) {
        PutHeader(std::clog);
        std::clog << "deactivated" << std::endl;
    }
    Shutdown();
}

void HDLC::Shutdown()
{
    HwMux& mux = HwMux::instance();
    if (mFedLine >= 0)
        mux.Disconnect(mFedLine);
    if (mFedChannel)
        mux.Disconnect(mChannel);
    Close();
}

void HDLC::Close()
{
    mEvent.Release();
    mChannel = -1;
    mFedLine = -1;
    mFedChannel = false;
    mReady = false;
}

bool HDLC::hdlc_transmit(Packet& frame)
{
    if (frame.empty())
        return true;
    if (!is_open()) {
        ++mStatistics.discarded;
        return false;
    }
    if (frame.length() > kPacketSize) {
        ++mStatistics.overflows;
        PutHeader(std::cerr);
        std::cerr << "frame of " << frame.length() << " octets is too long" << std::endl;
        return false;
    }
    ssize_t n;
    do
        n = ::write(mEvent.lowlevel_fd(), frame.data(), frame.length());
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Reported once by on_hdlc_ready when the device drains.
            mReady = false;
            mEvent.SetEvents(POLLIN | POLLOUT);
            return false;
        }
        ++mStatistics.errors;
        if (mLogLevel > 0) {
            Errno error;
            PutHeader(std::clog);
            std::clog << "write failed: " << error << std::endl;
        }
        return false;
    }
    ++mStatistics.sent;
    if (mLogLevel > 1) {
        PutHeader(std::clog);
        std::clog << "tx " << frame << std::endl;
    }
    return true;
}

void HDLC::OnEvent(int fd, short revents)
{
    bool gone = false;
    mGone = &gone;
    bool open = true;
    if (revents & POLLIN)
        open = Receive(fd, gone);
    if (gone)
        return;
    mGone = nullptr;
    if (!open)
        return;
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
        Lost(revents & POLLHUP ? "device hung up" : "device error");
        return;
    }
    if ((revents & POLLOUT) && !mReady) {
        mReady = true;
        mEvent.SetEvents(POLLIN);
        if (mNotify)
            mNotify->on_hdlc_ready();
    }
}

bool HDLC::Receive(int fd, const bool& gone)
{
    for (int i = 0; i < kReadsPerEvent; ++i) {
        Packet frame;
        frame.reserve_head(0);
        ssize_t n = ::read(fd, frame.tail(), frame.tailroom());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            Errno error;
            PutHeader(std::cerr);
            std::cerr << "read failed: " << error << std::endl;
            Lost("read error");
            return false;
        }
        if (n == 0 || static_cast<size_t>(n) > kPacketSize) {
            // A hung-up device also reads 0; its POLLHUP closes the channel.
            if (n == 0 && Hardware::HungUp(fd)) {
                Lost("device hung up");
                return false;
            }
            PutHeader(std::cerr);
            std::cerr << "frame of " << n << " octets dropped" << std::endl;
            continue;
        }
        frame.put(static_cast<unsigned>(n));
        ++mStatistics.received;
        if (mLogLevel > 1) {
            PutHeader(std::clog);
            std::clog << "rx " << frame << std::endl;
        }
        if (mNotify) {
            mNotify->on_hdlc_receive(frame);
            if (gone || !is_open())
                return false;
        }
    }
    return true;
}

void HDLC::Lost(const char* why)
{
    PutHeader(std::cerr);
    std::cerr << why << ", channel closed" << std::endl;
    Shutdown();
    mLost = true;
    if (mNotify)
        mNotify->on_hdlc_error(Notify::Cause::read_error);
}
