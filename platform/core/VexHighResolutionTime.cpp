#include "platform/core/VexHighResolutionTime.h"

#include <chrono>

unsigned long long VexHighResolutionTime::getLocalTime()
{
    using namespace std::chrono;
    return static_cast<unsigned long long>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
