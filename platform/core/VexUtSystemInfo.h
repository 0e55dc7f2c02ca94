#ifndef VEX_UT_SYSTEM_INFO_H
#define VEX_UT_SYSTEM_INFO_H

#include "SkarnExport.h"

class SKARN_EXPORT VexUtSystemInfo {
public:
    static long getProcessId();
};

#endif
