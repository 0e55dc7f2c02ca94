#include "mime/BoundaryScanner.h"

#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A scan answers where the data before a possible delimiter ends; an open
// match resumes on the next scan, a complete one is reported by isFound.
TEST(BoundaryScanner, ResumesAnOpenMatchAndFindsTheDelimiterStart)
{
    BoundaryScanner s;
    EXPECT_EQ("VEX_ASSERT(m_pat);", assertionText([&] { s.scan("x", 0, 1); }));
    const std::string pat = "\r\n--b";  // kept by pointer
    s.setPattern(pat);
    const char data[] = "ab\r\n--bc\r\r\n--b";
    EXPECT_EQ(2, s.scan(data, 0, 5));  // "\r\n-" still open at index 2
    EXPECT_EQ(0, s.isFound());
    EXPECT_EQ(2, s.scan(data, 2, 6));  // one more byte, still open
    EXPECT_EQ(2, s.scan(data, 2, 8));  // complete
    EXPECT_EQ(1, s.isFound());
    s.reset();
    EXPECT_EQ(9, s.scan(data, 7, 14));  // "\r\r" fails the match at 8, which restarts at 9
    EXPECT_EQ(1, s.isFound());
}

}  // namespace
