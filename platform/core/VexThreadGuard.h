#ifndef VEX_THREAD_GUARD_H
#define VEX_THREAD_GUARD_H

#include "VexThreadCriticalSection.h"

// Holds a critical section for the guard's scope.
class SKARN_EXPORT VexThreadGuard {
public:
    explicit VexThreadGuard(VexThreadCriticalSection& cs) : m_cs(cs) { m_cs.enter(); }
    ~VexThreadGuard() { m_cs.leave(); }
    VexThreadGuard(const VexThreadGuard&) = delete;
    VexThreadGuard& operator=(const VexThreadGuard&) = delete;

private:
    VexThreadCriticalSection& m_cs;
};

#endif
