#ifndef SKR_SOCKET_INPUT_STREAM_H
#define SKR_SOCKET_INPUT_STREAM_H

#include "net/SkrTransportInputStream.h"

class SkrSocket;

extern template class SkrTransportInputStream<SkrSocket>;

// The input stream of a secure socket: each read is one ReadBuffer of the
// socket, so it delivers what one library receive gives (see
// SkrTransportInputStream). Time-out and cancel (SkarnSocketInputStream's)
// take effect only while the socket works in non-blocking mode.
class SkrSocketInputStream : public SkrTransportInputStream<SkrSocket> {
public:
    ~SkrSocketInputStream() override;
};

#endif
