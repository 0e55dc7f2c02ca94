// The message reader over wire bytes: stream stacking, the envelope as first
// part, attachments, the three envelope failures, tracing hand-over, reuse
// after failures, and the destructor that reads the rest of the message.
#include "http/SkrMessageReader.h"

#include "api/SkarnAttachmentReader.h"
#include "platform/caravan/VexCVManager.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexTolkThreadLocal.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Helper.h"
#include "platform/streams/QioIOException.h"
#include "support/ExpectThrow.h"
#include "support/MemorySocket.h"

#include <gtest/gtest.h>

#include <xercesc/dom/DOMNode.hpp>

#include <memory>
#include <string>

namespace {

const std::string ENV = "<s:Envelope xmlns:s=\"urn:s\"><s:Body><v>caf\xC3\xA9</v></s:Body></s:Envelope>";

std::string chunk(const std::string& data, std::size_t size)
{
    std::string out;
    for (std::size_t at = 0; at < data.size(); at += size) {
        std::string piece = data.substr(at, size);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%zx\r\n", piece.size());
        out += hex + piece + "\r\n";
    }
    return out + "0\r\nX-Trailer: t\r\n\r\n";
}

std::string multipartBody(const std::string& envelope)
{
    return "--BB\r\nContent-Type: text/xml; charset=UTF-8\r\nContent-ID: envelope\r\n\r\n" + envelope +
           "\r\n--BB\r\nContent-ID: 1\r\nContent-Type: application/octet-stream\r\n\r\n" + std::string("\x00\r\n\xff", 4) +
           "\r\n--BB\r\nContent-ID: 2\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\ncaf=C3=A9=\r\n!" +
           "\r\n--BB--\r\n";
}

// The document that receives envelopes in these tests.
struct Holder {
    Holder() : doc(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "holder")) {}
    VexIDOM_Element node() { return doc->getDocumentElement(); }
    std::string text() { return VexIDOM_Helper::getElementText(node()).str(); }
    std::unique_ptr<VexIDOM_Document> doc;
};

struct Framing {
    const char* label;
    std::string head;  // framing header line(s)
    std::string body;
};

std::vector<Framing> framings(const std::string& body)
{
    return {
        {"length", "Content-Length: " + std::to_string(body.size()) + "\r\n", body},
        {"chunked 1", "Transfer-Encoding: chunked\r\n", chunk(body, 1)},
        {"chunked 7", "Transfer-Encoding: Chunked\r\n", chunk(body, 7)},
        {"chunked 4000", "Transfer-Encoding: chunked\r\n", chunk(body, 4000)},
    };
}

TEST(MessageReaderEnvelope, SinglePartRequestEveryFramingAndReadSize)
{
    for (const Framing& f : framings(ENV)) {
        for (unsigned maxRead : {0u, 1u, 3u}) {
            SCOPED_TRACE(std::string(f.label) + " read " + std::to_string(maxRead));
            std::string wire = "POST /svc HTTP/1.1\r\nContent-Type: text/xml; charset=UTF-8\r\n" + f.head + "\r\n" + f.body;
            MemorySocket sock(wire + "NEXT", maxRead);
            Holder h;
            {
                SkrMessageReader r(1, sock.getInputStream(), &sock);
                VexIDOM_Element parent = h.node();
                r.getEnvelope(parent);
                EXPECT_STREQ("POST", r.getHeader("skarn-method"));
                EXPECT_STREQ("/svc", r.getHeader("skarn-uri"));
                EXPECT_EQ(nullptr, r.getHeader("Content-Type"));
                EXPECT_EQ(0, r.canHaveAttachments());
                EXPECT_EQ(0, r.hasMoreAttachments());
            }
            EXPECT_EQ("caf\xC3\xA9", h.text());
            EXPECT_EQ("s:Envelope", VexIDOM_Element(h.node().getFirstChild()).getTagName().str());
            EXPECT_EQ("NEXT", sock.unread());
            EXPECT_EQ(1, sock.isReusable());
        }
    }
}

TEST(MessageReaderEnvelope, WithoutLengthBodyRunsToEndOfConnection)
{
    MemorySocket sock("HTTP/1.0 200 OK\r\n\r\n" + ENV);
    SkrMessageReader r(0, sock.getInputStream(), &sock);
    QioInputStream& s = r.openEnvelope();
    EXPECT_EQ(ENV, drain(s, 5));
    r.closeEnvelope(s);
    EXPECT_STREQ("200", r.getHeader("skarn-status-code"));
    EXPECT_STREQ("OK", r.getHeader("skarn-reason-phrase"));
}

TEST(MessageReaderEnvelope, InterimContinueBeforeResponse)
{
    MemorySocket sock("HTTP/1.1 100 Continue\r\nX-I: 1\r\n\r\nHTTP/1.1 500 Server Error\r\nContent-Length: " +
                      std::to_string(ENV.size()) + "\r\n\r\n" + ENV);
    Holder h;
    SkrMessageReader r(0, sock.getInputStream(), &sock);
    VexIDOM_Element parent = h.node();
    r.getEnvelope(parent);
    EXPECT_STREQ("500", r.getHeader("skarn-status-code"));
    EXPECT_EQ(nullptr, r.getHeader("x-i"));
    EXPECT_EQ("caf\xC3\xA9", h.text());
}

TEST(MessageReaderMultipart, EnvelopeFirstThenAttachments)
{
    for (const Framing& f : framings(multipartBody(ENV))) {
        for (unsigned maxRead : {0u, 1u}) {
            SCOPED_TRACE(std::string(f.label) + " read " + std::to_string(maxRead));
            std::string wire = "HTTP/1.1 200 OK\r\nContent-Type: Multipart/Related; type=\"text/xml\"; boundary=\"BB\"\r\n" +
                               f.head + "\r\n" + f.body;
            MemorySocket sock(wire + "NEXT", maxRead);
            {
                SkrMessageReader r(0, sock.getInputStream(), &sock);
                QioInputStream& e = r.openEnvelope();
                EXPECT_EQ(1, r.canHaveAttachments());
                EXPECT_EQ(0, r.hasMoreAttachments());
                EXPECT_EQ(ENV, drain(e, 3));
                r.closeEnvelope(e);
                EXPECT_EQ(1, r.hasMoreAttachments());
                SkarnAttachmentReader& a1 = r.openNextAttachment();
                EXPECT_STREQ("1", a1.getContentID());
                EXPECT_EQ(std::string("\x00\r\n\xff", 4), drain(a1.getInputStream()));
                r.closeAttachment(a1);
                EXPECT_EQ(1, r.hasMoreAttachments());
                SkarnAttachmentReader& a2 = r.openNextAttachment();
                EXPECT_STREQ("2", a2.getContentID());
                EXPECT_EQ("caf\xC3\xA9!", drain(a2.getInputStream()));
                r.closeAttachment(a2);
                EXPECT_EQ(0, r.hasMoreAttachments());
                expectSkarnError([&] { r.openNextAttachment(); },
                                 {SkarnException::errNotMultipart, 1841683373, "", "SkrMessageReader::openNextAttachment"});
                EXPECT_EQ(0, sock.isReusable());
                // The value in the header parser's normal form.
                EXPECT_STREQ("Multipart/Related; type=\"text/xml\"; boundary=BB", r.getHeader("content-type"));
            }
            EXPECT_EQ("NEXT", sock.unread());
        }
    }
}

TEST(MessageReaderMultipart, GetEnvelopeThenDestructorReadsRemainingParts)
{
    std::string body = multipartBody(ENV);
    MemorySocket sock("POST / HTTP/1.1\r\nContent-Type: multipart/related; boundary=BB\r\nTransfer-Encoding: chunked\r\n\r\n" +
                      chunk(body, 5) + "POST /next");
    Holder h;
    {
        SkrMessageReader r(1, sock.getInputStream(), &sock);
        VexIDOM_Element parent = h.node();
        r.getEnvelope(parent);
        EXPECT_EQ(1, r.hasMoreAttachments());
    }
    EXPECT_EQ("caf\xC3\xA9", h.text());
    EXPECT_EQ("POST /next", sock.unread());
    EXPECT_EQ(1, sock.isReusable());
}

TEST(MessageReaderMultipart, DeletedAfterOpenWithoutCloseLeavesRestAndDoesNotThrow)
{
    std::string body = multipartBody(ENV);
    MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Type: multipart/related; boundary=BB\r\nContent-Length: " +
                      std::to_string(body.size()) + "\r\n\r\n" + body + "NEXT");
    {
        SkrMessageReader r(0, sock.getInputStream(), &sock);
        r.openEnvelope();
    }
    EXPECT_NE("NEXT", sock.unread());
    EXPECT_EQ(0, sock.isReusable());
}

TEST(MessageReaderMisuse, AttachmentsOfSinglePartMessage)
{
    MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n<a/>");
    SkrMessageReader r(0, sock.getInputStream(), &sock);
    try {
        r.openNextAttachment();
        FAIL() << "nothing thrown";
    } catch (const VexIllegalStateError& e) {
        ASSERT_EQ(2u, e.getBackTraceCount());
        EXPECT_EQ("not processing multipart HTTP message", e.getBackTraceAt(0).function);
        EXPECT_EQ("SkrMessageReader::openNextAttachment", e.getBackTraceAt(1).function);
        EXPECT_EQ("VEX_RETHROW", e.getBackTraceAt(1).macro);
    }
    EXPECT_EQ(0, sock.isReusable());
}

TEST(MessageReaderFailure, HeadErrorsPassThroughWithRethrowEntry)
{
    MemorySocket sock("PUT / HTTP/1.1\r\n\r\n");
    SkrMessageReader r(1, sock.getInputStream(), &sock);
    SkarnException e = expectSkarnError([&] { r.openEnvelope(); },
                                        {SkarnException::errBadMethod, 1841924072, "PUT / HTTP/1.1\r\n\r\n...", "SkrHTTPParser::parseRequest"});
    ASSERT_EQ(2u, e.getBackTraceCount());
    EXPECT_EQ("SkrMessageReader::openEnvelope", e.getBackTraceAt(1).function);
    EXPECT_EQ(0, sock.isReusable());
}

TEST(MessageReaderFailure, TruncatedChunkedBodyFailsAndDestructorSwallows)
{
    MemorySocket sock("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n<a>");
    {
        SkrMessageReader r(0, sock.getInputStream(), &sock);
        Holder h;
        VexIDOM_Element parent = h.node();
        EXPECT_THROW(r.getEnvelope(parent), QioIOException);
        EXPECT_EQ(0, sock.isReusable());
    }
}

struct EnvelopeCase {
    const char* label;
    std::string envelope;
    int line;
};

TEST(MessageReaderFailure, EnvelopeNotWellFormedIsEnvelope16)
{
    const EnvelopeCase cases[] = {
        {"unclosed", "<s:Envelope xmlns:s=\"urn:s\">\n<s:Body>", 2},
        {"doctype", "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>", 1},
        {"undeclared prefix", "<p:a/>", 1},
    };
    for (const EnvelopeCase& c : cases) {
        SCOPED_TRACE(c.label);
        MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(c.envelope.size()) + "\r\n\r\n" + c.envelope);
        SkrMessageReader r(0, sock.getInputStream(), &sock);
        Holder h;
        VexIDOM_Element parent = h.node();
        try {
            r.getEnvelope(parent);
            FAIL() << "nothing thrown";
        } catch (const SkarnException& e) {
            EXPECT_EQ(SkarnException::errEnvelope16, e.getErrorCode());
            ASSERT_EQ(2u, e.getMessageCount());
            EXPECT_EQ(1842023855u, e.getMessageAt(0).getMsgNumber());
            ASSERT_EQ(3u, e.getMessageAt(0).getParmCount());
            EXPECT_EQ(std::to_string(c.line), e.getMessageAt(0).getParmAt(0).str());
            EXPECT_NE("0", e.getMessageAt(0).getParmAt(1).str());
            EXPECT_NE("0", e.getMessageAt(0).getParmAt(2).str());
            EXPECT_EQ(0u, e.getMessageAt(1).getMsgNumber());
            EXPECT_FALSE(e.getMessageAt(1).format().isEmpty());
            EXPECT_EQ("SkrMessageReader::getEnvelope", e.getBackTraceAt(0).function);
        }
        EXPECT_EQ(0, sock.isReusable());
        EXPECT_FALSE(h.node().hasChildNodes());
    }
}

TEST(MessageReaderFailure, RefusedAppendIsEnvelope18)
{
    MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n<a/>");
    SkrMessageReader r(0, sock.getInputStream(), &sock);
    // A document already holding its root element takes no second one.
    std::unique_ptr<VexIDOM_Document> full(VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "root"));
    SkarnException e = expectSkarnError([&] { r.getEnvelope(*full); },
                                        {SkarnException::errEnvelope18, 1841551851, "", "SkrMessageReader::getEnvelope"});
    EXPECT_EQ("3", parmsOf(e));
    EXPECT_EQ(0, sock.isReusable());
}

TEST(MessageReaderEnvelope, HostileEnvelopeThenGoodOneOnSameThread)
{
    const std::string hostile[] = {
        "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>",
        "<!DOCTYPE s:Envelope [<!ATTLIST v planted CDATA \"yes\">]>" + ENV,
        "<s:Envelope xmlns:s=\"urn:s\"><s:Body>",
    };
    for (const std::string& bad : hostile) {
        SCOPED_TRACE(bad);
        Holder h;
        {
            MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bad.size()) + "\r\n\r\n" + bad);
            SkrMessageReader r(0, sock.getInputStream(), &sock);
            VexIDOM_Element parent = h.node();
            EXPECT_THROW(r.getEnvelope(parent), SkarnException);
        }
        EXPECT_FALSE(h.node().hasChildNodes());
        MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(ENV.size()) + "\r\n\r\n" + ENV);
        SkrMessageReader r(0, sock.getInputStream(), &sock);
        VexIDOM_Element parent = h.node();
        r.getEnvelope(parent);
        EXPECT_EQ("caf\xC3\xA9", h.text());
        VexIDOM_Element env(h.node().getFirstChild());
        EXPECT_EQ("s:Envelope", env.getTagName().str());
        EXPECT_TRUE(env.getNextSibling().isNull());
        EXPECT_FALSE(VexIDOM_Helper::findFirstElement(env, "v").hasAttribute("planted"));
        // The envelope lives in the parent's document.
        EXPECT_EQ(h.doc->getXercesDocument(), env.getXercesNode()->getOwnerDocument());
        EXPECT_EQ(1, sock.isReusable());
    }
}

TEST(MessageReaderEnvelope, EmptyDocumentTakesEnvelopeAsRoot)
{
    MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(ENV.size()) + "\r\n\r\n" + ENV);
    SkrMessageReader r(0, sock.getInputStream(), &sock);
    std::unique_ptr<VexIDOM_Document> doc(VexIDOM_DOMImplementation::getImplementation().createDocument());
    r.getEnvelope(*doc);
    EXPECT_EQ("s:Envelope", doc->getDocumentElement().getTagName().str());
    EXPECT_EQ("caf\xC3\xA9", VexIDOM_Helper::getElementText(doc->getDocumentElement()).str());
}

TEST(MessageReaderFailure, NullParentIsEnvelope18)
{
    MemorySocket sock("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n<a/>");
    SkrMessageReader r(0, sock.getInputStream(), &sock);
    VexIDOM_Node none;
    SkarnException e = expectSkarnError([&] { r.getEnvelope(none); },
                                        {SkarnException::errEnvelope18, 1841551851, "", "SkrMessageReader::getEnvelope"});
    EXPECT_EQ("8", parmsOf(e));
}

TEST(MessageReaderTracing, RequestHeadersHandedOver)
{
    VexTolkData* t = VexTolkThreadLocal::getInstance()->getTolkData();
    t->clear();
    MemorySocket sock("POST / HTTP/1.1\r\nx-tolk-id: I\r\nX-Tolk-Src: S\r\nx-tolk-srcsvc: V\r\nx-tolk-step: 7\r\n"
                      "x-tolk-xmotva: M\r\nX-App: a\r\nContent-Length: 4\r\n\r\n<a/>");
    {
        SkrMessageReader r(1, sock.getInputStream(), &sock);
        r.closeEnvelope(r.openEnvelope());
    }
    EXPECT_STREQ("I", t->getTolkID());
    EXPECT_STREQ("S", t->getTolkSrc());
    EXPECT_STREQ("V", t->getTolkSrcSvc());
    EXPECT_EQ(7, t->getTolkStep());
    EXPECT_STREQ("M", t->getTolkXMOTVA());
    EXPECT_STREQ("a", VexCVManager::getInstance().getHeader("x-app"));
    EXPECT_STREQ("I", VexCVManager::getInstance().getHeader("x-tolk-id"));

    // Only the XMOTVA header: nothing else changes.
    MemorySocket only("POST / HTTP/1.1\r\nx-tolk-xmotva: M2\r\nContent-Length: 4\r\n\r\n<a/>");
    {
        SkrMessageReader r(1, only.getInputStream(), &only);
        r.openEnvelope();
    }
    EXPECT_STREQ("I", t->getTolkID());
    EXPECT_STREQ("M2", t->getTolkXMOTVA());
    t->clear();
}

TEST(MessageReaderTracing, ResponseStepTakenOver)
{
    VexTolkData* t = VexTolkThreadLocal::getInstance()->getTolkData();
    t->clear();
    t->setTolkID("mine");
    MemorySocket sock("HTTP/1.1 200 OK\r\nx-tolk-step: 12\r\nx-tolk-id: other\r\nContent-Length: 4\r\n\r\n<a/>");
    {
        SkrMessageReader r(0, sock.getInputStream(), &sock);
        r.openEnvelope();
    }
    EXPECT_EQ(12, t->getTolkStep());
    EXPECT_STREQ("mine", t->getTolkID());
    t->clear();
}

TEST(MessageReaderDrain, HalfReadMessagesLeaveNextMessageReadable)
{
    // Three messages back to back; each reader reads only part of its envelope.
    std::string big = "<a>" + std::string(5000, 'x') + "</a>";
    std::string wire;
    wire += "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk(big, 100);
    wire += "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big;
    std::string mp = multipartBody(big);
    wire += "HTTP/1.1 200 OK\r\nContent-Type: multipart/related; boundary=BB\r\nTransfer-Encoding: chunked\r\n\r\n" +
            chunk(mp, 333);
    wire += "HTTP/1.1 204 No Content\r\nContent-Length: 4\r\n\r\n<z/>";
    MemorySocket sock(wire);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        SkrMessageReader r(0, sock.getInputStream(), &sock);
        QioInputStream& s = r.openEnvelope();
        char buf[10];
        ASSERT_EQ(10u, s.readFully(buf, 10));
        EXPECT_EQ("<a>xxxxxxx", std::string(buf, 10));
        if (i == 2)
            r.closeEnvelope(s);  // the attachments are then read by the destructor
    }
    Holder h;
    SkrMessageReader last(0, sock.getInputStream(), &sock);
    VexIDOM_Element parent = h.node();
    last.getEnvelope(parent);
    EXPECT_STREQ("204", last.getHeader("skarn-status-code"));
    EXPECT_EQ(1, sock.isReusable());
}

}  // namespace
