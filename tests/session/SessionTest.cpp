// Client and server sessions on loopback socket pairs: the request bytes the
// client's properties give, the reuse decision, the call order and the keys.
// Whole exchanges, with the server session, are in tests/host.
#include "session/SkrServerSession.h"
#include "session/SkrSession.h"
#include "support/AcceptedPlainSocket.h"
#include "support/ExpectThrow.h"
#include "support/LoopbackPeer.h"
#include "support/SkarnTestServer.h"

#include "platform/core/VexIllegalArgumentError.h"
#include "platform/dom/VexIDOM_Document.h"

#include <unistd.h>

#include <map>
#include <memory>

TEST(SkrSession, PropertiesShapeTheRequestAndConnectionHeaderDecidesReuse)
{
    struct Row {
        const char* label;
        std::map<std::string, std::string> props;
        std::string wantInHead;     // found between the request line and the body
        std::string endMark;        // the request's last bytes
        std::string connection;     // response header line
        int reusable;
    } rows[] = {
        {"length wins over chunk-size", {{"send-content-length", "1"}, {"chunk-size", "4096"}}, "Content-Length: ",
         "Envelope>", "Connection: close\r\n", 0},
        {"chunk-size 4096, host and authorization", {{"chunk-size", "4096"}, {"Host", "h:9"}, {"Authorization", "B"}},
         "Authorization: B\r\nHost: h:9\r\nContent-Type: text/xml; charset=UTF-8\r\nContent-ID: envelope\r\n"
         "Transfer-Encoding: chunked\r\n\r\n1000\r\n", "\r\n0\r\n\r\n", "Connection: CLOSE\r\n", 0},
        {"close among other words", {}, "POST /svc HTTP/1.1\r\n", "\r\n0\r\n\r\n", "Connection: close, x\r\n", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const auto [fd, peer] = LoopbackPeer::connectedPair(LoopbackPeer::IPv4);
        AcceptedPlainSocket* sock = new AcceptedPlainSocket(fd);
        sock->markReusable();
        SkrSession* s = new SkrSession(nullptr, sock, "/svc");
        for (const auto& kv : row.props)
            s->setProperty(kv.first, kv.second);
        std::unique_ptr<VexIDOM_Document> req(soapEnvelope(std::string(5000, 'a'))), resp(soapEnvelope(""));
        VexIDOM_Element root = req->getDocumentElement(), holder = resp->getDocumentElement();
        s->sendRequest(root);
        std::string wire = readUntil(peer, row.endMark);
        EXPECT_NE(std::string::npos, wire.find(row.wantInHead)) << wire.substr(0, 400);
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n" + row.connection + "\r\n<r>x</r>";
        EXPECT_TRUE(LoopbackPeer::sendAll(peer, answer.data(), answer.size()));
        noThrowable([&] { s->getResponse(holder); });
        EXPECT_EQ("x", holder.getLastChild().getTextContent().str());
        EXPECT_EQ(row.reusable, sock->isReusable());
        EXPECT_EQ("SkrSession::openResponse - no request was sent", illegalStateText([&] { s->openResponse(); }));
        s->release();
        ::close(peer);
    }
}

TEST(Sessions, KeysAndCallOrderAreChecked)
{
    SkrSession s(nullptr, nullptr, "");
    std::unique_ptr<VexIDOM_Document> doc(soapEnvelope("q"));
    VexIDOM_Element root = doc->getDocumentElement();
    EXPECT_EQ("SkrSession::getResponse - no request was sent", illegalStateText([&] { s.getResponse(root); }));
    for (const char* key : {"host", "Boundary", "QSMSSLServer", "Host "})
        EXPECT_EQ("0: SkrSession::setProperty [VEX_THROW]", raised<VexIllegalArgumentError>([&] { s.setProperty(key, 1); })) << key;
    SkrServerSession ss(nullptr);
    for (const char* key : {"Authorization", "Host"})
        EXPECT_EQ("0: SkrServerSession::setProperty [VEX_THROW]", raised<VexIllegalArgumentError>([&] { ss.setProperty(key, 1); })) << key;
}

TEST(SkrSession, CallerHeadersGoOnTheRequestHeadExactly)
{
    const auto [fd, peer] = LoopbackPeer::connectedPair(LoopbackPeer::IPv4);
    AcceptedPlainSocket* sock = new AcceptedPlainSocket(fd);
    SkrSession* s = new SkrSession(nullptr, sock, "/svc");
    s->setProperty("send-content-length", 1);
    s->setProperty("header:X-Trace-Id", "1");
    s->setProperty("header:x-trace-id", "7");  // the same name: replaced, spelt as now given
    s->setProperty("header:X-Gone", "g");
    s->setProperty("header:X-GONE", "");       // removed
    s->setProperty("header:Accept-Language", "fr, en;q=0.5");
    s->setProperty("header:host", "h:9");      // the Host key
    s->setProperty("Authorization", "Basic dTpw");
    std::unique_ptr<VexIDOM_Document> req(soapEnvelope("q"));
    VexIDOM_Element root = req->getDocumentElement();
    s->sendRequest(root);
    const std::string wire = readUntil(peer, "Envelope>");
    EXPECT_EQ("POST /svc HTTP/1.1\r\nSOAPAction: \"\"\r\nAuthorization: Basic dTpw\r\nHost: h:9\r\n"
              "Accept-Language: fr, en;q=0.5\r\nx-trace-id: 7\r\nContent-Type: text/xml; charset=UTF-8\r\n"
              "Content-ID: envelope\r\nContent-Length: ",
              wire.substr(0, wire.find("Content-Length: ") + 16));
    s->release();
    ::close(peer);
}

TEST(SkrSession, CallerHeadersThatWouldBreakTheMessageAreRefused)
{
    SkrSession s(nullptr, nullptr, "");
    const struct {
        const char *key, *value, *why;
    } rows[] = {
        {"header:", "x", "\"\" is not a header name"},
        {"header:X Y", "x", "\"X Y\" is not a header name"},
        {"header:X:Y", "x", "\"X:Y\" is not a header name"},
        {"header:X-A", "a\r\nX-B: b", "the value of header X-A holds a line end or NUL"},
        {"header:content-length", "5", "header content-length is set by the message writer"},
        {"header:Transfer-Encoding", "chunked", "header Transfer-Encoding is set by the message writer"},
        {"header:SOAPAction", "\"a\"", "header SOAPAction is set by the message writer"},
        {"header:Connection", "close", "header Connection is set by the message writer"},
        {"header:Expect", "100-continue", "header Expect is set by the message writer"},
        {"header:Content-Type", "text/xml", "header Content-Type is set by the message writer"},
        {"soap-version", "1.3", "soap-version is \"1.1\" or \"1.2\", not \"1.3\""},
        {"method", "PUT", "method is \"POST\" or \"GET\", not \"PUT\""},
    };
    for (const auto& row : rows) {
        std::string text = "nothing raised";
        try {
            s.setProperty(row.key, row.value);
        } catch (const VexIllegalArgumentError& e) {
            text = e.getMessage().str();
            EXPECT_EQ("0: SkrSession::setProperty [VEX_THROW]", traceOf(e));
        }
        EXPECT_EQ(0u, text.find(row.why)) << row.key << ": " << text;
    }
}
