// Alternative and enumeration numbers that the slot code dispatches on, and
// the radio values that must reach the controller.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codec.h"
#include "protocol/lgcp.h"

namespace {

template <class Choice>
std::string alternativeName(int index)
{
    return Choice::theInfo.selectionNames[index];
}

TEST(ProtocolSelectionNumbers, CreateAndIoctlAlternatives)
{
    EXPECT_EQ(LGCP::CreateParams::mixerOut_chosen, 0);
    EXPECT_EQ(LGCP::CreateParams::mixerIn_chosen, 1);
    EXPECT_EQ(LGCP::CreateParams::voice_chosen, 3);
    EXPECT_EQ(LGCP::CreateParams::t38soft_chosen, 13);
    EXPECT_EQ(alternativeName<LGCP::CreateParams>(13), "t38soft");
    EXPECT_EQ(alternativeName<LGCP::CreateParams>(16), "ats-qsig-b");

    EXPECT_EQ(LGCP::IoctlParams::ss7RqBSN_chosen, 4);
    EXPECT_EQ(LGCP::IoctlParams::ss7Log_chosen, 5);
    EXPECT_EQ(LGCP::IoctlParams::hdlcPackages_chosen, 20);
    EXPECT_EQ(alternativeName<LGCP::IoctlParams>(20), "hdlcPackages");

    LGCP::CreateParams create;
    create.select_t38soft();
    EXPECT_EQ(create.currentSelection(), 13);
    LGCP::IoctlParams ioctl;
    ioctl.select_ss7Log().set_timers(true);
    EXPECT_EQ(ioctl.currentSelection(), 5);

    EXPECT_EQ(LGCP::VoiceParams::record_chosen, 0);
    EXPECT_EQ(LGCP::VoiceParams::player_chosen, 1);
    EXPECT_EQ(LGCP::PstnParams::cas_chosen, 2);
    EXPECT_TRUE(LGCP::PlayerParams::theInfo.extendable);
}

TEST(ProtocolSelectionNumbers, LemzModifierAlternatives)
{
    char const* const names[] = {"gw-set-flags", "gw-set-freq", "gw-set-ptt", "gw-set-bss", "gw-set-sh",
                                 "gw-set-pwr", "gw-set-rv", "gw-set-resv", "gw-set-selcall", "gw-set-remote",
                                 "gw-set-squelshe", "gw-set-rte", "gw-set-standby", "wm-flags", "wm-trans",
                                 "wm-quality", "wm-chan", "wm-selcall", "wm-remote", "wm-standby"};
    auto const& info = TERM::LemzRadioModifierParams::theInfo;
    ASSERT_EQ(info.totalChoices, 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_STREQ(info.selectionNames[i], names[i]) << i;
    EXPECT_EQ(TERM::LemzRadioModifierParams::gw_set_standby_chosen, 12);
    EXPECT_EQ(TERM::LemzRadioModifierParams::wm_standby_chosen, 19);

    // alternatives sharing a body type are told apart by number
    TERM::RadioCommandGWSetFlags body;
    body.get_flags().set_ptt(true);
    TERM::LemzRadioModifierParams ptt(TERM::LemzRadioModifierParams::gw_set_ptt_chosen, body);
    EXPECT_EQ(ptt.currentSelection(), 2);
    EXPECT_TRUE(ptt.get_gw_set_ptt().get_flags().get_ptt());
    TERM::LemzRadioModifierParams rv(TERM::LemzRadioModifierParams::gw_set_rv_chosen, body);
    EXPECT_EQ(rv.currentSelection(), 6);
    EXPECT_NE(protocol_test::encode(ptt), protocol_test::encode(rv));
}

TEST(ProtocolSelectionNumbers, Enumerations)
{
    char const* const causes[] = {"invalidParams", "insufficientResources", "invalidSlot", "slotNotExists",
                                  "unexpectedMsgType", "internal", "unsupported", "reconnectionFail",
                                  "disconnectFail", "connectFail", "busError", "slotIdBusy",
                                  "destroyInProgress"};
    auto const& info = LGCP::ErrorCause::theInfo;
    ASSERT_EQ(info.numNames, 13u);
    EXPECT_EQ(info.maximum, 12);
    for (int i = 0; i < 13; ++i) {
        EXPECT_STREQ(info.names[i], causes[i]) << i;
        LGCP::ErrorCause c{LGCP::ErrorCause::NamedNumber(i)};
        EXPECT_EQ(c.getName(), causes[i]);
    }
    EXPECT_EQ(LGCP::ErrorCause::destroyInProgress, 12);

    // values sent as numbers, not as positions
    EXPECT_EQ(TERM::Payload::ptG728, 13);
    EXPECT_EQ(TERM::Payload::ptR2S, 123);
    EXPECT_EQ(TERM::Payload::theInfo.maximum, 123);
    EXPECT_STREQ(TERM::Payload::theInfo.names[14], "ptR2S=123");
    EXPECT_EQ(TERM::DSCP::ef, 46);
    EXPECT_EQ(ACP::TrunkState::disabled, 6);
    EXPECT_EQ(ACP::SS7State::worked, 5);
    EXPECT_EQ(TERM::RadioStandby::not_use, -1);
    EXPECT_STREQ(TERM::RadioStandby::theInfo.names[0], "not-use=-1");
    EXPECT_STREQ(TERM::RadioStandby::theInfo.names[1], "active");

    LGCP::IsdnLinkStatus s;
    s.set_congested();
    EXPECT_EQ(s.asInt(), 1);
    s.set_normal();
    EXPECT_EQ(s.asNamedNumber(), LGCP::IsdnLinkStatus::normal);
}

// A radio state holds -1 in the fields it has not learnt yet. Such a
// status cannot be encoded; leaving the fields out can, and the radio
// equipment's own numbers beyond the named ones travel as extension values.
TEST(ProtocolRadioValues, UnsetFieldsAreLeftOutAndWideValuesTravel)
{
    TERM::LemzRadioStatus status;
    status.get_flags().set_prio(15);
    status.set_standby_group(0);
    status.get_standby_group().setValue(-1);
    status.set_squelshe(TERM::RadioSquelshe::NamedNumber(-1));
    EXPECT_TRUE(protocol_test::encode(status).empty());

    status.omit_standby_group();
    status.omit_squelshe();
    std::vector<char> octets = protocol_test::encode(status);
    ASSERT_FALSE(octets.empty());
    auto back = protocol_test::decode(&TERM::LemzRadioStatus::theInfo, octets);
    ASSERT_TRUE(back);
    auto const& decoded = static_cast<TERM::LemzRadioStatus const&>(*back);
    EXPECT_FALSE(decoded.squelshe_isPresent());
    EXPECT_FALSE(decoded.rte_isPresent());
    EXPECT_FALSE(decoded.standby_state_channel_isPresent());
    EXPECT_FALSE(decoded.standby_group_isPresent());
    EXPECT_FALSE(decoded.standby_state_receiver_isPresent());
    EXPECT_EQ(decoded.get_flags().get_prio().getValue(), 15);

    // octets from the radio: squelch 200, RTE 255, standby 9, PTT type 7,
    // BSS method 7
    status.set_squelshe(TERM::RadioSquelshe::NamedNumber(200));
    status.set_rte(TERM::RadioRTE::NamedNumber(255));
    status.set_standby_state_receiver(TERM::RadioStandby::NamedNumber(9));
    octets = protocol_test::encode(status);
    ASSERT_FALSE(octets.empty());
    back = protocol_test::decode(&TERM::LemzRadioStatus::theInfo, octets);
    ASSERT_TRUE(back);
    EXPECT_TRUE(*back == status);
    EXPECT_EQ(static_cast<TERM::LemzRadioStatus const&>(*back).get_rte().asInt(), 255);

    TERM::ED137RadioHeader header;
    header.set_ptt(TERM::ED137RadioPTT::NamedNumber(7));
    TERM::ED137RadioExtensionSQI sqi;
    sqi.set_bss_method(TERM::ED137RadioBSSMethod::NamedNumber(7));
    for (ASN1::AbstractData const* v : {static_cast<ASN1::AbstractData const*>(&header),
                                        static_cast<ASN1::AbstractData const*>(&sqi)}) {
        octets = protocol_test::encode(*v);
        ASSERT_FALSE(octets.empty()) << *v;
        back = protocol_test::decode(v->info(), octets);
        ASSERT_TRUE(back);
        EXPECT_TRUE(*back == *v) << *back;
    }
}

// The link counters are unsigned 32-bit: a long-running link passes 2^31
// and must not be reported as a negative count.
TEST(ProtocolLinkCounters, CountsPastTwoToThe31StayPositive)
{
    unsigned const big = 3000000000u;
    ACP::SS7LinkInfo ss7;
    ss7.set_octetsTx(big);
    ss7.set_badSeqCntr(4294967295u);
    ACP::IsdnLinkInfo isdn;
    isdn.set_msuTxCount(big);
    LGCP::HdlcLinkInfo hdlc;
    hdlc.set_txSU(big);
    for (ASN1::AbstractData const* v : {static_cast<ASN1::AbstractData const*>(&ss7),
                                        static_cast<ASN1::AbstractData const*>(&isdn),
                                        static_cast<ASN1::AbstractData const*>(&hdlc)}) {
        std::vector<char> octets = protocol_test::encode(*v);
        ASSERT_FALSE(octets.empty()) << *v;
        auto back = protocol_test::decode(v->info(), octets);
        ASSERT_TRUE(back);
        EXPECT_TRUE(*back == *v) << *back;
    }
    EXPECT_EQ(ss7.get_octetsTx().getValue(), big);
    EXPECT_EQ(ss7.get_badSeqCntr().getValue(), 4294967295u);
    EXPECT_EQ(isdn.get_msuTxCount().getValue(), big);
    EXPECT_EQ(hdlc.get_txSU().getValue(), big);
}

} // namespace
