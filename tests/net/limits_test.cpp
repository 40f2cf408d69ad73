// The ends of what the link layers take: TPKT versions and lengths, the
// socket a service reports, the octets a stream layer counts, and a copy
// that cannot start.
#include "net/async.h"
#include "net/strm.h"
#include "net/tpkt.h"

#include "served.h"
#include "tpkt_rig.h"

#include <gtest/gtest.h>

using namespace nettest;

namespace {

std::string text_of(Protocol_status const& s)
{
    std::ostringstream os;
    os << s;
    return os.str();
}

} // namespace

// Version 3 only; a length counts the four header octets, so 4 is an empty
// frame and 65535 the largest.
TEST(TpktLimits, VersionThreeOnlyAndLengthsFromFourTo65535)
{
    for (unsigned char version : {2, 4}) {
        TpktRig r;
        r.feed(Bytes{version, 0, 0, 5, 0x11});
        EXPECT_TRUE(r.frames.empty());
        EXPECT_EQ(text_of(r.status), "TPKT: bad frame version " + std::to_string(version));
    }
    TpktRig r;
    Bytes largest = pattern(65531, 3);
    Bytes framed = frame(largest);
    ASSERT_EQ(Bytes(framed.begin(), framed.begin() + 4), (Bytes{3, 0, 0xFF, 0xFF}));
    r.feed(Bytes{3, 0, 0, 4, 3, 0});
    r.feed(Bytes(framed.begin() + 2, framed.end()));
    r.feed(Bytes{3, 0, 0, 5, 0x22});
    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_TRUE(r.frames[0].empty());
    EXPECT_TRUE(r.frames[1] == largest) << r.frames[1].size();
    EXPECT_EQ(r.frames[2], Bytes{0x22});
    EXPECT_FALSE(r.down);
    EXPECT_EQ(r.tpkt->frames_in(), 3u);
}

// The peer's socket while one is served, -1 before and after; the stream
// layer counts the octets that really left and came.
TEST(ControlLimits, SocketOfThePeerAndOctetsCounted)
{
    Served s;
    EXPECT_EQ(s.service.lowlevel_fd(), -1);
    Fd c = connect_local(s.port);
    ASSERT_TRUE(run_until([&] { return s.rec.connects == 1; }));
    EXPECT_GE(s.service.lowlevel_fd(), 0);
    c.close();
    ASSERT_TRUE(run_until([&] { return s.rec.disconnects == 1; }));
    EXPECT_EQ(s.service.lowlevel_fd(), -1);

    Fd peer;
    ProtocolsList stack;
    StrmProtocol* strm = strm_on_pair(stack, peer);
    EXPECT_EQ(strm->bytes_out(), 0u);
    Packet p = packet(Bytes{1, 2, 3, 4, 5});
    strm->message(p);
    ASSERT_TRUE(run_until([&] { return strm->bytes_out() == 5; }));
    EXPECT_EQ(read_n(peer, 5), (Bytes{1, 2, 3, 4, 5}));
    ASSERT_TRUE(write_all(peer, Bytes{9, 8}));
    EXPECT_TRUE(run_until([&] { return strm->bytes_in() == 2; }));
    EXPECT_EQ(strm->bytes_out(), 5u);
}

// A copy without a source fails from the loop, as one without a
// destination does.
TEST(CopyLimits, NoSourceFailsOnTheNextPass)
{
    struct User
    {
        void OnCopy(ASync::Copy::Status::Type s) { statuses.push_back(s); }
        std::vector<int> statuses;
    } u;
    ASync::Copy copy;
    copy.Bind(&User::OnCopy, &u);
    Fd reader, writer;
    tcp_pair(reader, writer);
    ASSERT_TRUE(copy.Start(Fd(), writer));
    EXPECT_TRUE(u.statuses.empty());
    ASSERT_TRUE(run_until([&] { return !u.statuses.empty(); }, 1000));
    EXPECT_EQ(u.statuses, std::vector<int>{4});
}
