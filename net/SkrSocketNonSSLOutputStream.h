#ifndef SKR_SOCKET_NON_SSL_OUTPUT_STREAM_H
#define SKR_SOCKET_NON_SSL_OUTPUT_STREAM_H

#include "platform/streams/QioOutputStream.h"

class SkrSocketNonSSL;

// The output stream of a plain socket: write() hands all the bytes to the
// socket's WriteBuffer, which sends them whole or raises. flush and close do
// nothing. VexAssertError "VEX_ASSERT(m_mp_soap_socket);" while no socket is bound.
class SkrSocketNonSSLOutputStream : public QioOutputStream {
public:
    SkrSocketNonSSLOutputStream() : m_mp_soap_socket(nullptr) {}
    ~SkrSocketNonSSLOutputStream() override;

    void bind(SkrSocketNonSSL* socket) { m_mp_soap_socket = socket; }

    // A write of 0 bytes sends nothing; one longer than INT_MAX goes to the
    // socket in pieces of at most INT_MAX bytes.
    void write(const char* buffer, unsigned length) override;

private:
    SkrSocketNonSSL* m_mp_soap_socket;  // not owned
};

#endif
