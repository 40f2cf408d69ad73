// Radio values and link counters that must reach the controller.
#include <gtest/gtest.h>

#include <string>

#include "codec.h"
#include "protocol/lgcp.h"

namespace {

// The value encodes and decodes to an equal value.
::testing::AssertionResult travels(ASN1::AbstractData const& value)
{
    std::vector<char> const octets = protocol_test::encode(value);
    auto back = octets.empty() ? nullptr : protocol_test::decode(value.info(), octets);
    if (back && *back == value)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << value << "\n" << (back ? "decoded differently" : "not coded");
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
    EXPECT_TRUE(travels(status));
    auto back = protocol_test::decode(&TERM::LemzRadioStatus::theInfo, protocol_test::encode(status));
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
    EXPECT_TRUE(travels(status));
    EXPECT_EQ(status.get_rte().asInt(), 255);

    TERM::ED137RadioHeader header;
    header.set_ptt(TERM::ED137RadioPTT::NamedNumber(7));
    EXPECT_TRUE(travels(header));
    TERM::ED137RadioExtensionSQI sqi;
    sqi.set_bss_method(TERM::ED137RadioBSSMethod::NamedNumber(7));
    EXPECT_TRUE(travels(sqi));
}

// The link counters are unsigned 32-bit: a long-running link passes 2^31
// and must not be reported as a negative count.
TEST(ProtocolLinkCounters, CountsPastTwoToThe31StayPositive)
{
    unsigned const big = 3000000000u;
    ACP::SS7LinkInfo ss7;
    ss7.set_octetsTx(big);
    ss7.set_badSeqCntr(4294967295u);
    EXPECT_TRUE(travels(ss7));
    ACP::IsdnLinkInfo isdn;
    isdn.set_msuTxCount(big);
    EXPECT_TRUE(travels(isdn));
    LGCP::HdlcLinkInfo hdlc;
    hdlc.set_txSU(big);
    EXPECT_TRUE(travels(hdlc));
    EXPECT_EQ(ss7.get_octetsTx().getValue(), big);
    EXPECT_EQ(ss7.get_badSeqCntr().getValue(), 4294967295u);
    EXPECT_EQ(isdn.get_msuTxCount().getValue(), big);
    EXPECT_EQ(hdlc.get_txSU().getValue(), big);
}

} // namespace
