#ifndef SKR_SOCKET_INPUT_STREAM_H
#define SKR_SOCKET_INPUT_STREAM_H

#include "net/SkarnSocketInputStream.h"

class SkrSocket;

// The input stream of a secure socket: each read is one ReadBuffer of the
// socket, so it delivers what one library receive gives, or bytes given back with
// unread() first (kept by the base; buffering belongs to a
// QioBufferedInputStream on top). A read answers -1 at the
// end of the stream and on a socket that is not open. Every operation raises
// VexAssertError "VEX_ASSERT(m_mp_soap_socket);" while no socket is bound;
// socket failures pass through unchanged. Time-out and cancel (the base's)
// take effect only while the socket works in non-blocking mode.
class SkrSocketInputStream : public SkarnSocketInputStream {
public:
    SkrSocketInputStream() : m_mp_soap_socket(nullptr) {}
    ~SkrSocketInputStream() override;

    // Binds the stream to its socket (done once, by the socket's constructor).
    void bind(SkrSocket* socket) { m_mp_soap_socket = socket; }

    int read() override;
    unsigned read(char* buffer, unsigned length) override;
    unsigned read(VexByteBuffer& buffer, unsigned length) override;
    // Closes the socket.
    void close() override;
    SkarnSocket* getSocket() override;

private:
    SkrSocket* m_mp_soap_socket;  // not owned
};

#endif
