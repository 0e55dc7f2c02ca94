#include "mime/BoundaryScanner.h"

#include "support/ExpectVexError.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// The plain restart search, transcribed byte for byte: the scanner's results
// must equal it whatever the split of the scanned ranges.
struct RestartScan {
    std::string pat;
    unsigned matched = 0;
    bool found = false;
    int scan(const char* buf, int start, int end)
    {
        int i = start + static_cast<int>(matched);
        int last = start - 1;
        for (; i < end; ++i) {
            if (buf[i] != pat[matched]) {
                i -= static_cast<int>(matched);
                last = i;
                matched = 0;
            } else if (++matched == pat.size()) {
                found = true;
                matched = 0;
                return i - static_cast<int>(pat.size()) + 1;
            }
        }
        return last + 1;
    }
};

TEST(BoundaryScanner, SameResultsAsThePlainRestartSearch)
{
    for (unsigned seed = 1; seed <= 2000; ++seed) {
        std::mt19937 rng(seed);
        // Delimiter-like patterns, and arbitrary ones over a small alphabet in
        // which the first byte recurs (the search must not rely on it not doing so).
        std::string pat, data;
        if (rng() % 2) {
            pat = "\r\n--" + std::string(1 + rng() % 70, 'a');
            pat[4 + rng() % (pat.size() - 4)] = 'b';
        } else {
            for (std::size_t i = 0, len = 1 + rng() % 12; i < len; ++i)
                pat += "\r\n-ab"[rng() % 5];
        }
        for (std::size_t i = 0, n = rng() % 400; i < n; ++i)
            data += rng() % 8 == 0 ? pat.substr(0, 1 + rng() % pat.size()) : std::string(1, "\r\n-ab"[rng() % 5]);
        BoundaryScanner fast;
        fast.setPattern(pat);
        RestartScan slow{pat};
        // Scan as the stream does: ranges growing by random steps, each scan
        // starting where the previous one left its (possibly open) match.
        int startFast = 0, startSlow = 0, end = 0;
        while (end < static_cast<int>(data.size())) {
            end = std::min<int>(static_cast<int>(data.size()), end + 1 + static_cast<int>(rng() % 20));
            int a = fast.scan(data.data(), startFast, end);
            int b = slow.scan(data.data(), startSlow, end);
            ASSERT_EQ(b, a) << "seed " << seed;
            ASSERT_EQ(slow.found ? 1 : 0, fast.isFound()) << "seed " << seed;
            if (slow.found) {  // step over the delimiter and look for the next one
                fast.reset();
                slow.found = false;
                startFast = startSlow = std::min(end, a + static_cast<int>(pat.size()));
            } else {
                startFast = a;
                startSlow = b;
            }
        }
    }
}

TEST(BoundaryScanner, AssertsItsArgumentsAndResumesAnOpenMatch)
{
    BoundaryScanner s;
    EXPECT_EQ("VEX_ASSERT(m_pat);", assertionText([&] { s.scan("x", 0, 1); }));
    const std::string pat = "\r\n--b";  // kept by pointer
    s.setPattern(pat);
    EXPECT_EQ("VEX_ASSERT(buf);", assertionText([&] { s.scan(nullptr, 0, 1); }));
    const char data[] = "ab\r\n--bc";
    EXPECT_EQ(2, s.scan(data, 0, 5));  // "\r\n-" still open at index 2
    EXPECT_EQ(0, s.isFound());
    EXPECT_EQ(2, s.scan(data, 2, 6));  // one more byte, still open
    EXPECT_EQ(2, s.scan(data, 2, 8));  // complete
    EXPECT_EQ(1, s.isFound());
    s.reset();
    EXPECT_EQ(0, s.isFound());
    EXPECT_EQ(9, s.scan(data, 7, 9));  // nothing open: the end
}

}  // namespace
