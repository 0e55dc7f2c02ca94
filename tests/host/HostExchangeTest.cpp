// Whole exchanges through the public entry points only, as a host makes them:
// client sessions from a factory against the support server loop, in one
// process on loopback, plain and TLS (certificates verified). The reuse
// decisions themselves are tested in tests/session and tests/conn.
#include "api/Skarn.h"
#include "api/SkarnAttachmentReader.h"
#include "api/SkarnMessageReader.h"
#include "api/SkarnMessageWriter.h"
#include "api/SkarnProcess.h"
#include "api/SkarnSession.h"
#include "conn/SkarnConnectionPool.h"
#include "conn/SkrConnectionPoolFactory.h"
#include "net/SkarnSocket.h"
#include "platform/core/VexThrowable.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/streams/QioOutputStream.h"
#include "support/SkarnTestServer.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Process : testing::Environment {
    void SetUp() override { ASSERT_EQ(0, SkarnProcessInitialize(nullptr)); }
    void TearDown() override
    {
        SkrConnectionPoolFactory::destroyInstance();
        SkarnProcessTerminate(nullptr);
    }
};
testing::Environment* const process = testing::AddGlobalTestEnvironment(new Process);

// The session configuration document of a listener ("" for plain) or a client.
std::string document(bool tls, bool server)
{
    const TestCertificates& c = TestCertificates::get();
    if (!tls)
        return server ? "" : "<sessionConfigDocument><forceSSLStatus>OFF</forceSSLStatus></sessionConfigDocument>";
    return server ? "<sessionConfigDocument><serviceID>t</serviceID><certificateFile>" + c.serverCert +
                        "</certificateFile><privateKeyFile>" + c.serverKey + "</privateKeyFile></sessionConfigDocument>"
                  : "<sessionConfigDocument><forceSSLStatus>ON</forceSSLStatus><caFile>" + c.caFile +
                        "</caFile></sessionConfigDocument>";
}

// A host's factory for sessions to http://127.0.0.1:<port>/svc, with its
// default secure transport: plain connections too go through the
// secure-socket library.
struct Client {
    std::unique_ptr<Skarn> bus{Skarn::getSessionFactory()};
    std::string key, url, options;
    Client(int port, bool tls)
        : key("127.0.0.1:" + std::to_string(port)), url("http://" + key + "/svc"), options(document(tls, false)) {}
    SkarnSession* session() { return bus->getSession(&url[0], &options[0], 0); }
    // The reuse counter of the connection idle in the pool (-1: none); it goes back.
    int pooledReuse()
    {
        SkarnSocket* s = SkrConnectionPoolFactory::getInstance()->findIdleSocket(key);
        int n = s ? s->getReuseCounter() : -1;
        return s ? (s->release(), n) : n;
    }
};

// Runs `body`; a throwable becomes a failure that shows what was raised.
template <class Body>
void clean(Body body)
{
    try {
        body();
    } catch (VexThrowable& t) {
        ADD_FAILURE() << t.toString().str();
    }
}

// One echo exchange: n < 0 through doRequest, else through the open and close
// forms with n attachments, chunked or with a content length. Everything
// comes back byte for byte, framed alike.
void echoRequest(SkarnSession& s, const std::string& text, int n = -1, bool length = false)
{
    std::unique_ptr<VexIDOM_Document> req(soapEnvelope(text)), resp(soapEnvelope(""));
    VexIDOM_Element root = req->getDocumentElement(), holder = resp->getDocumentElement();
    if (n < 0) {
        s.doRequest(root, holder);
        EXPECT_EQ(serialiseNode(root), serialiseNode(holder.getLastChild()));
        return;
    }
    s.setProperty("send-content-length", length ? 1 : 0);
    SkarnMessageWriter& w = s.openRequest(n > 0);
    w.setEnvelope(root);
    std::vector<std::string> parts;
    for (int i = 0; i < n; ++i) {
        parts.push_back(std::string(3000 * i + 1, static_cast<char>('a' + i)) + std::string("\0\r\n--=_\r\n", 9));
        w.addAttachment("application/octet-stream", nullptr, parts[i].data(), static_cast<unsigned>(parts[i].size()),
                        std::to_string(i).c_str());
    }
    s.closeRequest(w);
    SkarnMessageReader& r = s.openResponse();
    r.getEnvelope(holder);
    EXPECT_EQ(serialiseNode(root), serialiseNode(holder.getLastChild()));
    EXPECT_EQ(length, r.getHeader("content-length") != nullptr);
    int i = 0;
    for (; r.hasMoreAttachments(); ++i) {
        SkarnAttachmentReader& a = r.openNextAttachment();
        EXPECT_EQ(parts.at(i), readStream(a.getInputStream()));
        EXPECT_EQ(std::to_string(i), a.getContentID());
        r.closeAttachment(a);
    }
    EXPECT_EQ(n, i);
    s.closeResponse(r);
}

}  // namespace

TEST(HostExchange, PartsBothWaysManyExchangesAndOnePooledConnection)
{
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        SkarnTestServer server(SkarnTestServer::echo(), document(tls, true));
        Client c(server.port(), tls);
        for (int i = 0; i < 6; ++i)  // six sessions, one connection
            clean([&] {
                SkarnSession* s = c.session();
                for (int n : {0, 1, 5})
                    for (bool length : {false, true})
                        echoRequest(*s, "caf\xC3\xA9 & <x>", n, length);
                echoRequest(*s, std::to_string(i));
                s->release();
            });
        EXPECT_EQ(1, server.accepted());
        EXPECT_EQ(6, c.pooledReuse());
        SkrConnectionPoolFactory::destroyInstance();  // the client closes: the server's thread ends
    }
}
