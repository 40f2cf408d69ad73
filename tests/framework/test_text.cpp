#include "framework/text.h"

#include <gtest/gtest.h>
#include <sstream>

TEST(TextTable, CentringOverflowAndRowCompletion)
{
    ext::Table t(5, 4);
    std::ostringstream os;
    // The odd blank goes to the right; a cell past the last column is dropped.
    os << t << ext::delimeter << ext::beginrow << "ab" << ext::nextrow << "xyz" << ext::nextrow << "c" << ext::nextrow;
    EXPECT_EQ("+-----+----+\n| ab  |xyz |\n", os.str());

    // Too long for its column: written whole; a delimiter first completes a started row.
    ext::Table u(4, 2, 3);
    os.str("");
    os << std::hex << u << ext::beginrow << "toolong" << ext::nextrow << 12 << ext::nextrow << ext::delimeter;
    EXPECT_EQ("|toolong|12|   |\n+----+--+---+\n", os.str());
}

// Whatever a log reader takes for a line end (UTF-8 U+2028, NEL, a terminal's
// CSI) is written as \xHH; printable ASCII stays as it is.
TEST(TextEscape, EveryOctetOutsidePrintableAscii)
{
    std::string out;
    ext::escape(out, std::string("~\x7f\x80\xe2\x80\xa8\xc2\x85\x9b\xff\x1f ", 12));
    EXPECT_EQ(out, "~\\x7f\\x80\\xe2\\x80\\xa8\\xc2\\x85\\x9b\\xff\\x1f ");
}
