#ifndef SKARN_TEST_VIEW_INPUT_STREAM_H
#define SKARN_TEST_VIEW_INPUT_STREAM_H

#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioInputStream.h"

#include <cstring>
#include <string>

// A stream over bytes that the caller keeps alive, without copying them (for
// benchmarks, where a copy of the input per iteration would be measured too).
// `maxRead` caps what one block read delivers (1 feeds a parser byte by byte);
// 0 means no cap.
class ViewInputStream : public QioInputStream {
public:
    ViewInputStream(const char* data, std::size_t size, unsigned maxRead = 0) : m_data(data), m_size(size), m_maxRead(maxRead) {}
    explicit ViewInputStream(const std::string& s) : ViewInputStream(s.data(), s.size()) {}

    int read() override { return m_pos < m_size ? static_cast<unsigned char>(m_data[m_pos++]) : -1; }
    unsigned read(char* buffer, unsigned length) override
    {
        const unsigned n = next(length);
        if (n && n != END)
            std::memcpy(buffer, m_data + m_pos - n, n);
        return n;
    }
    // Through read(char*), so that a subclass's read(char*) serves both.
    unsigned read(VexByteBuffer& buffer, unsigned length) override
    {
        if (length == 0)
            return 0;
        const unsigned n = read(buffer.reserveTail(length), length);
        buffer.commit(n == END ? 0 : n);
        return n;
    }

protected:
    const char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;

private:
    // Takes the next block of at most `length` bytes: its size, or END.
    unsigned next(unsigned length)
    {
        if (length == 0)
            return 0;
        if (m_pos >= m_size)
            return END;
        std::size_t n = m_size - m_pos;
        if (n > length)
            n = length;
        if (m_maxRead && n > m_maxRead)
            n = m_maxRead;
        m_pos += n;
        return static_cast<unsigned>(n);
    }

    unsigned m_maxRead;
};

#endif
