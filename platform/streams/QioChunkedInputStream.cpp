#include "platform/streams/QioChunkedInputStream.h"

#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexThreadSpare.h"
#include "platform/streams/QioIOException.h"

VEX_THREAD_RECYCLED_DEFINE(QioChunkedInputStream)


namespace {

const unsigned kMaxSizeLine = 4096;

[[noreturn]] void fail(int code, const char* text, const char* function)
{
    QioIOException(code, text).hurl(VEX_LOCATION, function, "VEX_THROW");
}

int hexValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

QioChunkedInputStream::QioChunkedInputStream(QioBufferedInputStream& in) : QioFilterInputStream(&in), m_body(in) {}

QioChunkedInputStream::~QioChunkedInputStream() = default;

void QioChunkedInputStream::readDataEnd()
{
    int c = m_body.read();
    if (c == '\r')
        c = m_body.read();
    if (c == '\n')
        return;
    if (c < 0)
        fail(QioIOException::errTruncated, "chunked body ends after chunk data", "QioChunkedInputStream::read");
    fail(QioIOException::errBadChunkEnd, "chunk data not followed by CR LF", "QioChunkedInputStream::read");
}

void QioChunkedInputStream::readSizeLine()
{
    // Size line: HEX [blanks] [; extensions] CR LF. Read byte by byte with a
    // bound, so that a hostile line can neither grow memory nor hide a size.
    unsigned long long size = 0;
    unsigned digits = 0;
    unsigned length = 0;
    bool inExtension = false;
    bool afterDigits = false;
    for (;;) {
        int c = m_body.read();
        if (c < 0)
            fail(QioIOException::errTruncated, "chunked body ends in a chunk-size line", "QioChunkedInputStream::read");
        if (++length > kMaxSizeLine)
            fail(QioIOException::errBadChunkSize, "chunk-size line too long", "QioChunkedInputStream::read");
        if (c == '\n')
            break;
        if (inExtension)
            continue;
        if (c == '\r') {
            int n = m_body.read();
            if (n == '\n')
                break;
            fail(QioIOException::errBadChunkSize, "chunk-size line with a CR not followed by LF",
                 "QioChunkedInputStream::read");
        }
        int v = hexValue(c);
        if (v >= 0 && !afterDigits) {
            if (size > (~0ULL >> 4))
                fail(QioIOException::errBadChunkSize, "chunk size too large", "QioChunkedInputStream::read");
            size = size * 16 + static_cast<unsigned>(v);
            ++digits;
            continue;
        }
        if (digits == 0)
            fail(QioIOException::errBadChunkSize, "chunk-size line without a hexadecimal size",
                 "QioChunkedInputStream::read");
        if (c == ';')
            inExtension = true;
        else if (c == ' ' || c == '\t')
            afterDigits = true;
        else
            fail(QioIOException::errBadChunkSize, "chunk-size line with a character that is not hexadecimal",
                 "QioChunkedInputStream::read");
    }
    if (digits == 0)
        fail(QioIOException::errBadChunkSize, "chunk-size line without a hexadecimal size", "QioChunkedInputStream::read");
    m_remaining = size;
    m_started = true;
    if (size == 0)
        m_finished = true;
}

bool QioChunkedInputStream::nextChunk()
{
    while (!m_finished && m_remaining == 0) {
        if (m_started)
            readDataEnd();
        readSizeLine();
    }
    return !m_finished;
}

int QioChunkedInputStream::read()
{
    if (!m_pushback.empty())
        return m_pushback.takeByte();
    if (m_remaining == 0 && !nextChunk())
        return -1;
    int c = m_body.read();
    if (c < 0)
        fail(QioIOException::errTruncated, "chunked body ends inside a chunk", "QioChunkedInputStream::read");
    --m_remaining;
    return c;
}

unsigned QioChunkedInputStream::read(char* buffer, unsigned length)
{
    if (length == 0)
        return 0;
    if (!m_pushback.empty())
        return m_pushback.take(buffer, length);
    if (m_remaining == 0 && !nextChunk())
        return END;
    unsigned want = m_remaining < length ? static_cast<unsigned>(m_remaining) : length;
    unsigned n = m_body.read(buffer, want);
    if (n == END || n == 0)
        fail(QioIOException::errTruncated, "chunked body ends inside a chunk", "QioChunkedInputStream::read");
    m_remaining -= n;
    return n;
}

unsigned QioChunkedInputStream::read(VexByteBuffer& buffer, unsigned length) { return readAppending(buffer, length); }

int QioChunkedInputStream::canUnread() { return 1; }

void QioChunkedInputStream::unread(const char* bytes, unsigned length) { m_pushback.push(bytes, length); }
