// The secure socket alone: the factory, the opening checks and failures, the
// connect loop (driven through the layer's status hook), TLS exchanges, the
// time-limit callback, refused options, non-blocking write pieces, sticky echo
// headers, and real OpenSSL peers (s_server, s_client). What it shares with
// the plain socket is in SocketKindsTest.
#include "net/SkrSocket.h"

#include "NetTestSupport.h"
#include "net/SkrSocketNonSSL.h"
#include "platform/core/VexUnexpectedError.h"
#include "platform/crypto/VexSocketAddress.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/ExpectThrow.h"
#include "support/Gate.h"
#include "support/LoopbackPeer.h"
#include "support/QsmTestServer.h"
#include "support/StatusHookScript.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>

namespace {

sockaddr_storage loopback(int port) { return loopbackAddress(port); }

std::string listenerDocument(bool tls)
{
    const TestCertificates& pki = TestCertificates::get();
    return tls ? tlsListenerDocument(pki.serverCert, pki.serverKey) : sessionDocument("");
}

// Whether "localhost" resolves to IPv6 first here (then a server for a
// localhost URL must listen on ::1).
bool localhostIsIPv6()
{
    VexSocketAddress r("QSM_Crypto_Interface");
    int count = 0;
    r.QSM_ResolveAddressFromURI("https://localhost:1/", 0, &count);
    sockaddr_storage a{};
    r.QSM_GetAddress(0, &a);
    return a.ss_family == AF_INET6;
}

TEST(SkrSocketFactory, OnlyOneSelectsTheSecureSocket)
{
    struct Case {
        int secure, nonBlocking;
        bool env;
        bool isSecure;
        int flag;
    } cases[] = {
        {1, 1, false, true, 1},
        {2, 0, false, false, 0},
        {0, 1, false, false, 1},
        {1, 0, true, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.secure) + "/" + std::to_string(c.nonBlocking) + (c.env ? " env" : ""));
        SkarnSocket* s;
        {
            std::unique_ptr<ScopedEnv> env(c.env ? new ScopedEnv("ZEV_SKT_NONBLOCKING", "0") : nullptr);  // any value
            s = SkarnSocket::getSocket(c.secure, c.nonBlocking);
        }
        ASSERT_NE(nullptr, s);
        EXPECT_EQ(c.isSecure, dynamic_cast<SkrSocket*>(s) != nullptr);
        EXPECT_EQ(!c.isSecure, dynamic_cast<SkrSocketNonSSL*>(s) != nullptr);
        EXPECT_EQ(c.flag, s->isNonBlockingSocket());
        EXPECT_EQ(0, s->isReusable());
        s->release();
    }
}

// ---- opening checks ---------------------------------------------------------------

TEST(SkrSocketOpen, Assertions)
{
    const sockaddr_storage a = loopback(443);
    const char* kDocument = "VEX_ASSERT(validateSessionDocument() == TRUE);";
    const char* kPort = "VEX_ASSERT(m_nPort > 0 && m_nPort < 65536);";
    struct Case {
        const char* label;
        std::function<void(SkrSocket&)> body;
        const char* text;
    } cases[] = {
        {"null document, URL", [](SkrSocket& s) { s.Open("https://localhost/", nullptr); },
         "VEX_ASSERT(sessionConfigDoc != NULL);"},
        {"no closing tag", [](SkrSocket& s) { s.Open("https://localhost/", "<sessionConfigDocument>"); }, kDocument},
        {"closing tag at 22",
         [](SkrSocket& s) { s.Open("https://localhost/", "<sessionConfigDocumen></sessionConfigDocument>"); }, kDocument},
        {"port 0", [&](SkrSocket& s) { s.Open(0, a, kPlainDoc); }, kPort},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SkrSocket s;
        EXPECT_EQ(c.text, assertionText([&] { c.body(s); }));
        EXPECT_EQ(0, s.isAlive());
    }
}

struct OpenFailure {
    const char* label;
    std::function<void(SkrSocket&)> body;
    int connectStatus;  // what the hook answers QSM_Connect (0: the real call)
    ExpectedSkarnError want;
    const char* parms;  // null: not checked
};

TEST(SkrSocketOpen, Failures)
{
    const std::string unresolvableUrl = std::string("https://") + kUnresolvableHost + "/path";
    const char* refused = "<sessionConfigDocument><forceSSLStatus>maybe</forceSSLStatus></sessionConfigDocument>";
    const char* reason = "QSM_Socket: forceSSLStatus must be ON or OFF, not 'maybe'";
    sockaddr_storage unresolved;
    std::memset(&unresolved, 0xFF, sizeof unresolved);
    const OpenFailure cases[] = {
        // Port 65535 and the closing tag at position 23 pass the checks; the
        // hooked final failure then ends the connect at once.
        {"port 65535, closing tag at 23",
         [](SkrSocket& s) { s.Open(65535, loopback(65535), "<sessionConfigDocument></sessionConfigDocument>"); },
         QSM_E_FAILED,
         {5, kSocketError, "QSM_Connect=0xfffffff3 QSM_Connect: status -13 set by the test hook", "SkrSocket::open()"},
         nullptr},
        {"port only", [](SkrSocket& s) { s.Open(443); }, 0, {0, 1841854490u, "", "SkrSocket::Open(int)"}, nullptr},
        {"URL that does not resolve", [&](SkrSocket& s) { s.Open(unresolvableUrl.c_str(), kPlainDoc); }, 0,
         {31, 1842289512u, "", "SkrSocket::open()"}, unresolvableUrl.c_str()},
        {"address that does not resolve", [&](SkrSocket& s) { s.Open(443, unresolved, kPlainDoc); }, 0,
         {1, 1841617768u, "", "SkrSocket::open()"}, "|443"},
        {"document refused, URL", [&](SkrSocket& s) { s.Open("https://127.0.0.1:4433/", refused); }, 0,
         {31, 1842289512u, reason, "QSM_Socket=0xfffffff8 SkrSocket::open()"}, "https://127.0.0.1:4433/|-8"},
        {"document refused, address", [&](SkrSocket& s) { s.Open(4433, loopback(4433), refused); }, 0,
         {1, 1841617768u, reason, "QSM_Socket=0xfffffff8 SkrSocket::open()"}, "127.0.0.1|4433|-8"},
    };
    for (const OpenFailure& c : cases) {
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

TEST(SkrSocketOpen, LibraryNotInitialised)
{
    VexCrypto::terminate();
    SkrSocket s;
    std::string text, function;
    try {
        s.Open("https://127.0.0.1:4433/", kPlainDoc);
    } catch (const VexUnexpectedError& e) {
        text = e.getMessageAt(0).format().str();
        function = e.getBackTraceAt(0).function;
    }
    VexCrypto::initialize("QSM_Crypto_Interface");
    EXPECT_EQ("cannot open Crypto lib", text);
    EXPECT_EQ("SkrSocket::open()", function);
}

// ---- the connect loop --------------------------------------------------------------

struct LoopCase {
    const char* label;
    std::map<std::string, std::deque<int>> queued;
    std::map<std::string, int> always;
    int connects, establishes;
    std::vector<int> sleeps;
    const char* literal;  // empty: the socket connects
};

TEST(SkrSocketConnect, RetryPathsThroughTheHook)
{
    const LoopCase cases[] = {
        {"connect keeps asking for negotiation", {}, {{"QSM_Connect", -15}, {"QSM_EstablishSecure", 0}}, 30, 30,
         {2, 2, 2, 2}, "QSM_Connect=0xfffffff1 QSM_Connect: status -15 set by the test hook"},
        {"negotiation would block for ever", {}, {{"QSM_Connect", -15}, {"QSM_EstablishSecure", -23}}, 5, 30,
         {2, 2, 2, 2}, "QSM_Connect=0xfffffff1 QSM_EstablishSecure: status -23 set by the test hook"},
        {"final failure in the second attempt", {{"QSM_Connect", {-10}}}, {{"QSM_Connect", -13}}, 2, 0, {2},
         "QSM_Connect=0xfffffff3 QSM_Connect: status -13 set by the test hook"},
        {"negotiation within the budget", {{"QSM_Connect", {-15}}, {"QSM_EstablishSecure", {-23, -23, -23, -23, 0}}},
         {}, 2, 5, {}, ""},
        {"budget of five repeats used up, next attempt succeeds",
         {{"QSM_Connect", {-15}}, {"QSM_EstablishSecure", {-23, -23, -23, -23, -23, -23}}}, {}, 2, 6, {2}, ""},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::string got;
        // A plain server: once the hook lets the real calls through, they connect.
        QsmTestServer server(sessionDocument(""), [&](QSM_HANDLE& h) {
            got = qsmRecvExactly(h, 2);
            qsmSendAll(h, "ok");
        });
        FakeSleep fake;
        StatusHookScript script{c.queued, c.always, {}};
        SkrSocket s;
        {
            StatusHookInstalled hook(script);
            if (*c.literal)
                expectSkarnError([&] { s.Open(server.port(), loopback(server.port()), kPlainDoc); },
                                 {5, kSocketError, c.literal, "SkrSocket::open()"});
            else
                s.Open(server.port(), loopback(server.port()), kPlainDoc);
        }
        EXPECT_EQ(c.connects, script.asked["QSM_Connect"]);
        EXPECT_EQ(c.establishes, script.asked["QSM_EstablishSecure"]);
        EXPECT_EQ(c.sleeps, sleeps());
        if (!*c.literal) {
            EXPECT_EQ(1, s.isAlive());
            writeAll(s, "hi");
            EXPECT_EQ("ok", readUpTo(s, 2));
        }
        s.Close();
        server.stop();
    }
}

// ---- TLS exchanges ------------------------------------------------------------------

TEST(SkrSocketTls, Exchanges)
{
    const TestCertificates& pki = TestCertificates::get();
    const struct {
        const char* label;
        const char* url;  // "%d" stands for the port; empty: open by address
        bool serverIPv6;
        int nonBlocking;
        std::vector<unsigned> readSizes;
    } cases[] = {
        // The URL's scheme asks for TLS; the host name is checked against the certificate.
        {"blocking, by host name", "https://localhost:%d/service", localhostIsIPv6(), 0, {65536}},
        // Reads below, at and above the receive buffer's size: no byte lost, none twice.
        {"non-blocking, by address", "", false, 1, {1, 7, 4096, 1 << 20, 33, 200000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string request = pattern(300000, 1), reply = pattern((1 << 20) + 12345, 2);
        std::string got;
        // The server side wraps the accepted handle in an SkrSocket, as a server socket does.
        QsmTestServer server(
            listenerDocument(true),
            [&](QSM_HANDLE& h) {
                SkrSocket accepted(h, 0, loopback(0));
                h = nullptr;  // the socket owns it now
                got = readUpTo(accepted, request.size());
                writeAll(accepted, reply);
            },
            1, c.serverIPv6);
        SocketPtr s(SkarnSocket::getSocket(1, c.nonBlocking));
        if (*c.url) {
            char url[64];
            std::snprintf(url, sizeof url, c.url, server.port());
            s->Open(url, sessionDocument("<caFile>" + pki.caFile + "</caFile>").c_str());
        } else {
            s->Open(server.port(), loopback(server.port()), tlsClientDocument().c_str());
        }
        EXPECT_EQ(1, s->isAlive());
        writeAll(*s, request);
        EXPECT_EQ(reply, readUpTo(*s, reply.size(), c.readSizes));
        server.join();
        EXPECT_EQ(request, got);
    }
}

TEST(SkrSocketTls, VerificationFailureNamesTheReason)
{
    // The host name of the URL is checked: a certificate for another host fails
    // the handshake, which ends the first attempt; the second connect is final.
    const TestCertificates& pki = TestCertificates::get();
    const int before = openDescriptorCount();
    {
        QsmTestServer server(tlsListenerDocument(pki.otherCert, pki.otherKey), [](QSM_HANDLE& h) { qsmRecvExactly(h, 1); },
                             1, localhostIsIPv6());
        FakeSleep sleep;
        SkrSocket s;
        const std::string url = "https://localhost:" + std::to_string(server.port()) + "/";
        try {
            s.Open(url.c_str(), tlsClientDocument().c_str());
            ADD_FAILURE() << "nothing raised";
        } catch (const SkarnException& e) {
            EXPECT_EQ(5, e.getErrorCode());
            EXPECT_EQ("SkrSocket::open()", e.getBackTraceAt(0).function);
            ASSERT_EQ(2u, e.getMessageCount());
            const std::string text = e.getMessageAt(1).format().str();
            EXPECT_EQ(0u, text.find("QSM_Connect=0xfffffff3 QSM_EstablishSecure: TLS handshake with ")) << text;
            EXPECT_NE(std::string::npos, text.find("certificate verification failed: hostname mismatch")) << text;
        }
        EXPECT_EQ((std::vector<int>{2}), sleeps());
        s.Close();
    }
    EXPECT_EQ(before, openDescriptorCount());
}

// ---- waits and the time-limit callback ---------------------------------------------

struct CallbackLog {
    std::vector<int> calls;
    int raiseAt;
};

void logAndMaybeRaise(void* argument)
{
    CallbackLog* log = static_cast<CallbackLog*>(argument);
    log->calls.push_back(0);
    if (static_cast<int>(log->calls.size()) == log->raiseAt)
        QioIOTimeoutException(0).hurl(VEX_LOCATION, "test callback", "VEX_THROW");
}

struct WaitUnit {
    int previous;
    explicit WaitUnit(int millis) : previous(SkrSocket::setWaitUnitMillis(millis)) {}
    ~WaitUnit() { SkrSocket::setWaitUnitMillis(previous); }
};

TEST(SkrSocketWait, NonBlockingReadWithoutLimitCallsBack)
{
    WaitUnit unit(50);  // a "second" of 50 ms
    Gate gate;
    QsmTestServer server(listenerDocument(true), [&](QSM_HANDLE&) { gate.wait(); });
    SocketPtr s(SkarnSocket::getSocket(1, 1));
    s->Open(server.port(), loopback(server.port()), tlsClientDocument().c_str());
    CallbackLog log{{}, 4};
    s->setTimeLimitCallback(&logAndMaybeRaise, &log, 0);
    char buf[16];
    EXPECT_THROW(s->getInputStream().read(buf, sizeof buf), QioIOTimeoutException);
    EXPECT_EQ(4u, log.calls.size());
    gate.open();
    server.join();
}

// ---- options, writes and echo -------------------------------------------------------

struct NonBlockingSocket : SkrSocket {
    NonBlockingSocket() { m_nonBlocking = 1; }
};

TEST(SkrSocketOptions, RefusedOptions)
{
    EchoFolder folder;
    QsmTestServer server(sessionDocument(""), [](QSM_HANDLE&) {}, 3);
    for (int headers : {1, 0}) {
        // TCP_NODELAY refused: no exception, a line in the echo file when headers are on.
        StatusHookScript script;
        script.always["QSM_SetSockOpt"] = QSM_E_SYSTEM;
        StatusHookInstalled hook(script);
        const std::string name = "nodelay" + std::to_string(headers);
        {
            SkrSocket s;
            s.echo(name.c_str(), "wb", headers);
            EXPECT_NO_THROW(s.Open(server.port(), loopback(server.port()), kPlainDoc));
        }
        EXPECT_EQ(headers ? "\nQSM_SetSockOpt to TCP_NODELAY FAILED\n" : "", fileText(folder.file(name, "pid_")));
    }
    // Non-blocking mode refused: the assertion.
    StatusHookScript script;
    script.queued["QSM_SetSockOpt"] = {StatusHookScript::kPass, QSM_E_SYSTEM};
    StatusHookInstalled hook(script);
    NonBlockingSocket s;
    EXPECT_EQ("VEX_ASSERT(qsm_stat == QSM_S_OK);",
              assertionText([&] { s.Open(server.port(), loopback(server.port()), kPlainDoc); }));
    EXPECT_EQ(2, script.asked["QSM_SetSockOpt"]);
}

TEST(SkrSocketWrite, NonBlockingWriteGoesInPieces)
{
    // Non-blocking writes go out in pieces of 32K, each its own record.
    EchoFolder folder;
    ScopedEnv noSocket("ZEV_SKT_NO_SOCKET", "1");
    const std::string bytes = pattern(2 * 32768 + 5, 9);
    int written = -1;
    {
        SocketPtr s(SkarnSocket::getSocket(1, 1));
        s->echo("pieces", "wb", 1);
        static_cast<SkrSocket&>(*s).WriteBuffer(bytes.data(), static_cast<unsigned>(bytes.size()), &written);
    }
    EXPECT_EQ(static_cast<int>(bytes.size()), written);
    EXPECT_EQ("\n<write[32768]>\n" + bytes.substr(0, 32768) + "\n<write[32768]>\n" + bytes.substr(32768, 32768) +
                  "\n<write[5]>\n" + bytes.substr(65536),
              fileText(folder.file("pieces", "pid_")));
}

// ---- real OpenSSL peers ------------------------------------------------------------------

bool haveOpenSslTool() { return std::system("command -v openssl >/dev/null 2>&1") == 0; }

std::string restOf(FILE* p)
{
    std::string out;
    char line[512];
    while (std::fgets(line, sizeof line, p))
        out += line;
    return out;
}

TEST(SkrSocketOpenSslPeers, ExchangeWithSServer)
{
    if (!haveOpenSslTool())
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
    SkarnSocket* s = SkarnSocket::getSocket(1, 0);
    s->Open(port, loopback(port), tlsClientDocument().c_str());
    writeAll(*s, "hello skarn\n");
    EXPECT_EQ("nraks olleh\n", readUpTo(*s, 12));
    s->release();
    const std::string rest = restOf(p);
    EXPECT_EQ(0, pclose(p));
    EXPECT_NE(std::string::npos, rest.find("CONNECTION ESTABLISHED")) << rest;
    EXPECT_NE(std::string::npos, rest.find("Protocol version: TLSv1.")) << rest;
}

TEST(SkrSocketOpenSslPeers, ExchangeWithSClient)
{
    if (!haveOpenSslTool())
        GTEST_SKIP() << "the openssl command is not installed";
    const TestCertificates& pki = TestCertificates::get();
    std::string got;
    QsmTestServer server(listenerDocument(true), [&](QSM_HANDLE& h) {
        SkrSocket accepted(h, 0, loopback(0));
        h = nullptr;
        got = readUpTo(accepted, 5);
        writeAll(accepted, "pong\n");
    });
    const std::string command = "printf 'ping\\n' | timeout 20 openssl s_client -connect 127.0.0.1:" +
                                std::to_string(server.port()) + " -CAfile " + pki.caFile +
                                " -verify_return_error -verify_ip 127.0.0.1 -quiet 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, p);
    const std::string out = restOf(p);
    EXPECT_EQ(0, pclose(p)) << out;
    server.join();
    EXPECT_EQ("ping\n", got);
    EXPECT_NE(std::string::npos, out.find("pong\n")) << out;
    EXPECT_EQ(std::string::npos, out.find("verify error")) << out;
}

}  // namespace
