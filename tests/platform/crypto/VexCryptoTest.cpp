// The secure-socket layer over real loopback connections: plain and TLS
// exchanges, certificate and host-name verification, mismatched peers,
// connection status, the handshake bound and the test hook.
#include "platform/crypto/VexCrypto.h"

#include "support/LoopbackPeer.h"
#include "support/QsmTestServer.h"
#include "support/TestCertificates.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

VexCrypto* lib() { return VexCryptoSharedFactory::getInstance(); }

std::string tlsListenerDoc(const std::string& cert, const std::string& key, const std::string& extra = "")
{
    return sessionDocument("<serviceID>test</serviceID><forceSSLStatus>ON</forceSSLStatus><certificateFile>" + cert +
                           "</certificateFile><privateKeyFile>" + key + "</privateKeyFile>" + extra);
}

std::string plainDoc(const std::string& extra = "") { return sessionDocument("<serviceID>test</serviceID>" + extra); }

std::string tlsClientDoc(const std::string& extra = "")
{
    return sessionDocument("<forceSSLStatus>ON</forceSSLStatus><caFile>" + TestCertificates::get().caFile +
                           "</caFile>" + extra);
}

sockaddr_storage loopback(int port, bool ipv6 = false)
{
    sockaddr_storage a{};
    if (ipv6) {
        sockaddr_in6* a6 = reinterpret_cast<sockaddr_in6*>(&a);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_loopback;
        a6->sin6_port = htons(static_cast<uint16_t>(port));
    } else {
        sockaddr_in* a4 = reinterpret_cast<sockaddr_in*>(&a);
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a4->sin_port = htons(static_cast<uint16_t>(port));
    }
    return a;
}

// Connects as a toolkit socket does: connect, negotiate when asked, connect again.
int connectClient(const std::string& doc, int port, QSM_HANDLE* h, bool ipv6 = false)
{
    char* details = nullptr;
    int st = lib()->QSM_Socket(h, doc.c_str(), nullptr, &details);
    lib()->QSM_CryptoFree(details);
    if (st != QSM_S_OK)
        return st;
    sockaddr_storage a = loopback(port, ipv6);
    st = lib()->QSM_Connect(*h, &a, 128, nullptr);
    if (st == QSM_E_NEGOTIATE) {
        st = lib()->QSM_EstablishSecure(*h, nullptr);
        while (st == QSM_E_WOULD_BLOCK) {
            QSM_Handle_Set r{1, {*h}};
            timeval tv{1, 0};
            int n = 0;
            lib()->QSM_Select(&r, nullptr, nullptr, &tv, &n, &details);
            lib()->QSM_CryptoFree(details);
            st = lib()->QSM_EstablishSecure(*h, nullptr);
        }
        if (st == QSM_S_OK)
            st = lib()->QSM_Connect(*h, &a, 128, nullptr);
    }
    return st;
}

void closeHandle(QSM_HANDLE* h)
{
    char* details = nullptr;
    EXPECT_EQ(QSM_S_OK, lib()->QSM_CloseHandle(h, nullptr, &details));
    lib()->QSM_CryptoFree(details);
    EXPECT_EQ(nullptr, *h);
}

int openDescriptors()
{
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (d && readdir(d))
        ++n;
    if (d)
        closedir(d);
    return n;
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

TEST(VexCryptoExchange, PlainBothWays)
{
    const std::string request = pattern(300000, 1), reply = pattern(200000, 2);
    std::string got;
    QsmTestServer server(plainDoc("<forceSSLStatus>OFF</forceSSLStatus>"), answer(request.size(), reply, &got));
    ASSERT_TRUE(server.failures().empty());
    QSM_HANDLE h = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(plainDoc(), server.port(), &h)) << qsmLastError(h);
    EXPECT_EQ("plain", cipherOf(h));
    ASSERT_TRUE(qsmSendAll(h, request));
    EXPECT_EQ(reply, qsmRecvExactly(h, reply.size()));
    server.join();
    EXPECT_EQ(request, got);
    closeHandle(&h);
}

TEST(VexCryptoExchange, TlsBothWaysBlocking)
{
    const TestCertificates& pki = TestCertificates::get();
    const std::string request = pattern(1 << 20, 3), reply = pattern(777777, 4);
    std::string got, serverCipher;
    QsmTestServer server(tlsListenerDoc(pki.serverCert, pki.serverKey),
                         answer(request.size(), reply, &got, &serverCipher));
    QSM_HANDLE h = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(tlsClientDoc(), server.port(), &h)) << qsmLastError(h);
    const std::string cipher = cipherOf(h);
    EXPECT_TRUE(cipher.rfind("TLSv1.3 ", 0) == 0 || cipher.rfind("TLSv1.2 ", 0) == 0) << cipher;
    ASSERT_TRUE(qsmSendAll(h, request));
    EXPECT_EQ(reply, qsmRecvExactly(h, reply.size()));
    server.join();
    EXPECT_EQ(request, got);
    EXPECT_EQ(cipher, serverCipher);
    EXPECT_TRUE(server.failures().empty());
    closeHandle(&h);
}

TEST(VexCryptoExchange, TlsBothWaysNonBlocking)
{
    const TestCertificates& pki = TestCertificates::get();
    const std::string request = pattern(1 << 20, 5), reply = pattern(1 << 20, 6);
    std::string got;
    QsmTestServer server(tlsListenerDoc(pki.serverCert, pki.serverKey), answer(request.size(), reply, &got));
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, tlsClientDoc("<protocolFamily>IPv4</protocolFamily>").c_str(), nullptr,
                                          &details));
    int one = 1;
    // Non-blocking from the start: the handshake itself answers "call again".
    ASSERT_EQ(QSM_S_OK, lib()->QSM_SetSockOpt(h, QSM_FIONBIO, &one, 4, nullptr));
    sockaddr_storage a = loopback(server.port());
    ASSERT_EQ(QSM_E_NEGOTIATE, lib()->QSM_Connect(h, &a, 128, nullptr));
    int st;
    while ((st = lib()->QSM_EstablishSecure(h, nullptr)) == QSM_E_WOULD_BLOCK) {
        QSM_Handle_Set r{1, {h}};
        timeval tv{1, 0};
        int n = 0;
        ASSERT_EQ(QSM_S_OK, lib()->QSM_Select(&r, nullptr, nullptr, &tv, &n, &details));
    }
    ASSERT_EQ(QSM_S_OK, st) << qsmLastError(h);
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Connect(h, &a, 128, nullptr));
    ASSERT_TRUE(qsmSendAll(h, request));
    // Small reads: decrypted bytes left inside the TLS layer must count as readable.
    std::string back;
    char buf[1000];
    while (back.size() < reply.size()) {
        int n = 0;
        st = lib()->QSM_Recv(h, buf, sizeof buf, 0, &n, nullptr);
        if (st == QSM_E_WOULD_BLOCK) {
            QSM_Handle_Set r{1, {h}};
            timeval tv{5, 0};
            int ready = 0;
            ASSERT_EQ(QSM_S_OK, lib()->QSM_Select(&r, nullptr, nullptr, &tv, &ready, &details));
            ASSERT_EQ(1, ready) << "no data within 5 seconds";
            ASSERT_EQ(1u, r.count);
            EXPECT_EQ(h, r.handles[0]);
            continue;
        }
        ASSERT_EQ(QSM_S_OK, st) << qsmLastError(h);
        back.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(reply, back);
    server.join();
    EXPECT_EQ(request, got);
    closeHandle(&h);
}

TEST(VexCryptoExchange, NonBlockingHandshakeWouldBlockThenTimesOut)
{
    // A peer that accepts and never answers: the handshake cannot finish.
    LoopbackPeer peer(LoopbackPeer::IPv4, LoopbackPeer::silent());
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, tlsClientDoc("<handshakeTimeoutSeconds>1</handshakeTimeoutSeconds>").c_str(),
                                          nullptr, &details));
    int one = 1;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_SetSockOpt(h, QSM_FIONBIO, &one, 4, nullptr));
    sockaddr_storage a = peer.address();
    ASSERT_EQ(QSM_E_NEGOTIATE, lib()->QSM_Connect(h, &a, 128, nullptr));
    EXPECT_EQ(QSM_E_WOULD_BLOCK, lib()->QSM_EstablishSecure(h, nullptr));
    EXPECT_EQ(QSM_E_NEGOTIATE, lib()->QSM_Connect(h, &a, 128, nullptr));  // still under way
    const auto start = std::chrono::steady_clock::now();
    int st;
    while ((st = lib()->QSM_EstablishSecure(h, nullptr)) == QSM_E_WOULD_BLOCK &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(QSM_E_HANDSHAKE_TIMEOUT, st);
    EXPECT_EQ(0u, qsmLastError(h).find("QSM_EstablishSecure: TLS handshake with 127.0.0.1:")) << qsmLastError(h);
    EXPECT_NE(std::string::npos, qsmLastError(h).find("did not finish within 1 seconds")) << qsmLastError(h);
    EXPECT_EQ(QSM_E_FAILED, lib()->QSM_Connect(h, &a, 128, nullptr));
    closeHandle(&h);
}

TEST(VexCryptoExchange, TlsOverIPv6)
{
    const TestCertificates& pki = TestCertificates::get();
    std::string got;
    QsmTestServer server(tlsListenerDoc(pki.serverCert, pki.serverKey), answer(5, "world", &got), 1, true);
    ASSERT_TRUE(server.failures().empty()) << server.failures()[0];
    QSM_HANDLE h = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(tlsClientDoc("<protocolFamily>IPv6</protocolFamily>"), server.port(), &h, true))
        << qsmLastError(h);
    ASSERT_TRUE(qsmSendAll(h, "hello"));
    EXPECT_EQ("world", qsmRecvExactly(h, 5));
    server.join();
    EXPECT_EQ("hello", got);
    closeHandle(&h);
}

TEST(VexCryptoExchange, HttpsUrlNegotiatesWithoutForce)
{
    const TestCertificates& pki = TestCertificates::get();
    std::string got;
    QsmTestServer server(tlsListenerDoc(pki.serverCert, pki.serverKey), answer(2, "ok", &got));
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    const std::string doc = sessionDocument("<caFile>" + pki.caFile + "</caFile><protocolFamily>IPv4</protocolFamily>");
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, doc.c_str(), nullptr, &details));
    const std::string url = "https://localhost:" + std::to_string(server.port()) + "/service";
    ASSERT_EQ(QSM_E_NEGOTIATE, lib()->QSM_Connect_Url(h, url.c_str(), nullptr));
    ASSERT_EQ(QSM_S_OK, lib()->QSM_EstablishSecure(h, nullptr)) << qsmLastError(h);
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Connect_Url(h, url.c_str(), nullptr));
    ASSERT_TRUE(qsmSendAll(h, "hi"));
    EXPECT_EQ("ok", qsmRecvExactly(h, 2));
    server.join();
    closeHandle(&h);
}

TEST(VexCryptoExchange, HttpUrlStaysPlain)
{
    std::string got;
    QsmTestServer server(plainDoc(), answer(2, "ok", &got));
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, plainDoc().c_str(), nullptr, &details));
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Connect_Url(h, url.c_str(), nullptr)) << qsmLastError(h);
    ASSERT_TRUE(qsmSendAll(h, "hi"));
    EXPECT_EQ("ok", qsmRecvExactly(h, 2));
    server.join();
    closeHandle(&h);
}

TEST(VexCryptoExchange, ClientCertificateWhenListenerVerifies)
{
    const TestCertificates& pki = TestCertificates::get();
    std::string got;
    const std::string verify = "<verifyPeer>ON</verifyPeer><caFile>" + pki.caFile + "</caFile>";
    {
        QsmTestServer server(tlsListenerDoc(pki.serverCert, pki.serverKey, verify), answer(2, "ok", &got));
        QSM_HANDLE h = nullptr;
        ASSERT_EQ(QSM_S_OK, connectClient(tlsClientDoc("<certificateFile>" + pki.otherCert +
                                                       "</certificateFile><privateKeyFile>" + pki.otherKey +
                                                       "</privateKeyFile>"),
                                          server.port(), &h))
            << qsmLastError(h);
        ASSERT_TRUE(qsmSendAll(h, "hi"));
        EXPECT_EQ("ok", qsmRecvExactly(h, 2));
        server.join();
        closeHandle(&h);
    }
    {
        // Without a certificate the listener refuses the client.
        QsmTestServer server(tlsListenerDoc(pki.serverCert, pki.serverKey, verify), answer(2, "ok", &got));
        QSM_HANDLE h = nullptr;
        int st = connectClient(tlsClientDoc(), server.port(), &h);
        if (st == QSM_S_OK) {  // TLS 1.3: the refusal arrives with the first read
            char c;
            int n = 0;
            EXPECT_NE(QSM_S_OK, lib()->QSM_Recv(h, &c, 1, 0, &n, nullptr));
        }
        server.join();
        ASSERT_EQ(1u, server.failures().size());
        EXPECT_NE(std::string::npos, server.failures()[0].find("peer did not return a certificate"))
            << server.failures()[0];
        closeHandle(&h);
    }
}

// ------------------------------------------------------------- verification

struct VerifyCase {
    const char* label;
    bool otherServerCert;  // the server shows other.skarn.test instead of localhost
    bool strangerServerCert;  // the server's certificate comes from the second CA
    std::string clientExtra;
    bool ok;
    const char* reason;
};

TEST(VexCryptoVerification, Table)
{
    const TestCertificates& pki = TestCertificates::get();
    const VerifyCase cases[] = {
        {"trusted CA, address checked", false, false, "", true, ""},
        {"server name given", false, false, "<serverName>localhost</serverName>", true, ""},
        {"client trusts another CA", false, false,
         "<caFile>" + pki.otherCaFile + "</caFile>", false,
         "certificate verification failed: unable to get local issuer certificate"},
        {"certificate of another CA", false, true, "", false,
         "certificate verification failed: unable to get local issuer certificate"},
        {"certificate for another name, by address", true, false, "", false,
         "certificate verification failed: IP address mismatch"},
        {"certificate for another name, by host", true, false, "<serverName>localhost</serverName>", false,
         "certificate verification failed: hostname mismatch"},
        {"expected name matches the other certificate", true, false,
         "<serverName>other.skarn.test</serverName>", true, ""},
        {"verification off", false, true, "<verifyPeer>OFF</verifyPeer>", true, ""},
    };
    for (const VerifyCase& c : cases) {
        SCOPED_TRACE(c.label);
        const int before = openDescriptors();
        std::string got;
        const std::string& cert = c.otherServerCert ? pki.otherCert : c.strangerServerCert ? pki.strangerCert : pki.serverCert;
        const std::string& key = c.otherServerCert ? pki.otherKey : c.strangerServerCert ? pki.strangerKey : pki.serverKey;
        std::unique_ptr<QsmTestServer> server(new QsmTestServer(tlsListenerDoc(cert, key), answer(2, "ok", &got)));
        QSM_HANDLE h = nullptr;
        // The client document: a later caFile wins over the one tlsClientDoc puts first.
        int st = connectClient(tlsClientDoc(c.clientExtra), server->port(), &h);
        if (c.ok) {
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
            sockaddr_storage a = loopback(server->port());
            EXPECT_EQ(QSM_E_FAILED, lib()->QSM_Connect(h, &a, 128, nullptr));
            EXPECT_EQ(text, qsmLastError(h));
            EXPECT_NE(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr));
        }
        server.reset();
        closeHandle(&h);
        EXPECT_EQ(before, openDescriptors());
    }
}

// ------------------------------------------------------- mismatched peers

TEST(VexCryptoMismatch, PlainClientAgainstTlsListener)
{
    const TestCertificates& pki = TestCertificates::get();
    const int before = openDescriptors();
    std::string got;
    {
        QsmTestServer server(tlsListenerDoc(pki.serverCert, pki.serverKey), answer(2, "ok", &got));
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
        EXPECT_EQ(0u, server.failures()[0].find("QSM_EstablishSecure: TLS handshake with 127.0.0.1:"))
            << server.failures()[0];
        EXPECT_NE(std::string::npos, server.failures()[0].find("SSL routines")) << server.failures()[0];
        EXPECT_NE(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr));
        closeHandle(&h);
    }
    EXPECT_EQ(before, openDescriptors());
}

TEST(VexCryptoMismatch, TlsClientAgainstPlainListener)
{
    const int before = openDescriptors();
    {
        QsmTestServer server(plainDoc(), [](QSM_HANDLE h) {
            char buf[4096];
            int n = 0;
            lib()->QSM_Recv(h, buf, sizeof buf, 0, &n, nullptr);
            qsmSendAll(h, "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
        });
        QSM_HANDLE h = nullptr;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(QSM_E_TLS, connectClient(tlsClientDoc(), server.port(), &h));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        const std::string text = qsmLastError(h);
        EXPECT_EQ(0u, text.find("QSM_EstablishSecure: TLS handshake with 127.0.0.1:")) << text;
        EXPECT_NE(std::string::npos, text.find("wrong version number")) << text;
        server.join();
        closeHandle(&h);
    }
    EXPECT_EQ(before, openDescriptors());
}

TEST(VexCryptoMismatch, SilentClientCannotHoldTheListener)
{
    const TestCertificates& pki = TestCertificates::get();
    std::string got;
    QsmTestServer server(
        tlsListenerDoc(pki.serverCert, pki.serverKey, "<handshakeTimeoutSeconds>1</handshakeTimeoutSeconds>"),
        answer(2, "ok", &got), 2);
    QSM_HANDLE silent = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(plainDoc(), server.port(), &silent));
    // The next client is served once the silent one's handshake has timed out.
    QSM_HANDLE h = nullptr;
    ASSERT_EQ(QSM_S_OK, connectClient(tlsClientDoc(), server.port(), &h)) << qsmLastError(h);
    ASSERT_TRUE(qsmSendAll(h, "hi"));
    EXPECT_EQ("ok", qsmRecvExactly(h, 2));
    server.join();
    ASSERT_EQ(1u, server.failures().size());
    EXPECT_NE(std::string::npos, server.failures()[0].find("did not finish within 1 seconds")) << server.failures()[0];
    closeHandle(&silent);
    closeHandle(&h);
}

// ----------------------------------------------------------------- status

TEST(VexCryptoStatus, TurnsNonZeroWhenThePeerCloses)
{
    const TestCertificates& pki = TestCertificates::get();
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        std::mutex m;
        std::condition_variable cv;
        bool closeNow = false;
        QsmTestServer server(tls ? tlsListenerDoc(pki.serverCert, pki.serverKey) : plainDoc(), [&](QSM_HANDLE) {
            std::unique_lock<std::mutex> lock(m);
            cv.wait_for(lock, std::chrono::seconds(10), [&] { return closeNow; });
        });
        QSM_HANDLE h = nullptr;
        ASSERT_EQ(QSM_S_OK, connectClient(tls ? tlsClientDoc() : plainDoc(), server.port(), &h)) << qsmLastError(h);
        EXPECT_EQ(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr)) << qsmLastError(h);
        // Whatever the server sent after the handshake (session tickets) is not a close.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr)) << qsmLastError(h);
        EXPECT_EQ(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr)) << qsmLastError(h);
        {
            std::lock_guard<std::mutex> lock(m);
            closeNow = true;
        }
        cv.notify_all();
        server.join();  // the server has closed its end
        int st = QSM_S_OK;
        for (int i = 0; i < 100 && st == QSM_S_OK; ++i) {
            st = lib()->QSM_SocketStatus(h, nullptr);
            if (st == QSM_S_OK)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_NE(QSM_S_OK, st);
        EXPECT_EQ(0u, qsmLastError(h).find("QSM_SocketStatus: ")) << qsmLastError(h);
        closeHandle(&h);
    }
}

TEST(VexCryptoStatus, UnreadBytesAreNoCloseButTheCloseBehindThemIs)
{
    const TestCertificates& pki = TestCertificates::get();
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        std::mutex m;
        std::condition_variable cv;
        bool closeNow = false;
        QsmTestServer server(tls ? tlsListenerDoc(pki.serverCert, pki.serverKey) : plainDoc(), [&](QSM_HANDLE& h) {
            qsmSendAll(h, "unread bytes");
            std::unique_lock<std::mutex> lock(m);
            cv.wait_for(lock, std::chrono::seconds(10), [&] { return closeNow; });
        });
        QSM_HANDLE h = nullptr;
        ASSERT_EQ(QSM_S_OK, connectClient(tls ? tlsClientDoc() : plainDoc(), server.port(), &h)) << qsmLastError(h);
        EXPECT_EQ("u", qsmRecvExactly(h, 1));  // the rest stays in the socket or the TLS layer
        EXPECT_EQ(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr)) << qsmLastError(h);
        {
            std::lock_guard<std::mutex> lock(m);
            closeNow = true;
        }
        cv.notify_all();
        server.join();
        int st = QSM_S_OK;
        for (int i = 0; i < 100 && st == QSM_S_OK; ++i) {
            st = lib()->QSM_SocketStatus(h, nullptr);
            if (st == QSM_S_OK)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_NE(QSM_S_OK, st);
        // The bytes sent before the close are still delivered, then the end.
        EXPECT_EQ("nread bytes", qsmRecvExactly(h, 11));
        char c;
        int n = 0;
        EXPECT_EQ(QSM_E_PEER_CLOSED, lib()->QSM_Recv(h, &c, 1, 0, &n, nullptr));
        closeHandle(&h);
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
    ASSERT_NE(nullptr, details);
    EXPECT_STREQ("QSM_Socket: forceSSLStatus must be ON or OFF, not 'maybe'", details);
    lib()->QSM_CryptoFree(details);
}

TEST(VexCryptoFailures, TlsListenerNeedsACertificate)
{
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, sessionDocument("<forceSSLStatus>ON</forceSSLStatus>").c_str(), nullptr,
                                          &details));
    sockaddr_storage a = loopback(0);
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Bind(h, &a, 128, nullptr));
    EXPECT_EQ(QSM_E_CONFIG, lib()->QSM_Listen(h, 20, nullptr));
    EXPECT_EQ("QSM_Listen: a TLS listener needs certificateFile and privateKeyFile in its session configuration document",
              qsmLastError(h));
    closeHandle(&h);
}

TEST(VexCryptoFailures, UnreadableCertificateNamesTheFileAndReason)
{
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, tlsListenerDoc("/nonexistent/cert.pem", "/nonexistent/key.pem").c_str(),
                                          nullptr, &details));
    sockaddr_storage a = loopback(0);
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Bind(h, &a, 128, nullptr));
    EXPECT_EQ(QSM_E_CONFIG, lib()->QSM_Listen(h, 20, nullptr));
    const std::string text = qsmLastError(h);
    EXPECT_EQ(0u, text.find("QSM_Listen: cannot load certificateFile '/nonexistent/cert.pem': error:")) << text;
    closeHandle(&h);
}

TEST(VexCryptoFailures, RefusedConnectionMayBeRetried)
{
    // A port that was just free: nobody listens there.
    int port;
    {
        QsmTestServer probe(plainDoc(), [](QSM_HANDLE) {}, 0);
        port = probe.port();
    }
    QSM_HANDLE h = nullptr;
    EXPECT_EQ(QSM_E_CONNECT, connectClient(plainDoc(), port, &h));
    EXPECT_EQ("QSM_Connect: connecting to 127.0.0.1:" + std::to_string(port) + " failed: Connection refused",
              qsmLastError(h));
    sockaddr_storage a = loopback(port);
    EXPECT_EQ(QSM_E_CONNECT, lib()->QSM_Connect(h, &a, 128, nullptr));
    closeHandle(&h);
}

TEST(VexCryptoFailures, FinalConnectFailures)
{
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, plainDoc("<protocolFamily>IPv6</protocolFamily>").c_str(), nullptr,
                                          &details));
    sockaddr_storage a = loopback(1);
    EXPECT_EQ(QSM_E_FAILED, lib()->QSM_Connect(h, &a, 128, nullptr));
    EXPECT_EQ("QSM_Connect: the address does not belong to the document's protocolFamily", qsmLastError(h));
    EXPECT_EQ(QSM_E_FAILED, lib()->QSM_Connect_Url(h, "no-scheme", nullptr));
    EXPECT_EQ("QSM_Connect_Url: URL 'no-scheme' has no scheme", qsmLastError(h));
    EXPECT_EQ(QSM_E_FAILED, lib()->QSM_Connect_Url(h, "https://host.invalid/", nullptr));
    EXPECT_EQ(0u, qsmLastError(h).find("QSM_Connect_Url: cannot resolve 'host.invalid': ")) << qsmLastError(h);
    closeHandle(&h);
}

TEST(VexCryptoFailures, InvalidHandles)
{
    char buf[4];
    int n = 7;
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_Recv(nullptr, buf, 4, 0, &n, nullptr));
    EXPECT_EQ(0, n);
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_CryptoGetLastErrorDetails(nullptr, nullptr, &details));
    ASSERT_NE(nullptr, details);
    EXPECT_STREQ("QSM_Recv: not a valid handle", details);
    lib()->QSM_CryptoFree(details);
    EXPECT_NE(QSM_S_OK, lib()->QSM_SocketStatus(nullptr, nullptr));
    QSM_HANDLE none = nullptr;
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_CloseHandle(&none, nullptr, &details));
    ASSERT_NE(nullptr, details);
    EXPECT_STREQ("QSM_CloseHandle: not a valid handle", details);
    lib()->QSM_CryptoFree(details);
    // A closed handle is no longer served.
    QSM_HANDLE h = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, plainDoc().c_str(), nullptr, &details));
    QSM_HANDLE copy = h;
    closeHandle(&h);
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_SocketStatus(copy, nullptr));
}

TEST(VexCryptoFailures, EstablishWithoutNegotiation)
{
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, plainDoc().c_str(), nullptr, &details));
    EXPECT_EQ(QSM_E_INVALID, lib()->QSM_EstablishSecure(h, nullptr));
    EXPECT_EQ("QSM_EstablishSecure: no negotiation is pending on this handle", qsmLastError(h));
    closeHandle(&h);
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
    ASSERT_NE(nullptr, details);
    EXPECT_STREQ("QSM_Select: a handle set holds more than 64 handles", details);
    lib()->QSM_CryptoFree(details);
    closeHandle(&h);
}

TEST(VexCryptoWaits, ListenerPollsReadableForAConnection)
{
    QSM_HANDLE l = nullptr;
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&l, plainDoc("<protocolFamily>IPv4</protocolFamily>").c_str(), nullptr,
                                          &details));
    sockaddr_storage a = loopback(0);
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Bind(l, &a, 128, nullptr));
    int len = 128;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_GetSockName(l, &a, &len, nullptr));
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Listen(l, 20, nullptr));
    QSM_Pollfd p{l, QSM_POLL_READABLE, 0};
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

struct HookScript {
    const char* call;
    int status;
    int times;  // answers left
    int asked = 0;
};

bool scripted(void* context, const char* call, QSM_HANDLE, int* status)
{
    HookScript* s = static_cast<HookScript*>(context);
    if (std::strcmp(call, s->call) != 0)
        return false;
    ++s->asked;
    if (s->times == 0)
        return false;
    --s->times;
    *status = s->status;
    return true;
}

TEST(VexCryptoHook, AnswersChosenStatuses)
{
    std::string got;
    QsmTestServer server(plainDoc(), answer(2, "ok", &got));
    HookScript script{"QSM_Connect", QSM_E_NEGOTIATE, 2};
    VexCrypto::setStatusHook(&scripted, &script);
    QSM_HANDLE h = nullptr;
    char* details = nullptr;
    ASSERT_EQ(QSM_S_OK, lib()->QSM_Socket(&h, plainDoc().c_str(), nullptr, &details));
    sockaddr_storage a = loopback(server.port());
    EXPECT_EQ(QSM_E_NEGOTIATE, lib()->QSM_Connect(h, &a, 128, nullptr));
    EXPECT_EQ("QSM_Connect: status -15 set by the test hook", qsmLastError(h));
    EXPECT_EQ(QSM_E_NEGOTIATE, lib()->QSM_Connect(h, &a, 128, nullptr));
    // The script is used up: the real call runs.
    EXPECT_EQ(QSM_S_OK, lib()->QSM_Connect(h, &a, 128, nullptr));
    VexCrypto::setStatusHook(nullptr, nullptr);
    EXPECT_EQ(3, script.asked);
    ASSERT_TRUE(qsmSendAll(h, "hi"));
    EXPECT_EQ("ok", qsmRecvExactly(h, 2));
    server.join();
    // A hooked close still releases the handle.
    HookScript closing{"QSM_CloseHandle", QSM_E_SYSTEM, 1};
    VexCrypto::setStatusHook(&scripted, &closing);
    EXPECT_EQ(QSM_E_SYSTEM, lib()->QSM_CloseHandle(&h, nullptr, &details));
    VexCrypto::setStatusHook(nullptr, nullptr);
    EXPECT_EQ(nullptr, h);
    ASSERT_NE(nullptr, details);
    EXPECT_STREQ("QSM_CloseHandle: status -5 set by the test hook", details);
    lib()->QSM_CryptoFree(details);
}

}  // namespace
