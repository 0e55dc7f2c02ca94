// QioBufferedInputStream::readline over 1 MiB of 80-byte lines, beside memchr
// over the same bytes (the floor for finding line ends) in the same run.
#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioBufferedInputStream.h"
#include "support/MemoryInputStream.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

std::string makeLines()
{
    std::string data;
    const std::size_t total = 1 << 20;
    int i = 0;
    while (data.size() + 80 <= total) {
        std::string line = "X-Header-" + std::to_string(i++) + ": ";
        line.resize(78, 'v');
        data += line + "\r\n";
    }
    return data;
}

const std::string& lines()
{
    static const std::string data = makeLines();
    return data;
}

void BM_MemchrLineEnds(benchmark::State& state)
{
    const std::string& data = lines();
    for (auto _ : state) {
        std::size_t count = 0;
        const char* p = data.data();
        const char* end = p + data.size();
        while (p < end) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (!lf)
                break;
            ++count;
            p = lf + 1;
        }
        if (count != data.size() / 80)
            state.SkipWithError("memchr miscounted lines");
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_Readline(benchmark::State& state)
{
    const std::string& data = lines();
    VexByteBuffer line(256, 256);
    for (auto _ : state) {
        MemoryInputStream mem(data);
        QioBufferedInputStream in(mem, static_cast<int>(state.range(0)));
        std::size_t count = 0, bytes = 0;
        for (;;) {
            line.reset();
            int n = in.readline(line);
            if (n < 0)
                break;
            ++count;
            bytes += static_cast<std::size_t>(n);
        }
        if (count != data.size() / 80 || bytes != data.size())
            state.SkipWithError("readline lost lines");
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

}  // namespace

BENCHMARK(BM_MemchrLineEnds);
BENCHMARK(BM_Readline)->Arg(1024)->Arg(16384);
BENCHMARK_MAIN();
