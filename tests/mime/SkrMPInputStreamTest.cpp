#include "mime/SkrMPInputStream.h"

#include "platform/core/VexByteBuffer.h"
#include "support/ExpectThrow.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

enum Reader { Blocks, Bytes, Buffers, Lines };

// Reads the current part to its end the way `how` says, checking what each call returns.
std::string readPart(SkrMPInputStream& mp, Reader how)
{
    std::string out;
    char buf[100];
    VexByteBuffer vb(8, 8);
    for (;;) {
        vb.reset();
        if (how == Bytes) {
            int c = mp.read();
            if (c == -1) {
                EXPECT_EQ(-1, mp.read());  // the end stays the end
                return out;
            }
            out += static_cast<char>(c);
        } else if (how == Lines) {
            // A line ending in CR LF gives its length; the last one without: 0.
            int n = mp.readline(vb);
            out.append(vb.getData(), vb.length());
            if (n == 0)
                return out;
            EXPECT_EQ(static_cast<int>(vb.length()), n);
            EXPECT_EQ("\r\n", std::string(vb.getData() + vb.length() - 2, 2));
        } else {
            const unsigned len = how == Buffers ? 3 : sizeof buf;
            const unsigned n = how == Buffers ? mp.read(vb, len) : mp.read(buf, len);
            if (n == QioInputStream::END)
                return out;
            EXPECT_GE(n, 1u);
            EXPECT_LE(n, len);
            out += how == Buffers ? std::string(vb.getData(), vb.length()) : std::string(buf, n);
        }
    }
}

std::vector<std::string> allParts(SkrMPInputStream& mp, Reader how)
{
    std::vector<std::string> parts;
    while (mp.hasNextPart()) {
        mp.nextPart();
        parts.push_back(readPart(mp, how));
    }
    return parts;
}

// Each body is read in reads of every size up to 9 bytes, and of 700, 1021
// and all at once, with every reader.
TEST(MPInputStream, SplitsAtEveryReadSizeWithEveryReader)
{
    const std::string p3000(3000, 'p'), ab = "\r\n--b\r\nA\r\n--b\r\nB\r\n--b--\r\n";
    // A long repetitive boundary; prefixes and near-misses of its delimiter in the data, across refills.
    const std::string a69(69, 'a'), longB = a69 + "b", nearMiss = std::string(900, 'x') + "\r\n--" + a69 + "\r\n--" + a69 + "a" +
                                                                   "\r\n-" + "\r\n--" + a69 + "c" + std::string(200, 'y');
    const struct { const char* label; std::string body; std::string boundary; std::vector<std::string> parts; } cases[] = {
        {"headers, empty line, body", "\r\n--b\r\nX: 1\r\n\r\nhello\r\n--b--\r\n", "b", {"X: 1\r\n\r\nhello"}},
        {"CR LF inside a part, a part of CR LF -b", "\r\n--b\r\nX: 1\r\n\r\nhello\r\n\r\n--b\r\n\r\n-b\r\n--b--\r\n", "b", {"X: 1\r\n\r\nhello\r\n", "\r\n-b"}},
        {"boundary as given", ab, "b", {"A", "B"}},
        {"delimiter split across refills", "\r\n--bnd\r\n" + p3000 + "\r\n--bnd--\r\n", "bnd", {p3000}},
        {"near-misses of a long delimiter", "\r\n--" + longB + "\r\n" + nearMiss + "\r\n--" + longB + "--\r\n", longB, {nearMiss}},
        // "--bX" inside a part ends it at the CR LF; X and the byte after it are
        // stepped over unchecked. A CR LF not followed by --b is data.
        {"delimiter recognised by its bytes alone", "\r\n--b\r\nline1\r\nnot--b\r\n-b\r\n--bXYsecond\r\n--b--\r\n", "b",
         {"line1\r\nnot--b\r\n-b", "second"}},
        {"preamble, an empty part, epilogue", "This is the preamble.\r\n--b\r\n\r\n--b\r\nz\r\n--b--\r\nepilogue", "b", {"", "z"}},
    };
    for (const auto& c : cases) {
        std::vector<unsigned> sizes = {0u, 700u, 1021u};
        for (unsigned cut = 1; cut <= 9; ++cut)
            sizes.push_back(cut);
        for (unsigned maxRead : sizes) {
            for (Reader how : {Blocks, Bytes, Buffers, Lines}) {
                SCOPED_TRACE(testing::Message() << c.label << " / reads of " << maxRead << " / reader " << how);
                MemoryInputStream mem(c.body, maxRead);
                SkrMPInputStream mp(mem, c.boundary);
                noThrowable([&] {
                    EXPECT_EQ(c.parts, allParts(mp, how));
                    EXPECT_EQ(0, mp.hasNextPart());
                    mp.unWrap();
                });
                if (HasFailure())
                    return;  // one failing row is report enough
            }
        }
    }
}

// Block and buffer reads give no more than known part data; buffer reads and
// readline append; nextPart needs a part to follow.
TEST(MPInputStream, CallsWithinAPart)
{
    MemoryInputStream mem("\r\n--b\r\nabcdef\r\n--b\r\n>a\rb\r\n--b--\r\n");
    SkrMPInputStream mp(mem, "b");
    EXPECT_EQ("SkrMPInputStream::nextPart - no part follows", illegalStateText([&] { mp.nextPart(); }));  // before hasNextPart
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    char block[2];
    VexByteBuffer buf;
    buf.append("kept");
    EXPECT_EQ(2u, mp.read(block, 2));
    EXPECT_EQ(4u, mp.read(buf, 10));
    EXPECT_EQ(QioInputStream::END, mp.read(buf, 10));
    EXPECT_STREQ("keptcdef", buf.getData());
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ(0, mp.readline(buf));
    EXPECT_STREQ("keptcdef>a\rb", buf.getData());
    EXPECT_EQ(0, mp.hasNextPart());
}

TEST(MPInputStream, BodyWithoutClosingDelimiterFailsForEveryReader)
{
    const struct { const char* label; std::string body; std::string boundary; } cases[] = {
        {"no delimiter at all", "just some bytes that never end the part", "b"},
        {"part never ends", "\r\n--b\r\nabc", "b"},
        {"one byte after the last delimiter", "\r\n--b\r\nabc\r\n--b-", "b"},
        {"boundary longer than a refill", "\r\n--" + std::string(1100, 'b') + "\r\nx", std::string(1100, 'b')},
    };
    for (const auto& c : cases) {
        for (unsigned maxRead : {0u, 1u}) {
            for (Reader how : {Blocks, Bytes, Buffers, Lines}) {
                SCOPED_TRACE(testing::Message() << c.label << " / reads of " << maxRead << " / reader " << how);
                MemoryInputStream mem(c.body, maxRead);
                SkrMPInputStream mp(mem, c.boundary);
                expectSkarnError([&] { allParts(mp, how); }, {20, 1842200362u, "", "SkrMPInputStream::readMore"});
                EXPECT_EQ(0, mp.hasNextPart());  // after the body stream's end there is no next part
            }
        }
    }
}

TEST(MPInputStream, UnWrapGivesBytesAfterTheClosingDelimiterBack)
{
    const std::string next = "HTTP/1.1 200 OK\r\nNext: message\r\n\r\n";
    const std::string body = "\r\n--b\r\none\r\n--b\r\ntwo\r\n--b--\r\n" + next;
    // With small body reads the refill stops once the delimiter and the two
    // bytes after it ("--") are in; the CR LF ending the closing line then
    // stays in the body stream in front of the next bytes. A body stream that
    // takes nothing back is left alone.
    const struct {
        unsigned maxRead;
        bool unreadable;
        std::string rest;
    } cases[] = {{0u, true, next}, {13u, true, next}, {1u, true, "\r\n" + next}, {0u, false, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.maxRead << (c.unreadable ? "" : " no unread"));
        MemoryInputStream mem(body, c.maxRead, c.unreadable);
        SkrMPInputStream mp(mem, "b");
        EXPECT_EQ((std::vector<std::string>{"one", "two"}), allParts(mp, Blocks));
        noThrowable([&] { mp.unWrap(); });
        EXPECT_EQ(c.rest, mem.rest());
    }
    MemoryInputStream mem(body);
    SkrMPInputStream partLeft(mem, "b");
    ASSERT_EQ(1, partLeft.hasNextPart());
    partLeft.nextPart();
    EXPECT_EQ("HTTP multipart message has a not-read part - SkrMPInputStream::unWrap", illegalStateText([&] { partLeft.unWrap(); }));
}

}  // namespace
