#include "mime/SkrQPInputStream.h"

#include "platform/core/VexByteBuffer.h"
#include "support/ExpectThrow.h"
#include "support/ExpectVexError.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

const unsigned kBadEscape = 1842266981u;
const unsigned kBadSoftBreak = 1841908908u;
const unsigned kNotSupported = 1841854490u;

std::vector<std::string> lines(const std::string& wire)
{
    MemoryInputStream mem(wire);
    SkrQPInputStream qp(mem);
    std::vector<std::string> out;
    VexByteBuffer line(4, 4);
    for (;;) {
        int n = qp.readline(line);
        if (n < 0)
            break;
        EXPECT_EQ(static_cast<unsigned>(n), line.length());
        out.emplace_back(line.getData(), line.length());
    }
    EXPECT_EQ(-1, qp.read());
    return out;
}

std::string byteReads(const std::string& wire)
{
    MemoryInputStream mem(wire);
    SkrQPInputStream qp(mem);
    std::string out;
    for (int c; (c = qp.read()) != -1;) {
        EXPECT_LE(c, 255);
        out += static_cast<char>(c);
    }
    return out;
}

std::string joined(const std::vector<std::string>& v)
{
    std::string s;
    for (const std::string& x : v)
        s += x;
    return s;
}

struct Case {
    const char* label;
    std::string wire;
    std::vector<std::string> lines;
};

TEST(QPInputStream, DecodesLineByLine)
{
    std::string escapedA, manyA;
    for (int i = 0; i < 20000; ++i) {
        escapedA += "=41";
        manyA += 'A';
    }
    const std::vector<Case> cases = {
        {"escape", "a=3Db\r\n", {"a=b\r\n"}},
        {"lower-case hexadecimal digits", "a=3db\r\n", {"a=b\r\n"}},
        {"soft break", "abc=\r\ndef\r\n", {"abcdef\r\n"}},
        {"soft break after blanks", "abc=  \r\ndef\r\n", {"abcdef\r\n"}},
        {"soft break after blanks and tabs, LF only", "abc= \t \ndef\n", {"abcdef\r\n"}},
        {"soft break with LF", "abc=\ndef\n", {"abcdef\r\n"}},
        {"every line break becomes CR LF", std::string("x\ny\rz"), {"x\r\n", "y\r\n", "z"}},
        {"CR CR is two line breaks", "x\r\r", {"x\r\n", "\r\n"}},
        {"LF LF is two line breaks", "x\n\n", {"x\r\n", "\r\n"}},
        {"LF CR is one line break", "x\n\ry", {"x\r\n", "y"}},
        {"trailing blanks are kept", "a  \r\n", {"a  \r\n"}},
        {"escaped CR LF ends a line", "one=0D=0Atwo", {"one\r\n", "two"}},
        {"escaped CR alone does not", "a=0Db\r\n", {"a\rb\r\n"}},
        {"bytes of any value pass", std::string("\xFF\x80\x00z\r\n", 6), {std::string("\xFF\x80\x00z\r\n", 6)}},
        {"escaped high byte", "=FF=00=7f", {std::string("\xFF\x00\x7F", 3)}},
        {"soft break at the very end", "end=\r\n", {"end"}},
        {"empty input", "", {}},
        {"only a line break", "\r\n", {"\r\n"}},
        {"soft break joins several lines", "a=\nb=\r\nc=\rd\r\n", {"abcd\r\n"}},
        {"a long line grows the line buffer", escapedA, {manyA}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        noThrowable([&] {
            EXPECT_EQ(c.lines, lines(c.wire));
            EXPECT_EQ(joined(c.lines), byteReads(c.wire));
        });
    }
}

struct Bad {
    const char* label;
    std::string wire;
    int code;
    unsigned message;
    std::string parms;  // of the first message, joined with '|'
};

TEST(QPInputStream, MalformedEscapesFail)
{
    const std::vector<Bad> cases = {
        {"=G1 at the start", "=G1", 27, kBadEscape, "= 0x47 0x31|0"},
        {"one digit then a blank", "ab=4 x", 27, kBadEscape, "= 0x34 0x20|2"},
        {"final =", "abc=", 27, kBadEscape, "= 0x-1 0x-1|3"},
        {"= and one digit at the end", "x=A", 27, kBadEscape, "= 0x41 0x-1|1"},
        {"on the second line", "ok\r\n=zz", 27, kBadEscape, "= 0x7A 0x7A|4"},
        {"= blank x", "= x", 28, kBadSoftBreak, "0x78|2"},
        {"= tab tab y", "ab=\t\ty\r\n", 28, kBadSoftBreak, "0x79|5"},
        {"= blank at the end", "= ", 28, kBadSoftBreak, "0x-1|2"},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.label);
        MemoryInputStream mem(c.wire);
        SkrQPInputStream qp(mem);
        auto readAll = [&] {
            while (qp.read() != -1)
                continue;
        };
        SkarnException e = expectSkarnError(readAll, {c.code, c.message, "", "SkrQPInputStream::getDecodedLine"});
        EXPECT_EQ(c.parms, parmsOf(e));
    }
}

TEST(QPInputStream, BufferReadReplacesAndBlockReadStaysInsideTheLine)
{
    MemoryInputStream mem("first line\r\nsecond\r\n");
    SkrQPInputStream qp(mem);
    VexByteBuffer buf;
    buf.append("old text");
    EXPECT_EQ(5u, qp.read(buf, 5));
    EXPECT_STREQ("first", buf.getData());
    EXPECT_EQ(0u, qp.read(buf, 0));
    EXPECT_STREQ("", buf.getData());
    char block[64];
    EXPECT_EQ(7u, qp.read(block, sizeof block));  // " line\r\n": the rest of the line only
    EXPECT_EQ(" line\r\n", std::string(block, 7));
    EXPECT_EQ(0u, qp.read(block, 0));
    EXPECT_EQ(8u, qp.read(block, sizeof block));
    EXPECT_EQ(QioInputStream::END, qp.read(block, sizeof block));
    EXPECT_EQ(QioInputStream::END, qp.read(buf, 10));
}

TEST(QPInputStream, ReadlineGivesTheRestOfTheCurrentLine)
{
    MemoryInputStream mem("abc\r\ndef\r\n");
    SkrQPInputStream qp(mem);
    EXPECT_EQ('a', qp.read());
    VexByteBuffer line;
    line.append("cleared");
    EXPECT_EQ(4, qp.readline(line));
    EXPECT_STREQ("bc\r\n", line.getData());
    char block[5];
    EXPECT_EQ(5u, qp.read(block, 5));  // the whole line "def\r\n"
    EXPECT_EQ(0, qp.readline(line));   // nothing left of it: an empty line
    EXPECT_STREQ("", line.getData());
    EXPECT_EQ(-1, qp.readline(line));
}

TEST(QPInputStream, CharacterSourceAndUnsupportedOperations)
{
    MemoryInputStream mem("xy");
    SkrQPInputStream qp(mem);
    EXPECT_EQ(0, qp.canUnread());
    EXPECT_EQ('x', qp.getChar());
    EXPECT_EQ('x', qp.ungetChar('x'));
    EXPECT_EQ('x', qp.getChar());
    EXPECT_EQ(0, qp.skipLineBreak('y'));
    EXPECT_EQ(1, qp.skipLineBreak('\r'));  // takes 'y' and gives it back
    EXPECT_EQ('y', qp.getChar());
    EXPECT_EQ(-1, qp.getChar());
    expectSkarnError([&] { qp.wrap(mem); }, {0, kNotSupported, "", "SkrQPInputStream::wrap"});
    EXPECT_NO_THROW(qp.unWrap());
    EXPECT_EQ("VEX_ASSERT(buf);", assertionText([&] { qp.read(nullptr, 1); }));
}

// Random bytes encoded with escapes, soft breaks and both line-break styles
// decode back to the same bytes, whatever the read sizes.
TEST(QPInputStream, RoundTripOfRandomBytes)
{
    for (unsigned seed = 1; seed <= 200; ++seed) {
        std::mt19937 rng(seed);
        std::string data, wire;
        std::size_t n = rng() % 3000;
        int column = 0;
        for (std::size_t i = 0; i < n; ++i) {
            unsigned char b = static_cast<unsigned char>(rng() % 4 ? 'a' + rng() % 26 : rng() % 256);
            data += static_cast<char>(b);
            if (b == '=' || b == '\r' || b == '\n' || b >= 128 || rng() % 10 == 0) {
                static const char hex[] = "0123456789ABCDEF";
                wire += '=';
                wire += hex[b >> 4];
                wire += (rng() % 2) ? hex[b & 15] : static_cast<char>(std::tolower(hex[b & 15]));
                column += 3;
            } else {
                wire += static_cast<char>(b);
                ++column;
            }
            if (column > 70 || rng() % 50 == 0) {
                wire += rng() % 2 ? "=\r\n" : (rng() % 2 ? "= \t\n" : "=\r");
                column = 0;
            }
        }
        for (unsigned way = 0; way < 3; ++way) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " way " << way);
            MemoryInputStream mem(wire, 1 + rng() % 5);
            SkrQPInputStream qp(mem);
            std::string got;
            if (way == 0) {
                got = drain(qp, 1 + rng() % 100);
            } else if (way == 1) {
                for (int c; (c = qp.read()) != -1;)
                    got += static_cast<char>(c);
            } else {
                VexByteBuffer line;
                while (qp.readline(line) >= 0)
                    got.append(line.getData(), line.length());
            }
            ASSERT_EQ(data, got);
        }
    }
}

}  // namespace
