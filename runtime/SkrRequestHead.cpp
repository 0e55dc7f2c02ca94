#include "runtime/SkrRequestHead.h"

#include <strings.h>

#include <cstring>

namespace {

// RFC 7230 token characters: method and field names.
bool isTokenChar(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')
        return true;
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isToken(const char* text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i)
        if (!isTokenChar(static_cast<unsigned char>(text[i])))
            return false;
    return length > 0;
}

void trim(const char*& text, std::size_t& length)
{
    while (length > 0 && (*text == ' ' || *text == '\t')) {
        ++text;
        --length;
    }
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t'))
        --length;
}

bool named(const char* name, std::size_t length, const char* expected)
{
    return std::strlen(expected) == length && ::strncasecmp(name, expected, length) == 0;
}

// Calls `each` with every comma-separated element, trimmed; stops when it answers false.
template <typename Each>
bool forEachElement(const char* value, std::size_t length, Each each)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i <= length; ++i) {
        if (i < length && value[i] != ',')
            continue;
        const char* element = value + start;
        std::size_t size = i - start;
        trim(element, size);
        if (!each(element, size))
            return false;
        start = i + 1;
    }
    return true;
}

struct Reason {
    int status;
    const char* phrase;
    const char* body;
};

const Reason kReasons[] = {
    {200, "OK", "ok\n"},
    {400, "Bad Request", "bad request head or framing\n"},
    {405, "Method Not Allowed", "only POST carries a SOAP request\n"},
    {408, "Request Timeout", "the request did not arrive in time\n"},
    {411, "Length Required", "a POST needs Content-Length or chunked framing\n"},
    {413, "Payload Too Large", "the request body is larger than the limit\n"},
    {431, "Request Header Fields Too Large", "the request head is larger than the limit\n"},
    {505, "HTTP Version Not Supported", "only HTTP/1.0 and HTTP/1.1 are served\n"},
};

// A handler's failure before it answered: a SOAP 1.1 Server fault.
const char kServerFault[] =
    "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><soap:Fault>"
    "<faultcode>soap:Server</faultcode><faultstring>the service failed</faultstring>"
    "</soap:Fault></soap:Body></soap:Envelope>";

}  // namespace

SkrRequestHead::Verdict SkrRequestHead::examine(const char* data, std::size_t size, const Rules& rules)
{
    *this = SkrRequestHead();
    std::size_t pos = 0;
    while (pos < size && (data[pos] == '\r' || data[pos] == '\n'))
        ++pos;  // empty lines before the request line
    bool first = true;
    for (;;) {
        const char* end = static_cast<const char*>(std::memchr(data + pos, '\n', size - pos));
        if (!end)
            return size > rules.headLimit ? fail(431) : Incomplete;
        const std::size_t next = static_cast<std::size_t>(end - data) + 1;
        if (next > rules.headLimit)
            return fail(431);
        std::size_t length = next - 1 - pos;
        if (length > 0 && data[pos + length - 1] == '\r')
            --length;
        const char* line = data + pos;
        pos = next;
        if (first) {
            first = false;
            if (requestLine(line, length) == Answer)
                return Answer;
            continue;
        }
        if (length == 0)
            break;
        if (field(line, length) == Answer)
            return Answer;
    }
    m_headLength = pos;
    m_keepAlive = !m_close && (m_keepAlive || !m_http10);

    const bool hasBody = m_transferEncoding || m_contentLength > 0;
    if (m_transferEncoding && (m_contentLength >= 0 || !m_chunked))
        return fail(400);
    if (m_method == "GET" || m_method == "HEAD") {
        if (hasBody)
            m_keepAlive = false;  // the body is not read: the connection ends after the answer
        const std::size_t query = m_path.find('?');
        return fail(m_path.compare(0, query, *rules.healthPath) == 0 ? 200 : 405);
    }
    if (m_method != "POST") {
        if (hasBody)
            m_keepAlive = false;
        return fail(405);
    }
    if (!m_transferEncoding && m_contentLength < 0)
        return fail(411);
    if (m_contentLength > rules.maxBody)
        return fail(413);
    return Dispatch;
}

SkrRequestHead::Verdict SkrRequestHead::requestLine(const char* line, std::size_t length)
{
    const char* sp1 = static_cast<const char*>(std::memchr(line, ' ', length));
    if (!sp1 || !isToken(line, static_cast<std::size_t>(sp1 - line)))
        return fail(400);
    const char* target = sp1 + 1;
    const char* sp2 = static_cast<const char*>(std::memchr(target, ' ', length - static_cast<std::size_t>(target - line)));
    if (!sp2 || sp2 == target)
        return fail(400);
    // Kept before the checks below, so that an access log can show what was refused.
    m_method.assign(line, static_cast<std::size_t>(sp1 - line));
    m_path.assign(target, static_cast<std::size_t>(sp2 - target));
    for (const char* c = target; c < sp2; ++c)
        if (static_cast<unsigned char>(*c) <= 0x20 || *c == 0x7F)
            return fail(400);
    const char* version = sp2 + 1;
    const std::size_t versionLength = length - static_cast<std::size_t>(version - line);
    if (versionLength != 8 || std::strncmp(version, "HTTP/", 5) != 0 || version[6] != '.' ||
        version[5] < '0' || version[5] > '9' || version[7] < '0' || version[7] > '9')
        return fail(400);
    if (version[5] != '1' || (version[7] != '0' && version[7] != '1'))
        return fail(505);
    m_http10 = version[7] == '0';
    return Incomplete;
}

SkrRequestHead::Verdict SkrRequestHead::field(const char* line, std::size_t length)
{
    const char* colon = static_cast<const char*>(std::memchr(line, ':', length));
    // A folded line (leading white space) or white space before the colon is refused.
    if (!colon || !isToken(line, static_cast<std::size_t>(colon - line)))
        return fail(400);
    const std::size_t nameLength = static_cast<std::size_t>(colon - line);
    const char* value = colon + 1;
    std::size_t valueLength = length - nameLength - 1;
    trim(value, valueLength);
    if (named(line, nameLength, "content-length")) {
        const bool agreed = forEachElement(value, valueLength, [this](const char* e, std::size_t n) {
            if (n == 0 || n > 18)
                return false;
            long long v = 0;
            for (std::size_t i = 0; i < n; ++i) {
                if (e[i] < '0' || e[i] > '9')
                    return false;
                v = v * 10 + (e[i] - '0');
            }
            if (m_contentLength >= 0 && v != m_contentLength)
                return false;
            m_contentLength = v;
            return true;
        });
        return agreed ? Incomplete : fail(400);
    }
    if (named(line, nameLength, "transfer-encoding")) {
        m_transferEncoding = true;
        forEachElement(value, valueLength, [this](const char* e, std::size_t n) {
            m_chunked = named(e, n, "chunked");  // the last coding decides
            return true;
        });
    } else if (named(line, nameLength, "connection")) {
        forEachElement(value, valueLength, [this](const char* e, std::size_t n) {
            if (named(e, n, "close"))
                m_close = true;
            else if (named(e, n, "keep-alive"))
                m_keepAlive = true;
            return true;
        });
    } else if (named(line, nameLength, "expect")) {
        m_expectContinue = named(value, valueLength, "100-continue");
    }
    return Incomplete;
}

std::size_t SkrRequestHead::findEnd(const char* data, std::size_t size, std::size_t from)
{
    for (std::size_t i = from; i < size;) {
        const char* nl = static_cast<const char*>(std::memchr(data + i, '\n', size - i));
        if (!nl)
            return std::string::npos;
        const std::size_t at = static_cast<std::size_t>(nl - data);
        if (at + 1 < size && data[at + 1] == '\n')
            return at + 2;
        if (at + 2 < size && data[at + 1] == '\r' && data[at + 2] == '\n')
            return at + 3;
        i = at + 1;
    }
    return std::string::npos;
}

std::string SkrRequestHead::answer(int status, bool close, bool headOnly)
{
    const char* phrase = "Internal Server Error";
    const char* type = "text/xml; charset=UTF-8";
    const char* body = kServerFault;
    for (const Reason& r : kReasons)
        if (r.status == status) {
            phrase = r.phrase;
            body = r.body;
            type = "text/plain; charset=UTF-8";
        }
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + phrase + "\r\nContent-Type: " + type +
                       "\r\nContent-Length: " + std::to_string(std::strlen(body)) + "\r\n";
    if (status == 405)
        text += "Allow: POST\r\n";
    if (close)
        text += "Connection: close\r\n";
    text += "\r\n";
    if (!headOnly)
        text += body;
    return text;
}
