#ifndef SKARN_PROCESS_H
#define SKARN_PROCESS_H

#include "../platform/core/SkarnExport.h"

// Start and stop of the toolkit in a process. A host calls
// SkarnProcessInitialize (or SkarnCoreProcessInitialize) before anything else
// and the matching terminate function at the end. Each returns 0 on success.
// No count of calls is kept: each call repeats all its steps.
//
// Initialise: sockets (version 1.1; a failure is returned at once), the core
// library (its non-zero result is returned), then, only when the core started,
// the secure-socket library. Terminate: the same three in reverse order.
// The names are not read.
extern "C" {
SKARN_EXPORT int SkarnProcessInitialize(const char* name);
SKARN_EXPORT int SkarnProcessTerminate(const char* name);
SKARN_EXPORT int SkarnCoreProcessInitialize(const char* name);
SKARN_EXPORT int SkarnCoreProcessTerminate(const char* name);
}

#endif
