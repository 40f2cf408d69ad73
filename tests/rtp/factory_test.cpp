// The session set-up: the record the driver is given, the refusals, every
// failing step closing what it opened; RTCP packets as encoded, and as a
// slot sends them judged by tshark.
#include "board/rtp_driver.h"
#include "protocol/lgcp.h"
#include "rtp/rtcp.h"
#include "rtp/rtp_factory.h"
#include "rtp/rtp_slot.h"
#include "standin/board.h"
#include "standin/rtp.h"
#include "samples/link/loop_driver.h"
#include "samples/link/process.h"
#include "tests/rtp/tshark.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Payload = TERM::Payload;
using Bytes = std::vector<unsigned char>;

// The board's ends of closed channels are dropped first.
size_t OpenDescriptors(Standin::Board& board)
{
    board.Prune();
    return test::OpenDescriptors();
}

LGCP::CreateParams Create(Payload::NamedNumber payload, Payload::NamedNumber tx, Payload::NamedNumber rx)
{
    LGCP::CreateParams p;
    LGCP::CreateRtpParams& rtp = p.select_rtp();
    rtp.get_codecRTP().get_payload() = payload;
    rtp.get_codecRTP().get_dhost().get_iaddr().assign("10.1.2.3");
    rtp.get_codecRTP().get_dhost().get_port() = 6000;
    rtp.get_txPayload() = tx;
    rtp.get_rxPayload() = rx;
    return p;
}

class RtpFactoryTest : public ::testing::Test {
protected:
    // Made on this board when it is the first test of the process.
    RtpFactoryTest() { RtpFactory::instance(); }

    // The slot made, and the begin-session record the driver took.
    std::unique_ptr<Slot> Make(LGCP::CreateParams const& p, rtp_connection_params* begun = nullptr)
    {
        rtp.ClearLog();
        std::unique_ptr<Slot> slot(RtpFactory::instance().INewSlot(p));
        if (slot && begun) {
            EXPECT_EQ(rtp.log().at(0).code, 0xC02C5200UL);
            EXPECT_EQ(rtp.log().at(0).record.size(), sizeof *begun);
            std::memcpy(begun, rtp.log().at(0).record.data(), sizeof *begun);
        }
        return slot;
    }

    Standin::Board board;
    Standin::Rtp& rtp = board.Get<Standin::Rtp>("/dev/rtp");
    test::Capture out{std::clog};
    test::Capture err{std::cerr};
};

TEST_F(RtpFactoryTest, BeginSessionRecordCarriesTheCreateParameters)
{
    LGCP::CreateParams p = Create(Payload::ptG711_Alaw, Payload::ptG711_Alaw, Payload::ptG711_Ulaw);
    TERM::RtpParams& params = p.get_rtp().get_codecRTP();
    params.set_shost().get_iaddr().assign("192.168.0.7");
    params.get_shost().get_port() = 5000;
    params.set_pfactor(255); // both at their largest
    params.set_ttl(255);
    params.set_qos_dscp() = TERM::DSCP::ef;
    params.set_vad(true);
    params.set_crate(5);
    params.set_ssrc(0xFEDCBA98u);
    rtp_connection_params r{};
    auto slot = Make(p, &r);
    ASSERT_TRUE(slot);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&r);
    EXPECT_EQ(Standin::Frame(b, b + 4), (Standin::Frame{10, 1, 2, 3}));
    EXPECT_EQ(Standin::Frame(b + 8, b + 12), (Standin::Frame{192, 168, 0, 7}));
    EXPECT_EQ(r.dst_port, 6000);
    EXPECT_EQ(r.src_port, 5000);
    EXPECT_EQ(r.rx_pt, 0);
    EXPECT_EQ(r.tx_pt, 8);
    EXPECT_EQ(r.packet_factor, 255);
    EXPECT_EQ(r.vad, 1);
    EXPECT_EQ(r.crate, 1);
    EXPECT_EQ(r.ssrc, 0xFEDCBA98u);
    EXPECT_EQ(r.ttl, 255u);
    EXPECT_EQ(r.dscp, 184);
    EXPECT_EQ(r.reserved1 | r.reserved2 | r.reserved3[0] | r.reserved3[1], 0u);
    std::ostringstream text;
    text << r;
    EXPECT_EQ(text.str(), "  rtp_connection_params\n  {\n   packet_factor = 255\n   rx_pt = 0\n   tx_pt = 8\n"
                          "   ssrc = 4275878552\n  }\n");
    // Add channel asks for a new channel, without best-signal selection.
    rtp_add_channel add;
    ASSERT_EQ(rtp.log().at(1).code, 0xC0105202UL);
    std::memcpy(&add, rtp.log().at(1).record.data(), sizeof add);
    EXPECT_EQ(add.info.tdm, -1);
    EXPECT_EQ(add.bss, 0u);
    EXPECT_EQ(static_cast<RtpSlot&>(*slot).tdm(), Standin::Rtp::kFirstChannel);

    // No local host, no DSCP: source 0 on the far end's port, DSCP unset.
    params = TERM::RtpParams();
    params.get_payload() = Payload::ptG729;
    params.get_dhost().get_iaddr().assign("10.1.2.3");
    params.get_dhost().get_port() = 6000;
    params.set_vad(false);
    params.set_crate(-1);
    slot = Make(p, &r);
    ASSERT_TRUE(slot);
    EXPECT_EQ(r.src_addr, 0u);
    EXPECT_EQ(r.src_port, 6000);
    EXPECT_EQ(r.dscp, -1);
    EXPECT_EQ(r.ttl, 0u);
    EXPECT_EQ(r.vad, 0);
    EXPECT_EQ(r.crate, 1); // any non-zero crate
}

// Two gateways started alike must not collide on SSRC.
TEST_F(RtpFactoryTest, SsrcWithoutAGivenOneDiffersBetweenRuns)
{
    auto ssrc = [this] {
        rtp_connection_params r{};
        return Make(Create(Payload::ptG711_Alaw, Payload::ptG711_Alaw, Payload::ptG711_Alaw), &r) ? r.ssrc : 0u;
    };
    const uint32_t first = test::InChild(ssrc);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, test::InChild(ssrc));
}

TEST_F(RtpFactoryTest, PayloadCodesAndOverrides)
{
    struct Case {
        Payload::NamedNumber payload, tx, rx;
        uint16_t txPt, rxPt;
    } cases[] = {
        {Payload::ptG711_Alaw, Payload::ptG711_Alaw, Payload::ptG711_Ulaw, 8, 0},
        {Payload::ptG711_Alaw, Payload::ptG729, Payload::ptG729, 8, 8}, // only G.711 overrides
        {Payload::ptG729, Payload::ptG711_Ulaw, Payload::ptG711_Alaw, 0, 8},
        {Payload::ptG723, Payload::ptG723, Payload::ptG723, 4, 4},
        {Payload::ptG711mcc_Alaw, Payload::ptG711mcc_Alaw, Payload::ptG711mcc_Alaw, 136, 136},
        {Payload::ptG711mcc_Ulaw, Payload::ptG711mcc_Ulaw, Payload::ptG711mcc_Ulaw, 128, 128},
        {Payload::ptG728, Payload::ptG728, Payload::ptG728, 15, 15},
    };
    for (const Case& c : cases) {
        rtp_connection_params r{};
        ASSERT_TRUE(Make(Create(c.payload, c.tx, c.rx), &r)) << c.payload;
        EXPECT_EQ(r.tx_pt, c.txPt) << c.payload;
        EXPECT_EQ(r.rx_pt, c.rxPt) << c.payload;
    }
}

// Radio creates are the radio factories'; other kinds are not ours.
TEST_F(RtpFactoryTest, OthersCreatesAreRefused)
{
    size_t opens = board.opens();
    LGCP::CreateParams radio = Create(Payload::ptG711_Alaw, Payload::ptG711_Alaw, Payload::ptG711_Alaw);
    radio.get_rtp().get_codecRTP().set_radio();
    EXPECT_FALSE(Make(radio));
    LGCP::CreateParams map;
    map.select_map().set_channel(1);
    EXPECT_FALSE(Make(map));
    EXPECT_EQ(board.opens(), opens);
}

TEST_F(RtpFactoryTest, EveryFailingStepClosesWhatItOpened)
{
    LGCP::CreateParams p = Create(Payload::ptG711_Alaw, Payload::ptG711_Alaw, Payload::ptG711_Alaw);
    // The tone and DSP services open their devices with the first slot.
    Make(p).reset();
    int blocker = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(6001);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    size_t fds = OpenDescriptors(board);
    {
        test::Capture log(std::clog);
        EXPECT_FALSE(Make(p));
        EXPECT_NE(log.text().find("rtp do not created: can not bind socket [errno="), std::string::npos);
        EXPECT_NE(log.text().find(", port=6001]"), std::string::npos);
    }
    EXPECT_EQ(OpenDescriptors(board), fds);
    ::close(blocker);
    fds = OpenDescriptors(board);

    board.FailOpen("/dev/rtp", ENODEV);
    EXPECT_FALSE(Make(p));
    board.FailRequest("/dev/rtp", 0xC02C5200UL, EINVAL);
    EXPECT_FALSE(Make(p));
    board.FailRequest("/dev/rtp", 0xC0105202UL, ENOSPC);
    EXPECT_FALSE(Make(p));
    EXPECT_EQ(OpenDescriptors(board), fds);
    EXPECT_TRUE(board.Channels("/dev/rtp").empty());
    std::string text = err.text();
    EXPECT_NE(text.find("device \"/dev/rtp\" open fail: No such device"), std::string::npos) << text;
    EXPECT_NE(text.find("begin session fail !!! "), std::string::npos);
    EXPECT_NE(text.find("add channel fail !!!"), std::string::npos);

    // And a slot made then destroyed leaves nothing open either.
    Make(p).reset();
    EXPECT_EQ(OpenDescriptors(board), fds);
}

TEST_F(RtpFactoryTest, CodecQueryCountsAndItsFailures)
{
    auto& voice = board.Get<Standin::Voice>("/dev/voice");
    voice.SetChannels(4, 3);
    voice.SetChannels(2, 5);
    voice.SetChannels(1, 7);
    voice.SetChannels(8, 0);
    voice.SetChannels(0x41, 11);
    LGCP::Resources resources;
    RtpFactory& f = RtpFactory::instance();
    size_t asked = voice.masks().size();
    f.Query(resources);
    EXPECT_EQ(std::vector<uint32_t>(voice.masks().begin() + static_cast<long>(asked), voice.masks().end()),
              (std::vector<uint32_t>{4, 2, 1, 8, 0x41}));
    EXPECT_EQ(resources.get_rtp_g729().getValue(), 3);
    EXPECT_EQ(resources.get_rtp_g723().getValue(), 5);
    EXPECT_EQ(resources.get_rtp_g711().getValue(), 7);
    EXPECT_EQ(resources.get_rtp_g711mcc().getValue(), 0);
    EXPECT_EQ(resources.get_universal().getValue(), 11);

    // A failed request counts nothing; a failed open says so.
    board.FailRequest("/dev/voice", 0x40045602UL, EIO, 5);
    size_t said = err.text().size();
    f.Query(resources);
    EXPECT_EQ(f.universal(), 0u);
    EXPECT_EQ(f.g729(), 0u);
    EXPECT_EQ(err.text().size(), said);
    f.Query(resources);
    board.FailOpen("/dev/voice", EACCES);
    f.Query(resources);
    EXPECT_EQ(f.g711(), 0u);
    EXPECT_NE(err.text().find("device \"/dev/voice\" open fail: Permission denied"), std::string::npos);
}

// A number past the driver library's tables reads as "invalid" or the
// unlisted form, in one reused buffer.
TEST(RtpDriver, CodecNamesAndErrorTexts)
{
    EXPECT_STREQ(GetCodecAsStr(8), "conf");
    EXPECT_STREQ(GetCodecAsStr(9), "invalid");
    EXPECT_STREQ(GetCodecAsStr(-1), "invalid");
    EXPECT_STREQ(RTPStrError(0), "No error");
    EXPECT_STREQ(RTPStrError(0x300010C), "Invalid port specified");
    const char* unknown = RTPStrError(0x300010D);
    EXPECT_STREQ(unknown, "Unknown RTP Error 50331917");
    EXPECT_EQ(RTPStrError(-5), unknown);
    EXPECT_STREQ(unknown, "Unknown RTP Error -5");

    errno = ENOENT;
    RtpErr e(0x3000105);
    errno = 0;
    EXPECT_EQ(e.code(), 0x3000105);
    std::ostringstream text;
    text << e;
    EXPECT_EQ(text.str(), "No such file or directory");
}

using Rtcp = RtpFactoryTest;

Bytes Encode(RTPC::Msg const& msg, unsigned size = 1024)
{
    std::vector<char> buf(size + 16, '\x55');
    unsigned n = msg.encode(buf.data(), size);
    EXPECT_LE(n, size);
    EXPECT_EQ(std::count(buf.begin() + n, buf.end(), '\x55'), static_cast<long>(buf.size() - n)) << "written past";
    return Bytes(buf.begin(), buf.begin() + n);
}

Bytes Of(std::string const& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes Cat(std::vector<Bytes> const& parts)
{
    Bytes out;
    for (auto const& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(Rtcp, PacketsAreWholeWordsAndNeverOverrun)
{
    RTPC::BYE bye(1, "session end");
    EXPECT_EQ(Encode(bye), Cat({{0x81, 0xCB, 0x00, 0x04, 0, 0, 0, 1, 0x0B}, Of("session end")}));
    EXPECT_TRUE(Encode(bye, 7).empty());
    // Cut to what fits: a length octet and 7 text octets.
    EXPECT_EQ(Encode(bye, 16), Cat({{0x81, 0xCB, 0x00, 0x03, 0, 0, 0, 1, 7}, Of("session")}));
    EXPECT_EQ(Encode(RTPC::BYE(0x01020304, "")), (Bytes{0x81, 0xCB, 0x00, 0x01, 1, 2, 3, 4}));

    // No items: the chunk still ends with its zero octet.
    RTPC::SDES empty(0xDEADBEEF);
    EXPECT_EQ(Encode(empty), (Bytes{0x81, 0xCA, 0x00, 0x02, 0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 0}));
    EXPECT_TRUE(Encode(empty, 8).empty());

    RTPC::SDES sdes(7);
    sdes.add(RTPC::SDES::Item::CNAME, "Murvane Solvatrix");
    sdes.add(RTPC::SDES::Item::PHONE, std::string(300, 'p'));
    Bytes all = Encode(sdes);
    ASSERT_EQ(all.size(), 8u + 19 + 257 + 4);
    EXPECT_EQ(Bytes(all.begin(), all.begin() + 27), Cat({{0x81, 0xCA, 0x00, 71, 0, 0, 0, 7, 1, 17}, Of("Murvane Solvatrix")}));
    EXPECT_EQ(all[27], 4);
    EXPECT_EQ(all[28], 255);
    EXPECT_EQ(Bytes(all.end() - 5, all.end()), (Bytes{'p', 0, 0, 0, 0}));
    // Room for the CNAME and its end octet to the last octet: the PHONE item
    // is left out, not cut.
    Bytes first = Encode(sdes, 28);
    EXPECT_EQ(first.size(), 28u);
    EXPECT_EQ(first[3], 6);
    EXPECT_EQ(Bytes(first.end() - 1, first.end()), Bytes{0});
    // An item that fills the room to the last octet leaves none for the end.
    RTPC::SDES full(7);
    full.add(RTPC::SDES::Item::CNAME, std::string(18, 'c'));
    EXPECT_EQ(Encode(full, 28).size(), 12u);
    EXPECT_EQ(Encode(full, 32).size(), 32u);
}

// A slot on RTP ports 5000 and 6000 reports from 5001 to 6001: the SDES
// when it starts, the BYE when it goes; tshark finds both valid.
TEST_F(Rtcp, SlotAnnouncesAndLeavesOnTheRtcpPorts)
{
    int peer = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(peer, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(6001);
    ASSERT_EQ(::bind(peer, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);

    std::vector<Bytes> got;
    auto receive = [&] {
        Bytes b(2048);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        pollfd p{peer, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 3000), 1) << "no RTCP packet within 3 s";
        ssize_t n = ::recvfrom(peer, b.data(), b.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
        ASSERT_GT(n, 0);
        EXPECT_EQ(ntohs(from.sin_port), 5001);
        b.resize(static_cast<size_t>(n));
        got.push_back(b);
    };
    LGCP::CreateParams p = Create(Payload::ptG711_Alaw, Payload::ptG711_Alaw, Payload::ptG711_Alaw);
    TERM::RtpParams& params = p.get_rtp().get_codecRTP();
    params.get_dhost().get_iaddr().assign("127.0.0.1");
    params.set_shost().get_iaddr().assign("127.0.0.1");
    params.get_shost().get_port() = 5000;
    params.set_ssrc(0x11223344u);
    std::unique_ptr<Slot> slot = Make(p);
    ASSERT_TRUE(slot);
    slot->IAfterCreate();
    receive();
    slot.reset();
    receive();
    ::close(peer);

    auto lines = rtptest::Dissect(got, "rtcp", "-e rtcp.pt -e rtcp.length_check -e rtcp.sdes.type -e rtcp.sdes.text "
                              "-e rtcp.ssrc.identifier -e _ws.malformed -e _ws.expert.severity");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "202\t1\t1,3,4,0\tMurvane Solvatrix,support@murvane-solvatrix.example,+00 000 000 0000"
                        "\t0x11223344\t\t");
    EXPECT_EQ(lines[1], "203\t1\t\tsession end\t0x11223344\t\t");
}

} // namespace
