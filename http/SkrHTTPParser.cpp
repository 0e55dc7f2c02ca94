#include "http/SkrHTTPParser.h"

#include "api/SkarnException.h"
#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexMacros.h"
#include "platform/core/VexUtConvert.h"
#include "platform/httptools/HTTPHeader.h"
#include "platform/httptools/HTTPMessage.h"
#include "platform/httptools/NoSuchElementExceptionST.h"
#include "platform/httptools/VexStringTokenizer.h"
#include "platform/streams/QioBufferedInputStream.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

// Raises `code` with its catalogue message and, when given, the bytes of
// `literal` as a literal text (NUL bytes of a hostile line included).
[[noreturn]] void fail(const VexFileLocation& location, const char* function, SkarnException::mirraErrorCode code,
                       const VexByteBuffer* literal)
{
    SkarnMessage message(SkarnException::messageNumberOf(code));
    SkarnException e(1, code, message);
    if (literal)
        e << VexMessageString(I18NString(literal->getData(), literal->length()));
    e.hurl(location, function, "VEX_THROW");
}

bool isEmpty(const char* value) { return value == nullptr || *value == '\0'; }

// A decimal number as atoi reads it (blanks, sign, digits), saturating
// instead of overflowing.
int toInt(const char* text)
{
    errno = 0;
    long v = std::strtol(text, nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

std::string lowered(const char* text)
{
    std::string s(text);
    VexUtConvert::strlwr(s);
    return s;
}

// The request line's first bytes: empty lines, then "POST" or "GET".
enum MethodState { LineStart, AfterCR, P, PO, POS, G, GE, MethodRead, Refused };

MethodState nextState(MethodState s, int c)
{
    switch (s) {
    case LineStart:
        if (c == '\r') return AfterCR;
        if (c == '\n') return LineStart;
        if (c == 'P') return P;
        if (c == 'G') return G;
        return Refused;
    case AfterCR: return c == '\n' ? LineStart : Refused;
    case P: return c == 'O' ? PO : Refused;
    case PO: return c == 'S' ? POS : Refused;
    case POS: return c == 'T' ? MethodRead : Refused;
    case G: return c == 'E' ? GE : Refused;
    case GE: return c == 'T' ? MethodRead : Refused;
    default: return Refused;
    }
}

std::atomic<std::size_t> headLimit{0};

const std::size_t UNLIMITED = static_cast<std::size_t>(-1);

// A header value longer than this is not kept by the thread's header object
// after its line: storage that grew for one long value is given back.
const std::size_t KEEP_HEADER = 4096;

}  // namespace

void SkrHTTPParser::setHeadLimit(std::size_t bytes) { headLimit.store(bytes); }

std::size_t SkrHTTPParser::getHeadLimit() { return headLimit.load(); }

void SkrHTTPParser::startHead()
{
    std::size_t limit = headLimit.load();
    m_headLimit = limit;
    m_headLeft = limit ? limit : UNLIMITED;
}

void SkrHTTPParser::countHead(std::size_t bytes, const char* function)
{
    if (m_headLeft == UNLIMITED)
        return;
    if (bytes > m_headLeft) {
        VexByteBuffer text(64, 64);
        text.append("the message head is longer than the limit of ");
        text.append(std::to_string(m_headLimit).c_str());
        text.append(" bytes");
        fail(VEX_LOCATION, function, SkarnException::errUnexpectedEnd, &text);
    }
    m_headLeft -= bytes;
}

int SkrHTTPParser::readHeadLine(QioBufferedInputStream* is, VexByteBuffer& line, const char* function)
{
    if (m_headLeft == UNLIMITED)
        return is->readline(line);
    // Pieces no larger than what is left of the limit (and than the reader's
    // buffer, so that giving back the bytes after the line end is a copy
    // within it): the line never holds more than the limit.
    int total = 0;
    char piece[512];
    for (;;) {
        std::size_t want = m_headLeft < sizeof piece ? m_headLeft : sizeof piece;
        if (want == 0)
            want = 1;  // one more byte: the line end, or the refusal
        unsigned got = is->read(piece, static_cast<unsigned>(want));
        if (got == QioInputStream::END || got == 0)
            return total ? total : -1;
        const void* lf = std::memchr(piece, '\n', got);
        unsigned n = lf ? static_cast<unsigned>(static_cast<const char*>(lf) - piece) + 1 : got;
        if (n < got)
            is->unread(piece + n, got - n);
        countHead(n, function);
        line.append(piece, n);
        total += static_cast<int>(n);
        if (lf)
            return total;
    }
}

SkrHTTPParser::SkrHTTPParser() : m_multipart(0), m_contentLength(0), m_chunked(0) {}

SkrHTTPParser::~SkrHTTPParser() = default;

int SkrHTTPParser::isMultipart() const { return m_multipart; }
int SkrHTTPParser::isChunked() const { return m_chunked; }
int SkrHTTPParser::getContentLength() const { return m_contentLength; }
const std::string& SkrHTTPParser::getContentID() { return m_contentID; }
const std::string& SkrHTTPParser::getContentType() { return m_contentType; }
const std::string& SkrHTTPParser::getMultipartDelimiter() { return m_delimiter; }
const SkrHTTPParser::HeaderTable& SkrHTTPParser::getHeaders() const { return m_headers; }

const char* SkrHTTPParser::getHeader(const char* name)
{
    if (!name)
        return nullptr;
    HeaderTable::const_iterator it = m_headers.find(name);
    return it == m_headers.end() ? nullptr : it->second.c_str();
}

void SkrHTTPParser::setHeader(const std::string& name, const std::string& value) { m_headers[name] = value; }

void SkrHTTPParser::setHeader(std::string&& name, std::string&& value)
{
    m_headers.insert_or_assign(std::move(name), std::move(value));
}

void SkrHTTPParser::parseRequest(QioBufferedInputStream* is)
{
    VEX_ASSERT(is);
    m_multipart = 0;
    m_contentLength = 0;
    m_chunked = 0;
    startHead();
    VexByteBuffer line(256, 256);

    MethodState state = LineStart;
    while (state != MethodRead) {
        int c = is->read();
        if (c < 0)
            fail(VEX_LOCATION, "SkrHTTPParser::parseRequest", SkarnException::errUnexpectedEnd, nullptr);
        countHead(1, "SkrHTTPParser::parseRequest");
        if (state == LineStart)
            line.reset();
        line.append(static_cast<char>(c));
        state = nextState(state, c);
        if (state == Refused) {
            // Show the peer's bytes around the refusal: up to 21 more of them.
            for (int i = 0; i < 21; ++i) {
                int more = is->read();
                if (more < 0)
                    break;
                line.append(static_cast<char>(more));
            }
            line.append("...");
            fail(VEX_LOCATION, "SkrHTTPParser::parseRequest", SkarnException::errBadMethod, &line);
        }
    }
    if (readHeadLine(is, line, "SkrHTTPParser::parseRequest") < 0)
        fail(VEX_LOCATION, "SkrHTTPParser::parseRequest", SkarnException::errUnexpectedEnd, nullptr);
    line.trim();
    validateRequestLine(line);
    processHeaders(is, 1);
}

void SkrHTTPParser::validateRequestLine(VexByteBuffer& line)
{
    VexStringTokenizer tokens(line.getData(), " \t", 0);
    try {
        std::string method = tokens.nextToken();
        if (method != "POST" && method != "GET")
            fail(VEX_LOCATION, "SkrHTTPParser::validateRequestLine", SkarnException::errBadMethod, &line);
        setHeader("skarn-method", method);
        setHeader(std::string("skarn-uri"), tokens.nextToken());
        std::string version = tokens.nextToken();
        if (version != "HTTP/1.1" && version != "HTTP/1.0")
            fail(VEX_LOCATION, "SkrHTTPParser::validateRequestLine", SkarnException::errBadHttpVersion, &line);
        setHeader("skarn-http-version", version);
    } catch (NoSuchElementExceptionST&) {
        fail(VEX_LOCATION, "SkrHTTPParser::validateRequestLine", SkarnException::errBadRequestLine, &line);
    }
}

void SkrHTTPParser::parseResponse(QioBufferedInputStream* is)
{
    VEX_ASSERT(is);
    m_multipart = 0;
    m_contentLength = 0;
    m_chunked = 0;
    startHead();
    VexByteBuffer line(256, 256);
    for (;;) {
        line.reset();
        if (readHeadLine(is, line, "SkrHTTPParser::parseResponse") < 0)
            fail(VEX_LOCATION, "SkrHTTPParser::parseResponse", SkarnException::errUnexpectedEnd, nullptr);
        line.trim();
        if (line.length() == 0)
            continue;
        int status = validateResponseLine(line);
        // An interim 100 response: its headers are read and passed over.
        processHeaders(is, status == 100 ? 0 : 1);
        if (status != 100)
            return;
    }
}

int SkrHTTPParser::validateResponseLine(VexByteBuffer& line)
{
    VexStringTokenizer tokens(line.getData(), " \t", 0);
    try {
        std::string version = tokens.nextToken();
        if (version != "HTTP/1.1" && version != "HTTP/1.0")
            fail(VEX_LOCATION, "SkrHTTPParser::validateResponseLine", SkarnException::errBadHttpVersion, &line);
        setHeader("skarn-http-version", version);
        std::string status = tokens.nextToken();
        setHeader("skarn-status-code", status);
        setHeader(std::string("skarn-reason-phrase"), tokens.theRest());
        return toInt(status.c_str());
    } catch (NoSuchElementExceptionST&) {
        fail(VEX_LOCATION, "SkrHTTPParser::validateResponseLine", SkarnException::errBadStatusLine, &line);
    }
}

void SkrHTTPParser::processHeaders(QioBufferedInputStream* is, int process)
{
    VEX_ASSERT(is);
    VexByteBuffer line(256, 256);
    for (;;) {
        line.reset();
        if (readHeadLine(is, line, "SkrHTTPParser::processHeaders") < 0)
            fail(VEX_LOCATION, "SkrHTTPParser::processHeaders", SkarnException::errUnexpectedEnd, nullptr);
        line.trim();
        if (line.length() == 0)
            return;
        if (process)
            processHeader(line);
    }
}

void SkrHTTPParser::processHeader(VexByteBuffer& line)
{
    const char* text = line.getData();
    const char* colon = static_cast<const char*>(std::memchr(text, ':', line.length()));
    if (!colon)
        return;
    std::string name(text, static_cast<std::size_t>(colon - text));
    HTTPMessage::trim(name);
    VexUtConvert::strlwr(name);

    // One header object per thread, reused: parse() replaces its content and
    // keeps the storage, so a head costs no allocation per header here.
    static thread_local HTTPHeader header;
    struct Shrink {
        std::size_t length;
        ~Shrink()
        {
            // A new object: assigning one would keep the grown storage.
            if (length > KEEP_HEADER) {
                header.~HTTPHeader();
                new (&header) HTTPHeader();
            }
        }
    } shrink{line.length()};
    header.parse(colon + 1);
    const char* value = header.getValue();

    // The four names with checks; the length test keeps the other headers cheap.
    const std::size_t n = name.size();
    if (n == 12 && name == "content-type") {
        if (isEmpty(value))
            fail(VEX_LOCATION, "SkrHTTPParser::processHeader", SkarnException::errBadContentType, &line);
        m_contentType = value;
        if (lowered(value).compare(0, 10, "multipart/") == 0) {
            const char* boundary = header.getAttribute("boundary");
            if (isEmpty(boundary))
                fail(VEX_LOCATION, "SkrHTTPParser::processHeader", SkarnException::errBadBoundary, &line);
            std::size_t length = std::strlen(boundary);
            bool quoted = boundary[0] == '"' && boundary[length - 1] == '"';
            if (length > 72 || (length > 70 && !quoted))
                fail(VEX_LOCATION, "SkrHTTPParser::processHeader", SkarnException::errBadBoundary, &line);
            m_delimiter = boundary;
            m_multipart = 1;
        }
    } else if (n == 10 && name == "content-id") {
        if (isEmpty(value))
            fail(VEX_LOCATION, "SkrHTTPParser::processHeader", SkarnException::errBadContentId, &line);
        m_contentID = value;
    } else if (n == 14 && name == "content-length") {
        if (isEmpty(value) || toInt(value) <= 0)
            fail(VEX_LOCATION, "SkrHTTPParser::processHeader", SkarnException::errBadContentLength, &line);
        m_contentLength = toInt(value);
    } else if (n == 17 && name == "transfer-encoding") {
        if (isEmpty(value))
            fail(VEX_LOCATION, "SkrHTTPParser::processHeader", SkarnException::errBadTransferEncoding, &line);
        m_chunked = lowered(value) == "chunked" ? 1 : 0;
    }

    // The value in normal form, re-serialised straight into the string the table keeps.
    std::string dumped;
    header.dump(dumped);
    setHeader(std::move(name), std::move(dumped));
}

void SkrHTTPParser::parseBodyPart(QioBufferedInputStream* is)
{
    m_contentType.clear();
    m_delimiter.clear();
    m_contentID.clear();
    m_multipart = 0;
    m_contentLength = 0;
    m_chunked = 0;
    m_headers.clear();
    m_headLeft = UNLIMITED;
    processHeaders(is, 1);
}
