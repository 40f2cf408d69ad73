// LEMZ and ED-137 radio slots through the controller link on the simulated
// RTP and extension drivers, then under a careless controller and a hostile
// radio peer: the daemon goes on serving and gives everything back.
#include "framework/packet.h"
#include "protocol/lgcp.h"
#include "rtp/ed137_factory.h"
#include "rtp/lemz_codec.h"
#include "rtp/lemz_factory.h"
#include "samples/link/process.h"
#include "standin/dsp.h"
#include "standin/rtp.h"
#include "standin/rtp_ext.h"
#include "tests/core/link_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <random>

namespace {

using namespace test;
using Cause = LGCP::ErrorCause;
using RTPSignalling::ED137RadioParams;
using Fill = std::function<void(TERM::RtpParams&)>;

constexpr int kTdm = Standin::Rtp::kFirstChannel;

// An A-law radio create: LEMZ at priority 15, or ED-137 with PTT id 9.
LGCP::Message CreateRadio(unsigned seq, int slot, bool lemz, Fill const& fill = nullptr)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::CreateRtpParams& rtp = Body(m).select_create().select_rtp();
    TERM::RtpParams& p = rtp.get_codecRTP();
    p.get_payload() = TERM::Payload::ptG711_Alaw;
    p.get_dhost().get_iaddr().assign("127.0.0.1");
    p.get_dhost().get_port() = 7000;
    if (lemz)
        p.set_radio().get_status().select_lemz().get_flags().set_prio(15);
    else
        p.set_radio().get_status().select_ed_137().get_header().set_ptt_id(9);
    rtp.get_txPayload() = TERM::Payload::ptG711_Alaw;
    rtp.get_rxPayload() = TERM::Payload::ptG711_Alaw;
    if (fill)
        fill(p);
    return m;
}

LGCP::Message Cmd(unsigned seq, int slot, std::function<void(LGCP::Command&)> fill)
{
    LGCP::Message m = Command(seq, slot);
    fill(Body(m));
    return m;
}

LGCP::Message Codec(unsigned seq, int slot)
{
    return Cmd(seq, slot, [](LGCP::Command& c) { c.select_ioctl().select_encoder_mode() = LGCP::CodecMode::ulaw; });
}

TERM::ED137RadioResponse& Response(TERM::RtpParams& p)
{
    return p.get_radio().get_status().get_ed_137().set_radio_response();
}

LGCP::Message Squelch(unsigned seq, int slot, bool on)
{
    return Cmd(seq, slot, [on](LGCP::Command& c) {
        TERM::ED137RadioModifier& ed = c.select_ioctl().select_rtpExt().select_ed_137();
        ed.get_addr().set_session_addr("10.0.0.9");
        ed.get_params().select_rx().get_header().get_squ().setFromInt(on ? 1 : 0);
    });
}

Standin::Frame LemzPacket(uint32_t kind, uint32_t prio, uint32_t ptt)
{
    sig_proto p;
    sig_proto_init(&p);
    p.type = kind;
    p.priority = prio;
    p.flag_p = ptt;
    Standin::Frame packet(8);
    packet.resize(static_cast<size_t>(sig_proto_pack(&p, packet.data(), packet.size())));
    return packet;
}

class RadioSlotTest : public LinkFixture {
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        RtpLEMZFactory::instance();
        RtpED137Factory::instance();
    }
    void Make(int slot, bool lemz, Fill const& fill = nullptr)
    {
        auto got = Exchange(CreateRadio(1, slot, lemz, fill), 3);
        ExpectAnswer(got[0], 1, slot);
        ExpectStream(got[1], slot, true, true, kTdm);
    }
    template <class S>
    S& SlotAt(int id)
    {
        return static_cast<S&>(*Slots::instance().Find(id));
    }
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

using LemzSlotTest = RadioSlotTest;
using ED137SlotTest = RadioSlotTest;

TEST_F(LemzSlotTest, CreatedOnItsOwnExtensionSessionWithTheRadioSettings)
{
    Make(4, true, [](TERM::RtpParams& p) {
        p.get_radio().set_rx_delay(40);
        p.get_radio().set_bss_enable(true);
    });
    auto& slot = SlotAt<RtpLEMZRadioGWSlot>(4);
    EXPECT_STREQ(slot.GetName(), "rtp ext LEMZ (GW)");
    board.Prune();
    ASSERT_EQ(ext.Sessions().size(), 1u);
    const auto& session = *ext.Sessions()[0];
    EXPECT_EQ(session.init.etype, 4919);
    EXPECT_EQ(session.init.eparam | session.init.payload_type | session.init.keepalive_count, 0u);
    EXPECT_EQ(session.attach.fd_rtp, slot.session().lowlevel_fd());
    EXPECT_EQ(session.attach.pid_rtp, ::getpid());
    EXPECT_TRUE(slot.lemz().timer_running());
    rtp_add_channel add;
    std::memcpy(&add, rtp.log().at(1).record.data(), sizeof add);
    EXPECT_EQ(add.bss, 1u);
    auto& dsp = board.Get<Standin::Dsproc>("/dev/dsp");
    EXPECT_EQ(dsp.At(kTdm).rxDelay, 40);
    EXPECT_EQ(dsp.At(kTdm).txDelay, 0);
    EXPECT_TRUE(dsp.At(kTdm).bss);

    // A codec change re-attaches to the slot's new, live session.
    ExpectAnswer(Exchange(Codec(2, 4))[0], 2, 4);
    EXPECT_EQ(ext.detaches(), 1);
    board.Prune();
    ASSERT_EQ(ext.Sessions().size(), 1u);
    EXPECT_EQ(ext.Sessions()[0]->attach.fd_rtp, slot.session().lowlevel_fd());
    EXPECT_GE(::fcntl(slot.session().lowlevel_fd(), F_GETFD), 0);
    EXPECT_EQ(board.Channels("/dev/rtp").size(), 1u);
    // The new session keeps the channel and its best-signal selection.
    auto codes = rtp.codes();
    ASSERT_EQ(std::count(codes.begin(), codes.end(), 0xC0105202UL), 2);
    auto restarted = std::find(codes.rbegin(), codes.rend(), 0xC0105202UL);
    std::memcpy(&add, rtp.log()[static_cast<size_t>(codes.rend() - restarted - 1)].record.data(), sizeof add);
    EXPECT_EQ(add.info.tdm, kTdm);
    EXPECT_EQ(add.bss, 1u);

    ExpectAnswer(Exchange(Cmd(3, 4, [](LGCP::Command& c) { c.select_destroy(); }))[0], 3, 4);
    EXPECT_EQ(ext.detaches(), 2);
    board.Prune();
    EXPECT_TRUE(ext.Sessions().empty());
    EXPECT_TRUE(board.Channels("/dev/rtp").empty());
}

// A packet from the network reaches the controller as `rtpExt`, with the
// state the slot was created with; the controller's command leaves as a
// packet.
TEST_F(LemzSlotTest, PacketsAndCommandsCrossTheSlot)
{
    Make(4, true);
    in_addr from{};
    inet_pton(AF_INET, "10.0.0.5", &from);
    ASSERT_EQ(ext.Receive(LemzPacket(GW_FLAG_PTT, 2, 1), from, 55), 1u);
    auto got = Receive(1);
    ASSERT_TRUE(got[0].get_pdu().get_signal().rtpExt_isSelected()) << got[0];
    const TERM::RtpRadioRequest& r = got[0].get_pdu().get_signal().get_rtpExt();
    const TERM::LemzRadioModifier& m = r.get_request().get_lemz();
    EXPECT_EQ(m.get_addr().get_session_addr(), "10.0.0.5");
    EXPECT_EQ(m.get_addr().get_session_ssrc().getValue(), 55u);
    EXPECT_TRUE(m.get_params().get_gw_set_ptt().get_flags().get_ptt());
    EXPECT_EQ(out.count("receive extension packet(s)!"), 0u) << "no debug lines unless asked for";
    EXPECT_EQ(r.get_status().get_lemz().get_flags().get_prio().getValue(), 15);

    ExpectAnswer(Exchange(Cmd(5, 4, [](LGCP::Command& c) {
                     TERM::LemzRadioModifier& lemz = c.select_ioctl().select_rtpExt().select_lemz();
                     lemz.get_addr().set_session_addr("10.0.0.9");
                     auto& t = lemz.get_params().select_wm_trans();
                     t.get_flags().set_ptt(true);
                     t.get_flags().set_prio(2);
                     t.set_ip("10.1.2.3");
                     t.set_ssrc(0x0A0B0C0D);
                 }))[0],
                 5, 4);
    board.Pump();
    // The refresh timer may have sent its packets meanwhile.
    std::vector<Standin::Frame> written;
    for (const auto& f : Session().written)
        if (f[0] == WM_TRANS)
            written.push_back(f);
    ASSERT_EQ(written.size(), 1u);
    // Kind 130, priority 2 with P set, the address and the SSRC.
    EXPECT_EQ(written[0], (Standin::Frame{130, 0x24, 0, 0, 3, 2, 1, 10, 0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_TRUE(Session().filtered);
}

// Asked to follow the squelch, a LEMZ slot transmits while the squelch it
// was last told is open; a request that changes nothing sends nothing.
TEST_F(LemzSlotTest, TransmissionFollowsTheSquelch)
{
    Make(4, true);
    SlotAt<RtpLEMZRadioGWSlot>(4).setTransmissionDependOnSQU(true);
    Exchange(CreateE1(2, 1, 2, 5), 3);
    ExpectAnswer(Exchange(Connect(3, 1, {4}))[0], 3, 1);
    EXPECT_FALSE(rtp.At(kTdm)->transmitting);

    auto squelch = [](unsigned seq, bool open) {
        LGCP::Message m = Command(seq, 4);
        TERM::LemzRadioModifier& lemz = Body(m).select_ioctl().select_rtpExt().select_lemz();
        lemz.get_addr().set_session_addr("10.0.0.9");
        lemz.get_params().select_wm_flags().get_flags().set_sql(open);
        return m;
    };
    size_t before = rtp.codes().size();
    ExpectAnswer(Exchange(squelch(4, true))[0], 4, 4);
    EXPECT_TRUE(rtp.At(kTdm)->transmitting);
    ExpectAnswer(Exchange(Cmd(5, 4, [](LGCP::Command& c) { c.select_ioctl().select_vad_enable() = true; }))[0], 5, 4);
    ExpectAnswer(Exchange(squelch(6, false))[0], 6, 4);
    EXPECT_FALSE(rtp.At(kTdm)->transmitting);
    auto codes = rtp.codes();
    EXPECT_EQ(std::vector<unsigned long>(codes.begin() + static_cast<long>(before), codes.end()),
              (std::vector<unsigned long>{0x20005204UL, 0x20005205UL}));
}

TEST_F(LemzSlotTest, AttachedToAnotherSession)
{
    Make(4, true, [](TERM::RtpParams& p) {
        auto& only = p.set_rtp_e2m().set_mode().select_only_rtp();
        only.set_fd(7);
        only.set_pid(1234);
    });
    EXPECT_FALSE(SlotAt<RtpLEMZRadioGWSlot>(4).lemz().timer_running());
    auto codes = rtp.codes();
    ASSERT_EQ(codes.at(2), 0xC0085209UL);
    rtp_attach_session_params attach;
    std::memcpy(&attach, rtp.log()[2].record.data(), sizeof attach);
    EXPECT_EQ(attach.fd_rtp, 7);
    EXPECT_EQ(attach.pid_rtp, 1234);
    board.Prune();
    EXPECT_TRUE(ext.Sessions().empty());
    // A codec change ends the old session for good (the control keeps no
    // copy of it) and attaches the new one.
    ExpectAnswer(Exchange(Codec(7, 4))[0], 7, 4);
    EXPECT_EQ(board.Channels("/dev/rtp").size(), 1u);
    EXPECT_EQ(rtp.codes().back(), 0xC0085209UL);
}

// Each factory takes only its own radio (asked directly: factories made
// earlier in the process may take the others); without its signalling
// session no radio slot is made and nothing stays.
TEST_F(RadioSlotTest, OtherRadiosAndAMissingSignallingSessionAreRefused)
{
    for (bool lemz : {true, false}) {
        SlotFactory& own = lemz ? static_cast<SlotFactory&>(RtpLEMZFactory::instance()) : RtpED137Factory::instance();
        LGCP::Message other = CreateRadio(1, 5, !lemz);
        EXPECT_EQ(own.INewSlot(Body(other).get_create()), nullptr);
        Body(other).get_create().get_rtp().get_codecRTP().omit_radio();
        EXPECT_EQ(own.INewSlot(Body(other).get_create()), nullptr);

        board.FailOpen("/dev/rtp_ext", ENODEV);
        ExpectAnswer(Exchange(CreateRadio(2, 6, lemz))[0], 2, 6, Cause::insufficientResources);
        EXPECT_NE(err.take().find("create rtp_ext session fail !!!"), std::string::npos);
        EXPECT_TRUE(board.Channels("/dev/rtp").empty());
    }
}

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
    Make(4, false, [](TERM::RtpParams& p) {
        p.set_pfactor(5);
        auto& r = Response(p);
        r.set_r2s_keepalive_period(500);
        r.set_sigtime(3);
        r.get_type().setFromInt(3);
        r.get_txrxmode().setFromInt(0);
    });
    auto& slot = SlotAt<RtpED137RadioGWSlot>(4);
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

    ExpectAnswer(Exchange(Cmd(2, 4, [](LGCP::Command& c) { c.select_destroy(); }))[0], 2, 4);
    board.Prune();
    EXPECT_TRUE(ext.Sessions().empty());
    EXPECT_TRUE(board.Channels("/dev/rtp").empty());
}

// Defaults, and its own extension session whatever rtp-e2m asks; a packet
// from the network reaches the controller, a command leaves as a packet.
TEST_F(ED137SlotTest, DefaultsOwnSessionAndSignalsBothWays)
{
    Make(4, false, [](TERM::RtpParams& p) {
        auto& only = p.set_rtp_e2m().set_mode().select_only_rtp();
        only.set_fd(7);
        only.set_pid(1234);
    });
    auto& slot = SlotAt<RtpED137RadioGWSlot>(4);
    EXPECT_EQ(Session().init.keepalive_count, 10u);
    EXPECT_EQ(Session().init.sigtime_factor, 1u);
    EXPECT_EQ(Session().attach.fd_rtp, slot.session().lowlevel_fd());
    const ED137RadioParams& p = slot.ed137().params();
    EXPECT_FALSE(p.transmission_depend_on_squ);
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
    EXPECT_EQ(out.count("receive extension packet(s)!"), 0u) << "no debug lines unless asked for";

    Session().written.clear();
    ExpectAnswer(Exchange(Squelch(5, 4, true))[0], 5, 4);
    board.Pump();
    ASSERT_FALSE(Session().written.empty());
    EXPECT_EQ(Session().written.back(), (Standin::Frame{0x10, 0, 0, 0}));
}

// With transmission following the squelch, every request applies it: the
// one opening the squelch starts transmission, others send nothing to the
// driver until it closes.
TEST_F(ED137SlotTest, SquelchSwitchesTransmission)
{
    Make(4, false, [](TERM::RtpParams& p) { Response(p).set_transmission_depend_on_squ(true); });
    EXPECT_TRUE(SlotAt<RtpED137RadioGWSlot>(4).dependsOnSqu());
    EXPECT_FALSE(rtp.At(kTdm)->transmitting);
    size_t before = rtp.codes().size();
    ExpectAnswer(Exchange(Squelch(2, 4, true))[0], 2, 4);
    EXPECT_TRUE(rtp.At(kTdm)->transmitting);
    ExpectAnswer(Exchange(Cmd(3, 4, [](LGCP::Command& c) { c.select_ioctl().select_vad_enable() = true; }))[0], 3, 4);
    ExpectAnswer(Exchange(Squelch(4, 4, false))[0], 4, 4);
    EXPECT_FALSE(rtp.At(kTdm)->transmitting);
    auto codes = rtp.codes();
    EXPECT_EQ(std::vector<unsigned long>(codes.begin() + static_cast<long>(before), codes.end()),
              (std::vector<unsigned long>{0x20005204UL, 0x20005205UL}));
}

// Two silent periods of 20 ms: the slot reports the lost link.
TEST_F(ED137SlotTest, LostLinkIsReportedAsAbort151)
{
    Make(4, false, [](TERM::RtpParams& p) {
        auto& r = Response(p);
        r.set_r2s_keepalive_period(20);
        r.set_r2s_keepalive_multiplier(2);
    });
    auto got = Receive(1);
    ASSERT_TRUE(got[0].get_pdu().get_signal().abort_isSelected()) << got[0];
    EXPECT_EQ(got[0].get_pdu().get_signal().get_abort().getValue(), 151);
    EXPECT_EQ(got[0].get_slot().getValue(), 4u);
}

class RadioHostile : public RadioSlotTest {
protected:
    void SetUp() override
    {
        RadioSlotTest::SetUp();
        board.Prune(); // the factories' queries leave closed channels
        mPackets = PacketPool::available();
        mFds = OpenDescriptors();
    }
    void Send(LGCP::Message const& m) { EXPECT_TRUE(client.Send(Encode(m))); }
    void Drain()
    {
        loop.Settle(3);
        Octets payload;
        while (client.Take(payload))
            Decode(payload);
    }
    void ExpectNothingHeld()
    {
        for (int s = 0; s < 64; ++s)
            if (Slots::instance().Find(s))
                Send(Cmd(900, s, [](LGCP::Command& c) { c.select_destroy(); }));
        Drain();
        board.Prune();
        EXPECT_EQ(Slots::instance().count(), 0u);
        EXPECT_TRUE(ext.Sessions().empty());
        EXPECT_TRUE(board.Channels("/dev/rtp").empty());
        EXPECT_EQ(PacketPool::available(), mPackets);
        EXPECT_EQ(OpenDescriptors(), mFds);
    }
    // The controller's radio commands, from sane to absurd.
    std::vector<LGCP::Message> Commands(unsigned seq, int slot)
    {
        std::vector<LGCP::Message> all;
        for (const char* addr : {"", "10.0.0.9", "999.1.1.1", "not an address"}) {
            all.push_back(Cmd(seq, slot, [&](LGCP::Command& c) {
                auto& l = c.select_ioctl().select_rtpExt().select_lemz();
                l.get_addr().set_session_addr(addr);
                l.get_addr().set_session_ssrc(0xFFFFFFFFu);
                auto& t = l.get_params().select_wm_trans();
                t.get_flags().set_ptt(true);
                t.get_flags().set_prio(INT_MIN);
                t.set_ip(addr);
                t.set_ssrc(0);
            }));
            all.push_back(Cmd(seq, slot, [&](LGCP::Command& c) {
                auto& e = c.select_ioctl().select_rtpExt().select_ed_137();
                e.get_addr().set_session_addr(addr);
                e.get_params().select_rx().get_header().get_squ().setFromInt(1);
            }));
        }
        all.push_back(Cmd(seq, slot, [](LGCP::Command& c) {
            auto& l = c.select_ioctl().select_rtpExt().select_lemz();
            l.get_addr().set_session_addr(std::string(16384, '1'));
            l.get_params().select_wm_flags().get_flags().set_sql(true);
        }));
        all.push_back(Cmd(seq, slot, [](LGCP::Command& c) {
            c.select_ioctl().select_encoder_mode() = LGCP::CodecMode::alaw;
        }));
        all.push_back(Cmd(seq, slot, [](LGCP::Command& c) { c.select_ioctl().select_vad_enable() = true; }));
        all.push_back(Cmd(seq, slot, [](LGCP::Command& c) { c.select_userData() = std::vector<char>(16384, 1); }));
        all.push_back(Cmd(seq, slot, [](LGCP::Command& c) { c.select_deactivate(); }));
        all.push_back(Cmd(seq, slot, [](LGCP::Command& c) { c.select_activate().select_none(); }));
        return all;
    }
    // Random extension packets, some of a known kind, from a few senders.
    void Flood(int count)
    {
        std::uniform_int_distribution<int> octet(0, 255), len(0, 40), coin(0, 3);
        const uint8_t kinds[] = {GW_SEL_CALL, WM_SEL_CALL_TRANS, WM_TRANS, WM_CHAN, GW_FLAG_PTT, 0x80, 0};
        for (int i = 0; i < count; ++i) {
            Standin::Frame f(static_cast<size_t>(coin(mRng) == 0 ? 1100 : len(mRng)));
            for (auto& b : f)
                b = static_cast<uint8_t>(octet(mRng));
            if (!f.empty() && coin(mRng))
                f[0] = kinds[static_cast<size_t>(octet(mRng)) % sizeof kinds];
            in_addr from{};
            from.s_addr = htonl(0x0A000000u + static_cast<uint32_t>(coin(mRng)));
            ext.Receive(f, from, static_cast<uint32_t>(octet(mRng)));
            if (i % 32 == 0)
                Drain();
        }
        Drain();
    }
    // A create past what the packet field holds is refused, one at its edge
    // made; each command past it is refused and nothing goes out.
    void ExpectTooWideRefused(bool lemz, Fill const& wide, Fill const& edge,
                              std::vector<std::function<void(LGCP::Command&)>> const& commands)
    {
        ExpectAnswer(Exchange(CreateRadio(1, 4, lemz, wide))[0], 1, 4, Cause::invalidParams);
        ExpectAnswer(Exchange(CreateRadio(2, 4, lemz, edge), 3)[0], 2, 4);
        Drain();
        board.Pump();
        board.Prune();
        ASSERT_EQ(ext.Sessions().size(), 1u);
        Session().written.clear();
        for (auto& command : commands)
            ExpectAnswer(Exchange(Cmd(3, 4, command))[0], 3, 4, Cause::invalidParams);
        board.Pump();
        EXPECT_TRUE(Session().written.empty());
    }

    std::mt19937 mRng{1206};
    unsigned mPackets = 0;
    size_t mFds = 0;
};

TEST_F(RadioHostile, BoundaryCreatesOddOrdersAndFloods)
{
    const int ints[] = {INT_MIN, -1, 0, INT_MAX};
    int slot = 1;
    for (int v : ints) {
        Send(CreateRadio(1, slot++, true, [v](TERM::RtpParams& p) {
            p.get_radio().set_rx_delay(v);
            p.get_radio().set_tx_delay(v);
            p.set_pfactor(255);
            auto& l = p.get_radio().get_status().get_lemz();
            l.get_flags().set_prio(v);
            l.set_standby_group(255);
        }));
        Send(CreateRadio(1, slot++, true, [v](TERM::RtpParams& p) {
            auto& only = p.set_rtp_e2m().set_mode().select_only_rtp();
            only.set_fd(v);
            only.set_pid(v);
        }));
        Send(CreateRadio(1, slot++, false, [v](TERM::RtpParams& p) {
            p.set_pfactor(v < 0 ? 255 : 0);
            auto& r = Response(p);
            r.set_sigtime(v < 0 ? 50 : 1);
            r.set_r2s_keepalive_period(v < 0 ? 20 : 1000);
            r.set_r2s_keepalive_multiplier(v < 0 ? 2 : 50);
            r.set_transmission_depend_on_squ(true);
            p.get_radio().set_rx_delay(v);
        }));
    }
    Drain();
    std::vector<int> made;
    for (int s = 1; s < slot; ++s)
        if (Slots::instance().Find(s))
            made.push_back(s);
    EXPECT_GE(made.size(), 4u);
    unsigned seq = 2;
    for (int round = 0; round < 3; ++round) {
        for (int s : made)
            for (auto& m : Commands(seq, s))
                Send(m);
        Flood(120);
        ExpectServing(seq++);
    }
    // Destroyed with packets still waiting, twice.
    ext.Receive(Standin::Frame{WM_TRANS, 0, 0, 0}, in_addr{}, 1);
    Send(Cmd(seq, made[0], [](LGCP::Command& c) { c.select_destroy(); }));
    Send(Cmd(seq, made[0], [](LGCP::Command& c) { c.select_destroy(); }));
    ExpectServing(seq);
    ExpectNothingHeld();
}

// A codec change whose new session comes up but whose transmission the
// driver refuses is answered with a failure; the radio signalling stays on
// the live session.
TEST_F(RadioHostile, FailedCodecChangeKeepsTheRadioSignalling)
{
    ExpectAnswer(Exchange(CreateRadio(1, 4, true), 3)[0], 1, 4);
    Exchange(CreateE1(2, 1, 2, 5), 3);
    ExpectAnswer(Exchange(Connect(3, 1, {4}))[0], 3, 1);
    Drain();
    board.FailRequest("/dev/rtp", 0x20005204UL, EIO);
    ExpectAnswer(Exchange(Codec(4, 4))[0], 4, 4, Cause::unsupported);
    board.Prune();
    ASSERT_EQ(ext.Sessions().size(), 1u);
    EXPECT_EQ(Session().attach.fd_rtp, SlotAt<RtpLEMZRadioGWSlot>(4).session().lowlevel_fd());
    ASSERT_EQ(ext.Receive(LemzPacket(GW_FLAG_PTT, 0, 0), in_addr{}, 5), 1u);
    auto got = Receive(1);
    EXPECT_TRUE(got[0].get_pdu().get_signal().rtpExt_isSelected()) << got[0];
}

// A PTT type or BSS method past the three bits of its packet field would
// go out as another value.
TEST_F(RadioHostile, Ed137ValuesWiderThanTheirFieldsAreRefused)
{
    auto ptt = [](int type) {
        return [type](TERM::RtpParams& p) {
            p.get_radio().get_status().get_ed_137().get_header().get_ptt().setFromInt(type);
        };
    };
    auto rx = [](int type, int method, std::string addr = "10.0.0.9") {
        return [type, method, addr](LGCP::Command& c) {
            auto& e = c.select_ioctl().select_rtpExt().select_ed_137();
            e.get_addr().set_session_addr(addr);
            auto& rx = e.get_params().select_rx();
            rx.get_header().get_ptt().setFromInt(type);
            rx.set_sqi().get_bss_method().setFromInt(method);
        };
    };
    // The last: an address with a NUL in it would name another one.
    ExpectTooWideRefused(false, ptt(9), ptt(7), {rx(8, 1), rx(1, 8), rx(1, 1, std::string("10.0.0.9\0xx", 11))});
}

// A LEMZ frequency or quality beyond what the packet's float holds, or no
// number at all, cannot be sent.
TEST_F(RadioHostile, LemzNumbersBeyondTheirFloatAreRefused)
{
    auto frequency = [](const char* f) {
        return [f](TERM::RtpParams& p) { p.get_radio().get_status().get_lemz().get_freq().set_frequency(f); };
    };
    auto lemz = [](std::function<void(TERM::LemzRadioModifierParams&)> fill) {
        return [fill](LGCP::Command& c) {
            auto& l = c.select_ioctl().select_rtpExt().select_lemz();
            l.get_addr().set_session_addr("10.0.0.9");
            fill(l.get_params());
        };
    };
    ExpectTooWideRefused(
        true, frequency("1e39"), frequency("3.4e38"),
        {lemz([](TERM::LemzRadioModifierParams& p) { p.select_gw_set_freq().get_freq().set_frequency("-1e39"); }),
         lemz([](TERM::LemzRadioModifierParams& p) { p.select_wm_chan().get_freq().set_frequency("1e400"); }),
         lemz([](TERM::LemzRadioModifierParams& p) { p.select_wm_quality().set_bss_val("1e39"); }),
         lemz([](TERM::LemzRadioModifierParams& p) { p.select_wm_chan().get_freq().set_frequency("nan"); }),
         lemz([](TERM::LemzRadioModifierParams& p) { p.select_wm_trans().set_ip(std::string("10.0.0.1\0xx", 11)); })});
}

// Extension sessions the driver hangs up: reported once, then quiet; the
// loop does not spin on them. A command whose packet cannot be written
// applies nothing: the state the refreshes send, their clock and the source
// filter stay as they were, and the answer is the daemon's failure, not the
// controller's. The slots still answer and give everything back.
TEST_F(RadioHostile, UnwrittenCommandsApplyNothing)
{
    ExpectAnswer(Exchange(CreateRadio(1, 4, true), 3)[0], 1, 4);
    ExpectAnswer(Exchange(CreateRadio(1, 5, false), 3)[0], 1, 5);
    Drain();
    auto channels = board.Channels("/dev/rtp_ext");
    ASSERT_EQ(channels.size(), 2u);
    for (auto* c : channels) {
        c->Send(Standin::Frame{WM_TRANS, 1, 2});
        ::shutdown(c->fd(), SHUT_RDWR);
    }
    loop.Settle(5);
    size_t before = board.requests();
    loop.Settle(30);
    EXPECT_LT(board.requests() - before, 10u);
    auto& lemz = SlotAt<RtpLEMZRadioGWSlot>(4).lemz();
    auto& ed137 = SlotAt<RtpED137RadioGWSlot>(5).ed137();
    lemz.ResetClocks(0);
    ExpectAnswer(Exchange(Cmd(2, 4, [](LGCP::Command& c) {
                     auto& l = c.select_ioctl().select_rtpExt().select_lemz();
                     l.get_addr().set_session_addr("10.0.0.9");
                     auto& trans = l.get_params().select_wm_trans();
                     trans.set_ip("10.0.0.9");
                     trans.get_flags().set_ptt(true);
                 }))[0],
                 2, 4, Cause::internal);
    EXPECT_EQ(lemz.announced().ptt, 0);
    EXPECT_EQ(lemz.announced().session_addr, 0u);
    EXPECT_EQ(lemz.clock(RTPSignalling::LemzRadioControl::kFlags), 0u);
    EXPECT_FALSE(lemz.filter_active());
    ExpectAnswer(Exchange(Cmd(3, 5, [](LGCP::Command& c) {
                     auto& e = c.select_ioctl().select_rtpExt().select_ed_137();
                     e.get_addr().set_session_addr("10.0.0.9");
                     e.get_params().select_rx().get_header().get_ptt().setFromInt(1);
                 }))[0],
                 3, 5, Cause::internal);
    EXPECT_EQ(ed137.sent().ptt, 0u);
    EXPECT_FALSE(ed137.filter_active());
    for (int s : {4, 5})
        for (auto& m : Commands(7, s))
            Send(m);
    ExpectServing(8);
    ExpectNothingHeld();
}

} // namespace
