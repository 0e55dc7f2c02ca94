// The HTTP message objects: exact bytes for single-part and multipart
// messages, chunked and length-delimited.
#include "platform/httptools/MultipartHttpMsg.h"
#include "platform/httptools/OnePieceHttpMsg.h"
#include "support/StringOutputStream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string chunked(const std::string& body, std::size_t size)
{
    std::string out;
    for (std::size_t at = 0; at < body.size(); at += size) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%zx\r\n", body.substr(at, size).size());
        out += hex + body.substr(at, size) + "\r\n";
    }
    return out + "0\r\n\r\n";
}

// A request with `body` written in `pieces` writes.
std::string onePiece(int chunkSize, const std::string& body, unsigned pieces = 1)
{
    StringOutputStream out;
    OnePieceHttpMsg m(out, chunkSize);
    m.startRequest("/svc", 0);
    m.setHeader("SOAPAction", "\"\"");
    m.setHeader("X-N", 42);
    std::size_t step = (body.size() + pieces - 1) / pieces;
    for (std::size_t at = 0; at < body.size(); at += step)
        m.getBodyStream().write(body.data() + at, static_cast<unsigned>(std::min(step, body.size() - at)));
    m.end();
    return out.data();
}

TEST(OnePieceHttpMsg, LengthDelimitedAndChunkedBodies)
{
    const std::string head = "POST /svc HTTP/1.1\r\nSOAPAction: \"\"\r\nX-N: 42\r\n", te = "Transfer-Encoding: chunked\r\n\r\n";
    EXPECT_EQ(head + "Content-Length: 5\r\n\r\nhello", onePiece(0, "hello", 3));
    EXPECT_EQ(head + "Content-Length: 0\r\n\r\n", onePiece(0, ""));
    const int cases[][3] = {{4, 5, 4}, {1, 2, 1}, {4000, 1, 4000}, {30, 1, 30}};  // size, pieces, chunk
    const std::string body(40, 'h');
    for (const auto& c : cases)
        EXPECT_EQ(head + te + chunked(body, c[2]), onePiece(c[0], body, c[1])) << c[0] << " " << c[1];
}

TEST(OnePieceHttpMsg, LineEndsInHeadersAndPathCannotBreakTheHead)
{
    StringOutputStream out;
    OnePieceHttpMsg m(out, 0);
    m.startRequest("/a b\r\nX: y", 0);
    m.setHeader("X-Bad", "v\r\nInjected: 1");
    m.end();
    EXPECT_EQ("POST /a%20b%0D%0AX:%20y HTTP/1.1\r\nX-Bad: v  Injected: 1\r\nContent-Length: 0\r\n\r\n", out.data());
}

std::string multipart(int chunkSize, bool parts)
{
    StringOutputStream out;
    MultipartHttpMsg m(out, chunkSize, "=_=b=_=");
    m.startRequest("/mp", 0);
    m.setHeader("SOAPAction", "\"\"");
    for (int i = 0; parts && i < 3; ++i) {
        OnePieceHttpMsg* p = m.addOnePiece(i == 1 ? -1 : 0);
        p->setHeader("Content-ID", i);
        if (i != 1)
            p->getBodyStream().write(i ? "\r\n--" : "<e/>", 4);  // part 1 without bytes
        m.endPart(p);
    }
    m.end();
    return out.data();
}

TEST(MultipartHttpMsg, PartsFramedByQuotedBoundary)
{
    const std::string head = "POST /mp HTTP/1.1\r\nSOAPAction: \"\"\r\nMIME-Version: 1.0\r\n"
                             "Content-Type: multipart/related; type=\"text/xml\"; boundary=\"=_=b=_=\"\r\n";
    const std::string body = "--=_=b=_=\r\nContent-ID: 0\r\n\r\n<e/>\r\n--=_=b=_=\r\nContent-ID: 1\r\n\r\n"
                             "\r\n--=_=b=_=\r\nContent-ID: 2\r\n\r\n\r\n--\r\n--=_=b=_=--\r\n";
    EXPECT_EQ(head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body, multipart(0, true));
    EXPECT_EQ(head + "Transfer-Encoding: chunked\r\n\r\n" + chunked(body, 7), multipart(7, true));
    EXPECT_EQ(head + "Content-Length: 13\r\n\r\n--=_=b=_=--\r\n", multipart(0, false));
}

}  // namespace
