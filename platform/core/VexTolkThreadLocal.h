#ifndef VEX_TOLK_THREAD_LOCAL_H
#define VEX_TOLK_THREAD_LOCAL_H

#include "VexTolkData.h"

// The way to the calling thread's tracing data: getInstance()->getTolkData().
// Each thread has its own VexTolkData, created on first use, never null.
class SKARN_EXPORT VexTolkThreadLocal {
public:
    static VexTolkThreadLocal* getInstance();
    VexTolkData* getTolkData();
};

#endif
