#include "mime/SkrQPInputStream.h"

#include "platform/core/VexByteBuffer.h"
#include "support/ExpectThrow.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Decodes `wire`, fed in reads of `maxRead` bytes (0: whole), by lines, by
// bytes or by blocks of 3: the lines, or the bytes as one string.
std::vector<std::string> decode(const std::string& wire, unsigned maxRead, int how)
{
    MemoryInputStream mem(wire, maxRead);
    SkrQPInputStream qp(mem);
    std::vector<std::string> out;
    if (how == 1) {
        std::string bytes;
        for (int c; (c = qp.read()) != -1;)
            bytes += static_cast<char>(c);
        return {bytes};
    }
    if (how == 2)
        return {drain(qp, 3)};
    VexByteBuffer line(4, 4);
    for (int n; (n = qp.readline(line)) >= 0;) {
        EXPECT_EQ(static_cast<unsigned>(n), line.length());
        out.emplace_back(line.getData(), line.length());
    }
    EXPECT_EQ(-1, qp.read());
    return out;
}

TEST(QPInputStream, DecodesAtEverySplitWithEveryReader)
{
    const struct { const char* label; std::string wire; std::vector<std::string> lines; } cases[] = {
        {"escape", "a=3Db\r\n", {"a=b\r\n"}},
        {"soft break", "abc=\r\ndef\r\n", {"abcdef\r\n"}},
        {"soft break after blanks and tabs, LF only", "abc= \t \ndef\n", {"abcdef\r\n"}},
        {"every line break becomes CR LF", "x\ny\rz", {"x\r\n", "y\r\n", "z"}},
        {"escaped CR LF ends a line", "one=0D=0Atwo", {"one\r\n", "two"}},
        {"bytes of any value pass", std::string("\xFF\x80\x00z\r\n", 6), {std::string("\xFF\x80\x00z\r\n", 6)}},
        {"soft break at the very end", "end=\r\n", {"end"}},
    };
    for (const auto& c : cases) {
        std::string whole;
        for (const std::string& l : c.lines)
            whole += l;
        for (unsigned maxRead : {0u, 1u, 2u, 5u}) {
            SCOPED_TRACE(testing::Message() << c.label << " / reads of " << maxRead);
            noThrowable([&] {
                EXPECT_EQ(c.lines, decode(c.wire, maxRead, 0));
                for (int how : {1, 2})
                    EXPECT_EQ(whole, decode(c.wire, maxRead, how).at(0));
            });
        }
    }
}

TEST(QPInputStream, MalformedEscapesFail)
{
    const unsigned kBadEscape = 1842266981u, kBadSoftBreak = 1841908908u;
    const struct {
        const char* label;
        std::string wire;
        int code;
        unsigned message;
        std::string parms;  // of the first message, joined with '|'
    } cases[] = {
        {"=G1 at the start", "=G1", 27, kBadEscape, "= 0x47 0x31|0"},
        {"on the second line", "ok\r\n=zz", 27, kBadEscape, "= 0x7A 0x7A|4"},
        {"= blank x", "= x", 28, kBadSoftBreak, "0x78|2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        MemoryInputStream mem(c.wire);
        SkrQPInputStream qp(mem);
        SkarnException e = expectSkarnError([&] { drain(qp, 1); }, {c.code, c.message, "", "SkrQPInputStream::getDecodedLine"});
        EXPECT_EQ(c.parms, parmsOf(e));
    }
}

}  // namespace
