// Client and server sessions on loopback socket pairs: the request bytes the
// client's properties give, the reuse decision, the call order. Whole
// exchanges, with the server session, are in tests/host.
#include "session/SkrServerSession.h"
#include "session/SkrSession.h"
#include "support/AcceptedPlainSocket.h"
#include "support/ExpectVexError.h"
#include "support/LoopbackPeer.h"
#include "support/SkarnTestServer.h"

#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/dom/VexIDOM_Document.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <memory>
#include <string>

namespace {

// A session's end of a loopback pair (marked reusable) and the raw far end.
struct Pair {
    std::pair<int, int> fds = LoopbackPeer::connectedPair(LoopbackPeer::IPv4);
    AcceptedPlainSocket* sock = new AcceptedPlainSocket(fds.first);
    int peer = fds.second;
    Pair() { sock->markReusable(); }
    ~Pair() { ::close(peer); }
};

std::string response(const std::string& extraHeaders, const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=UTF-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

const std::string BODY = "<e:Envelope xmlns:e=\"urn:e\"><b>x</b></e:Envelope>";

// The function text of the VexIllegalArgumentError that setting `key` raises.
template <class Session>
std::string refused(Session& s, const char* key)
{
    try {
        s.setProperty(key, 1);
    } catch (const VexIllegalArgumentError& e) {
        return e.getBackTraceAt(0).function;
    }
    return "accepted";
}

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
        std::unique_ptr<VexIDOM_Document> req(soapEnvelope(std::string(5000, 'a')));
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

TEST(Sessions, CallOrderAndKeysAreChecked)
{
    Pair p;
    std::unique_ptr<AcceptedPlainSocket> own(p.sock);
    std::unique_ptr<SkrSession> s(new SkrSession(nullptr, p.sock, ""));
    std::unique_ptr<VexIDOM_Document> doc(soapEnvelope("q"));
    VexIDOM_Element root = doc->getDocumentElement();
    SkrMessageWriter otherWriter("", 0, 0, nullptr, 0, 0, nullptr);
    SkrMessageReader otherReader(0, p.sock->getInputStream(), nullptr);
    EXPECT_EQ("SkrSession::getResponse - no request was sent", illegalStateText([&] { s->getResponse(root); }));
    EXPECT_EQ("SkrSession::openResponse - no request was sent", illegalStateText([&] { s->openResponse(); }));
    SkarnMessageWriter& w = s->openRequest(0);
    EXPECT_EQ("VEX_ASSERT(m_current_writer == NULL);", assertionText([&] { s->openRequest(0); }));
    EXPECT_EQ("VEX_ASSERT(m_current_writer == &w);", assertionText([&] { s->closeRequest(otherWriter); }));
    w.setEnvelope(root);
    s->closeRequest(w);
    std::string answer = response("", BODY);
    readUntil(p.peer, "\r\n0\r\n\r\n");
    ASSERT_TRUE(LoopbackPeer::sendAll(p.peer, answer.data(), answer.size()));
    SkarnMessageReader& r = s->openResponse();
    EXPECT_EQ("SkrSession::openResponse - no request was sent", illegalStateText([&] { s->openResponse(); }));
    EXPECT_EQ("VEX_ASSERT(m_current_reader == &r);", assertionText([&] { s->closeResponse(otherReader); }));
    s->closeResponse(r);
    EXPECT_EQ("SkrSession::getResponse - no request was sent", illegalStateText([&] { s->getResponse(root); }));
    for (const char* key : {"host", "Boundary", "QSMSSLServer", "Host "})
        EXPECT_EQ("SkrSession::setProperty", refused(*s, key)) << key;

    std::unique_ptr<SkrServerSession> ss(new SkrServerSession(p.sock));
    SkarnMessageReader& sr = ss->openRequest();
    EXPECT_EQ("VEX_ASSERT(m_serv_reader == 0);", assertionText([&] { ss->openRequest(); }));
    EXPECT_EQ("VEX_ASSERT(m_serv_reader == &r);", assertionText([&] { ss->closeRequest(otherReader); }));
    ss->closeRequest(sr);
    SkarnMessageWriter& sw = ss->openResponse(0);
    EXPECT_EQ("VEX_ASSERT(m_serv_writer == 0);", assertionText([&] { ss->openResponse(0); }));
    EXPECT_EQ("VEX_ASSERT(m_serv_writer == &w);", assertionText([&] { ss->closeResponse(otherWriter); }));
    sw.setEnvelope(root);
    ss->closeResponse(sw);
    EXPECT_EQ("SkrServerSession::setProperty", refused(*ss, "Authorization"));
    SkrServerSession* bare = new SkrServerSession(nullptr);
    bare->echo("never-written");
    EXPECT_EQ("VEX_ASSERT(m_server_sock);", assertionText([&] { bare->openRequest(); }));
    bare->release();
    SkrSession* client = new SkrSession(nullptr, nullptr, "");
    client->echo("never-written", "w", 1);
    client->release();
}
