#include "standin/board.h"
#include "standin/switch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Records what the board hands it, and answers request 7 with the argument
// word plus one.
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
        if (refuse) {
            errno = EBUSY;
            return false;
        }
        return true;
    }
    void OnFrame(Standin::Channel&, const Standin::Frame& frame) override { frames.push_back(frame); }
    void OnClose(Standin::Channel&) override { ++closes; }

    std::vector<unsigned long> codes;
    std::vector<Standin::Frame> frames;
    int closes = 0;
    bool refuse = false;
};

TEST(StandinBoard, RoutesOpensAndRequestsByDevicePath)
{
    Standin::Board board(false);
    auto& rec = static_cast<Recorder&>(board.Add("/dev/rec", std::make_unique<Recorder>()));

    errno = 0;
    EXPECT_EQ(Device::Open("/dev/none", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);

    int fd = Device::Open("/dev/rec", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_FALSE(fcntl(fd, F_GETFL) & O_NONBLOCK);

    int word = 41;
    EXPECT_EQ(Device::Request(fd, 7, &word), 42);
    // A duplicate reaches the same channel.
    int dup = ::dup(fd);
    EXPECT_EQ(Device::Request(dup, 7, &word), 42);
    errno = 0;
    EXPECT_EQ(Device::Request(fd, 8, &word), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(rec.codes, (std::vector<unsigned long>{7, 7, 8}));

    // A descriptor that is not the board's is no device.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
    errno = 0;
    EXPECT_EQ(Device::Request(pair[0], 7, &word), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(Device::Request(-1, 7, &word), -1);
    EXPECT_EQ(errno, EBADF);
    close(pair[0]);
    close(pair[1]);

    // The channel lives until the last duplicate is closed.
    close(fd);
    EXPECT_EQ(board.Channels("/dev/rec").size(), 1u);
    EXPECT_EQ(rec.closes, 0);
    close(dup);
    EXPECT_TRUE(board.Channels("/dev/rec").empty());
    EXPECT_EQ(rec.closes, 1);
}

TEST(StandinBoard, FramesTravelBothWaysOnePerRead)
{
    Standin::Board board(false);
    auto& rec = static_cast<Recorder&>(board.Add("/dev/rec", std::make_unique<Recorder>()));
    int fd = Device::Open("/dev/rec", O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    auto channels = board.Channels("/dev/rec");
    ASSERT_EQ(channels.size(), 1u);
    Standin::Channel& ch = *channels[0];

    // Driver to daemon: frames keep their bounds.
    ASSERT_TRUE(ch.Send(Standin::Frame{1, 2, 3}));
    ASSERT_TRUE(ch.Send(Standin::Frame{4}));
    unsigned char buf[16];
    EXPECT_EQ(read(fd, buf, sizeof buf), 3);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(read(fd, buf, sizeof buf), 1);
    EXPECT_EQ(buf[0], 4);
    EXPECT_EQ(read(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);

    // Daemon to driver: read by a test, or pumped to the driver.
    ASSERT_EQ(write(fd, "\x10\x11", 2), 2);
    Standin::Frame frame;
    ASSERT_TRUE(ch.Receive(frame));
    EXPECT_EQ(frame, (Standin::Frame{0x10, 0x11}));
    EXPECT_FALSE(ch.Receive(frame));
    ASSERT_EQ(write(fd, "\x20", 1), 1);
    ASSERT_EQ(write(fd, "\x21\x22\x23", 3), 3);
    EXPECT_EQ(board.Pump(), 2u);
    ASSERT_EQ(rec.frames.size(), 2u);
    EXPECT_EQ(rec.frames[1], (Standin::Frame{0x21, 0x22, 0x23}));

    close(fd);
    EXPECT_TRUE(ch.IsClosed());
    EXPECT_EQ(board.Pump(), 0u);
    EXPECT_EQ(rec.closes, 1);
}

TEST(StandinBoard, InjectedAndDriverFailures)
{
    Standin::Board board(false);
    auto& rec = static_cast<Recorder&>(board.Add("/dev/rec", std::make_unique<Recorder>()));

    board.FailOpen("/dev/rec", EACCES, 2);
    errno = 0;
    EXPECT_EQ(Device::Open("/dev/rec", O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(Device::Open("/dev/rec", O_RDWR), -1);
    int fd = Device::Open("/dev/rec", O_RDWR);
    ASSERT_GE(fd, 0);

    // Only the named request fails, and only as often as asked.
    board.FailRequest("/dev/rec", 7, EIO);
    int word = 1;
    errno = 0;
    EXPECT_EQ(Device::Request(fd, 7, &word), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(Device::Request(fd, 7, &word), 2);
    EXPECT_EQ(rec.codes.size(), 1u); // the failed one never reached the driver

    // A driver that refuses the open leaves nothing behind.
    rec.refuse = true;
    errno = 0;
    EXPECT_EQ(Device::Open("/dev/rec", O_RDWR), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(board.Channels("/dev/rec").size(), 1u);
    close(fd);
}

TEST(StandinBoard, InstallsItselfAndRestoresThePreviousBackend)
{
    Device::Backend* system = &Device::Current();
    {
        Standin::Board outer;
        EXPECT_EQ(&Device::Current(), &outer);
        int fd = Device::Open("/dev/hal", O_RDWR);
        EXPECT_GE(fd, 0);
        {
            Standin::Board inner(false);
            EXPECT_EQ(Device::Open("/dev/hal", O_RDWR), -1);
        }
        EXPECT_EQ(&Device::Current(), &outer);
        close(fd);
    }
    EXPECT_EQ(&Device::Current(), system);
    // The system's devices: a missing path and a file that is no device.
    errno = 0;
    EXPECT_EQ(Device::Open("/nonexistent/device", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    int fd = Device::Open("/proc/self/stat", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(Device::Request(fd, 0x80044D03UL, nullptr), -1);
    EXPECT_EQ(errno, ENOTTY);
    close(fd);
}

TEST(StandinSwitch, RecordsConnectionsConstantsAndDisabledOutputs)
{
    Standin::Board board;
    auto& sw = board.Get<Standin::Switch>("/dev/hal");
    int fd = Device::Open("/dev/hal", O_RDWR);
    ASSERT_GE(fd, 0);

    int32_t connect[2] = {8192 + 129, 8192 + 5};
    EXPECT_EQ(Device::Request(fd, 0x80084D10UL, connect), 0);
    EXPECT_EQ(sw.Source(8192 + 129), 8192 + 5);
    EXPECT_EQ(sw.Connections(), (std::map<int, int>{{8192 + 129, 8192 + 5}}));

    int32_t idle[2] = {8192 + 129, 0xD5};
    EXPECT_EQ(Device::Request(fd, 0x80084D11UL, idle), 0);
    EXPECT_EQ(sw.Source(8192 + 129), -1);
    EXPECT_TRUE(sw.IsIdle(8192 + 129));
    EXPECT_TRUE(sw.Connections().empty());

    int32_t output = 8192 + 129;
    EXPECT_EQ(Device::Request(fd, 0x80044D03UL, &output), 0);
    EXPECT_EQ(sw.At(output).mode, Standin::Switch::Mode::Disabled);
    EXPECT_FALSE(sw.IsIdle(output));

    // Channels outside the 16 buses, bad bytes and unknown codes.
    int32_t low[2] = {8191, 8192};
    int32_t high[2] = {8192, 8192 + 2048};
    int32_t byte[2] = {8192, 256};
    int32_t negative = -1;
    errno = 0;
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
