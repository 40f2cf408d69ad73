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

TEST(RtpDriverText, EveryErrorTextAndTheCodesAroundThem)
{
    const struct {
        int code;
        const char* text;
    } errors[] = {
        {0, "No error"},
        {0x3000002, "Parameter out of range"},
        {0x3000004, "Memory allocation failed"},
        {0x3000008, "Allocated buffer too small"},
        {0x3000101, "Maximum number of contexts exceeded"},
        {0x3000102, "Context destroyed or never created"},
        {0x3000103, "Socket not open for reading or writing"},
        {0x3000104, "Can't obtain a new socket"},
        {0x3000105, "Can't bind socket"},
        {0x3000106, "Unable to set socket option"},
        {0x3000107, "Unable to write to socket"},
        {0x3000108, "Unable to read from socket"},
        {0x3000109, "Socket does not belong to session"},
        {0x300010A, "Change not allowed during open session"},
        {0x300010B, "Invalid address specified"},
        {0x300010C, "Invalid port specified"},
        {0x300010E, "Unable to close session"},
        {0x300010F, "No such membership info"},
        {0x3000110, "Invalid rtpprofile specified"},
        {0x3000111, "no data to receive at socket"},
        {0x3000112, "Packet looped back"},
        {0x3000113, "CSRC list not yet set"},
        {0x3000114, "2 CSRCs on list have same SSRC"},
        {0x3000115, "Packet has incorrect format"},
        {0x3000116, "Person not session member"},
        {0x3000117, "Person data protected"},
        {0x3000118, "No such sender in current session"},
        {0x3000119, "No such SDES field"},
        {0x300011A, "Encryption / decryption function not set"},
        {0x300011B, "Packet was unsuccessfully decrypted"},
        {0x300011C, "End of iterating list"},
        {0x300011D, "Not allowed to recurse"},
        {0x300011E, "SSRC in use"},
        {0x300011F, "Couldn't get socket name"},
        {0x3000120, "No such contributor"},
        {0x3000121, "CSRC list full"},
        {0x3000122, "Don't send this packet now"},
    };
    for (auto const& e : errors)
        EXPECT_STREQ(RTPStrError(e.code), e.text) << std::hex << e.code;
    for (int unlisted : {0x3000003, 0x3000100})
        EXPECT_EQ(RTPStrError(unlisted), "Unknown RTP Error " + std::to_string(unlisted));
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
