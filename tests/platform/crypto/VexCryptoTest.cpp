// The secure-socket layer over real loopback connections: plain and TLS
// exchanges, certificate and host-name verification, mismatched peers,
// connection status, the handshake bound and the test hook.
#include "platform/crypto/VexCrypto.h"

#include "support/Gate.h"
#include "support/LoopbackAddress.h"
#include "support/LoopbackPeer.h"
#include "support/QsmTestServer.h"
#include "support/StatusHookScript.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace {

VexCrypto* lib() { return VexCryptoSharedFactory::getInstance(); }

std::string plainDoc(const std::string& extra = "") { return sessionDocument("<serviceID>test</serviceID>" + extra); }

QSM_HANDLE openHandle(const std::string& doc)
{
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, doc.c_str(), nullptr, &details));
    lib()->QSM_CryptoFree(details);
    return h;
}

int connectTo(QSM_HANDLE h, int port, bool ipv6 = false)
{
    sockaddr_storage a = loopbackAddress(port, ipv6);
    return lib()->QSM_Connect(h, &a, 128, nullptr);
}

int selectReadable(QSM_HANDLE h, long seconds)
{
    QSM_Handle_Set r{1, {h}};
    timeval tv{seconds, 0};
    int n = 0;
    char* details = nullptr;
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Select(&r, nullptr, nullptr, &tv, &n, &details));
    lib()->QSM_CryptoFree(details);
    return n;
}

// Connects as a toolkit socket does: connect (to `url` when given), negotiate
// when asked, connect again. `first` receives the first connect's status.
// A non-blocking handle is so from the start: the handshake itself answers "call again".
int connectClient(const std::string& doc, int port, QSM_HANDLE* h, bool ipv6 = false, const std::string& url = "",
                  int* first = nullptr, bool nonBlocking = false)
{
    *h = openHandle(doc);
    if (!*h)
        return QSM_E_CONFIG;
    int one = 1;
    if (nonBlocking) {
        EXPECT_EQ(QSM_S_OK, lib()->QSM_SetSockOpt(*h, QSM_FIONBIO, &one, 4, nullptr));
    }
    auto connect = [&] {
        return url.empty() ? connectTo(*h, port, ipv6) : lib()->QSM_Connect_Url(*h, url.c_str(), nullptr);
    };
    int st = connect();
    if (first)
        *first = st;
    if (st == QSM_E_NEGOTIATE) {
        while ((st = lib()->QSM_EstablishSecure(*h, nullptr)) == QSM_E_WOULD_BLOCK)
            selectReadable(*h, 1);
        if (st == QSM_S_OK)
            st = connect();
    }
    return st;
}

// Reads `n` bytes in reads of 1000; where a non-blocking read would block,
// the handle must turn readable within 5 seconds (decrypted bytes left inside
// the TLS layer count as readable).
std::string recvAll(QSM_HANDLE h, std::size_t n)
{
    std::string back;
    char buf[1000];
    while (back.size() < n) {
        int got = 0;
        const int st = lib()->QSM_Recv(h, buf, sizeof buf, 0, &got, nullptr);
        if (st == QSM_E_WOULD_BLOCK) {
            QSM_Handle_Set r{1, {h}};
            timeval tv{5, 0};
            int ready = 0;
            char* details = nullptr;
            EXPECT_EQ(QSM_S_OK, lib()->QSM_Select(&r, nullptr, nullptr, &tv, &ready, &details));
            EXPECT_EQ(1, ready) << "no data within 5 seconds";
            EXPECT_EQ(1u, r.count);
            EXPECT_EQ(h, r.handles[0]);
            if (ready != 1)
                break;
            continue;
        }
        EXPECT_EQ(QSM_S_OK, st) << qsmLastError(h);
        if (st != QSM_S_OK)
            break;
        back.append(buf, static_cast<std::size_t>(got));
    }
    return back;
}

void closeHandle(QSM_HANDLE* h)
{
    char* details = nullptr;
    EXPECT_EQ(QSM_S_OK, lib()->QSM_CloseHandle(h, nullptr, &details));
    lib()->QSM_CryptoFree(details);
    EXPECT_EQ(nullptr, *h);
}

std::string pattern(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + seed) & 0xff);
    return s;
}

std::string cipherOf(QSM_HANDLE h)
{
    char* d = nullptr;
    lib()->QSM_GetCipherInfo(h, nullptr, &d);
    std::string s = d ? d : "";
    lib()->QSM_CryptoFree(d);
    return s;
}

std::string detailsText(char* details)
{
    std::string s = details ? details : "(none)";
    lib()->QSM_CryptoFree(details);
    return s;
}

// The server of an exchange: takes `in` bytes, answers with `out`.
std::function<void(QSM_HANDLE&)> answer(std::size_t in, const std::string& out, std::string* got,
                                       std::string* cipher = nullptr)
{
    return [in, out, got, cipher](QSM_HANDLE h) {
        *got = qsmRecvExactly(h, in);
        if (cipher)
            *cipher = cipherOf(h);
        qsmSendAll(h, out);
    };
}

// ---------------------------------------------------------------- exchanges

struct ExchangeCase {
    const char* label;
    std::string listener, client;
    bool ipv6;
    const char* url;  // "%d" stands for the port; empty: connect by address
    int firstConnect;
    const char* cipher;  // "plain", or "TLS" for TLSv1.2 or TLSv1.3 (the same on both ends)
    std::size_t request, reply;
    bool nonBlocking = false;
};

TEST(VexCryptoExchange, BothWays)
{
    const TestCertificates& pki = TestCertificates::get();
    const std::string tls = tlsListenerDocument(pki.serverCert, pki.serverKey);
    const std::string clientCert = "<certificateFile>" + pki.otherCert + "</certificateFile><privateKeyFile>" +
                                   pki.otherKey + "</privateKeyFile>";
    const ExchangeCase cases[] = {
        {"plain", plainDoc("<forceSSLStatus>OFF</forceSSLStatus>"), plainDoc(), false, "", QSM_S_OK, "plain", 300000,
         200000},
        {"TLS, blocking", tls, tlsClientDocument(), false, "", QSM_E_NEGOTIATE, "TLS", 1 << 20, 777777},
        {"TLS, non-blocking", tls, tlsClientDocument("<protocolFamily>IPv4</protocolFamily>"), false, "", QSM_E_NEGOTIATE,
         "TLS", 1 << 20, 1 << 20, true},
        {"TLS over IPv6", tls, tlsClientDocument("<protocolFamily>IPv6</protocolFamily>"), true, "", QSM_E_NEGOTIATE,
         "TLS", 5, 5},
        {"https URL negotiates without force", tls,
         sessionDocument("<caFile>" + pki.caFile + "</caFile><protocolFamily>IPv4</protocolFamily>"), false,
         "https://localhost:%d/service", QSM_E_NEGOTIATE, "TLS", 2, 2},
        {"http URL stays plain", plainDoc(), plainDoc(), false, "http://127.0.0.1:%d/", QSM_S_OK, "plain", 2, 2},
        {"client certificate for a verifying listener",
         tlsListenerDocument(pki.serverCert, pki.serverKey, "<verifyPeer>ON</verifyPeer><caFile>" + pki.caFile + "</caFile>"),
         tlsClientDocument(clientCert), false, "", QSM_E_NEGOTIATE, "TLS", 2, 2},
    };
    for (const ExchangeCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string request = pattern(c.request, 3), reply = pattern(c.reply, 4);
        std::string got, serverCipher;
        QsmTestServer server(c.listener, answer(request.size(), reply, &got, &serverCipher), 1, c.ipv6);
        QSM_HANDLE h = nullptr;
        char url[128] = "";
        std::snprintf(url, sizeof url, c.url, server.port());
        int first = 0;
        ASSERT_EQ(QSM_S_OK, connectClient(c.client, server.port(), &h, c.ipv6, url, &first, c.nonBlocking)) << qsmLastError(h);
        EXPECT_EQ(c.firstConnect, first);
        const std::string cipher = cipherOf(h);
        if (std::strcmp(c.cipher, "plain") == 0) {
            EXPECT_EQ("plain", cipher);
        } else {
            EXPECT_TRUE(cipher.rfind("TLSv1.3 ", 0) == 0 || cipher.rfind("TLSv1.2 ", 0) == 0) << cipher;
        }
        ASSERT_TRUE(qsmSendAll(h, request));
        EXPECT_EQ(reply, recvAll(h, reply.size()));
        server.join();
        EXPECT_EQ(request, got);
        EXPECT_EQ(cipher, serverCipher);
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
    const auto start = std::chrono::steady_clock::now();
    int st;
    while ((st = lib()->QSM_EstablishSecure(h, nullptr)) == QSM_E_WOULD_BLOCK &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(QSM_E_HANDSHAKE_TIMEOUT, st);
    EXPECT_EQ(0u, qsmLastError(h).find("QSM_EstablishSecure: TLS handshake with 127.0.0.1:")) << qsmLastError(h);
    EXPECT_NE(std::string::npos, qsmLastError(h).find("did not finish within 1 seconds")) << qsmLastError(h);
    EXPECT_EQ(QSM_E_FAILED, connectTo(h, peer.port()));
    closeHandle(&h);
}

TEST(VexCryptoExchange, VerifyingListenerRefusesAClientWithoutCertificate)
{
    const TestCertificates& pki = TestCertificates::get();
    std::string got;
    QsmTestServer server(tlsListenerDocument(pki.serverCert, pki.serverKey,
                                             "<verifyPeer>ON</verifyPeer><caFile>" + pki.caFile + "</caFile>"),
                         answer(2, "ok", &got));
    QSM_HANDLE h = nullptr;
    if (connectClient(tlsClientDocument(), server.port(), &h) == QSM_S_OK) {  // TLS 1.3: refused at the first read
        char c;
        int n = 0;
        EXPECT_NE(QSM_S_OK, lib()->QSM_Recv(h, &c, 1, 0, &n, nullptr));
    }
    server.join();
    ASSERT_EQ(1u, server.failures().size());
    EXPECT_NE(std::string::npos, server.failures()[0].find("peer did not return a certificate")) << server.failures()[0];
    closeHandle(&h);
}

// ------------------------------------------------------------- verification

struct VerifyCase {
    const char* label;
    char serverCert;  // 's' localhost, 'o' other.skarn.test only, 'x' from the second CA
    std::string clientExtra;  // a later caFile wins over the one tlsClientDocument puts first
    const char* reason;       // null: the connection is made
};

TEST(VexCryptoVerification, Table)
{
    const TestCertificates& pki = TestCertificates::get();
    const char* unknownIssuer = "certificate verification failed: unable to get local issuer certificate";
    const VerifyCase cases[] = {
        {"trusted CA, address checked", 's', "", nullptr},
        {"server name given", 's', "<serverName>localhost</serverName>", nullptr},
        {"client trusts another CA", 's', "<caFile>" + pki.otherCaFile + "</caFile>", unknownIssuer},
        {"certificate of another CA", 'x', "", unknownIssuer},
        {"certificate for another name, by address", 'o', "", "certificate verification failed: IP address mismatch"},
        {"certificate for another name, by host", 'o', "<serverName>localhost</serverName>",
         "certificate verification failed: hostname mismatch"},
        {"expected name matches the other certificate", 'o', "<serverName>other.skarn.test</serverName>", nullptr},
        {"verification off", 'x', "<verifyPeer>OFF</verifyPeer>", nullptr},
    };
    for (const VerifyCase& c : cases) {
        SCOPED_TRACE(c.label);
        const int before = openDescriptorCount();
        std::string got;
        const std::string& cert = c.serverCert == 'o' ? pki.otherCert : c.serverCert == 'x' ? pki.strangerCert : pki.serverCert;
        const std::string& key = c.serverCert == 'o' ? pki.otherKey : c.serverCert == 'x' ? pki.strangerKey : pki.serverKey;
        auto server = std::make_unique<QsmTestServer>(tlsListenerDocument(cert, key), answer(2, "ok", &got));
        QSM_HANDLE h = nullptr;
        int st = connectClient(tlsClientDocument(c.clientExtra), server->port(), &h);
        if (!c.reason) {
            ASSERT_EQ(QSM_S_OK, st) << qsmLastError(h);
            ASSERT_TRUE(qsmSendAll(h, "hi"));
            EXPECT_EQ("ok", qsmRecvExactly(h, 2));
        } else {
            EXPECT_EQ(QSM_E_TLS, st);
            const std::string text = qsmLastError(h);
            EXPECT_EQ(0u, text.find("QSM_EstablishSecure: TLS handshake with 127.0.0.1:")) << text;
            EXPECT_NE(std::string::npos, text.find(c.reason)) << text;
            EXPECT_NE(std::string::npos, text.find("certificate verify failed")) << text;
            // The handle stays failed: connecting again is final, with the same reason.
            EXPECT_EQ(QSM_E_FAILED, connectTo(h, server->port()));
            EXPECT_EQ(text, qsmLastError(h));
            EXPECT_NE(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr));
        }
        server.reset();
        closeHandle(&h);
        EXPECT_EQ(before, openDescriptorCount());
    }
}

// ------------------------------------------------------- mismatched peers

TEST(VexCryptoMismatch, PlainClientAgainstTlsListener)
{
    const TestCertificates& pki = TestCertificates::get();
    const int before = openDescriptorCount();
    std::string got;
    {
        QsmTestServer server(tlsListenerDocument(pki.serverCert, pki.serverKey), answer(2, "ok", &got));
        QSM_HANDLE h = nullptr;
        ASSERT_EQ(QSM_S_OK, connectClient(plainDoc(), server.port(), &h));
        ASSERT_TRUE(qsmSendAll(h, "POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n"));
        // The listener refuses the connection; the client sees its stream end (perhaps after an alert).
        std::string rest;
        char buf[256];
        int st, n = 0;
        const auto start = std::chrono::steady_clock::now();
        while ((st = lib()->QSM_Recv(h, buf, sizeof buf, 0, &n, nullptr)) == QSM_S_OK)
            rest.append(buf, static_cast<std::size_t>(n));
        EXPECT_EQ(QSM_E_PEER_CLOSED, st) << qsmLastError(h);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_LT(rest.size(), 64u);
        server.join();
        ASSERT_EQ(1u, server.failures().size());
        const std::string failure = server.failures()[0];
        EXPECT_EQ(0u, failure.find("QSM_EstablishSecure: TLS handshake with 127.0.0.1:")) << failure;
        EXPECT_NE(std::string::npos, failure.find("SSL routines")) << failure;
        EXPECT_NE(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr));
        closeHandle(&h);
    }
    EXPECT_EQ(before, openDescriptorCount());
}

TEST(VexCryptoMismatch, TlsClientAgainstPlainListener)
{
    const int before = openDescriptorCount();
    {
        QsmTestServer server(plainDoc(), [](QSM_HANDLE h) {
            char buf[4096];
            int n = 0;
            lib()->QSM_Recv(h, buf, sizeof buf, 0, &n, nullptr);
            qsmSendAll(h, "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
        });
        QSM_HANDLE h = nullptr;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(QSM_E_TLS, connectClient(tlsClientDocument(), server.port(), &h));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        const std::string text = qsmLastError(h);
        EXPECT_EQ(0u, text.find("QSM_EstablishSecure: TLS handshake with 127.0.0.1:")) << text;
        EXPECT_NE(std::string::npos, text.find("wrong version number")) << text;
        server.join();
        closeHandle(&h);
    }
    EXPECT_EQ(before, openDescriptorCount());
}

TEST(VexCryptoMismatch, SilentClientCannotHoldTheListener)
{
    const TestCertificates& pki = TestCertificates::get();
    std::string got;
    QsmTestServer server(
        tlsListenerDocument(pki.serverCert, pki.serverKey, "<handshakeTimeoutSeconds>1</handshakeTimeoutSeconds>"),
        answer(2, "ok", &got), 2);
    QSM_HANDLE silent = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(plainDoc(), server.port(), &silent));
    // The next client is served once the silent one's handshake has timed out.
    QSM_HANDLE h = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(tlsClientDocument(), server.port(), &h)) << qsmLastError(h);
    ASSERT_TRUE(qsmSendAll(h, "hi"));
    EXPECT_EQ("ok", qsmRecvExactly(h, 2));
    server.join();
    ASSERT_EQ(1u, server.failures().size());
    EXPECT_NE(std::string::npos, server.failures()[0].find("did not finish within 1 seconds")) << server.failures()[0];
    closeHandle(&silent);
    closeHandle(&h);
}

// ----------------------------------------------------------------- status

// The status turns non-zero once the peer has closed; neither bytes the
// server sent after the handshake (session tickets) nor unread bytes count as
// a close, and the unread bytes are still delivered before the end.
TEST(VexCryptoStatus, TurnsNonZeroOnlyWhenThePeerCloses)
{
    const TestCertificates& pki = TestCertificates::get();
    for (bool tls : {false, true}) {
        for (bool unread : {false, true}) {
            SCOPED_TRACE(std::string(tls ? "TLS" : "plain") + (unread ? ", bytes left unread" : ""));
            Gate gate;
            QsmTestServer server(tls ? tlsListenerDocument(pki.serverCert, pki.serverKey) : plainDoc(),
                                 [&](QSM_HANDLE& h) {
                                     if (unread)
                                         qsmSendAll(h, "unread bytes");
                                     gate.wait();
                                 });
            QSM_HANDLE h = nullptr;
            ASSERT_EQ(QSM_S_OK, connectClient(tls ? tlsClientDocument() : plainDoc(), server.port(), &h))
                << qsmLastError(h);
            if (unread) {
                EXPECT_EQ("u", qsmRecvExactly(h, 1));  // the rest stays in the socket or the TLS layer
            EXPECT_EQ(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr)) << qsmLastError(h);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_EQ(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr)) << qsmLastError(h);
            EXPECT_EQ(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr)) << qsmLastError(h);
            gate.open();
            server.join();  // the server has closed its end
            EXPECT_TRUE(pollUntil([&] { return lib()->QSM_SocketStatus(h, nullptr) != QSM_S_OK; }));
            EXPECT_EQ(0u, qsmLastError(h).find("QSM_SocketStatus: ")) << qsmLastError(h);
            if (unread) {
                EXPECT_EQ("nread bytes", qsmRecvExactly(h, 11));
                char c;
                int n = 0;
                EXPECT_EQ(QSM_E_PEER_CLOSED, lib()->QSM_Recv(h, &c, 1, 0, &n, nullptr));
            }
            closeHandle(&h);
        }
    }
}

// ------------------------------------------------------ failures and texts

TEST(VexCryptoFailures, DocumentRefusedWithDetails)
{
    QSM_HANDLE h = reinterpret_cast<QSM_HANDLE>(1);
    char* details = nullptr;
    EXPECT_EQ(QSM_E_CONFIG, lib()->QSM_Socket(&h, "<sessionConfigDocument><forceSSLStatus>maybe</forceSSLStatus>"
                                                  "</sessionConfigDocument>",
                                              nullptr, &details));
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ("QSM_Socket: forceSSLStatus must be ON or OFF, not 'maybe'", detailsText(details));
}

struct CallFailure {
    const char* label;
    std::string doc;
    std::function<int(QSM_HANDLE)> call;
    int status;
    std::string text;  // the handle's last error text; a prefix when `prefix`
    bool prefix;
};

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
    const CallFailure cases[] = {
        {"TLS listener without certificate", sessionDocument("<forceSSLStatus>ON</forceSSLStatus>"), listen,
         QSM_E_CONFIG,
         "QSM_Listen: a TLS listener needs certificateFile and privateKeyFile in its session configuration document",
         false},
        {"unreadable certificate", tlsListenerDocument("/nonexistent/cert.pem", "/nonexistent/key.pem"), listen,
         QSM_E_CONFIG, "QSM_Listen: cannot load certificateFile '/nonexistent/cert.pem': error:", true},
        {"refused connection, and again when retried", plainDoc(),
         [port](QSM_HANDLE h) {
             EXPECT_EQ(QSM_E_CONNECT, connectTo(h, port));
             return connectTo(h, port);
         },
         QSM_E_CONNECT, "QSM_Connect: connecting to 127.0.0.1:" + std::to_string(port) + " failed: Connection refused",
         false},
        {"address outside the protocol family", plainDoc("<protocolFamily>IPv6</protocolFamily>"),
         [](QSM_HANDLE h) { return connectTo(h, 1); }, QSM_E_FAILED,
         "QSM_Connect: the address does not belong to the document's protocolFamily", false},
        {"URL without scheme", plainDoc(), url("no-scheme"), QSM_E_FAILED, "QSM_Connect_Url: URL 'no-scheme' has no scheme",
         false},
        {"host that does not resolve", plainDoc(), url(unresolvableUrl.c_str()), QSM_E_FAILED,
         std::string("QSM_Connect_Url: cannot resolve '") + kUnresolvableHost + "': ", true},
        {"establish without negotiation", plainDoc(),
         [](QSM_HANDLE h) { return lib()->QSM_EstablishSecure(h, nullptr); }, QSM_E_INVALID,
         "QSM_EstablishSecure: no negotiation is pending on this handle", false},
    };
    for (const CallFailure& c : cases) {
        SCOPED_TRACE(c.label);
        QSM_HANDLE h = openHandle(c.doc);
        ASSERT_NE(nullptr, h);
        EXPECT_EQ(c.status, c.call(h));
        const std::string text = qsmLastError(h);
        EXPECT_EQ(c.text, c.prefix ? text.substr(0, c.text.size()) : text);
        closeHandle(&h);
    }
}

TEST(VexCryptoFailures, InvalidHandles)
{
    char buf[4];
    int n = 7;
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_Recv(nullptr, buf, 4, 0, &n, nullptr));
    EXPECT_EQ(0, n);
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_CryptoGetLastErrorDetails(nullptr, nullptr, &details));
    EXPECT_EQ("QSM_Recv: not a valid handle", detailsText(details));
    EXPECT_NE(QSM_S_OK, lib()->QSM_SocketStatus(nullptr, nullptr));
    QSM_HANDLE none = nullptr;
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_CloseHandle(&none, nullptr, &details));
    EXPECT_EQ("QSM_CloseHandle: not a valid handle", detailsText(details));
    // A closed handle is no longer served.
    QSM_HANDLE h = openHandle(plainDoc());
    QSM_HANDLE copy = h;
    closeHandle(&h);
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_SocketStatus(copy, nullptr));
}

// ------------------------------------------------------------ waiting calls

TEST(VexCryptoWaits, PollAndSelectRunOut)
{
    std::string got;
    QsmTestServer server(plainDoc(), answer(1, "", &got));
    QSM_HANDLE h = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(plainDoc(), server.port(), &h));
    QSM_Pollfd p{h, QSM_POLL_READABLE, 0xffff};
    char* details = nullptr;
    EXPECT_EQ(QSM_S_TIMEOUT, lib()->QSM_Poll(&p, 1, 50, nullptr, &details));
    EXPECT_EQ(0, p.revents);
    EXPECT_EQ(nullptr, details);
    QSM_Handle_Set r{1, {h}};
    timeval tv{0, 50000};
    int n = 9;
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Select(&r, nullptr, nullptr, &tv, &n, &details));
    EXPECT_EQ(0, n);
    EXPECT_EQ(0u, r.count);
    // Writable at once.
    QSM_Handle_Set w{1, {h}};
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Select(nullptr, &w, nullptr, &tv, &n, &details));
    EXPECT_EQ(1, n);
    EXPECT_EQ(1u, w.count);
    // After the server closed, reading is ready (end of stream).
    ASSERT_TRUE(qsmSendAll(h, "x"));
    server.join();
    p.revents = 0;
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Poll(&p, 1, 5000, nullptr, &details));
    EXPECT_TRUE(p.revents & QSM_POLL_READ_NORMAL);
    EXPECT_FALSE(p.revents & QSM_POLL_ERROR);
    QSM_Handle_Set bad{65, {}};
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_Select(&bad, nullptr, nullptr, &tv, &n, &details));
    EXPECT_EQ("QSM_Select: a handle set holds more than 64 handles", detailsText(details));
    closeHandle(&h);
}

TEST(VexCryptoWaits, ListenerPollsReadableForAConnection)
{
    QSM_HANDLE l = openHandle(plainDoc("<protocolFamily>IPv4</protocolFamily>"));
    sockaddr_storage a = loopbackAddress(0);
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Bind(l, &a, 128, nullptr));
    int len = 128;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_GetSockName(l, &a, &len, nullptr));
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Listen(l, 20, nullptr));
    QSM_Pollfd p{l, QSM_POLL_READABLE, 0};
    char* details = nullptr;
    EXPECT_EQ(QSM_S_TIMEOUT, lib()->QSM_Poll(&p, 1, 20, nullptr, &details));
    QSM_HANDLE c = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(plainDoc(), ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port), &c));
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Poll(&p, 1, 5000, nullptr, &details));
    EXPECT_EQ(QSM_POLL_READ_NORMAL, p.revents);
    QSM_HANDLE acc = nullptr;
    sockaddr_storage peer{};
    int plen = 128;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Accept(l, &acc, &peer, &plen, nullptr));
    EXPECT_EQ(AF_INET, peer.ss_family);
    EXPECT_EQ(static_cast<int>(sizeof(sockaddr_in)), plen);
    closeHandle(&acc);
    closeHandle(&c);
    closeHandle(&l);
}

// ---------------------------------------------------------------- the hook

TEST(VexCryptoHook, AnswersChosenStatuses)
{
    std::string got;
    QsmTestServer server(plainDoc(), answer(2, "ok", &got));
    QSM_HANDLE h = openHandle(plainDoc());
    StatusHookScript script;
    script.queued["QSM_Connect"] = {QSM_E_NEGOTIATE, QSM_E_NEGOTIATE};
    {
        StatusHookInstalled hook(script);
        EXPECT_EQ(QSM_E_NEGOTIATE, connectTo(h, server.port()));
        EXPECT_EQ("QSM_Connect: status -15 set by the test hook", qsmLastError(h));
        EXPECT_EQ(QSM_E_NEGOTIATE, connectTo(h, server.port()));
        // The script is used up: the real call runs.
        EXPECT_EQ(QSM_S_OK, connectTo(h, server.port()));
    }
    EXPECT_EQ(3, script.asked["QSM_Connect"]);
    ASSERT_TRUE(qsmSendAll(h, "hi"));
    EXPECT_EQ("ok", qsmRecvExactly(h, 2));
    server.join();
    // A hooked close still releases the handle.
    StatusHookScript closing;
    closing.queued["QSM_CloseHandle"] = {QSM_E_SYSTEM};
    char* details = nullptr;
    {
        StatusHookInstalled hook(closing);
        EXPECT_EQ(QSM_E_SYSTEM, lib()->QSM_CloseHandle(&h, nullptr, &details));
    }
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ("QSM_CloseHandle: status -5 set by the test hook", detailsText(details));
}

}  // namespace
