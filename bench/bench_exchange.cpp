// SOAP echo through the public entry points (a client session's doRequest
// with an envelope carrying the payload as text; the support server loop
// answering with an envelope carrying it back) on keep-alive loopback
// connections, beside a raw-socket HTTP ping-pong of the same bytes in the
// same run. Payloads of 1 KiB and 64 KiB; one session, and eight sessions on
// eight threads. Counters: exchanges per second and CPU microseconds per
// exchange, client and server together (one process). Every answer is checked.
#include "api/Skarn.h"
#include "api/SkarnProcess.h"
#include "api/SkarnSession.h"
#include "conn/SkrConnectionPoolFactory.h"
#include "platform/dom/VexIDOM_Document.h"
#include "support/LoopbackPeer.h"
#include "support/SkarnTestServer.h"

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

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

// Process CPU over the run of thread 0, per exchange of all threads.
struct CpuMeter {
    double start = 0;
    void begin(benchmark::State& st)
    {
        if (st.thread_index() == 0)
            start = cpuSeconds();
    }
    void end(benchmark::State& st)
    {
        st.SetItemsProcessed(st.iterations());
        if (st.thread_index() == 0)
            st.counters["cpu_us_per_exchange"] = benchmark::Counter(
                (cpuSeconds() - start) * 1e6 / (static_cast<double>(st.iterations()) * st.threads()));
    }
};

SkarnTestServer* soapServer()
{
    static SkarnTestServer* server = new SkarnTestServer(SkarnTestServer::echo());
    return server;
}

CpuMeter soapMeter, rawMeter;

void BM_SoapEcho(benchmark::State& st)
{
    const std::string text = payload(static_cast<std::size_t>(st.range(0)));
    std::unique_ptr<Skarn> bus(Skarn::getSessionFactory());
    bus->setProperty("non-SSL-sockets", 1);
    std::string url = "http://127.0.0.1:" + std::to_string(soapServer()->port()) + "/svc";
    SkarnSession* s = bus->getSession(&url[0], nullptr, 0);
    s->setProperty("send-content-length", 1);
    std::unique_ptr<VexIDOM_Document> req(soapEnvelope(text));
    VexIDOM_Element root = req->getDocumentElement();
    soapMeter.begin(st);
    for (auto _ : st) {
        std::unique_ptr<VexIDOM_Document> resp(soapEnvelope(""));
        VexIDOM_Element holder = resp->getDocumentElement();
        s->doRequest(root, holder);
        if (holder.getLastChild().getTextContent().str() != text)
            throw std::runtime_error("echo differs");
    }
    soapMeter.end(st);
    s->release();
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

void BM_RawPingPong(benchmark::State& st)
{
    static LoopbackPeer* peer = new LoopbackPeer(LoopbackPeer::IPv4, rawServe);
    std::unique_ptr<VexIDOM_Document> req(soapEnvelope(payload(static_cast<std::size_t>(st.range(0)))));
    const std::string body = serialiseNode(req->getDocumentElement());
    const std::string request = "POST /svc HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml; charset=UTF-8\r\n"
                                "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_storage a = peer->address();
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(sockaddr_in)) != 0)
        throw std::runtime_error("connect");
    rawMeter.begin(st);
    for (auto _ : st) {
        LoopbackPeer::sendAll(fd, request.data(), request.size());
        std::string got = readUntil(fd, body);
        if (got.size() < body.size() || got.compare(got.size() - body.size(), body.size(), body) != 0)
            throw std::runtime_error("ping-pong differs");
    }
    rawMeter.end(st);
    ::close(fd);
}

BENCHMARK(BM_SoapEcho)->Arg(1024)->Arg(65536)->UseRealTime();
BENCHMARK(BM_RawPingPong)->Arg(1024)->Arg(65536)->UseRealTime();
BENCHMARK(BM_SoapEcho)->Arg(1024)->Arg(65536)->Threads(8)->UseRealTime();
BENCHMARK(BM_RawPingPong)->Arg(1024)->Arg(65536)->Threads(8)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    SkarnProcessInitialize("bench");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SkrConnectionPoolFactory::destroyInstance();
    return 0;
}
