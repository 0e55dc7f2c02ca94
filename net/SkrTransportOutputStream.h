#ifndef SKR_TRANSPORT_OUTPUT_STREAM_H
#define SKR_TRANSPORT_OUTPUT_STREAM_H

#include "platform/core/VexMacros.h"
#include "platform/streams/QioOutputStream.h"

// The output stream of a socket, written once for both transports; the named
// stream of each socket class (SkrSocketOutputStream,
// SkrSocketNonSSLOutputStream) derives from it with its own socket.
// `Socket` has WriteBuffer and kWritePiece, the most bytes one WriteBuffer
// takes.
//
// write() hands all the bytes to the socket's WriteBuffer, which sends them
// whole or raises: a write of 0 bytes sends nothing, a longer one than
// kWritePiece goes over in pieces of at most kWritePiece bytes. flush and
// close do nothing. VexAssertError "VEX_ASSERT(m_mp_soap_socket);" while no
// socket is bound.
template <class Socket>
class SkrTransportOutputStream : public QioOutputStream {
public:
    // Binds the stream to its socket (done once, by the socket's constructor).
    void bind(Socket* socket) { m_mp_soap_socket = socket; }

    void write(const char* buffer, unsigned length) override
    {
        VEX_ASSERT(m_mp_soap_socket);
        const unsigned piece = Socket::kWritePiece;
        while (length > 0) {
            const unsigned now = length > piece ? piece : length;
            int n = 0;
            m_mp_soap_socket->WriteBuffer(buffer, now, &n);
            buffer += now;
            length -= now;
        }
    }

private:
    Socket* m_mp_soap_socket = nullptr;  // not owned
};

#endif
