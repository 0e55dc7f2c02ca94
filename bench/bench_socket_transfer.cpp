// Bulk transfer over one loopback TCP connection: 256 MiB written in 64 KiB
// pieces through the plain socket's output stream and read in 64 KiB pieces
// through the far end's input stream, beside raw send/recv of the same
// pattern on the same kind of connection, in the same run. Each read is
// checked against the pattern, so a fast path that loses or reorders bytes
// fails instead of looking fast.
#include "api/SkarnProcess.h"
#include "net/SkrSocketNonSSL.h"
#include "support/AcceptedPlainSocket.h"
#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

const std::size_t kTotal = 256u * 1024 * 1024;
const unsigned kPiece = 64 * 1024;

// Byte at stream position p: the pattern both ends agree on.
inline char patternAt(std::size_t p) { return static_cast<char>((p * 131 + (p >> 16)) & 0xFF); }

std::vector<char> piece(std::size_t start)
{
    std::vector<char> b(kPiece);
    for (unsigned i = 0; i < kPiece; ++i)
        b[i] = patternAt(start + i);
    return b;
}

// The pattern repeats every 64 KiB except for the (p >> 16) term: one buffer per
// 64 KiB piece index modulo 256 covers every piece.
std::vector<std::vector<char>> pieces()
{
    std::vector<std::vector<char>> all;
    for (std::size_t k = 0; k < 256; ++k)
        all.push_back(piece(k * kPiece));
    return all;
}

const std::vector<std::vector<char>>& thePieces()
{
    static const std::vector<std::vector<char>> all = pieces();
    return all;
}

const std::vector<char>& pieceAt(std::size_t position) { return thePieces()[(position / kPiece) % 256]; }

// Checks a received run of bytes at a few places (start, middle, end).
void check(const char* data, std::size_t n, std::size_t at)
{
    if (data[0] != patternAt(at) || data[n / 2] != patternAt(at + n / 2) || data[n - 1] != patternAt(at + n - 1))
        throw std::runtime_error("received bytes differ from what was sent");
}

void BM_RawSendRecv(benchmark::State& state)
{
    thePieces();
    std::pair<int, int> pair = LoopbackPeer::connectedPair(LoopbackPeer::IPv4);
    int on = 1;
    ::setsockopt(pair.first, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::vector<char> in(kPiece);
    for (auto _ : state) {
        std::thread writer([&] {
            for (std::size_t sent = 0; sent < kTotal; sent += kPiece) {
                const char* p = pieceAt(sent).data();
                for (unsigned off = 0; off < kPiece;) {
                    ssize_t n = ::send(pair.first, p + off, kPiece - off, MSG_NOSIGNAL);
                    if (n <= 0)
                        return;
                    off += static_cast<unsigned>(n);
                }
            }
        });
        std::size_t got = 0;
        while (got < kTotal) {
            ssize_t n = ::recv(pair.second, in.data(), kPiece, 0);
            if (n <= 0)
                break;
            check(in.data(), static_cast<std::size_t>(n), got);
            got += static_cast<std::size_t>(n);
        }
        writer.join();
        if (got != kTotal)
            state.SkipWithError("short transfer");
    }
    ::close(pair.first);
    ::close(pair.second);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_SocketStreams(benchmark::State& state)
{
    thePieces();
    // The writing end is a plain socket opened to a listener; the reading end
    // a plain socket over the accepted descriptor.
    sockaddr_storage bound{};
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 1);
    socklen_t len = sizeof bound;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &len);
    SkrSocketNonSSL out;
    out.Open(ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port), bound, nullptr);
    AcceptedPlainSocket inSocket(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    ::close(listener);

    QioOutputStream& os = out.getOutputStream();
    QioInputStream& is = inSocket.getInputStream();
    std::vector<char> in(kPiece);
    for (auto _ : state) {
        std::thread writer([&] {
            for (std::size_t sent = 0; sent < kTotal; sent += kPiece)
                os.write(pieceAt(sent).data(), kPiece);
        });
        std::size_t got = 0;
        while (got < kTotal) {
            unsigned n = is.read(in.data(), kPiece);
            if (n == QioInputStream::END)
                break;
            check(in.data(), n, got);
            got += n;
        }
        writer.join();
        if (got != kTotal)
            state.SkipWithError("short transfer");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

BENCHMARK(BM_RawSendRecv)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_SocketStreams)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

// Prints each run's rate and the ratio of the streams to raw send/recv.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            // Adjusted real time is per iteration, in milliseconds here.
            double rate = static_cast<double>(kTotal) / (r.GetAdjustedRealTime() / 1e3) / 1e6;
            if (r.benchmark_name().find("Raw") != std::string::npos)
                m_raw = rate;
            else
                m_stream = rate;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        if (m_raw > 0 && m_stream > 0)
            std::printf("raw send/recv %.0f MB/s, socket streams %.0f MB/s, ratio %.2f\n", m_raw, m_stream,
                        m_stream / m_raw);
    }

private:
    double m_raw = 0;
    double m_stream = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    SkarnProcessInitialize("bench");
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    SkarnProcessTerminate("bench");
    return 0;
}
