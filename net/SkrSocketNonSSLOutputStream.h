#ifndef SKR_SOCKET_NON_SSL_OUTPUT_STREAM_H
#define SKR_SOCKET_NON_SSL_OUTPUT_STREAM_H

#include "net/SkrTransportOutputStream.h"

class SkrSocketNonSSL;

extern template class SkrTransportOutputStream<SkrSocketNonSSL>;

// The output stream of a plain socket: write() hands the bytes to the
// socket's WriteBuffer in pieces of at most INT_MAX bytes, what it counts in
// an int (see SkrTransportOutputStream).
class SkrSocketNonSSLOutputStream : public SkrTransportOutputStream<SkrSocketNonSSL> {
public:
    ~SkrSocketNonSSLOutputStream() override;
};

#endif
