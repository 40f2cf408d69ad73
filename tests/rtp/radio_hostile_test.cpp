// Radio slots under a careless controller and a hostile radio peer:
// boundary create parameters, every command in odd orders, floods of random
// extension packets. The daemon goes on serving and gives everything back.

#include "framework/packet.h"
#include "protocol/lgcp.h"
#include "rtp/ed137_factory.h"
#include "rtp/lemz_codec.h"
#include "rtp/lemz_factory.h"
#include "standin/rtp.h"
#include "standin/rtp_ext.h"
#include "tests/core/link_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <sys/socket.h>

#include <climits>
#include <functional>
#include <random>

namespace {

using namespace test;

size_t OpenFds()
{
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

LGCP::Message CreateRadio(unsigned seq, int slot, bool lemz, std::function<void(TERM::RtpParams&)> fill)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::CreateRtpParams& rtp = Body(m).select_create().select_rtp();
    TERM::RtpParams& p = rtp.get_codecRTP();
    p.get_payload() = TERM::Payload::ptG711_Alaw;
    p.get_dhost().get_iaddr().assign("127.0.0.1");
    p.get_dhost().get_port() = 7000;
    if (lemz)
        p.set_radio().get_status().select_lemz();
    else
        p.set_radio().get_status().select_ed_137();
    rtp.get_txPayload() = TERM::Payload::ptG711_Alaw;
    rtp.get_rxPayload() = TERM::Payload::ptG711_Alaw;
    fill(p);
    return m;
}

LGCP::Message Cmd(unsigned seq, int slot, std::function<void(LGCP::Command&)> fill)
{
    LGCP::Message m = Command(seq, slot);
    fill(Body(m));
    return m;
}

class RadioHostile : public LinkFixture {
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        RtpLEMZFactory::instance();
        RtpED137Factory::instance();
        board.Prune(); // the factories' queries leave closed channels
        mPackets = PacketPool::available();
        mFds = OpenFds();
    }
    void Send(LGCP::Message const& m) { EXPECT_TRUE(client.Send(Encode(m))); }
    void Drain()
    {
        loop.Settle(3);
        Octets payload;
        while (client.Take(payload))
            Decode(payload);
    }
    void ExpectServing(unsigned seq)
    {
        seq += 100000;
        Send(Cmd(seq, -1, [](LGCP::Command& c) { c.select_query(); }));
        bool answered = false;
        loop.RunUntil([&] {
            Octets payload;
            while (!answered && client.Take(payload)) {
                LGCP::Message m = Decode(payload);
                answered = m.seq_isPresent() && m.get_seq().getValue() == seq && !m.slot_isPresent()
                           && m.get_pdu().response_isSelected();
            }
            return answered;
        });
        EXPECT_TRUE(answered);
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
        EXPECT_EQ(OpenFds(), mFds);
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

    std::mt19937 mRng{1206};
    unsigned mPackets = 0;
    size_t mFds = 0;
    Standin::RtpExt& ext = board.Get<Standin::RtpExt>("/dev/rtp_ext");
    Capture out{std::clog};
    Capture err{std::cerr};
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
            auto& r = p.get_radio().get_status().get_ed_137().set_radio_response();
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

} // namespace

namespace {

// A codec change whose new session comes up but whose transmission the
// driver refuses is answered with a failure; the radio signalling stays on
// the live session.
TEST_F(RadioHostile, FailedCodecChangeKeepsTheRadioSignalling)
{
    auto got = Exchange(CreateRadio(1, 4, true, [](TERM::RtpParams&) {}), 3);
    ExpectAnswer(got[0], 1, 4);
    Exchange(CreateE1(2, 1, 2, 5), 3);
    ExpectAnswer(Exchange(Connect(3, 1, {4}))[0], 3, 1);
    Drain();
    board.FailRequest("/dev/rtp", 0x20005204UL, EIO);
    ExpectAnswer(Exchange(Cmd(4, 4, [](LGCP::Command& c) {
                     c.select_ioctl().select_encoder_mode() = LGCP::CodecMode::ulaw;
                 }))[0],
                 4, 4, LGCP::ErrorCause::unsupported);
    board.Prune();
    ASSERT_EQ(ext.Sessions().size(), 1u);
    auto& slot = static_cast<RtpLEMZRadioGWSlot&>(*Slots::instance().Find(4));
    EXPECT_EQ(ext.Sessions()[0]->attach.fd_rtp, slot.session().lowlevel_fd());
    sig_proto p;
    sig_proto_init(&p);
    p.type = GW_FLAG_PTT;
    Standin::Frame packet(8);
    packet.resize(static_cast<size_t>(sig_proto_pack(&p, packet.data(), packet.size())));
    ASSERT_EQ(ext.Receive(packet, in_addr{}, 5), 1u);
    got = Receive(1);
    EXPECT_TRUE(got[0].get_pdu().get_signal().rtpExt_isSelected()) << got[0];
}

} // namespace

namespace {

// Extension sessions the driver hangs up: reported once, then quiet; the
// loop does not spin on them and the slots still answer.
TEST_F(RadioHostile, HungUpExtensionSessionsLeaveTheLoopQuiet)
{
    ExpectAnswer(Exchange(CreateRadio(1, 4, true, [](TERM::RtpParams&) {}), 3)[0], 1, 4);
    ExpectAnswer(Exchange(CreateRadio(1, 5, false, [](TERM::RtpParams&) {}), 3)[0], 1, 5);
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
    for (int s : {4, 5})
        for (auto& m : Commands(7, s))
            Send(m);
    ExpectServing(8);
    ExpectNothingHeld();
}

} // namespace

namespace {

// A PTT type or BSS method past the three bits of its packet field would
// go out as another value: refused at create and in commands.
TEST_F(RadioHostile, Ed137ValuesWiderThanTheirFieldsAreRefused)
{
    ExpectAnswer(Exchange(CreateRadio(1, 4, false, [](TERM::RtpParams& p) {
                     p.get_radio().get_status().get_ed_137().get_header().get_ptt().setFromInt(9);
                 }))[0],
                 1, 4, LGCP::ErrorCause::invalidParams);
    ExpectAnswer(Exchange(CreateRadio(2, 4, false, [](TERM::RtpParams& p) {
                     p.get_radio().get_status().get_ed_137().get_header().get_ptt().setFromInt(7);
                 }), 3)[0],
                 2, 4);
    Drain();
    board.Pump();
    board.Prune();
    ASSERT_EQ(ext.Sessions().size(), 1u);
    ext.Sessions()[0]->written.clear();
    // The third: an address with a NUL in it.
    for (int wide : {0, 1, 2}) {
        ExpectAnswer(Exchange(Cmd(3, 4, [wide](LGCP::Command& c) {
                         auto& e = c.select_ioctl().select_rtpExt().select_ed_137();
                         e.get_addr().set_session_addr(wide == 2 ? std::string("10.0.0.9\0xx", 11) : "10.0.0.9");
                         auto& rx = e.get_params().select_rx();
                         rx.get_header().get_ptt().setFromInt(wide == 1 ? 1 : 8 - wide * 4);
                         rx.set_sqi().get_bss_method().setFromInt(wide == 1 ? 8 : 1);
                     }))[0],
                     3, 4, LGCP::ErrorCause::invalidParams);
    }
    board.Pump();
    EXPECT_TRUE(ext.Sessions()[0]->written.empty());
}

// A LEMZ frequency or quality beyond what the packet's float holds cannot
// be sent: refused at create and in commands, and nothing goes out.
TEST_F(RadioHostile, LemzNumbersBeyondTheirFloatAreRefused)
{
    ExpectAnswer(Exchange(CreateRadio(1, 4, true, [](TERM::RtpParams& p) {
                     p.get_radio().get_status().get_lemz().get_freq().set_frequency("1e39");
                 }))[0],
                 1, 4, LGCP::ErrorCause::invalidParams);
    ExpectAnswer(Exchange(CreateRadio(2, 4, true, [](TERM::RtpParams& p) {
                     p.get_radio().get_status().get_lemz().get_freq().set_frequency("3.4e38");
                 }), 3)[0],
                 2, 4);
    Drain();
    board.Pump();
    board.Prune();
    ASSERT_EQ(ext.Sessions().size(), 1u);
    ext.Sessions()[0]->written.clear();
    std::vector<std::function<void(TERM::LemzRadioModifierParams&)>> commands = {
        [](TERM::LemzRadioModifierParams& p) { p.select_gw_set_freq().get_freq().set_frequency("-1e39"); },
        [](TERM::LemzRadioModifierParams& p) { p.select_wm_chan().get_freq().set_frequency("1e400"); },
        [](TERM::LemzRadioModifierParams& p) { p.select_wm_quality().set_bss_val("1e39"); },
        [](TERM::LemzRadioModifierParams& p) { p.select_wm_chan().get_freq().set_frequency("nan"); },
        [](TERM::LemzRadioModifierParams& p) { p.select_wm_trans().set_ip(std::string("10.0.0.1\0xx", 11)); },
    };
    for (auto& fill : commands)
        ExpectAnswer(Exchange(Cmd(3, 4, [&](LGCP::Command& c) {
                         auto& l = c.select_ioctl().select_rtpExt().select_lemz();
                         l.get_addr().set_session_addr("10.0.0.9");
                         fill(l.get_params());
                     }))[0],
                     3, 4, LGCP::ErrorCause::invalidParams);
    board.Pump();
    EXPECT_TRUE(ext.Sessions()[0]->written.empty());
}

} // namespace

namespace {

// A command whose packet cannot be written applies nothing: the state the
// refreshes send, their clock and the source filter stay as they were, and
// the answer is the daemon's failure, not the controller's.
TEST_F(RadioHostile, UnwrittenCommandsApplyNothing)
{
    ExpectAnswer(Exchange(CreateRadio(1, 4, true, [](TERM::RtpParams&) {}), 3)[0], 1, 4);
    ExpectAnswer(Exchange(CreateRadio(1, 5, false, [](TERM::RtpParams&) {}), 3)[0], 1, 5);
    Drain();
    for (auto* c : board.Channels("/dev/rtp_ext"))
        ::shutdown(c->fd(), SHUT_RDWR);
    auto& lemz = static_cast<RtpLEMZRadioGWSlot&>(*Slots::instance().Find(4)).lemz();
    auto& ed137 = static_cast<RtpED137RadioGWSlot&>(*Slots::instance().Find(5)).ed137();
    lemz.ResetClocks(0);
    ExpectAnswer(Exchange(Cmd(2, 4, [](LGCP::Command& c) {
                     auto& l = c.select_ioctl().select_rtpExt().select_lemz();
                     l.get_addr().set_session_addr("10.0.0.9");
                     auto& trans = l.get_params().select_wm_trans();
                     trans.set_ip("10.0.0.9");
                     trans.get_flags().set_ptt(true);
                 }))[0],
                 2, 4, LGCP::ErrorCause::internal);
    EXPECT_EQ(lemz.announced().ptt, 0);
    EXPECT_EQ(lemz.announced().session_addr, 0u);
    EXPECT_EQ(lemz.clock(RTPSignalling::LemzRadioControl::kFlags), 0u);
    EXPECT_FALSE(lemz.filter_active());
    ExpectAnswer(Exchange(Cmd(3, 5, [](LGCP::Command& c) {
                     auto& e = c.select_ioctl().select_rtpExt().select_ed_137();
                     e.get_addr().set_session_addr("10.0.0.9");
                     e.get_params().select_rx().get_header().get_ptt().setFromInt(1);
                 }))[0],
                 3, 5, LGCP::ErrorCause::internal);
    EXPECT_EQ(ed137.sent().ptt, 0u);
    EXPECT_FALSE(ed137.filter_active());
}

} // namespace
