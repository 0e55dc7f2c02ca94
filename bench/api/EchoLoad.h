#ifndef SKARN_BENCH_ECHO_LOAD_H
#define SKARN_BENCH_ECHO_LOAD_H

// What the three echo clients (the toolkit's, gSOAP's, the bare-socket floor)
// share, so that compare.py reads the same figures from each: the text they
// echo and the timed run of their threads.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

// BYTES characters of a fixed alphabet.
inline std::string echoText(long bytes)
{
    std::string text;
    for (long i = 0; i < bytes; ++i)
        text += "abcdefghijklmnopqrstuvwxyz0123456789"[i % 36];
    return text;
}

inline double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs `client` on `threads` threads, each making `perThread` exchanges, and
// prints "exchanges=N seconds=S exchanges_per_s=R cpu_us=C" (CPU of the whole
// process per exchange) on a line.
template <class Client>
void runClients(int threads, long perThread, Client client)
{
    const double cpu0 = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back(client);
    for (std::thread& t : pool)
        t.join();
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double total = double(perThread) * threads;
    std::printf("exchanges=%.0f seconds=%.3f exchanges_per_s=%.1f cpu_us=%.2f\n", total, secs, total / secs,
                (processCpuSeconds() - cpu0) * 1e6 / total);
}

#endif
