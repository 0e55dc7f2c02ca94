// The secure-socket layer over real loopback connections: plain and TLS
// exchanges, certificate and host-name verification, the handshake bound and
// the texts of failed calls.
#include "platform/crypto/VexCrypto.h"

#include "support/LoopbackPeer.h"
#include "support/QsmTestServer.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

VexCrypto* lib() { return VexCryptoSharedFactory::getInstance(); }

std::string plainDoc(const std::string& extra = "") { return sessionDocument("<serviceID>test</serviceID>" + extra); }

std::string freed(char* details)
{
    std::string s = details ? details : "(none)";
    lib()->QSM_CryptoFree(details);
    return s;
}

QSM_HANDLE openHandle(const std::string& doc)
{
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, doc.c_str(), nullptr, &details));
    freed(details);
    return h;
}

int connectTo(QSM_HANDLE h, int port)
{
    sockaddr_storage a = loopbackAddress(port);
    return lib()->QSM_Connect(h, &a, 128, nullptr);
}

// Connects as a toolkit socket does: connect (to `url` when given), negotiate
// when asked, connect again. `first` receives the first connect's status.
// A non-blocking handle is so from the start: the handshake itself answers "call again".
int connectClient(const std::string& doc, int port, QSM_HANDLE* h, const std::string& url = "", int* first = nullptr,
                  bool nonBlocking = false)
{
    *h = openHandle(doc);
    int one = 1;
    if (nonBlocking) {
        EXPECT_EQ(QSM_S_OK, lib()->QSM_SetSockOpt(*h, QSM_FIONBIO, &one, 4, nullptr));
    }
    auto connect = [&] { return url.empty() ? connectTo(*h, port) : lib()->QSM_Connect_Url(*h, url.c_str(), nullptr); };
    int st = connect();
    if (first)
        *first = st;
    if (st == QSM_E_NEGOTIATE) {
        while ((st = lib()->QSM_EstablishSecure(*h, nullptr)) == QSM_E_WOULD_BLOCK) {
            QSM_Handle_Set r{1, {*h}};
            timeval tv{1, 0};
            int n = 0;
            char* d = nullptr;
            lib()->QSM_Select(&r, nullptr, nullptr, &tv, &n, &d);
            freed(d);
        }
        if (st == QSM_S_OK)
            st = connect();
    }
    return st;
}

void closeHandle(QSM_HANDLE* h)
{
    char* details = nullptr;
    EXPECT_EQ(QSM_S_OK, lib()->QSM_CloseHandle(h, nullptr, &details));
    freed(details);
    EXPECT_EQ(nullptr, *h);
}

// The server of an exchange: takes `in` bytes, answers with `out`.
std::function<void(QSM_HANDLE&)> answer(std::size_t in, const std::string& out, std::string* got)
{
    return [in, out, got](QSM_HANDLE h) {
        *got = qsmRecvExactly(h, in);
        qsmSendAll(h, out);
    };
}

const char kHandshake[] = "QSM_EstablishSecure: TLS handshake with 127.0.0.1:";

TEST(VexCryptoExchange, BothWaysAndTheCertificatesThatPass)
{
    const TestCertificates& pki = TestCertificates::get();
    const std::string tls = tlsListenerDocument(pki.serverCert, pki.serverKey);
    const std::string clientCert =
        "<certificateFile>" + pki.otherCert + "</certificateFile><privateKeyFile>" + pki.otherKey + "</privateKeyFile>";
    const struct {
        const char* label;
        std::string listener, client;
        const char* url;  // "%d" stands for the port; empty: connect by address
        bool tls;
        std::size_t request, reply;
        bool nonBlocking;
    } cases[] = {
        {"plain", plainDoc("<forceSSLStatus>OFF</forceSSLStatus>"), plainDoc(), "", false, 300000, 200000, false},
        // Reads of 1000 bytes leave decrypted bytes inside the TLS layer: they count as readable.
        {"TLS, blocking", tls, tlsClientDocument(), "", true, 1 << 20, 777777, false},
        {"TLS, non-blocking", tls, tlsClientDocument("<protocolFamily>IPv4</protocolFamily>"), "", true, 1 << 20, 1 << 20,
         true},
        {"https URL negotiates without force", tls,
         sessionDocument("<caFile>" + pki.caFile + "</caFile><protocolFamily>IPv4</protocolFamily>"),
         "https://localhost:%d/service", true, 2, 2, false},
        {"client certificate for a verifying listener",
         tlsListenerDocument(pki.serverCert, pki.serverKey, "<verifyPeer>ON</verifyPeer><caFile>" + pki.caFile + "</caFile>"),
         tlsClientDocument(clientCert), "", true, 2, 2, false},
        {"expected name matches another certificate", tlsListenerDocument(pki.otherCert, pki.otherKey),
         tlsClientDocument("<serverName>other.skarn.test</serverName>"), "", true, 2, 2, false},
        {"verification off", tlsListenerDocument(pki.strangerCert, pki.strangerKey),
         tlsClientDocument("<verifyPeer>OFF</verifyPeer>"), "", true, 2, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string request(c.request, 'q'), reply = std::string(c.reply - 1, 'r') + "!";
        std::string got;
        QsmTestServer server(c.listener, answer(request.size(), reply, &got));
        QSM_HANDLE h = nullptr;
        char url[128] = "";
        std::snprintf(url, sizeof url, c.url, server.port());
        int first = 0;
        ASSERT_EQ(QSM_S_OK, connectClient(c.client, server.port(), &h, url, &first, c.nonBlocking)) << qsmLastError(h);
        EXPECT_EQ(c.tls ? QSM_E_NEGOTIATE : QSM_S_OK, first);
        ASSERT_TRUE(qsmSendAll(h, request));
        EXPECT_EQ(reply, qsmRecvExactly(h, reply.size(), 1000));
        server.join();
        EXPECT_EQ(request, got);
        EXPECT_TRUE(server.failures().empty());
        closeHandle(&h);
    }
}

TEST(VexCryptoExchange, NonBlockingHandshakeWouldBlockThenTimesOut)
{
    // A peer that accepts and never answers: the handshake cannot finish.
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::silent());
    QSM_HANDLE h = openHandle(tlsClientDocument("<handshakeTimeoutSeconds>1</handshakeTimeoutSeconds>"));
    int one = 1;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_SetSockOpt(h, QSM_FIONBIO, &one, 4, nullptr));
    ASSERT_EQ(QSM_E_NEGOTIATE, connectTo(h, peer.port()));
    EXPECT_EQ(QSM_E_WOULD_BLOCK, lib()->QSM_EstablishSecure(h, nullptr));
    EXPECT_EQ(QSM_E_NEGOTIATE, connectTo(h, peer.port()));  // still under way
    int st = QSM_E_WOULD_BLOCK;
    for (int i = 0; i < 100 && st == QSM_E_WOULD_BLOCK; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        st = lib()->QSM_EstablishSecure(h, nullptr);
    }
    EXPECT_EQ(QSM_E_HANDSHAKE_TIMEOUT, st);
    EXPECT_EQ(0u, qsmLastError(h).find(kHandshake)) << qsmLastError(h);
    EXPECT_NE(std::string::npos, qsmLastError(h).find("did not finish within 1 seconds")) << qsmLastError(h);
    EXPECT_EQ(QSM_E_FAILED, connectTo(h, peer.port()));
    closeHandle(&h);
}

TEST(VexCryptoVerification, ClientRefusesAndStaysFailed)
{
    const TestCertificates& pki = TestCertificates::get();
    const char* unknownIssuer = "certificate verification failed: unable to get local issuer certificate";
    const struct {
        const char* label;
        std::string listener, clientExtra;  // a later caFile wins over the one tlsClientDocument puts first
        const char* reason;
    } cases[] = {
        {"client trusts another CA", tlsListenerDocument(pki.serverCert, pki.serverKey),
         "<caFile>" + pki.otherCaFile + "</caFile>", unknownIssuer},
        {"certificate for another name, by address", tlsListenerDocument(pki.otherCert, pki.otherKey), "",
         "certificate verification failed: IP address mismatch"},
        {"certificate for another name, by host", tlsListenerDocument(pki.otherCert, pki.otherKey),
         "<serverName>localhost</serverName>", "certificate verification failed: hostname mismatch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const int before = openDescriptorCount();
        {
            // Takes the client's hello (so that closing sends no reset) and answers as an HTTP server would.
            QsmTestServer server(c.listener, [](QSM_HANDLE h) {
                qsmRecvExactly(h, 1);
                qsmSendAll(h, "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
            });
            QSM_HANDLE h = nullptr;
            EXPECT_EQ(QSM_E_TLS, connectClient(tlsClientDocument(c.clientExtra), server.port(), &h));
            const std::string text = qsmLastError(h);
            EXPECT_EQ(0u, text.find(kHandshake)) << text;
            EXPECT_NE(std::string::npos, text.find(c.reason)) << text;
            if (std::strncmp(c.reason, "certificate", 11) == 0) {
                EXPECT_NE(std::string::npos, text.find("certificate verify failed")) << text;
            }
            // The handle stays failed: connecting again is final, with the same reason.
            EXPECT_EQ(QSM_E_FAILED, connectTo(h, server.port()));
            EXPECT_EQ(text, qsmLastError(h));
            EXPECT_NE(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr));
            server.stop();
            closeHandle(&h);
        }
        EXPECT_EQ(before, openDescriptorCount());
    }
}

TEST(VexCryptoVerification, ListenerRefusesAndGoesOn)
{
    const TestCertificates& pki = TestCertificates::get();
    // A silent client cannot hold the listener: the next one is served once its handshake timed out.
    std::string got;
    QsmTestServer server(
        tlsListenerDocument(pki.serverCert, pki.serverKey, "<handshakeTimeoutSeconds>1</handshakeTimeoutSeconds>"),
        answer(2, "ok", &got), 2);
    QSM_HANDLE silent = nullptr, h = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(plainDoc(), server.port(), &silent));
    ASSERT_EQ(QSM_S_OK, connectClient(tlsClientDocument(), server.port(), &h)) << qsmLastError(h);
    ASSERT_TRUE(qsmSendAll(h, "hi"));
    EXPECT_EQ("ok", qsmRecvExactly(h, 2));
    server.join();
    ASSERT_EQ(1u, server.failures().size());
    EXPECT_NE(std::string::npos, server.failures()[0].find("did not finish within 1 seconds")) << server.failures()[0];
    closeHandle(&silent);
    closeHandle(&h);
}

TEST(VexCryptoFailures, StatusAndTextOfFailedCalls)
{
    const int port = LoopbackPeer::unusedPort(LoopbackPeer::IPv4);
    auto listen = [](QSM_HANDLE h) {
        sockaddr_storage a = loopbackAddress(0);
        EXPECT_EQ(QSM_S_OK, lib()->QSM_Bind(h, &a, 128, nullptr));
        return lib()->QSM_Listen(h, 20, nullptr);
    };
    auto url = [](const char* u) { return [u](QSM_HANDLE h) { return lib()->QSM_Connect_Url(h, u, nullptr); }; };
    const std::string unresolvableUrl = std::string("https://") + kUnresolvableHost + "/";
    const struct {
        const char* label;
        std::string doc;
        std::function<int(QSM_HANDLE)> call;
        int status;
        std::string text;  // the handle's last error text; a prefix when `prefix`
        bool prefix;
    } cases[] = {
        {"TLS listener without certificate", sessionDocument("<forceSSLStatus>ON</forceSSLStatus>"), listen, QSM_E_CONFIG,
         "QSM_Listen: a TLS listener needs certificateFile and privateKeyFile in its session configuration document", false},
        {"refused connection, and again when retried", plainDoc(),
         [port](QSM_HANDLE h) {
             EXPECT_EQ(QSM_E_CONNECT, connectTo(h, port));
             return connectTo(h, port);
         },
         QSM_E_CONNECT, "QSM_Connect: connecting to 127.0.0.1:" + std::to_string(port) + " failed: Connection refused", false},
        {"address outside the protocol family", plainDoc("<protocolFamily>IPv6</protocolFamily>"),
         [](QSM_HANDLE h) { return connectTo(h, 1); }, QSM_E_FAILED,
         "QSM_Connect: the address does not belong to the document's protocolFamily", false},
        {"host that does not resolve", plainDoc(), url(unresolvableUrl.c_str()), QSM_E_FAILED,
         std::string("QSM_Connect_Url: cannot resolve '") + kUnresolvableHost + "': ", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        QSM_HANDLE h = openHandle(c.doc);
        ASSERT_NE(nullptr, h);
        EXPECT_EQ(c.status, c.call(h));
        const std::string text = qsmLastError(h);
        EXPECT_EQ(c.text, c.prefix ? text.substr(0, c.text.size()) : text);
        closeHandle(&h);
    }
}

TEST(VexCryptoFailures, RefusedDocumentAndInvalidHandle)
{
    QSM_HANDLE h = reinterpret_cast<QSM_HANDLE>(1);
    char* details = nullptr;
    EXPECT_EQ(QSM_E_CONFIG,
              lib()->QSM_Socket(&h, "<sessionConfigDocument><forceSSLStatus>maybe</forceSSLStatus></sessionConfigDocument>",
                                nullptr, &details));
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ("QSM_Socket: forceSSLStatus must be ON or OFF, not 'maybe'", freed(details));
    char buf[4];
    int n = 7;
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_Recv(nullptr, buf, 4, 0, &n, nullptr));
    EXPECT_EQ(0, n);
    ASSERT_EQ(QSM_S_OK, lib()->QSM_CryptoGetLastErrorDetails(nullptr, nullptr, &details));
    EXPECT_EQ("QSM_Recv: not a valid handle", freed(details));
}

}  // namespace
