#ifndef SKR_SOCKET_NON_SSL_INPUT_STREAM_H
#define SKR_SOCKET_NON_SSL_INPUT_STREAM_H

#include "net/SkrTransportInputStream.h"

class SkrSocketNonSSL;

extern template class SkrTransportInputStream<SkrSocketNonSSL>;

// The input stream of a plain socket: each read is one ReadBuffer of the
// socket, so it delivers what one recv gives (see SkrTransportInputStream).
class SkrSocketNonSSLInputStream : public SkrTransportInputStream<SkrSocketNonSSL> {
public:
    ~SkrSocketNonSSLInputStream() override;
};

#endif
