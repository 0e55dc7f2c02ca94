#include "http/SkrHTTPParser.h"

#include "platform/streams/QioBufferedInputStream.h"
#include "support/ExpectThrow.h"
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
};

namespace {

enum Kind { Request, Response };

void parse(SkrHTTPParser& p, Kind kind, QioBufferedInputStream& in)
{
    kind == Request ? p.parseRequest(&in) : p.parseResponse(&in);
}

// Header entries ("<null>": absent) and, for names starting with '=', the
// parser's fields: =multipart =chunked =length =haslength =status =boundary
// (type and ID are the attachment reader's tests' part).
using Values = std::vector<std::pair<std::string, std::string>>;

std::string valueOf(SkrHTTPParser& p, const std::string& name)
{
    if (name == "=multipart")
        return std::to_string(p.isMultipart());
    if (name == "=chunked")
        return std::to_string(p.isChunked());
    if (name == "=length")
        return std::to_string(p.getContentLength());
    if (name == "=haslength")
        return std::to_string(p.hasContentLength());
    if (name == "=status")
        return std::to_string(p.getStatusCode());
    if (name == "=boundary")
        return p.getMultipartDelimiter();
    if (name == "=type")
        return p.getContentType();
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
    const std::vector<GoodHead> cases = {
        {"empty lines before a request line", Request, "\r\n\r\nPOST /svc HTTP/1.1\r\nHost: h\r\nContent-Length: 4\r\n\r\nBODY",
         {{"skarn-method", "POST"}, {"skarn-uri", "/svc"}, {"skarn-http-version", "HTTP/1.1"}, {"host", "h"}, {"=length", "4"}}, "BODY"},
        {"status line", Response, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
         {{"skarn-http-version", "HTTP/1.1"}, {"skarn-status-code", "200"}, {"skarn-reason-phrase", "OK"}, {"content-length", "5"},
          {"=length", "5"}, {"=haslength", "1"}, {"=status", "200"}}, "hello"},
        {"interim 100 and 103 responses passed over", Response,
         "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
         "HTTP/1.1 202 Accepted\r\nX-Final: 2\r\nSkarn-Status-Code: 500\r\n\r\nrest",
         {{"skarn-status-code", "500"}, {"=status", "202"}, {"skarn-reason-phrase", "Accepted"}, {"x-final", "2"}, {"x-interim", "<null>"},
          {"link", "<null>"}, {"=haslength", "0"}, {"=length", "0"}}, "rest"},
        {"101 is a final response", Response, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\nrest",
         {{"=status", "101"}, {"upgrade", "x"}}, "rest"},
        {"content-length 0: an empty body", Request, "POST / HTTP/1.1\r\nContent-Length: 00\r\n\r\nNEXT",
         {{"content-length", "00"}, {"=length", "0"}, {"=haslength", "1"}, {"=status", "0"}}, "NEXT"},
        {"the same content-length twice", Response, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length:  2\r\n\r\nokNEXT",
         {{"content-length", "2"}, {"=length", "2"}}, "okNEXT"},
        {"names trimmed and lower-cased, values in normal form", Request,
         "POST / HTTP/1.1\r\n  SOAPAction :  \"urn:x\"  \r\nX-A: v ;  q = 1 ;r=\"a b\"\r\n"
         "X-\xC1\xDA\x80Z@[-ABCDEFGHIJKLMNOP\xC1Z: 1\r\n\r\n",
         {{"soapaction", "\"urn:x\""}, {"x-a", "v; q=1; r=\"a b\""}, {"SOAPAction", "<null>"},
          {"x-\xC1\xDA\x80z@[-abcdefghijklmnop\xC1z", "1"}}, ""},
        {"special headers set their fields", Request,
         "POST / HTTP/1.1\r\nContent-Type: Multipart/Related; type=\"text/xml\"; boundary=\"" + b70 +
             "\"\r\nContent-ID: <root@x>\r\nContent-Length: 12\r\nTransfer-Encoding: Chunked\r\n\r\n",
         {{"=multipart", "1"}, {"=boundary", b70}, {"=length", "12"}, {"=chunked", "1"},
          {"content-type", "Multipart/Related; type=\"text/xml\"; boundary=" + b70}}, ""},
        {"values in normal form kept as sent; a huge length saturates", Request,
         "POST / HTTP/1.1\r\nContent-Type: Text/XML; charset=utf-8\r\nX-B: a (b; c d); e=f\r\nContent-Length: 99999999999\r\n\r\n",
         {{"content-type", "Text/XML; charset=utf-8"}, {"=type", "Text/XML"}, {"x-b", "a (b; c d); e=f"}, {"=length", "2147483647"}}, ""},
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
const Err END{6, 1842183075u}, METHOD{7, 1841924072u}, VERSION{8, 1841455314u}, REQLINE{9, 1842181424u}, TYPE{11, 1841604849u},
    BOUNDARY{12, 1841445727u}, LENGTH{14, 1841768624u};
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
    const std::string x71(71, 'x');
    const std::vector<BadHead> cases = {
        {"empty input", Request, "", END, "", REQ},
        {"refused byte and 21 more taken, the rest stays", Request, "X123456789012345678901REST", METHOD, "X123456789012345678901...", REQ, "REST"},
        {"version HTTP/1.2", Request, "POST /a HTTP/1.2\r\n\r\n", VERSION, "POST /a HTTP/1.2", VREQ},
        {"only method and URI", Request, "POST /a\r\n\r\n", REQLINE, "POST /a", VREQ},
        {"end inside the header block", Request, "POST / HTTP/1.1\r\nHost: h\r\n", END, "", HEADS},
        {"response: bad version", Response, "HTTP/2 200 OK\r\n\r\n", VERSION, "HTTP/2 200 OK", VRESP},
        {"empty content-type", Response, "HTTP/1.1 200 OK\r\nContent-Type:  \r\n\r\n", TYPE, "Content-Type:", HEAD},
        {"multipart without boundary", Response, "HTTP/1.1 200 OK\r\ncontent-type: multipart/related; type=x\r\n\r\n", BOUNDARY,
         "content-type: multipart/related; type=x", HEAD},
        {"content-length negative", Response, "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", LENGTH, "Content-Length: -5", HEAD},
        {"content-length not a number; what was stored before stays", Request, "POST /a HTTP/1.1\r\nX-One: 1\r\nContent-Length: abc\r\n\r\n",
         LENGTH, "Content-Length: abc", HEAD, nullptr, {{"skarn-uri", "/a"}, {"x-one", "1"}, {"content-length", "<null>"}, {"=haslength", "0"}}},
        {"content-length empty", Request, "POST /a HTTP/1.1\r\nContent-Length:\r\n\r\n", LENGTH, "Content-Length:", HEAD},
        {"two different content-lengths", Request, "POST /a HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n",
         LENGTH, "Content-Length: 6", HEAD},
        {"content-length -1", Response, "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", LENGTH, "Content-Length: -1", HEAD},
        {"content-length -0", Response, "HTTP/1.1 204 No Content\r\nContent-Length: -0\r\n\r\n", LENGTH, "Content-Length: -0", HEAD},
        {"boundary of 71", Response, "HTTP/1.1 200 OK\r\nContent-Type: multipart/related; boundary=" + x71 + "\r\n\r\n", BOUNDARY,
         "Content-Type: multipart/related; boundary=" + x71, HEAD},
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

}  // namespace
