#ifndef SKR_CONNECTION_POOL_FACTORY_H
#define SKR_CONNECTION_POOL_FACTORY_H

#include "../platform/core/SkarnExport.h"

class SkarnConnectionPool;

// The one connection pool of the process. getInstance() creates it on first
// use (reading "../configuration/Skarn_Config.xml" under SKARN_HOME then);
// destroyInstance() deletes it, closing the idle connections it still holds,
// and the next getInstance() creates a new one that reads the file again.
// Sockets handed out before destroyInstance() are still their callers' and
// go to the new pool when released.
class SKARN_EXPORT SkrConnectionPoolFactory {
public:
    // Raises VexOutOfMemoryError when the pool cannot be allocated.
    static SkarnConnectionPool* getInstance();
    // For the host at the end of its work; the toolkit never calls it.
    static void destroyInstance();
};

#endif
