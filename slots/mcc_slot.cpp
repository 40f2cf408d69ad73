#include "slots/mcc_slot.h"

#include "board/device.h"
#include "board/mcc.h"
#include "board/receiver_device.h"
#include "core/slots.h"
#include "protocol/lgcp.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace {

// Reads per wake-up, so a flooding channel cannot starve the loop; what is
// left wakes the next pass.
constexpr int kReadsPerEvent = 32;
// Octets the channel takes in one write (its packet size).
constexpr uint32_t kPacketSize = 512;

} // namespace

MccSlot::MccSlot(Fd const& channel, int timeslot)
    : mTimeslot(timeslot)
{
    mEvent.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
    mEvent.Schedule(channel, POLLIN);
}

bool MccSlot::IUserData(std::vector<char> const& data)
{
    if (!mEvent.IsActive()) {
        PutHeader(std::cerr);
        std::cerr << "user data refused: the channel is closed" << std::endl;
        // Gone, as for the signalling slots: the board's failure, and
        // nothing to wait for.
        Answer::Refuse(Answer::busError);
        return false;
    }
    ssize_t n;
    do
        n = ::write(mEvent.lowlevel_fd(), data.data(), data.size());
    while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(data.size()))
        return true;
    Errno error;
    PutHeader(std::cerr);
    if (n < 0)
        std::cerr << "write of " << data.size() << " octets failed: " << error << std::endl;
    else
        std::cerr << "channel took " << n << " of " << data.size() << " octets" << std::endl;
    // A full channel may take the data later; anything else is the channel's fault.
    bool full = n < 0 && (error.value() == EAGAIN || error.value() == EWOULDBLOCK);
    Answer::Refuse(full ? Answer::insufficientResources : Answer::internal);
    return false;
}

void MccSlot::OnEvent(int fd, short revents)
{
    // Frames still waiting go up before a hang-up ends the channel: the
    // hang-up stays reported on the next wake-ups until they are gone.
    if ((revents & POLLIN) && DoRead(fd) != Drained)
        return;
    if (revents & (POLLERR | POLLHUP | POLLNVAL))
        Lost(revents & POLLHUP ? "channel hung up" : "channel error");
}

MccSlot::Drain MccSlot::DoRead(int fd)
{
    std::vector<char> block;
    for (int i = 0; i < kReadsPerEvent; ++i) {
        block.resize(kBlock);
        ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return Drained;
            Errno error;
            PutHeader(std::cerr);
            std::cerr << "read failed: " << error << std::endl;
            Lost("read error");
            return Gone;
        }
        if (n == 0) {
            // End of file on a hung-up channel; an empty block otherwise.
            if (Hardware::HungUp(fd)) {
                Lost("channel hung up");
                return Gone;
            }
            continue;
        }
        block.resize(static_cast<size_t>(n));
        OnUserData(block);
    }
    return More;
}

void MccSlot::Lost(const char* why)
{
    PutHeader(std::cerr);
    std::cerr << why << ", channel closed" << std::endl;
    mEvent.Release();
    // The channel went back to the driver and may go to another slot:
    // the switch connections on it are undone and the slot holds it no more.
    Slots::instance().Teardown(*this);
    mTimeslot = -1;
    // The controller learns that the slot carries nothing any more.
    OnAbort(0);
}

MccFactory& MccFactory::instance()
{
    static MccFactory factory;
    return factory;
}

void MccFactory::PutHeader(std::ostream& os) const
{
    os << "mcc: ";
}

Slot* MccFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.mcc_isSelected())
        return nullptr;
    const LGCP::MccParams& mcc = params.get_mcc();
    Mcc::Allocation record{0, kPacketSize, 0, 1, 1};
    int type = mcc.get_type().asInt();
    if (type < LGCP::MccType::data || type > LGCP::MccType::transparent)
        return nullptr;
    if (mcc.get_mode().asInt() == LGCP::MccMode::ss7)
        record.kind = Mcc::kSs7;
    else
        record.kind = type == LGCP::MccType::data ? Mcc::kData : type == LGCP::MccType::bri ? Mcc::kBri : Mcc::kTransparent;
    PutHeader(std::clog);
    std::clog << "MCC_ALLOCATE" << " type=" << record.kind << std::endl;
    // A channel without a time slot can be connected to nothing.
    Mcc::Channel channel = Mcc::Allocate(O_RDWR | O_NONBLOCK, record);
    if (channel.failed != Mcc::Channel::ok) {
        PutHeader(std::cerr);
        std::cerr << Mcc::FailureText(channel.failed) << Errno(channel.error) << std::endl;
        return nullptr;
    }
    return new MccSlot(channel.fd, channel.timeslot);
}

void MccFactory::Query(LGCP::Resources& resources)
{
    resources.set_mcc_data(0);
    resources.set_mcc_bri(0);
    resources.set_mcc_trans(0);
    Fd fd(Device::Open(Mcc::kDevice, O_RDONLY));
    Mcc::Resources counts{};
    if (!fd || Device::Request(fd.lowlevel_fd(), Mcc::kResources, &counts) < 0)
        return;
    resources.set_mcc_data(static_cast<int>(counts.data));
    resources.set_mcc_bri(static_cast<int>(counts.bri));
    resources.set_mcc_trans(static_cast<int>(counts.transparent));
}
