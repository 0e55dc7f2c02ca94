#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioBlockInputStream.h"
#include "platform/streams/QioBufferedInputStream.h"
#include "platform/streams/QioChunkedInputStream.h"
#include "platform/streams/QioIOException.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Every line of a buffered stream, as readline returns them.
std::vector<std::string> lines(QioBufferedInputStream& in)
{
    std::vector<std::string> out;
    for (;;) {
        VexByteBuffer line(8, 8);
        int n = in.readline(line);
        if (n < 0)
            break;
        EXPECT_EQ(static_cast<unsigned>(n), line.length());
        out.emplace_back(line.getData(), line.length());
    }
    return out;
}

}  // namespace

TEST(BufferedStream, ReadlineAcrossRefillsAndLongerThanTheBuffer)
{
    std::string longLine(100, 'x');
    const std::string data = "ab\r\ncd\n\r\n" + longLine + "\r\nlast";
    for (unsigned maxRead : {0u, 1u, 3u}) {
        for (int size : {1, 4, 1024}) {
            SCOPED_TRACE(testing::Message() << "maxRead " << maxRead << " buffer " << size);
            MemoryInputStream mem(data, maxRead);
            QioBufferedInputStream in(mem, size);
            std::vector<std::string> want = {"ab\r\n", "cd\n", "\r\n", longLine + "\r\n", "last"};
            EXPECT_EQ(want, lines(in));
            EXPECT_EQ(-1, in.read());
        }
    }
    // readline appends to what the buffer holds.
    MemoryInputStream mem("x\n");
    QioBufferedInputStream in(mem, 16);
    VexByteBuffer line;
    line.append("kept:");
    EXPECT_EQ(2, in.readline(line));
    EXPECT_STREQ("kept:x\n", line.getData());
}

TEST(BufferedStream, UnreadComesFirstAndByteFFIs255)
{
    MemoryInputStream mem(std::string("\xFF" "bcdef", 6), 2);
    QioBufferedInputStream in(mem, 4);
    EXPECT_EQ(255, in.read());
    EXPECT_EQ('b', in.read());
    in.unread("XYZ0123456789", 13);  // more than the room in front and than the buffer
    EXPECT_EQ(1, in.canUnread());
    EXPECT_EQ("XYZ0123456789cdef", drain(in, 5));
    in.unread("\r\n", 2);
    VexByteBuffer line;
    EXPECT_EQ(2, in.readline(line));
    EXPECT_EQ(-1, in.readline(line));
}

TEST(BufferedStream, UnWrapGivesReadAheadBack)
{
    MemoryInputStream mem("head\r\nbody-bytes", 0, true);
    {
        QioBufferedInputStream in(mem, 1024);
        VexByteBuffer line;
        EXPECT_EQ(6, in.readline(line));
        in.unWrap();
        EXPECT_EQ(-1, in.read());  // detached
    }
    EXPECT_EQ("body-bytes", mem.rest());
}

TEST(BufferedStream, BaseUnreadThrowsNotImplemented)
{
    MemoryInputStream plain("x");
    try {
        plain.unread("a", 1);
        FAIL();
    } catch (const char* text) {
        EXPECT_STREQ("not implemented", text);
    }
}

namespace {

struct ChunkCase {
    const char* label;
    std::string wire;
    std::string body;    // decoded body when ok
    std::string after;   // what stays in the buffered stream
    int error;           // QioIOException code, 0 when ok
};

void runChunked(const ChunkCase& c, unsigned maxRead, unsigned readSize)
{
    SCOPED_TRACE(testing::Message() << c.label << " maxRead " << maxRead << " readSize " << readSize);
    MemoryInputStream mem(c.wire, maxRead);
    QioBufferedInputStream buffered(mem, 1024);
    QioChunkedInputStream chunked(buffered);
    if (c.error) {
        try {
            drain(chunked, readSize);
            FAIL() << "no exception";
        } catch (const QioIOException& e) {
            EXPECT_EQ(c.error, e.getErrorCode());
            EXPECT_EQ("QioChunkedInputStream::read", e.getBackTraceAt(0).function);
        }
        return;
    }
    EXPECT_EQ(c.body, drain(chunked, readSize));
    EXPECT_TRUE(chunked.isFinished());
    EXPECT_EQ(-1, chunked.read());
    EXPECT_EQ(c.after, drain(buffered));
}

}  // namespace

TEST(ChunkedStream, FramingsWholeAndSplit)
{
    const std::vector<ChunkCase> cases = {
        {"two chunks", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world", "\r\n", 0},
        {"extensions and upper-case hex", "A;name=val\r\n0123456789\r\n0;last\r\n\r\n", "0123456789", "\r\n", 0},
        {"blank before extension", "3 ;x\r\nabc\r\n0\r\n\r\n", "abc", "\r\n", 0},
        {"trailer stays unread", "1\r\nz\r\n0\r\nX-Sum: 1\r\n\r\nNEXT", "z", "X-Sum: 1\r\n\r\nNEXT", 0},
        {"bare LF line ends", "2\nab\n0\n\n", "ab", "\n", 0},
        {"lower-case hex", "1f\r\n" + std::string(31, 'q') + "\r\n0\r\n\r\n", std::string(31, 'q'), "\r\n", 0},
        {"empty body", "0\r\n\r\n", "", "\r\n", 0},
        {"bad hex", "zz\r\nab\r\n", "", "", QioIOException::errBadChunkSize},
        {"empty size line", "\r\nab\r\n", "", "", QioIOException::errBadChunkSize},
        {"junk after size", "2x\r\nab\r\n0\r\n\r\n", "", "", QioIOException::errBadChunkSize},
        {"size overflows", "10000000000000000\r\n", "", "", QioIOException::errBadChunkSize},
        {"CR without LF", "2\rab", "", "", QioIOException::errBadChunkSize},
        {"size line too long", "1;" + std::string(5000, 'e') + "\r\na\r\n0\r\n\r\n", "", "",
         QioIOException::errBadChunkSize},
        {"data not followed by CR LF", "2\r\nabc\r\n0\r\n\r\n", "", "", QioIOException::errBadChunkEnd},
        {"truncated data", "5\r\nhel", "", "", QioIOException::errTruncated},
        {"truncated size line", "5", "", "", QioIOException::errTruncated},
        {"ends after data", "2\r\nab", "", "", QioIOException::errTruncated},
        {"nothing at all", "", "", "", QioIOException::errTruncated},
    };
    for (const ChunkCase& c : cases)
        for (unsigned maxRead : {0u, 1u, 7u})
            for (unsigned readSize : {1u, 3u, 4096u})
                runChunked(c, maxRead, readSize);
}

TEST(ChunkedStream, UnreadInFrontAndByteReads)
{
    MemoryInputStream mem("3\r\nabc\r\n0\r\n\r\n");
    QioBufferedInputStream buffered(mem, 1024);
    QioChunkedInputStream chunked(buffered);
    EXPECT_EQ(1, chunked.canUnread());
    chunked.unread("\r\n", 2);
    EXPECT_EQ('\r', chunked.read());
    EXPECT_EQ('\n', chunked.read());
    EXPECT_EQ('a', chunked.read());
    chunked.unread("Za", 2);
    VexByteBuffer rest;
    EXPECT_EQ(4u, chunked.readFully(rest, 100));
    EXPECT_STREQ("Zabc", rest.getData());
    EXPECT_EQ(QioInputStream::END, chunked.read(rest, 10));
    EXPECT_EQ(0u, chunked.read(rest, 0));
}

TEST(BlockStream, ExactLengthThenEnd)
{
    MemoryInputStream mem("0123456789NEXT", 3);
    QioBufferedInputStream buffered(mem, 4);
    QioBlockInputStream block(buffered);
    block.setLength(10);
    block.unread("<", 1);
    EXPECT_EQ('<', block.read());
    EXPECT_EQ("0123456789", drain(block, 4));
    EXPECT_EQ(-1, block.read());
    EXPECT_EQ("NEXT", drain(buffered));

    MemoryInputStream shortBody("0123");
    QioBufferedInputStream b2(shortBody, 1024);
    QioBlockInputStream truncated(b2);
    truncated.setLength(10);
    try {
        drain(truncated);
        FAIL();
    } catch (const QioIOException& e) {
        EXPECT_EQ(QioIOException::errTruncated, e.getErrorCode());
    }

    MemoryInputStream none("abc");
    QioBufferedInputStream b3(none, 16);
    QioBlockInputStream negative(b3);
    negative.setLength(-5);
    EXPECT_EQ(-1, negative.read());
}

// Random read sizes over random chunkings give back the same body.
TEST(ChunkedStream, RandomChunkingsDecodeToTheBody)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 200; ++round) {
        std::string body;
        std::string wire;
        int chunks = static_cast<int>(rng() % 6);
        for (int i = 0; i < chunks; ++i) {
            std::string piece(rng() % 3000 + 1, '\0');
            for (char& ch : piece)
                ch = static_cast<char>(rng());
            char size[32];
            std::snprintf(size, sizeof size, "%zx", piece.size());
            wire += size;
            wire += (rng() % 2) ? ";ext=1\r\n" : "\r\n";
            wire += piece + "\r\n";
            body += piece;
        }
        wire += "0\r\n\r\n";
        MemoryInputStream mem(wire, rng() % 50 + 1);
        QioBufferedInputStream buffered(mem, static_cast<int>(rng() % 2000 + 1));
        QioChunkedInputStream chunked(buffered);
        ASSERT_EQ(body, drain(chunked, rng() % 5000 + 1)) << "round " << round;
    }
}
