#ifndef SKR_SOCKET_OUTPUT_STREAM_H
#define SKR_SOCKET_OUTPUT_STREAM_H

#include "platform/streams/QioOutputStream.h"

class SkrSocket;

// The output stream of a secure socket: write() hands all the bytes to the
// socket's WriteBuffer, which sends them whole or raises. flush and close do
// nothing. VexAssertError "VEX_ASSERT(m_mp_soap_socket);" while no socket is bound.
class SkrSocketOutputStream : public QioOutputStream {
public:
    SkrSocketOutputStream() : m_mp_soap_socket(nullptr) {}
    ~SkrSocketOutputStream() override;

    void bind(SkrSocket* socket) { m_mp_soap_socket = socket; }

    // A write of 0 bytes sends nothing.
    void write(const char* buffer, unsigned length) override;

private:
    SkrSocket* m_mp_soap_socket;  // not owned
};

#endif
