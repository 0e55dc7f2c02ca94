// The server runtime against clients that misbehave on purpose, on real
// loopback sockets, plain and TLS: what each gets on the wire, whether the
// connection ends, and which counter says so. Limits are small (a second) so
// that every case ends quickly; each read is bounded.
#include "api/SkarnMessageReader.h"
#include "api/SkarnMessageWriter.h"
#include "api/SkarnServerSession.h"
#include "conn/SkarnServerSocket.h"
#include "platform/streams/QioInputStream.h"
#include "platform/streams/QioOutputStream.h"
#include "runtime/SkarnServerRuntime.h"
#include "support/Gate.h"
#include "support/TestCertificates.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kEnvelope =
    "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><x/></soap:Body></soap:Envelope>";

std::string post(const std::string& body, const std::string& extra = "")
{
    return "POST /svc HTTP/1.1\r\nHost: t\r\nContent-Type: text/xml\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Answers each request with "<n>" and the bytes of its body; "/big" with a
// response of 32 MiB (more than loopback buffers hold); "/wait" only once the gate opens.
struct TestHandler : SkarnServerRuntime::Handler {
    Gate gate;
    std::atomic<int> served{0};
    std::atomic<int> waiting{0};  // requests to "/wait" that reached the handler

    void serve(SkarnServerSession& s, SkarnServerRuntime::Exchange& e) override
    {
        SkarnMessageReader& r = s.openRequest();
        std::string body;
        QioInputStream& in = r.openEnvelope();
        char buffer[65536];
        for (unsigned n; (n = in.read(buffer, sizeof buffer)) != QioInputStream::END;)
            body.append(buffer, n);
        r.closeEnvelope(in);
        s.closeRequest(r);
        if (e.path == "/wait") {
            ++waiting;
            gate.wait();
        }
        const std::string answer =
            e.path == "/big" ? std::string(32 << 20, 'b') : "<n>" + std::to_string(body.size()) + "</n>";
        s.setProperty("send-content-length", 1);
        SkarnMessageWriter& w = s.openResponse(0);
        QioOutputStream& out = w.openEnvelope();
        out.write(answer.data(), static_cast<unsigned>(answer.size()));
        w.closeEnvelope(out);
        s.closeResponse(w);
        e.status = 200;
        ++served;
    }
};

std::string echoAnswer(std::size_t bodyBytes, bool close = false)
{
    const std::string body = "<n>" + std::to_string(bodyBytes) + "</n>";
    return std::string("HTTP/1.1 200 OK\r\n") + (close ? "Connection: close\r\n" : "") +
           "Content-Type: text/xml; charset=UTF-8\r\nContent-ID: envelope\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A runtime serving on 127.0.0.1 from a thread of its own; stopped and joined at the end.
struct Server {
    TestHandler handler;
    std::unique_ptr<SkarnServerRuntime> runtime;
    std::thread thread;
    int port = 0;
    bool tls;

    Server(bool tls, SkarnServerRuntime::Limits limits) : tls(tls)
    {
        runtime.reset(new SkarnServerRuntime(handler, limits));
        const TestCertificates& c = TestCertificates::get();
        const std::string doc = tls ? tlsListenerDocument(c.serverCert, c.serverKey) : "";
        port = runtime->listen("127.0.0.1", 0, doc.empty() ? nullptr : doc.c_str(), tls ? 1 : 0);
        thread = std::thread([this] { runtime->run(); });
    }
    ~Server()
    {
        handler.gate.open();
        runtime->stop();
        thread.join();
    }
};

SkarnServerRuntime::Limits smallLimits()
{
    SkarnServerRuntime::Limits l;
    l.idleTimeoutSeconds = 1;
    l.headTimeoutSeconds = 1;
    l.handshakeTimeoutSeconds = 1;
    l.writeTimeoutSeconds = 1;
    l.bodyMinBytesPerSecond = 64 * 1024;
    l.headLimitBytes = 1024;
    l.maxBodyBytes = 1 << 20;
    l.workers = 2;
    l.drainSeconds = 5;
    return l;
}

// A raw client, plain or TLS (no verification: the server's answers are the
// subject). Every read waits at most `kReadMillis`.
class Client {
public:
    static const int kReadMillis = 8000;

    Client(int port, bool tls, bool handshake = true)
    {
        ::signal(SIGPIPE, SIG_IGN);  // the test's TLS client writes with write(2) to servers that close
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<unsigned short>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval t{kReadMillis / 1000, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        if (tls && handshake && m_connected) {
            static SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
            m_ssl = SSL_new(ctx);
            SSL_set_fd(m_ssl, m_fd);
            m_connected = SSL_connect(m_ssl) == 1;
        }
    }
    ~Client()
    {
        if (m_ssl)
            SSL_free(m_ssl);
        ::close(m_fd);
    }
    bool connected() const { return m_connected; }
    void send(const std::string& bytes)
    {
        if (m_ssl)
            SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size()));
        else
            ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // Some bytes; "" at the end of the stream, a failure or the read limit.
    std::string readSome()
    {
        char buffer[65536];
        const long n = m_ssl ? SSL_read(m_ssl, buffer, sizeof buffer) : ::recv(m_fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
    // Everything until the server closes (or a read waits too long).
    std::string readToEnd()
    {
        std::string all;
        for (std::string s; !(s = readSome()).empty();)
            all += s;
        return all;
    }
    // One whole response: its head and a body of its Content-Length.
    std::string readResponse()
    {
        std::string all;
        for (;;) {
            const std::size_t end = all.find("\r\n\r\n");
            if (end != std::string::npos) {
                const std::size_t at = all.find("Content-Length: ");
                const std::size_t length = at < end ? std::stoul(all.substr(at + 16)) : 0;
                if (all.size() >= end + 4 + length) {
                    m_rest = all.substr(end + 4 + length);
                    return all.substr(0, end + 4 + length);
                }
            }
            const std::string more = m_rest.empty() ? readSome() : m_rest;
            m_rest.clear();
            if (more.empty())
                return all;
            all += more;
        }
    }

private:
    int m_fd;
    SSL* m_ssl = nullptr;
    bool m_connected = false;
    std::string m_rest;
};

std::string edge(const std::string& statusLine, const std::string& body, bool close, const std::string& extra = "")
{
    return "HTTP/1.1 " + statusLine + "\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extra + (close ? "Connection: close\r\n" : "") + "\r\n" + body;
}

class ServerRuntime : public ::testing::TestWithParam<bool> {};

TEST_P(ServerRuntime, EdgeAnswersTable)
{
    Server server(GetParam(), smallLimits());
    const std::string bad = edge("400 Bad Request", "bad request head or framing\n", true);
    struct Row {
        const char* label;
        std::string request, want;
        bool kept;  // the connection serves a next request
    } rows[] = {
        {"health GET", "GET /health HTTP/1.1\r\nHost: t\r\n\r\n", edge("200 OK", "ok\n", false), true},
        {"health HEAD, query ignored", "HEAD /health?x=1 HTTP/1.1\r\nConnection: close\r\n\r\n",
         edge("200 OK", "ok\n", true).substr(0, edge("200 OK", "ok\n", true).size() - 3), false},
        {"health GET over HTTP/1.0", "GET /health HTTP/1.0\r\n\r\n", edge("200 OK", "ok\n", true), false},
        {"GET elsewhere", "GET / HTTP/1.1\r\n\r\n",
         edge("405 Method Not Allowed", "only POST carries a SOAP request\n", true, "Allow: POST\r\n"), false},
        {"PUT", "PUT /svc HTTP/1.1\r\nContent-Length: 2\r\n\r\nab",
         edge("405 Method Not Allowed", "only POST carries a SOAP request\n", true, "Allow: POST\r\n"), false},
        {"POST without a length", "POST /svc HTTP/1.1\r\nHost: t\r\n\r\n",
         edge("411 Length Required", "a POST needs Content-Length or chunked framing\n", true), false},
        {"two lengths", post(kEnvelope, "Content-Length: 3\r\n"), bad, false},
        {"length and chunking", post(kEnvelope, "Transfer-Encoding: chunked\r\n"), bad, false},
        {"chunking not last", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked, gzip\r\n\r\n", bad, false},
        {"no version", "POST /svc\r\n\r\n", bad, false},
        {"space before colon", "POST /svc HTTP/1.1\r\nContent-Length : 2\r\n\r\nab", bad, false},
        {"folded line", "POST /svc HTTP/1.1\r\nX-A: 1\r\n b\r\nContent-Length: 2\r\n\r\nab", bad, false},
        {"HTTP/2.0", "POST /svc HTTP/2.0\r\n\r\n",
         edge("505 HTTP Version Not Supported", "only HTTP/1.0 and HTTP/1.1 are served\n", true), false},
        {"body over the limit", "POST /svc HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n",
         edge("413 Payload Too Large", "the request body is larger than the limit\n", true), false},
        {"head over the limit", post(kEnvelope, "X-Pad: " + std::string(1100, 'p') + "\r\n"),
         edge("431 Request Header Fields Too Large", "the request head is larger than the limit\n", true), false},
    };
    unsigned long long answers = 0;
    for (const Row& row : rows) {
        Client client(server.port, server.tls);
        ASSERT_TRUE(client.connected()) << row.label;
        client.send(row.request);
        ++answers;
        if (row.kept) {
            EXPECT_EQ(row.want, client.readResponse()) << row.label;
            client.send(post(kEnvelope));
            EXPECT_EQ(echoAnswer(kEnvelope.size()), client.readResponse()) << row.label;
        } else {
            EXPECT_EQ(row.want, client.readToEnd()) << row.label;  // and closed after the answer
        }
    }
    EXPECT_EQ(answers, server.runtime->counters().edgeAnswers);
}

TEST_P(ServerRuntime, PipelinedRequestsAreAnsweredInOrder)
{
    Server server(GetParam(), smallLimits());
    Client client(server.port, server.tls);
    client.send(post("<a/>") + "GET /health HTTP/1.1\r\n\r\n" + post("<bb/>", "Connection: close\r\n"));
    EXPECT_EQ(echoAnswer(4) + edge("200 OK", "ok\n", false) + echoAnswer(5, true), client.readToEnd());
    EXPECT_EQ(3u, server.runtime->counters().requests);
}

// Clients that hold a connection without finishing what they started: each
// ends on its own time-out, with the answer it deserves and the counter.
TEST_P(ServerRuntime, MisbehavingClientsTable)
{
    using Counters = SkarnServerRuntime::Counters;
    struct Row {
        const char* label;
        std::function<std::string(Client&)> act;  // what the client does; what it then reads
        std::string want;
        unsigned long long Counters::*counter;
    } rows[] = {
        {"silent", [](Client& c) { return c.readToEnd(); }, "", &Counters::idleTimeouts},
        {"head trickles",
         [](Client& c) {
             for (char ch : std::string("POST /svc HTTP/1.1\r\n")) {
                 c.send(std::string(1, ch));
                 std::this_thread::sleep_for(std::chrono::milliseconds(100));
             }
             return c.readToEnd();
         },
         edge("408 Request Timeout", "the request did not arrive in time\n", true), &Counters::headTimeouts},
        {"body stops half-way",
         [](Client& c) {
             c.send("POST /svc HTTP/1.1\r\nContent-Length: 200000\r\n\r\n" + std::string(100000, 'x'));
             return c.readToEnd();
         },
         edge("408 Request Timeout", "the request did not arrive in time\n", true), &Counters::bodyTimeouts},
        {"bad chunking", [](Client& c) {
             c.send("POST /svc HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n");
             return c.readToEnd();
         },
         edge("400 Bad Request", "bad request head or framing\n", true), &Counters::edgeAnswers},
        {"never reads its answer",
         [](Client& c) {
             c.send("POST /big HTTP/1.1\r\nContent-Length: 4\r\n\r\n<a/>");
             std::this_thread::sleep_for(std::chrono::seconds(4));  // the server gives up first
             const std::string got = c.readToEnd();
             return got.size() < (32u << 20) ? std::string("cut") : got;
         },
         "cut", &Counters::writeTimeouts},
    };
    for (const Row& row : rows) {
        Server server(GetParam(), smallLimits());
        {
            Client client(server.port, server.tls);
            ASSERT_TRUE(client.connected()) << row.label;
            EXPECT_EQ(row.want, row.act(client)) << row.label;
            EXPECT_EQ(1u, server.runtime->counters().*row.counter) << row.label;
        }
        // Once the client has gone too, the server holds nothing of it.
        for (int i = 0; i < 500 && server.runtime->counters().open != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(0u, server.runtime->counters().open) << row.label;
    }
}

// Slow and silent clients are held by the event loop, not by workers: with
// two workers, eight of each do not keep a normal client waiting.
TEST_P(ServerRuntime, SlowClientsCostNoWorker)
{
    SkarnServerRuntime::Limits limits = smallLimits();
    limits.idleTimeoutSeconds = limits.headTimeoutSeconds = 30;
    Server server(GetParam(), limits);
    std::vector<std::unique_ptr<Client>> held;
    for (int i = 0; i < 8; ++i) {
        held.emplace_back(new Client(server.port, server.tls));
        held.emplace_back(new Client(server.port, server.tls));
        held.back()->send("POST /svc HTTP/1.1\r\nContent-Le");  // and no more
    }
    Client normal(server.port, server.tls);
    for (int i = 0; i < 3; ++i) {
        normal.send(post(kEnvelope));
        EXPECT_EQ(echoAnswer(kEnvelope.size()), normal.readResponse());
    }
    // The normal client's connection goes back to the loop just after its
    // answer left; a snapshot taken while it changes state may miss it.
    SkarnServerRuntime::Counters c = server.runtime->counters();
    for (int i = 0; i < 500 && (c.active != 0 || c.open != 17); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        c = server.runtime->counters();
    }
    EXPECT_EQ(17u, c.open);
    EXPECT_EQ(8u, c.reading);
    EXPECT_EQ(0u, c.active);
}

// A handler that holds its request holds no other: the thread serving it
// may have been leading the loop, and another takes the loop over, for the
// requests of connections kept alive and of new ones alike.
TEST_P(ServerRuntime, AHeldRequestHoldsNoOther)
{
    SkarnServerRuntime::Limits limits = smallLimits();
    limits.idleTimeoutSeconds = limits.headTimeoutSeconds = 30;
    limits.workers = 3;
    Server server(GetParam(), limits);
    Client kept(server.port, server.tls), held(server.port, server.tls);
    kept.send(post("<a/>"));
    EXPECT_EQ(echoAnswer(4), kept.readResponse());
    held.send("POST /wait HTTP/1.1\r\nContent-Length: 4\r\n\r\n<a/>");
    for (int i = 0; i < 400 && server.handler.waiting == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(1, server.handler.waiting.load());
    for (int i = 0; i < 3; ++i) {
        kept.send(post("<bb/>"));
        EXPECT_EQ(echoAnswer(5), kept.readResponse());
        Client fresh(server.port, server.tls);
        fresh.send(post("<ccc/>"));
        EXPECT_EQ(echoAnswer(6), fresh.readResponse());
    }
    EXPECT_EQ(1, server.handler.waiting.load());  // still held while the others were answered
    server.handler.gate.open();
    EXPECT_EQ(echoAnswer(4), held.readResponse());
}

// One worker is the loop's own thread: it serves every request it finds,
// those that come together on several connections too, and still stops.
TEST_P(ServerRuntime, OneWorkerServesEveryConnection)
{
    SkarnServerRuntime::Limits limits = smallLimits();
    limits.workers = 1;
    limits.idleTimeoutSeconds = 30;
    Server server(GetParam(), limits);
    Client a(server.port, server.tls), b(server.port, server.tls), c(server.port, server.tls);
    for (int round = 0; round < 3; ++round) {
        a.send(post("<a/>"));
        b.send(post("<bb/>") + post("<a/>"));
        c.send(post("<ccc/>"));
        EXPECT_EQ(echoAnswer(4), a.readResponse());
        EXPECT_EQ(echoAnswer(5), b.readResponse());
        EXPECT_EQ(echoAnswer(4), b.readResponse());
        EXPECT_EQ(echoAnswer(6), c.readResponse());
    }
    server.runtime->stop();  // the count is final once run() has returned
    server.thread.join();
    server.thread = std::thread([] {});  // for the destructor's join
    EXPECT_EQ(12u, server.runtime->counters().requests);
}

TEST_P(ServerRuntime, OverTheConnectionLimitIsAcceptedAndClosed)
{
    SkarnServerRuntime::Limits limits = smallLimits();
    limits.maxConnections = 2;
    limits.idleTimeoutSeconds = 30;
    Server server(GetParam(), limits);
    Client a(server.port, server.tls), b(server.port, server.tls);
    a.send(post("<a/>"));
    EXPECT_EQ(echoAnswer(4), a.readResponse());
    b.send(post("<a/>"));
    EXPECT_EQ(echoAnswer(4), b.readResponse());
    Client third(server.port, server.tls, false);
    EXPECT_EQ("", third.readToEnd());  // closed at once, nothing said
    EXPECT_EQ(1u, server.runtime->counters().refused);
}

TEST_P(ServerRuntime, OverTheConnectionLimitWaitsInTheListenQueue)
{
    SkarnServerRuntime::Limits limits = smallLimits();
    limits.maxConnections = 1;
    limits.refuseOverLimit = false;
    limits.idleTimeoutSeconds = 30;
    Server server(GetParam(), limits);
    std::unique_ptr<Client> first(new Client(server.port, server.tls));
    first->send(post("<a/>"));
    EXPECT_EQ(echoAnswer(4), first->readResponse());
    std::string second;
    std::thread waiting([&] {
        Client c(server.port, server.tls);  // its handshake waits for the accept too
        c.send(post("<bb/>"));
        second = c.readResponse();
    });
    for (int i = 0; i < 50 && server.runtime->counters().accepted < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(1u, server.runtime->counters().accepted);  // the listener rests while the limit is reached
    first.reset();  // the first client leaves: the second is accepted and served
    waiting.join();
    EXPECT_EQ(echoAnswer(5), second);
    EXPECT_EQ(0u, server.runtime->counters().refused);
}

// A stop lets the request in flight finish, says "Connection: close" on its
// answer, closes idle connections and makes run() return.
TEST_P(ServerRuntime, StopWhileBusy)
{
    Server server(GetParam(), smallLimits());
    Client idle(server.port, server.tls), busy(server.port, server.tls);
    idle.send(post("<a/>"));
    EXPECT_EQ(echoAnswer(4), idle.readResponse());
    busy.send("POST /wait HTTP/1.1\r\nContent-Length: 4\r\n\r\n<a/>");
    // In flight: its handler has it (the idle client's own exchange may still be counted active).
    for (int i = 0; i < 400 && server.handler.waiting == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server.runtime->stop();
    EXPECT_EQ("", idle.readToEnd());  // the idle connection closes at once
    server.handler.gate.open();
    EXPECT_EQ(echoAnswer(4, true), busy.readToEnd());
    server.thread.join();
    server.thread = std::thread([] {});  // for the destructor's join
    Client late(server.port, server.tls, false);
    EXPECT_FALSE(late.connected());  // no longer listening
}

// A host may hand over a server socket it opened through the factory.
TEST(ServerRuntimeListener, TakesOverAHostsServerSocket)
{
    TestHandler handler;
    SkarnServerRuntime runtime(handler, smallLimits());
    char address[] = "127.0.0.1";
    const int port = runtime.listen(SkarnServerSocket::getServerSocket(address, 0, nullptr, 1, 0));
    std::thread serving([&] { runtime.run(); });
    {
        Client client(port, false);
        client.send(post("<a/>"));
        EXPECT_EQ(echoAnswer(4), client.readResponse());
    }
    runtime.stop();
    serving.join();
    EXPECT_EQ(1u, runtime.counters().requests);
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, ServerRuntime, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Tls" : "Plain"; });

}  // namespace
