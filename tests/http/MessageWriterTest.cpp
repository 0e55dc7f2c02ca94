// The message writer: header order, part framing, response status rules,
// refused arguments, and what a failure leaves behind (no reuse, no half objects).
#include "http/SkrMessageWriter.h"

#include "api/SkarnAttachmentReader.h"
#include "http/SkrEnabledOutputStream.h"
#include "http/SkrMessageReader.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexTolkThreadLocal.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/streams/QioIOException.h"
#include "support/ExpectThrow.h"
#include "support/MemorySocket.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const unsigned WRITER_STATE_MSG = 1841881513;
const char* const NOT_ENABLED = "[SkrEnabledOutputStream::write] - output stream not enabled (is this envelope or attachment closed?)";

// <e:Envelope xmlns:e="urn:e"><e:Body>hi &amp;</e:Body></e:Envelope>, built in memory.
struct Envelope {
    Envelope() : doc(VexIDOM_DOMImplementation::getImplementation().createDocument("urn:e", "e:Envelope"))
    {
        VexIDOM_Element body = doc->createElementNS("urn:e", "e:Body");
        body.appendChild(doc->createTextNode("hi &"));
        doc->getDocumentElement().appendChild(body);
    }
    VexIDOM_Element root() { return doc->getDocumentElement(); }
    std::unique_ptr<VexIDOM_Document> doc;
};
const std::string ENVELOPE_TEXT = "<e:Envelope xmlns:e=\"urn:e\"><e:Body>hi &amp;</e:Body></e:Envelope>";

TEST(MessageWriterRequest, SinglePartWithPropertiesAndTracing)
{
    VexTolkData* tolk = VexTolkThreadLocal::getInstance()->getTolkData();
    tolk->setTolkID("id-7");
    tolk->setTolkSrc("src");
    tolk->setTolkSrcSvc("svc");
    tolk->setTolkStep(3);
    tolk->setTolkXMOTVA("xm");
    SkrMessageWriter::Properties props{{"Host", "h.test:80"}, {"Authorization", "Basic eDp5"}, {"host", "ignored"}};
    Envelope env;
    MemorySocket sock;
    SkrMessageWriter w("/svc/echo", 1, 0, &sock, 0, 0, nullptr);
    w.init();
    w.setProperties(&props);
    VexIDOM_Element r = env.root();
    w.setEnvelope(r);
    EXPECT_EQ("", sock.output().data());  // a length-delimited body waits for close
    w.close();
    EXPECT_EQ("POST /svc/echo HTTP/1.1\r\nSOAPAction: \"\"\r\n"
              "x-tolk-step: 4\r\nx-tolk-src: src\r\nx-tolk-id: id-7\r\nx-tolk-srcsvc: svc\r\nx-tolk-xmotva: xm\r\n"
              "Authorization: Basic eDp5\r\nHost: h.test:80\r\nContent-Type: text/xml; charset=UTF-8\r\nContent-ID: envelope\r\n"
              "Content-Length: " + std::to_string(ENVELOPE_TEXT.size()) + "\r\n\r\n" + ENVELOPE_TEXT,
              sock.output().data());
    EXPECT_EQ(1u, sock.output().writes().size());
    EXPECT_EQ(4, tolk->getTolkStep());
    EXPECT_EQ(1, sock.isReusable());
    tolk->clear();
}

TEST(MessageWriterSoap12, TheActionGoesInTheContentType)
{
    const std::string length = "Content-Length: " + std::to_string(ENVELOPE_TEXT.size()) + "\r\n\r\n" + ENVELOPE_TEXT;
    const struct {
        const char* label;
        int request, attachments;
        const char* action;
        std::string head;  // the message's first bytes
    } rows[] = {
        {"request with an action", 1, 0, "\"urn:a\\\"b\"",
         "POST /svc HTTP/1.1\r\nContent-Type: application/soap+xml; charset=UTF-8; action=\"urn:a\\\\\\\"b\"\r\n"
         "Content-ID: envelope\r\n" + length},
        {"request, empty action", 1, 0, "\"\"",
         "POST /svc HTTP/1.1\r\nContent-Type: application/soap+xml; charset=UTF-8\r\nContent-ID: envelope\r\n" + length},
        {"response", 0, 0, nullptr,
         "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=UTF-8\r\nContent-ID: envelope\r\n" + length},
        {"multipart request", 1, 1, "urn:m",
         "POST /svc HTTP/1.1\r\nMIME-Version: 1.0\r\nContent-Type: multipart/related; type=\"application/soap+xml\"; "
         "boundary=\"B\"\r\nContent-Length: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        MemorySocket sock;
        SkrMessageWriter w("/svc", row.request, row.attachments, &sock, 0, 0, "B");
        w.setSoap12(true);
        w.init();
        QioOutputStream& s = row.request ? w.openEnvelope(row.action) : w.openEnvelope();
        s.write(ENVELOPE_TEXT.data(), static_cast<unsigned>(ENVELOPE_TEXT.size()));
        w.closeEnvelope(s);
        w.close();
        const std::string wire = sock.output().data();
        EXPECT_EQ(row.head, wire.substr(0, row.head.size()));
        if (row.attachments) {
            EXPECT_NE(std::string::npos, wire.find("--B\r\nContent-Type: application/soap+xml; charset=UTF-8; action=\"urn:m\""
                                                   "\r\nContent-ID: envelope\r\n")) << wire;
        }
    }
}

TEST(MessageWriterGet, HeadersAndNoBody)
{
    SkrMessageWriter::Properties props{{"Host", "h:1"}, {"header:X-A", "1"}};
    MemorySocket sock;
    SkrMessageWriter w("/next", 1, 0, &sock, 1, 100, nullptr);
    w.setGet(true);
    w.init();
    w.setProperties(&props);
    EXPECT_EQ("SkrMessageWriter::openEnvelope - a GET carries no envelope", illegalStateText([&] { w.openEnvelope(); }));
    w.close();
    EXPECT_EQ("GET /next HTTP/1.1\r\nHost: h:1\r\nX-A: 1\r\nContent-Length: 0\r\n\r\n", sock.output().data());
    SkrMessageWriter parts("/p", 1, 1, &sock, 0, 0, nullptr);
    parts.setGet(true);
    EXPECT_EQ("SkrMessageWriter::init - a GET is a request without parts", illegalStateText([&] { parts.init(); }));
}

TEST(MessageWriterRequest, PartHeadsAndTransferEncodings)
{
    const std::string head = "--B\r\nContent-Type: a/b\r\nContent-ID: 1\r\nContent-Transfer-Encoding: Binary\r\n";
    const std::string binary = "Content-Transfer-Encoding: Binary\r\n\r\nz\r\n--B--\r\n", qp = "Content-Transfer-Encoding: Quoted-Printable\r\n\r\nz\r\n--B--\r\n";
    const char* qpType = "text/skarn-pre-encoded-quoted-printable";
    const struct {
        const char* label;
        const char* type;
        const char* charset;
        const char* block;  // null: the overload without extra headers
        std::string want;   // found in the message
    } cases[] = {
        {"two lines", "a/b", nullptr, "X-A:1\r\nX-B: 2\r\n", head + "X-A: 1\r\nX-B:  2\r\n\r\nz\r\n--B--\r\n"},
        {"lone LF stays in value", "a/b", nullptr, "X-A:1\nX-B:2\r\nX-C:3", head + "X-A: 1 X-B:2\r\nX-C: 3\r\n\r\nz\r\n--B--\r\n"},
        // The reader takes a length of 0; the writer does not hold it against the content.
        {"length 0 accepted", "a/b", nullptr, "Content-Length:0", head + "Content-Length: 0\r\n\r\nz\r\n--B--\r\n"},
        {"pre-encoded type", qpType, nullptr, nullptr, qp},
        {"type compared with its case", "Text/Skarn-Pre-Encoded-Quoted-Printable", nullptr, nullptr, binary},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        MemorySocket sock;
        SkrMessageWriter w("/", 1, 1, &sock, 0, 0, "B");
        w.init();
        if (c.block)
            w.addAttachment(c.type, c.charset, c.block, "z", 1, "1");
        else
            w.addAttachment(c.type, c.charset, "z", 1, "1");
        w.close();
        EXPECT_NE(std::string::npos, sock.output().data().find(c.want)) << sock.output().data();
    }
}

TEST(MessageWriterResponse, StatusLine)
{
    const struct { int code; const char* reason; const char* line; } cases[] = {
        {0, nullptr, "HTTP/1.1 200 OK\r\n"},
        {500, nullptr, "HTTP/1.1 500 unknown reason\r\n"},
        {404, "Not Found", "HTTP/1.1 404 Not Found\r\n"},
    };
    for (const auto& c : cases) {
        MemorySocket sock;
        SkrMessageWriter w("", 0, 0, &sock, 1, 0, nullptr);
        w.init();
        if (c.code)
            w.setResponseStatus(c.code, c.reason);
        QioOutputStream& s = w.openEnvelope();
        s.write("<r/>", 4);
        w.closeEnvelope(s);
        w.close();
        EXPECT_EQ(std::string(c.line) + "Content-Type: text/xml; charset=UTF-8\r\nContent-ID: envelope\r\n"
                                         "Transfer-Encoding: chunked\r\n\r\n4\r\n<r/>\r\n0\r\n\r\n",
                  sock.output().data());
    }
}

TEST(MessageWriterMisuse, PartRules)
{
    MemorySocket sock;
    SkrMessageWriter mp("/", 1, 1, &sock, 1, 0, nullptr);
    mp.init();
    QioOutputStream& s = mp.openAttachment("a/b", nullptr, "1", 0);
    EXPECT_EQ("SkrMessageWriter::openAttachment - must close prior attachment first",
              illegalStateText([&] { mp.openAttachment("a/c", nullptr, "2", 0); }));
    EXPECT_EQ("SkrMessageWriter::close - envelope or attachment was not yet closed", illegalStateText([&] { mp.close(); }));
    s.write("x", 1);  // still usable
    mp.closeAttachment(s);
    EXPECT_EQ(NOT_ENABLED, illegalStateText([&] { s.write("y", 1); }));
    mp.close();
    EXPECT_NE(std::string::npos, sock.output().data().find("\r\n\r\nx\r\n--=_=mirra-mp-boundary=_=--\r\n"));
    EXPECT_EQ(1, sock.isReusable());
}

// A failure on the way stops reuse and releases the message objects; the
// destructor completes a message, never throws, and stops reuse for an open part.
TEST(MessageWriterFailure, BrokenStreamsAndDestructor)
{
    const struct {
        const char* label;
        int failAt;
        int request, parts;
        std::function<void(SkrMessageWriter&)> steps;
        std::string raised;  // "": nothing raised
        int reusable;
    } rows[] = {
        {"write on close", 1, 1, 0, [](SkrMessageWriter& w) { QioOutputStream& s = w.openEnvelope(); s.write("<a/>", 4); w.closeEnvelope(s); w.close(); },
         "QioIOException SkrMessageWriter::close [VEX_RETHROW]", 0},
        // The message object refuses a second status line after its state check.
        {"second start line", 0, 0, 0, [](SkrMessageWriter& w) { SkrEnabledOutputStream dummy; w.openEnvelope(); w.closeEnvelope(dummy); w.openEnvelope(); },
         "VexIllegalStateError SkrMessageWriter::openEnvelope [VEX_RETHROW]", 0},
        {"destructor completes the message", 0, 1, 0, [](SkrMessageWriter& w) { QioOutputStream& s = w.openEnvelope(); s.write("<a/>", 4); w.closeEnvelope(s); },
         "", 1},
        {"close ends a message whose envelope is open", 0, 1, 0, [](SkrMessageWriter& w) { w.openEnvelope().write("<a/>", 4); w.close(); },
         "", 1},
        {"destructor with a part open", 0, 1, 1, [](SkrMessageWriter& w) { w.openAttachment("a/b", nullptr, "1", 0).write("x", 1); }, "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        MemorySocket sock;
        if (row.failAt)
            sock.output().failAt(row.failAt);
        std::string got;
        {
            SkrMessageWriter w("/", row.request, row.parts, &sock, row.failAt ? row.parts : 1, row.parts ? 65536 : 0, nullptr);
            w.init();
            try {
                row.steps(w);
            } catch (const VexThrowable& t) {
                got = std::string(t.getThrowableName()) + " " + t.getBackTraceAt(t.getBackTraceCount() - 1).function + " [" +
                      t.getBackTraceAt(t.getBackTraceCount() - 1).macro + "]";
                // The message objects are gone: the writer is closed.
                expectSkarnError([&] { w.openEnvelope(); }, {SkarnException::errWriterState, WRITER_STATE_MSG, "", "SkrMessageWriter::openEnvelope"});
                w.close();
            }
        }
        EXPECT_EQ(row.raised, got);
        EXPECT_EQ(row.reusable, sock.isReusable());
        if (row.reusable) {
            EXPECT_NE(std::string::npos, sock.output().data().find("4\r\n<a/>\r\n0\r\n\r\n"));
        }
    }
}

// Every combination of boundary, content type, charset and content ID is
// refused by the writer before anything is written, or read back whole.
TEST(MessageWriterAgreement, EveryCombinationIsRefusedOrReadBack)
{
    const std::string b70(70, 'b'), b71(71, 'b'), q72 = "\"" + std::string(70, 'q') + "\"";
    const struct { const char* value; bool accepted; } boundaries[] = {
        {nullptr, true}, {"", false}, {b70.c_str(), true}, {b71.c_str(), false}, {q72.c_str(), false},
        {"a\\b", true}, {"a\"b", false}, {"a\rb", false}, {"a\nb", false}, {"a b;c=d", true}};
    // Content types and what the reader reports for them (null: refused by the writer).
    const std::pair<const char*, const char*> types[] = {
        {nullptr, "application/octet-stream"}, {"", "application/octet-stream"}, {"text/plain", "text/plain"},
        {"multipart/mixed", nullptr}, {"multipart/mixed; boundary=in", "multipart/mixed"}, {"; x=1", nullptr}};
    // Content IDs; "fresh" stands for a new one per part, which the writer accepts.
    const char* const ids[] = {nullptr, "", " \r\n", ";x", "fresh"};
    int row = 0;
    for (const auto& b : boundaries) {
        SCOPED_TRACE(b.value ? b.value : "default");
        MemorySocket sock;
        const int chunk = ++row % 2 ? 0 : 4000;
        SkrMessageWriter w("/p", 1, 1, &sock, chunk, chunk, b.value);
        if (!b.accepted) {
            EXPECT_EQ("0: SkrMessageWriter::init [VEX_THROW]", raised<VexIllegalArgumentError>([&] { w.init(); }));
            EXPECT_EQ("", sock.output().data());
            continue;
        }
        w.init();
        w.closeEnvelope(w.openEnvelope());
        std::vector<std::array<std::string, 3>> expected;  // id, type, bytes
        for (const auto& t : types)
            for (const char* cs : {static_cast<const char*>(nullptr), "utf-8"})
                for (const char* id : ids) {
                    const std::string fresh = "id" + std::to_string(expected.size());
                    const char* cid = id && std::string(id) == "fresh" ? fresh.c_str() : id;
                    const std::string data = std::string("part ") + (t.first ? t.first : "(null)");
                    const bool accepted = t.second && cid == fresh.c_str();
                    const std::string want = accepted ? "nothing raised" : "0: SkrMessageWriter::openAttachment [VEX_THROW]";
                    EXPECT_EQ(want, raised<VexIllegalArgumentError>([&] {
                        w.addAttachment(t.first, cs, data.data(), static_cast<unsigned>(data.size()), cid);
                    }));
                    if (accepted)
                        expected.push_back({fresh, t.second, data});
                }
        w.close();
        MemorySocket back(sock.output().data());
        SkrMessageReader r(1, back.getInputStream(), &back);
        r.closeEnvelope(r.openEnvelope());
        for (const auto& want : expected) {
            ASSERT_EQ(1, r.hasMoreAttachments());
            SkarnAttachmentReader& a = r.openNextAttachment();
            EXPECT_EQ(want, (std::array<std::string, 3>{a.getContentID(), a.getContentType(), drain(a.getInputStream())}));
            r.closeAttachment(a);
        }
        EXPECT_EQ(0, r.hasMoreAttachments());
        EXPECT_EQ(1, back.isReusable());
    }
}

}  // namespace
