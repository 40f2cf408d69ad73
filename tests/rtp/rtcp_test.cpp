// RTCP packets as encoded, and as a slot sends them judged by tshark.
#include "protocol/lgcp.h"
#include "rtp/rtcp.h"
#include "rtp/rtp_factory.h"
#include "standin/board.h"
#include "tests/rtp/tshark.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

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

TEST(Rtcp, PacketsAreWholeWordsAndNeverOverrun)
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
    // Room for the CNAME only: the PHONE item is left out, not cut.
    Bytes first = Encode(sdes, 40);
    EXPECT_EQ(first.size(), 28u);
    EXPECT_EQ(first[3], 6);
    EXPECT_EQ(Bytes(first.end() - 1, first.end()), Bytes{0});
    // An item that fills the room to the last octet leaves none for the end.
    RTPC::SDES full(7);
    full.add(RTPC::SDES::Item::CNAME, std::string(18, 'c'));
    EXPECT_EQ(Encode(full, 28).size(), 12u);
    EXPECT_EQ(Encode(full, 32).size(), 32u);
}

LGCP::CreateParams Create(int local, int remote)
{
    LGCP::CreateParams p;
    LGCP::CreateRtpParams& rtp = p.select_rtp();
    rtp.get_codecRTP().get_payload() = TERM::Payload::ptG711_Alaw;
    rtp.get_codecRTP().get_dhost().get_iaddr().assign("127.0.0.1");
    rtp.get_codecRTP().get_dhost().get_port() = remote;
    rtp.get_codecRTP().set_shost().get_iaddr().assign("127.0.0.1");
    rtp.get_codecRTP().get_shost().get_port() = local;
    rtp.get_codecRTP().set_ssrc(0x11223344u);
    rtp.get_txPayload() = TERM::Payload::ptG711_Alaw;
    rtp.get_rxPayload() = TERM::Payload::ptG711_Alaw;
    return p;
}

// A slot on RTP ports 5000 and 6000 reports from 5001 to 6001: the SDES
// when it starts, the BYE when it goes; tshark finds both valid.
TEST(Rtcp, SlotAnnouncesAndLeavesOnTheRtcpPorts)
{
    Standin::Board board;
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
    std::unique_ptr<Slot> slot(RtpFactory::instance().INewSlot(Create(5000, 6000)));
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
