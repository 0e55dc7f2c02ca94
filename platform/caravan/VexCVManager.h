#ifndef VEX_CV_MANAGER_H
#define VEX_CV_MANAGER_H

#include "platform/core/SkarnExport.h"

#include <map>
#include <string>

// Header propagation: a server hands each received request's header table
// (names in lower case) to the manager, which keeps, for the calling thread,
// the headers that travel on with the work the request starts: every header
// whose name begins with "x-" (tracing and application context headers).
// A new table replaces the thread's previous one.
class SKARN_EXPORT VexCVManager {
public:
    static VexCVManager& getInstance();

    void loadHeaders(const std::map<std::string, std::string>& headers);
    // The calling thread's propagated headers.
    const std::map<std::string, std::string>& getPropagatedHeaders() const;
    // One propagated header's value, or null.
    const char* getHeader(const char* name) const;
    void clear();
};

#endif
