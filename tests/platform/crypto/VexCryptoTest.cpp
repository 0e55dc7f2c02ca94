// The secure-socket layer over real loopback connections: plain and TLS
// exchanges, certificate and host-name verification, mismatched peers,
// connection status, the handshake bound, waits and the test hook.
#include "platform/crypto/VexCrypto.h"

#include "support/Gate.h"
#include "support/LoopbackPeer.h"
#include "support/QsmTestServer.h"
#include "support/StatusHookScript.h"
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

int connectTo(QSM_HANDLE h, int port, bool ipv6 = false)
{
    sockaddr_storage a = loopbackAddress(port, ipv6);
    return lib()->QSM_Connect(h, &a, 128, nullptr);
}

// Connects as a toolkit socket does: connect (to `url` when given), negotiate
// when asked, connect again. `first` receives the first connect's status.
// A non-blocking handle is so from the start: the handshake itself answers "call again".
int connectClient(const std::string& doc, int port, QSM_HANDLE* h, bool ipv6 = false, const std::string& url = "",
                  int* first = nullptr, bool nonBlocking = false)
{
    *h = openHandle(doc);
    int one = 1;
    if (nonBlocking) {
        EXPECT_EQ(QSM_S_OK, lib()->QSM_SetSockOpt(*h, QSM_FIONBIO, &one, 4, nullptr));
    }
    auto connect = [&] { return url.empty() ? connectTo(*h, port, ipv6) : lib()->QSM_Connect_Url(*h, url.c_str(), nullptr); };
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
    return freed(d);
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

const char kHandshake[] = "QSM_EstablishSecure: TLS handshake with 127.0.0.1:";

// ---------------------------------------------------------------- exchanges

TEST(VexCryptoExchange, BothWaysAndTheCertificatesThatPass)
{
    const TestCertificates& pki = TestCertificates::get();
    const std::string tls = tlsListenerDocument(pki.serverCert, pki.serverKey);
    const std::string clientCert =
        "<certificateFile>" + pki.otherCert + "</certificateFile><privateKeyFile>" + pki.otherKey + "</privateKeyFile>";
    const struct {
        const char* label;
        std::string listener, client;
        bool ipv6;
        const char* url;  // "%d" stands for the port; empty: connect by address
        bool tls;
        std::size_t request, reply;
        bool nonBlocking;
    } cases[] = {
        {"plain", plainDoc("<forceSSLStatus>OFF</forceSSLStatus>"), plainDoc(), false, "", false, 300000, 200000, false},
        // Reads of 1000 bytes leave decrypted bytes inside the TLS layer: they count as readable.
        {"TLS, blocking", tls, tlsClientDocument(), false, "", true, 1 << 20, 777777, false},
        {"TLS, non-blocking", tls, tlsClientDocument("<protocolFamily>IPv4</protocolFamily>"), false, "", true, 1 << 20,
         1 << 20, true},
        {"TLS over IPv6", tls, tlsClientDocument("<protocolFamily>IPv6</protocolFamily>"), true, "", true, 5, 5, false},
        {"https URL negotiates without force", tls,
         sessionDocument("<caFile>" + pki.caFile + "</caFile><protocolFamily>IPv4</protocolFamily>"), false,
         "https://localhost:%d/service", true, 2, 2, false},
        {"http URL stays plain", plainDoc(), plainDoc(), false, "http://127.0.0.1:%d/", false, 2, 2, false},
        {"client certificate for a verifying listener",
         tlsListenerDocument(pki.serverCert, pki.serverKey, "<verifyPeer>ON</verifyPeer><caFile>" + pki.caFile + "</caFile>"),
         tlsClientDocument(clientCert), false, "", true, 2, 2, false},
        {"server name given", tls, tlsClientDocument("<serverName>localhost</serverName>"), false, "", true, 2, 2, false},
        {"expected name matches another certificate", tlsListenerDocument(pki.otherCert, pki.otherKey),
         tlsClientDocument("<serverName>other.skarn.test</serverName>"), false, "", true, 2, 2, false},
        {"verification off", tlsListenerDocument(pki.strangerCert, pki.strangerKey),
         tlsClientDocument("<verifyPeer>OFF</verifyPeer>"), false, "", true, 2, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string request = pattern(c.request, 3), reply = pattern(c.reply, 4);
        std::string got, serverCipher;
        QsmTestServer server(c.listener, answer(request.size(), reply, &got, &serverCipher), 1, c.ipv6);
        QSM_HANDLE h = nullptr;
        char url[128] = "";
        std::snprintf(url, sizeof url, c.url, server.port());
        int first = 0;
        ASSERT_EQ(QSM_S_OK, connectClient(c.client, server.port(), &h, c.ipv6, url, &first, c.nonBlocking)) << qsmLastError(h);
        EXPECT_EQ(c.tls ? QSM_E_NEGOTIATE : QSM_S_OK, first);
        const std::string cipher = cipherOf(h);
        if (c.tls) {
            EXPECT_TRUE(cipher.rfind("TLSv1.3 ", 0) == 0 || cipher.rfind("TLSv1.2 ", 0) == 0) << cipher;
        } else {
            EXPECT_EQ("plain", cipher);
        }
        ASSERT_TRUE(qsmSendAll(h, request));
        EXPECT_EQ(reply, qsmRecvExactly(h, reply.size(), 1000));
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

// ------------------------------------------------------------- refusals

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
        {"certificate of another CA", tlsListenerDocument(pki.strangerCert, pki.strangerKey), "", unknownIssuer},
        {"certificate for another name, by address", tlsListenerDocument(pki.otherCert, pki.otherKey), "",
         "certificate verification failed: IP address mismatch"},
        {"certificate for another name, by host", tlsListenerDocument(pki.otherCert, pki.otherKey),
         "<serverName>localhost</serverName>", "certificate verification failed: hostname mismatch"},
        {"plain listener", plainDoc(), "", "wrong version number"},
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
    const int before = openDescriptorCount();
    for (bool withCertificate : {false, true}) {
        // A plain client's stream ends (perhaps after an alert); a client without
        // certificate for a verifying listener is refused by TLS 1.3 at its first read.
        SCOPED_TRACE(withCertificate ? "verifying listener" : "plain client");
        std::string got;
        QsmTestServer server(withCertificate ? tlsListenerDocument(pki.serverCert, pki.serverKey,
                                                                   "<verifyPeer>ON</verifyPeer><caFile>" + pki.caFile + "</caFile>")
                                             : tlsListenerDocument(pki.serverCert, pki.serverKey),
                             answer(2, "ok", &got));
        QSM_HANDLE h = nullptr;
        if (connectClient(withCertificate ? tlsClientDocument() : plainDoc(), server.port(), &h) == QSM_S_OK) {
            qsmSendAll(h, "POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n");
            std::string rest;
            char buf[256];
            int st, n = 0;
            while ((st = lib()->QSM_Recv(h, buf, sizeof buf, 0, &n, nullptr)) == QSM_S_OK)
                rest.append(buf, static_cast<std::size_t>(n));
            EXPECT_NE(QSM_S_OK, st);
            if (!withCertificate) {
                EXPECT_EQ(QSM_E_PEER_CLOSED, st) << qsmLastError(h);
                EXPECT_NE(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr));
            }
            EXPECT_LT(rest.size(), 64u);
        }
        server.join();
        ASSERT_EQ(1u, server.failures().size());
        const std::string failure = server.failures()[0];
        EXPECT_EQ(0u, failure.find(kHandshake)) << failure;
        EXPECT_NE(std::string::npos, failure.find(withCertificate ? "peer did not return a certificate" : "SSL routines"))
            << failure;
        closeHandle(&h);
    }
    EXPECT_EQ(before, openDescriptorCount());
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

// ----------------------------------------------------------------- status

// The status turns non-zero once the peer has closed; neither bytes the
// server sent after the handshake (session tickets) nor unread bytes count as
// a close, and the unread bytes are still delivered before the end. Sending
// to the gone peer then fails with the system's reason, not with SIGPIPE.
TEST(VexCryptoStatus, TurnsNonZeroOnlyWhenThePeerCloses)
{
    const TestCertificates& pki = TestCertificates::get();
    for (bool tls : {false, true}) {
        for (bool unread : {false, true}) {
            SCOPED_TRACE(std::string(tls ? "TLS" : "plain") + (unread ? ", bytes left unread" : ""));
            Gate gate;
            QsmTestServer server(tls ? tlsListenerDocument(pki.serverCert, pki.serverKey) : plainDoc(), [&](QSM_HANDLE& h) {
                if (unread)
                    qsmSendAll(h, "unread bytes");
                gate.wait();
            });
            QSM_HANDLE h = nullptr;
            ASSERT_EQ(QSM_S_OK, connectClient(tls ? tlsClientDocument() : plainDoc(), server.port(), &h)) << qsmLastError(h);
            if (unread) {
                EXPECT_EQ("u", qsmRecvExactly(h, 1));  // the rest stays in the socket or the TLS layer
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
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
            } else {
                const std::string block(65536, 'b');
                int st = QSM_S_OK, sent = 0;
                for (int i = 0; i < 1000 && st == QSM_S_OK; ++i)
                    st = lib()->QSM_Send(h, block.data(), static_cast<int>(block.size()), 0, &sent, nullptr);
                EXPECT_EQ(QSM_E_SYSTEM, st);
                const std::string text = qsmLastError(h);
                EXPECT_TRUE(text.find("Broken pipe") != std::string::npos ||
                            text.find("Connection reset by peer") != std::string::npos)
                    << text;
            }
            closeHandle(&h);
        }
    }
}

// ------------------------------------------------------ failures and texts

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
        {"unreadable certificate", tlsListenerDocument("/nonexistent/cert.pem", "/nonexistent/key.pem"), listen,
         QSM_E_CONFIG, "QSM_Listen: cannot load certificateFile '/nonexistent/cert.pem': error:", true},
        {"refused connection, and again when retried", plainDoc(),
         [port](QSM_HANDLE h) {
             EXPECT_EQ(QSM_E_CONNECT, connectTo(h, port));
             return connectTo(h, port);
         },
         QSM_E_CONNECT, "QSM_Connect: connecting to 127.0.0.1:" + std::to_string(port) + " failed: Connection refused", false},
        {"address outside the protocol family", plainDoc("<protocolFamily>IPv6</protocolFamily>"),
         [](QSM_HANDLE h) { return connectTo(h, 1); }, QSM_E_FAILED,
         "QSM_Connect: the address does not belong to the document's protocolFamily", false},
        {"URL without scheme", plainDoc(), url("no-scheme"), QSM_E_FAILED, "QSM_Connect_Url: URL 'no-scheme' has no scheme",
         false},
        {"host that does not resolve", plainDoc(), url(unresolvableUrl.c_str()), QSM_E_FAILED,
         std::string("QSM_Connect_Url: cannot resolve '") + kUnresolvableHost + "': ", true},
        {"establish without negotiation", plainDoc(), [](QSM_HANDLE h) { return lib()->QSM_EstablishSecure(h, nullptr); },
         QSM_E_INVALID, "QSM_EstablishSecure: no negotiation is pending on this handle", false},
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

TEST(VexCryptoFailures, RefusedDocumentAndInvalidHandles)
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
    EXPECT_NE(QSM_S_OK, lib()->QSM_SocketStatus(nullptr, nullptr));
    QSM_HANDLE none = nullptr;
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_CloseHandle(&none, nullptr, &details));
    EXPECT_EQ("QSM_CloseHandle: not a valid handle", freed(details));
    h = openHandle(plainDoc());
    QSM_HANDLE copy = h;
    closeHandle(&h);
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_SocketStatus(copy, nullptr));  // a closed handle is no longer served
}

// ------------------------------------------------------------ waiting calls

TEST(VexCryptoWaits, PollAndSelect)
{
    QSM_HANDLE l = openHandle(plainDoc("<protocolFamily>IPv4</protocolFamily>"));
    sockaddr_storage a = loopbackAddress(0);
    int len = 128;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Bind(l, &a, 128, nullptr));
    ASSERT_EQ(QSM_S_OK, lib()->QSM_GetSockName(l, &a, &len, nullptr));
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Listen(l, 20, nullptr));
    QSM_Pollfd p{l, QSM_POLL_READABLE, 0xffff};
    char* details = nullptr;
    EXPECT_EQ(QSM_S_TIMEOUT, lib()->QSM_Poll(&p, 1, 20, nullptr, &details));
    EXPECT_EQ(0, p.revents);
    EXPECT_EQ(nullptr, details);
    QSM_HANDLE h = nullptr, acc = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(plainDoc(), ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port), &h));
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Poll(&p, 1, 5000, nullptr, &details));  // a listener is readable for a connection
    EXPECT_EQ(QSM_POLL_READ_NORMAL, p.revents);
    sockaddr_storage peer{};
    int plen = 128;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Accept(l, &acc, &peer, &plen, nullptr));
    EXPECT_EQ(AF_INET, peer.ss_family);
    EXPECT_EQ(static_cast<int>(sizeof(sockaddr_in)), plen);
    QSM_Handle_Set r{1, {h}}, w{1, {h}};
    timeval tv{0, 50000};
    int n = 9;
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Select(&r, nullptr, nullptr, &tv, &n, &details));  // nothing to read: runs out
    EXPECT_EQ(0, n);
    EXPECT_EQ(0u, r.count);
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Select(nullptr, &w, nullptr, &tv, &n, &details));  // writable at once
    EXPECT_EQ(1, n);
    EXPECT_EQ(1u, w.count);
    closeHandle(&acc);  // the peer closed: reading is ready (end of stream)
    QSM_Pollfd q{h, QSM_POLL_READABLE, 0};
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Poll(&q, 1, 5000, nullptr, &details));
    EXPECT_TRUE(q.revents & QSM_POLL_READ_NORMAL);
    EXPECT_FALSE(q.revents & QSM_POLL_ERROR);
    QSM_Handle_Set bad{65, {}};
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_Select(&bad, nullptr, nullptr, &tv, &n, &details));
    EXPECT_EQ("QSM_Select: a handle set holds more than 64 handles", freed(details));
    closeHandle(&h);
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
        EXPECT_EQ(QSM_S_OK, connectTo(h, server.port()));  // the script is used up: the real call runs
    }
    EXPECT_EQ(3, script.asked["QSM_Connect"]);
    ASSERT_TRUE(qsmSendAll(h, "hi"));
    EXPECT_EQ("ok", qsmRecvExactly(h, 2));
    server.join();
    StatusHookScript closing;  // a hooked close still releases the handle
    closing.queued["QSM_CloseHandle"] = {QSM_E_SYSTEM};
    char* details = nullptr;
    {
        StatusHookInstalled hook(closing);
        EXPECT_EQ(QSM_E_SYSTEM, lib()->QSM_CloseHandle(&h, nullptr, &details));
    }
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ("QSM_CloseHandle: status -5 set by the test hook", freed(details));
}

}  // namespace
