#ifndef VEX_THREAD_CRITICAL_SECTION_H
#define VEX_THREAD_CRITICAL_SECTION_H

#include "SkarnExport.h"

#include <mutex>

// A recursive lock. The constructor's argument (a spin count on other
// platforms) is accepted and ignored.
class SKARN_EXPORT VexThreadCriticalSection {
public:
    explicit VexThreadCriticalSection(int spinCount = 0) { (void)spinCount; }
    VexThreadCriticalSection(const VexThreadCriticalSection&) = delete;
    VexThreadCriticalSection& operator=(const VexThreadCriticalSection&) = delete;

    void enter() { m_mutex.lock(); }
    void leave() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

#endif
