#include "mime/SkrMPInputStream.h"

#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioBlockInputStream.h"
#include "platform/streams/QioBufferedInputStream.h"
#include "platform/streams/QioChunkedInputStream.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/ExpectThrow.h"
#include "support/ExpectVexError.h"
#include "support/FailingInputStream.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const unsigned kStructure = 1842200362u;
const unsigned kNotSupported = 1841854490u;

enum Reader { Blocks, SmallBlocks, Bytes, Buffers, Lines };
const Reader kReaders[] = {Blocks, SmallBlocks, Bytes, Buffers, Lines};

// Reads the current part to its end the way `how` says, checking what each call returns.
std::string readPart(SkrMPInputStream& mp, Reader how)
{
    std::string out;
    char buf[100];
    VexByteBuffer vb(8, 8);
    for (;;) {
        if (how == Bytes) {
            int c = mp.read();
            if (c == -1) {
                EXPECT_EQ(-1, mp.read());  // the end stays the end
                return out;
            }
            out += static_cast<char>(c);
        } else if (how == Lines) {
            vb.reset();
            int n = mp.readline(vb);
            std::string line(vb.getData(), vb.length());
            out += line;
            // A line ending in CR LF gives its length; the last one without: 0.
            if (n == 0)
                return out;
            EXPECT_EQ(static_cast<int>(line.size()), n);
            EXPECT_EQ("\r\n", line.substr(line.size() - 2));
        } else {
            const unsigned len = how == SmallBlocks ? 3 : sizeof buf;
            vb.reset();
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

struct SplitCase {
    const char* label;
    std::string body;
    std::string boundary;
    std::vector<std::string> parts;
};

TEST(MPInputStream, SplitsAtEveryReadSizeWithEveryReader)
{
    const std::string p3000(3000, 'p'), l5000(5000, 'L');
    const std::string ab = "\r\n--b\r\nA\r\n--b\r\nB\r\n--b--\r\n";
    const std::vector<SplitCase> cases = {
        {"header lines, empty line, body", "\r\n--b\r\nX: 1\r\n\r\nhello\r\n--b--\r\n", "b", {"X: 1\r\n\r\nhello"}},
        {"CR LF inside a part, and a part of CR LF -b",
         "\r\n--b\r\nX: 1\r\n\r\nhello\r\n\r\n--b\r\n\r\n-b\r\n--b--\r\n", "b", {"X: 1\r\n\r\nhello\r\n", "\r\n-b"}},
        {"boundary as given", ab, "b", {"A", "B"}},
        {"boundary in quotes", ab, "\"b\"", {"A", "B"}},
        {"boundary with its CR LF -- prefix", ab, "\r\n--b", {"A", "B"}},
        {"boundary with one quote", ab, "b\"", {"A", "B"}},
        {"quote inside the boundary", "\r\n--ab\r\nX\r\n--ab--\r\n", "a\"b", {"X"}},
        {"delimiter split across refills", "\r\n--bnd\r\n" + p3000 + "\r\n--bnd--\r\n", "bnd", {p3000}},
        // "--bX" inside a part ends it at the CR LF; X and the byte after it are
        // stepped over unchecked. A CR LF not followed by --b is data.
        {"delimiter recognised by its bytes alone", "\r\n--b\r\nline1\r\nnot--b\r\n-b\r\n--bXYsecond\r\n--b--\r\n", "b",
         {"line1\r\nnot--b\r\n-b", "second"}},
        {"failed match resumes one byte after its start", "\r\n--b\r\ndata\r\n\r\n--b--\r\n", "b", {"data\r\n"}},
        {"bytes FF and 00 are data", std::string("\r\n--b\r\n\xFF\x00\xFE\r\n--b--\r\n", 19), "b",
         {std::string("\xFF\x00\xFE", 3)}},
        {"preamble, an empty part, epilogue", "This is the preamble.\r\n--b\r\n\r\n--b\r\nz\r\n--b--\r\nepilogue", "b",
         {"", "z"}},
        {"last line without CR LF, lone CR", "\r\n--b\r\nfirst\r\nlast\r\n--b\r\na\rb\r\n--b--\r\n", "b",
         {"first\r\nlast", "a\rb"}},
        {"long line across many refills", "\r\n--b\r\n" + l5000 + "\r\nend\r\n--b--\r\n", "b", {l5000 + "\r\nend"}},
    };
    for (const SplitCase& c : cases) {
        std::vector<unsigned> sizes = {0u, 700u, 1021u};
        for (unsigned cut = 1; cut <= std::min<std::size_t>(c.body.size(), 64); ++cut)
            sizes.push_back(cut);
        for (unsigned maxRead : sizes) {
            for (Reader how : kReaders) {
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

TEST(MPInputStream, CallsWithinAPart)
{
    MemoryInputStream mem("\r\n--b\r\nabcdef\r\n--b\r\nhello\r\n--b\r\n>a\rb\r\n--b--\r\n");
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    // Reads of nothing change nothing; a block read gives no more than known part data.
    char block[100] = "q";
    EXPECT_EQ(0u, mp.read(block, 0));
    EXPECT_EQ('q', block[0]);
    VexByteBuffer buf;
    buf.append("kept");
    EXPECT_EQ(0u, mp.read(buf, 0));
    EXPECT_STREQ("kept", buf.getData());
    EXPECT_EQ(2u, mp.read(block, 2));
    EXPECT_EQ("ab", std::string(block, 2));
    // The buffer read appends.
    EXPECT_EQ(4u, mp.read(buf, 10));
    EXPECT_STREQ("keptcdef", buf.getData());
    EXPECT_EQ(QioInputStream::END, mp.read(buf, 10));
    EXPECT_STREQ("keptcdef", buf.getData());
    // With the whole body at hand one block read gives the whole part.
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ(5u, mp.read(block, sizeof block));
    EXPECT_EQ("hello", std::string(block, 5));
    EXPECT_EQ(QioInputStream::END, mp.read(block, sizeof block));
    // readline appends to what the line holds; after the end it gives "" and 0.
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    VexByteBuffer line;
    line.append(">");
    EXPECT_EQ(0, mp.readline(line));
    EXPECT_STREQ(">>a\rb", line.getData());
    line.reset();
    EXPECT_EQ(0, mp.readline(line));
    EXPECT_STREQ("", line.getData());
    EXPECT_EQ(0, mp.hasNextPart());
}

struct BadBody {
    const char* label;
    std::string body;
    std::string boundary;
};

TEST(MPInputStream, BodyWithoutClosingDelimiterFailsForEveryReader)
{
    const std::vector<BadBody> cases = {
        {"no delimiter at all", "just some bytes that never end the part", "b"},
        {"part never ends", "\r\n--b\r\nabc", "b"},
        {"nothing after the delimiter", "\r\n--b", "b"},
        {"one byte after the last delimiter", "\r\n--b\r\nabc\r\n--b-", "b"},
        {"empty body", "", "b"},
        {"boundary longer than a refill", "\r\n--" + std::string(1100, 'b') + "\r\nx", std::string(1100, 'b')},
    };
    for (const BadBody& c : cases) {
        for (unsigned maxRead : {0u, 1u}) {
            for (Reader how : kReaders) {
                SCOPED_TRACE(testing::Message() << c.label << " / reads of " << maxRead << " / reader " << how);
                MemoryInputStream mem(c.body, maxRead);
                SkrMPInputStream mp(mem, c.boundary);
                expectSkarnError([&] { allParts(mp, how); }, {20, kStructure, "", "SkrMPInputStream::readMore"});
                // After the body stream reported its end there is no next part.
                EXPECT_EQ(0, mp.hasNextPart());
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
        EXPECT_NO_THROW(mp.unWrap());
        EXPECT_EQ(c.rest, mem.rest());
    }
}

TEST(MPInputStream, UnWrapOverTheReadersStreamStack)
{
    // As the message reader stacks it: buffered stream, length-limited body,
    // "\r\n" pushed back in front of a body that begins with its boundary line.
    const std::string body = "--sep\r\nContent-Type: text/xml\r\n\r\n<e/>\r\n--sep--\r\nepilogue";
    const std::string after = "POST /next HTTP/1.1\r\n\r\n";
    for (unsigned maxRead : {1u, 5u, 0u}) {
        SCOPED_TRACE(maxRead);
        MemoryInputStream socket(body + after, maxRead);
        QioBufferedInputStream buffered(socket, 1024);
        QioBlockInputStream block(buffered);
        block.setLength(static_cast<int>(body.size()));
        block.unread("\r\n", 2);
        SkrMPInputStream mp(block, "sep");
        EXPECT_EQ(std::vector<std::string>{"Content-Type: text/xml\r\n\r\n<e/>"}, allParts(mp, Blocks));
        mp.unWrap();
        // The epilogue is the body stream's again (behind the closing line's
        // CR LF when the last refill stopped before it), and nothing beyond
        // the body was taken.
        EXPECT_EQ(maxRead == 1 ? "\r\nepilogue" : "epilogue", drain(block));
        EXPECT_EQ(after, drain(buffered));
    }
}

std::string chunked(const std::string& body, std::size_t chunk)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t at = 0; at < body.size(); at += chunk) {
        std::size_t n = std::min(chunk, body.size() - at);
        std::string size;
        for (std::size_t v = n; v; v /= 16)
            size.insert(size.begin(), hex[v % 16]);
        out += size + "\r\n" + body.substr(at, n) + "\r\n";
    }
    return out + "0\r\nX-Trailer: t\r\n\r\n";
}

TEST(MPInputStream, OverAChunkedBodyAsTheReaderStacksIt)
{
    const std::string body = "--sep\r\nContent-ID: <a>\r\n\r\nfirst part\r\n--sep\r\n\r\nsecond\r\n--sep--\r\nepi";
    for (std::size_t chunk : {1u, 3u, 7u, 100u}) {
        for (unsigned maxRead : {1u, 0u}) {
            SCOPED_TRACE(testing::Message() << "chunk " << chunk << " reads " << maxRead);
            MemoryInputStream socket(chunked(body, chunk) + "NEXT", maxRead);
            QioBufferedInputStream buffered(socket, 1024);
            QioChunkedInputStream decoded(buffered);
            decoded.unread("\r\n", 2);
            SkrMPInputStream mp(decoded, "sep");
            EXPECT_EQ((std::vector<std::string>{"Content-ID: <a>\r\n\r\nfirst part", "\r\nsecond"}),
                      allParts(mp, SmallBlocks));
            mp.unWrap();
            const std::string rest = drain(decoded);
            EXPECT_TRUE(rest == "epi" || rest == "\r\nepi" || rest == "\nepi") << rest;
            VexByteBuffer line;
            EXPECT_GT(buffered.readline(line), 0);
            EXPECT_STREQ("X-Trailer: t\r\n", line.getData());
        }
    }
}

TEST(MPInputStream, BodyStreamExceptionsPassThroughUnchanged)
{
    FailingInputStream body("\r\n--b\r\npart data that never ends", 4);
    SkrMPInputStream mp(body, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    try {
        drain(mp);
        ADD_FAILURE() << "nothing thrown";
    } catch (const QioIOTimeoutException& e) {
        ASSERT_EQ(1u, e.getBackTraceCount());
        EXPECT_EQ("FailingInputStream::read", e.getBackTraceAt(0).function);
    }
}

TEST(MPInputStream, UnsupportedAndMisusedOperations)
{
    MemoryInputStream mem("\r\n--b\r\none\r\n--b\r\ntwo\r\n--b--\r\n");
    SkrMPInputStream mp(mem, "b");
    EXPECT_EQ(0, mp.canUnread());
    expectSkarnError([&] { mp.wrap(mem); }, {0, kNotSupported, "", "SkrMPInputStream::wrap"});
    EXPECT_EQ("VEX_ASSERT(buf);", assertionText([&] { mp.read(nullptr, 4); }));
    // nextPart before hasNextPart made sure of a part.
    EXPECT_EQ("SkrMPInputStream::nextPart - no part follows", illegalStateText([&] { mp.nextPart(); }));
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ("one", drain(mp));
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ("two", drain(mp));
    EXPECT_EQ(0, mp.hasNextPart());
    EXPECT_EQ("SkrMPInputStream::nextPart - no part follows", illegalStateText([&] { mp.nextPart(); }));
    MemoryInputStream mem2("\r\n--b\r\none\r\n--b\r\ntwo\r\n--b--\r\n");
    SkrMPInputStream partLeft(mem2, "b");
    ASSERT_EQ(1, partLeft.hasNextPart());
    partLeft.nextPart();
    EXPECT_EQ("HTTP multipart message has a not-read part - SkrMPInputStream::unWrap",
              illegalStateText([&] { partLeft.unWrap(); }));
}

}  // namespace
