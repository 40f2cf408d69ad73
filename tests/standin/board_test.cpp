#include "standin/board.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"
#include "standin/mixer.h"
#include "standin/modem.h"
#include "standin/rtp.h"
#include "standin/switch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace {

// Answers request 7 with the argument word plus one; records the rest.
class Recorder : public Standin::Driver {
public:
    int OnRequest(Standin::Channel&, unsigned long code, void* arg) override
    {
        codes.push_back(code);
        if (code != 7) {
            errno = ENOTTY;
            return -1;
        }
        return *static_cast<int*>(arg) + 1;
    }
    bool OnOpen(Standin::Channel&) override
    {
        errno = refuse ? EBUSY : 0;
        return !refuse;
    }
    void OnFrame(Standin::Channel&, const Standin::Frame& frame) override { frames.push_back(frame); }
    void OnClose(Standin::Channel&) override { ++closes; }

    std::vector<unsigned long> codes;
    std::vector<Standin::Frame> frames;
    int closes = 0;
    bool refuse = false;
};

class StandinBoard : public ::testing::Test {
protected:
    Standin::Board board{false};
    Recorder& rec = static_cast<Recorder&>(board.Add("/dev/rec", std::make_unique<Recorder>()));
};

TEST_F(StandinBoard, RequestsReachTheDriverThroughAnyDuplicate)
{
    errno = 0;
    EXPECT_EQ(Device::Open("/dev/none", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);

    int fd = Device::Open("/dev/rec", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    int word = 41;
    EXPECT_EQ(Device::Request(fd, 7, &word), 42);
    int dup = ::dup(fd);
    EXPECT_EQ(Device::Request(dup, 7, &word), 42);
    EXPECT_EQ(Device::Request(fd, 8, &word), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(rec.codes, (std::vector<unsigned long>{7, 7, 8}));

    // A socket that is not the board's is no device; a closed one is none.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
    EXPECT_EQ(Device::Request(pair[0], 7, &word), -1);
    EXPECT_EQ(errno, ENOTTY);
    close(pair[0]);
    close(pair[1]);
    EXPECT_EQ(Device::Request(-1, 7, &word), -1);
    EXPECT_EQ(errno, EBADF);

    // The channel lives until the last duplicate is closed.
    close(fd);
    EXPECT_EQ(board.Channels("/dev/rec").size(), 1u);
    close(dup);
    EXPECT_TRUE(board.Channels("/dev/rec").empty());
    EXPECT_EQ(rec.closes, 1);
}

TEST_F(StandinBoard, FramesTravelBothWaysOnePerRead)
{
    int fd = Device::Open("/dev/rec", O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    Standin::Channel& ch = *board.Channels("/dev/rec").at(0);

    ASSERT_TRUE(ch.Send(Standin::Frame{1, 2, 3}));
    ASSERT_TRUE(ch.Send(Standin::Frame{4}));
    unsigned char buf[16];
    EXPECT_EQ(read(fd, buf, sizeof buf), 3);
    EXPECT_EQ(read(fd, buf, sizeof buf), 1);
    EXPECT_EQ(buf[0], 4);
    EXPECT_EQ(read(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);

    ASSERT_EQ(write(fd, "\x10\x11", 2), 2);
    Standin::Frame frame;
    ASSERT_TRUE(ch.Receive(frame));
    EXPECT_EQ(frame, (Standin::Frame{0x10, 0x11}));
    EXPECT_FALSE(ch.Receive(frame));
    ASSERT_EQ(write(fd, "\x20", 1), 1);
    ASSERT_EQ(write(fd, "\x21\x22", 2), 2);
    EXPECT_EQ(board.Pump(), 2u);
    EXPECT_EQ(rec.frames, (std::vector<Standin::Frame>{{0x20}, {0x21, 0x22}}));

    close(fd);
    EXPECT_TRUE(ch.IsClosed());
    EXPECT_EQ(board.Pump(), 0u);
    EXPECT_EQ(rec.closes, 1);
}

TEST_F(StandinBoard, InjectedFailuresAndRefusedOpens)
{
    board.FailOpen("/dev/rec", EACCES, 2);
    EXPECT_EQ(Device::Open("/dev/rec", O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(Device::Open("/dev/rec", O_RDWR), -1);
    int fd = Device::Open("/dev/rec", O_RDWR);
    ASSERT_GE(fd, 0);

    // Only the named request fails, only as often as asked, before the driver.
    board.FailRequest("/dev/rec", 7, EIO);
    int word = 1;
    EXPECT_EQ(Device::Request(fd, 7, &word), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(Device::Request(fd, 7, &word), 2);
    EXPECT_EQ(rec.codes.size(), 1u);

    rec.refuse = true;
    EXPECT_EQ(Device::Open("/dev/rec", O_RDWR), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(board.Channels("/dev/rec").size(), 1u);
    close(fd);

    // Once the board is gone the system's devices are back.
    Device::Backend* system = Device::Install(nullptr);
    EXPECT_EQ(system, &board);
    EXPECT_EQ(Device::Open("/dev/rec", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    Device::Install(&board);
}

// A daemon runs on the stand-ins for months: what they record of its
// requests stays bounded.
TEST(StandinRecords, KeepTheRecentRequestsOnly)
{
    Standin::Board board;
    auto& rtp = board.Get<Standin::Rtp>("/dev/rtp");
    auto& voice = board.Get<Standin::Voice>("/dev/voice");
    auto& mixer = board.Get<Standin::Mixer>("/dev/mixer");
    auto& mctl = board.Get<Standin::ModemControl>("/dev/mctl");
    auto& nets = board.Get<Standin::NetInterfaces>(Standin::kInetSocket);
    auto& dtmf = board.Get<Standin::Dtmf>("/dev/dtmf");
    auto& dsp = board.Get<Standin::Dsproc>("/dev/dsp");
    unsigned char any[64] = {4};
    ifreq hdlc0{};
    std::strcpy(hdlc0.ifr_name, "hdlc0");
    struct Case {
        const char* path;
        unsigned long code;
        void* arg;
        std::function<size_t()> held;
    } cases[] = {
        {"/dev/rtp", 0x20005204UL, nullptr, [&] { return rtp.log().size(); }},
        {"/dev/voice", 0x40045602UL, any, [&] { return voice.masks().size(); }},
        {"/dev/mixer", 0x800C4D06UL, any, [&] { return mixer.trace().size(); }},
        {"/dev/mctl", 0xBB15UL, nullptr, [&] { return mctl.trace.size(); }},
        {Standin::kInetSocket, SIOCGIFFLAGS, &hdlc0, [&] { return nets.trace.size(); }},
        {"/dev/dtmf", 0, any, [&] { return dtmf.codes().size(); }},
        {"/dev/dsp", 0, any, [&] { return dsp.codes().size(); }},
    };
    for (const Case& c : cases) {
        int fd = Device::Open(c.path, O_RDWR);
        ASSERT_GE(fd, 0) << c.path;
        if (c.code == 0xBB15UL) { // a modem to ask the time slot of
            ASSERT_GE(Device::Request(fd, 0xBB0BUL, nullptr), 0);
        }
        for (size_t i = 0; i < 3 * Standin::kRecentRequests; ++i)
            Device::Request(fd, c.code, c.arg);
        ::close(fd);
        EXPECT_GE(c.held(), Standin::kRecentRequests) << c.path;
        EXPECT_LE(c.held(), 2 * Standin::kRecentRequests) << c.path;
    }
}

TEST(StandinSwitch, RefusesChannelsOffTheBusesAndUnknownRequests)
{
    Standin::Board board;
    auto& sw = board.Get<Standin::Switch>("/dev/hal");
    int fd = Device::Open("/dev/hal", O_RDWR);
    ASSERT_GE(fd, 0);
    int32_t connect[2] = {8192 + 129, 8192 + 5};
    EXPECT_EQ(Device::Request(fd, 0x80084D10UL, connect), 0);
    EXPECT_EQ(sw.Source(8192 + 129), 8192 + 5);

    int32_t low[2] = {8191, 8192}, high[2] = {8192, 8192 + 2048}, byte[2] = {8192, 256};
    int32_t negative = -1, output = 8192;
    EXPECT_EQ(Device::Request(fd, 0x80084D10UL, low), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Device::Request(fd, 0x80084D10UL, high), -1);
    EXPECT_EQ(Device::Request(fd, 0x80084D11UL, byte), -1);
    EXPECT_EQ(Device::Request(fd, 0x80044D03UL, &negative), -1);
    EXPECT_EQ(Device::Request(fd, 0x80044D03UL, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(Device::Request(fd, 0x80044D04UL, &output), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(sw.At(8192).mode, Standin::Switch::Mode::Free);
    close(fd);
}

} // namespace
