#include "platform/httptools/HttpMsgNode.h"

#include "platform/core/VexFileLocation.h"
#include "platform/core/VexIllegalStateError.h"
#include "platform/core/VexThreadSpare.h"
#include "platform/streams/QioOutputStream.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

// A gathered buffer is written once it holds this much.
const std::size_t GATHER_LIMIT = 64 * 1024;
// Chunks at least this large are written from the caller's bytes.
const unsigned DIRECT_CHUNK = 32 * 1024;
// Room for a usual head and a first body piece, taken once instead of growing
// a character at a time.
const std::size_t HEAD_ROOM = 256;
const std::size_t BODY_ROOM = 4096;
// Room kept in front of a length-delimited body for the head, written there
// once the length is known.
const std::size_t HEAD_GAP = 1024;
// The largest buffers a node gives back to its thread's spare.
const std::size_t KEEP_HEAD = 8 * 1024;
const std::size_t KEEP_BODY = 128 * 1024;

// Moves the start line, appended at `at`, in front of the header lines given before it.
void putStartLine(std::string& head, std::size_t at)
{
    std::rotate(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(at), head.end());
}

}  // namespace

HttpMsgNode::HttpMsgNode(QioOutputStream* out, int chunkSize)
    : m_buffers(VexThreadSpare<Buffers>::take()),
      m_head(m_buffers->head),
      m_out(out),
      m_chunkSize(chunkSize > 0 ? chunkSize : 0),
      m_gather(m_buffers->gather),
      m_chunk(m_buffers->chunk),
      m_body(m_buffers->body)
{
    if (m_head.capacity() < HEAD_ROOM)
        m_head.reserve(HEAD_ROOM);
}

HttpMsgNode::~HttpMsgNode()
{
    // What a thread keeps between messages stays bounded: a message larger
    // than the gather limit frees its storage.
    Buffers& b = *m_buffers;
    if (b.head.capacity() > KEEP_HEAD || b.gather.capacity() > KEEP_BODY || b.chunk.capacity() > KEEP_BODY ||
        b.body.capacity() > KEEP_BODY)
        return;
    b.head.clear();
    b.gather.clear();
    b.chunk.clear();
    b.body.clear();
    VexThreadSpare<Buffers>::give(std::move(m_buffers));
}

void HttpMsgNode::checkOpen(const char* function) const
{
    if (m_ended)
        VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, function, "VEX_THROW");
}

void HttpMsgNode::appendHeaderLine(std::string& out, const char* name, const char* value)
{
    std::size_t at = out.size();
    out += name ? name : "";
    out += ": ";
    out += value ? value : "";
    for (std::size_t i = at; i < out.size(); ++i)
        if (out[i] == '\r' || out[i] == '\n')
            out[i] = ' ';
    out += "\r\n";
}

void HttpMsgNode::startRequest(const char* path, int method)
{
    checkOpen("HttpMsgNode::startRequest - the message was already ended");
    if (m_headSent || m_hasStartLine)
        VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, "HttpMsgNode::startRequest - the start line was already given", "VEX_THROW");
    const std::size_t given = m_head.size();  // header lines given before the start line
    m_head += method == 1 ? "GET " : "POST ";
    // The path is one token of the line: blanks and line ends are escaped.
    for (const char* p = (path && *path) ? path : "/"; *p; ++p) {
        switch (*p) {
        case ' ': m_head += "%20"; break;
        case '\t': m_head += "%09"; break;
        case '\r': m_head += "%0D"; break;
        case '\n': m_head += "%0A"; break;
        default: m_head += *p; break;
        }
    }
    m_head += " HTTP/1.1\r\n";
    putStartLine(m_head, given);
    m_hasStartLine = true;
}

void HttpMsgNode::startResponse(int code, const char* reason)
{
    checkOpen("HttpMsgNode::startResponse - the message was already ended");
    if (m_headSent || m_hasStartLine)
        VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, "HttpMsgNode::startResponse - the start line was already given", "VEX_THROW");
    char num[16];
    std::snprintf(num, sizeof num, "%d", code);
    const std::size_t given = m_head.size();  // header lines given before the start line
    m_head += "HTTP/1.1 ";
    m_head += num;
    m_head += ' ';
    std::size_t at = m_head.size();
    m_head += reason ? reason : "";
    for (std::size_t i = at; i < m_head.size(); ++i)
        if (m_head[i] == '\r' || m_head[i] == '\n')
            m_head[i] = ' ';
    m_head += "\r\n";
    putStartLine(m_head, given);
    m_hasStartLine = true;
}

void HttpMsgNode::setHeader(const char* name, const char* value)
{
    checkOpen("HttpMsgNode::setHeader - the message was already ended");
    if (m_headSent)
        VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, "HttpMsgNode::setHeader - the head was already sent", "VEX_THROW");
    appendHeaderLine(m_head, name, value);
}

void HttpMsgNode::setHeader(const char* name, int value)
{
    char num[16];
    std::snprintf(num, sizeof num, "%d", value);
    setHeader(name, num);
}

void HttpMsgNode::addOwnHeaders(std::string&) {}

void HttpMsgNode::sendHead(unsigned long long contentLength, bool chunked)
{
    if (!m_hasStartLine)
        VexIllegalStateError(0, nullptr).hurl(VEX_LOCATION, "HttpMsgNode::end - the message has no start line", "VEX_THROW");
    // Room for the head and its framing lines.
    m_gather.reserve(m_gather.size() + m_head.size() + 64);
    m_gather += m_head;
    addOwnHeaders(m_gather);
    if (chunked) {
        m_gather += "Transfer-Encoding: chunked\r\n";
    } else {
        char num[32];
        std::snprintf(num, sizeof num, "%llu", contentLength);
        m_gather += "Content-Length: ";
        m_gather += num;
        m_gather += "\r\n";
    }
    m_gather += "\r\n";
    m_headSent = true;
}

void HttpMsgNode::flush()
{
    if (m_gather.empty())
        return;
    m_out->write(m_gather.data(), static_cast<unsigned>(m_gather.size()));
    m_sent += m_gather.size();
    m_gather.clear();
}

void HttpMsgNode::emitChunk(const char* data, unsigned length)
{
    if (!m_headSent)
        sendHead(0, true);
    char size[16];
    int n = std::snprintf(size, sizeof size, "%x\r\n", length);
    // The gathered bytes stay within the limit, in storage grown once.
    std::size_t need = m_gather.size() + static_cast<std::size_t>(n) + 2 + (length < DIRECT_CHUNK ? length : 0);
    if (need > GATHER_LIMIT)
        flush();
    else if (need > m_gather.capacity())
        m_gather.reserve(GATHER_LIMIT);
    m_gather.append(size, static_cast<std::size_t>(n));
    if (length >= DIRECT_CHUNK) {
        flush();
        m_out->write(data, length);
        m_sent += length;
    } else {
        m_gather.append(data, length);
    }
    m_gather += "\r\n";
}

void HttpMsgNode::writeBody(const char* data, unsigned length)
{
    if (length == 0)
        return;
    if (m_chunkSize == 0) {
        if (m_body.empty()) {
            if (m_body.capacity() < HEAD_GAP + BODY_ROOM)
                m_body.reserve(HEAD_GAP + BODY_ROOM);
            m_body.resize(HEAD_GAP);
        }
        m_body.append(data, length);
        return;
    }
    const unsigned size = static_cast<unsigned>(m_chunkSize);
    while (length > 0) {
        if (!m_chunk.empty() || length < size) {
            unsigned take = size - static_cast<unsigned>(m_chunk.size());
            if (take > length)
                take = length;
            m_chunk.append(data, take);
            data += take;
            length -= take;
            if (m_chunk.size() == size) {
                emitChunk(m_chunk.data(), size);
                m_chunk.clear();
            }
        } else {
            emitChunk(data, size);
            data += size;
            length -= size;
        }
    }
}

void HttpMsgNode::endBody()
{
    if (m_chunkSize == 0) {
        const std::size_t length = m_body.empty() ? 0 : m_body.size() - HEAD_GAP;
        sendHead(length, false);
        if (length > 0 && m_gather.size() <= HEAD_GAP) {
            // The head goes into the room in front of the body: one write,
            // and the body is not copied again.
            char* start = &m_body[HEAD_GAP - m_gather.size()];
            std::memcpy(start, m_gather.data(), m_gather.size());
            std::size_t total = m_gather.size() + length;
            m_gather.clear();
            m_out->write(start, static_cast<unsigned>(total));
            m_sent += total;
        } else {
            flush();
            if (length > 0) {
                m_out->write(m_body.data() + HEAD_GAP, static_cast<unsigned>(length));
                m_sent += length;
            }
        }
        m_body.clear();
    } else {
        if (!m_chunk.empty()) {
            emitChunk(m_chunk.data(), static_cast<unsigned>(m_chunk.size()));
            m_chunk.clear();
        }
        if (!m_headSent)
            sendHead(0, true);
        m_gather += "0\r\n\r\n";
        flush();
    }
    m_ended = true;
}
