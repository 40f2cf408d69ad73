#include "framework/text.h"

#include <cctype>
#include <gtest/gtest.h>
#include <iomanip>
#include <sstream>

TEST(TextTable, CellsAreCentredWithTheOddBlankOnTheRight)
{
    ext::Table t(5, 4);
    std::ostringstream os;
    os << t << ext::delimeter;
    os << t << ext::beginrow << "ab" << ext::nextrow << "xyz" << ext::nextrow;
    os << t << ext::delimeter;
    EXPECT_EQ("+-----+----+\n"
              "| ab  |xyz |\n"
              "+-----+----+\n",
              os.str());
}

TEST(TextTable, RowsCompletedAndOverflowWritten)
{
    ext::Table t(4, 2, 3);
    std::ostringstream os;
    // Numbers go through a cell buffer of their own: the target's hex flag
    // does not reach them.
    os << std::hex;
    os << t << ext::beginrow << 12 << ext::nextrow;
    EXPECT_EQ("| 12 |  |   |\n", os.str());

    // Too long for its column: written whole, no blanks.
    os.str("");
    os << t << ext::beginrow << "toolong" << ext::nextrow << std::string("a") << ext::nextrow << 7u << "x"
       << ext::nextrow;
    EXPECT_EQ("|toolong|a |7x |\n", os.str());

    // A full row ignores further cells until the next beginrow.
    os.str("");
    os << t << "late" << ext::nextrow;
    EXPECT_EQ("", os.str());

    // A delimiter first completes a started row.
    os.str("");
    os << t << ext::beginrow << "a" << ext::nextrow << ext::delimeter;
    EXPECT_EQ("| a  |  |   |\n+----+--+---+\n", os.str());

    os.str("");
    t.gap(os);
    EXPECT_EQ("|    |  |   |\n", os.str());
}

TEST(TextTable, ColumnsAddedAndEmptyTables)
{
    ext::Table none;
    std::ostringstream os;
    os << none << ext::delimeter << ext::beginrow << "x" << ext::nextrow;
    none.gap(os);
    EXPECT_EQ("", os.str());

    none.add(1);
    none.add(0);
    os << none << ext::delimeter << ext::beginrow << "" << ext::nextrow << "" << ext::nextrow;
    EXPECT_EQ("+-++\n| ||\n", os.str());

    ext::Table seven(1, 1, 1, 1, 1, 1, 1);
    os.str("");
    seven.delimeter(os);
    EXPECT_EQ("+-+-+-+-+-+-+-+\n", os.str());

    // A width below zero counts as zero.
    ext::Table neg(-3);
    os.str("");
    os << neg << ext::delimeter << ext::beginrow << "ab" << ext::nextrow;
    EXPECT_EQ("++\n|ab|\n", os.str());
}

TEST(TextHex, BytesAndNumbers)
{
    std::ostringstream os;
    unsigned char const bytes[] = {0x0A, 0xFF, 0x00};
    os << ext::hex(bytes, bytes + 2);
    EXPECT_EQ("0A FF ", os.str());
    os.str("");
    os << ext::hex(bytes, bytes);
    EXPECT_EQ("", os.str());
    os.str("");
    os << ext::hex(reinterpret_cast<char const*>(bytes), 3);
    EXPECT_EQ("0A FF 00 ", os.str());

    os.str("");
    os << ext::hex(26, 0) << ' ' << ext::hex(26u, 1) << ' ' << ext::hex(26, 4) << ' ' << ext::hex(0, 0) << ' '
       << ext::hex(0xDEADBEEFu, 2);
    EXPECT_EQ("0x1A 0x1A 0x001A 0x0 0xDEADBEEF", os.str());

    // The stream's own flags come back; the fill is a blank again.
    os.str("");
    os.fill('*');
    os << ext::hex(255, 4) << ' ' << 255 << ' ' << std::setw(3) << 7;
    EXPECT_EQ("0x00FF 255   7", os.str());
}

TEST(TextQuotedAndHeaders, WriteThroughTheObject)
{
    std::ostringstream os;
    os << ext::quoted("abc") << ext::quoted(std::string("")) << ext::quoted(42);
    EXPECT_EQ("\"abc\"\"\"\"42\"", os.str());

    struct Base
    {
        virtual ~Base() = default;
        virtual void PutHeader(std::ostream& o) const { o << "base: "; }
    };
    struct Derived : Base
    {
        void PutHeader(std::ostream& o) const override { o << "derived: "; }
        void PutShortInfo(std::ostream& o) const { o << "[info]"; }
    };
    Derived d;
    Base const* b = &d;
    os.str("");
    os << ext::header(b) << "text " << ext::shortinfo(&d);
    EXPECT_EQ("derived: text [info]", os.str());
}

TEST(TextTimestamp, DayMonthAndTime)
{
    std::ostringstream os;
    EXPECT_EQ(&os, &timestamp(os));
    std::string const shape = "dd/dd dd:dd:dd";
    std::string const text = os.str();
    ASSERT_EQ(shape.size(), text.size()) << text;
    for (std::size_t i = 0; i < shape.size(); ++i)
        EXPECT_TRUE(shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0 : shape[i] == text[i])
            << text;
}
