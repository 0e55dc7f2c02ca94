#include "platform/core/VexTolkThreadLocal.h"

VexTolkThreadLocal* VexTolkThreadLocal::getInstance()
{
    static VexTolkThreadLocal instance;
    return &instance;
}

VexTolkData* VexTolkThreadLocal::getTolkData()
{
    thread_local VexTolkData data;
    return &data;
}
