#include "http/SkrHTTPParser.h"

#include "platform/streams/QioBufferedInputStream.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/ExpectThrow.h"
#include "support/ExpectVexError.h"
#include "support/FailingInputStream.h"
#include "support/MemoryInputStream.h"
#include "support/Raised.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// Parsers are made by the message and attachment readers only; tests reach
// the constructor through this friend.
class SkrHTTPParserTestPeer {
public:
    static std::unique_ptr<SkrHTTPParser> make() { return std::unique_ptr<SkrHTTPParser>(new SkrHTTPParser()); }
    static void processHeaders(SkrHTTPParser& p, QioBufferedInputStream* is) { p.processHeaders(is, 1); }
};

namespace {

enum Kind { Request, Response, BodyPart };

void parse(SkrHTTPParser& p, Kind kind, QioBufferedInputStream& in)
{
    if (kind == Request)
        p.parseRequest(&in);
    else if (kind == Response)
        p.parseResponse(&in);
    else
        p.parseBodyPart(&in);
}

// Header entries ("<null>": absent) and, for names starting with '=', the
// parser's fields: =multipart =chunked =length =type =boundary =id.
using Values = std::vector<std::pair<std::string, std::string>>;

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

// One head fed through a 1024-byte buffered stream in reads of every size
// (0: whole): `check` sees the parser and the bytes left after the parse.
void everySplit(const std::string& label, const std::string& wire,
                const std::function<void(SkrHTTPParser&, QioBufferedInputStream&)>& check)
{
    for (std::size_t maxRead = 0; maxRead <= wire.size(); ++maxRead) {
        SCOPED_TRACE(testing::Message() << label << " / reads of " << maxRead);
        MemoryInputStream mem(wire, static_cast<unsigned>(maxRead));
        QioBufferedInputStream in(mem, 1024);
        auto parser = SkrHTTPParserTestPeer::make();
        check(*parser, in);
        if (testing::Test::HasFailure())
            return;  // one failing row is report enough
    }
}

struct GoodHead {
    const char* label;
    Kind kind;
    std::string wire;
    Values values;
    std::string body;  // what stays in the stream
};

TEST(HTTPParser, HeadsThatParse)
{
    const std::string b70(70, 'b');
    auto mp = [](const std::string& attr) { return "HTTP/1.1 200 OK\r\nContent-Type: multipart/related; boundary=" + attr + "\r\n\r\n"; };
    const std::vector<GoodHead> cases = {
        {"empty lines before a request line", Request, "\r\n\r\nPOST /svc HTTP/1.1\r\nHost: h\r\nContent-Length: 4\r\n\r\nBODY",
         {{"skarn-method", "POST"}, {"skarn-uri", "/svc"}, {"skarn-http-version", "HTTP/1.1"}, {"host", "h"}, {"=length", "4"}}, "BODY"},
        {"lone LFs", Request, "\n\nGET / HTTP/1.0\n\n", {{"skarn-method", "GET"}, {"skarn-uri", "/"}, {"skarn-http-version", "HTTP/1.0"}}, ""},
        {"tabs between tokens, extra tokens", Request, "POST\t/a\tHTTP/1.1\textra\r\n\r\n", {{"skarn-uri", "/a"}, {"skarn-http-version", "HTTP/1.1"}}, ""},
        {"URI is not checked", Request, "GET \x01\xFF" "x HTTP/1.0\r\n\r\n", {{"skarn-uri", "\x01\xFF" "x"}}, ""},
        {"status line", Response, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
         {{"skarn-http-version", "HTTP/1.1"}, {"skarn-status-code", "200"}, {"skarn-reason-phrase", "OK"}, {"content-length", "5"}, {"=length", "5"}}, "hello"},
        {"reason of several words", Response, "HTTP/1.0 404 Not  Found\r\n\r\n", {{"skarn-status-code", "404"}, {"skarn-reason-phrase", "Not  Found"}}, ""},
        {"no reason", Response, "HTTP/1.0 500\r\n\r\n", {{"skarn-status-code", "500"}, {"skarn-reason-phrase", ""}}, ""},
        {"interim 100 responses passed over", Response,
         "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n\r\nHTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 202 Accepted\r\nX-Final: 2\r\n\r\nrest",
         {{"skarn-status-code", "202"}, {"skarn-reason-phrase", "Accepted"}, {"x-final", "2"}, {"x-interim", "<null>"}}, "rest"},
        // A bad special header inside a 100 response is never looked at.
        {"interim headers not processed", Response, "HTTP/1.1 100 Continue\r\nContent-Length: 0\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc",
         {{"=length", "3"}}, "abc"},
        {"blank lines before the status line", Response, "\r\n  \r\nHTTP/1.1 204 No Content\r\n\r\n", {{"skarn-status-code", "204"}}, ""},
        // A status of letters counts as 0, a final response: the loop stops there.
        {"status of letters is final", Response, "HTTP/1.1 x1 what\r\n\r\nHTTP/1.1 200 OK\r\n\r\n",
         {{"skarn-status-code", "x1"}, {"skarn-reason-phrase", "what"}}, "HTTP/1.1 200 OK\r\n\r\n"},
        {"names trimmed and lower-cased, values in normal form", Request,
         "POST / HTTP/1.1\r\n  SOAPAction :  \"urn:x\"  \r\nX-A: v ;  q = 1 ;r=\"a b\"\r\n\r\n",
         {{"soapaction", "\"urn:x\""}, {"x-a", "v; q=1; r=\"a b\""}, {"SOAPAction", "<null>"}}, ""},
        {"last occurrence wins", Request, "POST / HTTP/1.1\r\nX-Dup: one\r\nx-dup: two\r\n\r\n", {{"x-dup", "two"}}, ""},
        {"a received skarn-uri replaces the pseudo-header", Request, "POST /real HTTP/1.1\r\nskarn-uri: forged\r\n\r\n", {{"skarn-uri", "forged"}}, ""},
        {"a line without ':' is ignored", Request, "POST / HTTP/1.1\r\nno colon here\r\nX-After: yes\r\n\r\nB",
         {{"x-after", "yes"}, {"no colon here", "<null>"}}, "B"},
        {"body part: headers only", BodyPart, "Content-Type: text/xml\r\nX-P: 1\r\n\r\n<e/>",
         {{"content-type", "text/xml"}, {"x-p", "1"}, {"skarn-method", "<null>"}}, "<e/>"},
        {"special headers set their fields", Request,
         "POST / HTTP/1.1\r\nContent-Type: Multipart/Related; type=\"text/xml\"; boundary=\"" + b70 +
             "\"\r\nContent-ID: <root@x>\r\nContent-Length: 12\r\nTransfer-Encoding: Chunked\r\n\r\n",
         {{"=multipart", "1"}, {"=type", "Multipart/Related"}, {"=boundary", b70}, {"=id", "<root@x>"}, {"=length", "12"}, {"=chunked", "1"},
          {"content-type", "Multipart/Related; type=\"text/xml\"; boundary=" + b70}}, ""},
        {"plain headers leave the flags off", Response,
         "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=UTF-8\r\nTransfer-Encoding: gzip, chunked\r\n\r\n",
         {{"=multipart", "0"}, {"=chunked", "0"}, {"=length", "0"}, {"=type", "text/xml"}, {"=boundary", ""}}, ""},
        // The value parser unquotes; a boundary still in quotes after that was sent with escaped quotes.
        {"boundary of 70 in quotes", Response, mp("\"" + b70 + "\""), {{"=multipart", "1"}, {"=boundary", b70}}, ""},
        {"boundary of 72 whose first and last are quotes", Response, mp("\"\\\"" + b70 + "\\\"\""), {{"=boundary", "\"" + b70 + "\""}}, ""},
        {"boundary a=b in quotes", Response, mp("\"a=b\""), {{"=multipart", "1"}, {"=boundary", "a=b"}}, ""},
    };
    for (const GoodHead& c : cases)
        everySplit(c.label, c.wire, [&](SkrHTTPParser& p, QioBufferedInputStream& in) {
            noThrowable([&] { parse(p, c.kind, in); });
            for (const auto& v : c.values)
                EXPECT_EQ(v.second, valueOf(p, v.first)) << v.first;
            EXPECT_EQ(c.body, drain(in));
        });
}

struct Err {
    int code;
    unsigned message;
};
const Err END{6, 1842183075u}, METHOD{7, 1841924072u}, VERSION{8, 1841455314u}, REQLINE{9, 1842181424u}, STATUS{10, 1841628141u},
    TYPE{11, 1841604849u}, BOUNDARY{12, 1841445727u}, ID{13, 1841604980u}, LENGTH{14, 1841768624u}, TE{15, 1842158018u};
const char *const REQ = "SkrHTTPParser::parseRequest", *const RESP = "SkrHTTPParser::parseResponse",
                  *const VREQ = "SkrHTTPParser::validateRequestLine", *const VRESP = "SkrHTTPParser::validateResponseLine",
                  *const HEADS = "SkrHTTPParser::processHeaders", *const HEAD = "SkrHTTPParser::processHeader";

struct BadHead {
    const char* label;
    Kind kind;
    std::string wire;
    Err err;
    std::string literal;
    const char* function;
    const char* rest = nullptr;  // what stays in the stream; null: not checked
    Values kept = {};            // what the parser stored before failing
};

TEST(HTTPParser, HeadsThatFail)
{
    const std::string x71(71, 'x'), x70(70, 'x');
    auto mp = [](const char* label, const std::string& attr) {
        return BadHead{label, Response, "HTTP/1.1 200 OK\r\nContent-Type: multipart/related; boundary=" + attr + "\r\n\r\n", BOUNDARY,
                       "Content-Type: multipart/related; boundary=" + attr, HEAD};
    };
    const std::vector<BadHead> cases = {
        {"empty input", Request, "", END, "", REQ},
        {"only empty lines", Request, "\r\n\n\r\n", END, "", REQ},
        {"end inside the method", Request, "POS", END, "", REQ},
        {"end right after the method", Request, "POST", END, "", REQ},
        {"leading blank: the blank, 21 bytes and ...", Request, " POST /ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n", METHOD, " POST /ABCDEFGHIJKLMNO...", REQ},
        {"PUT fails at its second byte", Request, "PUT / HTTP/1.1\r\n\r\n", METHOD, "PUT / HTTP/1.1\r\n\r\n...", REQ},
        {"lower-case method", Request, "post / HTTP/1.1\r\n\r\n", METHOD, "post / HTTP/1.1\r\n\r\n...", REQ},
        {"CR not followed by LF", Request, "\r\rGET", METHOD, "\r\rGET...", REQ},
        {"bytes of an earlier empty line are not shown", Request, "\r\nGEX", METHOD, "GEX...", REQ},
        {"refused byte and 21 more taken, the rest stays", Request, "X123456789012345678901REST", METHOD, "X123456789012345678901...", REQ, "REST"},
        {"literal keeps NUL bytes", Request, std::string("\0GET", 4), METHOD, std::string("\0GET...", 7), REQ},
        {"POSTX passes the byte check, fails the token check", Request, "POSTX /a HTTP/1.1\r\n\r\n", METHOD, "POSTX /a HTTP/1.1", VREQ},
        {"version HTTP/1.2", Request, "POST /a HTTP/1.2\r\n\r\n", VERSION, "POST /a HTTP/1.2", VREQ},
        {"only method and URI", Request, "POST /a\r\n\r\n", REQLINE, "POST /a", VREQ},
        {"only the method", Request, "GET   \r\n\r\n", REQLINE, "GET", VREQ},
        {"end inside the header block", Request, "POST / HTTP/1.1\r\nHost: h\r\n", END, "", HEADS},
        {"response: empty input", Response, "", END, "", RESP},
        {"response: only blank lines", Response, "\r\n \r\n", END, "", RESP},
        {"response: bad version", Response, "HTTP/2 200 OK\r\n\r\n", VERSION, "HTTP/2 200 OK", VRESP},
        {"response: version only", Response, "HTTP/1.1\r\n\r\n", STATUS, "HTTP/1.1", VRESP},
        {"response: end after an interim 100", Response, "HTTP/1.1 100 Continue\r\n\r\n", END, "", RESP},
        {"response: end inside the 100's headers", Response, "HTTP/1.1 100 Continue\r\nX: 1\r\n", END, "", HEADS},
        {"empty content-type", Response, "HTTP/1.1 200 OK\r\nContent-Type:  \r\n\r\n", TYPE, "Content-Type:", HEAD},
        {"content-type with attributes only", Response, "HTTP/1.1 200 OK\r\nContent-Type: ; a=b\r\n\r\n", TYPE, "Content-Type: ; a=b", HEAD},
        {"multipart without boundary", Response, "HTTP/1.1 200 OK\r\ncontent-type: multipart/related; type=x\r\n\r\n", BOUNDARY,
         "content-type: multipart/related; type=x", HEAD},
        {"multipart, empty boundary", Response, "HTTP/1.1 200 OK\r\ncontent-type: multipart/mixed; boundary=\"\"\r\n\r\n", BOUNDARY,
         "content-type: multipart/mixed; boundary=\"\"", HEAD},
        {"empty content-id", Response, "HTTP/1.1 200 OK\r\nContent-ID:\r\n\r\n", ID, "Content-ID:", HEAD},
        {"content-length negative", Response, "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", LENGTH, "Content-Length: -5", HEAD},
        {"content-length not a number", Response, "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n", LENGTH, "Content-Length: abc", HEAD},
        {"content-length empty", Request, "POST / HTTP/1.1\r\nContent-Length:\r\n\r\n", LENGTH, "Content-Length:", HEAD},
        {"content-length 0; what was stored before stays", Request, "POST /a HTTP/1.1\r\nX-One: 1\r\nContent-Length: 0\r\n\r\n", LENGTH,
         "Content-Length: 0", HEAD, nullptr, {{"skarn-uri", "/a"}, {"x-one", "1"}, {"content-length", "<null>"}}},
        {"empty transfer-encoding", Request, "POST / HTTP/1.1\r\nTransfer-Encoding: \t\r\n\r\n", TE, "Transfer-Encoding:", HEAD},
        {"body part: empty content-id", BodyPart, "Content-ID: \r\n\r\n", ID, "Content-ID:", HEAD},
        {"body part: end inside the block", BodyPart, "X: 1\r\n", END, "", HEADS},
        mp("boundary of 71", x71),
        mp("boundary of 71 in quotes", "\"" + x71 + "\""),
        mp("boundary of 73 whose first and last are quotes", "\"\\\"" + x71 + "\\\"\""),
        mp("boundary of 72, only the first a quote", "\"\\\"" + x70 + "x\""),
    };
    for (const BadHead& c : cases)
        everySplit(c.label, c.wire, [&](SkrHTTPParser& p, QioBufferedInputStream& in) {
            expectSkarnError([&] { parse(p, c.kind, in); }, {c.err.code, c.err.message, c.literal, c.function});
            EXPECT_EQ(0, p.isMultipart());
            if (c.rest) {
                EXPECT_EQ(c.rest, drain(in));
            }
            for (const auto& v : c.kept)
                EXPECT_EQ(v.second, valueOf(p, v.first)) << v.first;
        });
}

TEST(HTTPParser, ParseClearsFlagsButBodyPartClearsEverything)
{
    auto parser = SkrHTTPParserTestPeer::make();
    for (const char* wire : {"POST / HTTP/1.1\r\nContent-Type: multipart/related; boundary=b\r\nContent-Length: 9\r\n"
                             "Transfer-Encoding: chunked\r\nContent-ID: c\r\n\r\n",
                             "HTTP/1.1 200 OK\r\n\r\n", "X-Part: 1\r\n\r\n"}) {
        MemoryInputStream mem(wire);
        QioBufferedInputStream in(mem, 64);
        parse(*parser, wire[0] == 'P' ? Request : wire[0] == 'H' ? Response : BodyPart, in);
        if (wire[0] == 'H') {  // a head parse keeps the table and the texts
            EXPECT_EQ("0 0 0 c c", valueOf(*parser, "=multipart") + " " + valueOf(*parser, "=chunked") + " " +
                                       valueOf(*parser, "=length") + " " + valueOf(*parser, "=id") + " " + valueOf(*parser, "content-id"));
        }
    }
    EXPECT_EQ(1u, parser->getHeaders().size());
    EXPECT_EQ("<null> <null>   ", valueOf(*parser, "content-id") + " " + valueOf(*parser, "skarn-status-code") + " " +
                                      parser->getContentID() + " " + parser->getContentType() + " " + parser->getMultipartDelimiter());
}

TEST(HTTPParser, NullStreamAndStreamExceptions)
{
    auto parser = SkrHTTPParserTestPeer::make();
    EXPECT_EQ("VEX_ASSERT(is);", assertionText([&] { parser->parseRequest(nullptr); }));
    EXPECT_EQ("VEX_ASSERT(is);", assertionText([&] { parser->parseResponse(nullptr); }));
    EXPECT_EQ("VEX_ASSERT(is);", assertionText([&] { SkrHTTPParserTestPeer::processHeaders(*parser, nullptr); }));
    // The socket stream times out inside the start line or the header block: its exception passes unchanged.
    const std::pair<Kind, std::string> cases[] = {{Request, ""}, {Request, "PO"}, {Request, "POST / HTTP/1.1\r\nHost: a\r\n"},
                                                  {Response, ""}, {Response, "HTTP/1.1 200 OK\r\nA: b\r\n"}};
    for (const auto& c : cases) {
        FailingInputStream socket(c.second);
        QioBufferedInputStream in(socket, 1024);
        EXPECT_EQ("1: FailingInputStream::read [VEX_THROW]", raised<QioIOTimeoutException>([&] { parse(*parser, c.first, in); })) << c.second;
    }
}

}  // namespace
