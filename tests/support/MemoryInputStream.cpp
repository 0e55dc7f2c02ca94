#include "support/MemoryInputStream.h"

#include "platform/core/VexByteBuffer.h"

#include <cstring>

int MemoryInputStream::read()
{
    ++m_reads;
    if (m_pos >= m_data.size())
        return -1;
    return static_cast<unsigned char>(m_data[m_pos++]);
}

unsigned MemoryInputStream::read(char* buffer, unsigned length)
{
    if (length == 0)
        return 0;
    ++m_reads;
    if (m_pos >= m_data.size())
        return END;
    std::size_t n = m_data.size() - m_pos;
    if (n > length)
        n = length;
    if (m_maxRead && n > m_maxRead)
        n = m_maxRead;
    std::memcpy(buffer, m_data.data() + m_pos, n);
    m_pos += n;
    return static_cast<unsigned>(n);
}

unsigned MemoryInputStream::read(VexByteBuffer& buffer, unsigned length)
{
    std::string tmp(length, '\0');
    unsigned n = read(&tmp[0], length);
    if (n != END)
        buffer.append(tmp.data(), n);
    return n;
}

void MemoryInputStream::unread(const char* bytes, unsigned length)
{
    if (!m_unreadable)
        QioInputStream::unread(bytes, length);
    m_data.insert(m_pos, bytes, length);
}

std::string drain(QioInputStream& in, unsigned chunk)
{
    std::string out;
    std::string buf(chunk, '\0');
    for (;;) {
        unsigned n = in.read(&buf[0], chunk);
        if (n == QioInputStream::END)
            break;
        out.append(buf.data(), n);
    }
    return out;
}
