// The secure-socket layer's client over real loopback connections: plain and
// TLS exchanges, certificate and host-name verification, the handshake bound,
// the texts of failed calls and the resumption of TLS sessions.
#include "platform/crypto/VexCrypto.h"

#include "net/SkarnSocket.h"
#include "net/SkarnSocketInputStream.h"
#include "platform/crypto/QsmSocketBio.h"
#include "support/LoopbackPeer.h"
#include "support/SkarnTestServer.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
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

std::string lastError(QSM_HANDLE h)
{
    char* details = nullptr;
    lib()->QSM_CryptoGetLastErrorDetails(h, nullptr, &details);
    return freed(details);
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

// Waits up to 5 seconds for the handle to turn readable or writable.
bool ready(QSM_HANDLE h, bool forWrite)
{
    QSM_Handle_Set set{1, {h}};
    timeval tv{5, 0};
    int n = 0;
    char* d = nullptr;
    lib()->QSM_Select(forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv, &n, &d);
    freed(d);
    return n != 0;
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
        while ((st = lib()->QSM_EstablishSecure(*h, nullptr)) == QSM_E_WOULD_BLOCK && ready(*h, false)) {
        }
        if (st == QSM_S_OK)
            st = connect();
    }
    return st;
}

bool sendAll(QSM_HANDLE h, const std::string& bytes)
{
    for (std::size_t off = 0; off < bytes.size();) {
        int sent = 0;
        int st = lib()->QSM_Send(h, bytes.data() + off, static_cast<int>(bytes.size() - off), 0, &sent, nullptr);
        if (st == QSM_E_WOULD_BLOCK && ready(h, true))
            continue;
        if (st != QSM_S_OK)
            return false;
        off += static_cast<std::size_t>(sent);
    }
    return true;
}

// Reads until `n` bytes arrived or the stream ended or failed, at most 1000
// bytes a call: decrypted bytes left inside the TLS layer must count as readable.
std::string recvExactly(QSM_HANDLE h, std::size_t n)
{
    std::string out;
    char buf[1000];
    while (out.size() < n) {
        int got = 0;
        int st = lib()->QSM_Recv(h, buf, static_cast<int>(std::min(n - out.size(), sizeof buf)), 0, &got, nullptr);
        if (st == QSM_E_WOULD_BLOCK && ready(h, false))
            continue;
        if (st != QSM_S_OK)
            break;
        out.append(buf, static_cast<std::size_t>(got));
    }
    return out;
}

void closeHandle(QSM_HANDLE* h)
{
    char* details = nullptr;
    EXPECT_EQ(QSM_S_OK, lib()->QSM_CloseHandle(h, nullptr, &details));
    freed(details);
    EXPECT_EQ(nullptr, *h);
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
        std::string listener, client;  // listener empty: plain
        const char* url;               // "%d" stands for the port; empty: connect by address
        std::size_t request, reply;
        bool nonBlocking;
    } cases[] = {
        {"plain", "", plainDoc(), "", 300000, 200000, false},
        {"TLS, non-blocking", tls, tlsClientDocument("<protocolFamily>IPv4</protocolFamily>"), "", 1 << 20, 777777, true},
        {"https URL negotiates without force", tls,
         sessionDocument("<caFile>" + pki.caFile + "</caFile><protocolFamily>IPv4</protocolFamily>"),
         "https://localhost:%d/service", 2, 2, false},
        {"client certificate for a verifying listener",
         tlsListenerDocument(pki.serverCert, pki.serverKey, "<verifyPeer>ON</verifyPeer><caFile>" + pki.caFile + "</caFile>"),
         tlsClientDocument(clientCert), "", 2, 2, false},
        {"expected name matches another certificate", tlsListenerDocument(pki.otherCert, pki.otherKey),
         tlsClientDocument("<serverName>other.skarn.test</serverName>"), "", 2, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string request(c.request, 'q'), reply = std::string(c.reply - 1, 'r') + "!";
        std::string got;
        QSM_HANDLE h = nullptr;
        {
            SkarnTestServer server(
                [&](SkarnSocket& s) {
                    got = readStream(s.getInputStream(), request.size());
                    writeAll(s, reply);
                },
                c.listener);
            char url[128] = "";
            std::snprintf(url, sizeof url, c.url, server.port());
            int first = 0;
            ASSERT_EQ(QSM_S_OK, connectClient(c.client, server.port(), &h, url, &first, c.nonBlocking)) << lastError(h);
            EXPECT_EQ(c.listener.empty() ? QSM_S_OK : QSM_E_NEGOTIATE, first);
            ASSERT_TRUE(sendAll(h, request));
            EXPECT_EQ(reply, recvExactly(h, reply.size()));
            closeHandle(&h);
        }
        EXPECT_EQ(request, got);
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
    const std::string text = lastError(h);
    EXPECT_EQ(0u, text.find(kHandshake)) << text;
    EXPECT_NE(std::string::npos, text.find("did not finish within 1 seconds")) << text;
    EXPECT_EQ(QSM_E_FAILED, connectTo(h, peer.port()));
    closeHandle(&h);
}

TEST(VexCryptoVerification, ClientRefusesAndStaysFailed)
{
    const TestCertificates& pki = TestCertificates::get();
    const struct {
        const char* label;
        std::string listener, clientExtra;  // a later caFile wins over the one tlsClientDocument puts first
        const char* reason;
    } cases[] = {
        {"client trusts another CA", tlsListenerDocument(pki.serverCert, pki.serverKey),
         "<caFile>" + pki.otherCaFile + "</caFile>", "unable to get local issuer certificate"},
        {"certificate for another name, by address", tlsListenerDocument(pki.otherCert, pki.otherKey), "",
         "IP address mismatch"},
        {"certificate for another name, by host", tlsListenerDocument(pki.otherCert, pki.otherKey),
         "<serverName>localhost</serverName>", "hostname mismatch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const int before = openDescriptorCount();
        {
            SkarnTestServer server([](SkarnSocket&) {}, c.listener);
            QSM_HANDLE h = nullptr;
            EXPECT_EQ(QSM_E_TLS, connectClient(tlsClientDocument(c.clientExtra), server.port(), &h));
            const std::string text = lastError(h);
            EXPECT_EQ(0u, text.find(kHandshake)) << text;
            EXPECT_NE(std::string::npos, text.find(std::string("certificate verification failed: ") + c.reason)) << text;
            EXPECT_NE(std::string::npos, text.find("certificate verify failed")) << text;
            // The handle stays failed: connecting again is final, with the same reason.
            EXPECT_EQ(QSM_E_FAILED, connectTo(h, server.port()));
            EXPECT_EQ(text, lastError(h));
            EXPECT_NE(QSM_S_OK, lib()->QSM_SocketStatus(h, nullptr));
            closeHandle(&h);
        }
        EXPECT_EQ(before, openDescriptorCount());
    }
}

TEST(VexCryptoFailures, StatusAndTextOfFailedCalls)
{
    const struct {
        const char* label;
        std::string doc;
        std::function<int(QSM_HANDLE)> call;
        int status;
        std::string text;  // the handle's last error text
    } cases[] = {
        {"TLS listener without certificate", sessionDocument("<forceSSLStatus>ON</forceSSLStatus>"),
         [](QSM_HANDLE h) {
             sockaddr_storage a = loopbackAddress(0);
             EXPECT_EQ(QSM_S_OK, lib()->QSM_Bind(h, &a, 128, nullptr));
             return lib()->QSM_Listen(h, 20, nullptr);
         },
         QSM_E_CONFIG,
         "QSM_Listen: a TLS listener needs certificateFile and privateKeyFile in its session configuration document"},
        {"address outside the protocol family", plainDoc("<protocolFamily>IPv6</protocolFamily>"),
         [](QSM_HANDLE h) { return connectTo(h, 1); }, QSM_E_FAILED,
         "QSM_Connect: the address does not belong to the document's protocolFamily"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        QSM_HANDLE h = openHandle(c.doc);
        ASSERT_NE(nullptr, h);
        EXPECT_EQ(c.status, c.call(h));
        EXPECT_EQ(c.text, lastError(h));
        closeHandle(&h);
    }
}

// One byte each way on a new connection (the byte read back also brings the
// server's TLS 1.3 tickets in): 1 when the handshake resumed a session, 0
// when it ran in full, -1 when the connection failed.
int exchangeByte(const std::string& doc, int port, const std::string& url = "")
{
    QSM_HANDLE h = nullptr;
    int resumed = -1;
    if (connectClient(doc, port, &h, url) == QSM_S_OK && sendAll(h, "q") && recvExactly(h, 1) == "r") {
        EXPECT_EQ(QSM_S_OK, lib()->QSM_IsSessionResumed(h, &resumed, nullptr));
    }
    closeHandle(&h);
    return resumed;
}

void answerByte(SkarnSocket& s)
{
    if (readStream(s.getInputStream(), 1) == "q")
        writeAll(s, "r");
}

// Empties the process's session cache, and puts the default bound back.
void freshSessionCache()
{
    VexCrypto::setSessionCacheSize(0);
    VexCrypto::setSessionCacheSize(256);
}

TEST(VexCryptoResumption, OnlyTheSameServerAndTrustResume)
{
    const TestCertificates& pki = TestCertificates::get();
    const std::string caCopy = pki.dir + "/ca-copy.pem";
    std::filesystem::copy_file(pki.caFile, caCopy, std::filesystem::copy_options::overwrite_existing);
    const std::string clientCert =
        "<certificateFile>" + pki.otherCert + "</certificateFile><privateKeyFile>" + pki.otherKey + "</privateKeyFile>";
    const std::string byName = sessionDocument("<caFile>" + pki.caFile + "</caFile>");
    const struct {
        const char* label;
        int cacheSize;
        std::string doc;
        const char* url;  // "%d": the port; empty: by address
        int resumed;
    } rows[] = {
        {"first connection: full handshake", 256, tlsClientDocument(), "", 0},
        {"the next one resumes", 256, tlsClientDocument(), "", 1},
        {"verifyPeer OFF", 256, tlsClientDocument("<verifyPeer>OFF</verifyPeer>"), "", 0},
        {"verifyPeer OFF again", 256, tlsClientDocument("<verifyPeer>OFF</verifyPeer>"), "", 1},
        {"the same CA from another file", 256, tlsClientDocument("<caFile>" + caCopy + "</caFile>"), "", 0},
        {"serverName given", 256, tlsClientDocument("<serverName>localhost</serverName>"), "", 0},
        {"a client certificate", 256, tlsClientDocument(clientCert), "", 0},
        {"by host name", 256, byName, "https://localhost:%d/s", 0},
        {"by host name again", 256, byName, "https://localhost:%d/s", 1},
        {"the first settings, still kept", 256, tlsClientDocument(), "", 1},
        {"cache off", 0, tlsClientDocument(), "", 0},
        {"cache off, again", 0, tlsClientDocument(), "", 0},
        {"cache on: what was kept went", 256, tlsClientDocument(), "", 0},
        {"cache on, again", 256, tlsClientDocument(), "", 1},
    };
    freshSessionCache();
    SkarnTestServer server(&answerByte, tlsListenerDocument(pki.serverCert, pki.serverKey));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        VexCrypto::setSessionCacheSize(row.cacheSize);
        EXPECT_EQ(row.cacheSize, VexCrypto::getSessionCacheSize());
        char url[128] = "";
        std::snprintf(url, sizeof url, row.url, server.port());
        EXPECT_EQ(row.resumed, exchangeByte(row.doc, server.port(), url));
    }
}

TEST(VexCryptoResumption, TheCacheKeepsTheLastServersUsed)
{
    const TestCertificates& pki = TestCertificates::get();
    freshSessionCache();
    VexCrypto::setSessionCacheSize(2);
    std::vector<std::unique_ptr<SkarnTestServer>> servers;
    for (int i = 0; i < 3; ++i)
        servers.emplace_back(new SkarnTestServer(&answerByte, tlsListenerDocument(pki.serverCert, pki.serverKey)));
    // Server, resumed. Room for two: the least recently used goes (1 when 2
    // comes, then 0 when 1 comes back).
    const int visits[][2] = {{0, 0}, {1, 0}, {0, 1}, {2, 0}, {1, 0}, {2, 1}, {0, 0}};
    for (const auto& v : visits) {
        SCOPED_TRACE(testing::Message() << "server " << v[0]);
        EXPECT_EQ(v[1], exchangeByte(tlsClientDocument(), servers[v[0]]->port()));
    }
    freshSessionCache();
}

// An OpenSSL server of the test's own, for what the toolkit's listener does
// not do: a context of its own per connection (another context has other
// ticket keys and session store: it refuses the sessions of the first),
// TLS 1.2 at most, or no handshake at all (null: closed at once).
SSL_CTX* serverContext(int maxVersion)
{
    const TestCertificates& pki = TestCertificates::get();
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_set_max_proto_version(ctx, maxVersion);
    EXPECT_EQ(1, SSL_CTX_use_certificate_chain_file(ctx, pki.serverCert.c_str()));
    EXPECT_EQ(1, SSL_CTX_use_PrivateKey_file(ctx, pki.serverKey.c_str(), SSL_FILETYPE_PEM));
    static const unsigned char sid[] = "test";
    SSL_CTX_set_session_id_context(ctx, sid, sizeof sid - 1);
    return ctx;
}

TEST(VexCryptoResumption, RefusedAndFailedHandshakes)
{
    SSL_CTX *a13 = serverContext(TLS1_3_VERSION), *b13 = serverContext(TLS1_3_VERSION);
    SSL_CTX *a12 = serverContext(TLS1_2_VERSION), *b12 = serverContext(TLS1_2_VERSION);
    const struct {
        const char* label;
        SSL_CTX* server;
        int resumed;  // -1: the connection fails
    } rows[] = {
        {"TLS 1.3, full", a13, 0},
        {"TLS 1.3, resumed", a13, 1},
        {"another server refuses: full handshake", b13, 0},
        {"that server's own session", b13, 1},
        {"closed before the handshake", nullptr, -1},
        {"the failure dropped what was kept", b13, 0},
        {"TLS 1.2: a TLS 1.3 session is not taken", a12, 0},
        {"TLS 1.2, resumed", a12, 1},
        {"a TLS 1.2 session serves again", a12, 1},
        {"another TLS 1.2 server refuses", b12, 0},
        {"and resumes its own", b12, 1},
    };
    freshSessionCache();
    std::atomic<std::size_t> served{0};
    LoopbackPeer peer(LoopbackPeer::IPv4, [&](int fd, const std::atomic<bool>&) {
        const std::size_t i = served++;
        if (i >= sizeof rows / sizeof rows[0] || !rows[i].server)
            return;
        timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        SSL* ssl = SSL_new(rows[i].server);
        BIO* bio = QsmSocketBio::create(fd);
        SSL_set_bio(ssl, bio, bio);
        char c;
        if (SSL_accept(ssl) == 1 && SSL_read(ssl, &c, 1) == 1)
            SSL_write(ssl, "r", 1);
        SSL_shutdown(ssl);
        SSL_free(ssl);
    });
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(row.resumed, exchangeByte(tlsClientDocument(), peer.port()));
    }
    peer.stop();
    for (SSL_CTX* ctx : {a13, b13, a12, b12})
        SSL_CTX_free(ctx);
}

TEST(VexCryptoResumption, ThreadsConnectingAtOnce)
{
    const TestCertificates& pki = TestCertificates::get();
    freshSessionCache();
    SkarnTestServer server(&answerByte, tlsListenerDocument(pki.serverCert, pki.serverKey));
    const int threads = 4, each = 25;
    std::atomic<int> failed{0}, resumed{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < threads; ++t)
        clients.emplace_back([&] {
            for (int i = 0; i < each; ++i) {
                const int r = exchangeByte(tlsClientDocument(), server.port());
                (r < 0 ? failed : resumed) += r < 0 ? 1 : r;
            }
        });
    for (std::thread& t : clients)
        t.join();
    EXPECT_EQ(0, failed.load());
    // Each thread's first connection may run in full; after it, tickets are
    // never short: a full handshake brings two, a resumed one one for the one used.
    EXPECT_GE(resumed.load(), threads * (each - 1));
}

}  // namespace
