#include "platform/core/VexTolkTimer.h"

#include "platform/core/VexHighResolutionTime.h"

VexTolkTimer::VexTolkTimer(const char* activity, const char* category)
    : m_activity(activity ? activity : ""), m_category(category ? category : ""),
      m_start(VexHighResolutionTime::getLocalTime())
{
}

unsigned long long VexTolkTimer::getElapsedMillis() const { return VexHighResolutionTime::getLocalTime() - m_start; }
