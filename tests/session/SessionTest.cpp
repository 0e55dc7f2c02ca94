// Client and server sessions on loopback socket pairs: the request and
// response bytes they put on the wire, the reuse decision, the call order.
#include "session/SkrServerSession.h"
#include "session/SkrSession.h"
#include "support/AcceptedPlainSocket.h"
#include "support/ExpectVexError.h"
#include "support/LoopbackPeer.h"
#include "support/SkarnTestServer.h"

#include "api/SkarnMessageReader.h"
#include "api/SkarnMessageWriter.h"
#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/dom/VexIDOM_Document.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>

namespace {

// A client end (owned by the session under test) and the raw far end.
struct Pair {
    AcceptedPlainSocket* sock;
    int peer;
    Pair()
    {
        std::pair<int, int> fds = LoopbackPeer::connectedPair(LoopbackPeer::IPv4);
        sock = new AcceptedPlainSocket(fds.first);
        sock->markReusable();
        peer = fds.second;
    }
    ~Pair() { ::close(peer); }
};

std::string response(const std::string& extraHeaders, const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=UTF-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

const std::string BODY = "<e:Envelope xmlns:e=\"urn:e\"><b>x</b></e:Envelope>";
const std::string BIG(5000, 'a');

}  // namespace

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
        {"chunk-size 4096", {{"send-content-length", "0"}, {"chunk-size", "4096"}}, "chunked\r\n\r\n1000\r\n",
         "\r\n0\r\n\r\n", "Connection: CLOSE\r\n", 0},
        {"default chunks", {}, "chunked\r\n\r\nfa0\r\n", "\r\n0\r\n\r\n", "Connection: keep-alive\r\n", 1},
        {"host and authorization", {{"Host", "h:9"}, {"Authorization", "Basic eA=="}},
         "Authorization: Basic eA==\r\nHost: h:9\r\n", "\r\n0\r\n\r\n", "", 1},
        {"close among other words", {{"boundary", "b"}}, "POST /svc HTTP/1.1\r\n", "\r\n0\r\n\r\n",
         "Connection: close, x\r\n", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Pair p;
        SkrSession* s = new SkrSession(nullptr, p.sock, "/svc");
        for (const auto& kv : row.props)
            s->setProperty(kv.first, kv.second);
        std::unique_ptr<VexIDOM_Document> req(soapEnvelope(BIG));
        VexIDOM_Element root = req->getDocumentElement();
        s->sendRequest(root);
        std::string wire = readUntil(p.peer, row.endMark);
        EXPECT_NE(std::string::npos, wire.find(row.wantInHead)) << wire.substr(0, 400);
        std::string answer = response(row.connection, BODY);
        ASSERT_TRUE(LoopbackPeer::sendAll(p.peer, answer.data(), answer.size()));
        std::unique_ptr<VexIDOM_Document> holder(soapEnvelope(""));
        VexIDOM_Element h = holder->getDocumentElement();
        noThrowable([&] { s->getResponse(h); });
        EXPECT_EQ("x", h.getLastChild().getTextContent().str());
        EXPECT_EQ(row.reusable, p.sock->isReusable());
        s->release();
    }
}

TEST(SkrSession, CallOrderAndKeysAreChecked)
{
    Pair p;
    std::unique_ptr<SkrSession> s(new SkrSession(nullptr, p.sock, ""));
    std::unique_ptr<VexIDOM_Document> doc(soapEnvelope("q"));
    VexIDOM_Element root = doc->getDocumentElement();
    EXPECT_EQ("SkrSession::getResponse - no request was sent", illegalStateText([&] { s->getResponse(root); }));
    EXPECT_EQ("SkrSession::openResponse - no request was sent", illegalStateText([&] { s->openResponse(); }));
    SkarnMessageWriter& w = s->openRequest(0);
    EXPECT_EQ("VEX_ASSERT(m_current_writer == NULL);", assertionText([&] { s->openRequest(0); }));
    SkrMessageWriter otherWriter("", 0, 0, nullptr, 0, 0, nullptr);
    EXPECT_EQ("VEX_ASSERT(m_current_writer == &w);", assertionText([&] { s->closeRequest(otherWriter); }));
    w.setEnvelope(root);
    s->closeRequest(w);
    std::string answer = response("", BODY);
    readUntil(p.peer, "\r\n0\r\n\r\n");
    ASSERT_TRUE(LoopbackPeer::sendAll(p.peer, answer.data(), answer.size()));
    SkarnMessageReader& r = s->openResponse();
    EXPECT_EQ("SkrSession::openResponse - no request was sent", illegalStateText([&] { s->openResponse(); }));
    SkrMessageReader otherReader(0, p.sock->getInputStream(), nullptr);
    EXPECT_EQ("VEX_ASSERT(m_current_reader == &r);", assertionText([&] { s->closeResponse(otherReader); }));
    s->closeResponse(r);
    EXPECT_EQ("SkrSession::getResponse - no request was sent", illegalStateText([&] { s->getResponse(root); }));
    for (const char* key : {"host", "Boundary", "QSMSSLServer", "Host "}) {
        try {
            s->setProperty(key, 1);
            ADD_FAILURE() << key;
        } catch (const VexIllegalArgumentError& e) {
            EXPECT_EQ("SkrSession::setProperty", e.getBackTraceAt(0).function) << key;
        }
    }
    delete p.sock;
}

TEST(SkrServerSession, PropertiesShapeTheResponseAndExpectContinueIsAnswered)
{
    struct Row {
        const char* label;
        const char* key;
        int value;
        std::string requestHead;  // the body follows once the head is sent
        std::string interim;      // what the client sees before it sends the body
        const char* inResponse;
        const char* end;
    } rows[] = {
        {"HTTP/1.1 asks to continue; content length", "send-content-length", 1,
         "POST /s HTTP/1.1\r\nExpect: 100-Continue\r\n", "HTTP/1.1 100 Continue\r\n\r\n", "Content-Length: ", "Envelope>"},
        {"HTTP/1.0 gets no interim answer; chunks of 4096", "chunk-size", 4096,
         "POST /s HTTP/1.0\r\nExpect: 100-continue\r\n", "", "chunked\r\n\r\n1000\r\n", "\r\n0\r\n\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Pair p;
        std::unique_ptr<AcceptedPlainSocket> own(p.sock);
        SkrServerSession* s = new SkrServerSession(p.sock);
        s->setProperty(row.key, row.value);
        std::string head = row.requestHead + "Content-Length: " + std::to_string(BODY.size()) + "\r\n\r\n";
        ASSERT_TRUE(LoopbackPeer::sendAll(p.peer, head.data(), head.size()));
        std::unique_ptr<VexIDOM_Document> holder(soapEnvelope(BIG));
        std::future<void> served = std::async(std::launch::async, [&] {
            noThrowable([&] {
                VexIDOM_Element h = holder->getDocumentElement();
                s->readRequestEnvelope(h);
                s->respond(h);
            });
        });
        EXPECT_EQ(row.interim, row.interim.empty() ? "" : readUntil(p.peer, "\r\n\r\n"));
        ASSERT_TRUE(LoopbackPeer::sendAll(p.peer, BODY.data(), BODY.size()));
        served.get();
        s->release();
        std::string wire = readUntil(p.peer, row.end);
        EXPECT_EQ(0u, wire.find("HTTP/1.1 200 OK\r\n")) << wire.substr(0, 100);
        EXPECT_NE(std::string::npos, wire.find(row.inResponse));
        EXPECT_EQ(1, p.sock->isReusable());  // the host's connection is left alone
    }
}

TEST(SkrServerSession, CallOrderAndKeysAreChecked)
{
    Pair p;
    std::unique_ptr<AcceptedPlainSocket> own(p.sock);
    std::unique_ptr<SkrServerSession> s(new SkrServerSession(p.sock));
    SkarnMessageReader& r = s->openRequest();
    EXPECT_EQ("VEX_ASSERT(m_serv_reader == 0);", assertionText([&] { s->openRequest(); }));
    SkrMessageReader otherReader(1, p.sock->getInputStream(), nullptr);
    EXPECT_EQ("VEX_ASSERT(m_serv_reader == &r);", assertionText([&] { s->closeRequest(otherReader); }));
    s->closeRequest(r);
    SkarnMessageWriter& w = s->openResponse(0);
    EXPECT_EQ("VEX_ASSERT(m_serv_writer == 0);", assertionText([&] { s->openResponse(0); }));
    SkrMessageWriter otherWriter("", 0, 0, nullptr, 0, 0, nullptr);
    EXPECT_EQ("VEX_ASSERT(m_serv_writer == &w);", assertionText([&] { s->closeResponse(otherWriter); }));
    std::unique_ptr<VexIDOM_Document> doc(soapEnvelope("r"));
    VexIDOM_Element root = doc->getDocumentElement();
    w.setEnvelope(root);
    s->closeResponse(w);
    try {
        s->setProperty("Authorization", "x");
        ADD_FAILURE();
    } catch (const VexIllegalArgumentError& e) {
        EXPECT_EQ("SkrServerSession::setProperty", e.getBackTraceAt(0).function);
    }
    SkrServerSession* bare = new SkrServerSession(nullptr);
    bare->echo("never-written");
    EXPECT_EQ("VEX_ASSERT(m_server_sock);", assertionText([&] { bare->openRequest(); }));
    bare->release();
    SkrSession* client = new SkrSession(nullptr, nullptr, "");
    client->echo("never-written", "w", 1);
    client->release();
}
