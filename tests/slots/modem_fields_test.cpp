// Modem create parameters, authentication records and activate answers:
// each field lands in its own place, and the limits of each.

#include "modem_fixture.h"
#include "tests/framework/loop_helpers.h"

#include <linux/if.h>

#include <cstring>

namespace test {
namespace {

class ModemFields : public ModemFixture {
protected:
    void SetUp() override
    {
        ModemFixture::SetUp();
        NoInterfaces();
    }
    void TearDown() override
    {
        ::unsetenv("STANDIN_CHILD_HUP");
        ModemFixture::TearDown();
    }
};

TEST_F(ModemFields, EachDigitalDataModeSetsItsOwnBit)
{
    const std::pair<const char*, const char*> cases[] = {
        {"ddmV110", "0x1"}, {"ddm8BIT", "0x2"}, {"ddm7BIT", "0x4"}, {"ddmV120, ddm7BIT", "0x4"}, {"ddmV120", "0x0"}};
    for (const auto& [modes, mask] : cases) {
        mctl.trace.clear();
        ModemSlot* slot = Create(1, Params(std::string(", ddm {") + modes + "}, originate NULL, fax NULL"));
        EXPECT_EQ(slot->modem_id(), -1); // no modem before a connection asks
        ASSERT_EQ(Connect(1), Answer::success) << modes;
        EXPECT_EQ(mctl.trace, (std::vector<std::string>{"allocate 0", "timeslot 0", std::string("ddm 0 ") + mask,
                                                        "reset-dmp 0", "fax-originate 0"}))
            << modes;
        EXPECT_EQ(slot->GetTransmitChannel(), Standin::ModemControl::Timeslot(0));
        ASSERT_EQ(Slots::instance().Destroy(1), Answer::success);
        board.Prune(); // the modem is free again
    }
}

// Modem 2 speaks: its records' fields go each to their own place of the
// signals, and the activate answers carry each address in its own word.
TEST_F(ModemFields, AuthRecordsAndAnswersFieldByField)
{
    ::setenv("STANDIN_CHILD_HUP", "wait", 1);
    for (int id : {1, 2, 3}) {
        Create(id, Params());
        ASSERT_EQ(Connect(id), Answer::success);
    }
    ModemSlot* modem = dynamic_cast<ModemSlot*>(Slots::instance().Find(3));
    ASSERT_EQ(modem->modem_id(), 2);
    EXPECT_TRUE(modem->EqAuthId(2));
    EXPECT_FALSE(modem->EqAuthId(1) || modem->EqAuthId(-1));
    ASSERT_TRUE(loop.RunUntil([&] { return modem->pppd_executing(); }));
    controller.signals.clear();
    controller.ids.clear();

    auto peer = Join(factory.auth(), loop);
    // A username filling its 64 octets, a password ending early with more behind it.
    std::string user;
    for (int i = 0; i < 64; ++i)
        user += static_cast<char>('A' + i % 26);
    std::vector<uint8_t> auth = AuthRequest(2, user, "pw");
    auth[76 + 3] = 'x';
    ASSERT_TRUE(peer->Send(auth));
    std::vector<uint8_t> acct = RawRecord(64, 4, 2);
    std::fill(acct.begin() + 12, acct.begin() + 24, 0xBB);
    const uint32_t words[] = {0x80000001u, 0xFFFFFFFEu, 3, 4, 5, 6, 7, 8, 0x90000009u, 0xAAAAAAAAu};
    std::memcpy(acct.data() + 24, words, sizeof words);
    ASSERT_TRUE(peer->Send(acct));
    ASSERT_TRUE(loop.RunUntil([&] { return controller.signals.size() >= 2; }));
    EXPECT_EQ(controller.ids, (std::vector<int>{3, 3}));
    const auto got = controller.Modem();
    ASSERT_EQ(got.size(), 2u);
    ASSERT_TRUE(got[0]->auth_isSelected());
    EXPECT_EQ(std::string(got[0]->get_auth().get_username()), user);
    EXPECT_EQ(std::string(got[0]->get_auth().get_password()), "pw");
    ASSERT_TRUE(got[1]->acct_isSelected());
    TERM::MdmAccounting expected;
    ASSERT_TRUE(expected.setFromValueNotation(
        "{octetsOut {low 4294967294, high 2147483649}, octetsIn {low 4, high 3}, packetsOut {low 6, high 5},"
        " packetsIn {low 8, high 7}, time {low 2415919113, high 0}}"));
    EXPECT_EQ(got[1]->get_acct().asValueNotation(), expected.asValueNotation());

    // The smallest MTU is 0; -1 is refused (the activate test).
    const TERM::TermActivateParams activate = UserParams("10.1.2.3", "255.255.254.0", "10.1.2.254", "192.0.2.53", 0);
    EXPECT_EQ(Slots::instance().Activate(3, activate), Answer::success);
    loop.Settle();
    EXPECT_EQ(peer->Take(), Answers(2, {10, 1, 2, 3, 255, 255, 254, 0, 10, 1, 2, 254, 192, 0, 2, 53}, 0));
}

// Interfaces hdlc0 to hdlc255 are looked for, and no further.
TEST_F(ModemFields, InterfacesUpToHdlc255)
{
    for (int n = 0; n <= 256; ++n)
        nets.Set("hdlc" + std::to_string(n), IFF_POINTOPOINT, Standin::NetInterfaces::Channel(n));
    LGCP::Resources resources;
    factory.Query(resources);
    EXPECT_EQ(resources.get_digital_modems().getValue(), 256);
    ASSERT_EQ(factory.freeInterfaces().size(), 256u);
    EXPECT_EQ(factory.freeInterfaces().back(), "hdlc255");
}

// A record shorter than a word's place reads that word as 0, whatever the
// buffer holds beyond its end.
TEST(AuthRecord, WordsBeyondTheEndReadAsZero)
{
    const uint8_t bytes[16] = {16, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
    const ModemAuth::Record whole{bytes, 16}, cut{bytes, 11};
    EXPECT_EQ(whole.Word(12), 3u);
    EXPECT_EQ(cut.Word(4), 1u);
    EXPECT_EQ(cut.Word(8), 0u);
    EXPECT_EQ(ModemAuth::Record({bytes, 3}).Word(0), 0u);
}

} // namespace
} // namespace test
