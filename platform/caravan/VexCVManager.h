#ifndef VEX_CV_MANAGER_H
#define VEX_CV_MANAGER_H

#include "../core/SkarnExport.h"

#include <cstddef>
#include <map>
#include <string>

// Header propagation: a server hands each received request's header table
// (names in lower case) to the manager, which keeps, for the calling thread,
// the headers that travel on with the work the request starts: every header
// whose name begins with "x-" (tracing and application context headers).
// A new table replaces the thread's previous one.
//
// What a thread keeps is bounded: headers are taken in name order while
// their names and values, and 96 bytes per entry for the table, fit in
// KEEP_BYTES; one that does not fit
// is left out, so that a request with huge "x-" headers cannot make each
// server thread hold them until its next request.
class SKARN_EXPORT VexCVManager {
public:
    static const std::size_t KEEP_BYTES = 16 * 1024;

    static VexCVManager& getInstance();

    void loadHeaders(const std::map<std::string, std::string>& headers);
    // One propagated header's value, or null.
    const char* getHeader(const char* name) const;
    void clear();
};

#endif
