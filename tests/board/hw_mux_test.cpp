#include "board/hw_mux.h"
#include "standin/board.h"
#include "standin/switch.h"
#include "samples/link/loop_driver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>

namespace {

class HwMuxTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mux.Open()); }
    void TearDown() override { mux.Close(); }

    Standin::Board board;
    Standin::Switch& sw = board.Get<Standin::Switch>("/dev/hal");
    HwMux& mux = HwMux::instance();
    test::Capture errors{std::cerr};
};

TEST_F(HwMuxTest, ConnectFeedsTheDestinationDisconnectIdlesItDisableMutesIt)
{
    const int e1 = 8192 + 2 * 128 + 17, map = 8192 + 15 * 128 + 127;
    EXPECT_TRUE(mux.Connect(map, e1));
    EXPECT_TRUE(mux.Connect(e1, map));
    EXPECT_EQ(sw.Connections(), (std::map<int, int>{{e1, map}, {map, e1}}));
    EXPECT_TRUE(mux.Disconnect(e1));
    EXPECT_EQ(sw.At(e1).value, 0xD5);
    EXPECT_EQ(sw.Source(map), e1);
    EXPECT_TRUE(mux.Disable(map));
    EXPECT_EQ(sw.At(map).mode, Standin::Switch::Mode::Disabled);
    EXPECT_TRUE(sw.Connections().empty());
}

TEST_F(HwMuxTest, FailuresAreLoggedAndAClosedSwitchRefusesEverything)
{
    board.FailRequest("/dev/hal", 0x80044D03UL, EPERM);
    EXPECT_FALSE(mux.Disable(8200));
    EXPECT_EQ(errors.take(), "hwMux: disable failed 8200 : " + std::string(strerror(EPERM)) + "\n");

    // A slot without a channel never reaches the driver.
    size_t before = sw.requests();
    EXPECT_FALSE(mux.Connect(-1, 8192));
    EXPECT_FALSE(mux.Disconnect(-1));
    EXPECT_NE(errors.take().find("hwMux: disconnect failed -1 : "), std::string::npos);
    EXPECT_FALSE(mux.Disable(-1));
    EXPECT_EQ(errors.take(), "");
    EXPECT_EQ(sw.requests(), before);

    // A closed or missing switch refuses everything.
    mux.Close();
    EXPECT_FALSE(mux.is_open());
    EXPECT_FALSE(mux.Disable(8192)); // silently
    EXPECT_EQ(errors.take(), "");
    EXPECT_FALSE(mux.Connect(8192, 8193));
    EXPECT_EQ(errors.take(), "hwMux: connect failed 8192 -> 8193 : " + std::string(strerror(EBADF)) + "\n");
    EXPECT_TRUE(sw.Connections().empty());

    board.FailOpen("/dev/hal", ENODEV);
    EXPECT_FALSE(mux.Open());
    EXPECT_EQ(errors.take(), "hwMux: can't open /dev/hal : " + std::string(strerror(ENODEV)) + "\n");
    EXPECT_TRUE(mux.Open());
    EXPECT_TRUE(mux.Connect(8192, 8193));
    EXPECT_EQ(sw.Source(8193), 8192);
    // Reopening leaves one open channel to the device.
    EXPECT_TRUE(mux.Open());
    EXPECT_EQ(board.Channels("/dev/hal").size(), 1u);
}

} // namespace
