#include "platform/streams/QioBlockInputStream.h"

#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexThreadSpare.h"
#include "platform/streams/QioIOException.h"

VEX_THREAD_RECYCLED_DEFINE(QioBlockInputStream)


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
    if (!m_pushback.empty())
        return m_pushback.takeByte();
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
    if (!m_pushback.empty())
        return m_pushback.take(buffer, length);
    if (m_remaining == 0)
        return END;
    unsigned want = static_cast<unsigned>(m_remaining) < length ? static_cast<unsigned>(m_remaining) : length;
    unsigned n = m_body.read(buffer, want);
    if (n == END || n == 0)
        truncated();
    m_remaining -= static_cast<int>(n);
    return n;
}

unsigned QioBlockInputStream::read(VexByteBuffer& buffer, unsigned length) { return readAppending(buffer, length); }

int QioBlockInputStream::canUnread() { return 1; }

void QioBlockInputStream::unread(const char* bytes, unsigned length) { m_pushback.push(bytes, length); }
