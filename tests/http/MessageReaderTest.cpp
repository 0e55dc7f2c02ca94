// The message reader over wire bytes: stream stacking, the envelope as first
// part, attachments, the envelope failures and the destructor that reads the
// rest of the message.
#include "http/SkrMessageReader.h"

#include "api/SkarnAttachmentReader.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/streams/QioIOException.h"
#include "support/ExpectThrow.h"
#include "support/MemorySocket.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const std::string ENV = "<s:Envelope xmlns:s=\"urn:s\"><s:Body><v>caf\xC3\xA9</v></s:Body></s:Envelope>";
const std::string BIN("\x00\r\n\xff", 4);

std::string chunk(const std::string& data, std::size_t size)
{
    std::string out;
    for (std::size_t at = 0; at < data.size(); at += size) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%zx\r\n", data.substr(at, size).size());
        out += hex + data.substr(at, size) + "\r\n";
    }
    return out + "0\r\nX-Trailer: t\r\n\r\n";
}

std::string multipartBody(const std::string& envelope)
{
    return "--BB\r\nContent-Type: text/xml; charset=UTF-8\r\nContent-ID: envelope\r\n\r\n" + envelope +
           "\r\n--BB\r\nContent-ID: 1\r\nContent-Type: application/octet-stream\r\n\r\n" + BIN +
           "\r\n--BB\r\nContent-ID: 2\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\ncaf=C3=A9=\r\n!\r\n--BB--\r\n";
}

// The document that receives envelopes in these tests.
struct Holder {
    Holder() : doc(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "holder")) {}
    VexIDOM_Element node() { return doc->getDocumentElement(); }
    std::string text() { return VexIDOM_Helper::getElementText(node()).str(); }
    void read(SkrMessageReader& r)
    {
        VexIDOM_Element parent = node();
        r.getEnvelope(parent);
    }
    std::unique_ptr<VexIDOM_Document> doc;
};

// The body behind each framing header: length, chunks of 1 and 7.
std::vector<std::pair<std::string, std::string>> framings(const std::string& body)
{
    return {{"Content-Length: " + std::to_string(body.size()) + "\r\n", body},
            {"Transfer-Encoding: chunked\r\n", chunk(body, 1)},
            {"Transfer-Encoding: Chunked\r\n", chunk(body, 7)}};
}

TEST(MessageReader, SinglePartEveryFramingAndReadSize)
{
    for (const auto& f : framings(ENV)) {
        for (unsigned maxRead : {0u, 1u}) {
            SCOPED_TRACE(f.first + " read " + std::to_string(maxRead));
            MemorySocket sock("POST /svc HTTP/1.1\r\nContent-Type: text/xml; charset=UTF-8\r\n" + f.first + "\r\n" + f.second + "NEXT", maxRead);
            Holder h;
            {
                SkrMessageReader r(1, sock.getInputStream(), &sock);
                h.read(r);
                EXPECT_STREQ("POST", r.getHeader("skarn-method"));
                EXPECT_STREQ("/svc", r.getHeader("skarn-uri"));
                EXPECT_EQ(nullptr, r.getHeader("Content-Type"));
                EXPECT_EQ(0, r.canHaveAttachments() + r.hasMoreAttachments());
            }
            EXPECT_EQ("caf\xC3\xA9", h.text());
            EXPECT_EQ("s:Envelope", VexIDOM_Element(h.node().getFirstChild()).getTagName().str());
            EXPECT_EQ("NEXT", sock.unread());
            EXPECT_EQ(1, sock.isReusable());
        }
    }
}

// Messages without a body (RFC 7230 section 3.3.3): no envelope, nothing
// raised, and the connection at the next message, "NEXT".
TEST(MessageReader, MessagesWithoutBody)
{
    const std::string mp = "Content-Type: multipart/related; boundary=BB\r\n";
    const struct { const char* label; int request; std::string head; const char* status; int reusable; } rows[] = {
        {"202, length 0", 0, "HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n", "202", 1},
        {"200, length 0, multipart type", 0, "HTTP/1.1 200 OK\r\n" + mp + "Content-Length: 0\r\n", "200", 1},
        {"204 without length", 0, "HTTP/1.1 204 No Content\r\n", "204", 1},
        {"204 announcing a length and parts", 0, "HTTP/1.1 204 No Content\r\n" + mp + "Content-Length: 9\r\n", "204", 1},
        {"304 announcing chunks", 0, "HTTP/1.0 304 Not Modified\r\nTransfer-Encoding: chunked\r\n", "304", 1},
        {"100, then 204", 0, "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 204 No Content\r\n", "204", 1},
        {"101: no longer HTTP", 0, "HTTP/1.1 101 Switching Protocols\r\nContent-Length: 4\r\n", "101", 0},
        {"empty chunked body", 0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nX-T: 1\r\n", "200", 1},
        {"request, length 0", 1, "POST /svc HTTP/1.1\r\nContent-Type: text/xml\r\nContent-Length: 0\r\n", nullptr, 1},
        {"multipart request, length 0", 1, "POST /svc HTTP/1.1\r\n" + mp + "Content-Length: 0\r\n", nullptr, 1},
    };
    for (const auto& row : rows) {
        for (bool open : {false, true}) {
            SCOPED_TRACE(std::string(row.label) + (open ? ", openEnvelope" : ", getEnvelope"));
            MemorySocket sock(row.head + "\r\nNEXT");
            Holder h;
            {
                SkrMessageReader r(row.request, sock.getInputStream(), &sock);
                EXPECT_EQ(0, r.hasEnvelope());
                noThrowable([&] {
                    if (!open)
                        return h.read(r);
                    QioInputStream& e = r.openEnvelope();
                    EXPECT_EQ("", drain(e));
                    r.closeEnvelope(e);
                });
                EXPECT_EQ(0, r.hasEnvelope() + r.canHaveAttachments() + r.hasMoreAttachments());
                EXPECT_STREQ(row.status, r.getHeader("skarn-status-code"));
            }
            EXPECT_TRUE(h.node().getFirstChild().isNull());
            EXPECT_EQ("NEXT", sock.unread());
            EXPECT_EQ(row.reusable, sock.isReusable());
        }
    }
    // Beside them, a message with a body has an envelope.
    MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n<a/>");
    SkrMessageReader r(0, sock.getInputStream(), &sock);
    Holder h;
    h.read(r);
    EXPECT_EQ(1, r.hasEnvelope());
    EXPECT_FALSE(h.node().getFirstChild().isNull());
}

TEST(MessageReader, MultipartEnvelopeFirstThenAttachments)
{
    for (const auto& f : framings(multipartBody(ENV))) {
        for (unsigned maxRead : {0u, 1u}) {
            SCOPED_TRACE(f.first + " read " + std::to_string(maxRead));
            MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Type: Multipart/Related; type=\"text/xml\"; boundary=\"BB\"\r\n" + f.first + "\r\n" +
                                  f.second + "NEXT", maxRead);
            {
                SkrMessageReader r(0, sock.getInputStream(), &sock);
                QioInputStream& e = r.openEnvelope();
                EXPECT_EQ(1, r.canHaveAttachments());
                EXPECT_EQ(0, r.hasMoreAttachments());
                EXPECT_EQ(ENV, drain(e, 3));
                r.closeEnvelope(e);
                for (const auto& want : {std::make_pair("1", BIN), std::make_pair("2", std::string("caf\xC3\xA9!"))}) {
                    EXPECT_EQ(1, r.hasMoreAttachments());
                    SkarnAttachmentReader& a = r.openNextAttachment();
                    EXPECT_STREQ(want.first, a.getContentID());
                    EXPECT_EQ(want.second, drain(a.getInputStream()));
                    r.closeAttachment(a);
                }
                EXPECT_EQ(0, r.hasMoreAttachments());
                expectSkarnError([&] { r.openNextAttachment(); }, {SkarnException::errNotMultipart, 1841683373, "", "SkrMessageReader::openNextAttachment"});
                EXPECT_EQ(0, sock.isReusable());
            }
            EXPECT_EQ("NEXT", sock.unread());
        }
    }
}

// What the destructor leaves of a message the caller read only in part.
TEST(MessageReader, DestructorReadsTheRestOrSpendsTheConnection)
{
    const std::string big = "<a>" + std::string(5000, 'x') + "</a>";
    const std::string mpHead = "Content-Type: multipart/related; boundary=BB\r\n";
    enum Step { Ten, TenThenClose, GetEnvelope, OpenOnly };
    const struct { const char* label; int request; std::string wire; Step step; int reusable; } rows[] = {
        {"chunked, 10 bytes read", 0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk(big, 100), Ten, 1},
        {"multipart, 10 bytes read, envelope closed", 0,
         "HTTP/1.1 200 OK\r\n" + mpHead + "Transfer-Encoding: chunked\r\n\r\n" + chunk(multipartBody(big), 333), TenThenClose, 1},
        {"multipart request, envelope got", 1, "POST / HTTP/1.1\r\n" + mpHead + "Transfer-Encoding: chunked\r\n\r\n" + chunk(multipartBody(big), 5),
         GetEnvelope, 1},
        // The rest of the message is left inside the envelope part: it cannot be read.
        {"multipart, envelope opened only", 0,
         "HTTP/1.1 200 OK\r\n" + mpHead + "Content-Length: " + std::to_string(multipartBody(ENV).size()) + "\r\n\r\n" + multipartBody(ENV),
         OpenOnly, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        MemorySocket sock(row.wire + "NEXT");
        Holder h;
        noThrowable([&] {
            SkrMessageReader r(row.request, sock.getInputStream(), &sock);
            if (row.step == GetEnvelope)
                return h.read(r);
            QioInputStream& s = r.openEnvelope();
            char buf[10];
            if (row.step != OpenOnly) {
                ASSERT_EQ(10u, s.readFully(buf, 10));
                EXPECT_EQ("<a>xxxxxxx", std::string(buf, 10));
            }
            if (row.step == TenThenClose)
                r.closeEnvelope(s);  // the attachments are then read by the destructor
        });
        EXPECT_EQ(row.reusable == 1, sock.unread() == "NEXT");
        EXPECT_EQ(row.reusable, sock.isReusable());
    }
}

TEST(MessageReader, FailuresSpendTheConnection)
{
    {  // a head error passes with a rethrow entry
        MemorySocket sock("PUT / HTTP/1.1\r\n\r\n");
        SkrMessageReader r(1, sock.getInputStream(), &sock);
        EXPECT_EQ("7: SkrHTTPParser::parseRequest [VEX_THROW] < SkrMessageReader::openEnvelope [VEX_RETHROW]",
                  raised<SkarnException>([&] { r.openEnvelope(); }));
        EXPECT_EQ(0, sock.isReusable());
    }
    {  // a truncated body; the destructor swallows what it meets
        MemorySocket sock("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n<a>");
        SkrMessageReader r(0, sock.getInputStream(), &sock);
        Holder h;
        EXPECT_THROW(h.read(r), QioIOException);
        EXPECT_EQ(0, sock.isReusable());
    }
    // A refused append: a document already holding its root element (DOM code 3), or no parent at all (8).
    std::unique_ptr<VexIDOM_Document> full(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "root"));
    VexIDOM_Node none;
    for (VexIDOM_Node* parent : {static_cast<VexIDOM_Node*>(full.get()), &none}) {
        MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n<a/>");
        SkrMessageReader r(0, sock.getInputStream(), &sock);
        SkarnException e = expectSkarnError([&] { r.getEnvelope(*parent); },
                                            {SkarnException::errEnvelope18, 1841551851, "", "SkrMessageReader::getEnvelope"});
        EXPECT_EQ(parent == &none ? "8" : "3", parmsOf(e));
        EXPECT_EQ(0, sock.isReusable());
    }
}

}  // namespace
