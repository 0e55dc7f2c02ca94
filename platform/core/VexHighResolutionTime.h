#ifndef VEX_HIGH_RESOLUTION_TIME_H
#define VEX_HIGH_RESOLUTION_TIME_H

#include "SkarnExport.h"

// A monotonic clock in milliseconds; only differences of two readings mean anything.
class SKARN_EXPORT VexHighResolutionTime {
public:
    static unsigned long long getLocalTime();
};

#endif
