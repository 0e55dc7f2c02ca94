#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioBlockInputStream.h"
#include "platform/streams/QioBufferedInputStream.h"
#include "platform/streams/QioChunkedInputStream.h"
#include "platform/streams/QioIOException.h"
#include "support/MemoryInputStream.h"
#include "support/ExpectThrow.h"

#include <gtest/gtest.h>

TEST(BufferedStream, ReadlineAcrossRefillsUnreadAndUnWrap)
{
    const std::string longLine(100, 'x');
    for (unsigned maxRead : {0u, 3u}) {
        for (int size : {4, 1024}) {
            SCOPED_TRACE(testing::Message() << "maxRead " << maxRead << " buffer " << size);
            MemoryInputStream mem("ab\r\ncd\n\r\n" + longLine + "\r\nlast", maxRead);
            QioBufferedInputStream in(mem, size);
            std::vector<std::string> lines;
            VexByteBuffer line(8, 8);
            for (int n; (n = in.readline(line)) >= 0; line.reset()) {
                EXPECT_EQ(static_cast<unsigned>(n), line.length());
                lines.emplace_back(line.getData(), line.length());
            }
            EXPECT_EQ((std::vector<std::string>{"ab\r\n", "cd\n", "\r\n", longLine + "\r\n", "last"}), lines);
            EXPECT_EQ(-1, in.read());
        }
    }
    MemoryInputStream mem(std::string("\xFF" "bcdef\nrest", 11), 2);
    QioBufferedInputStream in(mem, 4);
    EXPECT_EQ(255, in.read());
    EXPECT_EQ('b', in.read());
    in.unread("XYZ0123456789", 13);  // more than the room in front and than the buffer
    EXPECT_EQ(1, in.canUnread());
    VexByteBuffer line;
    line.append("kept:");
    EXPECT_EQ(18, in.readline(line));  // appended to what the buffer holds
    EXPECT_STREQ("kept:XYZ0123456789cdef\n", line.getData());
    // unWrap gives the read-ahead back to the stream below and detaches.
    MemoryInputStream below("head\r\nbody-bytes", 0, true);
    {
        QioBufferedInputStream buffered(below, 1024);
        EXPECT_EQ(6, buffered.readline(line));
        buffered.unWrap();
        EXPECT_EQ(-1, buffered.read());
    }
    EXPECT_EQ("body-bytes", below.rest());
}

TEST(ChunkedStream, FramingsAtEverySplit)
{
    const std::string big(3000, '\xA5');
    const struct {
        const char* label;
        std::string wire;
        std::string body;   // decoded body when ok
        std::string after;  // what stays in the buffered stream
        int error;          // QioIOException code, 0 when ok
    } cases[] = {
        {"two chunks", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world", "\r\n", 0},
        {"extensions, upper- and lower-case hex", "A;name=val\r\n0123456789\r\n1f\r\n" + std::string(31, 'q') + "\r\n0;last\r\n\r\n",
         "0123456789" + std::string(31, 'q'), "\r\n", 0},
        {"trailer stays unread", "1\r\nz\r\n0\r\nX-Sum: 1\r\n\r\nNEXT", "z", "X-Sum: 1\r\n\r\nNEXT", 0},
        {"a chunk larger than the buffer", "bB8\r\n" + big + "\r\n0\r\n\r\n", big, "\r\n", 0},
        {"bad hex", "zz\r\nab\r\n", "", "", QioIOException::errBadChunkSize},
        {"size overflows", "10000000000000000\r\n", "", "", QioIOException::errBadChunkSize},
        {"data not followed by CR LF", "2\r\nabc\r\n0\r\n\r\n", "", "", QioIOException::errBadChunkEnd},
        {"truncated data", "5\r\nhel", "", "", QioIOException::errTruncated},
    };
    for (const auto& c : cases) {
        for (unsigned maxRead : {0u, 1u, 7u}) {
            for (unsigned readSize : {1u, 4096u}) {
                for (int buffer : {1024, 5}) {
                    SCOPED_TRACE(testing::Message() << c.label << " maxRead " << maxRead << " readSize " << readSize << " buffer " << buffer);
                    MemoryInputStream mem(c.wire, maxRead);
                    QioBufferedInputStream buffered(mem, buffer);
                    QioChunkedInputStream chunked(buffered);
                    if (c.error) {
                        EXPECT_EQ(std::to_string(c.error) + ": QioChunkedInputStream::read [VEX_THROW]",
                                  raised<QioIOException>([&] { drain(chunked, readSize); }));
                        continue;
                    }
                    EXPECT_EQ(c.body, drain(chunked, readSize));
                    EXPECT_TRUE(chunked.isFinished());
                    EXPECT_EQ(-1, chunked.read());
                    EXPECT_EQ(c.after, drain(buffered));
                }
            }
        }
    }
}

TEST(BlockStream, UnreadInFrontAndExactLength)
{
    MemoryInputStream body("0123456789NEXT", 3);
    QioBufferedInputStream b1(body, 4);
    QioBlockInputStream block(b1);
    block.setLength(10);
    block.unread("<", 1);
    EXPECT_EQ('<', block.read());
    EXPECT_EQ("0123456789", drain(block, 4));
    EXPECT_EQ(-1, block.read());
    EXPECT_EQ("NEXT", drain(b1));
    MemoryInputStream shortBody("0123");
    QioBufferedInputStream b2(shortBody, 1024);
    QioBlockInputStream truncated(b2);
    truncated.setLength(10);
    EXPECT_EQ("5: QioBlockInputStream::read [VEX_THROW]", raised<QioIOException>([&] { drain(truncated); }));
}
