// Messages on one loopback connection, beside raw send/recv of the same bytes
// measured in the same run:
//   - exchanges per second: a 1 KiB SOAP envelope as request and as response,
//     written by SkrMessageWriter and read by SkrMessageReader on both ends
//     (server on a second thread); as streams, and with DOM (setEnvelope and
//     getEnvelope, Xerces parse included);
//   - the raw baseline: the same request and response bytes with send/recv,
//     the end of each message found with memmem;
//   - a 64 MiB attachment sent chunked (64 KiB chunks) and read through the
//     multipart stream, beside raw send/recv of 64 MiB.
// Every iteration checks what arrived, so a broken fast path cannot look fast.
#include "api/SkarnAttachmentReader.h"
#include "api/SkarnProcess.h"
#include "http/SkrMessageReader.h"
#include "http/SkrMessageWriter.h"
#include "platform/dom/VexIDOM_DOMImplementation.h"
#include "platform/dom/VexIDOM_Document.h"
#include "platform/dom/VexIDOM_Parser.h"
#include "platform/streams/QioInputStream.h"
#include "support/AcceptedPlainSocket.h"
#include "support/LoopbackPeer.h"
#include "support/MemoryInputStream.h"
#include "support/MemorySocket.h"

#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

std::string envelopeText(const char* op)
{
    std::string env = "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><m:";
    env += op;
    env += " xmlns:m=\"urn:mirra:bench\">";
    std::string tail = "</m:" + std::string(op) + "></soap:Body></soap:Envelope>";
    int i = 0;
    while (env.size() + tail.size() + 30 < 1024)
        env += "<item n=\"" + std::to_string(i++) + "\">value</item>";
    env.resize(1024 - tail.size(), ' ');
    return env + tail;
}

const std::string REQUEST = envelopeText("Ask");
const std::string RESPONSE = envelopeText("Tell");

struct Pair {
    Pair()
    {
        std::pair<int, int> fds = LoopbackPeer::connectedPair(LoopbackPeer::IPv4);
        client.reset(new AcceptedPlainSocket(fds.first));
        server.reset(new AcceptedPlainSocket(fds.second));
        rawClient = fds.first;
        rawServer = fds.second;
    }
    std::unique_ptr<AcceptedPlainSocket> client, server;
    int rawClient, rawServer;
};

void writeEnvelope(SkarnSocket& sock, bool request, const std::string& env)
{
    SkrMessageWriter w(request ? "/svc" : "", request ? 1 : 0, 0, &sock, 1, 4000, nullptr);
    w.init();
    QioOutputStream& s = w.openEnvelope();
    s.write(env.data(), static_cast<unsigned>(env.size()));
    w.closeEnvelope(s);
    w.close();
}

void readEnvelope(SkarnSocket& sock, bool request, const std::string& want)
{
    SkrMessageReader r(request ? 1 : 0, sock.getInputStream(), &sock);
    QioInputStream& s = r.openEnvelope();
    char buf[2048];
    unsigned n = s.readFully(buf, sizeof buf);
    r.closeEnvelope(s);
    if (n != want.size() || std::memcmp(buf, want.data(), n) != 0)
        throw std::runtime_error("envelope changed on the way");
}

void BM_ExchangeStreams(benchmark::State& state)
{
    Pair p;
    const long rounds = static_cast<long>(state.max_iterations);
    std::thread server([&] {
        for (long i = 0; i < rounds; ++i) {
            readEnvelope(*p.server, true, REQUEST);
            writeEnvelope(*p.server, false, RESPONSE);
        }
    });
    for (auto _ : state) {
        writeEnvelope(*p.client, true, REQUEST);
        readEnvelope(*p.client, false, RESPONSE);
    }
    server.join();
    state.SetItemsProcessed(state.iterations());
}

// The DOM variant: setEnvelope serialises a tree, getEnvelope parses one.
void BM_ExchangeDom(benchmark::State& state)
{
    Pair p;
    auto parse = [](const std::string& text) {
        VexIDOM_Document* doc = new VexIDOM_Document();
        MemoryInputStream in(text);
        VexIDOM_Parser(0).parse(in, *doc);
        return doc;
    };
    std::unique_ptr<VexIDOM_Document> req(parse(REQUEST)), resp(parse(RESPONSE));
    const long rounds = static_cast<long>(state.max_iterations);
    auto exchangeRead = [](SkarnSocket& sock, bool request) {
        std::unique_ptr<VexIDOM_Document> holder(
            VexIDOM_DOMImplementation::getImplementation().createDocument(nullptr, "h"));
        SkrMessageReader r(request ? 1 : 0, sock.getInputStream(), &sock);
        VexIDOM_Element h = holder->getDocumentElement();
        r.getEnvelope(h);
        if (!h.hasChildNodes())
            throw std::runtime_error("no envelope");
    };
    auto exchangeWrite = [](SkarnSocket& sock, bool request, VexIDOM_Document& doc) {
        SkrMessageWriter w(request ? "/svc" : "", request ? 1 : 0, 0, &sock, 1, 4000, nullptr);
        w.init();
        VexIDOM_Element root = doc.getDocumentElement();
        w.setEnvelope(root);
        w.close();
    };
    std::thread server([&] {
        for (long i = 0; i < rounds; ++i) {
            exchangeRead(*p.server, true);
            exchangeWrite(*p.server, false, *resp);
        }
    });
    for (auto _ : state) {
        exchangeWrite(*p.client, true, *req);
        exchangeRead(*p.client, false);
    }
    server.join();
    state.SetItemsProcessed(state.iterations());
}

// The wire bytes the writer produces for a request and a response.
std::string wireOf(bool request, const std::string& env)
{
    MemorySocket sock;
    writeEnvelope(sock, request, env);
    return sock.output().data();
}

void sendAll(int fd, const std::string& bytes)
{
    if (!LoopbackPeer::sendAll(fd, bytes.data(), bytes.size()))
        throw std::runtime_error("send failed");
}

// Receives until `end` closes what arrived; checks the length.
void recvUntil(int fd, std::string& buf, const std::string& end, std::size_t want)
{
    buf.clear();
    char chunk[4096];
    for (;;) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            throw std::runtime_error("recv failed");
        buf.append(chunk, static_cast<std::size_t>(n));
        if (buf.size() >= end.size() &&
            memmem(buf.data() + buf.size() - end.size(), end.size(), end.data(), end.size()) != nullptr)
            break;
    }
    if (buf.size() != want)
        throw std::runtime_error("message changed on the way");
}

void BM_ExchangeRaw(benchmark::State& state)
{
    Pair p;
    const std::string req = wireOf(true, REQUEST), resp = wireOf(false, RESPONSE);
    const std::string end = "\r\n0\r\n\r\n";
    const long rounds = static_cast<long>(state.max_iterations);
    std::thread server([&] {
        std::string buf;
        for (long i = 0; i < rounds; ++i) {
            recvUntil(p.rawServer, buf, end, req.size());
            sendAll(p.rawServer, resp);
        }
    });
    std::string buf;
    for (auto _ : state) {
        sendAll(p.rawClient, req);
        recvUntil(p.rawClient, buf, end, resp.size());
    }
    server.join();
    state.SetItemsProcessed(state.iterations());
}

const std::size_t BIG = 64u << 20;

const std::string& bigData()
{
    static const std::string data = [] {
        std::string d(BIG, '\0');
        for (std::size_t i = 0; i < d.size(); ++i)
            d[i] = static_cast<char>((i * 131) >> 7);
        return d;
    }();
    return data;
}

void BM_Attachment64MiB(benchmark::State& state)
{
    Pair p;
    const std::string& data = bigData();
    const long rounds = static_cast<long>(state.max_iterations);
    std::thread server([&] {
        std::unique_ptr<char[]> buf(new char[65536]);
        for (long i = 0; i < rounds; ++i) {
            SkrMessageReader r(1, p.server->getInputStream(), p.server.get());
            QioInputStream& e = r.openEnvelope();
            std::string env;
            unsigned n;
            while ((n = e.read(buf.get(), 65536)) != QioInputStream::END)
                env.append(buf.get(), n);
            r.closeEnvelope(e);
            SkarnAttachmentReader& a = r.openNextAttachment();
            QioInputStream& in = a.getInputStream();
            std::size_t total = 0;
            unsigned long long sum = 0;
            while ((n = in.read(buf.get(), 65536)) != QioInputStream::END) {
                total += n;
                sum += static_cast<unsigned char>(buf[n - 1]);
            }
            r.closeAttachment(a);
            if (total != BIG || env != REQUEST || sum == 0)
                throw std::runtime_error("attachment changed on the way");
            ::send(p.rawServer, "k", 1, 0);
        }
    });
    for (auto _ : state) {
        SkrMessageWriter w("/svc", 1, 1, p.client.get(), 1, 65536, nullptr);
        w.init();
        QioOutputStream& s = w.openEnvelope();
        s.write(REQUEST.data(), static_cast<unsigned>(REQUEST.size()));
        w.closeEnvelope(s);
        w.addAttachment("application/octet-stream", nullptr, data.data(), static_cast<unsigned>(data.size()), "1");
        w.close();
        char k;
        if (::recv(p.rawClient, &k, 1, 0) != 1)
            throw std::runtime_error("no acknowledgement");
    }
    server.join();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(BIG));
}

void BM_Raw64MiB(benchmark::State& state)
{
    Pair p;
    const std::string& data = bigData();
    const long rounds = static_cast<long>(state.max_iterations);
    std::thread server([&] {
        std::unique_ptr<char[]> buf(new char[65536]);
        for (long i = 0; i < rounds; ++i) {
            std::size_t total = 0;
            while (total < BIG) {
                ssize_t n = ::recv(p.rawServer, buf.get(), 65536, 0);
                if (n <= 0)
                    throw std::runtime_error("recv failed");
                total += static_cast<std::size_t>(n);
            }
            ::send(p.rawServer, "k", 1, 0);
        }
    });
    for (auto _ : state) {
        for (std::size_t at = 0; at < BIG; at += 65536)
            if (!LoopbackPeer::sendAll(p.rawClient, data.data() + at, 65536))
                throw std::runtime_error("send failed");
        char k;
        if (::recv(p.rawClient, &k, 1, 0) != 1)
            throw std::runtime_error("no acknowledgement");
    }
    server.join();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(BIG));
}

BENCHMARK(BM_ExchangeRaw)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ExchangeStreams)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ExchangeDom)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Raw64MiB)->UseRealTime()->Iterations(8);
BENCHMARK(BM_Attachment64MiB)->UseRealTime()->Iterations(8);

}  // namespace

int main(int argc, char** argv)
{
    SkarnProcessInitialize("bench");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SkarnProcessTerminate("bench");
    return 0;
}
