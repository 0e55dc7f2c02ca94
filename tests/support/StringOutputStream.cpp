#include "support/StringOutputStream.h"

#include "platform/core/VexFileLocation.h"
#include "platform/streams/QioIOException.h"

void StringOutputStream::write(const char* bytes, unsigned length)
{
    if (m_failAt && m_writes.size() + 1 == m_failAt) {
        m_writes.push_back(0);
        QioIOException(QioIOException::errTruncated, "write refused").hurl(VEX_LOCATION, "StringOutputStream::write", "VEX_THROW");
    }
    m_writes.push_back(length);
    m_data.append(bytes, length);
}
