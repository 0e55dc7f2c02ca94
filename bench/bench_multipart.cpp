// Splitting a 64 MiB multipart body into its parts through the multipart
// stream and the attachment reader, reading each part to its end, for parts of
// 1 MiB and of 4 KiB. The part data is text in 76-byte lines, so the delimiter
// search meets a CR every 78 bytes. Baselines in the same run: memcpy of the
// same 64 MiB into a 64 MiB destination, and memcpy of it in 64 KiB pieces
// into one 64 KiB scratch area (the access pattern of a reader that consumes
// each piece).
#include "http/SkrAttachmentReader.h"
#include "mime/SkrMPInputStream.h"
#include "support/ViewInputStream.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const std::size_t kBody = 64u << 20;
const char kBoundary[] = "MIME_boundary_4f2a9c1e7b";

struct Body {
    std::string bytes;
    std::size_t partBytes = 0;  // content bytes of all parts
    std::size_t parts = 0;
};

const Body& body(std::size_t partSize)
{
    static std::map<std::size_t, Body> made;
    Body& b = made[partSize];
    if (!b.bytes.empty())
        return b;
    std::string line;
    for (int i = 0; i < 76; ++i)
        line += static_cast<char>('!' + (i * 7) % 90);
    line += "\r\n";
    std::string content;
    while (content.size() < partSize)
        content += line;
    content.resize(partSize);
    b.bytes.reserve(kBody + 4096);
    b.bytes = "\r\n";
    for (std::size_t n = 0; b.bytes.size() + partSize < kBody; ++n) {
        b.bytes += std::string("--") + kBoundary + "\r\nContent-Type: application/octet-stream\r\nContent-ID: <part" +
                   std::to_string(n) + ">\r\n\r\n";
        b.bytes += content;
        b.bytes += "\r\n";
        b.partBytes += content.size();
        ++b.parts;
    }
    b.bytes += std::string("--") + kBoundary + "--\r\n";
    return b;
}

void BM_SplitMultipart(benchmark::State& state)
{
    const Body& b = body(static_cast<std::size_t>(state.range(0)));
    std::vector<char> scratch(64 << 10);
    for (auto _ : state) {
        ViewInputStream in(b.bytes);
        SkrMPInputStream mp(in, kBoundary);
        SkrAttachmentReader reader(&mp);
        std::size_t parts = 0, bytes = 0;
        while (mp.hasNextPart()) {
            mp.nextPart();
            reader.readPartHeaders();
            QioInputStream& content = reader.getInputStream();
            for (;;) {
                unsigned n = content.read(scratch.data(), static_cast<unsigned>(scratch.size()));
                if (n == QioInputStream::END)
                    break;
                bytes += n;
            }
            ++parts;
        }
        mp.unWrap();
        if (parts != b.parts || bytes != b.partBytes)
            state.SkipWithError("parts lost or changed");
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.bytes.size()));
    state.counters["parts"] = static_cast<double>(b.parts);
}

void BM_MemcpyWhole(benchmark::State& state)
{
    const Body& b = body(static_cast<std::size_t>(state.range(0)));
    std::vector<char> dest(b.bytes.size());
    for (auto _ : state) {
        std::memcpy(dest.data(), b.bytes.data(), b.bytes.size());
        benchmark::ClobberMemory();
    }
    if (std::memcmp(dest.data(), b.bytes.data(), b.bytes.size()) != 0)
        state.SkipWithError("memcpy differs");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.bytes.size()));
}

void BM_MemcpyPieces(benchmark::State& state)
{
    const Body& b = body(static_cast<std::size_t>(state.range(0)));
    std::vector<char> scratch(64 << 10);
    for (auto _ : state) {
        for (std::size_t at = 0; at < b.bytes.size(); at += scratch.size()) {
            std::size_t n = std::min(scratch.size(), b.bytes.size() - at);
            std::memcpy(scratch.data(), b.bytes.data() + at, n);
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.bytes.size()));
}

}  // namespace

BENCHMARK(BM_MemcpyWhole)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyPieces)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitMultipart)->Arg(1 << 20)->Arg(4 << 10)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
