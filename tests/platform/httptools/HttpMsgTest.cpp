// The HTTP message objects: exact bytes for single-part and multipart
// messages, chunked and length-delimited, and how they are cut into writes.
#include "platform/core/VexIllegalStateError.h"
#include "platform/httptools/MultipartHttpMsg.h"
#include "platform/httptools/OnePieceHttpMsg.h"
#include "platform/streams/QioIOException.h"
#include "support/StringOutputStream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string onePiece(int chunkSize, const std::string& body, unsigned pieces = 1)
{
    StringOutputStream out;
    OnePieceHttpMsg m(out, chunkSize);
    m.startRequest("/svc", 0);
    m.setHeader("SOAPAction", "\"\"");
    m.setHeader("X-N", 42);
    std::size_t step = (body.size() + pieces - 1) / (pieces ? pieces : 1);
    for (std::size_t at = 0; at < body.size(); at += step)
        m.getBodyStream().write(body.data() + at, static_cast<unsigned>(std::min(step, body.size() - at)));
    m.end();
    return out.data();
}

TEST(OnePieceHttpMsg, LengthDelimitedBody)
{
    EXPECT_EQ("POST /svc HTTP/1.1\r\nSOAPAction: \"\"\r\nX-N: 42\r\nContent-Length: 5\r\n\r\nhello", onePiece(0, "hello", 3));
}

TEST(OnePieceHttpMsg, ChunkedBodyInChunksOfTheGivenSize)
{
    const std::string head = "POST /svc HTTP/1.1\r\nSOAPAction: \"\"\r\nX-N: 42\r\nTransfer-Encoding: chunked\r\n\r\n";
    struct Case {
        int size;
        unsigned pieces;
        const char* body;
    } cases[] = {
        {4, 1, "4\r\nhell\r\n1\r\no\r\n0\r\n\r\n"},
        {4, 5, "4\r\nhell\r\n1\r\no\r\n0\r\n\r\n"},
        {1, 2, "1\r\nh\r\n1\r\ne\r\n1\r\nl\r\n1\r\nl\r\n1\r\no\r\n0\r\n\r\n"},
        {2, 1, "2\r\nhe\r\n2\r\nll\r\n1\r\no\r\n0\r\n\r\n"},
        {4000, 1, "5\r\nhello\r\n0\r\n\r\n"},
        {16, 1, "5\r\nhello\r\n0\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(head + c.body, onePiece(c.size, "hello", c.pieces));
    }
}

TEST(OnePieceHttpMsg, EmptyBodies)
{
    EXPECT_EQ("POST /svc HTTP/1.1\r\nSOAPAction: \"\"\r\nX-N: 42\r\nContent-Length: 0\r\n\r\n", onePiece(0, ""));
    EXPECT_EQ("POST /svc HTTP/1.1\r\nSOAPAction: \"\"\r\nX-N: 42\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
              onePiece(100, ""));
}

TEST(OnePieceHttpMsg, HeadAndSmallBodyLeaveInOneWrite)
{
    for (int size : {0, 4000, 65536}) {
        SCOPED_TRACE(size);
        StringOutputStream out;
        OnePieceHttpMsg m(out, size);
        m.startResponse(200, "OK");
        m.setHeader("Content-Type", "text/xml; charset=UTF-8");
        std::string env(1024, 'e');
        m.getBodyStream().write(env.data(), 600);
        m.getBodyStream().write(env.data() + 600, 424);
        m.end();
        ASSERT_EQ(1u, out.writes().size());
        EXPECT_EQ(0u, out.data().find("HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=UTF-8\r\n"));
    }
}

TEST(OnePieceHttpMsg, LargeChunksAreNotGatheredWhole)
{
    StringOutputStream out;
    OnePieceHttpMsg m(out, 65536);
    m.startRequest("/", 0);
    std::string data(4 * 65536 + 7, 'x');
    m.getBodyStream().write(data.data(), static_cast<unsigned>(data.size()));
    m.end();
    // Each full chunk is one write of its own, straight from the caller's bytes.
    unsigned direct = 0;
    for (unsigned w : out.writes())
        direct += w == 65536 ? 1 : 0;
    EXPECT_EQ(4u, direct);
    EXPECT_EQ(m.bytesSent(), out.data().size());
    EXPECT_NE(std::string::npos, out.data().find("\r\n7\r\nxxxxxxx\r\n0\r\n\r\n"));
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

TEST(OnePieceHttpMsg, MisuseIsIllegalState)
{
    StringOutputStream out;
    OnePieceHttpMsg m(out, 10);
    EXPECT_THROW(m.end(), VexIllegalStateError);  // no start line
    OnePieceHttpMsg n(out, 10);
    n.startResponse(500, "unknown reason");
    EXPECT_THROW(n.startRequest("/", 0), VexIllegalStateError);
    n.getBodyStream().write("0123456789A", 11);
    EXPECT_THROW(n.setHeader("Late", "1"), VexIllegalStateError);
    n.end();
    EXPECT_THROW(n.getBodyStream().write("x", 1), VexIllegalStateError);
    EXPECT_THROW(n.end(), VexIllegalStateError);
}

std::string multipart(int chunkSize)
{
    StringOutputStream out;
    MultipartHttpMsg m(out, chunkSize, "=_=b=_=");
    m.startRequest("/mp", 0);
    m.setHeader("SOAPAction", "\"\"");
    OnePieceHttpMsg* p = m.addOnePiece(0);
    p->setHeader("Content-Type", "text/xml; charset=UTF-8");
    p->setHeader("Content-ID", "envelope");
    p->getBodyStream().write("<e/>", 4);
    m.endPart(p);
    p = m.addOnePiece(-1);
    p->setHeader("Content-ID", "1");
    m.endPart(p);  // a part without bytes
    p = m.addOnePiece(0);
    p->setHeader("Content-ID", "2");
    p->getBodyStream().write("\r\n--", 4);
    m.endPart(p);
    m.end();
    return out.data();
}

TEST(MultipartHttpMsg, PartsFramedByQuotedBoundary)
{
    const std::string body =
        "--=_=b=_=\r\nContent-Type: text/xml; charset=UTF-8\r\nContent-ID: envelope\r\n\r\n<e/>"
        "\r\n--=_=b=_=\r\nContent-ID: 1\r\n\r\n"
        "\r\n--=_=b=_=\r\nContent-ID: 2\r\n\r\n\r\n--"
        "\r\n--=_=b=_=--\r\n";
    const std::string head =
        "POST /mp HTTP/1.1\r\nSOAPAction: \"\"\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/related; type=\"text/xml\"; boundary=\"=_=b=_=\"\r\n";
    EXPECT_EQ(head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body, multipart(0));
    // Chunked: the same body bytes, cut into chunks of 7.
    std::string chunked;
    for (std::size_t at = 0; at < body.size(); at += 7) {
        std::string piece = body.substr(at, 7);
        char size[8];
        std::snprintf(size, sizeof size, "%zx", piece.size());
        chunked += std::string(size) + "\r\n" + piece + "\r\n";
    }
    EXPECT_EQ(head + "Transfer-Encoding: chunked\r\n\r\n" + chunked + "0\r\n\r\n", multipart(7));
}

TEST(MultipartHttpMsg, NoPartsGivesClosingDelimiterOnly)
{
    StringOutputStream out;
    MultipartHttpMsg m(out, 0, "b");
    m.startResponse(200, "OK");
    m.end();
    EXPECT_EQ("HTTP/1.1 200 OK\r\nMIME-Version: 1.0\r\nContent-Type: multipart/related; type=\"text/xml\"; "
              "boundary=\"b\"\r\nContent-Length: 7\r\n\r\n--b--\r\n",
              out.data());
}

TEST(MultipartHttpMsg, StreamFailurePassesThrough)
{
    StringOutputStream out;
    out.failAt(1);
    MultipartHttpMsg m(out, 0, "b");
    m.startResponse(200, "OK");
    OnePieceHttpMsg* p = m.addOnePiece(0);
    p->getBodyStream().write("abc", 3);
    m.endPart(p);
    EXPECT_THROW(m.end(), QioIOException);
}

}  // namespace
