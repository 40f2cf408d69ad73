// Radio values and link counters that must reach the controller.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codec.h"
#include "protocol/lgcp.h"

namespace {

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
    EXPECT_TRUE(*back == status);

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
