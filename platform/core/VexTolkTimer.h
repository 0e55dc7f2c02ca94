#ifndef VEX_TOLK_TIMER_H
#define VEX_TOLK_TIMER_H

#include "SkarnExport.h"

#include <string>

// A request-tracing mark: names an activity and its category for as long as
// its owner lives. It records nothing anywhere; owners may read it.
class SKARN_EXPORT VexTolkTimer {
public:
    VexTolkTimer(const char* activity, const char* category);
    const std::string& getActivity() const { return m_activity; }
    const std::string& getCategory() const { return m_category; }

private:
    std::string m_activity;
    std::string m_category;
};

#endif
