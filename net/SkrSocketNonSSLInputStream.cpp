#include "net/SkrSocketNonSSLInputStream.h"

#include "net/SkrSocketNonSSL.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexMacros.h"

#include <cstddef>

SkrSocketNonSSLInputStream::~SkrSocketNonSSLInputStream() { m_mp_soap_socket = nullptr; }

int SkrSocketNonSSLInputStream::read()
{
    VEX_ASSERT(m_mp_soap_socket);
    char c = 0;
    int n = 0;
    beginRead();
    m_mp_soap_socket->ReadBuffer(&c, 1, &n);
    return n == 1 ? static_cast<unsigned char>(c) : -1;
}

unsigned SkrSocketNonSSLInputStream::read(char* buffer, unsigned length)
{
    VEX_ASSERT(m_mp_soap_socket);
    if (length == 0)
        return 0;
    int n = 0;
    beginRead();
    m_mp_soap_socket->ReadBuffer(buffer, length, &n);
    return n == 0 ? END : static_cast<unsigned>(n);
}

unsigned SkrSocketNonSSLInputStream::read(VexByteBuffer& buffer, unsigned length)
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

void SkrSocketNonSSLInputStream::close()
{
    VEX_ASSERT(m_mp_soap_socket);
    m_mp_soap_socket->Close();
}

SkarnSocket* SkrSocketNonSSLInputStream::getSocket()
{
    VEX_ASSERT(m_mp_soap_socket != NULL);
    return m_mp_soap_socket;
}
