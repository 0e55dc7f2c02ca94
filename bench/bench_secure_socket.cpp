// Bulk transfer and connection set-up over loopback through the secure
// socket, each beside the same work in the same run without TLS:
//   Transfer/tls, Transfer/tls_nonblocking   256 MiB over one TLS connection (SkrSocket)
//   Transfer/plain_socket                    the same over a plain SkrSocketNonSSL
//   Transfer/plain_library                   the same through the secure-socket layer without TLS
//   Connect/tls                              open (TCP + TLS handshake with full verification) and close
//   Connect/plain                            open and close without TLS
// The receiving side (the toolkit's own server socket) counts every byte and
// the sender waits for its verdict, so a transfer that loses data fails the
// benchmark instead of looking fast.
#include "api/SkarnProcess.h"
#include "net/SkrSocket.h"
#include "net/SkrSocketNonSSL.h"
#include "support/SkarnTestServer.h"
#include "support/TestCertificates.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::size_t kTotal = 256u << 20;
const std::size_t kPiece = 1u << 20;

sockaddr_storage loopback(int port)
{
    sockaddr_storage a{};
    sockaddr_in* a4 = reinterpret_cast<sockaddr_in*>(&a);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a4->sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

// Reads until kTotal bytes arrived (or the stream ends), answers "k" for the
// right count and "x" otherwise.
void drain(SkarnSocket& s)
{
    std::vector<char> buf(kPiece);
    std::size_t total = 0;
    for (unsigned n; total < kTotal && (n = s.getInputStream().read(buf.data(), kPiece)) != QioInputStream::END;)
        total += n;
    writeAll(s, total == kTotal ? "k" : "x");
}

const std::string& payload()
{
    static const std::string data = [] {
        std::string s(kPiece, '\0');
        unsigned x = 12345;
        for (char& ch : s) {
            x = x * 1103515245u + 12345u;
            ch = static_cast<char>(x >> 24);
        }
        return s;
    }();
    return data;
}

enum Kind { Tls, TlsNonBlocking, PlainSocket, PlainLibrary };

void transfer(benchmark::State& state, Kind kind)
{
    const TestCertificates& pki = TestCertificates::get();
    const bool tls = kind == Tls || kind == TlsNonBlocking;
    SkarnTestServer server(&drain, tls ? tlsListenerDocument(pki.serverCert, pki.serverKey) : "");
    const std::string doc = tls ? tlsClientDocument() : sessionDocument("<serviceID>bench</serviceID>");
    const std::string& data = payload();
    for (auto _ : state) {
        std::unique_ptr<SkarnSocket> s(SkarnSocket::getSocket(kind == PlainSocket ? 0 : 1, kind == TlsNonBlocking));
        s->Open(server.port(), loopback(server.port()), doc.c_str());
        for (std::size_t sent = 0; sent < kTotal; sent += kPiece)
            s->getOutputStream().write(data.data(), static_cast<unsigned>(kPiece));
        char verdict = 0;
        if (s->getInputStream().read(&verdict, 1) != 1 || verdict != 'k') {
            state.SkipWithError("the receiver did not get every byte");
            break;
        }
        s->Close();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kTotal));
}

void connectClose(benchmark::State& state, bool tls)
{
    const TestCertificates& pki = TestCertificates::get();
    SkarnTestServer server([](SkarnSocket& s) { writeAll(s, "k"); },
                           tls ? tlsListenerDocument(pki.serverCert, pki.serverKey) : "");
    const std::string doc = tls ? tlsClientDocument() : sessionDocument("<serviceID>bench</serviceID>");
    for (auto _ : state) {
        SkrSocket s;
        s.Open(server.port(), loopback(server.port()), doc.c_str());
        char verdict = 0;
        if (s.getInputStream().read(&verdict, 1) != 1 || verdict != 'k') {
            state.SkipWithError("the connection carried nothing");
            break;
        }
        s.Close();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK_CAPTURE(transfer, tls, Tls)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK_CAPTURE(transfer, tls_nonblocking, TlsNonBlocking)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK_CAPTURE(transfer, plain_socket, PlainSocket)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK_CAPTURE(transfer, plain_library, PlainLibrary)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK_CAPTURE(connectClose, tls, true)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(connectClose, plain, false)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    if (SkarnProcessInitialize("bench") != 0)
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SkarnProcessTerminate("bench");
    return 0;
}
