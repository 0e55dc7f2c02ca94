#ifndef VEX_TOLK_TIMER_H
#define VEX_TOLK_TIMER_H

#include "SkarnExport.h"

#include <string>

// A request-tracing timer: names an activity and its category and measures
// how long its owner lives. It records nothing anywhere; owners may read it.
class SKARN_EXPORT VexTolkTimer {
public:
    VexTolkTimer(const char* activity, const char* category);
    const std::string& getActivity() const { return m_activity; }
    const std::string& getCategory() const { return m_category; }
    unsigned long long getElapsedMillis() const;

private:
    std::string m_activity;
    std::string m_category;
    unsigned long long m_start;
};

#endif
