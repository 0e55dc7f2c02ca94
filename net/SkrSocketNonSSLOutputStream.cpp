#include "net/SkrSocketNonSSLOutputStream.h"

#include "net/SkrSocketNonSSL.h"
#include "platform/core/VexMacros.h"

#include <climits>

SkrSocketNonSSLOutputStream::~SkrSocketNonSSLOutputStream() { m_mp_soap_socket = nullptr; }

void SkrSocketNonSSLOutputStream::write(const char* buffer, unsigned length)
{
    VEX_ASSERT(m_mp_soap_socket);
    // The socket counts a write in an int: hand it longer writes in pieces.
    const unsigned piece = static_cast<unsigned>(INT_MAX);
    while (length > 0) {
        const unsigned now = length > piece ? piece : length;
        int n = 0;
        m_mp_soap_socket->WriteBuffer(buffer, now, &n);
        buffer += now;
        length -= now;
    }
}
