#include "conn/SkrConnectionPoolFactory.h"

#include "conn/SkrConnectionPool.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexThreadGuard.h"

#include <atomic>

namespace {

// Built when the library is loaded; guards creation and destruction.
VexThreadCriticalSection g_factoryLock(0);
// Published only once the pool is fully built.
std::atomic<SkarnConnectionPool*> g_instance{nullptr};

}  // namespace

SkarnConnectionPool* SkrConnectionPoolFactory::getInstance()
{
    SkarnConnectionPool* pool = g_instance.load(std::memory_order_acquire);
    if (pool)
        return pool;
    return VEX_GUARDED("SkrConnectionPoolFactory::getInstance", {
        VexThreadGuard guard(g_factoryLock);
        SkarnConnectionPool* current = g_instance.load(std::memory_order_relaxed);
        if (!current) {
            current = new SkrConnectionPool();
            g_instance.store(current, std::memory_order_release);
        }
        return current;
    });
}

void SkrConnectionPoolFactory::destroyInstance()
{
    VexThreadGuard guard(g_factoryLock);
    delete g_instance.exchange(nullptr, std::memory_order_acq_rel);
}
