#include "platform/core/VexThread.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

void realSleep(int seconds)
{
    if (seconds > 0)
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

std::atomic<VexThread::SleepFunction> g_sleep{&realSleep};

}  // namespace

void VexThread::sleep(int seconds) { g_sleep.load()(seconds); }

VexThread::SleepFunction VexThread::setSleepFunction(SleepFunction f)
{
    return g_sleep.exchange(f ? f : &realSleep);
}
