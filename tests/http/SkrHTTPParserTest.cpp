#include "http/SkrHTTPParser.h"

#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioBufferedInputStream.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/ExpectThrow.h"
#include "support/ExpectVexError.h"
#include "support/FailingInputStream.h"
#include "support/MemoryInputStream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// Parsers are made by the message and attachment readers only; tests reach
// the constructor through this friend.
class SkrHTTPParserTestPeer {
public:
    static std::unique_ptr<SkrHTTPParser> make() { return std::unique_ptr<SkrHTTPParser>(new SkrHTTPParser()); }
    static void processHeaders(SkrHTTPParser& p, QioBufferedInputStream* is, int process)
    {
        p.processHeaders(is, process);
    }
};

namespace {

const unsigned kUnexpectedEnd = 1842183075u;
const unsigned kBadMethod = 1841924072u;
const unsigned kBadHttpVersion = 1841455314u;
const unsigned kBadRequestLine = 1842181424u;
const unsigned kBadStatusLine = 1841628141u;
const unsigned kBadContentType = 1841604849u;
const unsigned kBadBoundary = 1841445727u;
const unsigned kBadContentId = 1841604980u;
const unsigned kBadContentLength = 1841768624u;
const unsigned kBadTransferEncoding = 1842158018u;

enum Kind { Request, Response, BodyPart };

// Feeds `wire` through a 1024-byte buffered stream, whole and one byte per read.
struct Feed {
    MemoryInputStream mem;
    QioBufferedInputStream in;
    std::unique_ptr<SkrHTTPParser> parser = SkrHTTPParserTestPeer::make();
    Feed(const std::string& wire, unsigned maxRead) : mem(wire, maxRead), in(mem, 1024) {}
    void parse(Kind kind)
    {
        if (kind == Request)
            parser->parseRequest(&in);
        else if (kind == Response)
            parser->parseResponse(&in);
        else
            parser->parseBodyPart(&in);
    }
    std::string rest() { return drain(in); }
    std::string header(const char* name)
    {
        const char* v = parser->getHeader(name);
        return v ? v : "<null>";
    }
};

const unsigned kReadSizes[] = {0u, 1u, 7u};

// ---- heads that parse ---------------------------------------------------

struct GoodHead {
    const char* label;
    Kind kind;
    std::string wire;
    // Expected header entries ("<null>": absent); names starting with '=' are
    // the parser's fields: =multipart =chunked =length =type =boundary =id.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // what stays in the stream
};

std::string valueOf(SkrHTTPParser& p, const std::string& name)
{
    if (name == "=multipart")
        return std::to_string(p.isMultipart());
    if (name == "=chunked")
        return std::to_string(p.isChunked());
    if (name == "=length")
        return std::to_string(p.getContentLength());
    if (name == "=type")
        return p.getContentType();
    if (name == "=boundary")
        return p.getMultipartDelimiter();
    if (name == "=id")
        return p.getContentID();
    const char* v = p.getHeader(name.c_str());
    return v ? v : "<null>";
}

TEST(HTTPParser, HeadsThatParse)
{
    const std::string b70(70, 'b');
    auto boundary = [](const std::string& attr) {
        return "HTTP/1.1 200 OK\r\nContent-Type: multipart/related; boundary=" + attr + "\r\n\r\n";
    };
    const std::vector<GoodHead> cases = {
        {"two empty lines before a request line are skipped", Request,
         "\r\n\r\nPOST /svc HTTP/1.1\r\nHost: h\r\n\r\nBODY",
         {{"skarn-method", "POST"}, {"skarn-uri", "/svc"}, {"skarn-http-version", "HTTP/1.1"}, {"host", "h"}}, "BODY"},
        {"lone LFs before the request line", Request, "\n\nGET / HTTP/1.0\n\n",
         {{"skarn-method", "GET"}, {"skarn-uri", "/"}, {"skarn-http-version", "HTTP/1.0"}}, ""},
        {"tabs between tokens, extra tokens ignored", Request, "POST\t/a\tHTTP/1.1\textra\r\n\r\n",
         {{"skarn-uri", "/a"}, {"skarn-http-version", "HTTP/1.1"}}, ""},
        {"URI is not checked", Request, "GET \x01\xFF" "x HTTP/1.0\r\n\r\n", {{"skarn-uri", "\x01\xFF" "x"}}, ""},
        {"status line", Response, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
         {{"skarn-http-version", "HTTP/1.1"}, {"skarn-status-code", "200"}, {"skarn-reason-phrase", "OK"},
          {"content-length", "5"}, {"=length", "5"}},
         "hello"},
        {"reason phrase of several words", Response, "HTTP/1.0 404 Not  Found\r\n\r\n",
         {{"skarn-status-code", "404"}, {"skarn-reason-phrase", "Not  Found"}}, ""},
        {"status line without reason", Response, "HTTP/1.0 500\r\n\r\n",
         {{"skarn-status-code", "500"}, {"skarn-reason-phrase", ""}}, ""},
        {"interim 100 responses are passed over", Response,
         "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n"
         "HTTP/1.1 202 Accepted\r\nX-Final: 2\r\n\r\nrest",
         {{"skarn-status-code", "202"}, {"skarn-reason-phrase", "Accepted"}, {"x-final", "2"}, {"x-interim", "<null>"}},
         "rest"},
        // A bad special header inside a 100 response is never looked at.
        {"interim headers are not processed", Response,
         "HTTP/1.1 100 Continue\r\nContent-Length: 0\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc",
         {{"=length", "3"}}, "abc"},
        {"blank lines before the status line", Response, "\r\n  \r\nHTTP/1.1 204 No Content\r\n\r\n",
         {{"skarn-status-code", "204"}}, ""},
        // A status of letters counts as 0, a final response: the loop stops there.
        {"status token of letters is stored and final", Response, "HTTP/1.1 x1 what\r\n\r\nHTTP/1.1 200 OK\r\n\r\n",
         {{"skarn-status-code", "x1"}, {"skarn-reason-phrase", "what"}}, "HTTP/1.1 200 OK\r\n\r\n"},
        {"header names trimmed and lower-cased, values in normal form", Request,
         "POST / HTTP/1.1\r\n  SOAPAction :  \"urn:x\"  \r\nX-A: v ;  q = 1 ;r=\"a b\"\r\n\r\n",
         {{"soapaction", "\"urn:x\""}, {"x-a", "v; q=1; r=\"a b\""}, {"SOAPAction", "<null>"}}, ""},
        {"last occurrence wins; capitals find nothing", Request,
         "POST / HTTP/1.1\r\nX-Dup: one\r\nx-dup: two\r\n\r\n", {{"x-dup", "two"}, {"X-Dup", "<null>"}}, ""},
        {"a received skarn-uri replaces the pseudo-header", Request,
         "POST /real HTTP/1.1\r\nskarn-uri: forged\r\n\r\n", {{"skarn-uri", "forged"}}, ""},
        {"a line without ':' is ignored and does not end the block", Request,
         "POST / HTTP/1.1\r\nno colon here\r\nX-After: yes\r\n\r\nB", {{"x-after", "yes"}, {"no colon here", "<null>"}},
         "B"},
        {"body part: headers only, no start line", BodyPart, "Content-Type: text/xml\r\nX-P: 1\r\n\r\n<e/>",
         {{"content-type", "text/xml"}, {"x-p", "1"}, {"skarn-method", "<null>"}}, "<e/>"},
        {"special headers set their fields", Request,
         "POST / HTTP/1.1\r\nContent-Type: Multipart/Related; type=\"text/xml\"; boundary=\"" + b70 +
             "\"\r\nContent-ID: <root@x>\r\nContent-Length: 12\r\nTransfer-Encoding: Chunked\r\n\r\n",
         {{"=multipart", "1"}, {"=type", "Multipart/Related"}, {"=boundary", b70}, {"=id", "<root@x>"},
          {"=length", "12"}, {"=chunked", "1"},
          {"content-type", "Multipart/Related; type=\"text/xml\"; boundary=" + b70}},
         ""},
        {"plain headers leave the flags off", Response,
         "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=UTF-8\r\nTransfer-Encoding: gzip, chunked\r\n\r\n",
         {{"=multipart", "0"}, {"=chunked", "0"}, {"=length", "0"}, {"=type", "text/xml"}, {"=boundary", ""},
          {"content-type", "text/xml; charset=UTF-8"}},
         ""},
        // The header value parser unquotes attribute values; a boundary that still
        // begins and ends with '"' after that was sent with escaped quotes.
        {"boundary of 70 characters", Response, boundary(b70), {{"=multipart", "1"}, {"=boundary", b70}}, ""},
        {"boundary of 70 characters in quotes", Response, boundary("\"" + b70 + "\""),
         {{"=multipart", "1"}, {"=boundary", b70}}, ""},
        {"boundary of 72 characters whose first and last are quotes", Response, boundary("\"\\\"" + b70 + "\\\"\""),
         {{"=multipart", "1"}, {"=boundary", "\"" + b70 + "\""}}, ""},
        {"boundary a=b in quotes", Response, boundary("\"a=b\""), {{"=multipart", "1"}, {"=boundary", "a=b"}}, ""},
    };
    for (const GoodHead& c : cases) {
        for (unsigned maxRead : kReadSizes) {
            SCOPED_TRACE(testing::Message() << c.label << " / reads of " << maxRead);
            Feed f(c.wire, maxRead);
            ASSERT_NO_THROW(f.parse(c.kind));
            for (const auto& h : c.headers)
                EXPECT_EQ(h.second, valueOf(*f.parser, h.first)) << h.first;
            EXPECT_EQ(c.body, f.rest());
        }
    }
}

// ---- failures ----------------------------------------------------------------

struct BadHead {
    const char* label;
    Kind kind;
    std::string wire;
    ExpectedSkarnError want;
    const char* rest = nullptr;  // what stays in the stream; null: not checked
    std::vector<std::pair<std::string, std::string>> kept = {};  // what the parser stored before failing
};

TEST(HTTPParser, HeadsThatFail)
{
    const std::string longTail = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string x71(71, 'x'), x70(70, 'x');
    auto boundary = [](const char* label, const std::string& attr) {
        return BadHead{label, Response, "HTTP/1.1 200 OK\r\nContent-Type: multipart/related; boundary=" + attr + "\r\n\r\n",
                       {12, kBadBoundary, "Content-Type: multipart/related; boundary=" + attr, "SkrHTTPParser::processHeader"}};
    };
    const std::vector<BadHead> cases = {
        {"empty input", Request, "", {6, kUnexpectedEnd, "", "SkrHTTPParser::parseRequest"}},
        {"only empty lines", Request, "\r\n\n\r\n", {6, kUnexpectedEnd, "", "SkrHTTPParser::parseRequest"}},
        {"end inside the method", Request, "POS", {6, kUnexpectedEnd, "", "SkrHTTPParser::parseRequest"}},
        {"end right after the method", Request, "POST", {6, kUnexpectedEnd, "", "SkrHTTPParser::parseRequest"}},
        {"leading blank: the blank, 21 bytes and ...", Request, " POST /" + longTail + "\r\n",
         {7, kBadMethod, " POST /ABCDEFGHIJKLMNO...", "SkrHTTPParser::parseRequest"}},
        {"PUT fails at its second byte", Request, "PUT / HTTP/1.1\r\n\r\n",
         {7, kBadMethod, "PUT / HTTP/1.1\r\n\r\n...", "SkrHTTPParser::parseRequest"}},
        {"lower-case method", Request, "post / HTTP/1.1\r\n\r\n",
         {7, kBadMethod, "post / HTTP/1.1\r\n\r\n...", "SkrHTTPParser::parseRequest"}},
        {"CR not followed by LF", Request, "\r\rGET",
         {7, kBadMethod, "\r\rGET...", "SkrHTTPParser::parseRequest"}},
        {"bytes of an earlier empty line are not shown", Request, "\r\nGEX",
         {7, kBadMethod, "GEX...", "SkrHTTPParser::parseRequest"}},
        {"POSTX passes the byte check, fails the token check", Request, "POSTX /a HTTP/1.1\r\n\r\n",
         {7, kBadMethod, "POSTX /a HTTP/1.1", "SkrHTTPParser::validateRequestLine"}},
        {"version HTTP/1.2", Request, "POST /a HTTP/1.2\r\n\r\n",
         {8, kBadHttpVersion, "POST /a HTTP/1.2", "SkrHTTPParser::validateRequestLine"}},
        {"only method and URI", Request, "POST /a\r\n\r\n",
         {9, kBadRequestLine, "POST /a", "SkrHTTPParser::validateRequestLine"}},
        {"only the method", Request, "GET   \r\n\r\n", {9, kBadRequestLine, "GET", "SkrHTTPParser::validateRequestLine"}},
        {"end inside the header block", Request, "POST / HTTP/1.1\r\nHost: h\r\n",
         {6, kUnexpectedEnd, "", "SkrHTTPParser::processHeaders"}},
        {"response: empty input", Response, "", {6, kUnexpectedEnd, "", "SkrHTTPParser::parseResponse"}},
        {"response: only blank lines", Response, "\r\n \r\n", {6, kUnexpectedEnd, "", "SkrHTTPParser::parseResponse"}},
        {"response: bad version", Response, "HTTP/2 200 OK\r\n\r\n",
         {8, kBadHttpVersion, "HTTP/2 200 OK", "SkrHTTPParser::validateResponseLine"}},
        {"response: version only", Response, "HTTP/1.1\r\n\r\n",
         {10, kBadStatusLine, "HTTP/1.1", "SkrHTTPParser::validateResponseLine"}},
        {"response: end after an interim 100", Response, "HTTP/1.1 100 Continue\r\n\r\n",
         {6, kUnexpectedEnd, "", "SkrHTTPParser::parseResponse"}},
        {"response: end inside the 100's headers", Response, "HTTP/1.1 100 Continue\r\nX: 1\r\n",
         {6, kUnexpectedEnd, "", "SkrHTTPParser::processHeaders"}},
        {"empty content-type", Response, "HTTP/1.1 200 OK\r\nContent-Type:  \r\n\r\n",
         {11, kBadContentType, "Content-Type:", "SkrHTTPParser::processHeader"}},
        {"content-type with attributes only", Response, "HTTP/1.1 200 OK\r\nContent-Type: ; a=b\r\n\r\n",
         {11, kBadContentType, "Content-Type: ; a=b", "SkrHTTPParser::processHeader"}},
        {"multipart without boundary", Response, "HTTP/1.1 200 OK\r\ncontent-type: multipart/related; type=x\r\n\r\n",
         {12, kBadBoundary, "content-type: multipart/related; type=x", "SkrHTTPParser::processHeader"}},
        {"multipart with empty boundary", Response, "HTTP/1.1 200 OK\r\ncontent-type: multipart/mixed; boundary=\"\"\r\n\r\n",
         {12, kBadBoundary, "content-type: multipart/mixed; boundary=\"\"", "SkrHTTPParser::processHeader"}},
        {"empty content-id", Response, "HTTP/1.1 200 OK\r\nContent-ID:\r\n\r\n",
         {13, kBadContentId, "Content-ID:", "SkrHTTPParser::processHeader"}},
        {"content-length 0", Response, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n",
         {14, kBadContentLength, "Content-Length: 0", "SkrHTTPParser::processHeader"}},
        {"content-length negative", Response, "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n",
         {14, kBadContentLength, "Content-Length: -5", "SkrHTTPParser::processHeader"}},
        {"content-length not a number", Response, "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n",
         {14, kBadContentLength, "Content-Length: abc", "SkrHTTPParser::processHeader"}},
        {"content-length empty", Request, "POST / HTTP/1.1\r\nContent-Length:\r\n\r\n",
         {14, kBadContentLength, "Content-Length:", "SkrHTTPParser::processHeader"}},
        {"empty transfer-encoding", Request, "POST / HTTP/1.1\r\nTransfer-Encoding: \t\r\n\r\n",
         {15, kBadTransferEncoding, "Transfer-Encoding:", "SkrHTTPParser::processHeader"}},
        {"body part: empty content-id", BodyPart, "Content-ID: \r\n\r\n",
         {13, kBadContentId, "Content-ID:", "SkrHTTPParser::processHeader"}},
        {"body part: end inside the block", BodyPart, "X: 1\r\n", {6, kUnexpectedEnd, "", "SkrHTTPParser::processHeaders"}},
        // The refused byte and 21 more are taken from the stream; the rest stays.
        {"bad method stops after 21 further bytes", Request, "X123456789012345678901REST",
         {7, kBadMethod, "X123456789012345678901...", "SkrHTTPParser::parseRequest"}, "REST"},
        {"literal text keeps NUL bytes", Request, std::string("\0GET", 4),
         {7, kBadMethod, std::string("\0GET...", 7), "SkrHTTPParser::parseRequest"}},
        {"what was stored before a failure stays", Request, "POST /a HTTP/1.1\r\nX-One: 1\r\nContent-Length: 0\r\n\r\n",
         {14, kBadContentLength, "Content-Length: 0", "SkrHTTPParser::processHeader"}, nullptr,
         {{"skarn-uri", "/a"}, {"x-one", "1"}, {"content-length", "<null>"}}},
        boundary("boundary of 71 characters", x71),
        boundary("boundary of 71 characters in quotes", "\"" + x71 + "\""),
        boundary("boundary of 73 characters whose first and last are quotes", "\"\\\"" + x71 + "\\\"\""),
        boundary("boundary of 72 characters, only the first a quote", "\"\\\"" + x70 + "x\""),
    };
    for (const BadHead& c : cases) {
        for (unsigned maxRead : kReadSizes) {
            SCOPED_TRACE(testing::Message() << c.label << " / reads of " << maxRead);
            Feed f(c.wire, maxRead);
            expectSkarnError([&] { f.parse(c.kind); }, c.want);
            EXPECT_EQ(0, f.parser->isMultipart());
            if (c.rest) {
                EXPECT_EQ(c.rest, f.rest());
            }
            for (const auto& h : c.kept)
                EXPECT_EQ(h.second, valueOf(*f.parser, h.first)) << h.first;
        }
    }
}

TEST(HTTPParser, ParseClearsFlagsButBodyPartClearsEverything)
{
    auto parser = SkrHTTPParserTestPeer::make();
    {
        MemoryInputStream mem("POST / HTTP/1.1\r\nContent-Type: multipart/related; boundary=b\r\n"
                              "Content-Length: 9\r\nTransfer-Encoding: chunked\r\nContent-ID: c\r\n\r\n");
        QioBufferedInputStream in(mem, 64);
        parser->parseRequest(&in);
        EXPECT_EQ(1, parser->isMultipart());
    }
    {
        MemoryInputStream mem("HTTP/1.1 200 OK\r\n\r\n");
        QioBufferedInputStream in(mem, 64);
        parser->parseResponse(&in);
        EXPECT_EQ(0, parser->isMultipart());
        EXPECT_EQ(0, parser->isChunked());
        EXPECT_EQ(0, parser->getContentLength());
        // The table and the texts are kept by a head parse.
        EXPECT_NE(nullptr, parser->getHeader("content-id"));
        EXPECT_EQ("c", parser->getContentID());
    }
    {
        MemoryInputStream mem("X-Part: 1\r\n\r\n");
        QioBufferedInputStream in(mem, 64);
        parser->parseBodyPart(&in);
        EXPECT_EQ(nullptr, parser->getHeader("content-id"));
        EXPECT_EQ(nullptr, parser->getHeader("skarn-status-code"));
        EXPECT_EQ("", parser->getContentID());
        EXPECT_EQ("", parser->getContentType());
        EXPECT_EQ("", parser->getMultipartDelimiter());
        EXPECT_EQ(1u, parser->getHeaders().size());
    }
}

TEST(HTTPParser, NullStreamFailsTheAssertion)
{
    auto parser = SkrHTTPParserTestPeer::make();
    EXPECT_EQ("VEX_ASSERT(is);", assertionText([&] { parser->parseRequest(nullptr); }));
    EXPECT_EQ("VEX_ASSERT(is);", assertionText([&] { parser->parseResponse(nullptr); }));
    EXPECT_EQ("VEX_ASSERT(is);", assertionText([&] { SkrHTTPParserTestPeer::processHeaders(*parser, nullptr, 1); }));
}

TEST(HTTPParser, NeverReadsPastTheHeadAtAnySplit)
{
    const std::string head = "POST /svc HTTP/1.1\r\nHost: a\r\nContent-Length: 4\r\n\r\n";
    for (std::size_t cut = 1; cut < head.size(); ++cut) {
        // Two reads: the head cut at `cut`, then the rest and the body.
        for (unsigned maxRead : {static_cast<unsigned>(cut), 1u}) {
            MemoryInputStream mem(head + "BODY", maxRead);
            QioBufferedInputStream in(mem, 1024);
            auto parser = SkrHTTPParserTestPeer::make();
            parser->parseRequest(&in);
            EXPECT_EQ(4, parser->getContentLength());
            EXPECT_EQ("BODY", drain(in));
        }
    }
}

}  // namespace

namespace {

TEST(HTTPParser, StreamExceptionsPassThroughUnchanged)
{
    // The socket stream times out inside the start line or the header block.
    const std::vector<std::pair<Kind, std::string>> cases = {
        {Request, ""}, {Request, "PO"}, {Request, "POST / HTTP/1.1\r\nHost: a\r\n"},
        {Response, ""}, {Response, "HTTP/1.1 200 OK\r\nA: b\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        FailingInputStream socket(c.second);
        QioBufferedInputStream in(socket, 1024);
        auto parser = SkrHTTPParserTestPeer::make();
        try {
            if (c.first == Request)
                parser->parseRequest(&in);
            else
                parser->parseResponse(&in);
            ADD_FAILURE() << "nothing thrown";
        } catch (const QioIOTimeoutException& e) {
            ASSERT_EQ(1u, e.getBackTraceCount());
            EXPECT_EQ("FailingInputStream::read", e.getBackTraceAt(0).function);
        }
    }
}

}  // namespace
