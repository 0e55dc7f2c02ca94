#include "net/SkrSocketOutputStream.h"

#include "net/SkrSocket.h"
#include "platform/core/VexMacros.h"

SkrSocketOutputStream::~SkrSocketOutputStream() { m_mp_soap_socket = nullptr; }

void SkrSocketOutputStream::write(const char* buffer, unsigned length)
{
    VEX_ASSERT(m_mp_soap_socket);
    if (length == 0)
        return;
    int n = 0;
    m_mp_soap_socket->WriteBuffer(buffer, length, &n);
}
