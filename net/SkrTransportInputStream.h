#ifndef SKR_TRANSPORT_INPUT_STREAM_H
#define SKR_TRANSPORT_INPUT_STREAM_H

#include "net/SkarnSocketInputStream.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexMacros.h"

#include <cstddef>

// The input stream of a socket, written once for both transports; the named
// stream of each socket class (SkrSocketInputStream, SkrSocketNonSSLInputStream)
// derives from it with its own socket. `Socket` has ReadBuffer and Close.
//
// Each read is one ReadBuffer of the socket, so it delivers what one receive
// of the transport gives, or bytes given back with unread() first (kept by
// the base; buffering belongs to a QioBufferedInputStream on top). A read
// answers -1 (END) at the end of the stream and on a socket that is not
// open. Every operation raises VexAssertError "VEX_ASSERT(m_mp_soap_socket);"
// while no socket is bound; socket failures pass through unchanged.
template <class Socket>
class SkrTransportInputStream : public SkarnSocketInputStream {
public:
    // Binds the stream to its socket (done once, by the socket's constructor).
    void bind(Socket* socket) { m_mp_soap_socket = socket; }

    int read() override
    {
        VEX_ASSERT(m_mp_soap_socket);
        char c = 0;
        int n = 0;
        beginRead();
        m_mp_soap_socket->ReadBuffer(&c, 1, &n);
        return n == 1 ? static_cast<unsigned char>(c) : -1;
    }

    unsigned read(char* buffer, unsigned length) override
    {
        VEX_ASSERT(m_mp_soap_socket);
        if (length == 0)
            return 0;
        int n = 0;
        beginRead();
        m_mp_soap_socket->ReadBuffer(buffer, length, &n);
        return n == 0 ? END : static_cast<unsigned>(n);
    }

    unsigned read(VexByteBuffer& buffer, unsigned length) override
    {
        VEX_ASSERT(m_mp_soap_socket);
        if (length == 0)
            return 0;
        char* tail = buffer.reserveTail(length);
        int n = 0;
        beginRead();
        m_mp_soap_socket->ReadBuffer(tail, length, &n);
        buffer.commit(static_cast<unsigned>(n));
        return n == 0 ? END : static_cast<unsigned>(n);
    }

    // Closes the socket.
    void close() override
    {
        VEX_ASSERT(m_mp_soap_socket);
        m_mp_soap_socket->Close();
    }

    SkarnSocket* getSocket() override
    {
        VEX_ASSERT(m_mp_soap_socket != NULL);
        return m_mp_soap_socket;
    }

private:
    Socket* m_mp_soap_socket = nullptr;  // not owned
};

#endif
