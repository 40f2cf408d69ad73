#include "core/e1_service.h"
#include "board/maintenance.h"
#include "standin/maintenance.h"
#include "tests/core/link_fixture.h"
#include "tests/frozen_clock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

using test::Capture;

namespace {

using Status = std::pair<int, int>; // trunk, state

std::vector<Status> Statuses(std::vector<LGCP::Message> const& messages)
{
    std::vector<Status> result;
    for (const LGCP::Message& m : messages) {
        EXPECT_FALSE(m.seq_isPresent() || m.slot_isPresent()) << m;
        const ACP::TrunkStatus& s = SELECTED(SELECTED(m.get_pdu(), signal), trunkStatus);
        result.emplace_back(s.get_trunk().getValue(), s.get_state().asInt());
    }
    return result;
}

// A factory as the signalling ones are: it hears every trunk status. What
// the controller has got by then is taken aside, so that each offer can
// be checked to come before the controller's copy.
class TrunkListener : public SlotFactory {
public:
    explicit TrunkListener(test::TpktClient& controller) : controller(controller) {}
    const char* GetName() const override { return "trunk listener"; }
    Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
    void SelfSignal(LGCP::Signal const& signal) override
    {
        if (!signal.trunkStatus_isSelected())
            return;
        const ACP::TrunkStatus& s = signal.get_trunkStatus();
        seen.emplace_back(s.get_trunk().getValue(), s.get_state().asInt());
        test::Octets payload;
        while (controller.Take(payload))
            early.push_back(test::Decode(payload));
        heardAtOffer.push_back(early.size());
    }

    test::TpktClient& controller;
    std::vector<Status> seen;
    std::vector<LGCP::Message> early; // taken from the controller meanwhile
    std::vector<size_t> heardAtOffer; // signals the controller had at each offer
};

constexpr int kNormal = ACP::TrunkState::normal;
constexpr int kLossCarrier = ACP::TrunkState::lossCarrier;

class E1Test : public test::LinkFixture {
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        e1 = std::make_unique<E1Service>(600000); // met by no test
        // Bound last, as in the daemon; the controller comes again to meet it.
        server.Bind(*e1);
        client.Close();
        ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
        Reconnect();
    }

    Standin::MaintenanceDevice& maintenance = board.Get<Standin::MaintenanceDevice>(Maintenance::kDevice);
    // The next `count` signals the controller got.
    std::vector<Status> Heard(size_t count)
    {
        std::vector<LGCP::Message> got = std::move(listener.early);
        listener.early.clear();
        if (got.size() < count) {
            std::vector<LGCP::Message> rest = Receive(count - got.size());
            got.insert(got.end(), rest.begin(), rest.end());
        }
        listener.heardAtOffer.clear();
        return Statuses(got);
    }

    TrunkListener listener{client};
    std::unique_ptr<E1Service> e1;
};

TEST_F(E1Test, TrunkGoingDownReachesTheFactoriesBeforeTheController)
{
    // All normal: a new controller hears nothing.
    ExpectQuiet();
    EXPECT_TRUE(listener.seen.empty());

    maintenance.SetAlarms(0, Maintenance::kLossOfSignal);
    e1->Poll();
    EXPECT_EQ(listener.seen, (std::vector<Status>{{0, kLossCarrier}}));
    EXPECT_EQ(listener.heardAtOffer, std::vector<size_t>{0}) << "the factory heard it first";
    EXPECT_EQ(Heard(1), (std::vector<Status>{{0, kLossCarrier}}));
    EXPECT_EQ(e1->State(0), kLossCarrier);

    // No change, no signal.
    e1->Poll();
    ExpectQuiet();
    EXPECT_EQ(listener.seen.size(), 1u);

    // The next controller hears of the trunks that are not normal.
    maintenance.SetAlarms(2, Maintenance::kLossOfFrame);
    client.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
    listener.seen.clear();
    Reconnect();
    std::vector<Status> down{{0, kLossCarrier}, {2, ACP::TrunkState::lossBF}};
    EXPECT_EQ(listener.seen, down);
    for (size_t k = 0; k < listener.heardAtOffer.size(); ++k)
        EXPECT_LE(listener.heardAtOffer[k], k) << "offer " << k << " came after the controller had it";
    EXPECT_EQ(Heard(2), down);
    maintenance.SetAlarms(2, 0);

    // Back to normal.
    maintenance.SetAlarms(0, 0);
    e1->Poll();
    EXPECT_EQ(Heard(2), (std::vector<Status>{{0, kNormal}, {2, kNormal}}));

    // The most basic of several alarms names the state.
    EXPECT_EQ(E1Service::StateOf(Maintenance::kDisabled | Maintenance::kLossOfSignal), ACP::TrunkState::disabled);
    EXPECT_EQ(E1Service::StateOf(Maintenance::kLossOfSignal | Maintenance::kLossOfFrame | Maintenance::kAis),
              kLossCarrier);
    EXPECT_EQ(E1Service::StateOf(Maintenance::kAis | Maintenance::kRai), ACP::TrunkState::ais);

    maintenance.SetAlarms(1, Maintenance::kRai);
    maintenance.SetAlarms(3, Maintenance::kAis);
    maintenance.SetTrunks(2);
    e1->Poll();
    EXPECT_EQ(Heard(1), (std::vector<Status>{{1, ACP::TrunkState::rai}}));
    maintenance.SetTrunks(77); // more than a board has: the four are read
    e1->Poll();
    EXPECT_EQ(Heard(1), (std::vector<Status>{{3, ACP::TrunkState::ais}}));
    EXPECT_EQ(e1->State(4), ACP::TrunkState::unknown);
}

TEST_F(E1Test, FailingDeviceIsLoggedOnceAndRecovers)
{
    Capture errors(std::cerr);
    Capture notices(std::cout);
    board.FailRequest(Maintenance::kDevice, Maintenance::kTrunkAlarms, EIO, 3);
    maintenance.SetAlarms(2, Maintenance::kLossOfFrame);
    for (int i = 0; i < 3; ++i)
        e1->Poll();
    ExpectQuiet();
    EXPECT_EQ(errors.count("e1: can't read the trunks' alarms: " + std::string(strerror(EIO))), 1u);
    EXPECT_EQ(e1->State(2), kNormal) << "the last known state stays";

    e1->Poll();
    EXPECT_EQ(Heard(1), (std::vector<Status>{{2, ACP::TrunkState::lossBF}}));
    EXPECT_EQ(notices.count("e1: trunks' alarms readable again"), 1u);

    // The open's own cause is logged, not one left by closing the unopened descriptor.
    board.FailOpen(Maintenance::kDevice, EMFILE, 1);
    client.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
    Reconnect();
    ExpectQuiet();
    EXPECT_EQ(errors.count("can't read the trunks' alarms"), 2u);
    EXPECT_EQ(errors.count("can't read the trunks' alarms: " + std::string(strerror(EMFILE))), 1u);
    e1->Poll();
    EXPECT_EQ(Heard(1), (std::vector<Status>{{2, ACP::TrunkState::lossBF}}));
}

// The daemon's own period, on a clock the test moves: a read every second
// while a controller is connected, none after.
TEST_F(E1Test, WatchesEverySecondOnlyWhileAControllerIsConnected)
{
    E1Service daemons;
    server.Bind(daemons);
    {
        test::FrozenClock clock;
        daemons.OnConnect();
        maintenance.SetAlarms(3, Maintenance::kDisabled);
        clock.at(999);
        EXPECT_EQ(daemons.State(3), kNormal);
        clock.at(1000);
        EXPECT_EQ(daemons.State(3), ACP::TrunkState::disabled);
    }
    EXPECT_EQ(Heard(1), (std::vector<Status>{{3, ACP::TrunkState::disabled}}));

    client.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return !server.IsConnected(); }));
    EXPECT_FALSE(daemons.is_running());
    board.Prune();
    EXPECT_TRUE(board.Channels(Maintenance::kDevice).empty());
    size_t reads = maintenance.reads();
    test::FrozenClock().at(5000);
    EXPECT_EQ(maintenance.reads(), reads);
}

} // namespace
