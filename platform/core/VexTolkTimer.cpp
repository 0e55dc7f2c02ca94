#include "platform/core/VexTolkTimer.h"

VexTolkTimer::VexTolkTimer(const char* activity, const char* category)
    : m_activity(activity ? activity : ""), m_category(category ? category : "")
{
}
