// Bulk transfer and connection set-up over loopback through the secure
// socket, each beside the same work in the same run without TLS:
//   Transfer/tls, Transfer/tls_nonblocking   256 MiB over one TLS connection (SkrSocket)
//   Transfer/plain_socket                    the same over a plain SkrSocketNonSSL
//   Transfer/plain_library                   the same through the secure-socket layer without TLS
//   connectClose/tls_full                    open (TCP + full TLS handshake with verification),
//                                            1 KiB each way, close; session resumption off
//   connectClose/tls_resumed                 the same, each connection resuming the session of the one before
//   connectClose/plain                       the same without TLS
// The receiving side (the toolkit's own server socket) counts every byte and
// the sender waits for its verdict, so a transfer that loses data fails the
// benchmark instead of looking fast; a connection that did not resume, or
// resumed when it should not have, fails it too.
#include "api/SkarnProcess.h"
#include "net/SkrSocket.h"
#include "net/SkrSocketNonSSL.h"
#include "platform/crypto/VexCrypto.h"
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

// A secure socket that tells whether its handshake resumed a session.
class ProbedSocket : public SkrSocket {
public:
    int resumed()
    {
        int r = -1;
        VexCryptoSharedFactory::getInstance()->QSM_IsSessionResumed(m_hQSMSocket, &r, nullptr);
        return r;
    }
};

const std::size_t kExchange = 1024;

// Reads a 1 KiB request and sends it back.
void echoKiB(SkarnSocket& s)
{
    std::string got(kExchange, '\0');
    if (s.getInputStream().readFully(&got[0], kExchange) == kExchange)
        writeAll(s, got);
}

enum Setup { Plain, TlsFull, TlsResumed };

// Opens, sends 1 KiB, reads it back and closes; the resumption state of the
// handshake it expects (-1: plain, no check).
bool connectOnce(int port, const std::string& doc, int expectResumed)
{
    ProbedSocket s;
    s.Open(port, loopback(port), doc.c_str());
    const std::string& data = payload();
    s.getOutputStream().write(data.data(), static_cast<unsigned>(kExchange));
    std::string back(kExchange, '\0');
    const bool ok = s.getInputStream().readFully(&back[0], kExchange) == kExchange &&
                    back.compare(0, kExchange, data, 0, kExchange) == 0 &&
                    (expectResumed < 0 || s.resumed() == expectResumed);
    s.Close();
    return ok;
}

void connectClose(benchmark::State& state, Setup setup)
{
    const TestCertificates& pki = TestCertificates::get();
    const bool tls = setup != Plain;
    SkarnTestServer server(&echoKiB, tls ? tlsListenerDocument(pki.serverCert, pki.serverKey) : "");
    const std::string doc = tls ? tlsClientDocument() : sessionDocument("<serviceID>bench</serviceID>");
    const int sessions = VexCrypto::getSessionCacheSize();
    VexCrypto::setSessionCacheSize(setup == TlsFull ? 0 : sessions);
    const int expect = setup == Plain ? -1 : setup == TlsResumed ? 1 : 0;
    // The first connection to the server runs in full and leaves its session.
    if (setup == TlsResumed && !connectOnce(server.port(), doc, 0))
        state.SkipWithError("the first connection failed");
    for (auto _ : state) {
        if (!connectOnce(server.port(), doc, expect)) {
            state.SkipWithError(setup == Plain ? "the connection lost bytes"
                                               : "the connection lost bytes or did not resume as expected");
            break;
        }
    }
    VexCrypto::setSessionCacheSize(sessions);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK_CAPTURE(transfer, tls, Tls)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK_CAPTURE(transfer, tls_nonblocking, TlsNonBlocking)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK_CAPTURE(transfer, plain_socket, PlainSocket)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK_CAPTURE(transfer, plain_library, PlainLibrary)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK_CAPTURE(connectClose, tls_full, TlsFull)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(connectClose, tls_resumed, TlsResumed)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(connectClose, plain, Plain)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

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
