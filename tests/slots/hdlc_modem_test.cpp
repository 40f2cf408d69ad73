// Digital modems: the interface requests of set-up and tear-down, and
// their failures.

#include "modem_fixture.h"

#include <linux/if.h>
#include <linux/sockios.h>

namespace test {
namespace {

class HdlcModemTest : public ModemFixture {
protected:
    void SetUp() override
    {
        ModemFixture::SetUp();
        nets.Set("hdlc0", IFF_POINTOPOINT | IFF_UP | IFF_RUNNING, Standin::NetInterfaces::Channel(0));
        factory.update_hdlcDevices();
        nets.trace.clear();
    }
    HdlcModemSlot* Digital(int id, const std::string& cid = "5551234")
    {
        return dynamic_cast<HdlcModemSlot*>(Create(id, Params(", ddm {ddmV110}", cid)));
    }
    // Down: point-to-point and running (0x50) stay.
    const std::vector<std::string> tearDown = {"SIOCGIFFLAGS hdlc0", "SIOCSIFFLAGS hdlc0 0x50", "SIOCWANDEV hdlc0 hdlc 0 0"};
};

TEST_F(HdlcModemTest, SetUpRunsPppdOnTheInterfaceAndDestroyPutsItBackToRawHdlc)
{
    ::setenv("STANDIN_CHILD_HUP", "wait", 1);
    HdlcModemSlot* slot = Digital(1, "");
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->modem_id(), -1);
    ASSERT_EQ(Connect(1), Answer::success);
    EXPECT_EQ(nets.trace, (std::vector<std::string>{"SIOCWANDEV hdlc0 get-iface", "SIOCWANDEV hdlc0 ppp"}));
    EXPECT_EQ(nets.Find("hdlc0")->proto, IF_PROTO_PPP);
    EXPECT_EQ(slot->GetTransmitChannel(), Standin::NetInterfaces::Channel(0));
    EXPECT_EQ(Record(), (std::vector<std::string>{"/usr/local/sbin/pppd", "file", "/usr/local/etc/ppp/ioptions", "hdlc0"}));
    EXPECT_TRUE(controller.lines.empty()); // no stream signals for a digital modem

    // While pppd runs, another connection changes nothing.
    ASSERT_TRUE(CreateMap(kMap + 1, 1001));
    nets.trace.clear();
    EXPECT_EQ(Slots::instance().Connect(kMap + 1, {1}), Answer::success);
    EXPECT_TRUE(nets.trace.empty());

    EXPECT_EQ(Slots::instance().Destroy(1), Answer::delayed);
    ASSERT_TRUE(loop.RunUntil([&] { return !controller.lines.empty() && controller.lines.back() == "1.released"; }));
    EXPECT_EQ(nets.trace, tearDown);
    EXPECT_EQ(nets.Find("hdlc0")->proto, IF_PROTO_HDLC);
    EXPECT_EQ(factory.freeInterfaces(), (std::vector<std::string>{"hdlc1", "hdlc0"})); // back at the end
    ::unsetenv("STANDIN_CHILD_HUP");
}

TEST_F(HdlcModemTest, FailuresOnlyLogAndALaterQueryTriesAgain)
{
    Capture errors(std::cerr);
    HdlcModemSlot* slot = Digital(1);
    nets.refuseType = IF_GET_IFACE;
    EXPECT_NE(Connect(1), Answer::success); // no channel yet
    EXPECT_EQ(errors.count("SIOCWANDEV/IF_GET_IFACE fail!"), 1u);

    // hdlc0's switch channel, 10112, is a map slot's.
    nets.refuseType = 0;
    ASSERT_TRUE(CreateMap(kMap + 1, 1920));
    EXPECT_NE(Connect(1), Answer::success);
    EXPECT_EQ(errors.count("01:digital-modem: switch channel 10112 is held by slot 901:map\n"), 1u);
    EXPECT_EQ(nets.Find("hdlc0")->proto, 0);
    EXPECT_FALSE(slot->pppd_executing());
    EXPECT_EQ(Slots::instance().Destroy(kMap + 1), Answer::success);

    nets.refuseType = IF_PROTO_PPP;
    EXPECT_EQ(Connect(1), Answer::success); // the channel is known
    EXPECT_EQ(errors.count("SIOCWANDEV/IF_PROTO_PPP fail!"), 1u);
    EXPECT_FALSE(slot->pppd_executing());
    EXPECT_TRUE(controller.Aborts().empty());

    // No pppd: the destroy completes at once and still takes the interface down.
    nets.trace.clear();
    EXPECT_EQ(Slots::instance().Destroy(1), Answer::success);
    EXPECT_EQ(nets.trace, tearDown);

    // Tear-down steps stop at the first refusal.
    struct Case {
        unsigned long code;
        int refuse;
        const char* line;
        size_t requests;
    };
    for (const Case& c : {Case{SIOCGIFFLAGS, 0, "SIOCGIFFLAGS fail!!!", 0}, Case{SIOCSIFFLAGS, 0, "SIOCSIFFLAGS fail!!!", 1},
                          Case{0, IF_PROTO_HDLC, "SIOCWANDEV/IF_PROTO_HDLC fail!", 2}}) {
        nets.refuseType = c.refuse;
        Digital(2);
        nets.trace.clear();
        if (c.code)
            board.FailRequest(Standin::kInetSocket, c.code, EIO);
        EXPECT_EQ(Slots::instance().Destroy(2), Answer::success);
        EXPECT_EQ(errors.count(c.line), 1u) << c.line;
        EXPECT_EQ(nets.trace.size(), c.requests) << c.line;
    }
}

} // namespace
} // namespace test
