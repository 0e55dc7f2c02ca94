// The secure socket alone: the opening failures and the connect loop (driven
// through the layer's status hook), TLS exchanges and a real OpenSSL server. What it shares with the plain socket is in
// SocketKindsTest.
#include "net/SkrSocket.h"

#include "NetTestSupport.h"
#include "support/ExpectThrow.h"
#include "support/LoopbackPeer.h"
#include "support/SkarnTestServer.h"
#include "support/StatusHookScript.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>

namespace {

TEST(SkrSocketOpen, Failures)
{
    const std::string unresolvableUrl = std::string("https://") + kUnresolvableHost + "/path";
    const char* refused = "<sessionConfigDocument><forceSSLStatus>maybe</forceSSLStatus></sessionConfigDocument>";
    const struct {
        const char* label;
        std::function<void(SkrSocket&)> body;
        int connectStatus;  // what the hook answers QSM_Connect (0: the real call)
        ExpectedSkarnError want;
        const char* parms;  // null: not checked
    } cases[] = {
        // The hooked final failure ends the connect at once.
        {"final connect failure",
         [](SkrSocket& s) { s.Open(65535, loopbackAddress(65535), "<sessionConfigDocument></sessionConfigDocument>"); },
         QSM_E_FAILED,
         {5, kSocketError, "QSM_Connect=0xfffffff3 QSM_Connect: status -13 set by the test hook", "SkrSocket::open()"},
         nullptr},
        {"URL that does not resolve", [&](SkrSocket& s) { s.Open(unresolvableUrl.c_str(), kPlainDoc); }, 0,
         {31, 1842289512u, "", "SkrSocket::open()"}, unresolvableUrl.c_str()},
        {"document refused, address", [&](SkrSocket& s) { s.Open(4433, loopbackAddress(4433), refused); }, 0,
         {1, 1841617768u, "QSM_Socket: forceSSLStatus must be ON or OFF, not 'maybe'",
          "QSM_Socket=0xfffffff8 SkrSocket::open()"},
         "127.0.0.1|4433|-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        StatusHookScript script;
        if (c.connectStatus)
            script.always["QSM_Connect"] = c.connectStatus;
        StatusHookInstalled hook(script);
        SkrSocket s;
        SkarnException e = expectSkarnError([&] { c.body(s); }, c.want);
        if (c.parms) {
            EXPECT_EQ(c.parms, parmsOf(e));
        }
        EXPECT_EQ(c.connectStatus ? 1 : 0, script.asked["QSM_Connect"]);
        EXPECT_EQ(0, s.isAlive());
    }
}

TEST(SkrSocketConnect, RetryPathsThroughTheHook)
{
    const struct {
        const char* label;
        std::map<std::string, std::deque<int>> queued;
        std::map<std::string, int> always;
        int connects, establishes;
        std::vector<int> sleeps;
        const char* literal;  // empty: the socket connects
    } cases[] = {
        {"negotiation would block for ever", {}, {{"QSM_Connect", -15}, {"QSM_EstablishSecure", -23}}, 5, 30,
         {2, 2, 2, 2}, "QSM_Connect=0xfffffff1 QSM_EstablishSecure: status -23 set by the test hook"},
        {"final failure in the second attempt", {{"QSM_Connect", {-10}}}, {{"QSM_Connect", -13}}, 2, 0, {2},
         "QSM_Connect=0xfffffff3 QSM_Connect: status -13 set by the test hook"},
        {"budget of five repeats used up, next attempt succeeds",
         {{"QSM_Connect", {-15}}, {"QSM_EstablishSecure", {-23, -23, -23, -23, -23, -23}}}, {}, 2, 6, {2}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        // A raw peer: the hook sees only the socket's calls; once it lets them through, they connect.
        LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::readThenSend(2, "ok"));
        FakeSleep fake;
        StatusHookScript script{c.queued, c.always, {}};
        SkrSocket s;
        {
            StatusHookInstalled hook(script);
            if (*c.literal)
                expectSkarnError([&] { s.Open(peer.port(), peer.address(), kPlainDoc); },
                                 {5, kSocketError, c.literal, "SkrSocket::open()"});
            else
                s.Open(peer.port(), peer.address(), kPlainDoc);
        }
        EXPECT_EQ(c.connects, script.asked["QSM_Connect"]);
        EXPECT_EQ(c.establishes, script.asked["QSM_EstablishSecure"]);
        EXPECT_EQ(c.sleeps, sleeps());
        if (!*c.literal) {
            writeAll(s, "hi");
            EXPECT_EQ("ok", readStream(s.getInputStream(), 2));
        }
    }
}

TEST(SkrSocketTls, Exchanges)
{
    const TestCertificates& pki = TestCertificates::get();
    const struct {
        const char* label;
        bool byUrl;
        int nonBlocking;
        std::vector<unsigned> readSizes;
    } cases[] = {
        // The URL's scheme asks for TLS; the address is checked against the certificate.
        {"blocking, by URL", true, 0, {65536}},
        // Reads below, at and above the receive buffer's size: no byte lost, none twice.
        {"non-blocking, by address", false, 1, {1, 7, 4096, 1 << 20, 33, 200000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string request = pattern(300000, 1), reply = pattern((1 << 20) + 12345, 2);
        std::string got;
        {
            SkarnTestServer server(
                [&](SkarnSocket& accepted) {
                    got = readStream(accepted.getInputStream(), request.size());
                    writeAll(accepted, reply);
                },
                tlsListenerDocument(pki.serverCert, pki.serverKey));
            SocketPtr s(SkarnSocket::getSocket(1, c.nonBlocking));
            const std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/service";
            if (c.byUrl)
                s->Open(url.c_str(), sessionDocument("<caFile>" + pki.caFile + "</caFile>").c_str());
            else
                s->Open(server.port(), loopbackAddress(server.port()), tlsClientDocument().c_str());
            EXPECT_EQ(1, s->isAlive());
            writeAll(*s, request);
            EXPECT_EQ(reply, readStream(s->getInputStream(), reply.size(), c.readSizes));
        }
        EXPECT_EQ(request, got);
    }
}

TEST(SkrSocketTls, ExchangeWithOpenSslServer)
{
    if (std::system("command -v openssl >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the openssl command is not installed";
    const TestCertificates& pki = TestCertificates::get();
    const std::string command = "timeout 20 openssl s_server -accept 127.0.0.1:0 -naccept 1 -rev -cert " +
                                pki.serverCert + " -key " + pki.serverKey + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, p);
    int port = 0;
    char line[512];
    while (!port && std::fgets(line, sizeof line, p)) {
        if (std::strncmp(line, "ACCEPT 127.0.0.1:", 17) == 0)
            port = std::atoi(line + 17);
    }
    ASSERT_GT(port, 0) << "s_server did not start";
    {
        SocketPtr s(SkarnSocket::getSocket(1, 0));
        s->Open(port, loopbackAddress(port), tlsClientDocument().c_str());
        writeAll(*s, "hello skarn\n");
        EXPECT_EQ("nraks olleh\n", readStream(s->getInputStream(), 12));
    }
    std::string rest;
    while (std::fgets(line, sizeof line, p))
        rest += line;
    EXPECT_EQ(0, pclose(p));
    EXPECT_NE(std::string::npos, rest.find("CONNECTION ESTABLISHED")) << rest;
}

TEST(PlainSocketNonBlockingVariable, FlagIsSetAndTheSocketStillReadsAndWrites)
{
    ScopedEnv nonBlocking("ZEV_SKT_NONBLOCKING", "");
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::echo());
    SocketPtr s(SkarnSocket::getSocket(0, 0));
    EXPECT_EQ(1, s->isNonBlockingSocket());
    s->Open(peer.port(), peer.address(), nullptr);
    writeAll(*s, "ping");
    EXPECT_EQ("ping", readStream(s->getInputStream(), 4));
}

}  // namespace
