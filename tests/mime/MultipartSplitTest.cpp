// Whatever the read sizes of the body stream and of the caller, the multipart
// stream gives the same parts: checked against a plain reference split over
// many random bodies and boundaries, including boundaries whose prefixes (and
// near-misses of the whole delimiter) appear inside the part data.
#include "mime/BoundaryScanner.h"
#include "mime/SkrMPInputStream.h"

#include "platform/core/VexByteBuffer.h"
#include "support/ExpectVexError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A body stream whose block reads deliver random sizes (1 .. maxChunk).
class RandomChunkStream : public QioInputStream {
public:
    RandomChunkStream(std::string data, unsigned maxChunk, unsigned seed, bool unreadable)
        : m_data(std::move(data)), m_maxChunk(maxChunk), m_rng(seed), m_unreadable(unreadable)
    {
    }
    int read() override { return m_pos < m_data.size() ? static_cast<unsigned char>(m_data[m_pos++]) : -1; }
    unsigned read(char* buf, unsigned len) override
    {
        if (len == 0)
            return 0;
        if (m_pos >= m_data.size())
            return END;
        std::size_t n = std::uniform_int_distribution<unsigned>(1, m_maxChunk)(m_rng);
        n = std::min({n, static_cast<std::size_t>(len), m_data.size() - m_pos});
        std::memcpy(buf, m_data.data() + m_pos, n);
        m_pos += n;
        return static_cast<unsigned>(n);
    }
    unsigned read(VexByteBuffer& buf, unsigned len) override
    {
        std::string tmp(len, '\0');
        unsigned n = read(&tmp[0], len);
        if (n != END)
            buf.append(tmp.data(), n);
        return n;
    }
    int canUnread() override { return m_unreadable ? 1 : 0; }
    void unread(const char* bytes, unsigned len) override { m_data.insert(m_pos, bytes, len); }
    std::string rest() const { return m_data.substr(m_pos); }

private:
    std::string m_data;
    std::size_t m_pos = 0;
    unsigned m_maxChunk;
    std::mt19937 m_rng;
    bool m_unreadable;
};

struct Split {
    std::vector<std::string> parts;
    std::string after;  // bytes after the closing delimiter line
};

// The reference: leftmost occurrences of the delimiter, each followed by two
// bytes that are "--" for the closing one.
Split referenceSplit(const std::string& body, const std::string& delimiter)
{
    Split s;
    std::size_t at = body.find(delimiter);
    for (;;) {
        std::size_t after = at + delimiter.size();
        if (body.compare(after, 2, "--") == 0) {
            s.after = body.substr(std::min(body.size(), after + 4));
            return s;
        }
        std::size_t start = after + 2;
        std::size_t next = body.find(delimiter, start);
        s.parts.push_back(body.substr(start, next - start));
        at = next;
    }
}

std::string randomBoundary(std::mt19937& rng)
{
    static const char alphabet[] = "abcXYZ019-_=+'()./:?";
    std::size_t len = std::uniform_int_distribution<std::size_t>(1, 70)(rng);
    // Repetitive boundaries ("aaaa") give the most partial matches.
    bool repetitive = rng() % 3 == 0;
    std::string b;
    for (std::size_t i = 0; i < len; ++i)
        b += repetitive ? (rng() % 5 ? 'a' : 'b') : alphabet[rng() % (sizeof alphabet - 1)];
    return b;
}

std::string randomPart(std::mt19937& rng, const std::string& delimiter)
{
    std::string p;
    std::size_t pieces = std::uniform_int_distribution<std::size_t>(0, 12)(rng);
    for (std::size_t i = 0; i < pieces; ++i) {
        switch (rng() % 6) {
        case 0: {  // a proper prefix of the delimiter
            std::size_t k = std::uniform_int_distribution<std::size_t>(1, delimiter.size() - 1)(rng);
            p += delimiter.substr(0, k);
            break;
        }
        case 1: {  // the whole delimiter with one byte changed
            std::string d = delimiter;
            d[rng() % d.size()] ^= 0x20;
            p += d;
            break;
        }
        case 2:
            p += "\r\n";
            break;
        case 3:
            p += static_cast<char>(rng() % 256);
            break;
        default: {
            std::size_t n = std::uniform_int_distribution<std::size_t>(0, 1500)(rng);
            for (std::size_t j = 0; j < n; ++j)
                p += static_cast<char>(rng() % 4 == 0 ? "\r\n-"[rng() % 3] : 'a' + rng() % 26);
        }
        }
    }
    return p;
}

enum Reader { WholeBlocks, ByteReads, SmallBlocks, BufferReads, Lines, Mixed };

std::string readPart(SkrMPInputStream& mp, Reader how, std::mt19937& rng)
{
    std::string out;
    char buf[4096];
    VexByteBuffer vb(16, 16);
    for (;;) {
        Reader r = how == Mixed ? static_cast<Reader>(rng() % 5) : how;
        if (r == WholeBlocks || r == SmallBlocks) {
            unsigned len = r == WholeBlocks ? sizeof buf : 1 + rng() % 9;
            unsigned n = mp.read(buf, len);
            if (n == QioInputStream::END)
                return out;
            EXPECT_GE(n, 1u);
            EXPECT_LE(n, len);
            out.append(buf, n);
        } else if (r == ByteReads) {
            int c = mp.read();
            if (c == -1)
                return out;
            EXPECT_GE(c, 0);
            EXPECT_LE(c, 255);
            out += static_cast<char>(c);
        } else if (r == BufferReads) {
            vb.reset();
            unsigned n = mp.read(vb, 1 + rng() % 300);
            if (n == QioInputStream::END)
                return out;
            EXPECT_EQ(n, vb.length());
            out.append(vb.getData(), vb.length());
        } else {
            vb.reset();
            int n = mp.readline(vb);
            out.append(vb.getData(), vb.length());
            if (n == 0)
                return out;
            EXPECT_EQ(static_cast<unsigned>(n), vb.length());
            EXPECT_EQ("\r\n", std::string(vb.getData() + vb.length() - 2, 2));
        }
    }
}

TEST(MultipartSplit, SameFromEveryReadSizeAsTheReferenceSplit)
{
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        const std::string boundary = randomBoundary(rng);
        const std::string delimiter = "\r\n--" + boundary;
        std::string body = "\r\n";
        if (rng() % 2)
            body = randomPart(rng, delimiter) + "\r\n";  // a preamble
        std::size_t count = rng() % 6;
        for (std::size_t i = 0; i < count; ++i)
            body += "--" + boundary + "\r\n" + randomPart(rng, delimiter) + "\r\n";
        body += "--" + boundary + "--\r\n";
        if (rng() % 2)
            body += "trailing bytes of the next message";
        const Split want = referenceSplit(body, delimiter);

        struct Way {
            unsigned maxChunk;
            Reader reader;
        };
        const Way ways[] = {{1u << 20, WholeBlocks}, {1, ByteReads}, {1, WholeBlocks}, {7, SmallBlocks},
                            {300, BufferReads},      {2000, Lines},  {5, Lines},       {1100, Mixed}};
        for (const Way& w : ways) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " chunk " << w.maxChunk << " reader " << w.reader);
            RandomChunkStream in(body, w.maxChunk, seed, true);
            SkrMPInputStream mp(in, boundary);
            std::vector<std::string> got;
            while (mp.hasNextPart()) {
                mp.nextPart();
                got.push_back(readPart(mp, w.reader, rng));
                if (got.size() > want.parts.size() + 1)
                    break;
            }
            ASSERT_EQ(want.parts, got);
            mp.unWrap();
            // Bytes after the closing delimiter line are the body stream's
            // again. The CR LF that ends that line is only taken when a refill
            // happened to read it (refills stop at delimiter length + 2 bytes),
            // so up to those two bytes may still stand in front.
            const std::string rest = in.rest();
            if (w.maxChunk >= body.size()) {
                EXPECT_EQ(want.after, rest);
            }
            ASSERT_GE(rest.size(), want.after.size());
            EXPECT_EQ(want.after, rest.substr(rest.size() - want.after.size()));
            const std::string front = rest.substr(0, rest.size() - want.after.size());
            EXPECT_TRUE(front.empty() || front == "\n" || front == "\r\n") << front;
        }
    }
}

TEST(MultipartSplit, PartsLeftUnreadAreSkippedTheSame)
{
    for (unsigned seed = 1; seed <= 100; ++seed) {
        std::mt19937 rng(seed);
        const std::string boundary = randomBoundary(rng);
        const std::string delimiter = "\r\n--" + boundary;
        std::string body = "\r\n";
        for (int i = 0; i < 4; ++i)
            body += "--" + boundary + "\r\n" + randomPart(rng, delimiter) + "\r\n";
        body += "--" + boundary + "--\r\n";
        const Split want = referenceSplit(body, delimiter);
        RandomChunkStream in(body, 1 + rng() % 40, seed, false);
        SkrMPInputStream mp(in, boundary);
        std::size_t index = 0;
        while (mp.hasNextPart()) {
            mp.nextPart();
            // Read only the odd parts, and of those a few bytes at most.
            if (index % 2) {
                char buf[3];
                unsigned n = mp.read(buf, sizeof buf);
                std::string head = n == QioInputStream::END ? "" : std::string(buf, n);
                EXPECT_EQ(want.parts[index].substr(0, head.size()), head);
            }
            ++index;
        }
        EXPECT_EQ(want.parts.size(), index);
    }
}

// The scanner's result sequence equals that of the plain restart search,
// transcribed here byte for byte, whatever the split of the scanned ranges.
struct RestartScan {
    std::string pat;
    unsigned matched = 0;
    bool found = false;
    int scan(const char* buf, int start, int end)
    {
        int i = start + static_cast<int>(matched);
        int last = start - 1;
        while (i < end) {
            if (buf[i] == pat[matched]) {
                ++matched;
                if (matched == pat.size()) {
                    found = true;
                    matched = 0;
                    return i - static_cast<int>(pat.size()) + 1;
                }
            } else {
                i = i - static_cast<int>(matched);
                last = i;
                matched = 0;
            }
            ++i;
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
        std::string pat;
        if (rng() % 2) {
            pat = "\r\n--" + std::string(1 + rng() % 70, 'a');
            pat[4 + rng() % (pat.size() - 4)] = 'b';
        } else {
            std::size_t len = 1 + rng() % 12;
            for (std::size_t i = 0; i < len; ++i)
                pat += "\r\n-ab"[rng() % 5];
        }
        std::string data;
        std::size_t n = rng() % 400;
        for (std::size_t i = 0; i < n; ++i) {
            if (rng() % 8 == 0)
                data += pat.substr(0, 1 + rng() % pat.size());
            else
                data += "\r\n-ab"[rng() % 5];
        }
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
            if (slow.found) {
                // Step over the delimiter and look for the next one.
                fast.reset();
                slow.found = false;
                slow.matched = 0;
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
    std::string pat = "\r\n--b";
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
