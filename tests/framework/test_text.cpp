#include "framework/text.h"

#include <gtest/gtest.h>
#include <iomanip>
#include <sstream>

TEST(TextTable, CentringOverflowAndRowCompletion)
{
    ext::Table t(5, 4);
    std::ostringstream os;
    // The odd blank goes to the right; a cell past the last column is dropped.
    os << t << ext::delimeter << ext::beginrow << "ab" << ext::nextrow << "xyz" << ext::nextrow << "c" << ext::nextrow;
    EXPECT_EQ("+-----+----+\n| ab  |xyz |\n", os.str());

    ext::Table u(4, 2, 3);
    os.str("");
    // Numbers go through a cell buffer of their own: the hex flag does not reach them.
    os << std::hex << u << ext::beginrow << 12 << ext::nextrow;
    EXPECT_EQ("| 12 |  |   |\n", os.str());

    // Too long for its column: written whole; a full row ignores further cells.
    os.str("");
    os << u << ext::beginrow << "toolong" << ext::nextrow << "a" << ext::nextrow << 7u << "x" << ext::nextrow;
    os << u << "late" << ext::nextrow;
    EXPECT_EQ("|toolong|a |7x |\n", os.str());

    // A delimiter first completes a started row; a negative width counts as 0.
    os.str("");
    os << u << ext::beginrow << "a" << ext::nextrow << ext::delimeter;
    ext::Table neg(-3);
    os << neg << ext::delimeter << ext::beginrow << "ab" << ext::nextrow;
    EXPECT_EQ("| a  |  |   |\n+----+--+---+\n++\n|ab|\n", os.str());
}

TEST(TextHex, BytesNumbersAndStreamStateRestored)
{
    std::ostringstream os;
    unsigned char const bytes[] = {0x0A, 0xFF, 0x00};
    os << ext::hex(bytes, bytes + 2) << "|" << ext::hex(reinterpret_cast<char const*>(bytes), 3) << "|";
    os << ext::hex(26, 0) << ' ' << ext::hex(26, 4) << ' ' << ext::hex(0, 0) << ' ' << ext::hex(0xDEADBEEFu, 2);
    EXPECT_EQ("0A FF |0A FF 00 |0x1A 0x001A 0x0 0xDEADBEEF", os.str());

    os.str("");
    os.fill('*');
    os << ext::hex(255, 4) << ' ' << 255 << ' ' << std::setw(3) << 7;
    EXPECT_EQ("0x00FF 255   7", os.str());
}

// Whatever a log reader takes for a line end (UTF-8 U+2028, NEL, a terminal's
// CSI) is written as \xHH; printable ASCII stays as it is.
TEST(TextEscape, EveryOctetOutsidePrintableAscii)
{
    std::string out;
    ext::escape(out, std::string("~\x7f\x80\xe2\x80\xa8\xc2\x85\x9b\xff\x1f ", 12));
    EXPECT_EQ(out, "~\\x7f\\x80\\xe2\\x80\\xa8\\xc2\\x85\\x9b\\xff\\x1f ");

    // quoted() is the escaped text between double quotes; escaped() is bare.
    std::ostringstream os;
    std::string const text("a\"b\0", 4);
    ext::OutQuoted const q = ext::quoted(text);
    os << q << '|' << ext::quoted("abc") << '|' << ext::escaped("a\nb") << '|' << ext::quoted("");
    EXPECT_EQ(os.str(), "\"a\\\"b\\x00\"|\"abc\"|a\\nb|\"\"");
}
