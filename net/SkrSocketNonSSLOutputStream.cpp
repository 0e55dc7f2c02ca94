#include "net/SkrSocketNonSSLOutputStream.h"

#include "net/SkrSocketNonSSL.h"
#include "platform/core/VexMacros.h"

SkrSocketNonSSLOutputStream::~SkrSocketNonSSLOutputStream() { m_mp_soap_socket = nullptr; }

void SkrSocketNonSSLOutputStream::write(const char* buffer, unsigned length)
{
    VEX_ASSERT(m_mp_soap_socket);
    if (length == 0)
        return;
    int n = 0;
    m_mp_soap_socket->WriteBuffer(buffer, length, &n);
}
