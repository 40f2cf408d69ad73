// RTP slots through the controller link: create, connect, events, codec
// changes and tear-down, on the simulated RTP driver.
#include "protocol/lgcp.h"
#include "rtp/rtp_factory.h"
#include "rtp/rtp_slot.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"
#include "standin/rtp.h"
#include "samples/link/process.h"
#include "tests/core/link_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

using namespace test;
using Payload = TERM::Payload;
using Cause = LGCP::ErrorCause;

constexpr int kTdm = Standin::Rtp::kFirstChannel;
constexpr int kE1 = 8192 + 128 + 5; // trunk 2, time slot 5

LGCP::Message CreateRtp(unsigned seq, int slot, Payload::NamedNumber payload, Payload::NamedNumber tx)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::CreateRtpParams& rtp = Body(m).select_create().select_rtp();
    rtp.get_codecRTP().get_payload() = payload;
    rtp.get_codecRTP().get_dhost().get_iaddr().assign("127.0.0.1");
    rtp.get_codecRTP().get_dhost().get_port() = 7000;
    rtp.get_txPayload() = tx;
    rtp.get_rxPayload() = payload;
    return m;
}

template <class F>
LGCP::Message Ioctl(unsigned seq, int slot, F select)
{
    LGCP::Message m = Command(seq, slot);
    select(Body(m).select_ioctl());
    return m;
}

LGCP::Message Destroy(unsigned seq, int slot)
{
    LGCP::Message m = Command(seq, slot);
    Body(m).select_destroy();
    return m;
}

class RtpSlotTest : public LinkFixture {
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        RtpFactory::instance();
    }
    // An RTP slot made through the link, with its two stream signals.
    void Make(int slot, Payload::NamedNumber payload = Payload::ptG711_Alaw, Payload::NamedNumber tx = Payload::ptG711_Alaw)
    {
        auto got = Exchange(CreateRtp(1, slot, payload, tx), 3);
        ExpectAnswer(got[0], 1, slot);
        ExpectStream(got[1], slot, true, true, kTdm);
        ExpectStream(got[2], slot, false, true, kTdm);
    }
    void ExpectPd(uint32_t value, int timeout)
    {
        auto got = Receive(1);
        ASSERT_TRUE(got[0].get_pdu().signal_isSelected()) << got[0];
        ASSERT_TRUE(got[0].get_pdu().get_signal().rtp_isSelected()) << got[0];
        const LGCP::RtpPDEvent& pd = got[0].get_pdu().get_signal().get_rtp().get_pd();
        EXPECT_EQ(static_cast<uint32_t>(pd.get_value().getValue()), value);
        EXPECT_EQ(pd.get_timeout().getValue(), timeout);
    }
    std::vector<unsigned long> CodesSince(size_t from) const
    {
        auto codes = rtp.codes();
        return std::vector<unsigned long>(codes.begin() + static_cast<long>(from), codes.end());
    }

    Standin::Rtp& rtp = board.Get<Standin::Rtp>("/dev/rtp");
    Capture out{std::clog};
    Capture err{std::cerr};
};

// Created, connected both ways to an E1 time slot, reporting the packet
// detector, then destroyed: the driver sees the tear-down in its order.
TEST_F(RtpSlotTest, CreateConnectReportAndDestroyEndToEnd)
{
    Make(5);
    auto e1 = Exchange(CreateE1(2, 1, 2, 5), 3);
    ExpectAnswer(e1[0], 2, 1);
    ExpectAnswer(Exchange(Connect(3, 1, {5}))[0], 3, 1);
    ExpectAnswer(Exchange(Connect(4, 5, {1}))[0], 4, 5);
    EXPECT_EQ(sw.Source(kTdm), kE1);
    EXPECT_EQ(sw.Source(kE1), kTdm);
    ASSERT_NE(rtp.At(kTdm), nullptr);
    EXPECT_TRUE(rtp.At(kTdm)->transmitting);

    auto pd = Ioctl(5, 5, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(250); });
    ExpectAnswer(Exchange(pd)[0], 5, 5);
    EXPECT_TRUE(rtp.At(kTdm)->pd);
    EXPECT_EQ(out.count("rtp[9216]: RTP SET EVENT PD timeout=250\n"), 1u) << out.text();
    EXPECT_EQ(rtp.At(kTdm)->pdTimeout, 250u);

    // Another type and a short record give nothing; the detector a signal.
    ASSERT_TRUE(rtp.Raise(kTdm, rtp_event{2, 1, 1, {}}));
    const unsigned char shortRecord[8] = {1, 0, 0, 0, 99, 0, 0, 0};
    ASSERT_TRUE(rtp.Raise(kTdm, shortRecord, sizeof shortRecord));
    ASSERT_TRUE(rtp.Raise(kTdm, rtp_event{1, 0x80000001u, 250, {}}));
    ExpectPd(0x80000001u, 250);
    ExpectQuiet();
    EXPECT_NE(err.text().find("rtp[9216]: rtp event of 8 octets dropped"), std::string::npos);
    EXPECT_EQ(out.count("rtp[9216]: rtp event:  type=2\n"), 1u) << out.text();

    size_t before = rtp.codes().size();
    ExpectAnswer(Exchange(Destroy(6, 5))[0], 6, 5);
    EXPECT_EQ(CodesSince(before), (std::vector<unsigned long>{0x20005205UL, 0x2000520AUL, 0x20005203UL,
                                                               0x2000520BUL, 0x8004520DUL}));
    EXPECT_EQ(rtp.At(kTdm), nullptr);
    EXPECT_EQ(sw.At(kTdm).mode, Standin::Switch::Mode::Disabled);
    EXPECT_TRUE(sw.IsIdle(kE1));
    ExpectAnswer(Exchange(Destroy(7, 1))[0], 7, 1);
    ExpectQuiet();
}

TEST_F(RtpSlotTest, CodecChangeRestartsTheSessionWithWhatRan)
{
    // G.729 received, A-law sent.
    Make(5, Payload::ptG729, Payload::ptG711_Alaw);
    Exchange(CreateE1(2, 1, 2, 5), 3);
    ExpectAnswer(Exchange(Connect(3, 1, {5}))[0], 3, 1);
    ExpectAnswer(Exchange(Ioctl(4, 5, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(40); }))[0], 4, 5);

    // The codec in use: nothing touched.
    size_t before = rtp.codes().size();
    size_t opens = board.opens();
    auto same = Ioctl(5, 5, [](LGCP::IoctlParams& p) { p.select_decoder_mode() = LGCP::CodecMode::lbrc; });
    ExpectAnswer(Exchange(same)[0], 5, 5);
    EXPECT_EQ(rtp.codes().size(), before);
    EXPECT_EQ(board.opens(), opens);
    EXPECT_EQ(out.count("(change tx payload):"), 1u) << out.text();
    EXPECT_EQ(out.count(" - Nothing to do\n"), 1u) << out.text();

    // lbrc sends what the session was made for; transmission and the
    // detector run again on the fresh session, which is the one watched.
    auto lbrc = Ioctl(6, 5, [](LGCP::IoctlParams& p) { p.select_encoder_mode() = LGCP::CodecMode::lbrc; });
    ExpectAnswer(Exchange(lbrc)[0], 6, 5);
    EXPECT_EQ(CodesSince(before), (std::vector<unsigned long>{0xC02C5200UL, 0xC0105202UL, 0x20005204UL,
                                                               0xC024520CUL}));
    rtp_connection_params begun;
    std::memcpy(&begun, rtp.log()[before].record.data(), sizeof begun);
    EXPECT_EQ(begun.tx_pt, 18);
    EXPECT_EQ(begun.rx_pt, 18);
    rtp_add_channel add;
    std::memcpy(&add, rtp.log()[before + 1].record.data(), sizeof add);
    EXPECT_EQ(add.info.tdm, kTdm);
    EXPECT_EQ(board.Channels("/dev/rtp").size(), 1u);
    const Standin::Rtp::Session* s = rtp.At(kTdm);
    ASSERT_NE(s, nullptr);
    EXPECT_GT(s->open, 1);
    EXPECT_TRUE(s->transmitting);
    EXPECT_EQ(s->pdTimeout, 40u);
    ASSERT_TRUE(rtp.Raise(kTdm, rtp_event{1, 7, 40, {}}));
    ExpectPd(7, 40);
    EXPECT_EQ(out.count(" - OK\n"), 1u) << out.text();
    // A detector switched off stays off through the restarts below.
    ExpectAnswer(Exchange(Ioctl(70, 5, [](LGCP::IoctlParams& p) { p.select_pd_disable(); }))[0], 70, 5);

    // A restart that fails leaves no session and says so; the same request
    // again restarts (no "Nothing to do" on a slot without a session).
    board.FailRequest("/dev/rtp", 0xC02C5200UL, EIO);
    auto alaw = Ioctl(7, 5, [](LGCP::IoctlParams& p) { p.select_decoder_mode() = LGCP::CodecMode::alaw; });
    ExpectAnswer(Exchange(alaw)[0], 7, 5, Cause::insufficientResources);
    EXPECT_NE(err.text().find("rtp[9216]: fail to restart RTP session!"), std::string::npos);
    EXPECT_TRUE(board.Channels("/dev/rtp").empty());
    before = rtp.codes().size();
    alaw.set_seq(8);
    ExpectAnswer(Exchange(alaw)[0], 8, 5);
    ASSERT_GT(rtp.codes().size(), before);
    EXPECT_EQ(rtp.codes()[before], 0xC02C5200UL);
    std::memcpy(&begun, rtp.log()[before].record.data(), sizeof begun);
    EXPECT_EQ(begun.rx_pt, 8);
    EXPECT_EQ(board.Channels("/dev/rtp").size(), 1u);
    EXPECT_EQ(rtp.At(kTdm)->pdTimeout, 0u);
    ExpectAnswer(Exchange(Destroy(9, 5))[0], 9, 5);
}

// What the controller got wrong is no missing resource: it must not retry.
// Each is refused with one line before anything is opened.
TEST_F(RtpSlotTest, BadCreateParametersAreInvalidParams)
{
    struct Case {
        void (*change)(TERM::RtpParams&);
        const char* line; // after "rtp do not created: "
    } const cases[] = {
        {[](TERM::RtpParams& p) { p.get_dhost().get_port() = 0; }, "dhost port 0 out of range"},
        {[](TERM::RtpParams& p) { p.get_dhost().get_port() = 65535; }, "dhost port 65535 out of range"},
        {[](TERM::RtpParams& p) { p.get_dhost().get_iaddr().assign("10.1.2"); },
         "dhost address \"10.1.2\" is not a dotted IPv4 address"},
        {[](TERM::RtpParams& p) { p.get_dhost().get_iaddr().assign("gw.example"); },
         "dhost address \"gw.example\" is not a dotted IPv4 address"},
        {[](TERM::RtpParams& p) { p.get_payload() = Payload::ptT38_UDP_TL; }, "payload ptT38-UDP-TLnot found"},
        {[](TERM::RtpParams& p) { p.get_payload() = Payload::ptR2S; }, "payload ptR2Snot found"},
        {[](TERM::RtpParams& p) {
             p.set_shost().get_iaddr().assign("10.0.0.1");
             p.get_shost().get_port() = 65535;
         },
         "shost port 65535 out of range"},
        {[](TERM::RtpParams& p) {
             p.set_shost().get_iaddr().assign("10.0.0.256");
             p.get_shost().get_port() = 5000;
         },
         "shost address \"10.0.0.256\" is not a dotted IPv4 address"},
    };
    board.Prune();
    const size_t opens = board.opens(), fds = OpenDescriptors();
    unsigned seq = 1;
    for (const Case& c : cases) {
        LGCP::Message m = CreateRtp(seq, 5, Payload::ptG711_Alaw, Payload::ptG711_Alaw);
        c.change(Body(m).get_create().get_rtp().get_codecRTP());
        ExpectAnswer(Exchange(m)[0], seq, 5, Cause::invalidParams);
        const std::string log = out.take();
        EXPECT_NE(log.find(std::string("rtp do not created: ") + c.line + "\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("rtp do not created"), log.rfind("rtp do not created")) << log;
        ++seq;
    }
    EXPECT_TRUE(rtp.codes().empty());
    board.Prune();
    EXPECT_EQ(board.opens(), opens);
    EXPECT_EQ(OpenDescriptors(), fds);
    ExpectQuiet();
}

// A controller's text stays on its own log line, and a NUL does not cut an
// address short.
TEST_F(RtpSlotTest, ControllerTextsAreLoggedEscaped)
{
    const struct {
        std::string iaddr, logged;
    } cases[] = {
        {"1.2.3\nslots: forged line\n", "\"1.2.3\\nslots: forged line\\n\""},
        {std::string("127.0.0.1\0xx", 12), "\"127.0.0.1\\x00xx\""},
        {"10.0.0.1\r\t\"\\", "\"10.0.0.1\\r\\t\\\"\\\\\""},
        {"1.2\xe2\x80\xa8\xc2\x85\x9b", "\"1.2\\xe2\\x80\\xa8\\xc2\\x85\\x9b\""},
    };
    unsigned seq = 1;
    for (const auto& c : cases) {
        LGCP::Message m = CreateRtp(seq, 5, Payload::ptG711_Alaw, Payload::ptG711_Alaw);
        Body(m).get_create().get_rtp().get_codecRTP().get_dhost().get_iaddr().assign(c.iaddr);
        ExpectAnswer(Exchange(m)[0], seq++, 5, Cause::invalidParams);
        const std::string log = out.take();
        EXPECT_NE(log.find("dhost address " + c.logged + " is not a dotted IPv4 address\n"), std::string::npos) << log;
        EXPECT_EQ(log.find('\0'), std::string::npos);
        EXPECT_EQ(log.find("\nslots: forged"), std::string::npos) << log;
    }
    EXPECT_TRUE(rtp.codes().empty());
}

// A create the core refuses for a switch channel another slot holds tells
// the far end nothing and ends its driver session; the holder keeps its
// channel. Taken, the slot announces itself on the far end's RTCP port.
TEST_F(RtpSlotTest, RefusedCreateSendsNothingAndEndsItsSession)
{
    // The far end's RTCP port and ours, both free ones.
    auto bound = [](int fd) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof at;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) < 0
            || ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len) < 0)
            return 0;
        return static_cast<int>(ntohs(at.sin_port));
    };
    int peer = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int spare = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int far = bound(peer), ours = bound(spare);
    ::close(spare);
    ASSERT_GT(far, 1);
    ASSERT_GT(ours, 1);
    char buf[1500];
    auto packets = [&] {
        int n = 0;
        while (::recv(peer, buf, sizeof buf, 0) > 0)
            ++n;
        return n;
    };
    auto create = [&](unsigned seq) {
        LGCP::Message m = CreateRtp(seq, 5, Payload::ptG711_Alaw, Payload::ptG711_Alaw);
        TERM::RtpParams& rtp = Body(m).get_create().get_rtp().get_codecRTP();
        rtp.get_dhost().get_port() = far - 1;
        rtp.set_shost().get_iaddr().assign("127.0.0.1");
        rtp.get_shost().get_port() = ours - 1;
        return m;
    };
    Exchange(CreateMap(1, 2, kTdm - 8192), 3);
    size_t before = rtp.codes().size();
    ExpectAnswer(Exchange(create(2))[0], 2, 5, Cause::insufficientResources);
    EXPECT_EQ(packets(), 0);
    EXPECT_EQ(CodesSince(before), (std::vector<unsigned long>{0xC02C5200UL, 0xC0105202UL, 0x2000520AUL,
                                                               0x20005203UL, 0x2000520BUL, 0x8004520DUL}));
    EXPECT_TRUE(board.Channels("/dev/rtp").empty());
    EXPECT_NE(sw.At(kTdm).mode, Standin::Switch::Mode::Disabled);

    ExpectAnswer(Exchange(Destroy(3, 2))[0], 3, 2);
    ExpectAnswer(Exchange(create(4), 3)[0], 4, 5);
    EXPECT_EQ(packets(), 1);
    ::close(peer);
}

// A change whose new session comes up without transmission is not done:
// the same request again restarts. A stop the driver refuses still ends
// what the slot asked for: a later change does not transmit again.
TEST_F(RtpSlotTest, FailedChangesAndRefusedStopsLeaveNoFalseState)
{
    Make(5);
    Exchange(CreateE1(2, 1, 2, 5), 3);
    ExpectAnswer(Exchange(Connect(3, 1, {5}))[0], 3, 1);
    board.FailRequest("/dev/rtp", 0x20005204UL, EIO);
    auto ulaw = Ioctl(4, 5, [](LGCP::IoctlParams& p) { p.select_encoder_mode() = LGCP::CodecMode::ulaw; });
    ExpectAnswer(Exchange(ulaw)[0], 4, 5, Cause::unsupported);
    size_t before = rtp.codes().size();
    ulaw.set_seq(5);
    ExpectAnswer(Exchange(ulaw)[0], 5, 5);
    EXPECT_EQ(CodesSince(before), (std::vector<unsigned long>{0xC02C5200UL, 0xC0105202UL, 0x20005204UL}));
    EXPECT_TRUE(rtp.At(kTdm)->transmitting);
    ulaw.set_seq(6);
    ExpectAnswer(Exchange(ulaw)[0], 6, 5);
    EXPECT_EQ(rtp.codes().size(), before + 3);

    board.FailRequest("/dev/rtp", 0x20005205UL, EIO);
    LGCP::Message disconnect = Command(7, 5);
    Body(disconnect).select_disconnect();
    ExpectAnswer(Exchange(disconnect)[0], 7, 5);
    EXPECT_FALSE(static_cast<RtpSlot*>(Slots::instance().Find(5))->transmitting());
    before = rtp.codes().size();
    auto alaw = Ioctl(8, 5, [](LGCP::IoctlParams& p) { p.select_encoder_mode() = LGCP::CodecMode::alaw; });
    ExpectAnswer(Exchange(alaw)[0], 8, 5);
    EXPECT_EQ(CodesSince(before), (std::vector<unsigned long>{0xC02C5200UL, 0xC0105202UL}));
}

TEST_F(RtpSlotTest, ControlsReachTheChannelAndFailuresAreReported)
{
    Make(5);
    // A session the driver hangs up is no longer watched: said once, not on every pass.
    ASSERT_TRUE(rtp.Hangup(kTdm));
    loop.Settle();
    std::string said = err.text();
    EXPECT_EQ(said.find("closed by the driver"), said.rfind("closed by the driver"));
    EXPECT_NE(said.find("rtp[9216]: rtp session closed by the driver"), std::string::npos);
    ExpectAnswer(Exchange(Destroy(1, 5))[0], 1, 5);
    Make(5);
    auto& dtmf = board.Get<Standin::Dtmf>(Tonec::kDevice);
    auto& dsp = board.Get<Standin::Dsproc>(Dsp::kDevice);
    ExpectAnswer(Exchange(Ioctl(2, 5, [](LGCP::IoctlParams& p) { p.select_dtmf_enable() = true; }))[0], 2, 5);
    ExpectAnswer(Exchange(Ioctl(3, 5, [](LGCP::IoctlParams& p) { p.select_vad_enable() = true; }))[0], 3, 5);
    ExpectAnswer(Exchange(Ioctl(4, 5, [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-3); }))[0], 4, 5);
    EXPECT_TRUE(dtmf.At(kTdm).detect);
    EXPECT_TRUE(dsp.At(kTdm).vad);
    EXPECT_EQ(dsp.At(kTdm).rxGain, -3);
    // The gain travels as a signed octet, the detector timeout unsigned:
    // beyond them is refused and reaches no driver.
    ExpectAnswer(Exchange(Ioctl(4, 5, [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(127); }))[0], 4, 5);
    ExpectAnswer(Exchange(Ioctl(4, 5, [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(128); }))[0], 4, 5,
                 Cause::invalidParams);
    EXPECT_EQ(dsp.At(kTdm).rxGain, 127);
    size_t logged = rtp.log().size();
    ExpectAnswer(Exchange(Ioctl(4, 5, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(-1); }))[0], 4, 5,
                 Cause::invalidParams);
    EXPECT_EQ(rtp.log().size(), logged);
    EXPECT_FALSE(rtp.At(kTdm)->pd);
    ExpectAnswer(Exchange(Ioctl(5, 5, [](LGCP::IoctlParams& p) { p.select_ss7RqBSN(); }))[0], 5, 5, Cause::unsupported);

    board.FailRequest("/dev/rtp", 0x8004520DUL, EIO);
    ExpectAnswer(Exchange(Ioctl(6, 5, [](LGCP::IoctlParams& p) { p.select_pd_disable(); }))[0], 6, 5,
                 Cause::unsupported);
    EXPECT_NE(err.text().find("rtp[9216]: RTP RESET EVENT PD fail: errno=\"Input/output error\""), std::string::npos);

    // Transmission that does not start is no input stream.
    Exchange(CreateE1(7, 1, 2, 5), 3);
    board.FailRequest("/dev/rtp", 0x20005204UL, EIO);
    auto refused = Exchange(Connect(8, 1, {5}))[0];
    ASSERT_TRUE(refused.get_pdu().get_response().error_isSelected()) << refused;
    EXPECT_FALSE(rtp.At(kTdm)->transmitting);
    EXPECT_FALSE(static_cast<RtpSlot*>(Slots::instance().Find(5))->transmitting());
}

} // namespace
