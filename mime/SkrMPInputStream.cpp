#include "mime/SkrMPInputStream.h"

#include "api/SkarnException.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexDowncastSize.h"
#include "platform/core/VexGuard.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexMacros.h"

#include <cstdlib>
#include <cstring>

SkrMPInputStream::SkrMPInputStream(QioInputStream& body, const std::string& boundary)
    : QioBufferedInputStream(0), m_inputEnded(0), m_buffer(nullptr), m_partDone(0), m_eob(0), m_limit(0),
      m_take(0), m_body(body)
{
    // Time-out, cancel and close pass to the body stream.
    m_in = &body;
    VEX_GUARDED("SkrMPInputStream::SkrMPInputStream", {
        m_delimiter.reserve(boundary.size() + 4);
        for (char c : boundary)
            if (c != '"')
                m_delimiter += c;
        if (m_delimiter.compare(0, 4, "\r\n--") != 0)
            m_delimiter.insert(0, "\r\n--");
        m_scanner.setPattern(m_delimiter);
        // Last, so that nothing can fail after it and leak it.
        m_buffer = static_cast<char*>(std::malloc(BUFFER_SIZE));
        if (!m_buffer)
            VexOutOfMemoryError(0, nullptr).hurl(VEX_LOCATION, nullptr, "VEX_THROW");
    });
}

SkrMPInputStream::~SkrMPInputStream()
{
    std::free(m_buffer);
    m_buffer = nullptr;
    m_in = nullptr;
    m_scanner.reset();
}

void SkrMPInputStream::readMore()
{
    if (m_take > 0) {
        VEX_ASSERT(m_take <= m_eob);
        std::memmove(m_buffer, m_buffer + m_take, static_cast<std::size_t>(m_eob - m_take));
        m_eob -= m_take;
        m_limit -= m_take;
        m_take = 0;
    }
    const int wanted = static_cast<int>(m_delimiter.size()) + 2;
    while (m_eob < wanted) {
        unsigned n = m_body.read(m_buffer + m_eob, static_cast<unsigned>(BUFFER_SIZE - m_eob));
        // A read of nothing would repeat forever; it counts as the end.
        if (n == END || n == 0) {
            m_inputEnded = 1;
            break;
        }
        if (n > static_cast<unsigned>(BUFFER_SIZE - m_eob))
            n = static_cast<unsigned>(BUFFER_SIZE - m_eob);
        m_eob += static_cast<int>(n);
    }
    if (m_eob < wanted)
        SkarnException::raise(VEX_LOCATION, "SkrMPInputStream::readMore", SkarnException::errMultipartStructure);
    if (!m_scanner.isFound())
        m_limit = m_scanner.scan(m_buffer, m_limit, m_eob);
}

bool SkrMPInputStream::partDataReady()
{
    if (m_take < m_limit)
        return true;
    if (m_scanner.isFound()) {
        m_partDone = 1;
        return false;
    }
    readMore();
    if (m_take < m_limit)
        return true;
    if (!m_scanner.isFound())
        SkarnException::raise(VEX_LOCATION, "SkrMPInputStream::read", SkarnException::errMultipartStructure);
    m_partDone = 1;
    return false;
}

int SkrMPInputStream::read()
{
    if (m_take >= m_limit && !partDataReady())
        return -1;
    return static_cast<unsigned char>(m_buffer[m_take++]);
}

unsigned SkrMPInputStream::read(char* buf, unsigned len)
{
    VEX_ASSERT(buf);
    int n = VexDowncastSize<int>(len);
    if (n <= 0)
        return 0;
    if (!partDataReady())
        return END;
    int count = n < deliverable() ? n : deliverable();
    std::memcpy(buf, m_buffer + m_take, static_cast<std::size_t>(count));
    m_take += count;
    return static_cast<unsigned>(count);
}

unsigned SkrMPInputStream::read(VexByteBuffer& buf, unsigned len)
{
    int n = static_cast<int>(len);
    if (n <= 0)
        return 0;
    if (!partDataReady())
        return END;
    int count = n < deliverable() ? n : deliverable();
    buf.append(m_buffer + m_take, static_cast<unsigned>(count));
    m_take += count;
    return static_cast<unsigned>(count);
}

int SkrMPInputStream::canUnread() { return 0; }

void SkrMPInputStream::wrap(QioInputStream&)
{
    SkarnException::raise(VEX_LOCATION, "SkrMPInputStream::wrap", SkarnException::errNotSupported);
}

int SkrMPInputStream::readline(VexByteBuffer& line)
{
    int appended = 0;
    for (;;) {
        // A CR LF pair wholly inside the deliverable bytes ends the line.
        const char* from = m_buffer + m_take;
        const char* end = m_buffer + m_limit;
        for (const char* p = from; p < end;) {
            const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
            if (!cr || cr + 1 >= end)
                break;
            if (cr[1] == '\n') {
                int n = static_cast<int>(cr + 2 - from);
                line.append(from, static_cast<unsigned>(n));
                m_take += n;
                return appended + n;
            }
            p = cr + 1;
        }
        int available = deliverable();
        if (available > 0) {
            line.append(from, static_cast<unsigned>(available));
            m_take = m_limit;
            appended += available;
        } else if (m_scanner.isFound()) {
            break;
        }
        readMore();
        if (deliverable() > 0)
            continue;
        if (m_scanner.isFound())
            break;
        SkarnException::raise(VEX_LOCATION, "SkrMPInputStream::readline", SkarnException::errMultipartStructure);
    }
    m_partDone = 1;
    return 0;
}

void SkrMPInputStream::skipPart()
{
    char scratch[128];
    while (read(scratch, sizeof scratch) != END) {
    }
}

int SkrMPInputStream::hasNextPart()
{
    if (m_inputEnded)
        return 0;
    if (!m_partDone)
        skipPart();
    if (!m_scanner.isFound())
        SkarnException::raise(VEX_LOCATION, "SkrMPInputStream::hasNextPart", SkarnException::errMultipartStructure);
    const int delimiterLength = static_cast<int>(m_delimiter.size());
    if (m_eob - m_limit - delimiterLength < 2) {
        readMore();
        if (m_eob - m_limit - delimiterLength < 2)
            SkarnException::raise(VEX_LOCATION, "SkrMPInputStream::hasNextPart",
                                  SkarnException::errMultipartStructure);
    }
    const char* after = m_buffer + m_limit + delimiterLength;
    return (after[0] == '-' && after[1] == '-') ? 0 : 1;
}

int SkrMPInputStream::nextPart()
{
    const int delimiterLength = static_cast<int>(m_delimiter.size());
    // Only where hasNextPart has left the delimiter and the two bytes after it
    // in the buffer; anything else would step beyond the valid bytes.
    if (!m_scanner.isFound() || m_take != m_limit || m_eob - m_limit - delimiterLength < 2 ||
        (m_buffer[m_limit + delimiterLength] == '-' && m_buffer[m_limit + delimiterLength + 1] == '-'))
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "SkrMPInputStream::nextPart - no part follows", "VEX_THROW");
    m_take += delimiterLength + 2;
    m_partDone = 0;
    m_scanner.reset();
    m_limit = m_scanner.scan(m_buffer, m_take, m_eob);
    return m_limit;
}

void SkrMPInputStream::unWrap()
{
    if (hasNextPart())
        VexIllegalStateError(0, nullptr)
            .hurl(VEX_LOCATION, "HTTP multipart message has a not-read part - SkrMPInputStream::unWrap", "VEX_THROW");
    // The closing delimiter, "--" and the CR LF after it; what follows them
    // belongs to the body stream again.
    const int closing = m_limit + static_cast<int>(m_delimiter.size()) + 4;
    if (m_scanner.isFound() && m_eob > closing && m_body.canUnread()) {
        m_body.unread(m_buffer + closing, static_cast<unsigned>(m_eob - closing));
        m_eob = closing;
    }
    m_in = nullptr;
}
