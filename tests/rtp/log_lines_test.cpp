// What a log reader gets from the RTP and radio code: each factory's
// header with its codec counts in their order, the radio controls' prefix,
// the slot's event and codec-change lines, the radio debug lines.
#include "board/device.h"
#include "framework/mux_time.h"
#include "protocol/lgcp.h"
#include "protocol/term.h"
#include "rtp/ed137_control.h"
#include "rtp/ed137_factory.h"
#include "rtp/lemz_control.h"
#include "rtp/lemz_factory.h"
#include "rtp/rtp_factory.h"
#include "samples/link/loop_driver.h"
#include "standin/board.h"
#include "standin/rtp.h"
#include "standin/rtp_ext.h"
#include "tests/core/link_fixture.h"
#include "tests/rtp/lemz_packets.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <memory>
#include <string>

namespace {

using namespace RTPSignalling;

// A refused create: each factory's header shows the G.723, G.729, G.711
// and universal counts in that order, then its message.
TEST(RtpLogLines, FactoryHeadersShowTheirCounts)
{
    Standin::Board board;
    auto& voice = board.Get<Standin::Voice>("/dev/voice");
    voice.SetChannels(4, 3);
    voice.SetChannels(2, 5);
    voice.SetChannels(1, 7);
    voice.SetChannels(8, 9);
    voice.SetChannels(0x41, 11);
    LGCP::CreateParams p;
    TERM::RtpParams& rtp = p.select_rtp().get_codecRTP();
    rtp.get_payload() = TERM::Payload::ptT38_UDP_TL;
    rtp.get_dhost().get_iaddr().assign("10.1.2.3");
    rtp.get_dhost().get_port() = 6000;
    struct {
        RtpCodecFactory& factory;
        const char* header;
        const char* create;
        std::function<void(TERM::RtpParams&)> radio;
    } rows[] = {
        {RtpFactory::instance(), "rtp[5,3,7,11]: ", "do create rtp: ", [](TERM::RtpParams& r) { r.omit_radio(); }},
        {RtpLEMZFactory::instance(), "rtp ext LEMZ[5,3,7,11]: ", "do create rtp ext LEMZ: ",
         [](TERM::RtpParams& r) { r.set_radio().get_status().select_lemz(); }},
        {RtpED137Factory::instance(), "rtp ext ED137[5,3,7,11]: ", "do create rtp ext ED137: ",
         [](TERM::RtpParams& r) { r.set_radio().get_status().select_ed_137(); }},
    };
    for (auto& r : rows) {
        LGCP::Resources resources;
        r.factory.Query(resources);
        EXPECT_EQ(resources.get_rtp_g711mcc().getValue(), 9);
        r.radio(rtp);
        test::Capture out(std::clog);
        EXPECT_EQ(r.factory.INewSlot(p), nullptr);
        const std::string text = out.text();
        EXPECT_EQ(text.find(std::string(r.header) + r.create), 0u) << text;
        EXPECT_NE(text.find(std::string("\n") + r.header + "rtp do not created: payload "), std::string::npos)
            << text;
        EXPECT_NE(text.find("not found\n"), std::string::npos) << text;
    }
}

// The radio controls' prefix: the slot's number and the time of day, or
// the time alone for a control of no slot.
TEST(RtpLogLines, RadioControlPrefix)
{
    Standin::Board board;
    Fd rtp(Device::Open("/dev/rtp", O_RDONLY));
    rtp_ext_init_params init{};
    LemzRadioGWControl slot7(7, rtp_ext_attach_session_params{rtp.lowlevel_fd(), ::getpid()}, init);
    LemzRadioGWControl none(init);
    Mux::timeval now;
    Mux::gettimeval(now);
    const std::string time = Mux::timevaltostring(now);
    const std::string with = slot7.GetPrefix(), without = none.GetPrefix();
    EXPECT_EQ(with.substr(0, 11), "rtp_ext[7] ");
    EXPECT_EQ(with.back(), ':');
    EXPECT_EQ(with.size(), 11 + time.size() + 1) << with;
    EXPECT_EQ(without.substr(0, 8), "rtp_ext ");
    EXPECT_EQ(without.back(), ':');
    EXPECT_EQ(without.size(), 8 + time.size() + 1) << without;
    EXPECT_EQ(slot7.type(), 0);
    EXPECT_EQ(none.type(), 2);
    LemzRadioGWControl attached(4, rtp, rtp_attach_session_params{7, 1234});
    EXPECT_EQ(attached.type(), 1);
}

struct Plain : RadioControl {
    using RadioControl::RadioControl;
    using RadioControl::OnRtpExtEvent;
};

// The frame alone reads nothing; it says so only with debug on, for
// something to read.
TEST(RtpLogLines, PlainControlSaysWhatItWasWokenFor)
{
    Standin::Board board;
    rtp_ext_init_params init{};
    Plain plain(init);
    test::Capture log(std::clog);
    plain.OnRtpExtEvent(plain.ext_fd(), POLLIN);
    plain.SetDebug(true);
    plain.OnRtpExtEvent(plain.ext_fd(), POLLOUT);
    EXPECT_EQ(log.text(), "");
    plain.OnRtpExtEvent(plain.ext_fd(), POLLIN);
    EXPECT_EQ(log.count(":receive extension packet(s)!\n"), 1u) << log.text();
    // Nothing to drive the radio with: every request is refused.
    EXPECT_FALSE(plain.SendASNToChan(TERM::RadioStatus()));
    EXPECT_FALSE(plain.SendASNToChan(TERM::RadioModifier()));
    EXPECT_FALSE(plain.GetSQU());
}

struct Lemz : LemzRadioGWControl {
    using LemzRadioGWControl::LemzRadioGWControl;
    using LemzRadioGWControl::OnRtpExtEvent;
};

struct Ed : ED137RadioGWControl {
    using ED137RadioGWControl::ED137RadioGWControl;
    using ED137RadioGWControl::OnRtpExtEvent;
};

struct Notes : IRadioControlNotify {
    void RadioControlNotify(TERM::RtpRadioRequest const&) override { ++reports; }
    int reports = 0;
};

// With debug on: the burst, each report with its command in hexadecimal,
// each command from the controller; with debug off, none of them.
TEST(RtpLogLines, RadioDebugLines)
{
    Standin::Board board;
    auto& ext = board.Get<Standin::RtpExt>("/dev/rtp_ext");
    Fd rtp(Device::Open("/dev/rtp", O_RDONLY));
    rtp_ext_init_params init{};
    Notes notes;
    in_addr from{};
    inet_pton(AF_INET, "10.0.0.5", &from);
    for (bool debug : {true, false}) {
        test::Capture log(std::clog);
        {
            Lemz lemz(7, rtp_ext_attach_session_params{rtp.lowlevel_fd(), ::getpid()}, init);
            lemz.Bind(&notes);
            lemz.SetDebug(debug);
            ext.Receive(rtptest::Pack(rtptest::Fresh(GW_SEL_CALL)), from, 5);
            lemz.OnRtpExtEvent(lemz.ext_fd(), POLLIN);
            TERM::RadioModifier m;
            m.select_lemz().get_addr().set_session_addr("10.0.0.9");
            m.get_lemz().get_params().select_wm_remote();
            lemz.SendASNToChan(m);
        }
        board.Prune();
        {
            Ed ed(7, rtp_ext_attach_session_params{rtp.lowlevel_fd(), -1}, init);
            ed.Bind(&notes);
            ed.SetDebug(debug);
            ext.Receive(Standin::Frame{0x20, 0x80, 0, 0}, from, 5);
            ed.OnRtpExtEvent(ed.ext_fd(), POLLIN);
            TERM::RadioStatus s;
            s.select_ed_137().set_sqi();
            ed.SendASNToChan(s);
        }
        board.Prune();
        const std::string text = log.text();
        for (const char* line : {":receive extension packet(s)!\n", ":command=0x9 send extension to controller: ",
                                 ":command=0x86 receive extension from controller: ",
                                 ": command=0x2001 send extension to controller: ",
                                 ":command=0x1003 receive extension from controller: "})
            EXPECT_EQ(text.find(line) != std::string::npos, debug) << line << "\n" << text;
    }
    EXPECT_EQ(notes.reports, 4);
}

class RtpSlotLines : public test::LinkFixture {
protected:
    void SetUp() override
    {
        LinkFixture::SetUp();
        RtpFactory::instance();
        LGCP::Message m = test::Command(1, 5);
        LGCP::CreateRtpParams& rtp = test::Body(m).select_create().select_rtp();
        rtp.get_codecRTP().get_payload() = TERM::Payload::ptG729;
        rtp.get_codecRTP().get_dhost().get_iaddr().assign("127.0.0.1");
        rtp.get_codecRTP().get_dhost().get_port() = 7000;
        rtp.get_txPayload() = TERM::Payload::ptG729;
        rtp.get_rxPayload() = TERM::Payload::ptG729;
        test::ExpectAnswer(Exchange(m, 3)[0], 1, 5);
    }
    Standin::Rtp& rtp = board.Get<Standin::Rtp>("/dev/rtp");
    test::Capture out{std::clog};
    test::Capture err{std::cerr};
};

TEST_F(RtpSlotLines, EventAndCodecChangeLines)
{
    const int tdm = Standin::Rtp::kFirstChannel;
    ASSERT_TRUE(rtp.Raise(tdm, rtp_event{3000000000u, 1, 2, {}}));
    loop.Settle();
    EXPECT_NE(out.text().find("rtp[9216]: rtp event:  type=3000000000\n"), std::string::npos) << out.text();
    auto mode = [&](unsigned seq, bool encoder, LGCP::CodecMode::NamedNumber m) {
        LGCP::Message c = test::Command(seq, 5);
        if (encoder)
            test::Body(c).select_ioctl().select_encoder_mode() = m;
        else
            test::Body(c).select_ioctl().select_decoder_mode() = m;
        test::ExpectAnswer(Exchange(c)[0], seq, 5);
        return out.take();
    };
    out.take();
    EXPECT_NE(mode(2, false, LGCP::CodecMode::lbrc).find("rtp[9216]: do restart RTP session (change tx payload):"),
              std::string::npos);
    EXPECT_NE(mode(3, false, LGCP::CodecMode::lbrc).find(" - Nothing to do\n"), std::string::npos);
    std::string changed = mode(4, true, LGCP::CodecMode::ulaw);
    EXPECT_NE(changed.find("rtp[9216]: do restart RTP session (change tx payload):"), std::string::npos) << changed;
    EXPECT_NE(changed.find(" - OK\n"), std::string::npos) << changed;
    EXPECT_EQ(changed.find("Nothing to do"), std::string::npos) << changed;
}

} // namespace
