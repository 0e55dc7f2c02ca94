// Decoding 16 MiB of quoted-printable text (76-character lines, about 10% of
// the characters escaped) through the quoted-printable stream, straight from
// memory and over the multipart stream as the attachment reader stacks it.
// Baseline in the same run: memcpy of the same bytes in 64 KiB pieces.
#include "mime/SkrMPInputStream.h"
#include "mime/SkrQPInputStream.h"
#include "support/ViewInputStream.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Text {
    std::string encoded;
    std::size_t decodedSize = 0;
};

const Text& text()
{
    static Text t;
    if (!t.encoded.empty())
        return t;
    std::mt19937 rng(7);
    static const char hex[] = "0123456789ABCDEF";
    std::size_t escapedChars = 0;
    while (t.encoded.size() < (16u << 20)) {
        // One encoded line of 75 characters and a soft break, or a hard break.
        std::string line;
        while (line.size() < 73) {
            if (rng() % 100 < 4) {  // about 10% of the characters are in escapes
                unsigned char b = static_cast<unsigned char>(128 + rng() % 128);
                line += '=';
                line += hex[b >> 4];
                line += hex[b & 15];
                escapedChars += 3;
            } else {
                line += static_cast<char>('a' + rng() % 26);
            }
            ++t.decodedSize;
        }
        if (rng() % 4 == 0) {
            t.encoded += line + "\r\n";
            t.decodedSize += 2;
        } else {
            t.encoded += line + "=\r\n";
        }
    }
    static std::size_t share = escapedChars * 100 / t.encoded.size();
    (void)share;
    return t;
}

void BM_MemcpyPieces(benchmark::State& state)
{
    const Text& t = text();
    std::vector<char> scratch(64 << 10);
    for (auto _ : state) {
        for (std::size_t at = 0; at < t.encoded.size(); at += scratch.size()) {
            std::size_t n = std::min(scratch.size(), t.encoded.size() - at);
            std::memcpy(scratch.data(), t.encoded.data() + at, n);
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(t.encoded.size()));
}

std::size_t drainCount(QioInputStream& in, std::vector<char>& scratch)
{
    std::size_t bytes = 0;
    for (;;) {
        unsigned n = in.read(scratch.data(), static_cast<unsigned>(scratch.size()));
        if (n == QioInputStream::END)
            return bytes;
        bytes += n;
    }
}

void BM_DecodeFromMemory(benchmark::State& state)
{
    const Text& t = text();
    std::vector<char> scratch(64 << 10);
    for (auto _ : state) {
        ViewInputStream in(t.encoded);
        SkrQPInputStream qp(in);
        if (drainCount(qp, scratch) != t.decodedSize)
            state.SkipWithError("decoded size wrong");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(t.encoded.size()));
}

void BM_DecodeOverMultipart(benchmark::State& state)
{
    const Text& t = text();
    static const std::string body = "\r\n--qpbench\r\n" + t.encoded + "\r\n--qpbench--\r\n";
    std::vector<char> scratch(64 << 10);
    for (auto _ : state) {
        ViewInputStream in(body);
        SkrMPInputStream mp(in, "qpbench");
        if (!mp.hasNextPart())
            state.SkipWithError("no part");
        mp.nextPart();
        SkrQPInputStream qp(mp);
        if (drainCount(qp, scratch) != t.decodedSize)
            state.SkipWithError("decoded size wrong");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(t.encoded.size()));
}

}  // namespace

BENCHMARK(BM_MemcpyPieces)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFromMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOverMultipart)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
