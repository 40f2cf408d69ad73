// An RTP slot's requests through the controller link, each with values of
// its own, landing on the channel's own switch of the tone and DSP devices
// and in the driver's records word by word; the gain and detector limits
// at their last value taken and first refused.
#include "protocol/lgcp.h"
#include "rtp/ed137_factory.h"
#include "rtp/rtp_factory.h"
#include "standin/dsp.h"
#include "standin/dtmf.h"
#include "standin/rtp.h"
#include "tests/core/link_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

using namespace test;
using Cause = LGCP::ErrorCause;

constexpr int kTdm = Standin::Rtp::kFirstChannel;

// A create of an RTP channel to 127.0.0.1 in one payload, both ways.
LGCP::Message Create(unsigned seq, int slot, int payload, int port,
                     std::function<void(TERM::RtpParams&)> const& change = nullptr)
{
    LGCP::Message m = Command(seq, slot);
    LGCP::CreateRtpParams& rtp = Body(m).select_create().select_rtp();
    rtp.get_codecRTP().get_payload().setFromInt(payload);
    rtp.get_codecRTP().get_dhost().get_iaddr().assign("127.0.0.1");
    rtp.get_codecRTP().get_dhost().get_port() = port;
    rtp.get_txPayload().setFromInt(payload);
    rtp.get_rxPayload().setFromInt(payload);
    if (change)
        change(rtp.get_codecRTP());
    return m;
}

class RtpSlotFields : public LinkFixture {
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        RtpFactory::instance();
        ExpectAnswer(Exchange(Create(1, 5, TERM::Payload::ptG711_Alaw, 7000), 3)[0], 1, 5);
    }
    // A request to slot 5, answered as success or with the cause given.
    void Request(std::function<void(LGCP::IoctlParams&)> const& fill, Cause::NamedNumber refused = Cause::NamedNumber(-1))
    {
        LGCP::Message m = Command(++mSeq, 5);
        fill(Body(m).select_ioctl());
        auto got = Exchange(m);
        if (refused == Cause::NamedNumber(-1))
            ExpectAnswer(got[0], mSeq, 5);
        else
            ExpectAnswer(got[0], mSeq, 5, refused);
    }
    // A create of slot 6: refused as invalid, or made and destroyed again.
    void Try(LGCP::Message m, bool taken)
    {
        m.set_seq(++mSeq);
        if (!taken) {
            ExpectAnswer(Exchange(m)[0], mSeq, 6, Cause::invalidParams);
            return;
        }
        ExpectAnswer(Exchange(m, 3)[0], mSeq, 6);
        LGCP::Message destroy = Command(++mSeq, 6);
        Body(destroy).select_destroy();
        ExpectAnswer(Exchange(destroy)[0], mSeq, 6);
    }

    Standin::Rtp& rtp = board.Get<Standin::Rtp>("/dev/rtp");
    Standin::Dtmf& dtmf = board.Get<Standin::Dtmf>(Tonec::kDevice);
    Standin::Dsproc& dsp = board.Get<Standin::Dsproc>(Dsp::kDevice);
    Capture out{std::clog};
    Capture err{std::cerr};
    unsigned mSeq = 1;
};

TEST_F(RtpSlotFields, EachRequestReachesItsOwnSwitch)
{
    Request([](LGCP::IoctlParams& p) { p.select_echoSuppressor() = true; });
    EXPECT_EQ(dtmf.At(kTdm).echo, 1);
    EXPECT_EQ(dtmf.At(kTdm).detect + dtmf.At(kTdm).reject, 0);
    Request([](LGCP::IoctlParams& p) { p.select_dtmf_reject_enable() = true; });
    EXPECT_EQ(dtmf.At(kTdm).reject, 1);
    EXPECT_EQ(dtmf.At(kTdm).detect, 0);
    Request([](LGCP::IoctlParams& p) { p.select_dtmf_enable() = true; });
    EXPECT_EQ(dtmf.At(kTdm).detect, 1);
    Request([](LGCP::IoctlParams& p) { p.select_echoSuppressor() = false; });
    EXPECT_EQ(dtmf.At(kTdm).echo, 0);
    EXPECT_EQ(dtmf.At(kTdm).detect, 1);

    Request([](LGCP::IoctlParams& p) { p.select_activateWaitTone(); });
    EXPECT_EQ(dtmf.At(kTdm).audible, 1);
    Request([](LGCP::IoctlParams& p) { p.select_deactivateWaitTone(); });
    EXPECT_EQ(dtmf.At(kTdm).audible, 0);
    Request([](LGCP::IoctlParams& p) {
        auto& d = p.select_dtmf_params();
        d.set_on_time(71);
        d.set_off_time(72);
        d.set_level(-13);
    });
    EXPECT_EQ(dtmf.At(kTdm).config.onTime, 71);
    EXPECT_EQ(dtmf.At(kTdm).config.offTime, 72);
    EXPECT_EQ(dtmf.At(kTdm).config.level, -13);
    Request([](LGCP::IoctlParams& p) { p.select_translateDTMF().set_digits("147*"); });
    Request([](LGCP::IoctlParams& p) { p.select_selcal() = "12345"; });
    EXPECT_EQ(dtmf.At(kTdm).selcal, "12345");

    Request([](LGCP::IoctlParams& p) { p.select_sd_enable() = true; });
    EXPECT_EQ(dsp.At(kTdm).sd, 1);
    EXPECT_EQ(dsp.At(kTdm).vad, 0);
    Request([](LGCP::IoctlParams& p) { p.select_vad_enable() = true; });
    EXPECT_EQ(dsp.At(kTdm).vad, 1);
    Request([](LGCP::IoctlParams& p) {
        auto& v = p.select_vad_params();
        v.set_threshold(-31);
        v.set_hangover(250);
    });
    EXPECT_EQ(dsp.At(kTdm).vadThreshold, -31);
    EXPECT_EQ(dsp.At(kTdm).vadHangover, 250);
    int defaults = dsp.At(kTdm).sdDefaults;
    Request([](LGCP::IoctlParams& p) { p.select_sd_params().set_threshold(-40); });
    EXPECT_EQ(dsp.At(kTdm).sdDefaults, defaults + 1);
    Request([](LGCP::IoctlParams& p) { p.select_vad_disable(); });
    EXPECT_EQ(dsp.At(kTdm).vad, 0);
    EXPECT_EQ(dsp.At(kTdm).sd, 1);
    Request([](LGCP::IoctlParams& p) { p.select_sd_disable(); });
    EXPECT_EQ(dsp.At(kTdm).sd, 0);
    Request([](LGCP::IoctlParams& p) {
        auto& f = p.select_tone_filter();
        f.set_freq(2100);
        f.set_enable(true);
        f.set_duration_th_msec(33);
        f.set_det_level_dB(-21);
    });
    EXPECT_EQ(dsp.At(kTdm).filter.freq, 2100);
    EXPECT_EQ(dsp.At(kTdm).filter.enable, 1);
    EXPECT_EQ(dsp.At(kTdm).filter.duration, 33);
    EXPECT_EQ(dsp.At(kTdm).filter.level, -21);

    // A signed octet: -128 and 127 are the ends.
    Request([](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-128); });
    EXPECT_EQ(dsp.At(kTdm).rxGain, -128);
    Request([](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-129); }, Cause::invalidParams);
    EXPECT_EQ(dsp.At(kTdm).rxGain, -128);

    // Requests the slot does not serve.
    Request([](LGCP::IoctlParams& p) { p.select_iva_enable() = true; }, Cause::unsupported);
    Request([](LGCP::IoctlParams& p) { p.select_dtmf_disable(); }, Cause::unsupported);
}

// The detector's record: its timeout in words 2 and 5, 1 in word 0; a
// timeout of 0 is one.
TEST_F(RtpSlotFields, PacketDetectorRecords)
{
    for (int timeout : {0x01020304, 0}) {
        rtp.ClearLog();
        Request([timeout](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(timeout); });
        ASSERT_EQ(rtp.log().size(), 1u);
        EXPECT_EQ(rtp.log()[0].code, 0xC024520CUL);
        rtp_pd_params record;
        ASSERT_EQ(rtp.log()[0].record.size(), sizeof record);
        std::memcpy(&record, rtp.log()[0].record.data(), sizeof record);
        const uint32_t t = static_cast<uint32_t>(timeout);
        EXPECT_EQ(std::vector<uint32_t>(record.word, record.word + 9),
                  (std::vector<uint32_t>{1, 0, t, 0, 0, t, 0, 0, 0}));
        EXPECT_TRUE(rtp.At(kTdm)->pd);
    }
    rtp.ClearLog();
    Request([](LGCP::IoctlParams& p) { p.select_pd_disable(); });
    ASSERT_EQ(rtp.log().size(), 1u);
    EXPECT_EQ(rtp.log()[0].code, 0x8004520DUL);
    uint32_t one = 0;
    ASSERT_EQ(rtp.log()[0].record.size(), sizeof one);
    std::memcpy(&one, rtp.log()[0].record.data(), sizeof one);
    EXPECT_EQ(one, 1u);
    EXPECT_FALSE(rtp.At(kTdm)->pd);
    EXPECT_NE(out.text().find("rtp[9216]: RTP SET EVENT PD timeout=16909060\n"), std::string::npos);
    EXPECT_NE(out.text().find("rtp[9216]: RTP RESET EVENT PD\n"), std::string::npos);
}

// A codec change asks the driver for the slot's own channel again, with
// no best-signal selection for a plain RTP slot.
TEST_F(RtpSlotFields, RestartAsksForItsOwnChannel)
{
    rtp.ClearLog();
    Request([](LGCP::IoctlParams& p) { p.select_encoder_mode() = LGCP::CodecMode::ulaw; });
    ASSERT_EQ(rtp.log().size(), 2u);
    ASSERT_EQ(rtp.log()[1].code, 0xC0105202UL);
    rtp_add_channel add;
    std::memcpy(&add, rtp.log()[1].record.data(), sizeof add);
    EXPECT_EQ(std::vector<int32_t>({add.info.tdm, add.info.dev_no, add.info.chn, int32_t(add.bss)}),
              std::vector<int32_t>({kTdm, -1, -1, 0}));
    rtp_connection_params begun;
    std::memcpy(&begun, rtp.log()[0].record.data(), sizeof begun);
    EXPECT_EQ(begun.tx_pt, 0);
    EXPECT_EQ(begun.rx_pt, 8);
}

// The payloads with a driver code are taken, with it on both directions;
// the others are refused before anything is opened.
TEST_F(RtpSlotFields, AcceptedPayloads)
{
    const struct {
        int payload;
        int code; // -1: refused
    } rows[] = {{0, 8}, {1, 0}, {2, 4}, {3, 18}, {4, 136}, {5, 128}, {6, -1}, {7, -1}, {8, -1}, {9, -1},
                {10, -1}, {11, -1}, {12, -1}, {13, 15}, {123, -1}};
    for (auto const& r : rows) {
        rtp.ClearLog();
        Try(Create(0, 6, r.payload, 7002), r.code >= 0);
        if (r.code < 0) {
            EXPECT_TRUE(rtp.log().empty()) << r.payload;
            continue;
        }
        ASSERT_FALSE(rtp.log().empty());
        rtp_connection_params begun;
        std::memcpy(&begun, rtp.log()[0].record.data(), sizeof begun);
        EXPECT_EQ(begun.rx_pt, r.code) << r.payload;
        EXPECT_EQ(begun.tx_pt, r.code) << r.payload;
        // A new channel is asked for, of no device and channel in particular.
        ASSERT_EQ(rtp.log().at(1).code, 0xC0105202UL);
        rtp_add_channel add;
        std::memcpy(&add, rtp.log()[1].record.data(), sizeof add);
        EXPECT_EQ(std::vector<int32_t>({add.info.tdm, add.info.dev_no, add.info.chn, int32_t(add.bss)}),
                  std::vector<int32_t>({-1, -1, -1, 0}));
    }
}

// A radio session asks for best-signal selection only when the create
// enables it.
TEST_F(RtpSlotFields, RadioBestSignalSelectionOnlyWhenAsked)
{
    RtpED137Factory::instance();
    for (int bss : {-1, 0, 1}) {
        rtp.ClearLog();
        Try(Create(0, 6, TERM::Payload::ptG711_Alaw, 7002,
                   [bss](TERM::RtpParams& p) {
                       p.set_radio().get_status().select_ed_137();
                       if (bss >= 0)
                           p.get_radio().set_bss_enable(bss == 1);
                   }),
            true);
        ASSERT_GE(rtp.log().size(), 2u);
        rtp_add_channel add;
        std::memcpy(&add, rtp.log()[1].record.data(), sizeof add);
        EXPECT_EQ(add.bss, bss == 1 ? 1u : 0u) << bss;
    }
}

// The ends of the ports a create may ask: 1 and 65534 (65535 would put
// RTCP on port 0).
TEST_F(RtpSlotFields, CreateLimits)
{
    struct Row {
        std::function<void(TERM::RtpParams&)> change;
        bool taken;
    } rows[] = {
        {[](TERM::RtpParams& p) { p.get_dhost().get_port() = 1; }, true},
        {[](TERM::RtpParams& p) {
             p.set_shost().get_iaddr().assign("127.0.0.1");
             p.get_shost().get_port() = 1;
         },
         true},
        {[](TERM::RtpParams& p) {
             p.set_shost().get_iaddr().assign("127.0.0.1");
             p.get_shost().get_port() = 0;
         },
         false},
        {[](TERM::RtpParams& p) { p.get_dhost().get_port() = 65534; }, true},
    };
    for (Row const& r : rows)
        Try(Create(0, 6, TERM::Payload::ptG711_Ulaw, 7002, r.change), r.taken);
}

} // namespace
