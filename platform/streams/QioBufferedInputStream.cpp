#include "platform/streams/QioBufferedInputStream.h"

#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexOutOfMemoryError.h"
#include "platform/core/VexThreadSpare.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

VEX_THREAD_RECYCLED_DEFINE(QioBufferedInputStream)

namespace {

char* allocate(std::size_t size)
{
    char* p = static_cast<char*>(std::malloc(size ? size : 1));
    if (!p)
        VexOutOfMemoryError(0, nullptr).hurl(VEX_LOCATION, nullptr, "VEX_THROW");
    return p;
}

// One spare buffer per thread: a stream takes the buffer that the last one
// destroyed on this thread gave back, so the messages of a keep-alive
// connection cost no allocation for it. Larger buffers are not kept, so that
// what a thread holds between messages stays bounded.
const unsigned SPARE_LIMIT = 128 * 1024;

// A buffer from allocate() and its size, freed unless released; one of no
// size (the single byte of an unbuffered stream) is not worth keeping.
class Buffer {
public:
    Buffer() = default;
    Buffer(char* data, unsigned size) : m_data(data), m_size(size) {}
    Buffer(Buffer&& other) noexcept : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}
    Buffer& operator=(Buffer&& other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        return *this;
    }
    ~Buffer() { std::free(m_data); }
    explicit operator bool() const { return m_size != 0; }
    unsigned size() const { return m_size; }
    char* release()
    {
        m_size = 0;
        return std::exchange(m_data, nullptr);
    }

private:
    char* m_data = nullptr;
    unsigned m_size = 0;
};

using Spare = VexThreadSlot<Buffer>;

// A buffer of at least `size` bytes; `got` is its actual size.
char* take(unsigned size, unsigned& got)
{
    Buffer spare = Spare::takeIf([size](const Buffer& b) { return b.size() >= size; });
    if (spare) {
        got = spare.size();
        return spare.release();
    }
    got = size;
    return allocate(size);
}

// Kept in place of a smaller spare.
void giveBack(char* buf, unsigned size)
{
    Buffer given(buf, size);
    if (size <= SPARE_LIMIT)
        Spare::giveIf(std::move(given), [](const Buffer& g, const Buffer& kept) { return g.size() > kept.size(); });
}

}  // namespace

QioBufferedInputStream::QioBufferedInputStream(QioInputStream& in, int bufferSize)
    : QioFilterInputStream(&in), m_capacity(bufferSize > 0 ? static_cast<unsigned>(bufferSize) : 0)
{
    if (m_capacity)
        m_buf = take(m_capacity, m_bufSize);
}

QioBufferedInputStream::QioBufferedInputStream(int bufferSize)
    : QioFilterInputStream(nullptr), m_capacity(bufferSize > 0 ? static_cast<unsigned>(bufferSize) : 0)
{
    if (m_capacity)
        m_buf = take(m_capacity, m_bufSize);
}

QioBufferedInputStream::~QioBufferedInputStream() { giveBack(m_buf, m_bufSize); }

bool QioBufferedInputStream::fill()
{
    if (!m_in)
        return false;
    m_pos = m_end = 0;
    if (m_capacity == 0) {
        // Unbuffered: one byte at a time keeps read-ahead at zero.
        int c = m_in->read();
        if (c < 0)
            return false;
        if (!m_buf) {
            m_buf = allocate(1);
            m_capacity = 0;
        }
        m_buf[0] = static_cast<char>(c);
        m_end = 1;
        return true;
    }
    unsigned want = m_capacity;
    if (m_readAhead > m_capacity) {
        if (m_bufSize < m_readAhead) {
            giveBack(m_buf, m_bufSize);
            m_buf = take(m_readAhead, m_bufSize);
        }
        want = m_readAhead;
    } else if (want > m_bufSize) {
        want = m_bufSize;
    }
    unsigned n = m_in->read(m_buf, want);
    if (n == END || n == 0)
        return false;
    m_end = n;
    return true;
}

int QioBufferedInputStream::read()
{
    if (m_pos == m_end && !fill())
        return -1;
    return static_cast<unsigned char>(m_buf[m_pos++]);
}

unsigned QioBufferedInputStream::read(char* buffer, unsigned length)
{
    if (length == 0)
        return 0;
    if (m_pos == m_end) {
        if (length >= m_capacity && m_capacity != 0 && m_in)
            return m_in->read(buffer, length);
        if (!fill())
            return END;
    }
    unsigned n = m_end - m_pos;
    if (n > length)
        n = length;
    std::memcpy(buffer, m_buf + m_pos, n);
    m_pos += n;
    return n;
}

unsigned QioBufferedInputStream::read(VexByteBuffer& buffer, unsigned length) { return readAppending(buffer, length); }

int QioBufferedInputStream::canUnread() { return 1; }

void QioBufferedInputStream::unread(const char* bytes, unsigned length)
{
    if (!bytes || length == 0)
        return;
    if (m_pos >= length) {
        m_pos -= length;
        std::memcpy(m_buf + m_pos, bytes, length);
        return;
    }
    unsigned rest = m_end - m_pos;
    std::size_t need = std::size_t(length) + rest;
    std::size_t size = need > m_capacity ? need : m_capacity;
    if (size < m_bufSize)
        size = m_bufSize;
    char* grown = allocate(size);
    std::memcpy(grown, bytes, length);
    if (rest)
        std::memcpy(grown + length, m_buf + m_pos, rest);
    std::free(m_buf);
    m_buf = grown;
    m_bufSize = static_cast<unsigned>(size);
    // Keep the configured capacity for refills unless the pushed-back bytes
    // needed more; a bigger buffer is harmless.
    if (m_capacity != 0)
        m_capacity = static_cast<unsigned>(size);
    m_pos = 0;
    m_end = static_cast<unsigned>(need);
}

void QioBufferedInputStream::wrap(QioInputStream& in) { m_in = &in; }

void QioBufferedInputStream::unWrap()
{
    if (m_in && m_pos < m_end && m_in->canUnread()) {
        m_in->unread(m_buf + m_pos, m_end - m_pos);
        m_pos = m_end = 0;
    }
    m_in = nullptr;
}

const char* QioBufferedInputStream::peekLine(unsigned& length)
{
    if (m_pos == m_end && !fill())
        return nullptr;
    const char* start = m_buf + m_pos;
    const void* lf = std::memchr(start, '\n', m_end - m_pos);
    if (!lf)
        return nullptr;
    length = static_cast<unsigned>(static_cast<const char*>(lf) - start) + 1;
    return start;
}

int QioBufferedInputStream::readline(VexByteBuffer& line)
{
    std::size_t appended = 0;
    for (;;) {
        if (m_pos == m_end && !fill())
            break;
        const char* start = m_buf + m_pos;
        const void* lf = std::memchr(start, '\n', m_end - m_pos);
        unsigned n = lf ? static_cast<unsigned>(static_cast<const char*>(lf) - start) + 1 : m_end - m_pos;
        line.append(start, n);
        m_pos += n;
        appended += n;
        if (lf)
            break;
    }
    if (appended == 0)
        return -1;
    return appended > INT_MAX ? INT_MAX : static_cast<int>(appended);
}
