#include "platform/streams/QioBlockInputStream.h"

#include "platform/core/VexByteBuffer.h"
#include "platform/streams/QioIOException.h"

#include <cstring>

namespace {

[[noreturn]] void truncated()
{
    QioIOException(QioIOException::errTruncated, "body ends before its announced length")
        .hurl(VEX_LOCATION, "QioBlockInputStream::read", "VEX_THROW");
}

}  // namespace

QioBlockInputStream::QioBlockInputStream(QioBufferedInputStream& in) : QioFilterInputStream(&in), m_body(in) {}

QioBlockInputStream::~QioBlockInputStream() = default;

void QioBlockInputStream::setLength(int length) { m_remaining = length > 0 ? length : 0; }

int QioBlockInputStream::read()
{
    if (m_pushbackPos < m_pushback.size())
        return static_cast<unsigned char>(m_pushback[m_pushbackPos++]);
    if (m_remaining == 0)
        return -1;
    int c = m_body.read();
    if (c < 0)
        truncated();
    --m_remaining;
    return c;
}

unsigned QioBlockInputStream::read(char* buffer, unsigned length)
{
    if (length == 0)
        return 0;
    if (m_pushbackPos < m_pushback.size()) {
        std::size_t n = m_pushback.size() - m_pushbackPos;
        if (n > length)
            n = length;
        std::memcpy(buffer, m_pushback.data() + m_pushbackPos, n);
        m_pushbackPos += n;
        return static_cast<unsigned>(n);
    }
    if (m_remaining == 0)
        return END;
    unsigned want = static_cast<unsigned>(m_remaining) < length ? static_cast<unsigned>(m_remaining) : length;
    unsigned n = m_body.read(buffer, want);
    if (n == END || n == 0)
        truncated();
    m_remaining -= static_cast<int>(n);
    return n;
}

unsigned QioBlockInputStream::read(VexByteBuffer& buffer, unsigned length)
{
    if (length == 0)
        return 0;
    // Reserve no more than one read can sensibly bring, whatever the caller asks.
    if (length > 65536)
        length = 65536;
    char* tail = buffer.reserveTail(length);
    unsigned n = read(tail, length);
    if (n != END)
        buffer.commit(n);
    return n;
}

int QioBlockInputStream::canUnread() { return 1; }

void QioBlockInputStream::unread(const char* bytes, unsigned length)
{
    if (!bytes || length == 0)
        return;
    m_pushback.erase(0, m_pushbackPos);
    m_pushback.insert(0, bytes, length);
    m_pushbackPos = 0;
}
