// ED-137 radio slots through the controller link on the simulated RTP and
// extension drivers.
#include "protocol/lgcp.h"
#include "rtp/ed137_factory.h"
#include "standin/rtp.h"
#include "standin/rtp_ext.h"
#include "tests/core/link_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>

namespace {

using namespace test;
using Cause = LGCP::ErrorCause;
using RTPSignalling::ED137RadioParams;

constexpr int kTdm = Standin::Rtp::kFirstChannel;

LGCP::Message CreateED137(unsigned seq, int slot, void (*radio)(TERM::RtpParams&) = nullptr)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::CreateRtpParams& rtp = Body(m).select_create().select_rtp();
    TERM::RtpParams& p = rtp.get_codecRTP();
    p.get_payload() = TERM::Payload::ptG711_Alaw;
    p.get_dhost().get_iaddr().assign("127.0.0.1");
    p.get_dhost().get_port() = 7000;
    p.set_radio().get_status().select_ed_137().get_header().set_ptt_id(9);
    rtp.get_txPayload() = TERM::Payload::ptG711_Alaw;
    rtp.get_rxPayload() = TERM::Payload::ptG711_Alaw;
    if (radio)
        radio(p);
    return m;
}

TERM::ED137RadioResponse& Response(TERM::RtpParams& p)
{
    return p.get_radio().get_status().get_ed_137().set_radio_response();
}

LGCP::Message Squelch(unsigned seq, int slot, bool on)
{
    LGCP::Message m = Command(seq, slot);
    TERM::ED137RadioModifier& ed = Body(m).select_ioctl().select_rtpExt().select_ed_137();
    ed.get_addr().set_session_addr("10.0.0.9");
    ed.get_params().select_rx().get_header().get_squ().setFromInt(on ? 1 : 0);
    return m;
}

class ED137SlotTest : public LinkFixture {
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        RtpED137Factory::instance();
    }
    void Make(int slot, void (*radio)(TERM::RtpParams&) = nullptr)
    {
        auto got = Exchange(CreateED137(1, slot, radio), 3);
        ExpectAnswer(got[0], 1, slot);
        ExpectStream(got[1], slot, true, true, kTdm);
    }
    RtpED137RadioGWSlot& SlotAt(int id) { return static_cast<RtpED137RadioGWSlot&>(*Slots::instance().Find(id)); }
    Standin::RtpExt::Session& Session()
    {
        board.Prune();
        return *ext.Sessions().at(0);
    }

    Standin::Rtp& rtp = board.Get<Standin::Rtp>("/dev/rtp");
    Standin::RtpExt& ext = board.Get<Standin::RtpExt>("/dev/rtp_ext");
    Capture out{std::clog};
    Capture err{std::cerr};
};

TEST(ED137InitRecord, KeepAliveCountAndSignallingTime)
{
    struct Row {
        uint32_t period, sigtime, pfactor, keepalive, factor;
    } rows[] = {
        {500, 3, 5, 30, 3},
        {20, 1, 4, 0, 1},
        {200, 1, 0, 10, 1}, // no packet factor: the driver's 2
        {1000, 50, 1, 5000, 50},
    };
    for (Row const& r : rows) {
        ED137RadioParams p;
        p.r2s_keepalive_period = r.period;
        p.sigtime = r.sigtime;
        rtp_ext_init_params init = ED137InitParams(p, r.pfactor);
        EXPECT_EQ(init.etype, 359);
        EXPECT_EQ(init.eparam, 1u);
        EXPECT_EQ(init.payload_type, 123u);
        EXPECT_EQ(init.keepalive_count, r.keepalive) << r.period << "/" << r.pfactor;
        EXPECT_EQ(init.sigtime_factor, r.factor);
    }
}

TEST_F(ED137SlotTest, CreatedWithTheSessionSettings)
{
    Make(4, [](TERM::RtpParams& p) {
        p.set_pfactor(5);
        auto& r = Response(p);
        r.set_r2s_keepalive_period(500);
        r.set_sigtime(3);
        r.get_type().setFromInt(3);
        r.get_txrxmode().setFromInt(0);
    });
    RtpED137RadioGWSlot& slot = SlotAt(4);
    EXPECT_STREQ(slot.GetName(), "rtp ext ED137 (GW)");
    EXPECT_EQ(Session().init.etype, 0x0167);
    EXPECT_EQ(Session().init.keepalive_count, 30u);
    EXPECT_EQ(Session().init.sigtime_factor, 3u);
    EXPECT_EQ(Session().attach.fd_rtp, slot.session().lowlevel_fd());
    EXPECT_EQ(Session().attach.pid_rtp, -1);
    const ED137RadioParams& p = slot.ed137().params();
    EXPECT_EQ(p.r2s_keepalive_multiplier, 10u);
    EXPECT_EQ(p.type, 3u);
    EXPECT_EQ(p.txrxmode, 0u);
    EXPECT_EQ(slot.ed137().interval(), 2500u);
    EXPECT_TRUE(slot.ed137().timer_running());
    // The creation's header is the first state sent.
    board.Pump();
    ASSERT_FALSE(Session().written.empty());
    EXPECT_EQ(Session().written[0], (Standin::Frame{0x02, 0x40, 0, 0}));

    LGCP::Message destroy = Command(2, 4);
    Body(destroy).select_destroy();
    ExpectAnswer(Exchange(destroy)[0], 2, 4);
    board.Prune();
    EXPECT_TRUE(ext.Sessions().empty());
    EXPECT_TRUE(board.Channels("/dev/rtp").empty());
}

// Defaults, and its own extension session whatever rtp-e2m asks; a packet
// from the network reaches the controller, a command leaves as a packet.
TEST_F(ED137SlotTest, DefaultsOwnSessionAndSignalsBothWays)
{
    Make(4, [](TERM::RtpParams& p) {
        auto& only = p.set_rtp_e2m().set_mode().select_only_rtp();
        only.set_fd(7);
        only.set_pid(1234);
    });
    RtpED137RadioGWSlot& slot = SlotAt(4);
    EXPECT_EQ(Session().init.keepalive_count, 10u);
    EXPECT_EQ(Session().init.sigtime_factor, 1u);
    EXPECT_EQ(Session().attach.fd_rtp, slot.session().lowlevel_fd());
    EXPECT_EQ(Session().attach.pid_rtp, -1);
    const ED137RadioParams& p = slot.ed137().params();
    EXPECT_FALSE(p.transmission_depend_on_squ);
    EXPECT_EQ(p.sigtime, 1u);
    EXPECT_EQ(p.r2s_keepalive_period, 200u);
    EXPECT_EQ(p.r2s_keepalive_multiplier, 10u);
    EXPECT_EQ(p.type, 2u);
    EXPECT_EQ(p.txrxmode, 2u);
    EXPECT_EQ(slot.ed137().interval(), 1000u);

    in_addr from{};
    inet_pton(AF_INET, "10.0.0.5", &from);
    ASSERT_EQ(ext.Receive(Standin::Frame{0x20, 0x80, 0, 0}, from, 55), 1u);
    auto got = Receive(1);
    ASSERT_TRUE(got[0].get_pdu().get_signal().rtpExt_isSelected()) << got[0];
    const TERM::RtpRadioRequest& r = got[0].get_pdu().get_signal().get_rtpExt();
    EXPECT_EQ(r.get_request().get_ed_137().get_addr().get_session_addr(), "10.0.0.5");
    EXPECT_EQ(r.get_request().get_ed_137().get_params().get_tx().get_header().get_ptt_id().getValue(), 2u);
    EXPECT_EQ(r.get_status().get_ed_137().get_header().get_ptt_id().getValue(), 9u);

    Session().written.clear();
    ExpectAnswer(Exchange(Squelch(5, 4, true))[0], 5, 4);
    board.Pump();
    ASSERT_FALSE(Session().written.empty());
    EXPECT_EQ(Session().written.back(), (Standin::Frame{0x10, 0, 0, 0}));
}

TEST_F(ED137SlotTest, SquelchSwitchesTransmission)
{
    Make(4, [](TERM::RtpParams& p) { Response(p).set_transmission_depend_on_squ(true); });
    EXPECT_TRUE(SlotAt(4).dependsOnSqu());
    EXPECT_FALSE(rtp.At(kTdm)->transmitting);
    ExpectAnswer(Exchange(Squelch(2, 4, true))[0], 2, 4);
    EXPECT_TRUE(rtp.At(kTdm)->transmitting);
    ExpectAnswer(Exchange(Squelch(3, 4, false))[0], 3, 4);
    EXPECT_FALSE(rtp.At(kTdm)->transmitting);
}

// Two silent periods of 20 ms: the slot reports the lost link.
TEST_F(ED137SlotTest, LostLinkIsReportedAsAbort151)
{
    Make(4, [](TERM::RtpParams& p) {
        auto& r = Response(p);
        r.set_r2s_keepalive_period(20);
        r.set_r2s_keepalive_multiplier(2);
    });
    auto got = Receive(1);
    ASSERT_TRUE(got[0].get_pdu().get_signal().abort_isSelected()) << got[0];
    EXPECT_EQ(got[0].get_pdu().get_signal().get_abort().getValue(), 151);
    EXPECT_EQ(got[0].get_slot().getValue(), 4u);
}

TEST_F(ED137SlotTest, OtherRadiosAndAMissingSignallingSessionAreRefused)
{
    LGCP::Message lemz = CreateED137(1, 5);
    Body(lemz).get_create().get_rtp().get_codecRTP().get_radio().get_status().select_lemz();
    EXPECT_EQ(RtpED137Factory::instance().INewSlot(Body(lemz).get_create()), nullptr);
    Body(lemz).get_create().get_rtp().get_codecRTP().omit_radio();
    EXPECT_EQ(RtpED137Factory::instance().INewSlot(Body(lemz).get_create()), nullptr);
    EXPECT_TRUE(board.Channels("/dev/rtp").empty());

    board.FailOpen("/dev/rtp_ext", ENODEV);
    ExpectAnswer(Exchange(CreateED137(2, 6))[0], 2, 6, Cause::insufficientResources);
    EXPECT_NE(err.text().find("create rtp_ext session fail !!!"), std::string::npos);
    EXPECT_TRUE(board.Channels("/dev/rtp").empty());
}

} // namespace
