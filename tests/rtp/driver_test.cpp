#include "board/rtp_driver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

namespace {

template <class T>
std::string Text(T const& v)
{
    std::ostringstream os;
    os << v;
    return os.str();
}

TEST(RtpDriver, CodecNamesAndErrorTexts)
{
    EXPECT_STREQ(GetCodecAsStr(0), "unknown");
    EXPECT_STREQ(GetCodecAsStr(5), "g711-rtp");
    EXPECT_STREQ(GetCodecAsStr(8), "conf");
    EXPECT_STREQ(GetCodecAsStr(9), "invalid");
    EXPECT_STREQ(GetCodecAsStr(-1), "invalid");

    EXPECT_STREQ(RTPStrError(0), "No error");
    EXPECT_STREQ(RTPStrError(0x300010C), "Invalid port specified");
    EXPECT_STREQ(RTPStrError(0x300010E), "Unable to close session");
    EXPECT_STREQ(RTPStrError(0x3000122), "Don't send this packet now");
    // No text of its own: the unlisted form, in one reused buffer.
    const char* unknown = RTPStrError(0x300010D);
    EXPECT_STREQ(unknown, "Unknown RTP Error 50331917");
    EXPECT_EQ(RTPStrError(-5), unknown);
    EXPECT_STREQ(unknown, "Unknown RTP Error -5");

    errno = ENOENT;
    RtpErr e(0x3000105);
    errno = 0;
    EXPECT_EQ(e.code(), 0x3000105);
    EXPECT_EQ(Text(e), "No such file or directory");
}

} // namespace
