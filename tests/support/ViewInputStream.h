#ifndef SKARN_TEST_VIEW_INPUT_STREAM_H
#define SKARN_TEST_VIEW_INPUT_STREAM_H

#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioInputStream.h"

#include <cstring>
#include <string>

// A stream over bytes that the caller keeps alive, without copying them: for
// benchmarks, where a copy of the input per iteration would be measured too.
class ViewInputStream : public QioInputStream {
public:
    ViewInputStream(const char* data, std::size_t size) : m_data(data), m_size(size) {}
    explicit ViewInputStream(const std::string& s) : m_data(s.data()), m_size(s.size()) {}

    int read() override { return m_pos < m_size ? static_cast<unsigned char>(m_data[m_pos++]) : -1; }
    unsigned read(char* buffer, unsigned length) override
    {
        if (length == 0)
            return 0;
        if (m_pos >= m_size)
            return END;
        std::size_t n = m_size - m_pos;
        if (n > length)
            n = length;
        std::memcpy(buffer, m_data + m_pos, n);
        m_pos += n;
        return static_cast<unsigned>(n);
    }
    unsigned read(VexByteBuffer& buffer, unsigned length) override
    {
        if (length == 0)
            return 0;
        if (m_pos >= m_size)
            return END;
        std::size_t n = m_size - m_pos;
        if (n > length)
            n = length;
        buffer.append(m_data + m_pos, static_cast<unsigned>(n));
        m_pos += n;
        return static_cast<unsigned>(n);
    }

private:
    const char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

#endif
