#ifndef SKARN_FUZZ_STREAM_H
#define SKARN_FUZZ_STREAM_H

#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioInputStream.h"

#include <cstring>
#include <string>

// The fuzzer's bytes as a body or socket stream: block reads deliver at most
// `chunk` bytes (0: no cap), and unread is accepted.
class FuzzStream : public QioInputStream {
public:
    FuzzStream(const unsigned char* data, std::size_t size, unsigned chunk)
        : m_data(reinterpret_cast<const char*>(data), size), m_chunk(chunk)
    {
    }
    int read() override { return m_pos < m_data.size() ? static_cast<unsigned char>(m_data[m_pos++]) : -1; }
    unsigned read(char* buf, unsigned len) override
    {
        if (len == 0)
            return 0;
        if (m_pos >= m_data.size())
            return END;
        std::size_t n = m_data.size() - m_pos;
        if (n > len)
            n = len;
        if (m_chunk && n > m_chunk)
            n = m_chunk;
        std::memcpy(buf, m_data.data() + m_pos, n);
        m_pos += n;
        return static_cast<unsigned>(n);
    }
    unsigned read(VexByteBuffer& buf, unsigned len) override
    {
        char tmp[4096];
        unsigned n = read(tmp, len < sizeof tmp ? len : static_cast<unsigned>(sizeof tmp));
        if (n != END)
            buf.append(tmp, n);
        return n;
    }
    int canUnread() override { return 1; }
    void unread(const char* bytes, unsigned len) override { m_data.insert(m_pos, bytes, len); }

private:
    std::string m_data;
    std::size_t m_pos = 0;
    unsigned m_chunk;
};

#endif
