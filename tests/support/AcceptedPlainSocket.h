#ifndef SKARN_TEST_ACCEPTED_PLAIN_SOCKET_H
#define SKARN_TEST_ACCEPTED_PLAIN_SOCKET_H

#include "net/SkrSocketNonSSL.h"

// A plain socket over a descriptor that a test accepted itself: the far end
// of a loopback pair read and written through the plain socket's streams.
// The socket takes the descriptor over and closes it in Close().
class AcceptedPlainSocket : public SkrSocketNonSSL {
public:
    explicit AcceptedPlainSocket(int fd)
    {
        m_commSocket = fd;
        m_connected = 1;
    }
};

#endif
