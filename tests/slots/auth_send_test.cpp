// Records sent to a modem's peer when the socket takes them piecemeal.

#include "modem_fixture.h"
#include "slots/auth_service.h"
#include "tests/framework/loop_helpers.h"

#include <cerrno>

namespace test {
namespace {

struct Owner : AuthService::Notify {
    std::string OnAuthRecord(AuthClient& client, const ModemAuth::Record&) override
    {
        client.owner(this);
        ++records;
        return {};
    }
    void PutHeader(std::ostream& os) const override { os << "auth: "; }
    int records = 0;
};

// A socket that takes at most five octets a call, and is interrupted
// before every third call.
uint32_t gCalls;
ssize_t Dribble(int fd, const void* data, size_t size, int flags)
{
    if (++gCalls % 3 == 1) {
        errno = EINTR;
        return -1;
    }
    return ::send(fd, data, std::min<size_t>(size, 5), flags);
}

TEST(AuthSend, PiecesOfARecordReachThePeerWholeAndNothingBeyondIt)
{
    ::signal(SIGPIPE, SIG_IGN);
    Owner owner;
    AuthService service(owner);
    LoopDriver loop;
    ASSERT_TRUE(service.Open(0));
    auto peer = Join(service, loop);
    ASSERT_TRUE(peer->Send(RawRecord(12, 1, 7)));
    ASSERT_TRUE(loop.RunUntil([&] { return owner.records == 1; }));

    const std::vector<uint8_t> ip = ModemAuth::MakeIp(7, 0x0A000001, 0xFFFFFF00, 0x0A0000FE, 0x08080808, 1500);
    const std::vector<uint8_t> accept = ModemAuth::MakeAccept(7);
    gCalls = 0;
    AuthService::SetSend(Dribble);
    const bool sent = service.Send(&owner, ip) && service.Send(&owner, accept);
    AuthService::SetSend(nullptr);
    EXPECT_TRUE(sent);
    std::vector<uint8_t> both = ip;
    both.insert(both.end(), accept.begin(), accept.end());
    EXPECT_EQ(peer->Take(), both);
    EXPECT_FALSE(peer->IsClosedByService());
    EXPECT_EQ(service.clients(), 1u);
}

TEST(AuthSend, ThirtyTwoConnectionsAreTakenAndTheThirtyThirdClosed)
{
    ::signal(SIGPIPE, SIG_IGN);
    Owner owner;
    AuthService service(owner);
    LoopDriver loop;
    ASSERT_TRUE(service.Open(0));
    Capture errors(std::cerr);
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < 32; ++i)
        peers.push_back(Join(service, loop));
    Peer refused(service.port());
    ASSERT_TRUE(loop.RunUntil([&] { return refused.IsClosedByService(); }));
    EXPECT_EQ(errors.count("too many auth connections, 127.0.0.1:" + std::to_string(refused.LocalPort()) + " refused\n"),
              1u) << errors.text();
    EXPECT_EQ(service.clients(), 32u);
    for (auto& peer : peers)
        EXPECT_FALSE(peer->IsClosedByService());
    // A place given up is taken again.
    peers.back()->Close();
    ASSERT_TRUE(loop.RunUntil([&] { return service.clients() == 31; }));
    auto again = Join(service, loop);
    loop.Settle();
    EXPECT_FALSE(again->IsClosedByService());
    EXPECT_EQ(service.clients(), 32u);
}

} // namespace
} // namespace test
