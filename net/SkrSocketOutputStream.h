#ifndef SKR_SOCKET_OUTPUT_STREAM_H
#define SKR_SOCKET_OUTPUT_STREAM_H

#include "net/SkrTransportOutputStream.h"

class SkrSocket;

extern template class SkrTransportOutputStream<SkrSocket>;

// The output stream of a secure socket: write() hands all the bytes to the
// socket's WriteBuffer in one call (see SkrTransportOutputStream).
class SkrSocketOutputStream : public SkrTransportOutputStream<SkrSocket> {
public:
    ~SkrSocketOutputStream() override;
};

#endif
