#include "BytesInputStream.h"

#include <algorithm>
#include <cstring>

int BytesInputStream::read()
{
    return m_pos < m_bytes.size() ? static_cast<unsigned char>(m_bytes[m_pos++]) : -1;
}

unsigned BytesInputStream::read(char* buffer, unsigned length)
{
    if (length == 0)
        return 0;
    if (m_pos >= m_bytes.size())
        return END;
    const std::size_t n = std::min<std::size_t>(length, m_bytes.size() - m_pos);
    std::memcpy(buffer, m_bytes.data() + m_pos, n);
    m_pos += n;
    return static_cast<unsigned>(n);
}

unsigned BytesInputStream::read(VexByteBuffer& buffer, unsigned length) { return readAppending(buffer, length); }
