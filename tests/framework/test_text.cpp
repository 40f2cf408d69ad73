#include "framework/text.h"

#include <gtest/gtest.h>
#include <sstream>

TEST(TextTable, CentringOverflowAndRowCompletion)
{
    ext::Table t(5, 4);
    std::ostringstream os;
    // The odd blank goes to the right.
    os << t << ext::delimeter << ext::beginrow << "ab" << ext::nextrow << "xyz" << ext::nextrow;
    EXPECT_EQ("+-----+----+\n| ab  |xyz |\n", os.str());

    // Too long for its column: written whole; a delimiter first completes a started row.
    ext::Table u(4, 2, 3);
    os.str("");
    os << std::hex << u << ext::beginrow << "toolong" << ext::nextrow << 12 << ext::nextrow << ext::delimeter;
    EXPECT_EQ("|toolong|12|   |\n+----+--+---+\n", os.str());
}
