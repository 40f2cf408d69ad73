// The RTP driver records as the log shows them, the codec names and the
// RTP library's error texts, each field and each end of the tables.

#include "board/rtp_driver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>

namespace {

TEST(RtpDriverText, EveryCodecNameAndTheIndexesAroundThem)
{
    const char* const names[] = {"unknown",  "g711",     "g723",     "g729", "tonec",
                                 "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
    for (int i = 0; i < 9; ++i)
        EXPECT_STREQ(GetCodecAsStr(i), names[i]) << i;
    EXPECT_STREQ(GetCodecAsStr(-1), "invalid");
    EXPECT_STREQ(GetCodecAsStr(9), "invalid");
}

TEST(RtpDriverText, ErrorTextsAtTheEndsOfTheTable)
{
    EXPECT_STREQ(RTPStrError(0), "No error");
    EXPECT_STREQ(RTPStrError(0x3000002), "Parameter out of range");
    EXPECT_STREQ(RTPStrError(0x3000101), "Maximum number of contexts exceeded");
    EXPECT_STREQ(RTPStrError(0x300010C), "Invalid port specified");
    EXPECT_STREQ(RTPStrError(0x300010E), "Unable to close session");
    EXPECT_STREQ(RTPStrError(0x3000122), "Don't send this packet now");
    EXPECT_EQ(std::string(RTPStrError(0x3000123)), "Unknown RTP Error 50331939");
    EXPECT_EQ(std::string(RTPStrError(0x3000001)), "Unknown RTP Error 50331649");
    EXPECT_EQ(std::string(RTPStrError(-2147483647 - 1)), "Unknown RTP Error -2147483648");

    errno = EPIPE;
    RtpErr e(0x3000107);
    errno = 0;
    EXPECT_EQ(e.error(), EPIPE);
    EXPECT_EQ(e.code(), 0x3000107);
    std::ostringstream os;
    os << e;
    EXPECT_EQ(os.str(), std::strerror(EPIPE));
    EXPECT_EQ(RtpErr().code(), 0);
}

TEST(RtpDriverText, RecordsPrintEachFieldUnderItsName)
{
    std::ostringstream os;
    rtp_connection_params c{};
    c.packet_factor = 3;
    c.rx_pt = 18;
    c.tx_pt = 8;
    c.ssrc = 4000000001u;
    os << c;
    EXPECT_EQ(os.str(), "  rtp_connection_params\n  {\n   packet_factor = 3\n   rx_pt = 18\n   tx_pt = 8\n"
                        "   ssrc = 4000000001\n  }\n");
    os.str("");
    os << rtp_attach_session_params{11, 2202} << rtp_ext_attach_session_params{12, -1};
    EXPECT_EQ(os.str(), "  rtp_attach_session_params\n  {\n   fd_rtp = 11\n   pid_rtp = 2202\n  }\n"
                        "  rtp_ext_attach_session_params\n  {\n   fd_rtp = 12\n   pid_rtp = -1\n  }\n");
    os.str("");
    rtp_ext_init_params init{};
    init.etype = 359;
    init.eparam = 1;
    os << init;
    EXPECT_EQ(os.str(), "  rtp_ext_init_params\n  {\n   etype = 359\n  }\n");
    os.str("");
    os << rtp_channel_info{8704, -1, 7};
    EXPECT_EQ(os.str(), "rtp_channel_info { tdm=8704 dev_no=-1 chn=7 }");
}

} // namespace
