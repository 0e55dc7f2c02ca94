#include "mime/SkrMPInputStream.h"

#include "platform/core/VexAssertError.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/streams/QioBlockInputStream.h"
#include "platform/streams/QioBufferedInputStream.h"
#include "platform/streams/QioChunkedInputStream.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/ExpectThrow.h"
#include "support/FailingInputStream.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const unsigned kStructure = 1842200362u;
const unsigned kNotSupported = 1841854490u;

std::string readLine(SkrMPInputStream& mp, int* count)
{
    VexByteBuffer line(8, 8);
    *count = mp.readline(line);
    return std::string(line.getData(), line.length());
}

std::string readBlock(SkrMPInputStream& mp, unsigned len)
{
    std::string buf(len, '\0');
    unsigned n = mp.read(&buf[0], len);
    if (n == QioInputStream::END)
        return "<END>";
    buf.resize(n);
    return buf;
}

TEST(MPInputStream, OnePartWithHeaderLineThenBody)
{
    const std::string body = "\r\n--b\r\nX: 1\r\n\r\nhello\r\n--b--\r\n";
    for (unsigned maxRead : {0u, 1u, 2u, 5u}) {
        SCOPED_TRACE(maxRead);
        MemoryInputStream mem(body, maxRead);
        SkrMPInputStream mp(mem, "b");
        EXPECT_EQ(1, mp.hasNextPart());
        mp.nextPart();
        int count = -5;
        EXPECT_EQ("X: 1\r\n", readLine(mp, &count));
        EXPECT_EQ(6, count);
        EXPECT_EQ("\r\n", readLine(mp, &count));
        EXPECT_EQ(2, count);
        std::string hello;
        for (;;) {  // small body reads may deliver "hello" in pieces
            std::string piece = readBlock(mp, 100);
            if (piece == "<END>")
                break;
            hello += piece;
        }
        EXPECT_EQ("hello", hello);
        EXPECT_EQ("<END>", readBlock(mp, 100));
        EXPECT_EQ(-1, mp.read());
        EXPECT_EQ(0, mp.hasNextPart());
        EXPECT_EQ(0, mp.hasNextPart());
        EXPECT_NO_THROW(mp.unWrap());
    }
}

TEST(MPInputStream, WholeBodyReadGivesExactlyHello)
{
    MemoryInputStream mem("\r\n--b\r\nX: 1\r\n\r\nhello\r\n--b--\r\n");
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    int count;
    readLine(mp, &count);
    readLine(mp, &count);
    EXPECT_EQ("hello", readBlock(mp, 100));
    EXPECT_EQ("<END>", readBlock(mp, 100));
}

TEST(MPInputStream, QuotesDroppedAndPrefixNotDoubled)
{
    const std::string body = "\r\n--b\r\nA\r\n--b\r\nB\r\n--b--\r\n";
    for (const char* boundary : {"b", "\"b\"", "\r\n--b", "b\""}) {
        SCOPED_TRACE(boundary);
        MemoryInputStream mem(body);
        SkrMPInputStream mp(mem, boundary);
        ASSERT_EQ(1, mp.hasNextPart());
        mp.nextPart();
        EXPECT_EQ("A", drain(mp));
        ASSERT_EQ(1, mp.hasNextPart());
        mp.nextPart();
        EXPECT_EQ("B", drain(mp));
        EXPECT_EQ(0, mp.hasNextPart());
    }
    // Quotes are dropped wherever they stand.
    MemoryInputStream mem("\r\n--ab\r\nX\r\n--ab--\r\n");
    SkrMPInputStream mp(mem, "a\"b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ("X", drain(mp));
}

TEST(MPInputStream, DelimiterSplitAcrossRefillsIsFoundAndNotDelivered)
{
    const std::string part(3000, 'p');
    const std::string body = "\r\n--bnd\r\n" + part + "\r\n--bnd--\r\n";
    for (unsigned maxRead : {1u, 3u, 1021u}) {
        SCOPED_TRACE(maxRead);
        MemoryInputStream mem(body, maxRead);
        SkrMPInputStream mp(mem, "bnd");
        ASSERT_EQ(1, mp.hasNextPart());
        mp.nextPart();
        std::string got;
        for (int c; (c = mp.read()) != -1;)
            got += static_cast<char>(c);
        EXPECT_EQ(part, got);
        EXPECT_EQ(0, mp.hasNextPart());
    }
}

TEST(MPInputStream, DelimiterRecognisedByItsBytesAlone)
{
    // "--bX" inside a part ends it at the CR LF; X and the byte after it are
    // stepped over unchecked. A CR LF not followed by --b is data.
    MemoryInputStream mem("\r\n--b\r\nline1\r\nnot--b\r\n-b\r\n--bXYsecond\r\n--b--\r\n");
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ("line1\r\nnot--b\r\n-b", drain(mp));
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ("second", drain(mp));
    EXPECT_EQ(0, mp.hasNextPart());
}

TEST(MPInputStream, FailedMatchResumesOneByteAfterItsStart)
{
    MemoryInputStream mem("\r\n--b\r\ndata\r\n\r\n--b--\r\n", 1);
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ("data\r\n", drain(mp, 1));
    EXPECT_EQ(0, mp.hasNextPart());
}

TEST(MPInputStream, ByteFFIsDataNotEnd)
{
    MemoryInputStream mem(std::string("\r\n--b\r\n\xFF\x00\xFE\r\n--b--\r\n", 16));
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ(255, mp.read());
    EXPECT_EQ(0, mp.read());
    EXPECT_EQ(254, mp.read());
    EXPECT_EQ(-1, mp.read());
    EXPECT_EQ(-1, mp.read());
}

TEST(MPInputStream, PreambleIsSkippedAndEmptyPartsWork)
{
    MemoryInputStream mem("This is the preamble.\r\n--b\r\n\r\n--b\r\nz\r\n--b--\r\nepilogue");
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ("", drain(mp));
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ("z", drain(mp));
    EXPECT_EQ(0, mp.hasNextPart());
}

TEST(MPInputStream, ReadZeroChangesNothing)
{
    MemoryInputStream mem("\r\n--b\r\nabc\r\n--b--\r\n");
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    char c = 'q';
    EXPECT_EQ(0u, mp.read(&c, 0));
    EXPECT_EQ('q', c);
    VexByteBuffer buf;
    buf.append("kept");
    EXPECT_EQ(0u, mp.read(buf, 0));
    EXPECT_STREQ("kept", buf.getData());
    // The buffer read appends.
    EXPECT_EQ(3u, mp.read(buf, 10));
    EXPECT_STREQ("keptabc", buf.getData());
    EXPECT_EQ(QioInputStream::END, mp.read(buf, 10));
    EXPECT_STREQ("keptabc", buf.getData());
}

TEST(MPInputStream, BlockReadGivesNoMoreThanKnownPartData)
{
    MemoryInputStream mem("\r\n--b\r\nabcdef\r\n--b--\r\n");
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ("ab", readBlock(mp, 2));
    EXPECT_EQ("cdef", readBlock(mp, 100));
    EXPECT_EQ("<END>", readBlock(mp, 100));
}

TEST(MPInputStream, LastLineWithoutCRLFIsAppendedWithCountZero)
{
    MemoryInputStream mem("\r\n--b\r\nfirst\r\nlast\r\n--b--\r\n", 1);
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    int count;
    EXPECT_EQ("first\r\n", readLine(mp, &count));
    EXPECT_EQ(7, count);
    EXPECT_EQ("last", readLine(mp, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ("", readLine(mp, &count));
    EXPECT_EQ(0, count);
    // readline appends to what the line holds; a lone CR stays data.
    MemoryInputStream mem2("\r\n--b\r\na\rb\r\n--b--\r\n");
    SkrMPInputStream mp2(mem2, "b");
    ASSERT_EQ(1, mp2.hasNextPart());
    mp2.nextPart();
    VexByteBuffer line;
    line.append(">");
    EXPECT_EQ(0, mp2.readline(line));
    EXPECT_STREQ(">a\rb", line.getData());
}

TEST(MPInputStream, LongLinesAcrossManyRefills)
{
    const std::string longLine(5000, 'L');
    MemoryInputStream mem("\r\n--b\r\n" + longLine + "\r\nend\r\n--b--\r\n", 700);
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    int count;
    EXPECT_EQ(longLine + "\r\n", readLine(mp, &count));
    EXPECT_EQ(5002, count);
    EXPECT_EQ("end", readLine(mp, &count));
}

TEST(MPInputStream, BodyWithoutClosingDelimiterFails)
{
    struct Case {
        const char* label;
        std::string body;
    };
    const Case cases[] = {
        {"no delimiter at all", "just some bytes that never end the part"},
        {"part never ends", "\r\n--b\r\nabc"},
        {"nothing after the delimiter", "\r\n--b"},
        {"one byte after the last delimiter", "\r\n--b\r\nabc\r\n--b-"},
        {"empty body", ""},
    };
    for (const Case& c : cases) {
        for (unsigned maxRead : {0u, 1u}) {
            SCOPED_TRACE(testing::Message() << c.label << " / " << maxRead);
            MemoryInputStream mem(c.body, maxRead);
            SkrMPInputStream mp(mem, "b");
            expectSkarnError(
                [&] {
                    while (mp.hasNextPart()) {
                        mp.nextPart();
                        drain(mp);
                    }
                },
                {20, kStructure, "", "SkrMPInputStream::readMore"});
            // After the body stream reported its end there is no next part.
            EXPECT_EQ(0, mp.hasNextPart());
        }
    }
}

TEST(MPInputStream, TruncationNoticedByEveryReadOperation)
{
    for (int op = 0; op < 4; ++op) {
        SCOPED_TRACE(op);
        MemoryInputStream mem("\r\n--b\r\nabc", 1);
        SkrMPInputStream mp(mem, "b");
        ASSERT_EQ(1, mp.hasNextPart());
        mp.nextPart();
        VexByteBuffer buf;
        char c[4];
        expectSkarnError(
            [&] {
                for (;;) {
                    if (op == 0 && mp.read() == -1)
                        break;
                    if (op == 1 && mp.read(c, 4) == QioInputStream::END)
                        break;
                    if (op == 2 && mp.read(buf, 4) == QioInputStream::END)
                        break;
                    if (op == 3 && mp.readline(buf) == 0)
                        break;
                }
            },
            {20, kStructure, "", "SkrMPInputStream::readMore"});
    }
}

TEST(MPInputStream, UnWrapGivesBytesAfterTheClosingDelimiterBack)
{
    const std::string next = "HTTP/1.1 200 OK\r\nNext: message\r\n\r\n";
    const std::string body = "\r\n--b\r\none\r\n--b\r\ntwo\r\n--b--\r\n" + next;
    // With small body reads the refill stops once the delimiter and the two
    // bytes after it ("--") are in; the CR LF ending the closing line then
    // stays in the body stream in front of the next bytes.
    const struct {
        unsigned maxRead;
        std::string rest;
    } cases[] = {{0u, next}, {13u, next}, {1u, "\r\n" + next}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxRead);
        MemoryInputStream mem(body, c.maxRead, true);
        SkrMPInputStream mp(mem, "b");
        while (mp.hasNextPart()) {
            mp.nextPart();
            drain(mp);
        }
        mp.unWrap();
        EXPECT_EQ(c.rest, mem.rest());
    }
    // A body stream that takes nothing back: unWrap leaves it alone.
    MemoryInputStream mem(body, 0, false);
    SkrMPInputStream mp(mem, "b");
    while (mp.hasNextPart()) {
        mp.nextPart();
        drain(mp);
    }
    EXPECT_NO_THROW(mp.unWrap());
    EXPECT_EQ("", mem.rest());
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
        ASSERT_EQ(1, mp.hasNextPart());
        mp.nextPart();
        EXPECT_EQ("Content-Type: text/xml\r\n\r\n<e/>", drain(mp));
        EXPECT_EQ(0, mp.hasNextPart());
        mp.unWrap();
        // The epilogue is the body stream's again (behind the closing line's
        // CR LF when the last refill stopped before it), and nothing beyond
        // the body was taken.
        EXPECT_EQ(maxRead == 1 ? "\r\nepilogue" : "epilogue", drain(block));
        EXPECT_EQ(after, drain(buffered));
    }
}

TEST(MPInputStream, UnWrapWithAPartLeftFails)
{
    MemoryInputStream mem("\r\n--b\r\none\r\n--b\r\ntwo\r\n--b--\r\n");
    SkrMPInputStream mp(mem, "b");
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    try {
        mp.unWrap();
        ADD_FAILURE() << "nothing thrown";
    } catch (const VexIllegalStateError& e) {
        EXPECT_EQ("HTTP multipart message has a not-read part - SkrMPInputStream::unWrap",
                  e.getBackTraceAt(0).function);
        EXPECT_EQ("VEX_THROW", e.getBackTraceAt(0).macro);
    }
}

TEST(MPInputStream, UnsupportedAndMisusedOperations)
{
    MemoryInputStream mem("\r\n--b\r\none\r\n--b--\r\n");
    SkrMPInputStream mp(mem, "b");
    EXPECT_EQ(0, mp.canUnread());
    expectSkarnError([&] { mp.wrap(mem); }, {0, kNotSupported, "", "SkrMPInputStream::wrap"});
    try {
        mp.read(nullptr, 4);
        ADD_FAILURE() << "nothing thrown";
    } catch (const VexAssertError& e) {
        EXPECT_EQ("VEX_ASSERT(buf);", e.getMessageAt(0).format().str());
    }
    // nextPart before hasNextPart made sure of a part.
    try {
        mp.nextPart();
        ADD_FAILURE() << "nothing thrown";
    } catch (const VexIllegalStateError& e) {
        EXPECT_EQ("SkrMPInputStream::nextPart - no part follows", e.getBackTraceAt(0).function);
    }
    ASSERT_EQ(1, mp.hasNextPart());
    mp.nextPart();
    EXPECT_EQ("one", drain(mp));
    EXPECT_EQ(0, mp.hasNextPart());
    EXPECT_THROW(mp.nextPart(), VexIllegalStateError);
}

TEST(MPInputStream, OverlongBoundaryFailsInsteadOfHanging)
{
    MemoryInputStream mem("\r\n--" + std::string(1100, 'b') + "\r\nx");
    SkrMPInputStream mp(mem, std::string(1100, 'b'));
    expectSkarnError([&] { mp.hasNextPart(); }, {20, kStructure, "", "SkrMPInputStream::readMore"});
}

}  // namespace

namespace {

TEST(MPInputStream, EveryCutOfTheBodyGivesTheSameParts)
{
    const std::string body = "\r\n--b\r\nX: 1\r\n\r\nhello\r\n\r\n--b\r\n\r\n-b\r\n--b--\r\n";
    for (unsigned cut = 1; cut <= body.size(); ++cut) {
        SCOPED_TRACE(cut);
        MemoryInputStream mem(body, cut);
        SkrMPInputStream mp(mem, "b");
        std::vector<std::string> parts;
        while (mp.hasNextPart()) {
            mp.nextPart();
            parts.push_back(drain(mp, 3));
        }
        EXPECT_EQ((std::vector<std::string>{"X: 1\r\n\r\nhello\r\n", "\r\n-b"}), parts);
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

}  // namespace

namespace {

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
            std::vector<std::string> parts;
            while (mp.hasNextPart()) {
                mp.nextPart();
                parts.push_back(drain(mp, 5));
            }
            EXPECT_EQ((std::vector<std::string>{"Content-ID: <a>\r\n\r\nfirst part", "\r\nsecond"}), parts);
            mp.unWrap();
            const std::string rest = drain(decoded);
            EXPECT_TRUE(rest == "epi" || rest == "\r\nepi" || rest == "\nepi") << rest;
            VexByteBuffer line;
            EXPECT_GT(buffered.readline(line), 0);
            EXPECT_STREQ("X-Trailer: t\r\n", line.getData());
        }
    }
}

}  // namespace
