#include "LoadRunner.h"

#include "ClientSession.h"
#include "ToolError.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Tally {
    std::vector<double> millis;  // of the exchanges answered with 200
    long errors = 0, failures = 0, run = 0;
    std::string firstError;
};

double percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    std::size_t rank = static_cast<std::size_t>(p * static_cast<double>(sorted.size()) + 0.999999);
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

}  // namespace

int LoadRunner::run(int repeat, int concurrency, std::ostream& out)
{
    std::vector<Tally> tallies(static_cast<std::size_t>(concurrency));
    auto worker = [&](int index, int count) {
        Tally& t = tallies[static_cast<std::size_t>(index)];
        std::unique_ptr<ClientSession> session;
        auto fail = [&](bool failure) {
            ++t.errors;
            t.failures += failure ? 1 : 0;
            if (t.firstError.empty())
                t.firstError = failure ? ToolError::describeCurrent(false) : "the server answered a status other than 200";
        };
        for (int i = 0; i < count; ++i) {
            try {
                if (!session) {
                    session = std::make_unique<ClientSession>(m_factory, m_target);
                    ClientExchange::configure(*session, m_request);
                }
            } catch (...) {
                fail(true);
                return;
            }
            const Clock::time_point start = Clock::now();
            ++t.run;
            try {
                ClientExchange::Response r = ClientExchange::run(*session, m_request);
                if (r.closes)
                    session.reset();  // the server ends the connection: the next exchange opens another
                if (r.status == 200)
                    t.millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                else
                    fail(false);
            } catch (...) {
                fail(true);
                session.reset();
            }
        }
    };
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < concurrency; ++i)
        threads.emplace_back(worker, i, repeat / concurrency + (i < repeat % concurrency ? 1 : 0));
    for (std::thread& t : threads)
        t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    Tally all;
    for (Tally& t : tallies) {
        all.millis.insert(all.millis.end(), t.millis.begin(), t.millis.end());
        all.errors += t.errors;
        all.failures += t.failures;
        all.run += t.run;
        if (all.firstError.empty())
            all.firstError = t.firstError;
    }
    std::sort(all.millis.begin(), all.millis.end());
    char line[256];
    std::snprintf(line, sizeof line, "exchanges %ld of %d in %.3f s: %.1f/s\n", all.run, repeat, seconds,
                  seconds > 0 ? static_cast<double>(all.run) / seconds : 0.0);
    out << line;
    std::snprintf(line, sizeof line, "latency ms: p50 %.3f p90 %.3f p99 %.3f max %.3f\n", percentile(all.millis, 0.5),
                  percentile(all.millis, 0.9), percentile(all.millis, 0.99), all.millis.empty() ? 0.0 : all.millis.back());
    out << line << "answered " << all.millis.size() << ", errors " << all.errors << std::endl;
    if (all.errors == 0)
        return ToolError::Ok;
    std::cerr << "skarn: " << all.errors << " exchanges failed; the first: " << all.firstError << std::endl;
    return all.failures > 0 ? ToolError::Transport : ToolError::Answered;
}
