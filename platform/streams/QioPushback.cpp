#include "platform/streams/QioPushback.h"

#include <cstring>

unsigned QioPushback::take(char* buffer, unsigned length)
{
    std::size_t n = m_bytes.size() - m_pos;
    if (n > length)
        n = length;
    std::memcpy(buffer, m_bytes.data() + m_pos, n);
    m_pos += n;
    return static_cast<unsigned>(n);
}

void QioPushback::push(const char* bytes, unsigned length)
{
    if (!bytes || length == 0)
        return;
    m_bytes.erase(0, m_pos);
    m_bytes.insert(0, bytes, length);
    m_pos = 0;
}
