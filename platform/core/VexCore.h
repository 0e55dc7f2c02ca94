#ifndef VEX_CORE_H
#define VEX_CORE_H

#include "SkarnExport.h"

// Start and stop of the core library for a process. Layers above the core that
// need process-wide set-up (the XML parser) register a module; vexInitialize
// runs the modules' start functions in registration order and vexTerminate
// their stop functions in reverse order. Every call repeats them: the modules
// keep their own counts where they need one.
SKARN_EXPORT int vexInitialize(const char* name);
SKARN_EXPORT int vexTerminate(const char* name);

typedef int (*VexModuleStart)();
typedef void (*VexModuleStop)();
// Registers a module (normally from a static initialiser). Returns 1.
SKARN_EXPORT int vexRegisterModule(const char* name, VexModuleStart start, VexModuleStop stop);

#endif
