// LEMZ radio slots through the controller link on the simulated RTP and
// extension drivers.
#include "protocol/lgcp.h"
#include "rtp/lemz_factory.h"
#include "standin/dsp.h"
#include "standin/rtp.h"
#include "standin/rtp_ext.h"
#include "tests/core/link_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

using namespace test;
using Cause = LGCP::ErrorCause;

constexpr int kTdm = Standin::Rtp::kFirstChannel;

LGCP::Message CreateLemz(unsigned seq, int slot, void (*radio)(TERM::RtpParams&) = nullptr)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::CreateRtpParams& rtp = Body(m).select_create().select_rtp();
    TERM::RtpParams& p = rtp.get_codecRTP();
    p.get_payload() = TERM::Payload::ptG729;
    p.get_dhost().get_iaddr().assign("127.0.0.1");
    p.get_dhost().get_port() = 7000;
    p.set_radio().get_status().select_lemz().get_flags().set_prio(15);
    rtp.get_txPayload() = TERM::Payload::ptG729;
    rtp.get_rxPayload() = TERM::Payload::ptG729;
    if (radio)
        radio(p);
    return m;
}

LGCP::Message RadioCommand(unsigned seq, int slot)
{
    LGCP::Message m = Command(seq, slot);
    TERM::LemzRadioModifier& lemz = Body(m).select_ioctl().select_rtpExt().select_lemz();
    lemz.get_addr().set_session_addr("10.0.0.9");
    auto& t = lemz.get_params().select_wm_trans();
    t.get_flags().set_ptt(true);
    t.get_flags().set_prio(2);
    t.set_ip("10.1.2.3");
    t.set_ssrc(0x0A0B0C0D);
    return m;
}

class LemzSlotTest : public LinkFixture {
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        RtpLEMZFactory::instance();
    }
    void Make(int slot, void (*radio)(TERM::RtpParams&) = nullptr)
    {
        auto got = Exchange(CreateLemz(1, slot, radio), 3);
        ExpectAnswer(got[0], 1, slot);
        ExpectStream(got[1], slot, true, true, kTdm);
    }
    RtpLEMZRadioGWSlot& SlotAt(int id) { return static_cast<RtpLEMZRadioGWSlot&>(*Slots::instance().Find(id)); }

    Standin::Rtp& rtp = board.Get<Standin::Rtp>("/dev/rtp");
    Standin::RtpExt& ext = board.Get<Standin::RtpExt>("/dev/rtp_ext");
    Capture out{std::clog};
    Capture err{std::cerr};
};

TEST_F(LemzSlotTest, CreatedOnItsOwnExtensionSessionWithTheRadioSettings)
{
    Make(4, [](TERM::RtpParams& p) {
        p.get_radio().set_rx_delay(40);
        p.get_radio().set_bss_enable(true);
    });
    RtpLEMZRadioGWSlot& slot = SlotAt(4);
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
    LGCP::Message codec = Command(2, 4);
    Body(codec).select_ioctl().select_encoder_mode() = LGCP::CodecMode::alaw;
    ExpectAnswer(Exchange(codec)[0], 2, 4);
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

    ExpectAnswer(Exchange([] {
        LGCP::Message m = Command(3, 4);
        Body(m).select_destroy();
        return m;
    }())[0], 3, 4);
    EXPECT_EQ(ext.detaches(), 2);
    board.Prune();
    EXPECT_TRUE(ext.Sessions().empty());
    EXPECT_TRUE(board.Channels("/dev/rtp").empty());
}

// A packet from the network reaches the controller as `rtpExt`; the
// controller's command leaves as a packet.
TEST_F(LemzSlotTest, PacketsAndCommandsCrossTheSlot)
{
    Make(4);
    sig_proto p;
    sig_proto_init(&p);
    p.type = GW_FLAG_PTT;
    p.priority = 2;
    p.flag_p = 1;
    Standin::Frame packet(8);
    packet.resize(static_cast<size_t>(sig_proto_pack(&p, packet.data(), packet.size())));
    in_addr from{};
    inet_pton(AF_INET, "10.0.0.5", &from);
    ASSERT_EQ(ext.Receive(packet, from, 55), 1u);
    auto got = Receive(1);
    ASSERT_TRUE(got[0].get_pdu().get_signal().rtpExt_isSelected()) << got[0];
    const TERM::RtpRadioRequest& r = got[0].get_pdu().get_signal().get_rtpExt();
    const TERM::LemzRadioModifier& m = r.get_request().get_lemz();
    EXPECT_EQ(m.get_addr().get_session_addr(), "10.0.0.5");
    EXPECT_EQ(m.get_addr().get_session_ssrc().getValue(), 55u);
    EXPECT_TRUE(m.get_params().get_gw_set_ptt().get_flags().get_ptt());
    EXPECT_EQ(r.get_status().get_lemz().get_flags().get_prio().getValue(), 15);

    ExpectAnswer(Exchange(RadioCommand(5, 4))[0], 5, 4);
    board.Pump();
    board.Prune();
    // The refresh timer may have sent its packets meanwhile.
    std::vector<Standin::Frame> written;
    for (const auto& f : ext.Sessions().at(0)->written)
        if (f[0] == WM_TRANS)
            written.push_back(f);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], (Standin::Frame{130, 0x24, 0, 0, 3, 2, 1, 10, 0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_TRUE(ext.Sessions()[0]->filtered);
}

// With transmission following the squelch, every request applies it: the
// first one with the squelch open starts transmission, later ones send
// nothing until it closes.
TEST_F(LemzSlotTest, TransmissionFollowsTheSquelch)
{
    Make(4);
    RtpLEMZRadioGWSlot& slot = SlotAt(4);
    slot.setTransmissionDependOnSQU(true);
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
    LGCP::Message vad = Command(5, 4);
    Body(vad).select_ioctl().select_vad_enable() = true;
    ExpectAnswer(Exchange(vad)[0], 5, 4);
    ExpectAnswer(Exchange(squelch(6, false))[0], 6, 4);
    EXPECT_FALSE(rtp.At(kTdm)->transmitting);
    auto codes = rtp.codes();
    EXPECT_EQ(std::vector<unsigned long>(codes.begin() + static_cast<long>(before), codes.end()),
              (std::vector<unsigned long>{0x20005204UL, 0x20005205UL}));
}

TEST_F(LemzSlotTest, AttachedToAnotherSessionOrRefused)
{
    Make(4, [](TERM::RtpParams& p) {
        auto& only = p.set_rtp_e2m().set_mode().select_only_rtp();
        only.set_fd(7);
        only.set_pid(1234);
    });
    EXPECT_FALSE(SlotAt(4).lemz().timer_running());
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
    LGCP::Message codec = Command(7, 4);
    Body(codec).select_ioctl().select_encoder_mode() = LGCP::CodecMode::alaw;
    ExpectAnswer(Exchange(codec)[0], 7, 4);
    EXPECT_EQ(board.Channels("/dev/rtp").size(), 1u);
    EXPECT_EQ(rtp.codes().back(), 0xC0085209UL);

    // ED-137 and radio-less creates are not this factory's (asked directly:
    // other factories made earlier in the process may take them).
    auto ed = CreateLemz(2, 5);
    Body(ed).get_create().get_rtp().get_codecRTP().get_radio().get_status().select_ed_137();
    EXPECT_EQ(RtpLEMZFactory::instance().INewSlot(Body(ed).get_create()), nullptr);
    Body(ed).get_create().get_rtp().get_codecRTP().omit_radio();
    EXPECT_EQ(RtpLEMZFactory::instance().INewSlot(Body(ed).get_create()), nullptr);

    // Without its signalling session no radio slot is made, nothing stays.
    board.FailOpen("/dev/rtp_ext", ENODEV);
    ExpectAnswer(Exchange(CreateLemz(3, 6))[0], 3, 6, Cause::insufficientResources);
    EXPECT_NE(err.text().find("create rtp_ext session fail !!!"), std::string::npos);
    EXPECT_EQ(board.Channels("/dev/rtp").size(), 1u);
}

} // namespace
