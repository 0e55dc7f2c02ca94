#ifndef SKARN_TEST_FAILING_INPUT_STREAM_H
#define SKARN_TEST_FAILING_INPUT_STREAM_H

#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexFileLocation.h"
#include "platform/streams/QioIOTimeoutException.h"
#include "platform/streams/QioInputStream.h"

#include <cstring>
#include <string>

// Delivers `data` (at most `maxRead` bytes per block read, 0: no cap), then,
// instead of reporting its end, raises QioIOTimeoutException(0) as a socket
// stream does when its time limit passes.
class FailingInputStream : public QioInputStream {
public:
    explicit FailingInputStream(std::string data, unsigned maxRead = 0) : m_data(std::move(data)), m_maxRead(maxRead) {}

    int read() override
    {
        if (m_pos >= m_data.size())
            fail();
        return static_cast<unsigned char>(m_data[m_pos++]);
    }
    unsigned read(char* buffer, unsigned length) override
    {
        if (length == 0)
            return 0;
        if (m_pos >= m_data.size())
            fail();
        std::size_t n = m_data.size() - m_pos;
        if (n > length)
            n = length;
        if (m_maxRead && n > m_maxRead)
            n = m_maxRead;
        std::memcpy(buffer, m_data.data() + m_pos, n);
        m_pos += n;
        return static_cast<unsigned>(n);
    }
    unsigned read(VexByteBuffer& buffer, unsigned length) override
    {
        std::string tmp(length, '\0');
        unsigned n = read(&tmp[0], length);
        buffer.append(tmp.data(), n);
        return n;
    }

private:
    [[noreturn]] static void fail()
    {
        QioIOTimeoutException(0).hurl(VexFileLocation("FailingInputStream", 0), "FailingInputStream::read", "VEX_THROW");
    }

    std::string m_data;
    std::size_t m_pos = 0;
    unsigned m_maxRead;
};

#endif
