// What a host may trust of the connections its sessions get from the factory:
// each answer reaches the caller that asked, an https request never travels
// over a plain or differently trusted connection, URLs are read before any
// connection is made, and every wait of the client is bounded. Real loopback
// peers, plain and TLS, that misbehave on purpose.
#include "api/Skarn.h"
#include "api/SkarnMessageReader.h"
#include "api/SkarnException.h"
#include "api/SkarnSession.h"
#include "conn/SkrConnectionPoolFactory.h"
#include "net/SkarnSocket.h"
#include "net/SkrSocket.h"
#include "platform/core/VexThread.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "support/ExpectThrow.h"
#include "support/Gate.h"
#include "support/LoopbackPeer.h"
#include "support/ScopedEnv.h"
#include "support/SkarnTestServer.h"
#include "support/TestCertificates.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const std::string kPlainDoc = sessionDocument("<forceSSLStatus>OFF</forceSSLStatus>");

// Both ends of one served connection, whatever carries it.
struct Wire {
    std::function<std::string()> readSome;  // "" once the client has closed
    std::function<void(const std::string&)> send;
};

// What the server does once it has answered the first request of a connection.
enum Mischief { Behave, StrayInSegment, StrayLater, Late408ThenClose, LengthShort, StallBody };

std::string answer(const std::string& id, const std::string& extraHead = "", int lengthCut = 0)
{
    const std::string body = "<r>" + id + "</r>\n";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n" + extraHead +
           "Content-Length: " + std::to_string(body.size() - lengthCut) + "\r\n\r\n" + body;
}

// Serves requests sent with a content length, answering each with the text
// of its m:Echo element; the first answer of all is followed by `mischief`. Heads
// seen are kept for the test.
struct RequestLog {
    std::mutex lock;
    std::vector<std::string> heads;
    std::atomic<bool> clientClosed{false};
    std::atomic<bool> mischiefDone{false};  // the server misbehaves once, on its first answer
    void add(const std::string& head)
    {
        std::lock_guard<std::mutex> g(lock);
        heads.push_back(head);
    }
    std::string all()
    {
        std::lock_guard<std::mutex> g(lock);
        std::string text;
        for (const std::string& h : heads)
            text += h;
        return text;
    }
};

void serve(Wire& w, Mischief mischief, RequestLog& log)
{
    std::string in;
    for (int request = 0;; ++request) {
        std::size_t end;
        while ((end = in.find("\r\n\r\n")) == std::string::npos) {
            const std::string more = w.readSome();
            if (more.empty()) {
                log.clientClosed = true;
                return;
            }
            in += more;
        }
        const std::string head = in.substr(0, end + 4);
        log.add(head);
        const std::size_t at = head.find("Content-Length: ");
        const std::size_t length = at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 16, nullptr, 10);
        while (in.size() < end + 4 + length) {
            const std::string more = w.readSome();
            if (more.empty())
                return;
            in += more;
        }
        const std::string body = in.substr(end + 4, length);
        in.erase(0, end + 4 + length);
        const std::size_t open = body.find("m:Echo");
        const std::size_t from = body.find('>', open) + 1;
        const std::string id = body.substr(from, body.find('<', from) - from);
        if (request > 0 || mischief == Behave || log.mischiefDone.exchange(true)) {
            w.send(answer(id));
            continue;
        }
        switch (mischief) {
        case StrayInSegment:
            w.send(answer(id) + answer("stray"));
            break;
        case StrayLater:
            w.send(answer(id));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            w.send(answer("stray"));
            break;
        case Late408ThenClose:
            w.send(answer(id));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            w.send("HTTP/1.1 408 Request Timeout\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        case LengthShort:
            w.send(answer(id, "", 1));  // the body's last byte is left on the connection
            break;
        case StallBody:
            w.send(answer(id).substr(0, answer(id).size() - 4));  // and never the rest
            while (!w.readSome().empty()) {
            }
            log.clientClosed = true;
            return;
        case Behave:
            break;
        }
    }
}

LoopbackPeer::Handler rawServer(Mischief mischief, RequestLog& log)
{
    return [mischief, &log](int fd, const std::atomic<bool>& stop) {
        Wire w{[fd, &stop]() -> std::string {
                   char buffer[4096];
                   if (!LoopbackPeer::waitReadable(fd, stop))
                       return "";
                   const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                   return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
               },
               [fd](const std::string& bytes) { LoopbackPeer::sendAll(fd, bytes.data(), bytes.size()); }};
        serve(w, mischief, log);
    };
}

SkarnTestServer::SocketHandler tlsServer(Mischief mischief, RequestLog& log)
{
    return [mischief, &log](SkarnSocket& s) {
        Wire w{[&s]() -> std::string {
                   char buffer[4096];
                   const unsigned n = s.getInputStream().read(buffer, sizeof buffer);
                   return n == QioInputStream::END ? "" : std::string(buffer, n);
               },
               [&s](const std::string& bytes) { writeAll(s, bytes); }};
        serve(w, mischief, log);
    };
}

std::string tlsListener()
{
    const TestCertificates& c = TestCertificates::get();
    return tlsListenerDocument(c.serverCert, c.serverKey);
}

// One exchange on a new session from `bus`; the text of the answer's root.
std::string exchange(Skarn& bus, const std::string& url, const std::string& doc, const std::string& id)
{
    std::string u = url, d = doc;
    SkarnSession* s = bus.getSession(&u[0], &d[0], 0);
    std::unique_ptr<VexIDOM_Document> req(soapEnvelope(id)), resp(soapEnvelope(""));
    VexIDOM_Element root = req->getDocumentElement(), holder = resp->getDocumentElement();
    std::string text;
    try {
        s->setProperty("send-content-length", 1);
        s->doRequest(root, holder);
        text = holder.getLastChild().getTextContent().str();
    } catch (...) {
        s->release();
        throw;
    }
    s->release();
    return text;
}

// The trace of what `body` raised, or "nothing raised".
std::string anyRaised(const std::function<void()>& body)
{
    try {
        body();
    } catch (const VexThrowable& t) {
        return traceOf(t);
    }
    return "nothing raised";
}

struct FreshPool {
    FreshPool() { SkrConnectionPoolFactory::destroyInstance(); }
    ~FreshPool() { SkrConnectionPoolFactory::destroyInstance(); }
};

}  // namespace

// Two sessions one after the other; whatever the server left on the first
// connection, the second caller gets the answer to its own request.
TEST(TrustedConnections, EveryAnswerReachesItsOwnCaller)
{
    struct Row {
        const char* label; Mischief mischief; int connections;
    } rows[] = {
        {"well-behaved: one connection", Behave, 1},
        {"a second response in the same segment", StrayInSegment, 2},
        {"a second response 50 ms later", StrayLater, 2},
        {"a late 408, then the close", Late408ThenClose, 2},
        {"a length one short of the body", LengthShort, 2},
    };
    std::unique_ptr<Skarn> bus(Skarn::getSessionFactory());
    for (bool tls : {false, true})
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.label) + (tls ? " (TLS)" : " (plain)"));
            RequestLog log;
            std::unique_ptr<LoopbackPeer> plain;
            std::unique_ptr<SkarnTestServer> secure;
            FreshPool pool;  // client connections close before the servers go
            if (tls)
                secure.reset(new SkarnTestServer(tlsServer(row.mischief, log), tlsListener()));
            else
                plain.reset(new LoopbackPeer(LoopbackPeer::IPv4, rawServer(row.mischief, log)));
            const int port = tls ? secure->port() : plain->port();
            const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/svc";
            const std::string doc = tls ? tlsClientDocument() : kPlainDoc;
            noThrowable([&] { EXPECT_EQ("one", exchange(*bus, url, doc, "one")); });
            std::this_thread::sleep_for(std::chrono::milliseconds(500));  // what comes late has come
            noThrowable([&] { EXPECT_EQ("two", exchange(*bus, url, doc, "two")); });
            noThrowable([&] { EXPECT_EQ("three", exchange(*bus, url, doc, "three")); });
            EXPECT_EQ(row.connections, tls ? secure->accepted() : plain->accepted());
        }
}

// A pooled connection goes only to a request of the same transport and trust.
TEST(TrustedConnections, ConnectionsAreSharedOnlyByTheSameTransportAndTrust)
{
    const TestCertificates& c = TestCertificates::get();
    std::unique_ptr<Skarn> bus(Skarn::getSessionFactory());
    {
        // Plain first, then https to the same host and port: a new connection,
        // which a plain server cannot secure; the path never travels in clear.
        FreshPool pool;
        RequestLog log;
        LoopbackPeer peer(LoopbackPeer::IPv4, rawServer(Behave, log));
        const std::string key = "127.0.0.1:" + std::to_string(peer.port());
        EXPECT_EQ("one", exchange(*bus, "http://" + key + "/open", kPlainDoc, "one"));
        const std::string raised = anyRaised(
            [&] { exchange(*bus, "https://" + key + "/secret", tlsClientDocument("<connectAttempts>1</connectAttempts><handshakeTimeoutSeconds>1</handshakeTimeoutSeconds>"), "two");
        });
        EXPECT_NE(std::string::npos, raised.find("SkrSocket::open()")) << raised;
        EXPECT_EQ(2, peer.accepted());
        EXPECT_EQ(std::string::npos, log.all().find("/secret"));
    }
    struct Row {
        const char* label; std::string second; int connections;
    } rows[] = {
        {"the same document", tlsClientDocument(), 1},
        {"the same trust written otherwise", tlsClientDocument("<serviceID>other</serviceID>"), 1},
        {"verification off", tlsClientDocument("<verifyPeer>OFF</verifyPeer>"), 2},
        {"a client certificate",
         tlsClientDocument("<certificateFile>" + c.otherCert + "</certificateFile><privateKeyFile>" + c.otherKey +
                           "</privateKeyFile>"),
         2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        RequestLog log;
        SkarnTestServer server(tlsServer(Behave, log), tlsListener());
        FreshPool pool;
        const std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/svc";
        noThrowable([&] { EXPECT_EQ("one", exchange(*bus, url, tlsClientDocument(), "one")); });
        noThrowable([&] { EXPECT_EQ("two", exchange(*bus, url, row.second, "two")); });
        EXPECT_EQ(row.connections, server.accepted());
    }
}

// A URL is read before any connection is asked for; the request line and the
// Host header come from that one reading.
TEST(TrustedConnections, UrlsAreReadOnceBeforeAnyConnection)
{
    std::unique_ptr<Skarn> bus(Skarn::getSessionFactory());
    for (bool ipv6 : {false, true}) {
        FreshPool pool;
        RequestLog log;
        LoopbackPeer peer(ipv6 ? LoopbackPeer::IPv6 : LoopbackPeer::IPv4, rawServer(Behave, log));
        const std::string authority = (ipv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(peer.port());
        noThrowable([&] { EXPECT_EQ("a", exchange(*bus, "http://" + authority + "/x?q=1#part", kPlainDoc, "a")); });
        noThrowable([&] { EXPECT_EQ("b", exchange(*bus, "http://" + authority, kPlainDoc, "b")); });
        const std::string heads = log.all();
        EXPECT_NE(std::string::npos, heads.find("POST /x?q=1 HTTP/1.1\r\n")) << heads;
        EXPECT_NE(std::string::npos, heads.find("POST / HTTP/1.1\r\n")) << heads;
        EXPECT_NE(std::string::npos, heads.find("Host: " + authority + "\r\n")) << heads;
        EXPECT_EQ(1, peer.accepted());

        const std::string port = std::to_string(peer.port());
        struct Bad {
            std::string url, reason;
        } bad[] = {
            {"tcp://127.0.0.1:" + port + "/x", "scheme 'tcp' is not http or https"},
            {"http://127.0.0.1:99999/x", "URL 'http://127.0.0.1:99999/x' has no valid port"},
            {"http:///x", "URL 'http:///x' has no host"},
            {"http://[::1:" + port + "/x", "URL 'http://[::1:" + port + "/x' has an unclosed IPv6 literal"},
            {"127.0.0.1:" + port, "URL '127.0.0.1:" + port + "' has no scheme"},
        };
        for (const Bad& b : bad) {
            SCOPED_TRACE(b.url);
            const SkarnException e = expectSkarnError([&] { exchange(*bus, b.url, kPlainDoc, "c"); },
                                                      {30, 1841456247u, "", "SkrTheBus::getSession"});
            EXPECT_EQ(b.url + "|" + b.reason, parmsOf(e));
        }
        EXPECT_EQ(1, peer.accepted());
    }
}

// release() does not wait for a response the host stopped reading, and an
// echo file set by one session does not follow the connection to the next.
TEST(TrustedConnections, ReleaseNeitherWaitsNorLeavesItsEchoBehind)
{
    std::unique_ptr<Skarn> bus(Skarn::getSessionFactory());
    {
        FreshPool pool;
        RequestLog log;
        LoopbackPeer peer(LoopbackPeer::IPv4, rawServer(StallBody, log));
        std::string url = peer.url("/svc"), doc = kPlainDoc;
        SkarnSession* s = bus->getSession(&url[0], &doc[0], 0);
        std::unique_ptr<VexIDOM_Document> req(soapEnvelope("x"));
        VexIDOM_Element root = req->getDocumentElement();
        s->setProperty("send-content-length", 1);
        s->sendRequest(root);
        SkarnMessageReader& r = s->openResponse();
        char some[3];
        const unsigned got = r.openEnvelope().read(some, 3);
        EXPECT_TRUE(got >= 1 && got <= 3) << got;
        s->release();  // would wait for the body's end, which never comes
        EXPECT_TRUE(pollUntil([&] { return log.clientClosed.load(); }));
    }
    char dir[] = "/tmp/skarn-echo-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(dir));
    ::mkdir((std::string(dir) + "/home").c_str(), 0700);
    ::mkdir((std::string(dir) + "/logs").c_str(), 0700);
    ScopedEnv home("SKARN_HOME", std::string(dir) + "/home");
    SkarnTestServer server(SkarnTestServer::echo());
    FreshPool pool;
    std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/svc", doc = kPlainDoc;
    const std::string file = SkrSocket::echoPath("first-caller");
    auto size = [&] { struct stat st{}; return ::stat(file.c_str(), &st) == 0 ? st.st_size : -1; };
    std::unique_ptr<VexIDOM_Document> req(soapEnvelope("y")), resp(soapEnvelope(""));
    VexIDOM_Element root = req->getDocumentElement(), holder = resp->getDocumentElement();
    SkarnSession* first = bus->getSession(&url[0], &doc[0], 0);
    first->echo("first-caller", nullptr, 1);
    noThrowable([&] { first->doRequest(root, holder); });
    first->release();
    const long long traced = size();
    EXPECT_GT(traced, 0);
    SkarnSession* second = bus->getSession(&url[0], &doc[0], 0);
    noThrowable([&] { second->doRequest(root, holder); });
    second->release();
    EXPECT_EQ(1, server.accepted());
    EXPECT_EQ(traced, size());
    std::remove(file.c_str());
    ::rmdir((std::string(dir) + "/logs").c_str());
    ::rmdir((std::string(dir) + "/home").c_str());
    ::rmdir(dir);
}

namespace {
std::vector<int> g_sleeps;
void recordSleep(int seconds) { g_sleeps.push_back(seconds); }
}  // namespace

// Limits from the session document bound the connect and each response, for
// both socket classes.
TEST(TrustedConnections, SessionDocumentLimitsBoundEveryWait)
{
    for (const char* plainSockets : {"0", "1"}) {
        SCOPED_TRACE(std::string("non-SSL-sockets ") + plainSockets);
        std::unique_ptr<Skarn> bus(Skarn::getSessionFactory());
        bus->setProperty("non-SSL-sockets", plainSockets);
        const auto silent = [](int fd, const std::atomic<bool>& stop) {
            while (LoopbackPeer::waitReadable(fd, stop)) {
                char b[4096];
                if (::recv(fd, b, sizeof b, 0) <= 0)
                    return;
            }
        };
        const auto trickle = [](int fd, const std::atomic<bool>& stop) {
            char b[4096];
            if (!LoopbackPeer::waitReadable(fd, stop) || ::recv(fd, b, sizeof b, 0) <= 0)
                return;
            const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
            LoopbackPeer::sendAll(fd, head.data(), head.size());
            for (int i = 0; i < 100 && !stop; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                LoopbackPeer::sendAll(fd, " ", 1);
            }
        };
        struct Row {
            const char* label; LoopbackPeer::Handler server; std::string limits, trace;
        } rows[] = {
            {"a server that never answers", silent, "<readTimeoutSeconds>1</readTimeoutSeconds>",
             "1: SkarnSocketInputStream::read - the server went silent [VEX_THROW] < SkrMessageReader::openEnvelope "
             "[VEX_RETHROW]"},
            {"a server that trickles", trickle,
             "<readTimeoutSeconds>2</readTimeoutSeconds><responseTimeoutSeconds>3</responseTimeoutSeconds>",
             "1: SkarnSocketInputStream::read - the response took too long [VEX_THROW]"},
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(row.label);
            FreshPool pool;
            LoopbackPeer peer(LoopbackPeer::IPv4, row.server);
            const std::string doc = sessionDocument("<forceSSLStatus>OFF</forceSSLStatus>" + row.limits);
            EXPECT_EQ(row.trace, raised<QioIOTimeoutException>([&] { exchange(*bus, peer.url("/svc"), doc, "t"); }));
        }
        // A listener whose accept queue is full lets a connect hang: the
        // connect time-out ends it.
        {
            const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_storage address = loopbackAddress(0);
            socklen_t length = sizeof(sockaddr_in);
            ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&address), length));
            ASSERT_EQ(0, ::listen(listener, 0));
            ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
            const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
            ASSERT_EQ(0, ::connect(filler, reinterpret_cast<sockaddr*>(&address), length));
            const std::string url =
                "http://127.0.0.1:" + std::to_string(ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port));
            const std::string doc = sessionDocument(
                "<forceSSLStatus>OFF</forceSSLStatus><connectTimeoutSeconds>1</connectTimeoutSeconds>"
                "<connectAttempts>1</connectAttempts>");
            try {
                exchange(*bus, url, doc, "c");
                ADD_FAILURE() << "connected";
            } catch (SkarnException& e) {
                EXPECT_EQ(SkarnException::errSocket, e.getErrorCode());
                EXPECT_NE(std::string::npos, e.toString().str().find("timed out")) << e.toString().str();
            }
            ::close(filler);
            ::close(listener);
        }
        // Connect attempts and the pause between them.
        const VexThread::SleepFunction previous = VexThread::setSleepFunction(&recordSleep);
        for (int attempts : {1, 3}) {
            g_sleeps.clear();
            const std::string doc = sessionDocument("<forceSSLStatus>OFF</forceSSLStatus><connectAttempts>" +
                                                    std::to_string(attempts) +
                                                    "</connectAttempts><connectRetryPauseSeconds>7"
                                                    "</connectRetryPauseSeconds>");
            const std::string url = "http://127.0.0.1:" + std::to_string(LoopbackPeer::unusedPort(LoopbackPeer::IPv4));
            EXPECT_NE("nothing raised", anyRaised([&] { exchange(*bus, url, doc, "c"); }));
            EXPECT_EQ(std::vector<int>(static_cast<std::size_t>(attempts - 1), 7), g_sleeps);
        }
        VexThread::setSleepFunction(previous);
    }
}

// Sixteen threads share one pool: every answer matches its own request, and
// the pool never holds more connections than there are threads.
TEST(TrustedConnections, SixteenThreadsOnePool)
{
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        SkarnTestServer server(SkarnTestServer::echo(), tls ? tlsListener() : "");
        FreshPool pool;
        std::unique_ptr<Skarn> bus(Skarn::getSessionFactory());
        const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/svc";
        const std::string doc = tls ? tlsClientDocument() : kPlainDoc;
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 16; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < (tls ? 40 : 150); ++i) {
                    const std::string id = std::to_string(t) + "-" + std::to_string(i);
                    try {
                        std::string u = url, d = doc;
                        SkarnSession* s = bus->getSession(&u[0], &d[0], 0);
                        std::unique_ptr<VexIDOM_Document> req(soapEnvelope(id)), resp(soapEnvelope(""));
                        VexIDOM_Element root = req->getDocumentElement(), holder = resp->getDocumentElement();
                        s->doRequest(root, holder);
                        if (holder.getLastChild().getTextContent().str() != id)
                            ++wrong;
                        s->release();
                    } catch (...) {
                        ++wrong;
                    }
                }
            });
        for (std::thread& t : threads)
            t.join();
        EXPECT_EQ(0, wrong.load());
        EXPECT_LE(server.accepted(), 16);
    }
}

// The factory's properties are read under its lock while another thread
// changes them (a value read after the lock was let go could be freed).
TEST(TrustedConnections, FactoryPropertiesReadWhileChanged)
{
    std::unique_ptr<Skarn> bus(Skarn::getSessionFactory());
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const std::string longZero(300, '0');
        for (int i = 0; !done; ++i)
            bus->setProperty("non-SSL-sockets", i % 2 ? longZero : std::string("0"));
    });
    int secure = 0;
    for (int i = 0; i < 3000; ++i) {
        SkarnSocket* s = bus->getSocket();
        secure += dynamic_cast<SkrSocket*>(s) != nullptr;
        s->release();
    }
    done = true;
    writer.join();
    EXPECT_EQ(3000, secure);
}
