// Echo through the public entry points on keep-alive loopback connections,
// beside a raw-socket HTTP ping-pong of the same bytes in the same run:
//   - dom:     a client session's doRequest with an envelope carrying the
//              payload as text, the support server loop answering with
//              getEnvelope/setEnvelope (what hosts do);
//   - stream:  the same envelope bytes written and read through the writer's
//              and reader's envelope streams, with Content-Length or chunked;
//   - raw:     send/recv of the same HTTP bytes, the baseline.
// Payloads of 1 KiB and 64 KiB; one session, and eight on eight threads.
// Counters: exchanges per second, its ratio to the raw run of the same size
// and thread count (raw runs first), CPU microseconds per exchange (client
// and server together, one process), and allocations per exchange on each
// side (every malloc, calloc and realloc, counted by the thread that made it:
// benchmark threads are the client, the rest the server). The benchmark's
// own reading reuses its strings; the raw run's own strings show what the
// harness itself allocates. Every answer is checked, so a broken fast path
// cannot look fast.
#include "api/Skarn.h"
#include "api/SkarnMessageReader.h"
#include "api/SkarnMessageWriter.h"
#include "api/SkarnProcess.h"
#include "api/SkarnServerSession.h"
#include "api/SkarnSession.h"
#include "conn/SkrConnectionPoolFactory.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/streams/QioInputStream.h"
#include "platform/streams/QioOutputStream.h"
#include "support/LoopbackPeer.h"
#include "support/SkarnTestServer.h"

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

// Every allocation of the process goes through these (the toolkit, Xerces and
// the C++ library call malloc), so counting here misses none.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);

namespace {

std::atomic<long> clientAllocations{0}, serverAllocations{0};
thread_local bool clientThread = false;

void countAllocation()
{
    (clientThread ? clientAllocations : serverAllocations).fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

extern "C" void* malloc(std::size_t n)
{
    countAllocation();
    return __libc_malloc(n);
}

extern "C" void* calloc(std::size_t n, std::size_t size)
{
    countAllocation();
    return __libc_calloc(n, size);
}

extern "C" void* realloc(void* p, std::size_t n)
{
    countAllocation();
    return __libc_realloc(p, n);
}

namespace {

double cpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string payload(std::size_t n)
{
    std::string s(n, 'x');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7) % 26);
    return s;
}

// The serialised request envelope of a payload size, as the DOM path writes it.
const std::string& envelopeBytes(std::size_t n)
{
    static std::map<std::size_t, std::string> made;
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    std::string& bytes = made[n];
    if (bytes.empty()) {
        std::unique_ptr<VexIDOM_Document> req(soapEnvelope(payload(n)));
        bytes = serialiseNode(req->getDocumentElement());
    }
    return bytes;
}

// Exchanges per second of the raw runs, by payload size and thread count.
std::map<std::pair<int64_t, int>, double> rawRate;

// Measures the run of thread 0, per exchange of all threads: CPU of the
// process, allocations of each side, the rate and its ratio to raw.
class Meter {
public:
    explicit Meter(benchmark::State& st) : m_st(st)
    {
        clientThread = true;
        if (st.thread_index() == 0) {
            m_cpu = cpuSeconds();
            m_client = clientAllocations.load();
            m_server = serverAllocations.load();
            m_start = std::chrono::steady_clock::now();
        }
    }
    void finish(bool raw)
    {
        m_st.SetItemsProcessed(m_st.iterations());
        if (m_st.thread_index() != 0)
            return;
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        double exchanges = static_cast<double>(m_st.iterations()) * m_st.threads();
        double rate = exchanges / wall;
        std::pair<int64_t, int> key(m_st.range(0), m_st.threads());
        if (raw)
            rawRate[key] = rate;
        if (rawRate.count(key))
            m_st.counters["ratio"] = rate / rawRate[key];
        m_st.counters["cpu_us"] = (cpuSeconds() - m_cpu) * 1e6 / exchanges;
        m_st.counters["allocs_client"] = (clientAllocations.load() - m_client) / exchanges;
        m_st.counters["allocs_server"] = (serverAllocations.load() - m_server) / exchanges;
    }

private:
    benchmark::State& m_st;
    double m_cpu = 0;
    long m_client = 0, m_server = 0;
    std::chrono::steady_clock::time_point m_start;
};

std::string urlOf(const SkarnTestServer& server)
{
    return "http://127.0.0.1:" + std::to_string(server.port()) + "/svc";
}

SkarnTestServer* domServer()
{
    static SkarnTestServer* server = new SkarnTestServer(SkarnTestServer::echo());
    return server;
}

// Reads the stream to its end into `out`, whose storage the next exchange
// reuses: the benchmark's own reading allocates nothing in the steady state.
void readAll(QioInputStream& in, std::string& out)
{
    out.clear();
    char piece[16384];
    for (unsigned n; (n = in.read(piece, sizeof piece)) != QioInputStream::END;)
        out.append(piece, n);
}

// Echoes the envelope's bytes through the envelope streams, framed as the request.
SkarnTestServer* streamServer()
{
    static SkarnTestServer* server = new SkarnTestServer([](SkarnServerSession& s) {
        static const std::string sendLength = "send-content-length";  // a literal key costs a string per call
        thread_local std::string bytes;
        SkarnMessageReader& r = s.openRequest();
        QioInputStream& in = r.openEnvelope();
        readAll(in, bytes);
        r.closeEnvelope(in);
        s.setProperty(sendLength, r.getHeader("content-length") ? 1 : 0);
        s.closeRequest(r);
        SkarnMessageWriter& w = s.openResponse(0);
        QioOutputStream& out = w.openEnvelope();
        out.write(bytes.data(), static_cast<unsigned>(bytes.size()));
        w.closeEnvelope(out);
        s.closeResponse(w);
        return true;
    });
    return server;
}

// One session of a thread, released when the benchmark ends.
struct Client {
    std::unique_ptr<Skarn> bus{Skarn::getSessionFactory()};
    SkarnSession* session = nullptr;
    explicit Client(const SkarnTestServer& server, bool contentLength)
    {
        bus->setProperty("non-SSL-sockets", 1);
        std::string url = urlOf(server);
        session = bus->getSession(&url[0], nullptr, 0);
        session->setProperty("send-content-length", contentLength ? 1 : 0);
    }
    ~Client() { session->release(); }
};

void BM_Dom(benchmark::State& st)
{
    const std::string text = payload(static_cast<std::size_t>(st.range(0)));
    Client c(*domServer(), true);
    std::unique_ptr<VexIDOM_Document> req(soapEnvelope(text));
    VexIDOM_Element root = req->getDocumentElement();
    Meter meter(st);
    for (auto _ : st) {
        std::unique_ptr<VexIDOM_Document> resp(soapEnvelope(""));
        VexIDOM_Element holder = resp->getDocumentElement();
        c.session->doRequest(root, holder);
        if (holder.getLastChild().getTextContent().str() != text)
            throw std::runtime_error("echo differs");
    }
    meter.finish(false);
}

// The envelope's bytes through the streams; arg 1: 1 Content-Length, 0 chunked.
void BM_Stream(benchmark::State& st)
{
    const std::string& bytes = envelopeBytes(static_cast<std::size_t>(st.range(0)));
    Client c(*streamServer(), st.range(1) != 0);
    std::string got;
    Meter meter(st);
    for (auto _ : st) {
        SkarnMessageWriter& w = c.session->openRequest(0);
        QioOutputStream& out = w.openEnvelope();
        out.write(bytes.data(), static_cast<unsigned>(bytes.size()));
        w.closeEnvelope(out);
        c.session->closeRequest(w);
        SkarnMessageReader& r = c.session->openResponse();
        QioInputStream& in = r.openEnvelope();
        readAll(in, got);
        r.closeEnvelope(in);
        c.session->closeResponse(r);
        if (got != bytes)
            throw std::runtime_error("stream echo differs");
    }
    meter.finish(false);
}

// The raw peer answers each request (head, then Content-Length bytes) with a
// response carrying the same body, as the SOAP server loop does.
void rawServe(int fd, const std::atomic<bool>& stop)
{
    std::string in;
    char buf[65536];
    for (;;) {
        std::size_t head = in.find("\r\n\r\n");
        std::size_t at = in.find("Content-Length: ");
        if (head != std::string::npos && at != std::string::npos) {
            std::size_t len = std::strtoul(in.c_str() + at + 16, nullptr, 10);
            if (in.size() >= head + 4 + len) {
                std::string out = "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=UTF-8\r\nContent-Length: " +
                                  std::to_string(len) + "\r\n\r\n" + in.substr(head + 4, len);
                in.erase(0, head + 4 + len);
                if (!LoopbackPeer::sendAll(fd, out.data(), out.size()))
                    return;
                continue;
            }
        }
        if (!LoopbackPeer::waitReadable(fd, stop))
            return;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        in.append(buf, static_cast<std::size_t>(n));
    }
}

void BM_Raw(benchmark::State& st)
{
    static LoopbackPeer* peer = new LoopbackPeer(LoopbackPeer::IPv4, rawServe);
    const std::string& body = envelopeBytes(static_cast<std::size_t>(st.range(0)));
    const std::string request = "POST /svc HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml; charset=UTF-8\r\n"
                                "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_storage a = peer->address();
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(sockaddr_in)) != 0)
        throw std::runtime_error("connect");
    Meter meter(st);
    for (auto _ : st) {
        LoopbackPeer::sendAll(fd, request.data(), request.size());
        std::string got = readUntil(fd, body);
        if (got.size() < body.size() || got.compare(got.size() - body.size(), body.size(), body) != 0)
            throw std::runtime_error("ping-pong differs");
    }
    meter.finish(true);
    ::close(fd);
}

// Raw first for each size and thread count: the others' ratios divide by it.
void registerAll(int threads)
{
    for (int size : {1024, 65536}) {
        benchmark::RegisterBenchmark("raw", BM_Raw)->Arg(size)->Threads(threads)->UseRealTime();
        benchmark::RegisterBenchmark("stream_length", BM_Stream)->Args({size, 1})->Threads(threads)->UseRealTime();
        benchmark::RegisterBenchmark("stream_chunked", BM_Stream)->Args({size, 0})->Threads(threads)->UseRealTime();
        benchmark::RegisterBenchmark("dom", BM_Dom)->Arg(size)->Threads(threads)->UseRealTime();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    SkarnProcessInitialize("bench");
    registerAll(1);
    registerAll(8);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SkrConnectionPoolFactory::destroyInstance();
    return 0;
}
