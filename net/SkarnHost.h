#ifndef SKARN_HOST_H
#define SKARN_HOST_H

#include "../platform/core/SkarnExport.h"

#include <sys/socket.h>

// The local machine's name and host-name resolution.
class SKARN_EXPORT SkarnHost {
public:
    // The local machine name into `buffer` of `size` bytes (gethostname).
    // A null buffer does nothing. Failure raises SkarnException errHostName
    // (message 1841643536) with the Winsock error number as parameter.
    static void getInternetMachineName(char* buffer, unsigned int size);

    // The first address `host` resolves to (null: "localhost"), port 0.
    // A host that does not resolve gives family 0xFFFF (every byte 0xFF).
    // Raises nothing.
    static sockaddr_storage getIPAddress(const char* host);
};

#endif
