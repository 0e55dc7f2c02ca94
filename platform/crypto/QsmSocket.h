#ifndef QSM_SOCKET_H
#define QSM_SOCKET_H

#include <string>

// The object behind a QSM_HANDLE (internal to the secure-socket layer).
struct QsmSocket {
    int fd = -1;
    std::string lastError;  // description of the last failure on this handle
};

#endif
