#include "board/device.h"
#include "board/dsp_data.h"
#include "standin/board.h"
#include "standin/dsp_data.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

TEST(StandinDspData, DChannelFramesAndBChannels)
{
    Standin::Board board;
    auto& dsp = board.Get<Standin::DspData>(DspData::kDevice);
    int fd = Device::Open(DspData::kDevice, O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Device::Request(fd, DspData::kDTimeslot), dsp.DTimeslot());

    DspData::BChannel b{1, -1};
    ASSERT_EQ(Device::Request(fd, DspData::kAddB, &b), 0);
    EXPECT_EQ(b.channel, dsp.DTimeslot() + 2);
    EXPECT_EQ(dsp.BChannel(1), b.channel);
    b.channel = -1;
    EXPECT_EQ(Device::Request(fd, DspData::kAddB, &b), -1); // held
    EXPECT_EQ(errno, EBUSY);
    DspData::BChannel outside{3, -1};
    EXPECT_EQ(Device::Request(fd, DspData::kAddB, &outside), -1);
    uint32_t index = 1;
    EXPECT_EQ(Device::Request(fd, DspData::kRemoveB, &index), 0);
    EXPECT_EQ(Device::Request(fd, DspData::kRemoveB, &index), -1); // already free
    EXPECT_EQ(dsp.BChannel(1), -1);

    // One frame per read and write.
    auto channels = board.Channels(DspData::kDevice);
    ASSERT_EQ(channels.size(), 1u);
    ASSERT_TRUE(channels[0]->Send(Standin::Frame{1, 2, 3}));
    ASSERT_TRUE(channels[0]->Send(Standin::Frame{4}));
    unsigned char buf[16];
    EXPECT_EQ(::read(fd, buf, sizeof buf), 3);
    EXPECT_EQ(::read(fd, buf, sizeof buf), 1);
    EXPECT_EQ(::write(fd, buf, 2), 2);
    Standin::Frame out;
    ASSERT_TRUE(channels[0]->Receive(out));
    EXPECT_EQ(out.size(), 2u);
    ::close(fd);
}

} // namespace
